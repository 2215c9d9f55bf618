#include "toolkit/shape_measures.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Longest and shortest caliper widths of a convex polygon (counter-clockwise or
// clockwise, no repeated points), and `area` over its area: rotating calipers, the
// vertex furthest from each edge advancing with the edge. The shortest width lies
// across an edge; the longest between a pair of vertices each furthest from the
// other's edges.
ShapeMeasures HullShape(const std::vector<cv::Point2f>& hull, double area)
{
    ShapeMeasures m;
    const size_t n = hull.size();
    if (n == 0)
        return m;
    if (n < 3) {
        m.feretMax = n == 2 ? cv::norm(hull[1] - hull[0]) : 0.0;
        return m;
    }
    const auto height = [&](size_t i, size_t k) {  // of vertex k over edge i
        const cv::Point2f a = hull[i], b = hull[(i + 1) % n];
        return std::abs(static_cast<double>((b - a).cross(hull[k] - a)));
    };
    double longest = 0.0, shortest = std::numeric_limits<double>::max();
    size_t k = 1;
    for (size_t i = 0; i < n; ++i) {
        const size_t j = (i + 1) % n;
        while (height(i, (k + 1) % n) > height(i, k))
            k = (k + 1) % n;
        const double length = cv::norm(hull[j] - hull[i]);
        if (length > 0.0)
            shortest = std::min(shortest, height(i, k) / length);
        longest = std::max({longest, static_cast<double>(cv::norm(hull[k] - hull[i])),
                            static_cast<double>(cv::norm(hull[k] - hull[j]))});
    }
    m.feretMax = longest;
    m.feretMin = shortest == std::numeric_limits<double>::max() ? 0.0 : shortest;
    const double hullArea = cv::contourArea(hull);
    m.solidity = hullArea > 0.0 ? std::min(1.0, area / hullArea) : 0.0;
    return m;
}

}  // namespace

ShapeMeasures MeasureShape(const std::vector<cv::Point>& border, double pixels)
{
    if (border.empty())
        return ShapeMeasures();
    // The hull of the pixel squares: the hull of the border's pixel centres, each of its
    // corners grown to its pixel's four.
    std::vector<cv::Point> centres;
    cv::convexHull(border, centres);
    std::vector<cv::Point2f> corners;
    corners.reserve(4 * centres.size());
    for (const cv::Point& p : centres)
        for (const cv::Point2f d : {cv::Point2f(-0.5f, -0.5f), cv::Point2f(0.5f, -0.5f), cv::Point2f(0.5f, 0.5f),
                                    cv::Point2f(-0.5f, 0.5f)})
            corners.push_back(cv::Point2f(static_cast<float>(p.x), static_cast<float>(p.y)) + d);
    std::vector<cv::Point2f> hull;
    cv::convexHull(corners, hull);
    return HullShape(hull, pixels);
}

ShapeMeasures EllipseShape(double semiMajor, double semiMinor)
{
    ShapeMeasures m;
    m.feretMax = 2.0 * std::max(semiMajor, semiMinor);
    m.feretMin = 2.0 * std::min(semiMajor, semiMinor);
    m.solidity = 1.0;
    return m;
}
