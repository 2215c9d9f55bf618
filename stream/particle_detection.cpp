#include "stream/video_stream.h"
#include "toolkit/background_detection.h"
#include "toolkit/labelling.h"
#include "toolkit/margins.h"
#include "toolkit/segmentation.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <climits>

namespace {

// Square window of half-size r (the lower area bound) around a centroid, clipped
// against the whole frame. Empty when a negative half-size leaves nothing. In 64 bits:
// the bound comes from the user and may be as large as an int goes.
cv::Rect MeasuringWindow(cv::Point c, int r, int frameWidth, int frameHeight)
{
    const long long x0 = std::max<long long>(static_cast<long long>(c.x) - r, 0);
    const long long y0 = std::max<long long>(static_cast<long long>(c.y) - r, 0);
    const long long x1 = std::min<long long>(frameWidth - 1, static_cast<long long>(c.x) + r);
    const long long y1 = std::min<long long>(frameHeight - 1, static_cast<long long>(c.y) + r);
    if (x1 < x0 || y1 < y0)
        return cv::Rect();
    return cv::Rect(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0 + 1),
                    static_cast<int>(y1 - y0 + 1));
}

// Upper area of the size filter: three times the upper bound, limited to what an int holds.
int SizeFilterMaximum(int maxArea)
{
    return static_cast<int>(
        std::clamp(3LL * maxArea, static_cast<long long>(INT_MIN), static_cast<long long>(INT_MAX)));
}

}  // namespace

cv::Mat CVideoStream::MethodMask(const cv::Mat& grey, int method, int next, int prev, const cv::Rect& region) const
{
    switch (method) {
    case kMethodOtsu:
        return SegmentOtsu(grey);
    case kMethodModeValue:
        return SegmentModeValue(grey);
    case kMethodBackground:
        return SegmentBackground(grey);
    case kMethodFrameDiff: {
        // Darker than a neighbouring frame; a neighbour that cannot be used adds nothing.
        cv::Mat mask = cv::Mat::zeros(grey.size(), CV_8UC1);
        for (int neighbour : {next, prev}) {
            const cv::Mat other = ReadSizedFrame(neighbour);
            if (!other.empty())
                mask |= FrameDiffMask(grey, other(region));
        }
        return mask;
    }
    default:
        return cv::Mat();
    }
}

std::vector<ParticleMeasure> CVideoStream::CountParticles(int index, int method, bool* frameRead) const
{
    if (frameRead)
        *frameRead = true;
    std::vector<ParticleMeasure> result;
    if (method < kMethodOtsu || method > kMethodBackground)
        return result;
    const cv::Mat grey = ReadSizedFrame(index);
    if (grey.empty()) {
        if (frameRead)
            *frameRead = false;
        return result;
    }

    const int last = frameCount - 1;
    const int next = index == last ? index - 2 : index + 1;
    const int prev = index == 0 ? index + 2 : index - 1;
    cv::Mat mask = MethodMask(grey, method, next, prev, cv::Rect(0, 0, grey.cols, grey.rows));
    mask = ClearMargins(mask, marginTop, marginBottom, marginLeft, marginRight);
    // Frame-difference masks are opened only for a lower bound above 45 pixels:
    // smaller particles would not survive it. Background masks come clean, at the
    // particles' size, which an opening would shrink.
    if (method == kMethodOtsu || method == kMethodModeValue || (method == kMethodFrameDiff && minArea > 45))
        cv::morphologyEx(mask, mask, cv::MORPH_OPEN, kernel3x3, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                         cv::morphologyDefaultBorderValue());
    mask = FilterComponentsBySize(mask, 10, SizeFilterMaximum(maxArea));

    const std::vector<cv::Point> centroids = ComputeLabelCentroids8(mask);
    for (auto c = centroids.rbegin(); c != centroids.rend(); ++c) {
        const cv::Rect box = MeasuringWindow(*c, minArea, frameWidth, frameHeight);
        if (box.empty())
            continue;
        const cv::Mat window = mask(box);
        if (cv::countNonZero(window) > 9)
            result.push_back(MeasureParticle(window, index, c->y, c->x, minArea, maxArea));
    }
    return result;
}

std::vector<ParticleMeasure> CVideoStream::CountParticlesInNewRegion(int newWidth, int method, bool* frameRead) const
{
    if (frameRead)
        *frameRead = true;
    std::vector<ParticleMeasure> result;
    if (method < kMethodOtsu || method > kMethodBackground || newWidth <= 0)
        return result;
    const int last = frameCount - 1;
    const cv::Mat lastFrame = ReadSizedFrame(last);
    if (lastFrame.empty()) {
        if (frameRead)
            *frameRead = false;
        return result;
    }
    // The strip leaves out the frame's last row.
    const cv::Rect region(cv::Point(0, 0), cv::Point(std::min(newWidth, frameWidth), frameHeight - 1));
    if (region.empty())
        return result;
    const cv::Mat strip = lastFrame(region).clone();

    cv::Mat mask = MethodMask(strip, method, last - 1, last - 2, region);
    if (method != kMethodBackground)
        cv::morphologyEx(mask, mask, cv::MORPH_OPEN, kernel3x3, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                         cv::morphologyDefaultBorderValue());

    const std::vector<cv::Point> centroids = ComputeLabelCentroids8(mask);
    for (auto c = centroids.rbegin(); c != centroids.rend(); ++c) {
        const cv::Rect box = MeasuringWindow(*c, minArea, frameWidth, frameHeight);
        // Windows that reach the strip's last column or row are not measured.
        if (box.empty() || box.x + box.width >= strip.cols || box.y + box.height >= strip.rows)
            continue;
        const cv::Mat window = mask(box);
        if (cv::countNonZero(window) > 9)
            result.push_back(MeasureParticle(window, last, c->y, c->x, minArea, maxArea));
    }
    return result;
}
