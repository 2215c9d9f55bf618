// Main window: export of a finished run, as image pairs ("Exp. Figures") and as the
// particle table ("Exp. Data", the same CSV as the headless counter writes, with the
// run report beside it, the JSON of the counter's --json).

#include "app/count_basis.h"
#include "app/form_text.h"
#include "app/mivo_particle_stream_analysis.h"
#include "dialogs/velocity_profile_dialog.h"
#include "register/output_paths.h"
#include "register/particle_csv.h"
#include "register/run_pictures.h"
#include "register/run_report.h"
#include "register/whole_file.h"
#include "ui_mivo_particle_stream_analysis.h"

#include <QDir>
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
    if (!RunFinished()) {
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
    const CountedRun& run = *finishedRun;
    if (OutputTouchesFrames(folder, OutputTarget::PictureFolder, run.settings.folder)) {
        ShowStatus(FormText("[WARNING] Can not export into %1: it is the counted folder, its pictures would be "
                            "taken as frames")
                       .arg(folder));
        return;
    }
    // Pictures of an earlier export stay as they are: this run's go beside them, in a
    // sub-folder of their own, so that no pos_/res_ pair of two runs can be taken as one.
    const QString target = FreshPictureFolder(folder);
    if (target != folder && !QDir().mkpath(target)) {
        ShowStatus(FormText("[ERRO] Can not make the folder %1").arg(QDir::toNativeSeparators(target)));
        return;
    }
    // The run as the counters last showed it.
    const int failed = int(ExportRunPictures(run.settings, run.result, target).size());
    if (failed == 1)
        ShowStatus(FormText("[ERRO] 1 exported file could not be written"));
    else if (failed > 1)
        ShowStatus(FormText("[ERRO] %1 exported files could not be written").arg(failed));
    else if (target != folder)
        ShowStatus(FormText("[WARNING] %1 holds the pictures of an earlier export; exported into %2")
                       .arg(QDir::toNativeSeparators(folder), QDir::toNativeSeparators(target)));
    else
        ShowStatus(FormText("[Running] Frames of interesting were exported successfully... "));
}

void CMivoParticleStreamAnalysis::slot_btn_exportData()
{
    if (!RunFinished()) {
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
    const CountedRun& run = *finishedRun;
    if (OutputTouchesFrames(path, OutputTarget::File, run.settings.folder)) {
        ShowStatus(
            FormText("[WARNING] Can not write %1: it would be taken as a frame of %2").arg(path, run.settings.folder));
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
    // same recount as "Count all FoI" with the settings shown; the report beside it says
    // the same of the same run.
    RecountFoI();
    // Speeds per second with the frame rate of the velocity-profile window, as
    // tessel-count --frame-rate takes them.
    RunSettings settings = run.settings;
    settings.frameRate = velocityDialog->FrameRate();
    if (!WriteParticleCsv(path, settings, run.result)) {
        ShowStatus(FormText("[ERRO] Can not write ") + path);
        return;
    }
    const QString report = RunReportJson(settings, run.result) + QLatin1Char('\n');
    if (WriteWholeFile(reportPath, report.toUtf8()))
        ShowStatus(FormText("[Running] Particle data were exported successfully... "));
    else
        ShowStatus(FormText("[ERRO] Can not write ") + reportPath);
}
