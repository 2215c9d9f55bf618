#include "register/foi_counting.h"

#include "register/foi_selection.h"
#include "toolkit/out_of_memory.h"

#include <QCoreApplication>

#include <algorithm>
#include <utility>

namespace {

// A frame of interest and its two neighbours are still decoded when it is counted early.
constexpr int kKeptFrames = 4;

QString ProgressText(const char* text, int percent)
{
    // The register manager's texts, under its translation context.
    return QCoreApplication::translate("CMivoRegisterManager", text) + QString::number(percent) + QStringLiteral("%)");
}

}  // namespace

int CFoiCounting::KeptFrames() const
{
    return kKeptFrames;
}

void CFoiCounting::Begin(CRunContext& run)
{
    run.result.selectedFrames.push_back(0);
    run.frames.Next(0);
}

StepReport CFoiCounting::Step(CRunContext& run)
{
    const int frames = run.Stream().frameCount;
    const int selected = static_cast<int>(run.result.selectedFrames.size());
    if (cursor < frames - 1 && phase == RunPhase::MeasuringShifts)
        return MeasureStep(run);
    if (cursor < selected && phase != RunPhase::MeasuringShifts)
        return CountStep(run);
    return LastFrameStep(run);
}

StepReport CFoiCounting::MeasureStep(CRunContext& run)
{
    CVideoStream& stream = run.Stream();
    RunResult& result = run.result;
    const int measured = cursor + 1;
    bool read = true;
    bool decodedOutOfMemory = false;
    ShiftOutcome outcome = ShiftOutcome::Measured;
    int tx = 0;
    bool pastEnd = false;
    int direction = 0;
    // Memory running out on a frame leaves it out as an unreadable frame is.
    if (RanOutOfMemory([&] {
            run.frames.Next(measured, &decodedOutOfMemory);
            // A recording cut short ends here: its frames are the sequence.
            pastEnd = measured >= stream.frameCount;
            if (!pastEnd)
                tx = stream.MeasureTransition(measured, &read, &outcome, &direction).dx;
        })) {
        read = false;
        decodedOutOfMemory = true;
        tx = 0;
        outcome = ShiftOutcome::FrameUnreadable;
    }
    const int frames = stream.frameCount;
    StepReport report;
    report.status = ProgressText("[Process] Building Full Image ... (", std::min(measured, frames) * 100 / frames);
    if (pastEnd) {
        phase = RunPhase::CountingFrames;
        cursor = 0;
        return report;
    }
    if (!read && decodedOutOfMemory)
        run.NoteOutOfMemory(measured);
    else if (!read)
        run.NoteUnreadable(measured);
    // Taken as 0 all the same; the user is told how many after the run.
    if (outcome != ShiftOutcome::Measured)
        ++result.unmeasuredShifts;
    if (outcome == ShiftOutcome::ChangedWithoutShift)
        ++result.changedWithoutShift;
    // The shifts are distances: a flow that turns back keeps adding up and brings the same
    // particles into later frames of interest again. Noted, for the warning.
    if (direction != 0) {
        if (flowSign != 0 && direction != flowSign)
            result.directionChanges.push_back(measured);
        flowSign = direction;
    }

    const FoiChoice choice = ChooseFrameOfInterest(result.accumulatedShift, tx, result.frameWidth, measured);
    if (choice.selected >= 0)
        result.selectedFrames.push_back(choice.selected);
    result.accumulatedShift = choice.accumulatedShift;
    CountEarly(run, measured);
    cursor += 1;
    if (cursor + 1 >= frames) {
        phase = RunPhase::CountingFrames;
        cursor = 0;
    }
    // No usable shift, or one wider than the frame: logged, yet counted above.
    if (tx > result.frameWidth || tx <= 0)
        run.Log(QStringLiteral("[overflow] Img:") + QString::number(measured + 1) + QStringLiteral(" , Tx:") +
                QString::number(tx));
    return report;
}

