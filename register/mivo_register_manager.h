#pragma once

#include "register/run_engine.h"

#include <QString>
#include <QThread>
#include <QThreadPool>

class QTimer;

// The register of frames of interest: frames chosen so that, laid side by side, they
// cover the flow once. A run measures the shift between consecutive frames, selects
// a frame each time the shifts add up to one frame width, counts the particles of
// every selected frame and finally those of the new strip of the last frame (or, in the
// counting-line mode, counts every particle once where it crosses a line).
//
// The register is the window's run controller: the stepping face of the run engine
// (run_engine.h). Its timer, a child at interval 0 on the caller's thread, calls one engine
// step per tick, so that the window stays responsive between steps and its commands never
// meet a step half done; each step's progress goes out as a status text, the end of a
// finished run as signalMReg_finishCounting, after which Settings() and Result() hold the
// run. Every number shown of the run is a function of those two (run_numbers.h). The
// class is a QThread only by descent: no thread of its own is started; the
// engine decodes frames ahead on worker threads, which a reset, a new run, StopProcessing
// and the destructor stop and join.
class CMivoRegisterManager : public QThread {
    Q_OBJECT

signals:
    // Progress ("[Process] ...") and errors ("[ERRO] ...") for the status bar.
    void signalMReg_showInStatusBar(QString text);
    // Emitted once at the end of a finished run.
    void signalMReg_finishCounting();
    // Emitted instead when the run stopped part-way for lack of memory ("[ERRO] ...").
    void signalMReg_runFailed(QString error);

public slots:
    // One pipeline step; the timer calls it until the run ends.
    void slot_createFullImage();

public:
    explicit CMivoRegisterManager(QObject* parent = nullptr);
    ~CMivoRegisterManager() override;

    // Stops a run in progress and forgets the last run's result.
    void ResetRegister();
    // Starts a run of the engine with the settings and its timer. False, with an
    // "[ERRO] ..." status text and no run, when the settings hold no frames or frame 0
    // cannot be read: without its size nothing can be measured.
    bool BeginProcessing(const RunSettings& settings);
    // Stops a run between two steps: the timer, and the engine's decoding. What the run had
    // done stays in Result(); foiReady stays false.
    void StopProcessing();
    bool Running() const;
    // A watched folder's run (RunSettings::watch): ends its watch, and the run goes on to
    // its end with the frames complete by then (signalMReg_finishCounting as any run).
    void EndWatch() { engine.EndWatch(); }
    // The counters over what the run counted so far; between steps only (in a slot of
    // signalMReg_showInStatusBar, say).
    ParticleCounts CountsSoFar() const { return engine.CountsSoFar(); }

    // The run begun last: its settings, and its result as far as it went.
    const RunSettings& Settings() const { return engine.Settings(); }
    const RunResult& Result() const { return engine.Result(); }
    // Share of the run's steps done, 0 to 100, never falling; 100 once it has finished.
    int ProgressPercent() const;

    // The run begun last has finished: Result() is complete.
    bool foiReady = false;

private:
    // The report of a step of run `run`, back on the register's thread.
    void StepDone(quint64 run, const StepReport& report);

    QTimer* timer;
    CRunEngine engine;
    QThreadPool stepThread;  // one thread: the steps of a run one after the other
    quint64 runNumber = 0;   // counts runs begun and stopped: a late report of an old one is dropped
    bool stepping = false;   // a step is under way on stepThread
};
