// Main window: the settings remembered between sessions (QSettings under the names main
// sets): the last folder, the frame order, the pixel size and size range, the counting
// mode and method, the circularity filter, the frame rate of the velocity profile and the
// folders of the exports. Read once before the signals are connected, written when the
// window goes.

#include "app/form_text.h"
#include "app/mivo_particle_stream_analysis.h"
#include "dialogs/size_distribution_dialog.h"
#include "dialogs/velocity_profile_dialog.h"
#include "register/run_settings.h"
#include "ui_mivo_particle_stream_analysis.h"

#include <QDir>
#include <QSettings>
#include <QValidator>

#include <algorithm>

namespace {

// The text when the field's validator takes it whole, else the field keeps its own:
// a hand-edited settings file must not put a value into a field that could not hold it.
void RestoreField(QLineEdit* field, const QVariant& value)
{
    QString text = value.toString();
    int position = 0;
    if (value.isValid() && field->validator()->validate(text, position) == QValidator::Acceptable)
        field->setText(text);
}

void RestoreBox(QComboBox* box, const QVariant& data)
{
    const int index = box->findData(data);
    if (index >= 0)
        box->setCurrentIndex(index);
}

}  // namespace

void CMivoParticleStreamAnalysis::RestoreSettings()
{
    const QSettings settings;
    // Said once, at start: the settings of this session will not be there at the next.
    if (!settings.isWritable() || settings.status() != QSettings::NoError)
        ShowStatus(FormText("[WARNING] Can not save the settings in %1: they will not be remembered")
                       .arg(QDir::toNativeSeparators(settings.fileName())));
    lastFolder = settings.value(QStringLiteral("folders/input")).toString();
    figuresFolder = settings.value(QStringLiteral("folders/figures")).toString();
    dataFolder = settings.value(QStringLiteral("folders/data")).toString();
    const QString chartFolder = settings.value(QStringLiteral("folders/chart")).toString();
    if (!chartFolder.isEmpty())
        sizeDialog->SetSaveFolder(chartFolder);
    velocityDialog->SetFrameRate(std::max(0.0, settings.value(QStringLiteral("results/frameRate"), 0.0).toDouble()));

    RestoreBox(ui->cb_video_sortby, settings.value(QStringLiteral("frames/sortBy")));
    RestoreBox(ui->cb_video_order, settings.value(QStringLiteral("frames/order")));

    RestoreField(ui->tf_setting_PixelSize, settings.value(QStringLiteral("particles/pixelSize")));
    RestoreField(ui->tf_setting_minMu, settings.value(QStringLiteral("particles/minUm2")));
    RestoreField(ui->tf_setting_maxMu, settings.value(QStringLiteral("particles/maxUm2")));
    RestoreField(ui->tf_setting_minPxl, settings.value(QStringLiteral("particles/minPx")));
    RestoreField(ui->tf_setting_maxPxl, settings.value(QStringLiteral("particles/maxPx")));

    if (settings.value(QStringLiteral("counting/mode")).toString() == QLatin1String("crossing")) {
        countingMode = CountingMode::CountingLine;
        ui->countLineAct->setChecked(true);
    }
    const int method = settings.value(QStringLiteral("counting/method"), DefaultMethod(countingMode)).toInt();
    const std::pair<int, QAction*> methods[] = {{kMethodOtsu, ui->segOtsuAct},
                                                {kMethodModeValue, ui->segModeAct},
                                                {kMethodFrameDiff, ui->segFrameDiffAct},
                                                {kMethodBackground, ui->segBackgroundAct}};
    for (const auto& [number, action] : methods)
        if (number == method) {
            segmentationMethod = number;
            action->setChecked(true);
        }

    const bool filter =
        settings.value(QStringLiteral("counting/circularityFilter"), count_defaults::kCircularityFilter).toBool();
    ui->sb_report_thCirc->setValue(
        settings.value(QStringLiteral("counting/minCircularity"), count_defaults::kMinCircularity).toDouble());
    ui->chb_report_FilterByCirc->setChecked(filter);
    ui->sb_report_thCirc->setEnabled(filter);
}

void CMivoParticleStreamAnalysis::SaveSettings() const
{
    QSettings settings;
    settings.setValue(QStringLiteral("folders/input"), lastFolder);
    settings.setValue(QStringLiteral("folders/figures"), figuresFolder);
    settings.setValue(QStringLiteral("folders/data"), dataFolder);
    settings.setValue(QStringLiteral("folders/chart"), sizeDialog->SaveFolder());
    settings.setValue(QStringLiteral("results/frameRate"), velocityDialog->FrameRate());
    settings.setValue(QStringLiteral("frames/sortBy"), ui->cb_video_sortby->currentData());
    settings.setValue(QStringLiteral("frames/order"), ui->cb_video_order->currentData());
    settings.setValue(QStringLiteral("particles/pixelSize"), ui->tf_setting_PixelSize->text());
    settings.setValue(QStringLiteral("particles/minUm2"), ui->tf_setting_minMu->text());
    settings.setValue(QStringLiteral("particles/maxUm2"), ui->tf_setting_maxMu->text());
    settings.setValue(QStringLiteral("particles/minPx"), ui->tf_setting_minPxl->text());
    settings.setValue(QStringLiteral("particles/maxPx"), ui->tf_setting_maxPxl->text());
    settings.setValue(QStringLiteral("counting/mode"),
                      countingMode == CountingMode::CountingLine ? QStringLiteral("crossing") : QStringLiteral("foi"));
    settings.setValue(QStringLiteral("counting/method"), segmentationMethod);
    settings.setValue(QStringLiteral("counting/circularityFilter"), ui->chb_report_FilterByCirc->isChecked());
    settings.setValue(QStringLiteral("counting/minCircularity"), ui->sb_report_thCirc->value());
}
