#include "register/run_engine.h"

#include "register/frame_listing.h"
#include "register/run_numbers.h"
#include "toolkit/out_of_memory.h"

#include <QCoreApplication>

#include <algorithm>

#include <utility>

CRunEngine::CRunEngine()
{
    result.end = RunEnd::NotStarted;
}

CRunEngine::~CRunEngine()
{
    Cancel();
}

bool CRunEngine::Start(const RunSettings& runSettings)
{
    Cancel();
    context.reset();
    mode.reset();
    frames.reset();
    settings = runSettings;
    result = RunResult();
    // A part is read alone with its context, then made the part's at the end (run_part.h).
    const QString partProblem = PartProblem(settings);
    if (!partProblem.isEmpty()) {
        result.end = RunEnd::NotStarted;
        result.error = partProblem;
        return false;
    }
    readSettings = settings;
    if (IsPart(settings)) {
        partRead = PartFramesRead(settings);
        readSettings = PartReadSettings(settings, partRead);
    }
    result.frameCount = static_cast<int>(readSettings.frameNames.size());
    if (settings.mode == CountingMode::FramesOfInterest || settings.onlyFrame >= 0) {
        result.detectedMinArea = settings.minArea;
        result.detectedMaxArea = settings.maxArea;
    }
    frames = std::make_unique<CRunFrames>(readSettings);
    auto counting = MakeCountingMode(readSettings);
    context = std::make_unique<CRunContext>(readSettings, *frames, result);
    if (result.frameCount <= 0) {
        result.end = RunEnd::NotStarted;
        result.error = TooFewFramesText(0);
        return false;
    }
    const int threads = counting->DecodesAhead() ? std::max(settings.decodeThreads, 0) : 0;
    bool outOfMemory = false;
    const bool begun = frames->Begin(counting->KeptFrames(), threads, counting->FrameAnalysis(), &outOfMemory) ||
                       (!outOfMemory && settings.onlyFrame >= 0 && frames->TakeSizeOf(settings.onlyFrame));
    if (!begun) {
        // Frame 0 gives the frame size every later step relies on.
        if (outOfMemory)
            context->NoteOutOfMemory(0);
        else
            context->NoteUnreadable(0);
        result.end = RunEnd::NotStarted;
        const CVideoStream& stream = frames->Stream();
        const std::string reason = outOfMemory ? std::string("out of memory")
                                               : FrameReadReason(stream.ReadRunFrame(0), stream.RunFrameLimits());
        result.error = QCoreApplication::translate("CMivoRegisterManager", "[ERRO] Can not read image ") +
                       QString::fromStdString(stream.FrameName(0) + " (" + reason + ")");
        return false;
    }
    result.frameWidth = frames->Stream().frameWidth;
    result.frameHeight = frames->Stream().frameHeight;
    result.sampleDepth = frames->Stream().Depth();
    mode = std::move(counting);
    mode->Begin(*context);
    return true;
}

StepReport CRunEngine::Step()
{
    if (!Running())
        return StepReport{QString(), result.end == RunEnd::Finished};
    StepReport report;
    // The modes leave a frame out when memory runs out working on it; anywhere else
    // (linking, records, the end of the run) the run cannot go on as it was.
    if (RanOutOfMemory([&] { report = mode->Step(*context); })) {
        frames->Stop();
        result.end = RunEnd::Failed;
        result.error = QCoreApplication::translate("CMivoRegisterManager", "[ERRO] The count stopped (out of memory)");
        return StepReport{result.error, true};
    }
    if (report.finished && RanOutOfMemory([this] { Finish(); })) {
        result.end = RunEnd::Failed;
        result.error = QCoreApplication::translate("CMivoRegisterManager", "[ERRO] The count stopped (out of memory)");
        report.status = result.error;
    }
    return report;
}

void CRunEngine::NoteReading()
{
    result.faintFrames = frames->FaintFrames();
    result.multiPageFrames = frames->MultiPageFrames();
    const int gave = frames->Stream().frameCount;
    if (gave < result.frameCount) {
        result.framesDeclared = result.frameCount;
        result.frameCount = gave;
    }
}

void CRunEngine::Finish()
{
    frames->Stop();
    NoteReading();
    if (IsPart(settings))
        KeepPart(settings, partRead, result);
    // The end-of-run recount: the range flags from the areas, then the classes.
    Recount(settings, result);
    result.end = RunEnd::Finished;
    result.finishedAt = QDateTime::currentDateTime();
}

void CRunEngine::Cancel()
{
    if (frames)
        frames->Stop();
    if (Running()) {
        NoteReading();
        result.end = RunEnd::Cancelled;
    }
}

RunResult CRunEngine::RunToEnd(const RunSettings& runSettings, const Progress& progress,
                               const std::atomic<bool>* cancel)
{
    if (Start(runSettings)) {
        while (Running()) {
            if (cancel && cancel->load()) {
                Cancel();
                break;
            }
            const StepReport report = Step();
            if (progress)
                progress(report);
        }
    }
    return result;
}

int CRunEngine::Cursor() const
{
    return mode ? mode->Cursor() : 0;
}

int CRunEngine::ProgressPercent() const
{
    if (result.end == RunEnd::Finished)
        return 100;
    return mode && context ? mode->ProgressPercent(*context) : 0;
}
