#pragma once

#include "register/run_frames.h"
#include "register/run_result.h"
#include "register/run_settings.h"
#include "stream/frame_source.h"
#include "toolkit/particle_measure.h"

#include <QString>

#include <climits>
#include <functional>
#include <memory>
#include <vector>

// Where a run stands. A counting mode goes through the phases it needs, in this order.
enum class RunPhase {
    MeasuringShifts,  // frame after frame: the motion, and which frames count
    CountingFrames,   // the particles of the frames chosen
    LastFrame,        // what only the last frame adds
    Done,
};

// What one step did, for the front ends.
struct StepReport {
    QString status;  // progress text ("[Process] ..."), empty when the step shows none
    bool finished = false;
};

// The parts of a run that every counting mode shares: its settings, its frames, its
// result (records, frames of interest, unreadable frames, unmeasured shifts) and its log.
class CRunContext {
public:
    CRunContext(const RunSettings& runSettings, CRunFrames& runFrames, RunResult& runResult)
        : settings(runSettings)
        , frames(runFrames)
        , result(runResult)
    {
    }

    const RunSettings& settings;
    CRunFrames& frames;
    RunResult& result;

    CVideoStream& Stream() { return frames.Stream(); }
    // One log line; one that cannot be written is counted in the result.
    void Log(const QString& message);
    // A frame left out of the run: listed once, logged once.
    void NoteUnreadable(int index);
    // A frame left out because memory ran out while it was decoded, prepared, compared
    // or its particles detected: an unreadable frame whose reason is "out of memory".
    void NoteOutOfMemory(int index);
    // A frame's records join the result taken from the back, the order they are drawn in.
    void AppendRecords(std::vector<ParticleMeasure> records);
};

// How a run decides which particles it counts: a strategy the engine steps through.
// Frames, records, classes, log and result stay with the engine (CRunContext).
class CCountingMode {
public:
    virtual ~CCountingMode() = default;

    // Decoded frames the run's stream keeps for the steps to read again.
    virtual int KeptFrames() const = 0;
    // Whether the frames after frame 0 are decoded ahead on worker threads (the settings'
    // decodeThreads); a mode that reads a frame or two by itself does without.
    virtual bool DecodesAhead() const { return true; }
    // A pure function of one decoded frame, run on the decoding workers ahead of the
    // steps; its result reaches the step through CRunFrames::Next. None by default.
    virtual CFrameSource::Analysis FrameAnalysis() const { return {}; }

    // Frame 0 is prepared and the frame size known.
    virtual void Begin(CRunContext& run) = 0;
    // One unit of work, one frame where there is one; `finished` on the last.
    virtual StepReport Step(CRunContext& run) = 0;

    // Position within the phase: the frame measured last, the frame counted next...
    virtual int Cursor() const = 0;
    // The frame the next step reads, or INT_MAX when it needs the whole list (a later
    // phase). A run over a list still growing (a watched folder) steps only while a frame
    // after this one is listed, so that no step takes a frame for the last one.
    virtual int FrameWanted() const { return INT_MAX; }
    // The records counted so far that the result does not hold yet (a mode that keeps
    // them until a later phase), for the counts while a run goes on.
    virtual void VisitPendingRecords(const std::function<void(const std::vector<ParticleMeasure>&)>&) const {}

    // Share of the run done, 0 to 100; never falls.
    virtual int ProgressPercent(const CRunContext& run) const = 0;
};

// The strategy of the settings' mode, counting with the settings' method; the frame alone
// when the settings name one.
std::unique_ptr<CCountingMode> MakeCountingMode(const RunSettings& settings);
