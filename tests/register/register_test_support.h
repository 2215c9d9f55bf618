#pragma once

// Shared set-up of the register tests: generated flows written as PNG frames, and runs of
// the engine.

#include "register/mivo_register_manager.h"
#include "register/run_engine.h"
#include "register/run_stream.h"
#include "tools/flowgen/flowgen.h"

#include <QFile>
#include <QTemporaryDir>

// The generated flow as PNG frames in `folder`.
inline bool WritePngFlow(const flowgen::Flow& flow, const QString& folder)
{
    return flowgen::WriteFlow(flow, QFile::encodeName(folder).toStdString(), "png", nullptr);
}

inline flowgen::Flow GeneratedFlow(int frames, const std::vector<int>& shifts, unsigned seed = 1, double density = 1.5)
{
    flowgen::FlowSettings settings;
    settings.frames = frames;
    settings.seed = seed;
    settings.density = density;
    settings.shifts = shifts;
    return flowgen::GenerateFlow(settings);
}

// 640 x 480 frames at the generator's defaults; shifts of frames 1, 2, ... repeat the pattern.
struct WrittenFlow {
    flowgen::Flow flow;
    QTemporaryDir dir;
    QStringList names;
    bool Make(int frames, const std::vector<int>& pattern, unsigned seed = 1)
    {
        flow = GeneratedFlow(frames, flowgen::PatternShifts(frames, pattern), seed);
        for (int t = 0; t < frames; ++t) names << QString::fromStdString(flowgen::FrameFileName(t, frames, "png"));
        return dir.isValid() && WritePngFlow(flow, dir.path());
    }
    QString Folder() const { return dir.path(); }
    std::string Path(int t) const { return (dir.path() + '/' + names[t]).toStdString(); }
};

// The settings of the window's "Calculate FoI" at the default range.
inline RunSettings Settings(const QString& folder, const QStringList& names, int method = 3, int threads = 2)
{
    RunSettings settings;
    settings.folder = folder;
    settings.frameNames = names;
    settings.method = method;
    settings.decodeThreads = threads;
    return settings;
}

// A run of the engine to its end, and the frames it read.
struct Run {
    RunSettings settings;
    RunResult result;
    CVideoStream frames;
    explicit Run(const RunSettings& runSettings)
        : settings(runSettings)
    {
        CRunEngine engine;
        result = engine.RunToEnd(settings);
        SetUpStream(frames, settings, &result);
    }
    bool Finished() const { return result.end == RunEnd::Finished; }
};

// The whole file as text; empty when it cannot be read.
inline QString ReadText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Overwrites a file with bytes no image decoder accepts.
inline bool Spoil(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write("not an image") > 0;
}
