#include "register_test_support.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

ScopedWorkingDir::ScopedWorkingDir() : previous(QDir::currentPath()) {
    QDir::setCurrent(dir.path());
}

ScopedWorkingDir::~ScopedWorkingDir() {
    QDir::setCurrent(previous);
}

QStringList ScopedWorkingDir::LogLines() const {
    QFile log(dir.filePath(QStringLiteral("log_KOV.txt")));
    if (!log.open(QIODevice::ReadOnly)) return {};
    return QString::fromLocal8Bit(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

flowgen::FlowSettings FlowOf(int frames, const std::vector<int>& shiftPattern, unsigned seed) {
    flowgen::FlowSettings settings;
    settings.frames = frames;
    settings.seed = seed;
    settings.shifts = flowgen::PatternShifts(frames, shiftPattern);
    return settings;
}

bool WriteFlow(const flowgen::FlowSettings& settings, WrittenFlow& out) {
    out.flow = flowgen::GenerateFlow(settings);
    if (!out.dir.isValid()) return false;
    std::string error;
    if (!flowgen::WriteFlow(out.flow, out.dir.path().toStdString(), "png", &error)) return false;
    out.names.clear();
    for (int t = 0; t < settings.frames; ++t)
        out.names << QString::fromStdString(flowgen::FrameFileName(t, settings.frames, "png"));
    return true;
}

bool StartRun(CMivoRegisterManager& reg, const QString& folder, const QStringList& names, int minArea,
              int maxArea) {
    reg.ResetRegister();
    reg.StartSequence(folder);
    reg.stream->minArea = minArea;
    reg.stream->maxArea = maxArea;
    for (const QString& name : names) reg.stream->AddFrame(name.toStdString());
    return reg.BeginProcessing();
}

bool RunToEnd(CMivoRegisterManager& reg, const QString& folder, const QStringList& names, int minArea,
              int maxArea, int timeoutMs) {
    QEventLoop loop;
    bool finished = false;
    const auto done = QObject::connect(&reg, &CMivoRegisterManager::signalMReg_finishCounting, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (StartRun(reg, folder, names, minArea, maxArea)) loop.exec();
    QObject::disconnect(done);
    if (!finished) return false;
    reg.UpdateRangeFlags();
    reg.CountFoIParticles();
    return true;
}

bool Spoil(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return file.write("not an image") > 0;
}

ParticleMeasure Record(int frame, int x, int y, int area, double circularity, bool inRange) {
    return ParticleMeasure{frame, y, x, area, 0.8, circularity, inRange};
}
