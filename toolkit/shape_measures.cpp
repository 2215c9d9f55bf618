#include "toolkit/shape_measures.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Longest and shortest caliper widths of a convex polygon, and `area` over its area.
ShapeMeasures HullShape(const std::vector<cv::Point2f>& hull, double area)
{
    ShapeMeasures m;
    const size_t n = hull.size();
    // Longest: between two hull vertices. Shortest: across one hull edge, to the vertex
    // furthest from its line (the caliper's least width lies along an edge).
    double longest = 0.0, shortest = std::numeric_limits<double>::max();
    for (size_t i = 0; i < n; ++i) {
        const cv::Point2f a = hull[i], b = hull[(i + 1) % n];
        for (size_t j = i + 1; j < n; ++j)
            longest = std::max(longest, static_cast<double>(cv::norm(hull[j] - a)));
        const cv::Point2f edge = b - a;
        const double length = cv::norm(edge);
        if (length <= 0.0)
            continue;
        double furthest = 0.0;
        for (const cv::Point2f& p : hull)
            furthest = std::max(furthest, std::abs(static_cast<double>(edge.cross(p - a))) / length);
        shortest = std::min(shortest, furthest);
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

ShapeMeasures OutlineShape(const std::vector<cv::Point2d>& outline, double area)
{
    if (outline.size() < 3)
        return ShapeMeasures();
    std::vector<cv::Point2f> points(outline.begin(), outline.end()), hull;
    cv::convexHull(points, hull);
    return HullShape(hull, area);
}

ShapeMeasures EllipseShape(double semiMajor, double semiMinor)
{
    ShapeMeasures m;
    m.feretMax = 2.0 * std::max(semiMajor, semiMinor);
    m.feretMin = 2.0 * std::min(semiMajor, semiMinor);
    m.solidity = 1.0;
    return m;
}
