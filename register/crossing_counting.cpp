#include "register/crossing_counting.h"

#include "stream/blob_detection.h"
#include "toolkit/out_of_memory.h"

#include <QCoreApplication>

#include <algorithm>
#include <any>
#include <tuple>

namespace {

QString ProgressText(int percent)
{
    // The register manager's texts, under its translation context.
    return QCoreApplication::translate("CMivoRegisterManager", "[Process] Counting line ... (") +
           QString::number(percent) + QStringLiteral("%)");
}

}  // namespace

CCrossingCounting::CCrossingCounting(int detectionMethod)
    : method(detectionMethod)
{
}

int CCrossingCounting::KeptFrames() const
{
    // Frame Diff reads the frame just taken once more in the step; the others nothing.
    return method == kMethodFrameDiff ? 1 : 0;
}

CFrameSource::Analysis CCrossingCounting::FrameAnalysis() const
{
    if (method == kMethodFrameDiff)
        return {};
    const int detection = method;
    return [detection](int, const cv::Mat& grey) { return std::any(DetectParticlesByMethod(grey, detection)); };
}

void CCrossingCounting::Begin(CRunContext& run)
{
    CrossingSettings settings;
    settings.frameWidth = run.result.frameWidth;
    settings.frameHeight = run.result.frameHeight;
    settings.minArea = run.settings.minArea;
    settings.maxArea = run.settings.maxArea;
    counter = std::make_unique<CrossingCounter>(settings);
}

StepReport CCrossingCounting::Step(CRunContext& run)
{
    const int index = taken++;
    if (method == kMethodFrameDiff) {
        // Memory running out reading a frame or detecting in the frame before leaves that
        // frame out, as an unreadable frame is.
        FrameRead read;
        if (RanOutOfMemory([&] {
                run.frames.Next(index);
                read = run.Stream().ReadRunFrame(index);
            })) {
            read = FrameRead();
            read.status = FrameReadStatus::OutOfMemory;
        }
        if (read.status == FrameReadStatus::OutOfMemory)
            run.NoteOutOfMemory(index);
        else if (read.grey.empty())
            run.NoteUnreadable(index);
        AddDifferenceFrame(run, index - 1, read.grey);
        beforePrevious = previous;
        previous = read.grey;
        if (index == run.Stream().frameCount - 1)  // a recording cut short ends earlier
            AddDifferenceFrame(run, index, cv::Mat());
    } else {
        // Detected on the workers; nothing came back for a frame that could not be read
        // or that memory ran out on.
        bool outOfMemory = false;
        const std::any found = run.frames.Next(index, &outOfMemory);
        if (found.has_value())
            Add(run, index, std::any_cast<const ParticleBlobs&>(found));
        else if (outOfMemory)
            run.NoteOutOfMemory(index);
        else
            run.NoteUnreadable(index);
    }
    const int frames = run.Stream().frameCount;
    StepReport report;
    report.status = ProgressText(taken * 100 / frames);
    if (taken >= frames) {
        Finish(run);
        report.finished = true;
    }
    return report;
}

void CCrossingCounting::AddDifferenceFrame(CRunContext& run, int index, const cv::Mat& next)
{
    // `previous` is frame `index`; a neighbour that could not be read adds no difference.
    if (index < 0 || previous.empty())
        return;
    ParticleBlobs blobs;
    if (RanOutOfMemory([&] { blobs = DetectParticlesByMethod(previous, kMethodFrameDiff, beforePrevious, next); })) {
        run.NoteOutOfMemory(index);
        return;
    }
    Add(run, index, blobs);
}

void CCrossingCounting::Add(CRunContext& run, int index, const ParticleBlobs& blobs)
{
    run.AppendRecords(counter->AddFrame(index, blobs));
}

void CCrossingCounting::Finish(CRunContext& run)
{
    run.AppendRecords(counter->Finish());
    RunResult& result = run.result;
    if (counter->RecordSense() < 0)
        for (ParticleMeasure& record : result.records)
            record.netCrossing = -record.netCrossing;
    // Records arrive as their tracks end; the table lists them frame by frame.
    std::stable_sort(result.records.begin(), result.records.end(),
                     [](const ParticleMeasure& a, const ParticleMeasure& b) {
                         return std::tie(a.frame, a.y, a.x) < std::tie(b.frame, b.y, b.x);
                     });
    result.selectedFrames.clear();
    for (const ParticleMeasure& record : result.records)
        if (result.selectedFrames.empty() || result.selectedFrames.back() != record.frame)
            result.selectedFrames.push_back(record.frame);
    for (int frame : result.selectedFrames) {
        const auto counted = std::count_if(result.records.begin(), result.records.end(),
                                           [frame](const ParticleMeasure& r) { return r.frame == frame; });
        run.Log(QStringLiteral("[Counting] Counting line frame index : ") + QString::number(frame) +
                QStringLiteral(" , particles : ") + QString::number(counted));
    }
    for (const FrameMotion& motion : counter->Motions()) {
        if (motion.source == MotionSource::kFromNeighbours)
            run.Log(QStringLiteral("[motion] Img:") + QString::number(motion.frame + 1) +
                    QStringLiteral(" , not measured, taken from the neighbouring frames"));
        else if (motion.source == MotionSource::kUnrelated)
            run.Log(QStringLiteral("[motion] Img:") + QString::number(motion.frame + 1) +
                    QStringLiteral(" , nothing in common with the frame before"));
        result.flowBreaks += motion.source == MotionSource::kUnrelated;
    }
    result.unmeasuredShifts = counter->UnmeasuredMotions();
    result.flowDirection = counter->Direction();
    result.sweptBands = counter->SweptBands();
    const TrackingSummary summary = counter->Summary();
    result.staticObjects = summary.staticObjects;
    result.ambiguousLinks = summary.ambiguousLinks;
    result.links = summary.links;
    result.directionChanges = summary.directionChanges;
    result.crossingsForward = summary.crossingsForward;
    result.crossingsBackward = summary.crossingsBackward;
    // The last frame's new strip: its band.
    result.accumulatedShift = LastBandWidth(result.sweptBands);
    phase = RunPhase::Done;
}

int CCrossingCounting::ProgressPercent(const CRunContext& run) const
{
    if (phase == RunPhase::Done)
        return 100;
    const int frames = run.frames.Stream().frameCount;
    return frames > 0 ? std::clamp(taken * 100 / frames, 0, 100) : 0;
}
