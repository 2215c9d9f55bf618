// Speed of the background detection (segmentation method 4) on a generated 1024 x 1024
// frame of about 150 blurred particles placed at random (touching and overlapping),
// against decoding the same PNG with cv::imread, medians measured in one run, the two
// interleaved so that both see the same load. Target: detection / decode <= 2.

#include "bench/bench_support.h"
#include "toolkit/background_detection.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

int main()
{
    const int runs = 31;
    flowgen::FlowSettings s;
    s.width = s.height = 1024;
    s.frames = 2;
    s.shifts = flowgen::ConstantShifts(2, 300);
    s.seed = 5;
    s.density = 1.45;
    s.randomPlacement = true;
    s.blurSigma = 1.0;
    s.noise = 2.0;
    s.gradient = 0.3;
    const flowgen::Flow flow = flowgen::GenerateFlow(s);
    const cv::Mat frame = flowgen::RenderFrame(flow, 1);
    const std::string path =
        (std::filesystem::temp_directory_path() / ("tessel_bgseg_bench_" + std::to_string(getpid()) + ".png")).string();
    if (!cv::imwrite(path, frame)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    cv::Mat grey = cv::imread(path, cv::IMREAD_GRAYSCALE);  // warm-up
    BackgroundDetection detection = SegmentParticlesBackground(grey);
    std::vector<double> decode, detect;
    for (int i = 0; i < runs; ++i) {
        decode.push_back(bench::MedianMs([&] { grey = cv::imread(path, cv::IMREAD_GRAYSCALE); }, 1));
        detect.push_back(bench::MedianMs([&] { detection = SegmentParticlesBackground(grey); }, 1));
    }
    std::filesystem::remove(path);
    int split = 0;
    size_t drawn = 0;
    for (const ParticleBlob& b : detection.blobs)
        split += b.group >= 0;
    for (const flowgen::VisibleGroup& g : flowgen::GroupsInFrame(flow, 1))
        drawn += g.ids.size();
    std::printf("frame 1024 x 1024, %zu particles in view, %zu found (%d split from merged blobs), "
                "blur %.2f measured on %d\n",
                drawn, detection.blobs.size(), split, detection.blurSigma, detection.blurParticles);
    const double a = bench::Median(decode), b = bench::Median(detect);
    std::printf("median of %d runs, ms: imread %.2f | SegmentParticlesBackground %.2f\n", runs, a, b);
    std::printf("ratio detection / imread: %.2f (target <= 2)\n", b / a);
    return 0;
}
