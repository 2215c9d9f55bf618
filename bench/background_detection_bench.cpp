// Speed of the background detection (segmentation method 4) on a 1024 x 1024 frame of
// about 150 blurred particles placed at random, against decoding the same PNG with
// cv::imread, medians measured in one run. Target: detection / decode <= 2.

#include "bench/bench_support.h"
#include "bench/particle_field.h"
#include "toolkit/background_detection.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

int main()
{
    const int runs = 21;
    bench::FieldSettings settings;
    settings.size = cv::Size(1024, 1024);
    settings.particles = 150;
    settings.blur = 1.0;
    settings.noise = 2.0;
    settings.gradient = 0.3;
    settings.overlap = true;
    const bench::Field field = bench::DrawField(settings);
    const std::string path =
        (std::filesystem::temp_directory_path() / ("tessel_bgseg_bench_" + std::to_string(getpid()) + ".png")).string();
    if (!cv::imwrite(path, field.grey)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    cv::Mat grey = cv::imread(path, cv::IMREAD_GRAYSCALE);  // warm-up
    const double decode = bench::MedianMs([&] { grey = cv::imread(path, cv::IMREAD_GRAYSCALE); }, runs);
    BackgroundDetection detection;
    const double detect = bench::MedianMs([&] { detection = SegmentParticlesBackground(grey); }, runs);
    std::printf("frame 1024 x 1024, %zu particles drawn, %zu found, blur %.2f measured on %d\n", field.particles.size(),
                detection.blobs.size(), detection.blurSigma, detection.blurParticles);
    std::printf("median of %d runs, ms: imread %.2f | SegmentParticlesBackground %.2f\n", runs, decode, detect);
    std::printf("ratio detection / imread: %.2f (target <= 2)\n", detect / decode);
    std::filesystem::remove(path);
    return 0;
}
