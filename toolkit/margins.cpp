#include "toolkit/margins.h"

#include <algorithm>
#include <cmath>

namespace {

struct Bands {
    int top, bottom, left, right;
};

// Negative margins count as 0; a band never reaches past the image.
Bands LimitBands(const cv::Mat& image, int top, int bottom, int left, int right)
{
    const auto limit = [](int band, int extent) { return std::clamp(band, 0, extent); };
    return {limit(top, image.rows), limit(bottom, image.rows), limit(left, image.cols), limit(right, image.cols)};
}

// Stripe period for an image extent: grows with the square root of the extent so
// the stripes look alike on small previews and full frames.
int StripePeriod(int extent)
{
    return static_cast<int>(std::pow(2.0, std::log(static_cast<double>(extent)) * 0.5 + 1.0));
}

}  // namespace

cv::Mat ClearMargins(const cv::Mat& image, int top, int bottom, int left, int right)
{
    cv::Mat out = image.clone();
    if (out.empty())
        return out;
    const Bands b = LimitBands(out, top, bottom, left, right);
    out.rowRange(0, b.top).setTo(cv::Scalar::all(0));
    out.rowRange(out.rows - b.bottom, out.rows).setTo(cv::Scalar::all(0));
    out.colRange(0, b.left).setTo(cv::Scalar::all(0));
    out.colRange(out.cols - b.right, out.cols).setTo(cv::Scalar::all(0));
    return out;
}

cv::Mat DrawHatchedMargins(const cv::Mat& image, int top, int bottom, int left, int right)
{
    cv::Mat out = image.clone();
    if (out.empty())
        return out;
    const Bands b = LimitBands(out, top, bottom, left, right);
    const int rows = out.rows;
    const int cols = out.cols;
    const int periodRows = StripePeriod(rows);
    const int halfRows = static_cast<int>(periodRows * 0.5);
    const int periodCols = StripePeriod(cols);
    const int halfCols = static_cast<int>(periodCols * 0.5);
    const auto stripe = [](int phase, int period, int half) -> uchar { return phase % period < half ? 0 : 255; };

    for (int y = 0; y < b.top; ++y) {
        uchar* row = out.ptr<uchar>(y);
        for (int x = 0; x < cols; ++x)
            row[x] = stripe(y + x, periodRows, halfRows);
    }
    for (int i = 1; i <= b.bottom; ++i) {
        uchar* row = out.ptr<uchar>(rows - i);
        for (int x = 0; x < cols; ++x)
            row[x] = stripe(i + x, periodRows, halfRows);
    }
    for (int y = 0; y < rows; ++y) {
        uchar* row = out.ptr<uchar>(y);
        for (int x = 0; x < b.left; ++x)
            row[x] = stripe(y + x, periodCols, halfCols);
        for (int j = 1; j <= b.right; ++j)
            row[cols - j] = stripe(y + j, periodCols, halfCols);
    }
    return out;
}
