// Main window: export of a finished run, as image pairs ("Exp. Figures") and as the
// particle table ("Exp. Data", the same CSV as the headless counter writes, with the
// run report beside it, the JSON of the counter's --json).

#include "app/count_basis.h"
#include "app/form_text.h"
#include "app/mivo_particle_stream_analysis.h"
#include "app/pixel_calibration.h"
#include "register/mivo_register_manager.h"
#include "register/output_paths.h"
#include "register/particle_csv.h"
#include "register/run_report.h"
#include "register/whole_file.h"
#include "ui_mivo_particle_stream_analysis.h"

#include <QFileDialog>
#include <QFileInfo>

namespace {

// "particle_records.csv" -> "particle_records.json"; a name without the CSV suffix keeps
// it whole ("table" -> "table.json"), so the report never takes the table's place.
QString ReportPathBeside(const QString& csvPath)
{
    const QFileInfo csv(csvPath);
    const QString base =
        csv.suffix().compare(QStringLiteral("csv"), Qt::CaseInsensitive) == 0 ? csv.completeBaseName() : csv.fileName();
    return csv.dir().filePath(base + QStringLiteral(".json"));
}

}  // namespace

void CMivoParticleStreamAnalysis::slot_btn_exportFoI()
{
    if (!registerManager->foiReady) {
        ShowStatus(FormText("[Running] There are not FoI generated! :("));
        return;
    }
    ShowStatus(FormText("[Running] Exporting frames of interesting ... "));
    const QString start = figuresFolder.isEmpty() ? ui->tf_video_InputPath->text() : figuresFolder;
    const QString folder = QFileDialog::getExistingDirectory(this, FormText("Choose directory of images sequences"),
                                                             start, QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    figuresFolder = folder;
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
    const QString suggested = (dataFolder.isEmpty() ? inputPath : dataFolder) + QStringLiteral("/particle_records.csv");
    const QString path =
        QFileDialog::getSaveFileName(this, FormText("Save particle data"), suggested, FormText("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    dataFolder = QFileInfo(path).absolutePath();
    if (OutputTouchesFrames(path, OutputTarget::File, registerManager->folderPath)) {
        ShowStatus(FormText("[WARNING] Can not write %1: it would be taken as a frame of %2")
                       .arg(path, registerManager->folderPath));
        return;
    }
    // Opening a pipe for writing waits for a reader, and nothing may wait on the window's
    // thread; a device is no place for the table either.
    const QString reportPath = ReportPathBeside(path);
    for (const QString& file : {path, reportPath}) {
        const QFileInfo target(file);
        if (target.exists() && !target.isFile()) {
            ShowStatus(FormText("[WARNING] Can not write %1: not a regular file").arg(file));
            return;
        }
    }
    // The classes of the table are those of the counters and circles on screen: the
    // same recount as "Count all FoI" with the settings shown.
    RecountFoI();
    UpdateCalibration();
    if (!WriteParticleCsv(path, registerManager->foiParticles, *registerManager->stream, registerManager->ClassRules(),
                          calibration->pixelWidth)) {
        ShowStatus(FormText("[ERRO] Can not write ") + path);
        return;
    }
    // The report of the counts the table classes: the run's, recounted as shown.
    RunResult recounted = finishedRun->result;
    recounted.records = registerManager->foiParticles;
    recounted.countInRange = registerManager->countInRange;
    recounted.countGreater = registerManager->countGreater;
    recounted.countSmaller = registerManager->countSmaller;
    const QString report =
        RunReportJson(RecountSettings(finishedRun->settings, WindowSettings()), recounted) + QLatin1Char('\n');
    if (WriteWholeFile(reportPath, report.toUtf8()))
        ShowStatus(FormText("[Running] Particle data were exported successfully... "));
    else
        ShowStatus(FormText("[ERRO] Can not write ") + reportPath);
}
