// LabelComponents, ComputeLabelCentroids and FilterComponentsBySize against OpenCV's
// connected components on the same 1024 x 1024 frame mask of about 300 particle blobs.
// Prints the time ratios measured in this run; the target is
// LabelComponents / connectedComponents <= 2.0.

#include "bench/bench_support.h"
#include "toolkit/adjacency.h"
#include "toolkit/labelling.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <vector>

using bench::MedianMs;

namespace {

// Random discs of radius 3 .. 15 at a fixed seed, values 0/1 like a segmented frame.
cv::Mat ParticleMask(int blobs)
{
    cv::RNG rng(20240607);
    cv::Mat mask = cv::Mat::zeros(1024, 1024, CV_8UC1);
    for (int i = 0; i < blobs; ++i) {
        const cv::Point centre(rng.uniform(0, 1024), rng.uniform(0, 1024));
        cv::circle(mask, centre, rng.uniform(3, 16), cv::Scalar(1), cv::FILLED);
    }
    return mask;
}

}  // namespace

int main()
{
    const cv::Mat mask = ParticleMask(380);
    AdjRelPtr eight(Create8NeighbourAdjRel());
    AdjRelPtr four(Create4NeighbourAdjRel());
    const int runs = 61;

    cv::Mat reference;
    const int regions = cv::connectedComponents(mask, reference, 8, CV_32S) - 1;
    std::printf("mask 1024 x 1024, %d regions (8-connected), %.1f %% foreground\n", regions,
                100.0 * cv::countNonZero(mask) / mask.total());

    cv::Mat labels, cvLabels, stats, centres;
    std::vector<cv::Point> centroids;
    // Warm-up: first-touch page faults and OpenCV's thread pool are not measured.
    labels = LabelComponents(mask, eight.get());
    cv::connectedComponents(mask, cvLabels, 8, CV_32S);

    const double ours8 = MedianMs([&] { labels = LabelComponents(mask, eight.get()); }, runs);
    const double cv8 = MedianMs([&] { cv::connectedComponents(mask, cvLabels, 8, CV_32S); }, runs);
    const double cv8Sauf = MedianMs([&] { cv::connectedComponents(mask, cvLabels, 8, CV_32S, cv::CCL_SAUF); }, runs);
    cv::connectedComponents(mask, cvLabels, 8, CV_32S, cv::CCL_SAUF);
    const bool same8 = cv::countNonZero(labels != cvLabels) == 0;

    const double ours4 = MedianMs([&] { labels = LabelComponents(mask, four.get()); }, runs);
    const double cv4 = MedianMs([&] { cv::connectedComponents(mask, cvLabels, 4, CV_32S); }, runs);

    cv::Mat filtered;
    const double oursFilter = MedianMs([&] { filtered = FilterComponentsBySize(mask, 10, 2700); }, runs);

    const double oursCentroids = MedianMs([&] { centroids = ComputeLabelCentroids8(mask); }, runs);
    const double cvStats =
        MedianMs([&] { cv::connectedComponentsWithStats(mask, cvLabels, stats, centres, 8, CV_32S); }, runs);

    std::printf("median of %d runs, ms: LabelComponents 8 %.3f | connectedComponents 8 %.3f "
                "(SAUF %.3f)\n",
                runs, ours8, cv8, cv8Sauf);
    std::printf("                      LabelComponents 4 %.3f | connectedComponents 4 %.3f\n", ours4, cv4);
    std::printf("                      ComputeLabelCentroids8 %.3f | connectedComponentsWithStats 8 "
                "%.3f\n",
                oursCentroids, cvStats);
    std::printf("labels identical to connectedComponents (SAUF, 8): %s\n", same8 ? "yes" : "NO");
    std::printf("ratio LabelComponents / connectedComponents, 8-neighbourhood: %.2f (target <= 2.0)\n", ours8 / cv8);
    std::printf("ratio LabelComponents / connectedComponents (SAUF), 8-neighbourhood: %.2f\n", ours8 / cv8Sauf);
    std::printf("ratio LabelComponents / connectedComponents, 4-neighbourhood: %.2f\n", ours4 / cv4);
    std::printf("ratio ComputeLabelCentroids8 / connectedComponentsWithStats: %.2f\n", oursCentroids / cvStats);
    std::printf("ratio FilterComponentsBySize (10 .. 2700) / connectedComponents, 4-neighbourhood: "
                "%.2f\n",
                oursFilter / cv4);
    return same8 ? 0 : 1;
}
