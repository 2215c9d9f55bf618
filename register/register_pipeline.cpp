// The register's run, as the run engine steps it: one engine step at a time on the step
// thread, its report shown on the register's thread, then the next step; the finish signal
// after the last.

#include "register/mivo_register_manager.h"

#include <QTimer>

CMivoRegisterManager::CMivoRegisterManager(QObject* parent)
    : QThread(parent)
    , timer(new QTimer(this))
{
    stepThread.setMaxThreadCount(1);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &CMivoRegisterManager::slot_createFullImage);
}

CMivoRegisterManager::~CMivoRegisterManager()
{
    StopProcessing();
}

void CMivoRegisterManager::StopProcessing()
{
    timer->stop();
    ++runNumber;
    // The engine is the step's until it returns: at most one frame's work.
    stepThread.waitForDone();
    stepping = false;
    engine.Cancel();
}

void CMivoRegisterManager::ResetRegister()
{
    StopProcessing();
    foiReady = false;
}

bool CMivoRegisterManager::BeginProcessing(const RunSettings& settings)
{
    ResetRegister();
    const bool started = engine.Start(settings);
    if (!started) {
        emit signalMReg_showInStatusBar(engine.Result().error);
        return false;
    }
    timer->start(0);
    return true;
}

bool CMivoRegisterManager::Running() const
{
    return timer->isActive() || stepping;
}

void CMivoRegisterManager::slot_createFullImage()
{
    // Only a started, unfinished run has anything to do, one step at a time.
    if (stepping || !engine.Running())
        return;
    stepping = true;
    const quint64 run = runNumber;
    stepThread.start([this, run] {
        const StepReport report = engine.Step();
        // Queued to the register's thread; dropped if the register is gone by then.
        QMetaObject::invokeMethod(
            this, [this, run, report] { StepDone(run, report); }, Qt::QueuedConnection);
    });
}

void CMivoRegisterManager::StepDone(quint64 run, const StepReport& report)
{
    if (run != runNumber)
        return;  // stopped meanwhile
    stepping = false;
    if (engine.Result().end == RunEnd::Failed) {
        emit signalMReg_runFailed(engine.Result().error);
        return;
    }
    if (!report.status.isEmpty())
        emit signalMReg_showInStatusBar(report.status);
    // A receiver may have stopped the run, or begun another.
    if (run != runNumber)
        return;
    if (!report.finished) {
        timer->start(0);
        return;
    }
    foiReady = true;
    emit signalMReg_finishCounting();
}

int CMivoRegisterManager::ProgressPercent() const
{
    return foiReady ? 100 : engine.ProgressPercent();
}
