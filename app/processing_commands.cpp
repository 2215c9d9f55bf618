// Main window: the "Counter Control" commands, the end of a run and the counters. The
// register manager steps the run engine one step per timer tick; these slots hand it the
// run's settings, stop it, and take its result when it has finished. What the counters
// show is a count the window holds (settings and result), recounted, never read back from
// the widgets through another object.

#include "app/count_basis.h"
#include "app/form_text.h"
#include "app/mivo_particle_stream_analysis.h"
#include "register/bgr_image.h"
#include "register/frame_listing.h"
#include "register/mivo_register_manager.h"
#include "register/run_numbers.h"
#include "register/run_pictures.h"
#include "register/run_report.h"
#include "register/run_stream.h"
#include "register/run_warnings.h"
#include "stream/video_stream.h"
#include "ui_mivo_particle_stream_analysis.h"

#include <QProgressBar>

void CMivoParticleStreamAnalysis::slot_btn_proc_RunVR()
{
    if (!sequenceLoaded || !SizeRangeUsable())
        return;
    ui->btn_proc_runVR->setEnabled(false);
    ui->btn_proc_countOne->setEnabled(false);
    ui->btn_proc_stopVR->setEnabled(true);
    // The whole list: the processing range is not applied, nor are the crop margins.
    // The run counts in the mode and with the method the menus show.
    RunSettings settings = WindowSettings();
    settings.marginTop = settings.marginBottom = settings.marginLeft = settings.marginRight = 0;
    // The last run's numbers go: a new one begins.
    ClearResults();
    if (!registerManager->BeginProcessing(settings)) {
        // The register has shown why ("[ERRO] ..."); nothing runs.
        ShowRunStopped();
        return;
    }
    runProgress->setValue(0);
    runProgress->show();
}

void CMivoParticleStreamAnalysis::slot_btn_proc_StopRunVR()
{
    if (watchingFolder) {
        // The frames complete now are the run's last; it then finishes as any run.
        watchingFolder = false;
        registerManager->EndWatch();
        ui->btn_proc_stopVR->setEnabled(false);
        ShowStatus(FormText("[Watching] Watch ended; counting the last frames"));
        return;
    }
    registerManager->StopProcessing();
    ShowRunStopped();
    ShowStatus(FormText("[IDLE] >> Process cancelled"));
}

void CMivoParticleStreamAnalysis::ShowRunStopped()
{
    ui->btn_proc_runVR->setEnabled(true);
    ui->btn_proc_countOne->setEnabled(true);
    ui->btn_proc_stopVR->setEnabled(false);
    runProgress->hide();
}

bool CMivoParticleStreamAnalysis::RunFinished() const
{
    return finishedRun->result.end == RunEnd::Finished;
}

void CMivoParticleStreamAnalysis::slot_finishProcVR()
{
    runProgress->hide();
    // A watched folder is then shown as a folder opened now would be.
    if (registerManager->Settings().watch)
        FinishWatch();
    *finishedRun = CountedRun{registerManager->Settings(), registerManager->Result()};
    SetUpStream(*runFrames, finishedRun->settings, &finishedRun->result);
    SetProcessingControlsEnabled(true);
    // The direction the counting line measured, on the "Direction Flow" buttons and the
    // preview's arrows.
    if (finishedRun->settings.mode == CountingMode::CountingLine) {
        switch (finishedRun->result.flowDirection) {
        case FlowDirection::kTopToBottom: flowDirection = 0; break;
        case FlowDirection::kBottomToTop: flowDirection = 1; break;
        case FlowDirection::kRightToLeft: flowDirection = 2; break;
        case FlowDirection::kLeftToRight: flowDirection = 3; break;
        case FlowDirection::kUnknown: break;
        }
        UpdateFlowButtons();
    }
    ResetFullImageSlider();
    RecountFoI();
    // Frames that could not be read, files the listing left out for their names, log lines
    // lost, motions not measured: said rather than passing the counts off as complete.
    const QStringList lost = RunLossSummary(finishedRun->settings, finishedRun->result,
                                            static_cast<int>(UndecodableFrameFiles(inputPath).size()));
    // Dirt on the window, stuck particles: left out of the counts, said so.
    const QString still = StaticObjectsText(finishedRun->settings, finishedRun->result);
    const QString aside = still.isEmpty() ? QString() : QStringLiteral("; ") + still;
    if (lost.isEmpty())
        ShowStatus(FormText("[IDLE] >> Counting all frames of interesting") + aside);
    else
        ShowStatus(FormText("[WARNING] ") + lost.join(QStringLiteral("; ")) + aside);
}

