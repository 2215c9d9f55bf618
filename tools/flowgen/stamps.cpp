// Drawing particles: stamps of discs and ellipses, painted into frames and masks.

#include "tools/flowgen/flowgen_internal.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace flowgen {

using detail::kPi;

cv::Mat MakeEllipseStamp(double a, double b, double angleDeg, double fx, double fy)
{
    const int h = static_cast<int>(std::ceil(std::max(a, b))) + 1;
    cv::Mat stamp = cv::Mat::zeros(2 * h + 1, 2 * h + 1, CV_8UC1);
    const double c = std::cos(angleDeg * kPi / 180.0);
    const double sn = std::sin(angleDeg * kPi / 180.0);
    for (int r = 0; r < stamp.rows; ++r) {
        for (int k = 0; k < stamp.cols; ++k) {
            const double dx = k - h - fx;
            const double dy = r - h - fy;
            const double u = (dx * c + dy * sn) / a;
            const double v = (-dx * sn + dy * c) / b;
            if (u * u + v * v <= 1.0)
                stamp.at<uchar>(r, k) = 1;
        }
    }
    stamp.at<uchar>(h, h) = 1;  // never empty
    return stamp;
}

void DrawStamp(cv::Mat& image, const cv::Mat& stamp, int cx, int cy, int grey)
{
    const int h = stamp.rows / 2;
    const int w = stamp.cols / 2;
    const uchar value = cv::saturate_cast<uchar>(grey);
    for (int r = 0; r < stamp.rows; ++r) {
        const int y = cy - h + r;
        if (y < 0 || y >= image.rows)
            continue;
        const uchar* sp = stamp.ptr<uchar>(r);
        uchar* ip = image.ptr<uchar>(y);
        for (int k = 0; k < stamp.cols; ++k) {
            const int x = cx - w + k;
            if (sp[k] && x >= 0 && x < image.cols)
                ip[x] = value;
        }
    }
}

namespace detail {

cv::Rect StampBox(const cv::Mat& stamp, cv::Point centre)
{
    return cv::boundingRect(stamp) + cv::Point(centre.x - stamp.cols / 2, centre.y - stamp.rows / 2);
}

void DrawStampDarker(cv::Mat& image, const cv::Mat& stamp, int cx, int cy, int grey)
{
    const uchar value = cv::saturate_cast<uchar>(grey);
    for (int r = 0; r < stamp.rows; ++r) {
        const int y = cy - stamp.rows / 2 + r;
        if (y < 0 || y >= image.rows)
            continue;
        const uchar* sp = stamp.ptr<uchar>(r);
        uchar* ip = image.ptr<uchar>(y);
        for (int k = 0; k < stamp.cols; ++k) {
            const int x = cx - stamp.cols / 2 + k;
            if (sp[k] && x >= 0 && x < image.cols)
                ip[x] = std::min(ip[x], value);
        }
    }
}

bool PixelsTouch(const cv::Mat& a, cv::Point ca, const cv::Mat& b, cv::Point cb)
{
    const cv::Rect ba = StampBox(a, ca);
    const cv::Rect bb = StampBox(b, cb);
    const cv::Rect grown(ba.x - 1, ba.y - 1, ba.width + 2, ba.height + 2);
    const cv::Rect common = grown & bb;
    if (common.empty())
        return false;
    const cv::Rect all = grown | bb;
    cv::Mat ma = cv::Mat::zeros(all.size(), CV_8UC1);
    cv::Mat mb = cv::Mat::zeros(all.size(), CV_8UC1);
    DrawStamp(ma, a, ca.x - all.x, ca.y - all.y, 1);
    DrawStamp(mb, b, cb.x - all.x, cb.y - all.y, 1);
    cv::dilate(ma, ma, cv::Mat::ones(3, 3, CV_8UC1));
    return cv::countNonZero(ma & mb) > 0;
}

}  // namespace detail

}  // namespace flowgen
