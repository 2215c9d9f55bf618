// Listing a folder of many frames (by default 10,000 PNG frames of 8 x 8 pixels) with
// the frame listing of the window and the headless counter, by name, time and size,
// against a plain listing of the same folder (every entry, names sorted), both
// measured in this run, alternately, median of the repeats.
// Target: every frame listing <= 10 x the plain listing.
//
// Usage: frame_listing_bench [FRAMES [REPEATS]]

#include "bench/bench_support.h"
#include "register/frame_listing.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using bench::Clock;
using bench::Median;
using bench::Seconds;

namespace {

// Every entry of the folder, names sorted: what any listing has to do at least.
std::vector<std::string> PlainListing(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 7;
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    const cv::Mat tiny(8, 8, CV_8UC1, cv::Scalar(200));
    for (int t = 0; t < frames; ++t) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame_%05d.png", t);
        cv::imwrite(folder + name, tiny);
    }

    struct Listing {
        const char* name;
        QDir::SortFlags flags;
        std::vector<double> seconds;
    };
    std::vector<Listing> listings = {
        {"by name", FrameSortFlags(QStringLiteral("byName"), QStringLiteral("orderAscendant")), {}},
        {"by time", FrameSortFlags(QStringLiteral("byTime"), QStringLiteral("orderAscendant")), {}},
        {"by size", FrameSortFlags(QStringLiteral("bySize"), QStringLiteral("orderAscendant")), {}}};
    std::vector<double> plain;
    for (int r = 0; r < repeats; ++r) {
        Clock::time_point start = Clock::now();
        const size_t entries = PlainListing(folder).size();
        plain.push_back(Seconds(start));
        for (Listing& listing : listings) {
            start = Clock::now();
            const int listed = ListFrameFiles(dir.path(), listing.flags).size();
            listing.seconds.push_back(Seconds(start));
            if (listed != frames || entries != static_cast<size_t>(frames)) {
                std::fprintf(stderr, "listed %d of %d frames\n", listed, frames);
                return 1;
            }
        }
    }
    std::printf("%d frames, median of %d: plain listing %.1f ms\n", frames, repeats, 1000.0 * Median(plain));
    for (const Listing& listing : listings)
        std::printf("  frame listing %s: %.1f ms, %.2f x the plain listing (target <= 10)\n", listing.name,
                    1000.0 * Median(listing.seconds), Median(listing.seconds) / Median(plain));
    return 0;
}
