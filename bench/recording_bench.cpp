// The whole run of the engine over one generated flow (by default 100 frames of 1024 x
// 1024) as a folder of PNG frames, as an uncompressed TIFF stack and as an FFV1 video,
// measured alternately in this run, median of the repeats. The stack's pages are read
// on the workers side by side: target stack run <= 1.1 x the folder's. The video
// decodes on one worker at a time, in order (its frames' analyses still side by side),
// so its run is bound by that one decoder: target video run <= 1.2 x decoding its frames
// once in order. Also the cost of finding the last page of a stack of 2000 pages against
// its first.
//
// Usage: recording_bench [FRAMES [SIZE [REPEATS [foi|crossing]]]]

#include "bench/bench_support.h"
#include "register/frame_listing.h"
#include "register/run_engine.h"
#include "stream/tiff_stack.h"
#include "stream/video_file.h"
#include "tools/flowgen/recording_writer.h"

#include <opencv2/imgcodecs.hpp>

#include <climits>
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

double TimedRun(const QString& path, CountingMode mode, RunResult* result)
{
    const SequenceListing listing = ListSequence(path, QDir::Name);
    RunSettings settings;
    settings.folder = listing.path;
    settings.frameNames = listing.frameNames;
    settings.sequenceKind = listing.kind;
    settings.mode = mode;
    settings.method = DefaultMethod(mode);
    settings.minArea = 25;
    settings.maxArea = 100;
    const auto start = Clock::now();
    CRunEngine engine;
    *result = engine.RunToEnd(settings);
    return Seconds(start);
}

}  // namespace

int main(int argc, char* argv[])
{
    const int frames = argc > 1 ? std::atoi(argv[1]) : 100;
    const int size = argc > 2 ? std::atoi(argv[2]) : 1024;
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 3;
    const std::string modeName = argc > 4 ? argv[4] : "foi";
    if (frames < 6 || size < 64 || repeats < 1 || (modeName != "foi" && modeName != "crossing")) {
        std::fprintf(stderr, "usage: recording_bench [FRAMES>=6 [SIZE>=64 [REPEATS>=1 [foi|crossing]]]]\n");
        return 2;
    }
    const CountingMode mode = modeName == "crossing" ? CountingMode::CountingLine : CountingMode::FramesOfInterest;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tessel_recording_bench_" + std::to_string(getpid()));
    const flowgen::Flow flow = flowgen::GenerateFlow(bench::DenseFlow(frames, size));
    const std::string stack = folder.string() + ".tif", video = folder.string() + ".avi";
    std::string error;
    if (!flowgen::WriteFlow(flow, folder.string(), "png", &error) || !flowgen::WriteStack(flow, stack, &error) ||
        !flowgen::WriteVideo(flow, video, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const std::filesystem::path caller = std::filesystem::current_path();
    std::filesystem::current_path(folder);  // the log

    std::vector<double> folderRuns, stackRuns, videoRuns, videoDecodes;
    RunResult byFolder, byStack, byVideo;
    for (int r = 0; r < repeats; ++r) {
        folderRuns.push_back(TimedRun(QString::fromStdString(folder.string()), mode, &byFolder));
        stackRuns.push_back(TimedRun(QString::fromStdString(stack), mode, &byStack));
        videoRuns.push_back(TimedRun(QString::fromStdString(video), mode, &byVideo));
        const auto start = Clock::now();
        CVideoFile decoder(video, frames, std::make_shared<std::atomic<int>>(INT_MAX));
        for (int t = 0; t < frames; ++t)
            decoder.ReadFrame(t, {});
        videoDecodes.push_back(Seconds(start));
    }
    const bool same = byFolder.records.size() == byStack.records.size() &&
                      byFolder.records.size() == byVideo.records.size() &&
                      byFolder.countInRange == byStack.countInRange && byFolder.countInRange == byVideo.countInRange;
    std::printf("%d frames of %d x %d, %s: %zu records by folder, stack and video%s\n", frames, size, size,
                modeName.c_str(), byFolder.records.size(), same ? "" : " (THEY DIFFER)");
    const double run = Median(folderRuns);
    std::printf("median of %d: folder run %.3f s | stack run %.3f s (ratio to the folder's %.2f, target <= 1.1)\n",
                repeats, run, Median(stackRuns), Median(stackRuns) / run);
    std::printf("video run %.3f s (%.2f x the folder's) | decoding the video once in order %.3f s (ratio run / "
                "decode %.2f, target <= 1.2)\n",
                Median(videoRuns), Median(videoRuns) / run, Median(videoDecodes),
                Median(videoRuns) / Median(videoDecodes));

    // A long stack: its last page found by number against its first.
    const std::string pages = folder.string() + "_pages.tif";
    std::vector<cv::Mat> many(2000, cv::Mat(64, 64, CV_8UC1, cv::Scalar(200)));
    cv::imwritemulti(pages, many);
    CTiffStack reader(pages);
    auto start = Clock::now();
    reader.PageCount();
    const double count = Seconds(start);
    std::vector<double> firsts, lasts;
    for (int r = 0; r < 20; ++r) {
        start = Clock::now();
        reader.ReadPage(0, {});
        firsts.push_back(Seconds(start));
        start = Clock::now();
        reader.ReadPage(1999, {});
        lasts.push_back(Seconds(start));
    }
    std::printf("stack of 2000 pages: counted in %.1f ms; page 1999 by number %.3f ms against page 0 %.3f ms\n",
                1000 * count, 1000 * Median(lasts), 1000 * Median(firsts));

    std::filesystem::current_path(caller);
    std::filesystem::remove_all(folder);
    for (const std::string& file : {stack, video, pages})
        std::filesystem::remove(file);
    return same ? 0 : 1;
}
