#include "register/run_engine.h"

#include "register/frame_listing.h"
#include "register/run_numbers.h"
#include "toolkit/out_of_memory.h"

#include <QCoreApplication>

#include <algorithm>
#include <thread>
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
    watch.reset();
    begun = false;
    if (settings.watch) {
        // The frames are those that arrive.
        settings.frameNames.clear();
        readSettings.frameNames.clear();
        result.frameCount = 0;
    }
    frames = std::make_unique<CRunFrames>(readSettings);
    auto counting = MakeCountingMode(readSettings);
    context = std::make_unique<CRunContext>(readSettings, *frames, result);
    if (settings.watch) {
        // Begun once frame 0 is there (WatchStep).
        frames->SetGrowing();
        watch = std::make_unique<CFolderWatch>(settings.folder);
        watchEnd = false;
        nextLook = CFolderWatch::Clock::now();
        mode = std::move(counting);
        return true;
    }
    if (result.frameCount <= 0) {
        result.end = RunEnd::NotStarted;
        result.error = TooFewFramesText(0);
        return false;
    }
    if (!BeginFrames(*counting))
        return false;
    mode = std::move(counting);
    mode->Begin(*context);
    begun = true;
    return true;
}

bool CRunEngine::BeginFrames(CCountingMode& counting)
{
    const int threads = counting.DecodesAhead() ? std::max(settings.decodeThreads, 0) : 0;
    bool outOfMemory = false;
    const bool read = frames->Begin(counting.KeptFrames(), threads, counting.FrameAnalysis(), &outOfMemory) ||
                      (!outOfMemory && settings.onlyFrame >= 0 && frames->TakeSizeOf(settings.onlyFrame));
    if (!read) {
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
    return true;
}

StepReport CRunEngine::Step()
{
    if (!Running())
        return StepReport{QString(), result.end == RunEnd::Finished};
    if (settings.watch) {
        if (const std::optional<StepReport> waiting = WatchStep())
            return *waiting;
    }
    StepReport report;
    // The modes leave a frame out when memory runs out working on it; anywhere else
    // (linking, records, the end of the run) the run cannot go on as it was.
    if (RanOutOfMemory([&] { report = mode->Step(*context); })) {
        frames->Stop();
        result.end = RunEnd::Failed;
        result.error = QCoreApplication::translate("CMivoRegisterManager", "[ERRO] The count stopped (out of memory)");
        return StepReport{result.error, true};
    }
    if (watch)
        report.status = WatchStatus();
    if (report.finished && RanOutOfMemory([this] { Finish(); })) {
        result.end = RunEnd::Failed;
        result.error = QCoreApplication::translate("CMivoRegisterManager", "[ERRO] The count stopped (out of memory)");
        report.status = result.error;
    }
    return report;
}

std::optional<StepReport> CRunEngine::WatchStep()
{
    const auto now = CFolderWatch::Clock::now();
    if (watch) {
        const bool idle = settings.watchIdleSeconds > 0 &&
                          watch->Idle() >= std::chrono::duration<double>(settings.watchIdleSeconds);
        if (watchEnd || idle) {
            // Frames still being written get their time to settle, then one last look.
            LookAtFolder(false);
            if (watch)
                std::this_thread::sleep_for(CFolderWatch::kSettle);
            if (watch)
                LookAtFolder(true);
        } else if (now >= nextLook) {
            nextLook = now + kLookPause;
            LookAtFolder(false);
        }
    }
    const int listed = frames->Stream().frameCount;
    if (!watch && listed < kMinimumFrameCount) {
        // As a finished folder of so few frames: nothing to count.
        frames->Stop();
        result.end = RunEnd::Failed;
        result.error = TooFewFramesText(listed);
        return StepReport{result.error, true};
    }
    if (!begun && listed > 0) {
        if (!BeginFrames(*mode)) {
            watch.reset();
            result.end = RunEnd::Failed;
            return StepReport{result.error, true};
        }
        mode->Begin(*context);
        begun = true;
    }
    if (!watch || (begun && mode->FrameWanted() < listed - 1))
        return std::nullopt;
    std::this_thread::sleep_for(kWaitPause);
    return StepReport{WatchStatus(), false};
}

void CRunEngine::LookAtFolder(bool last)
{
    const CFolderWatch::Look look = watch->LookAgain(last);
    for (const QString& name : look.complete) {
        frames->Append(name);
        settings.frameNames << name;
        readSettings.frameNames << name;
    }
    result.frameCount = frames->Stream().frameCount;
    result.lateFrames << look.late;
    result.folderGone = look.gone;
    if (!last && !look.gone)
        return;
    if (last)
        result.incompleteFrames = watch->Incomplete();
    watch.reset();
    frames->Close();
}

ParticleCounts CRunEngine::CountsSoFar() const
{
    ParticleCounts counts;
    AddCountsSoFar(settings, result.records, counts);
    if (mode && result.end == RunEnd::Running)
        mode->VisitPendingRecords(
            [&](const std::vector<ParticleMeasure>& records) { AddCountsSoFar(settings, records, counts); });
    // The counting line knows which way its particles crossed only at the end.
    counts.inRange = std::abs(counts.inRange);
    counts.greater = std::abs(counts.greater);
    counts.smaller = std::abs(counts.smaller);
    return counts;
}

QString CRunEngine::WatchStatus() const
{
    const ParticleCounts counts = CountsSoFar();
    return QCoreApplication::translate("CMivoRegisterManager",
                                       "[Watching] %1 frames so far; in range %2, smaller %3, bigger %4")
        .arg(result.frameCount)
        .arg(counts.inRange)
        .arg(counts.smaller)
        .arg(counts.greater);
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
    watch.reset();
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
            if (cancel && cancel->load() && Watching()) {
                EndWatch();
            } else if (cancel && cancel->load() && !settings.watch) {
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
    // No end in sight while frames still arrive.
    if (watch)
        return 0;
    return mode && context ? mode->ProgressPercent(*context) : 0;
}
