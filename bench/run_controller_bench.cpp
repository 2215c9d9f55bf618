// How responsive the window's thread stays while the register manager runs a count: the
// longest gap between two turns of its event loop during a run over a generated sequence (by
// default 40 PNG frames of 1024 x 1024), in each counting mode and with the counting line's
// in-step method too. A heartbeat timer of 1 ms stands for the window's own events (a click,
// a repaint): every gap between its timeouts beyond 1 ms is time the loop could not turn.
// The register hands each step to a thread of its own; for comparison the same run stepped
// on the window's thread from a timer, one step per tick (as the register did before).
// Reported against decoding one frame with cv::imread, all measured in this run. Target: the
// register's longest gap at most 3 frame decodes.
//
// Usage: run_controller_bench [FRAMES [SIZE]]

#include "bench/bench_support.h"
#include "register/mivo_register_manager.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using bench::Clock;
using bench::Median;

namespace {

struct Gaps {
    double longestMs = 0;
    double p99Ms = 0;
    double medianMs = 0;
    double runSeconds = 0;
};

// The engine stepped on this thread, one step per tick of a timer at interval 0.
class CTimerStepping : public QObject {
public:
    explicit CTimerStepping(QEventLoop& loop)
    {
        connect(&timer, &QTimer::timeout, this, [this, &loop] {
            if (engine.Step().finished) {
                timer.stop();
                loop.quit();
            }
        });
    }
    bool Begin(const RunSettings& settings)
    {
        if (!engine.Start(settings))
            return false;
        timer.start(0);
        return true;
    }

private:
    CRunEngine engine;
    QTimer timer;
};

// Runs the count over the frames under an event loop with a 1 ms heartbeat, on the
// register's step thread or on this thread; the gaps between heartbeats.
Gaps StepWithHeartbeat(const RunSettings& settings, bool onThisThread)
{
    QEventLoop loop;
    CMivoRegisterManager manager;
    QObject::connect(&manager, &CMivoRegisterManager::signalMReg_finishCounting, &loop, &QEventLoop::quit);
    CTimerStepping stepping(loop);
    std::vector<double> gaps;
    Clock::time_point last = Clock::now();
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, &loop, [&] {
        const Clock::time_point now = Clock::now();
        gaps.push_back(std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    });
    const Clock::time_point start = Clock::now();
    if (!(onThisThread ? stepping.Begin(settings) : manager.BeginProcessing(settings)))
        return {};
    heartbeat.start();
    last = Clock::now();
    loop.exec();
    Gaps result;
    result.runSeconds = bench::Seconds(start);
    std::sort(gaps.begin(), gaps.end());
    if (!gaps.empty()) {
        result.longestMs = gaps.back();
        result.p99Ms = gaps[gaps.size() * 99 / 100];
        result.medianMs = gaps[gaps.size() / 2];
    }
    return result;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? std::atoi(argv[1]) : 40;
    const int size = argc > 2 ? std::atoi(argv[2]) : 1024;
    if (frames < 6 || size < 64) {
        std::fprintf(stderr, "usage: run_controller_bench [FRAMES>=6 [SIZE>=64]]\n");
        return 2;
    }
    flowgen::FlowSettings flowSettings = bench::DenseFlow(frames, size);
    flowSettings.randomPlacement = true;  // the counting line's flow of register_bench
    flowSettings.blurSigma = 1.0;
    flowSettings.density = 1.6;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tessel_run_controller_bench_" + std::to_string(getpid()));
    std::string error;
    if (!flowgen::WriteFlow(flowgen::GenerateFlow(flowSettings), folder.string(), "png", &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const std::filesystem::path caller = std::filesystem::current_path();
    std::filesystem::current_path(folder);  // the log

    std::vector<double> decodes;
    for (int t = 0; t < frames; ++t) {
        const Clock::time_point start = Clock::now();
        cv::imread((folder / flowgen::FrameFileName(t, frames, "png")).string(), cv::IMREAD_GRAYSCALE);
        decodes.push_back(1000.0 * bench::Seconds(start));
    }
    const double decodeMs = Median(decodes);
    std::printf("%d frames of %d x %d; decoding one frame: %.1f ms (median)\n", frames, size, size, decodeMs);

    const struct {
        const char* name;
        CountingMode mode;
        int method;
    } runs[] = {{"counting line, Background (detected on the workers)", CountingMode::CountingLine, kMethodBackground},
                {"counting line, Frame Diff (detected in the step)", CountingMode::CountingLine, kMethodFrameDiff},
                {"frames of interest, Frame Diff", CountingMode::FramesOfInterest, kMethodFrameDiff}};
    bool met = true;
    for (const auto& run : runs) {
        RunSettings settings;
        settings.folder = QString::fromStdString(folder.string());
        for (int t = 0; t < frames; ++t)
            settings.frameNames << QString::fromStdString(flowgen::FrameFileName(t, frames, "png"));
        settings.mode = run.mode;
        settings.method = run.method;
        std::printf("%s:\n", run.name);
        for (const bool onThisThread : {false, true}) {
            const Gaps gaps = StepWithHeartbeat(settings, onThisThread);
            const double ratio = gaps.longestMs / decodeMs;
            if (!onThisThread)
                met = met && ratio <= 3.0;
            std::printf("  %s: run %.2f s; gaps between events: median %.1f ms, 99th percentile %.1f ms, longest "
                        "%.1f ms = %.2f frame decodes%s\n",
                        onThisThread ? "stepped on the window's thread" : "register, steps on their thread  ",
                        gaps.runSeconds, gaps.medianMs, gaps.p99Ms, gaps.longestMs, ratio,
                        onThisThread ? "" : " (target <= 3)");
        }
    }
    std::filesystem::current_path(caller);
    std::filesystem::remove_all(folder);
    return met ? 0 : 1;
}