StepReport CFoiCounting::CountStep(CRunContext& run)
{
    const int selected = static_cast<int>(run.result.selectedFrames.size());
    StepReport report;
    report.status = ProgressText("[Process] Counting particles ... (", (cursor + 1) * 100 / selected);
    const int index = run.result.selectedFrames[static_cast<size_t>(cursor)];
    run.Log(QStringLiteral("[Counting] Selected Frames index : ") + QString::number(index));
    if (const EarlyCount* early = FindEarlyCount(index)) {
        if (early->outOfMemory)
            run.NoteOutOfMemory(index);
        else if (!early->frameRead)
            run.NoteUnreadable(index);
        run.AppendRecords(early->records);
    } else {
        bool read = true;
        std::vector<ParticleMeasure> records;
        if (RanOutOfMemory([&] { records = run.Stream().CountParticles(index, run.settings.method, &read); }))
            run.NoteOutOfMemory(index);
        else if (!read)
            run.NoteUnreadable(index);
        run.AppendRecords(std::move(records));
    }
    cursor += 1;
    if (cursor >= selected)
        phase = RunPhase::LastFrame;
    return report;
}

StepReport CFoiCounting::LastFrameStep(CRunContext& run)
{
    RunResult& result = run.result;
    const int last = run.Stream().frameCount - 1;
    // Phase 1 may have taken the last frame already: it was counted whole in phase 2,
    // and its strip (the shift sum is 0 then) adds nothing.
    result.lastFrameCountedWhole = !result.selectedFrames.empty() && result.selectedFrames.back() == last;
    if (!result.lastFrameCountedWhole)
        result.selectedFrames.push_back(last);
    // Only the columns that arrived since the last frame of interest.
    bool read = true;
    std::vector<ParticleMeasure> records;
    if (RanOutOfMemory([&] {
            records = run.Stream().CountParticlesInNewRegion(result.accumulatedShift, run.settings.method, &read);
        }))
        run.NoteOutOfMemory(last);
    else if (!read)
        run.NoteUnreadable(last);
    run.AppendRecords(std::move(records));
    earlyCounts.clear();
    phase = RunPhase::Done;
    StepReport report;
    report.finished = true;
    return report;
}

int CFoiCounting::LastFrameReadByCount(const CRunContext& run, int index) const
{
    if (run.settings.method != kMethodFrameDiff)
        return index;
    // Frame Diff compares with the next and the previous frame; frame 0 with frames 1
    // and 2, the last frame with the two before it.
    const int last = run.frames.Stream().frameCount - 1;
    if (index == last)
        return index;
    return std::min(index == 0 ? 2 : index + 1, last);
}

void CFoiCounting::CountEarly(CRunContext& run, int measured)
{
    const std::vector<int>& selected = run.result.selectedFrames;
    while (nextEarlyCount < selected.size()) {
        const int index = selected[nextEarlyCount];
        if (LastFrameReadByCount(run, index) > measured)
            break;
        ++nextEarlyCount;
        if (FindEarlyCount(index))
            continue;
        EarlyCount early{index, true, {}};
        early.outOfMemory = RanOutOfMemory(
            [&] { early.records = run.Stream().CountParticles(index, run.settings.method, &early.frameRead); });
        if (early.outOfMemory)
            early.records.clear();
        earlyCounts.push_back(std::move(early));
    }
}

const CFoiCounting::EarlyCount* CFoiCounting::FindEarlyCount(int index) const
{
    for (const EarlyCount& early : earlyCounts) {
        if (early.frame == index)
            return &early;
    }
    return nullptr;
}

void CFoiCounting::VisitPendingRecords(const std::function<void(const std::vector<ParticleMeasure>&)>& visit) const
{
    // Phase 2 moves the early counts into the result one by one, in the order they were
    // counted (that of the frames of interest; a frame chosen twice is counted early once,
    // so the counts so far may miss it until then).
    size_t first = 0;
    if (phase == RunPhase::CountingFrames)
        first = static_cast<size_t>(cursor);
    else if (phase != RunPhase::MeasuringShifts)
        return;
    for (size_t k = first; k < earlyCounts.size(); ++k)
        visit(earlyCounts[k].records);
}

int CFoiCounting::ProgressPercent(const CRunContext& run) const
{
    if (phase == RunPhase::Done)
        return 100;
    const long long frames = run.frames.Stream().frameCount;
    if (frames <= 0)
        return 0;
    // Steps: frames - 1 measures, one count per frame of interest, the last frame.
    const long long total = frames - 1 + static_cast<long long>(run.result.selectedFrames.size()) + 1;
    const long long done = phase == RunPhase::MeasuringShifts ? cursor : frames - 1 + cursor;
    return static_cast<int>(std::clamp(done * 100 / total, 0LL, 100LL));
}
