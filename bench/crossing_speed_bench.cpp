// Costs of the counting-line count per frame against decoding the same frame: the
// detection (a pure function of the frame, which the run spreads over the cores) and the
// sequential part (motion, linking, counting), on generated 1024 x 1024 PNG frames with
// about 300 particles placed at random (DENSITY 2.9; register_bench's counting line draws
// 1.6, about 170), all medians measured in this run.
//
// Usage: crossing_speed_bench [FRAMES [SIZE [DENSITY]]]

#include "bench/bench_support.h"
#include "stream/blob_detection.h"
#include "stream/crossing_counter.h"
#include "tools/flowgen/truth_blobs.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using bench::MedianMs;

int main(int argc, char* argv[])
{
    const int frames = argc > 1 ? std::atoi(argv[1]) : 12;
    const int size = argc > 2 ? std::atoi(argv[2]) : 1024;
    if (frames < 3 || size < 64) {
        std::fprintf(stderr, "usage: crossing_speed_bench [FRAMES>=3 [SIZE>=64 [DENSITY]]]\n");
        return 2;
    }
    flowgen::FlowSettings settings = bench::DenseFlow(frames, size);
    settings.randomPlacement = true;
    settings.blurSigma = 1.0;
    if (argc > 3)
        settings.density = std::atof(argv[3]);
    const flowgen::Flow flow = flowgen::GenerateFlow(settings);
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tessel_crossing_speed_" + std::to_string(getpid()));
    std::string error;
    if (!flowgen::WriteFlow(flow, folder.string(), "png", &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::vector<std::string> paths;
    std::vector<cv::Mat> grey;
    for (int t = 0; t < frames; ++t) {
        paths.push_back((folder / flowgen::FrameFileName(t, frames, "png")).string());
        grey.push_back(cv::imread(paths.back(), cv::IMREAD_GRAYSCALE));
    }
    std::printf("%d frames of %d x %d, %zu particles in frame 1\n", frames, size, size,
                flowgen::TruthBlobs(flow, 1).size());

    const int runs = 9;
    cv::Mat decoded;
    const double decode = MedianMs([&] { decoded = cv::imread(paths[1], cv::IMREAD_GRAYSCALE); }, runs);
    std::printf("decode one PNG frame:            %7.2f ms\n", decode);
    std::vector<ParticleBlobs> blobs;
    for (int method : {1, 2, 3, 4}) {
        ParticleBlobs found;
        const double ms = MedianMs([&] { found = DetectParticlesByMethod(grey[1], method, grey[0], grey[2]); }, runs);
        std::printf("detection, method %d:             %7.2f ms  = %.2f x decode (%zu blobs)\n", method, ms,
                    ms / decode, found.size());
    }
    for (int t = 0; t < frames; ++t)
        blobs.push_back(DetectParticlesByMethod(grey[static_cast<size_t>(t)], 4));

    CrossingSettings cs;
    cs.frameWidth = size;
    cs.frameHeight = size;
    size_t records = 0;
    const double run = MedianMs(
        [&] {
            CrossingCounter counter(cs);
            for (int t = 0; t < frames; ++t)
                records += counter.AddFrame(t, blobs[static_cast<size_t>(t)]).size();
            records += counter.Finish().size();
        },
        runs);
    std::printf("sequential part per frame:       %7.2f ms  = %.3f x decode (method 4 blobs, %zu records a run)\n",
                run / frames, run / frames / decode, records / runs);
    std::filesystem::remove_all(folder);
    return 0;
}