void CMivoParticleStreamAnalysis::slot_runFailed(QString error)
{
    watchingFolder = false;
    // Memory ran out part-way: no counts to show, the window goes on.
    ShowRunStopped();
    ShowStatus(error);
}

bool CMivoParticleStreamAnalysis::SizeRangeUsable()
{
    if (ui->tf_setting_minPxl->text().toInt(nullptr, 10) <= ui->tf_setting_maxPxl->text().toInt(nullptr, 10))
        return true;
    ShowStatus(FormText("[WARNING] The minimum size is above the maximum"));
    return false;
}

void CMivoParticleStreamAnalysis::slot_updateStatusBar(QString text)
{
    ShowStatus(text);
    if (watchingFolder)
        ShowCountsSoFar();
    if (!runProgress->isHidden())
        runProgress->setValue(registerManager->ProgressPercent());
}

void CMivoParticleStreamAnalysis::RecountFoI()
{
    if (!RunFinished())
        return;
    // The stored records only: no frame is segmented again, so the method reaches the
    // next run.
    finishedRun->settings = RecountSettings(finishedRun->settings, WindowSettings());
    Recount(finishedRun->settings, finishedRun->result);
    ShowFullImageWindow(ui->sld_vr_line->value());
    ShowCount(CountSource::Run);
}

void CMivoParticleStreamAnalysis::slot_btn_proc_coutingAll()
{
    if (!SizeRangeUsable())
        return;
    RecountFoI();
    ShowStatus(FormText("[IDLE] >> Counting all frames of interesting"));
}

void CMivoParticleStreamAnalysis::ShowReportCounts(const RunResult& result)
{
    ui->tf_report_total->setText(QString::number(result.countInRange));
    ui->tf_report_NSmaller->setText(QString::number(result.countSmaller));
    ui->tf_report_NGreater->setText(QString::number(result.countGreater));
}

void CMivoParticleStreamAnalysis::slot_btn_proc_coutingOne()
{
    if (!sequenceLoaded || !SizeRangeUsable())
        return;
    // The index field may still name a frame of an earlier, longer sequence.
    const int n = CurrentFrameNumber();
    if (n < 1 || n > imageFiles.size()) {
        ShowStatus(FormText("[WARNING] Out of range"));
        return;
    }
    // A run of the engine over this frame alone, with the crop's margins; the finished run
    // stays as it is.
    RunSettings settings = WindowSettings();
    settings.onlyFrame = n - 1;
    CRunEngine engine;
    const RunResult result = engine.RunToEnd(settings);
    const QImage image = BgrToQImage(RenderRunFrame(*sequenceFrames, settings, result, n - 1));
    if (image.isNull()) {
        // Deleted or spoilt since it was listed: keep the preview and the counters.
        ShowStatus(FormText("[WARNING] Can not read image ") + imageFiles.at(n - 1));
        return;
    }
    if (result.end == RunEnd::Failed) {
        ShowStatus(result.error);  // "[ERRO] ... (out of memory)"
        return;
    }
    if (result.end != RunEnd::Finished || image.width() != result.frameWidth || image.height() != result.frameHeight) {
        // The count clips against frame 0 and finds nothing in a frame of another size;
        // 0 particles would be wrong.
        ShowStatus(FormText("[WARNING] Can not count image %1: %2 x %3, frame 0 is %4 x %5")
                       .arg(imageFiles.at(n - 1))
                       .arg(image.width())
                       .arg(image.height())
                       .arg(result.frameWidth)
                       .arg(result.frameHeight));
        return;
    }
    *frameAlone = CountedRun{settings, result};
    ui->labImage->setPixmap(QPixmap::fromImage(image));
    ui->labImage->update();
    if (gridVisible)
        DrawGrid();
    ShowCount(CountSource::CurrentFrame);
    ShowStatus(FormText("[IDLE] >> Counting current frame"));
}
