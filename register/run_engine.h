#pragma once

#include "register/counting_mode.h"
#include "register/folder_watch.h"
#include "register/particle_class.h"
#include "register/run_frames.h"
#include "register/run_part.h"
#include "register/run_result.h"
#include "register/run_settings.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// One count of a folder of frames, without a window or an event loop: settings in,
// result out. It can be stepped, one frame of work per Step (the window's timer does
// that, so that the window stays responsive between steps), or run to its end at
// once (the headless counter, the tests, the benchmarks). The counting mode decides
// which particles are counted (counting_mode.h); the frames, the records, their
// classes, the log and the result are the engine's.
//
// A watched folder (RunSettings::watch) is counted as its frames arrive: each step looks at
// the folder (at most every kLookPause), adds the frames complete by then and steps the
// mode only while a frame after the one it reads is there; otherwise the step waits a
// little and reports the counts so far. Once the watch ends (EndWatch, the idle time, the
// folder gone) the frames complete then are the last and the run goes on to its end as
// over the finished folder: the same steps on the same frames, the same result.
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

    // A watched folder's run takes no frame that is not complete by now and goes on to its
    // end. Safe from any thread (a step may be running); nothing for any other run.
    void EndWatch() { watchEnd = true; }
    // A watched run whose watch has not ended yet.
    bool Watching() const { return watch != nullptr; }
    // The counters over what the run has counted so far (the end's recount gives the final
    // ones): for the counts shown while a watched folder is counted. Not during a step.
    ParticleCounts CountsSoFar() const;
    // "[Watching] 40 frames so far; in range 120, smaller 31, bigger 4".
    QString WatchStatus() const;

    // Start, then every step, calling `progress` after each; stops early, as Cancel,
    // once `cancel` is set (a watched run: its watch ends, and it runs on to its end).
    // The result by value; the engine keeps a copy.
    RunResult RunToEnd(const RunSettings& settings, const Progress& progress = {},
                       const std::atomic<bool>* cancel = nullptr);

    bool Running() const { return result.end == RunEnd::Running && mode != nullptr; }
    const RunResult& Result() const { return result; }
    const RunSettings& Settings() const { return settings; }
    int Cursor() const;
    int ProgressPercent() const;

    // How often a watched folder is looked at, and how long a step that has nothing to do
    // waits before it returns.
    static constexpr std::chrono::milliseconds kLookPause{100};
    static constexpr std::chrono::milliseconds kWaitPause{40};

private:
    // Frame 0 read, the size known, the decoding started; false with the error set.
    bool BeginFrames(CCountingMode& counting);
    // A watched run before its step: a report when the step is to wait for frames or the run
    // cannot go on; none when the mode may step.
    std::optional<StepReport> WatchStep();
    // One look at the watched folder; the last one ends the watch.
    void LookAtFolder(bool last);
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
    std::unique_ptr<CFolderWatch> watch;  // while a watched run's watch goes on
    std::atomic<bool> watchEnd{false};
    bool begun = false;  // the mode has begun: frame 0 was there and read
    CFolderWatch::Clock::time_point nextLook;
};
