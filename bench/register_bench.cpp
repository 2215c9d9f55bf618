// The whole headless count of a generated sequence (by default 200 PNG frames of
// 1024 x 1024, about 300 particles each, shift 160) against decoding every frame once
// with cv::imread, both measured in this run, alternately, median of the repeats.
// Target: run / decode <= 1.5.
//
// Usage: register_bench [FRAMES [SIZE [REPEATS]]]

#include "bench/bench_support.h"
#include "register/mivo_register_manager.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using bench::Clock;
using bench::Median;
using bench::Seconds;

namespace {

// What the headless counter does between listing the folder and writing its outputs.
void CountFolder(const std::string& folder, const std::vector<std::string>& names, CMivoRegisterManager& reg)
{
    QEventLoop loop;
    const auto connection =
        QObject::connect(&reg, &CMivoRegisterManager::signalMReg_finishCounting, &loop, &QEventLoop::quit);
    reg.ResetRegister();
    reg.StartSequence(QString::fromStdString(folder));
    reg.stream->minArea = 25;
    reg.stream->maxArea = 100;
    for (const std::string& name : names)
        reg.stream->AddFrame(name);
    if (reg.BeginProcessing())
        loop.exec();
    reg.UpdateRangeFlags();
    reg.CountFoIParticles();
    QObject::disconnect(connection);
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? std::atoi(argv[1]) : 200;
    const int size = argc > 2 ? std::atoi(argv[2]) : 1024;
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 3;
    if (frames < 6 || size < 64 || repeats < 1) {
        std::fprintf(stderr, "usage: register_bench [FRAMES>=6 [SIZE>=64 [REPEATS>=1]]]\n");
        return 2;
    }

    const flowgen::FlowSettings settings = bench::DenseFlow(frames, size);
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tessel_register_bench_" + std::to_string(getpid()));
    std::string error;
    auto start = Clock::now();
    if (!flowgen::WriteFlow(flowgen::GenerateFlow(settings), folder.string(), "png", &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("%d frames of %d x %d written in %.1f s\n", frames, size, size, Seconds(start));
    std::vector<std::string> names;
    for (int t = 0; t < frames; ++t)
        names.push_back(flowgen::FrameFileName(t, frames, "png"));

    // The log goes to the working directory; keep it out of the caller's.
    const std::filesystem::path caller = std::filesystem::current_path();
    std::filesystem::current_path(folder);

    CMivoRegisterManager reg;
    std::vector<double> decodes;
    std::vector<double> runs;
    size_t pixels = 0;
    for (int r = 0; r < repeats; ++r) {
        start = Clock::now();
        for (const std::string& name : names)
            pixels += cv::imread((folder / name).string(), cv::IMREAD_GRAYSCALE).total();
        decodes.push_back(Seconds(start));
        start = Clock::now();
        CountFolder(folder.string(), names, reg);
        runs.push_back(Seconds(start));
    }
    const double decode = Median(decodes);
    const double run = Median(runs);
    std::printf("frames of interest %zu, particle records %zu (single %d, bigger %d, smaller %d)\n",
                reg.selectedFrames.size(), reg.foiParticles.size(), reg.countInRange, reg.countGreater,
                reg.countSmaller);
    std::printf("median of %d: decode all frames %.3f s | whole run %.3f s (%.1f ms per frame)\n", repeats, decode, run,
                1000.0 * run / frames);
    std::printf("ratio whole run / decode: %.2f (target <= 1.5)\n", run / decode);

    std::filesystem::current_path(caller);
    std::filesystem::remove_all(folder);
    return pixels > 0 ? 0 : 1;
}
