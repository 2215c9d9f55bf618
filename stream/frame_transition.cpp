#include "stream/video_stream.h"
#include "toolkit/adjacency.h"
#include "toolkit/labelling.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace {

// A centroid without partner gets the pair (0, 0) and so seems to agree on no motion.
// A consensus of (0, 0) stands only when 60 % of the centroids have a partner within
// 4 pixels in both directions; two partners exactly on one point do not occur.
bool StillnessCarriedByPairs(const std::vector<cv::Point>& pairs)
{
    const auto partnered = std::count_if(pairs.begin(), pairs.end(), [](const cv::Point& pair) {
        return pair != cv::Point(0, 0) && pair.x < 5 && pair.y < 5;
    });
    return static_cast<double>(partnered) >= 0.6 * static_cast<double>(pairs.size());
}

}  // namespace

FrameShift CVideoStream::MeasureTransition(int index, bool* frameRead, ShiftOutcome* outcome, int* direction)
{
    if (direction)
        *direction = 0;
    const auto decided = [outcome](ShiftOutcome how, FrameShift shift) {
        if (outcome)
            *outcome = how;
        return shift;
    };
    // A frame that cannot be compared leaves previousFrame alone, so the next good
    // frame is measured against the last good one.
    cv::Mat grey = previousFrame.empty() ? cv::Mat() : ReadSizedFrame(index);
    if (frameRead)
        *frameRead = !grey.empty();
    if (grey.empty())
        return decided(ShiftOutcome::FrameUnreadable, {0, 0});

    PrepareFrame(grey);
    cv::Mat diff;
    cv::absdiff(grey, previousFrame, diff);
    const cv::Mat before = previousFrame;
    previousFrame = grey;

    cv::Mat strong;
    cv::threshold(diff, strong, 10, 1, cv::THRESH_BINARY);
    cv::threshold(diff, diff, 0, 1, cv::THRESH_BINARY | cv::THRESH_OTSU);
    cv::Mat mask = strong & diff;
    // Drops changed specks narrower than 5 pixels.
    cv::morphologyEx(mask, mask, cv::MORPH_OPEN, kernel5x5, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                     cv::morphologyDefaultBorderValue());

    const AdjRelPtr adj(Create4NeighbourAdjRel());
    const std::vector<cv::Point> centroids = ComputeLabelCentroids(mask, adj.get());
    // Nothing changed: nothing in view moved, or nothing is in view; either way no
    // particle is missed by taking (0, 0).
    if (centroids.empty())
        return decided(ShiftOutcome::Measured, {0, 0});
    if (centroids.size() < 10)
        return decided(ShiftOutcome::TooFewBlobs, {0, 0});
    const std::vector<cv::Point> pairs = PairNearestCentroids(centroids, frameWidth, frameHeight);
    bool agreed = false;
    const FrameShift shift = ConsensusShift(pairs, &agreed);
    if (!agreed)
        return decided(ShiftOutcome::NoConsensus, shift);
    if (shift.dx == 0 && shift.dy == 0 && !StillnessCarriedByPairs(pairs))
        return decided(ShiftOutcome::NoPairs, shift);
    if (direction)
        *direction = HorizontalMotionSign(before, grey, shift.dx);
    return decided(ShiftOutcome::Measured, shift);
}
