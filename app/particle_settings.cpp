// Main window: counting mode, segmentation method, pixel size, particle size range and
// circularity filter. The line edits are the only store of the settings; a count takes them
// as one value (WindowSettings) when it starts or recounts.

#include "app/form_text.h"
#include "app/mivo_particle_stream_analysis.h"
#include "dialogs/selection_dialog.h"
#include "register/run_settings.h"
#include "ui_mivo_particle_stream_analysis.h"

#include <opencv2/core.hpp>

#include <cmath>

void CMivoParticleStreamAnalysis::slot_segOtsu_updateSegMethod()
{
    segmentationMethod = kMethodOtsu;
    ShowStatus(FormText("[Running] Segmentation method --> ") + ui->segOtsuAct->iconText());
}

void CMivoParticleStreamAnalysis::slot_segMode_updateSegMethod()
{
    segmentationMethod = kMethodModeValue;
    ShowStatus(FormText("[Running] Segmentation method --> ") + ui->segModeAct->iconText());
}

void CMivoParticleStreamAnalysis::slot_segMDiff_updateSegMethod()
{
    segmentationMethod = kMethodFrameDiff;
    ShowStatus(FormText("[Running] Segmentation method --> ") + ui->segFrameDiffAct->iconText());
}

void CMivoParticleStreamAnalysis::slot_segBackground_updateSegMethod()
{
    segmentationMethod = kMethodBackground;
    ShowStatus(FormText("[Running] Segmentation method --> ") + ui->segBackgroundAct->iconText());
}

void CMivoParticleStreamAnalysis::slot_countFoi_updateMode()
{
    SelectCountingMode(CountingMode::FramesOfInterest, ui->countFoiAct);
}

void CMivoParticleStreamAnalysis::slot_countLine_updateMode()
{
    SelectCountingMode(CountingMode::CountingLine, ui->countLineAct);
}

void CMivoParticleStreamAnalysis::SelectCountingMode(CountingMode mode, const QAction* modeAction)
{
    // Each mode starts from the method it counts best with; the user may choose another.
    countingMode = mode;
    segmentationMethod = DefaultMethod(mode);
    QAction* methodAction = segmentationMethod == kMethodBackground ? ui->segBackgroundAct : ui->segFrameDiffAct;
    methodAction->setChecked(true);
    ShowStatus(FormText("[Running] Counting mode --> ") + modeAction->iconText() +
               FormText(", segmentation method --> ") + methodAction->iconText());
}

void CMivoParticleStreamAnalysis::UpdateCalibration()
{
    const double size = ui->tf_setting_PixelSize->text().toDouble();
    calibration.pixelArea = size * size;
}

void CMivoParticleStreamAnalysis::ConvertAreaToPixels(const QLineEdit* areaField, QLineEdit* pixelField)
{
    UpdateCalibration();
    const double perPixel = calibration.pixelArea;
    // A pixel-size field that holds no number gives no pixel area: the count keeps its
    // old value instead of a division by zero.
    if (!(perPixel > 0.0))
        return;
    const double pixels = areaField->text().toDouble() / perPixel + 0.5;
    // Counts beyond int (from unconfirmed text in the fields) are not representable.
    if (!(std::fabs(pixels) < 2147483647.0))
        return;
    pixelField->setText(QString::number(int(pixels)));
}

void CMivoParticleStreamAnalysis::ConvertPixelsToArea(const QLineEdit* pixelField, QLineEdit* areaField)
{
    UpdateCalibration();
    const double perPixel = calibration.pixelArea;
    // Without a pixel size every area would read 0; keep the one shown.
    if (!(perPixel > 0.0))
        return;
    const int pixels = pixelField->text().toInt(nullptr, 10);
    areaField->setText(QString::number(pixels * perPixel, 'g', 6));
}

void CMivoParticleStreamAnalysis::slot_tf_pxlSize_editFinish()
{
    // The square-micrometre range stays as typed; the pixel range follows.
    slot_tf_minMu_editFinish();
    slot_tf_maxMu_editFinish();
}

void CMivoParticleStreamAnalysis::slot_tf_minMu_editFinish()
{
    ConvertAreaToPixels(ui->tf_setting_minMu, ui->tf_setting_minPxl);
}

void CMivoParticleStreamAnalysis::slot_tf_maxMu_editFinish()
{
    ConvertAreaToPixels(ui->tf_setting_maxMu, ui->tf_setting_maxPxl);
}

void CMivoParticleStreamAnalysis::slot_tf_minPxl_editFinish()
{
    ConvertPixelsToArea(ui->tf_setting_minPxl, ui->tf_setting_minMu);
}

void CMivoParticleStreamAnalysis::slot_tf_maxPxl_editFinish()
{
    ConvertPixelsToArea(ui->tf_setting_maxPxl, ui->tf_setting_maxMu);
}

void CMivoParticleStreamAnalysis::slot_btn_manualSelection()
{
    if (!sequenceLoaded) {
        ShowStatus(FormText("[IDLE] Please, choose the folder with image sequence files"));
        return;
    }
    // The index field reads 0, or a number of an earlier sequence, when the first frame
    // of this one could not be shown.
    const int n = CurrentFrameNumber();
    if (n < 1 || n > imageFiles.size()) {
        ShowStatus(FormText("[WARNING] Out of range"));
        return;
    }
    // Nothing to select on a frame that cannot be read (deleted or spoilt since it was
    // shown): say so instead of opening the dialog on it.
    const cv::Mat frame = ReadFrameFile(n - 1);
    if (frame.empty()) {
        ShowStatus(FormText("[WARNING] Can not read image ") + imageFiles.at(n - 1));
        return;
    }
    // Window-modal: show() returns at once and the window takes no input meanwhile.
    selectionDialog->show();
    // The dialog multiplies pixel counts by the value it is given: the area of one pixel.
    UpdateCalibration();
    selectionDialog->SetPixelSize(calibration.pixelArea);
    selectionDialog->SetImage(frame, inputPath + QLatin1Char('/') + imageFiles.at(n - 1));
}

void CMivoParticleStreamAnalysis::slot_manual_minPixel(int mmin)
{
    ui->tf_setting_minPxl->setText(QString::number(mmin));
    slot_tf_minPxl_editFinish();
}

void CMivoParticleStreamAnalysis::slot_manual_maxPixel(int mmax)
{
    ui->tf_setting_maxPxl->setText(QString::number(mmax));
    slot_tf_maxPxl_editFinish();
}

void CMivoParticleStreamAnalysis::slot_chb_report_filterByCircChecked(int /*state*/)
{
    ui->sb_report_thCirc->setEnabled(ui->chb_report_FilterByCirc->isChecked());
    RecountFoI();
}

void CMivoParticleStreamAnalysis::slot_sbD_report_valueCirc(double /*value*/)
{
    RecountFoI();
}
