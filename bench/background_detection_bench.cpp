// Speed of the background detection (segmentation method 4's particles alone,
// DetectParticlesBackground, as the counting-line run asks for them) on generated 1024 x 1024
// frames of blurred particles placed at random (touching and overlapping), about 150 in
// view (with an illumination gradient) and about 280 (the dense flow of
// crossing_speed_bench), against decoding the same PNG with cv::imread: medians measured
// in one run, the two interleaved so that both see the same load. Once with OpenCV's own
// threads as they are, once with cv::setNumThreads(1) (the counting-line run detects on
// two workers at once, which leaves OpenCV's threads nothing but competition).
// Targets: detection / decode <= 1.4 at ~150 particles, <= 2.2 at ~280.
//
// Usage: background_detection_bench [RUNS]        (default 31)
//        background_detection_bench --profile N   N detections of the denser frame alone,
//                                                 one thread, for perf or callgrind

#include "bench/bench_support.h"
#include "toolkit/background_detection.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Frame {
    flowgen::FlowSettings settings;
    double target;
};

std::vector<Frame> Frames()
{
    flowgen::FlowSettings sparse;
    sparse.width = sparse.height = 1024;
    sparse.frames = 2;
    sparse.shifts = flowgen::ConstantShifts(2, 300);
    sparse.seed = 5;
    sparse.density = 1.45;
    sparse.randomPlacement = true;
    sparse.blurSigma = 1.0;
    sparse.noise = 2.0;
    sparse.gradient = 0.3;
    flowgen::FlowSettings dense = bench::DenseFlow(2, 1024);
    dense.randomPlacement = true;
    dense.blurSigma = 1.0;
    return {{sparse, 1.4}, {dense, 2.2}};
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "--profile") == 0) {
        cv::setNumThreads(1);
        const cv::Mat grey = flowgen::RenderFrame(flowgen::GenerateFlow(Frames()[1].settings), 1);
        std::vector<double> cpu;
        size_t found = 0;
        for (int i = std::atoi(argv[2]); i > 0; --i) {
            const double start = bench::CpuMs();
            found = DetectParticlesBackground(grey).size();
            cpu.push_back(bench::CpuMs() - start);
        }
        std::printf("%zu particles found, median CPU time %.2f ms\n", found, bench::Median(cpu));
        return 0;
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 31;
    const int defaultThreads = cv::getNumThreads();
    for (const Frame& d : Frames()) {
        const flowgen::Flow flow = flowgen::GenerateFlow(d.settings);
        const cv::Mat frame = flowgen::RenderFrame(flow, 1);
        const std::string path =
            (std::filesystem::temp_directory_path() / ("tessel_bgseg_bench_" + std::to_string(getpid()) + ".png"))
                .string();
        if (!cv::imwrite(path, frame)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        size_t drawn = 0;
        for (const flowgen::VisibleGroup& g : flowgen::GroupsInFrame(flow, 1))
            drawn += g.ids.size();
        for (const int threads : {defaultThreads, 1}) {
            cv::setNumThreads(threads);
            cv::Mat grey = cv::imread(path, cv::IMREAD_GRAYSCALE);                   // warm-up
            const BackgroundDetection detection = SegmentParticlesBackground(grey);  // for the figures below
            ParticleBlobs blobs;
            std::vector<double> decode, detect;
            for (int i = 0; i < runs; ++i) {
                decode.push_back(bench::MedianMs([&] { grey = cv::imread(path, cv::IMREAD_GRAYSCALE); }, 1));
                detect.push_back(bench::MedianMs([&] { blobs = DetectParticlesBackground(grey); }, 1));
            }
            int split = 0;
            for (const ParticleBlob& b : detection.blobs)
                split += b.group >= 0;
            const double a = bench::Median(decode), b = bench::Median(detect);
            std::printf("1024 x 1024, %3zu particles in view, %3zu found (%2d split), blur %.2f on %2d | OpenCV "
                        "threads %d | median of %d, ms: imread %6.2f, detection %6.2f | ratio %.2f (target <= %.1f)\n",
                        drawn, detection.blobs.size(), split, detection.blurSigma, detection.blurParticles, threads,
                        runs, a, b, b / a, d.target);
        }
        cv::setNumThreads(defaultThreads);
        std::filesystem::remove(path);
    }
    return 0;
}
