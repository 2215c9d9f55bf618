#include "toolkit/segmentation.h"

#include "toolkit/hole_filling.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

cv::Mat SegmentOtsu(const cv::Mat& grey)
{
    if (grey.empty())
        return cv::Mat();
    cv::Mat m;
    cv::medianBlur(grey, m, 3);
    cv::threshold(m, m, 1.0, 1.0, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
    return m;
}

cv::Mat SegmentModeValue(const cv::Mat& grey)
{
    if (grey.empty())
        return cv::Mat();

    // The histogram is taken on a blurred copy so that noise does not split the
    // background peak; the threshold is applied to the grey image itself.
    cv::Mat blurred;
    cv::blur(grey, blurred, cv::Size(5, 5), cv::Point(-1, -1), cv::BORDER_DEFAULT);
    int hist[256] = {};
    for (int y = 0; y < blurred.rows; ++y) {
        const uchar* row = blurred.ptr<uchar>(y);
        for (int x = 0; x < blurred.cols; ++x)
            ++hist[row[x]];
    }

    int modeCount = hist[0];
    int mode = 0;
    for (int v = 1; v < 256; ++v) {
        if (hist[v] > modeCount) {
            modeCount = hist[v];
            mode = v;
        }
    }
    double norm[256];
    for (int v = 0; v < 256; ++v)
        norm[v] = 1.0 - static_cast<double>(hist[v]) / modeCount;

    // Ten levels 0.5, 0.55, ..., 0.95, accumulated in double as they always were (the
    // exact values decide ties at the level boundaries). Each level finds the first
    // grey level below the mode where the histogram has fallen to (1 - t) of the mode;
    // t * t * level favours the deeper falls.
    int bestIndex = 0;
    double bestScore = 0.0;
    bool first = true;
    for (double t = 0.5; t < 1.0; t += 0.05) {
        int index = 0;
        for (int v = mode; v >= 1; --v) {
            if (norm[v] >= t) {
                index = v;
                break;
            }
        }
        const double score = t * t * index;
        if (first || score > bestScore) {
            bestScore = score;
            bestIndex = index;
            first = false;
        }
    }
    const int threshold = std::max(bestIndex, 50);

    cv::Mat out;
    cv::threshold(grey, out, threshold, 1.0, cv::THRESH_BINARY_INV);
    return out;
}

cv::Mat FrameDiffMask(const cv::Mat& a, const cv::Mat& b)
{
    cv::Mat out = cv::Mat::zeros(a.rows, a.cols, CV_8UC1);
    // Only the part both frames cover is compared; a smaller or empty b leaves the
    // rest 0 instead of reading past its end.
    const int rows = std::min(a.rows, b.rows);
    const int cols = std::min(a.cols, b.cols);
    for (int y = 0; y < rows; ++y) {
        const uchar* pa = a.ptr<uchar>(y);
        const uchar* pb = b.ptr<uchar>(y);
        uchar* po = out.ptr<uchar>(y);
        for (int x = 0; x < cols; ++x)
            po[x] = (static_cast<int>(pb[x]) - static_cast<int>(pa[x]) >= 9) ? 1 : 0;
    }
    return out;
}

cv::Mat SegmentSelection(const cv::Mat& grey)
{
    if (grey.empty())
        return cv::Mat();
    cv::Mat m;
    cv::threshold(grey, m, 0.0, 255.0, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
    m = FillSmallHoles(m);
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(4, 4), cv::Point(-1, -1));
    cv::morphologyEx(m, m, cv::MORPH_OPEN, kernel, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                     cv::morphologyDefaultBorderValue());
    return m;
}
