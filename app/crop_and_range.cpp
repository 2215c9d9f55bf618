// Main window: crop margins and the (inert) processing range. The margins are fractions
// of the frame, hatched by the viewer while "Crop image:" is checked; they are 0 while it
// is unchecked.

#include "app/form_text.h"
#include "app/mivo_particle_stream_analysis.h"
#include "dialogs/crop_dialog.h"
#include "ui_mivo_particle_stream_analysis.h"

#include <opencv2/core.hpp>

void CMivoParticleStreamAnalysis::slot_chb_proc_cropImg()
{
    // The click has already toggled the box.
    ShowStatus(FormText("[Running] Select region of interesting."));
    const int k = CurrentFrameNumber();

    if (!ui->proc_chb_cropImg->isChecked()) {
        // Only a frame of the loaded sequence is shown again (ShowFrame refuses a stale
        // number).
        if (sequenceLoaded && k >= 1)
            ShowFrame(k - 1);
        ui->proc_tf_cropImg->clear();
        cropTop = 0.0;
        cropBottom = 0.0;
        cropLeft = 0.0;
        cropRight = 0.0;
        return;
    }

    if (!sequenceLoaded) {
        ShowStatus(FormText("[Running] No image was found, please load images before setting cropping process"));
        ui->proc_chb_cropImg->setChecked(false);
        return;
    }

    // The dialog needs a frame: the index field may still hold a number of an earlier
    // sequence, and the file may have become unreadable since it was listed.
    if (k < 1 || k > imageFiles.size()) {
        ShowStatus(FormText("[WARNING] Out of range"));
        ui->proc_chb_cropImg->setChecked(false);
        return;
    }
    const cv::Mat frame = ReadFrameFile(k - 1);
    if (frame.empty()) {
        ShowStatus(FormText("[WARNING] Can not read image ") + imageFiles.at(k - 1));
        ui->proc_chb_cropImg->setChecked(false);
        return;
    }
    cropDialog->RedrawPreview();
    cropDialog->SetImage(frame);
    // Window-modal: the box stays checked until the dialog's result arrives.
    cropDialog->show();
}

void CMivoParticleStreamAnalysis::slot_t4Crop_SetCroppingEnded(double top, double bottom, double left, double right,
                                                               bool ok, QString text)
{
    // Margins that meet or cross leave no pixel to count: refused as if cancelled, said.
    const int height = imageHeight, width = imageWidth;
    const bool leavesNothing = height - int(height * top) - int(height * bottom) <= 0 ||
                               width - int(width * left) - int(width * right) <= 0 || top + bottom >= 1.0 ||
                               left + right >= 1.0;
    const bool refused = ok && leavesNothing;
    if (refused) {
        ok = false;
        text.clear();
    }
    ui->proc_tf_cropImg->setText(text);
    ui->proc_chb_cropImg->setChecked(ok);
    // After "Cancel" the fractions stay 0: the dialog opens only from the unchecked state.
    if (ok) {
        cropTop = top;
        cropBottom = bottom;
        cropLeft = left;
        cropRight = right;
    }
    const int k = CurrentFrameNumber();
    if (sequenceLoaded && k >= 1)
        ShowFrame(k - 1);
    if (refused)
        ShowStatus(FormText("[WARNING] The crop margins leave nothing of the frame; not applied"));
}

void CMivoParticleStreamAnalysis::slot_chb_proc_setRange()
{
    // Both range widgets are disabled: processing always covers every frame.
    ShowStatus(FormText("[Running] Select region of interesting."));
}
