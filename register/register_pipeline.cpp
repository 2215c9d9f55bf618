// The register's run, as the run engine steps it: one engine step per timer tick, the
// progress after each, the finish signal after the last.

#include "register/mivo_register_manager.h"

#include <QTimer>

CMivoRegisterManager::CMivoRegisterManager(QObject* parent)
    : QThread(parent)
    , timer(new QTimer(this))
{
    connect(timer, &QTimer::timeout, this, &CMivoRegisterManager::slot_createFullImage);
}

CMivoRegisterManager::~CMivoRegisterManager()
{
    StopProcessing();
}

void CMivoRegisterManager::StopProcessing()
{
    timer->stop();
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
    return timer->isActive();
}

void CMivoRegisterManager::slot_createFullImage()
{
    // Only a started, unfinished run has anything to do.
    if (!engine.Running()) {
        timer->stop();
        return;
    }
    const StepReport report = engine.Step();
    if (!report.status.isEmpty())
        emit signalMReg_showInStatusBar(report.status);
    if (!report.finished)
        return;
    foiReady = true;
    // Stopped before the signal, so that a new run started by its receiver keeps its timer.
    timer->stop();
    emit signalMReg_finishCounting();
}

int CMivoRegisterManager::ProgressPercent() const
{
    return foiReady ? 100 : engine.ProgressPercent();
}
