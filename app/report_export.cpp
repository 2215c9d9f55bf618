// Main window: export of a finished run, as image pairs ("Exp. Figures") and as the
// particle table ("Exp. Data", the same CSV as the headless counter writes).

#include "app/form_text.h"
#include "app/mivo_particle_stream_analysis.h"
#include "app/pixel_calibration.h"
#include "register/mivo_register_manager.h"
#include "register/output_paths.h"
#include "register/particle_csv.h"
#include "ui_mivo_particle_stream_analysis.h"

#include <QFileDialog>
#include <QFileInfo>

void CMivoParticleStreamAnalysis::slot_btn_exportFoI()
{
    if (!registerManager->foiReady) {
        ShowStatus(FormText("[Running] There are not FoI generated! :("));
        return;
    }
    ShowStatus(FormText("[Running] Exporting frames of interesting ... "));
    const QString folder = QFileDialog::getExistingDirectory(this, FormText("Choose directory of images sequences"),
                                                             ui->tf_video_InputPath->text(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    // The next count of the folder would take the pictures as frames.
    if (OutputTouchesFrames(folder, OutputTarget::PictureFolder, registerManager->folderPath)) {
        ShowStatus(FormText("[WARNING] Can not export into %1: it is the counted folder, its pictures would be "
                            "taken as frames")
                       .arg(folder));
        return;
    }
    const int failed = int(registerManager->ExportFramesOfInterest(folder).size());
    if (failed == 1)
        ShowStatus(FormText("[ERRO] 1 exported file could not be written"));
    else if (failed > 1)
        ShowStatus(FormText("[ERRO] %1 exported files could not be written").arg(failed));
    else
        ShowStatus(FormText("[Running] Frames of interesting were exported successfully... "));
}

void CMivoParticleStreamAnalysis::slot_btn_exportData()
{
    if (!registerManager->foiReady) {
        ShowStatus(FormText("[Running] There are not FoI generated! :("));
        return;
    }
    ShowStatus(FormText("[Running] Exporting particle data ... "));
    // Not "particles.csv": generated flows keep their ground truth under that name.
    const QString suggested = inputPath + QStringLiteral("/particle_records.csv");
    const QString path =
        QFileDialog::getSaveFileName(this, FormText("Save particle data"), suggested, FormText("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    if (OutputTouchesFrames(path, OutputTarget::File, registerManager->folderPath)) {
        ShowStatus(FormText("[WARNING] Can not write %1: it would be taken as a frame of %2")
                       .arg(path, registerManager->folderPath));
        return;
    }
    // Opening a pipe for writing waits for a reader, and nothing may wait on the window's
    // thread; a device is no place for the table either.
    const QFileInfo target(path);
    if (target.exists() && !target.isFile()) {
        ShowStatus(FormText("[WARNING] Can not write %1: not a regular file").arg(path));
        return;
    }
    // The classes of the table are those of the counters and circles on screen: the
    // same recount as "Count all FoI" with the settings shown.
    RecountFoI();
    UpdateCalibration();
    if (WriteParticleCsv(path, registerManager->foiParticles, *registerManager->stream, registerManager->ClassRules(),
                         calibration->pixelWidth))
        ShowStatus(FormText("[Running] Particle data were exported successfully... "));
    else
        ShowStatus(FormText("[ERRO] Can not write ") + path);
}
