#pragma once

#include "register/mivo_register_manager.h"
#include "tools/flowgen/flowgen.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <string>
#include <vector>

// Every test case runs in its own temporary working directory, where the register
// writes its log; the previous directory comes back at the end.
class ScopedWorkingDir {
public:
    ScopedWorkingDir();
    ~ScopedWorkingDir();
    ScopedWorkingDir(const ScopedWorkingDir&) = delete;
    ScopedWorkingDir& operator=(const ScopedWorkingDir&) = delete;
    QString Path() const { return dir.path(); }
    // Lines of "log_KOV.txt" written so far.
    QStringList LogLines() const;

private:
    QTemporaryDir dir;
    QString previous;
};

// A generated flow written as PNG frames into a temporary folder.
struct WrittenFlow {
    flowgen::Flow flow;
    QTemporaryDir dir;
    QStringList names;
    QString Folder() const { return dir.path(); }
    std::string Path(int t) const { return (dir.path() + QLatin1Char('/') + names[t]).toStdString(); }
};

// 640 x 480 frames at the generator's defaults (density 1.5) with the given shifts of
// frames 1, 2, ... (repeated).
flowgen::FlowSettings FlowOf(int frames, const std::vector<int>& shiftPattern, unsigned seed = 1);
bool WriteFlow(const flowgen::FlowSettings& settings, WrittenFlow& out);

// The window's "Calculate FoI": reset, new stream, bounds, every frame, begin; then
// runs the event loop until the finish signal (false when the run did not start or
// did not finish within the time-out) and recounts like the end-of-run slot.
bool RunToEnd(CMivoRegisterManager& reg, const QString& folder, const QStringList& names, int minArea = 25,
              int maxArea = 100, int timeoutMs = 60000);
// The same without waiting: true when BeginProcessing started the run.
bool StartRun(CMivoRegisterManager& reg, const QString& folder, const QStringList& names, int minArea = 25,
              int maxArea = 100);

// Overwrites a file with bytes no image decoder accepts.
bool Spoil(const std::string& path);

// Hand-made record.
ParticleMeasure Record(int frame, int x, int y, int area, double circularity, bool inRange);
