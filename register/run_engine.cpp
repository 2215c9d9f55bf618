#include "register/run_engine.h"

#include "register/frame_listing.h"
#include "register/run_numbers.h"

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
    result.frameCount = static_cast<int>(settings.frameNames.size());
    frames = std::make_unique<CRunFrames>(settings);
    auto counting = MakeCountingMode(settings);
    context = std::make_unique<CRunContext>(settings, *frames, result);
    if (result.frameCount <= 0) {
        result.end = RunEnd::NotStarted;
        result.error = TooFewFramesText(0);
        return false;
    }
    const int threads = counting->DecodesAhead() ? std::max(settings.decodeThreads, 0) : 0;
    const bool begun = frames->Begin(counting->KeptFrames(), threads, counting->FrameAnalysis()) ||
                       (settings.onlyFrame >= 0 && frames->TakeSizeOf(settings.onlyFrame));
    if (!begun) {
        // Frame 0 gives the frame size every later step relies on.
        context->NoteUnreadable(0);
        result.end = RunEnd::NotStarted;
        const CVideoStream& stream = frames->Stream();
        const std::string reason = FrameReadReason(stream.ReadRunFrame(0), stream.RunFrameLimits());
        result.error = QCoreApplication::translate("CMivoRegisterManager", "[ERRO] Can not read image ") +
                       QString::fromStdString(stream.FrameName(0) + " (" + reason + ")");
        return false;
    }
    result.frameWidth = frames->Stream().frameWidth;
    result.frameHeight = frames->Stream().frameHeight;
    mode = std::move(counting);
    mode->Begin(*context);
    return true;
}

StepReport CRunEngine::Step()
{
    if (!Running())
        return StepReport{QString(), result.end == RunEnd::Finished};
    StepReport report = mode->Step(*context);
    if (report.finished)
        Finish();
    return report;
}

void CRunEngine::Finish()
{
    frames->Stop();
    // The end-of-run recount: the range flags from the areas, then the classes.
    Recount(settings, result);
    result.end = RunEnd::Finished;
    result.finishedAt = QDateTime::currentDateTime();
}

void CRunEngine::Cancel()
{
    if (frames)
        frames->Stop();
    if (Running())
        result.end = RunEnd::Cancelled;
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
