// Main window: the "Counter Control" commands, the end of a run and the counters. The
// register manager steps the run engine one step per timer tick; these slots hand it
// the run's settings, stop it and read it.

#include "app/count_basis.h"
#include "app/form_text.h"
#include "app/mivo_particle_stream_analysis.h"
#include "app/pixel_calibration.h"
#include "register/frame_listing.h"
#include "register/mivo_register_manager.h"
#include "register/motion_warnings.h"
#include "register/reading_texts.h"
#include "ui_mivo_particle_stream_analysis.h"

#include <QProgressBar>

void CMivoParticleStreamAnalysis::slot_btn_proc_RunVR()
{
    if (!sequenceLoaded || !SizeRangeUsable())
        return;
    ui->btn_proc_runVR->setEnabled(false);
    ui->btn_proc_countOne->setEnabled(false);
    ui->btn_proc_stopVR->setEnabled(true);
    UpdateCalibration();
    // The whole list: the processing range is not applied, nor are the crop margins.
    // The run counts in the mode and with the method the menus show.
    RunSettings settings = WindowSettings();
    settings.marginTop = settings.marginBottom = settings.marginLeft = settings.marginRight = 0;
    settings.circularityFilter = registerManager->circularityFilter;
    settings.minCircularity = registerManager->minCircularity;
    settings.pixelSize = calibration->pixelWidth;
    // The register drops the last run's records here: its numbers go with them.
    ClearResults();
    *startedRun = settings;
    // The register counts lost log lines over its life; this run's are those from here.
    lostLogLinesBeforeRun = registerManager->lostLogLines;
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

void CMivoParticleStreamAnalysis::slot_finishProcVR()
{
    runProgress->hide();
    SetProcessingControlsEnabled(true);
    finishedRun->settings = *startedRun;
    finishedRun->result = registerManager->EngineResult();
    // The register keeps the records for every recount.
    finishedRun->result.records = {};
    ResetFullImageSlider();
    RecountFoI();
    const QStringList lost = RunLosses();
    if (lost.isEmpty())
        ShowStatus(FormText("[IDLE] >> Counting all frames of interesting"));
    else
        ShowStatus(FormText("[WARNING] ") + lost.join(QStringLiteral("; ")));
}

void CMivoParticleStreamAnalysis::slot_runFailed(QString error)
{
    // Memory ran out part-way: no counts to show, the window goes on.
    ShowRunStopped();
    ShowStatus(error);
}

QStringList CMivoParticleStreamAnalysis::RunLosses() const
{
    // Frames that could not be read, or were never listed, add nothing to the counts;
    // say so rather than pass the counts off as complete. A log line lost is an event
    // no one can look up later.
    QStringList lost;
    const int unreadable = int(registerManager->unreadableFrames.size());
    const int exhausted = int(registerManager->EngineResult().outOfMemoryFrames.size());
    const QString memory = exhausted > 0 ? FormText(" (%1 out of memory)").arg(exhausted) : QString();
    if (unreadable == 1)
        lost << FormText("1 frame could not be read") + memory;
    else if (unreadable > 1)
        lost << FormText("%1 frames could not be read").arg(unreadable) + memory;
    const int unnamed = int(UndecodableFrameFiles(inputPath).size());
    if (unnamed == 1)
        lost << FormText("1 frame file left out (name not in UTF-8)");
    else if (unnamed > 1)
        lost << FormText("%1 frame files left out (names not in UTF-8)").arg(unnamed);
    const int lines = registerManager->lostLogLines - lostLogLinesBeforeRun;
    if (lines > 0)
        lost << FormText("Can not write log_KOV.txt: %1 log lines lost").arg(lines);
    // A recording that ends early, frames nearly black at the run's depth, motions not
    // measured: said by the texts tessel-count uses.
    const RunResult& result = finishedRun->result;
    for (const QString& text : {RecordingCutShortText(finishedRun->settings, result),
                                FaintFramesText(finishedRun->settings, result)})
        if (!text.isEmpty())
            lost << text;
    lost << UnmeasuredMotionTexts(registerManager->countingMode, registerManager->unmeasuredShifts,
                                  registerManager->flowBreaks, result.frameCount, result.changedWithoutShift);
    return lost;
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
    if (!runProgress->isHidden())
        runProgress->setValue(registerManager->ProgressPercent());
}

void CMivoParticleStreamAnalysis::SetStreamAreaBounds()
{
    registerManager->stream->minArea = ui->tf_setting_minPxl->text().toInt(nullptr, 10);
    registerManager->stream->maxArea = ui->tf_setting_maxPxl->text().toInt(nullptr, 10);
}

void CMivoParticleStreamAnalysis::RecountFoI()
{
    if (!registerManager->foiReady)
        return;
    // The stored records only: no frame is segmented again, so the method reaches the
    // next run.
    SetStreamAreaBounds();
    registerManager->segmentationMethod = segmentationMethod;
    registerManager->UpdateRangeFlags();
    registerManager->CountFoIParticles();
    ShowFullImageWindow(ui->sld_vr_line->value());
    ShowReportCounts();
    const RunResult& result = finishedRun->result;
    CountBasis basis;
    basis.source = CountSource::Run;
    basis.settings = RecountSettings(finishedRun->settings, WindowSettings());
    basis.framesCounted = result.frameCount - int(result.unreadableFrames.size());
    basis.bitDepth = result.sampleDepth.bits;
    basis.countedAt = result.finishedAt;
    ShowCountBasis(basis);
}

void CMivoParticleStreamAnalysis::slot_btn_proc_coutingAll()
{
    if (!SizeRangeUsable())
        return;
    RecountFoI();
    ShowStatus(FormText("[IDLE] >> Counting all frames of interesting"));
}

void CMivoParticleStreamAnalysis::ShowReportCounts()
{
    ui->tf_report_total->setText(QString::number(registerManager->countInRange));
    ui->tf_report_NSmaller->setText(QString::number(registerManager->countSmaller));
    ui->tf_report_NGreater->setText(QString::number(registerManager->countGreater));
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
    // The finished register stays; only its running sums and the frame's list go.
    registerManager->accumulatedShift = 0;
    registerManager->countInRange = 0;
    registerManager->building = true;
    registerManager->frameParticles.clear();
    registerManager->StartSequence(inputPath, sequenceKind);
    SetStreamAreaBounds();
    for (const QString& name : imageFiles)
        registerManager->stream->AddFrame(name.toStdString());
    CVideoStream& stream = *registerManager->stream;
    stream.marginTop = int(imageHeight * cropTop);
    stream.marginBottom = int(imageHeight * cropBottom);
    stream.marginLeft = int(imageWidth * cropLeft);
    stream.marginRight = int(imageWidth * cropRight);

    const QImage image = registerManager->CountFrame(n - 1, segmentationMethod);
    if (image.isNull()) {
        // Deleted or spoilt since it was listed: keep the preview and the counters.
        ShowStatus(FormText("[WARNING] Can not read image ") + imageFiles.at(n - 1));
        return;
    }
    if (image.width() != stream.frameWidth || image.height() != stream.frameHeight) {
        // The count clips against frame 0 and finds nothing in a frame of another size;
        // 0 particles would be wrong.
        ShowStatus(FormText("[WARNING] Can not count image %1: %2 x %3, frame 0 is %4 x %5")
                       .arg(imageFiles.at(n - 1))
                       .arg(image.width())
                       .arg(image.height())
                       .arg(stream.frameWidth)
                       .arg(stream.frameHeight));
        return;
    }
    SetStreamAreaBounds();
    registerManager->UpdateRangeFlags();
    registerManager->CountFrameParticles();
    ui->labImage->setPixmap(QPixmap::fromImage(image));
    ui->labImage->update();
    if (gridVisible)
        DrawGrid();
    ShowReportCounts();
    CountBasis basis;
    basis.source = CountSource::CurrentFrame;
    basis.settings = WindowSettings();
    basis.frame = n - 1;
    basis.framesCounted = 1;
    basis.countedAt = QDateTime::currentDateTime();
    ShowCountBasis(basis);
    ShowStatus(FormText("[IDLE] >> Counting current frame"));
}
