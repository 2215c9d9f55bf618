#pragma once

#include "register/counting_mode.h"
#include "register/run_frames.h"
#include "register/run_part.h"
#include "register/run_result.h"
#include "register/run_settings.h"

#include <atomic>
#include <functional>
#include <memory>

// One count of a folder of frames, without a window or an event loop: settings in,
// result out. It can be stepped, one frame of work per Step (the window's timer does
// that, so that the window stays responsive between steps), or run to its end at
// once (the headless counter, the tests, the benchmarks). The counting mode decides
// which particles are counted (counting_mode.h); the frames, the records, their
// classes, the log and the result are the engine's.
//
// The steps run on the caller's thread; only decoding (and a mode's per-frame
// analysis) runs ahead on worker threads, which Cancel, a new Start and the
// destructor stop and join.
class CRunEngine {
public:
    using Progress = std::function<void(const StepReport& report)>;

    CRunEngine();
    ~CRunEngine();
    CRunEngine(const CRunEngine&) = delete;
    CRunEngine& operator=(const CRunEngine&) = delete;

    // Reads frame 0 and prepares the first step; a run in progress is cancelled first.
    // False when nothing can run (no frames, frame 0 unreadable): Result().error says
    // why and Result().end is NotStarted.
    bool Start(const RunSettings& settings);
    // One step of a started run; nothing once it has ended. On the last step the
    // records are classified by the settings and the workers are joined. A frame that
    // memory runs out on is left out ("out of memory"); memory running out anywhere else
    // ends the run as Failed, with "[ERRO] ... (out of memory)" as its error and status.
    StepReport Step();
    // Stops a run in progress: the workers are joined, nothing more is read, the
    // result keeps what was done (end Cancelled).
    void Cancel();

    // Start, then every step, calling `progress` after each; stops early, as Cancel,
    // once `cancel` is set. The result by value; the engine keeps a copy.
    RunResult RunToEnd(const RunSettings& settings, const Progress& progress = {},
                       const std::atomic<bool>* cancel = nullptr);

    bool Running() const { return result.end == RunEnd::Running && mode != nullptr; }
    const RunResult& Result() const { return result; }
    const RunSettings& Settings() const { return settings; }
    int Cursor() const;
    int ProgressPercent() const;

private:
    void Finish();
    // What the frames' reading found: faint frames, a recording's early end.
    void NoteReading();

    RunSettings settings;
    RunSettings readSettings;  // the frames read: the settings', or a part's with its context
    PartFrames partRead;       // a part's frames read
    RunResult result;
    std::unique_ptr<CRunFrames> frames;
    std::unique_ptr<CCountingMode> mode;
    std::unique_ptr<CRunContext> context;
};
