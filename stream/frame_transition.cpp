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

// Whether two prepared frames differ well above their noise, in patches wide enough to
// be particles: the fixed threshold of the measure misses faint flows (a dim or
// low-contrast recording, a deep frame scaled by a wrong depth), which then look
// still. The noise is read from the difference itself: mostly background, its median
// is that of the noise (0.6745 sigma for the absolute value of a normal noise).
bool DiffersBeyondNoise(const cv::Mat& difference, const cv::Mat& kernel5x5)
{
    int histogram[256] = {};
    for (int r = 0; r < difference.rows; ++r) {
        const uchar* row = difference.ptr<uchar>(r);
        for (int c = 0; c < difference.cols; ++c)
            ++histogram[row[c]];
    }
    const long long half = static_cast<long long>(difference.total()) / 2;
    int median = 0;
    for (long long seen = histogram[0]; seen <= half && median < 255; seen += histogram[++median]) {
    }
    // At least half a level of noise: quantised data whose median difference is 0.
    const double sigma = std::max(median / 0.6745, 0.5);
    cv::Mat changed;
    cv::threshold(difference, changed, std::max(4.0 * sigma, 2.0), 1, cv::THRESH_BINARY);
    cv::morphologyEx(changed, changed, cv::MORPH_OPEN, kernel5x5, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                     cv::morphologyDefaultBorderValue());
    return cv::countNonZero(changed) > 0;
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
    cv::Mat difference;
    cv::absdiff(grey, previousFrame, difference);
    const cv::Mat before = previousFrame;
    previousFrame = grey;

    cv::Mat strong, otsu;
    cv::threshold(difference, strong, 10, 1, cv::THRESH_BINARY);
    cv::threshold(difference, otsu, 0, 1, cv::THRESH_BINARY | cv::THRESH_OTSU);
    cv::Mat mask = strong & otsu;
    // Drops changed specks narrower than 5 pixels.
    cv::morphologyEx(mask, mask, cv::MORPH_OPEN, kernel5x5, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                     cv::morphologyDefaultBorderValue());

    const AdjRelPtr adj(Create4NeighbourAdjRel());
    const std::vector<cv::Point> centroids = ComputeLabelCentroids(mask, adj.get());
    // Nothing changed: nothing in view moved, or nothing is in view; either way no
    // particle is missed by taking (0, 0). Unless the frames do differ, only below the
    // measure's threshold: then the flow may have moved unseen.
    if (centroids.empty())
        return decided(DiffersBeyondNoise(difference, kernel5x5) ? ShiftOutcome::ChangedWithoutShift
                                                                 : ShiftOutcome::Measured,
                       {0, 0});
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
