// Transition measure and particle counts on a generated 1024 x 1024 PNG frame with
// about 300 particles, against decoding the same PNG with cv::imread. The stream
// reads its frames itself, so its processing time is its whole call minus the
// decodes it makes (one frame; three for the frame-difference count), all medians
// measured in this run. Targets: transition processing / decode <= 0.5, count
// processing / decode <= 1.0 for each method.

#include "bench/bench_support.h"
#include "stream/video_stream.h"
#include "toolkit/labelling.h"
#include "toolkit/margins.h"
#include "toolkit/particle_measure.h"
#include "toolkit/segmentation.h"
#include "tools/flowgen/flowgen.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using bench::MedianMs;

int main()
{
    const int runs = 31;
    const flowgen::FlowSettings settings = bench::DenseFlow(4, 1024);
    const flowgen::Flow flow = flowgen::GenerateFlow(settings);

    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tessel_stream_bench_" + std::to_string(getpid()));
    std::string error;
    if (!flowgen::WriteFlow(flow, folder.string(), "png", &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    CVideoStream stream;
    stream.SetFolder(folder.string());
    for (int t = 0; t < settings.frames; ++t)
        stream.AddFrame(flowgen::FrameFileName(t, settings.frames, "png"));
    stream.minArea = 25;
    stream.maxArea = 100;
    if (!stream.PrepareFirstFrame())
        return 1;
    const cv::Mat prepared0 = stream.previousFrame.clone();
    const int frame = 1;
    const size_t particles = flowgen::GroupsInFrame(flow, frame).size();
    const std::string path = stream.FramePath(frame);
    std::printf("frame %d x %d, %zu particles, %.0f kB PNG\n", settings.width, settings.height, particles,
                std::filesystem::file_size(path) / 1024.0);

    cv::Mat grey = cv::imread(path, cv::IMREAD_GRAYSCALE);  // warm-up
    const double decode = MedianMs([&] { grey = cv::imread(path, cv::IMREAD_GRAYSCALE); }, runs);

    FrameShift shift{0, 0};
    std::vector<double> transitionTimes;
    for (int i = 0; i < runs; ++i) {
        stream.previousFrame = prepared0.clone();
        const auto start = std::chrono::steady_clock::now();
        shift = stream.MeasureTransition(frame);
        const auto stop = std::chrono::steady_clock::now();
        transitionTimes.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }
    std::nth_element(transitionTimes.begin(), transitionTimes.begin() + runs / 2, transitionTimes.end());
    const double transition = transitionTimes[static_cast<size_t>(runs / 2)];

    std::printf("median of %d runs, ms: imread %.2f | MeasureTransition %.2f (dx %d, dy %d; true %d)\n", runs, decode,
                transition, shift.dx, shift.dy, flow.shifts[static_cast<size_t>(frame)]);
    std::printf("ratio MeasureTransition processing / imread: %.2f (target <= 0.5)\n", (transition - decode) / decode);

    for (int method : {1, 2, 3}) {
        std::vector<ParticleMeasure> records;
        const double count = MedianMs([&] { records = stream.CountParticles(frame, method); }, runs);
        const int reads = method == 3 ? 3 : 1;
        std::printf("CountParticles method %d: %.2f ms, %zu records; ratio processing / imread: %.2f "
                    "(target <= 1.0)\n",
                    method, count, records.size(), (count - reads * decode) / decode);
    }

    // Where a count spends its time: the steps of method 1 on the decoded frame.
    cv::Mat mask;
    std::vector<cv::Point> centroids;
    const double segment = MedianMs([&] { mask = SegmentOtsu(grey); }, runs);
    const double margins = MedianMs([&] { ClearMargins(mask, 0, 0, 0, 0); }, runs);
    cv::Mat opened;
    const double opening = MedianMs(
        [&] {
            cv::morphologyEx(mask, opened, cv::MORPH_OPEN, stream.kernel3x3, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                             cv::morphologyDefaultBorderValue());
        },
        runs);
    cv::Mat kept;
    const double filter = MedianMs([&] { kept = FilterComponentsBySize(opened, 10, 3 * stream.maxArea); }, runs);
    const double centres = MedianMs([&] { centroids = ComputeLabelCentroids8(kept); }, runs);
    const double measure = MedianMs(
        [&] {
            for (const cv::Point& c : centroids) {
                const int r = stream.minArea;
                const cv::Rect box(cv::Point(std::max(c.x - r, 0), std::max(c.y - r, 0)),
                                   cv::Point(std::min(stream.frameWidth - 1, c.x + r) + 1,
                                             std::min(stream.frameHeight - 1, c.y + r) + 1));
                MeasureParticle(kept(box), frame, c.y, c.x, stream.minArea, stream.maxArea);
            }
        },
        runs);
    std::printf("method 1 steps, ms: SegmentOtsu %.2f | ClearMargins %.2f | opening %.2f | "
                "FilterComponentsBySize %.2f | ComputeLabelCentroids8 %.2f | MeasureParticle x %zu %.2f\n",
                segment, margins, opening, filter, centres, centroids.size(), measure);

    std::filesystem::remove_all(folder);
    return 0;
}
