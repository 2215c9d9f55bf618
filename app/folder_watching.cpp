// Main window: "File > Watch Folder...", a folder counted while a camera still writes
// frames into it. The run engine watches the folder (register/folder_watch.h) and counts
// each frame once it is complete; the window starts the run with its settings, shows the
// counts so far after each step, and its "Cancel Process" ends the watch: the run then
// finishes with the frames complete by then, shown as any finished run.

#include "app/form_text.h"
#include "app/mivo_particle_stream_analysis.h"
#include "register/mivo_register_manager.h"
#include "ui_mivo_particle_stream_analysis.h"

#include <QProgressBar>

void CMivoParticleStreamAnalysis::slot_file_watchFolder()
{
    if (!SizeRangeUsable() || !ChooseInputFolder()) {
        ShowStatus(FormText("[IDLE]"));
        return;
    }
    registerManager->ResetRegister();
    watchingFolder = false;
    ui->tf_video_InputPath->setText(inputPath);
    ClearResults();
    ClearSequenceView();
    // The frames are taken in name order as they arrive; the folder has no listing yet.
    imageFiles.clear();
    sequenceKind = SequenceKind::Folder;
    sequenceLoaded = false;
    ui->tf_video_NumImages->setText(QStringLiteral("0"));
    {
        const QSignalBlocker sortBlocker(ui->cb_video_sortby);
        const QSignalBlocker orderBlocker(ui->cb_video_order);
        ui->cb_video_sortby->setCurrentIndex(0);
        ui->cb_video_order->setCurrentIndex(0);
    }
    // As "Calculate FoI": whole frames, in the mode and with the method the menus show.
    RunSettings settings = WindowSettings();
    settings.marginTop = settings.marginBottom = settings.marginLeft = settings.marginRight = 0;
    settings.watch = true;
    if (!registerManager->BeginProcessing(settings)) {
        ShowRunStopped();
        return;
    }
    watchingFolder = true;
    // As during any run: the commands that would start another off, "Cancel Process" on.
    SetProcessingControlsEnabled(true);
    ui->btn_proc_runVR->setEnabled(false);
    ui->btn_proc_countOne->setEnabled(false);
    ui->btn_proc_stopVR->setEnabled(true);
    ShowStatus(FormText("[Watching] %1: waiting for frames").arg(inputPath));
}

void CMivoParticleStreamAnalysis::ShowCountsSoFar()
{
    const ParticleCounts counts = registerManager->CountsSoFar();
    ui->tf_report_total->setText(QString::number(counts.inRange));
    ui->tf_report_NSmaller->setText(QString::number(counts.smaller));
    ui->tf_report_NGreater->setText(QString::number(counts.greater));
    ui->tf_video_NumImages->setText(QString::number(registerManager->Result().frameCount));
}

void CMivoParticleStreamAnalysis::FinishWatch()
{
    watchingFolder = false;
    // Listed by name as a folder opened now; the run's own frames are in its settings.
    sequenceLoaded = LoadSequence(SortFlagsFromCombos(0, 0));
}
