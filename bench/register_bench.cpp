// The whole run of the engine over a generated sequence (by default 100 PNG frames of
// 1024 x 1024, about 300 particles each, shift 160) against decoding every frame once,
// serially, with cv::imread: with the frames decoded ahead on the default worker threads
// (which also detect the counting line's particles), and decoded by the steps themselves
// for comparison. All measured in this run, alternately, median of the repeats.
// Targets: run / decode <= 0.9 for the frames of interest (Frame Diff), <= 1.5 for the
// counting line (Background), whose flow has its particles placed at random (touching
// and overlapping, to be split) and blurred, by default about 150 in view per frame.
//
// Usage: register_bench [FRAMES [SIZE [REPEATS [foi|crossing [DENSITY]]]]]

#include "bench/bench_support.h"
#include "register/run_engine.h"

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using bench::Clock;
using bench::Median;
using bench::Seconds;

namespace {

// What the headless counter does between listing the folder and writing its outputs.
RunResult CountFolder(const std::string& folder, const std::vector<std::string>& names, CountingMode mode, int threads)
{
    RunSettings settings;
    settings.mode = mode;
    settings.method = DefaultMethod(mode);
    settings.folder = QString::fromStdString(folder);
    for (const std::string& name : names)
        settings.frameNames << QString::fromStdString(name);
    settings.minArea = 25;
    settings.maxArea = 100;
    settings.decodeThreads = threads;
    CRunEngine engine;
    return engine.RunToEnd(settings);
}

// Processor time of this process (all its threads) so far, in seconds.
double ProcessorSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

}  // namespace

int main(int argc, char* argv[])
{
    const int frames = argc > 1 ? std::atoi(argv[1]) : 100;
    const int size = argc > 2 ? std::atoi(argv[2]) : 1024;
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 3;
    const std::string modeName = argc > 4 ? argv[4] : "foi";
    if (frames < 6 || size < 64 || repeats < 1 || (modeName != "foi" && modeName != "crossing")) {
        std::fprintf(stderr, "usage: register_bench [FRAMES>=6 [SIZE>=64 [REPEATS>=1 [foi|crossing]]]]\n");
        return 2;
    }
    const CountingMode mode = modeName == "crossing" ? CountingMode::CountingLine : CountingMode::FramesOfInterest;
    const double target = mode == CountingMode::CountingLine ? 1.5 : 0.9;

    flowgen::FlowSettings settings = bench::DenseFlow(frames, size);
    if (mode == CountingMode::CountingLine) {
        settings.randomPlacement = true;
        settings.blurSigma = 1.0;
        settings.density = 1.6;
    }
    if (argc > 5)
        settings.density = std::atof(argv[5]);
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tessel_register_bench_" + std::to_string(getpid()));
    std::string error;
    auto start = Clock::now();
    const flowgen::Flow flow = flowgen::GenerateFlow(settings);
    if (!flowgen::WriteFlow(flow, folder.string(), "png", &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    size_t inView = 0;
    for (const flowgen::VisibleGroup& group : flowgen::GroupsInFrame(flow, frames / 2))
        inView += group.ids.size();
    std::printf("%d frames of %d x %d (%zu particles in view of frame %d) written in %.1f s\n", frames, size, size,
                inView, frames / 2, Seconds(start));
    std::vector<std::string> names;
    for (int t = 0; t < frames; ++t)
        names.push_back(flowgen::FrameFileName(t, frames, "png"));

    // The log goes to the working directory; keep it out of the caller's.
    const std::filesystem::path caller = std::filesystem::current_path();
    std::filesystem::current_path(folder);

    RunResult result;
    std::vector<double> decodes;
    std::vector<double> runs;
    std::vector<double> serialRuns;
    double runProcessor = 0;
    size_t pixels = 0;
    for (int r = 0; r < repeats; ++r) {
        start = Clock::now();
        for (const std::string& name : names)
            pixels += cv::imread((folder / name).string(), cv::IMREAD_GRAYSCALE).total();
        decodes.push_back(Seconds(start));
        start = Clock::now();
        const double processor = ProcessorSeconds();
        result = CountFolder(folder.string(), names, mode, count_defaults::kDecodeThreads);
        runs.push_back(Seconds(start));
        runProcessor += ProcessorSeconds() - processor;
        start = Clock::now();
        CountFolder(folder.string(), names, mode, 0);
        serialRuns.push_back(Seconds(start));
    }
    const double decode = Median(decodes);
    const double run = Median(runs);
    const double serial = Median(serialRuns);
    std::printf("%s: %s %zu, particle records %zu (single %d, bigger %d, smaller %d)\n", modeName.c_str(),
                mode == CountingMode::CountingLine ? "frames that counted" : "frames of interest",
                result.selectedFrames.size(), result.records.size(), result.countInRange, result.countGreater,
                result.countSmaller);
    std::printf("median of %d: decode all frames %.3f s | whole run %.3f s (%.1f ms per frame) | decoded by the "
                "steps %.3f s\n",
                repeats, decode, run, 1000.0 * run / frames, serial);
    // Well below 2: the machine's other work held a core much of the time.
    double runWall = 0;
    for (double seconds : runs)
        runWall += seconds;
    std::printf("cores busy with the run (processor time / wall time): %.2f\n", runProcessor / runWall);
    std::printf("ratio whole run / decode: %.2f (target <= %.1f); decoded by the steps: %.2f\n", run / decode, target,
                serial / decode);

    std::filesystem::current_path(caller);
    std::filesystem::remove_all(folder);
    return pixels > 0 ? 0 : 1;
}
