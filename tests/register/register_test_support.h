#pragma once

// Shared set-up of the register tests: generated flows written as PNG frames, and a run as
// the window drives it.

#include "register/mivo_register_manager.h"
#include "tools/flowgen/flowgen.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

// 640 x 480 frames at the generator's defaults; shifts of frames 1, 2, ... repeat the pattern.
struct WrittenFlow {
    flowgen::Flow flow;
    QTemporaryDir dir;
    QStringList names;
    bool Make(int frames, const std::vector<int>& pattern, unsigned seed = 1)
    {
        flowgen::FlowSettings settings;
        settings.frames = frames;
        settings.seed = seed;
        settings.shifts = flowgen::PatternShifts(frames, pattern);
        flow = flowgen::GenerateFlow(settings);
        for (int t = 0; t < frames; ++t) names << QString::fromStdString(flowgen::FrameFileName(t, frames, "png"));
        return dir.isValid() && flowgen::WriteFlow(flow, dir.path().toStdString(), "png", nullptr);
    }
    QString Folder() const { return dir.path(); }
    std::string Path(int t) const { return (dir.path() + '/' + names[t]).toStdString(); }
};

// The window's "Calculate FoI" (reset, new stream, area bounds, every frame, begin), the
// event loop up to the finish signal, and the end-of-run recount.
inline bool RunToEnd(CMivoRegisterManager& reg, const QString& folder, const QStringList& names)
{
    QSignalSpy finished(&reg, &CMivoRegisterManager::signalMReg_finishCounting);
    reg.ResetRegister();
    reg.StartSequence(folder);
    reg.stream->minArea = 25;
    reg.stream->maxArea = 100;
    for (const QString& name : names) reg.stream->AddFrame(name.toStdString());
    if (!reg.BeginProcessing() || !finished.wait(60000)) return false;
    reg.UpdateRangeFlags();
    reg.CountFoIParticles();
    return true;
}

// Overwrites a file with bytes no image decoder accepts.
inline bool Spoil(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write("not an image") > 0;
}
