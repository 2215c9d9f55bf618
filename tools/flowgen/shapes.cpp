// Shapes drawn by pixel shares: irregular polygons, fibres and hollow particles, their
// outlines, exact pixel coverage, turning and each particle's own defocus.

#include "tools/flowgen/flowgen_internal.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace flowgen {

using detail::kPi;

namespace {

// Sutherland-Hodgman: the part of a polygon on one side of x = bound (axis 0) or
// y = bound (axis 1): below it (`below`) or above it.
void ClipTo(const std::vector<cv::Point2d>& in, std::vector<cv::Point2d>& out, int axis, double bound, bool below)
{
    out.clear();
    const size_t n = in.size();
    auto inside = [&](const cv::Point2d& p) {
        const double v = axis == 0 ? p.x : p.y;
        return below ? v <= bound : v >= bound;
    };
    for (size_t i = 0; i < n; ++i) {
        const cv::Point2d& a = in[i];
        const cv::Point2d& b = in[(i + 1) % n];
        const bool ia = inside(a), ib = inside(b);
        if (ia)
            out.push_back(a);
        if (ia != ib) {
            const double va = axis == 0 ? a.x : a.y, vb = axis == 0 ? b.x : b.y;
            const double u = (bound - va) / (vb - va);
            out.push_back(a + u * (b - a));
        }
    }
}

cv::Point2d PolygonCentroid(const std::vector<cv::Point2d>& poly)
{
    double a = 0.0, cx = 0.0, cy = 0.0;
    for (size_t i = 0; i < poly.size(); ++i) {
        const cv::Point2d& p = poly[i];
        const cv::Point2d& q = poly[(i + 1) % poly.size()];
        const double cross = p.x * q.y - q.x * p.y;
        a += cross, cx += (p.x + q.x) * cross, cy += (p.y + q.y) * cross;
    }
    return cv::Point2d(cx / (3.0 * a), cy / (3.0 * a));
}

std::vector<cv::Point2d> Hull(const std::vector<cv::Point2d>& poly)
{
    std::vector<cv::Point2f> pts(poly.begin(), poly.end()), hull;
    std::vector<cv::Point2d> result;
    std::vector<int> idx;
    cv::convexHull(pts, idx);
    for (int i : idx)
        result.push_back(poly[static_cast<size_t>(i)]);
    return result;
}

// A regular n-gon of radius r about (cx, cy).
std::vector<cv::Point2d> RegularPolygon(int n, double r, double cx, double cy)
{
    std::vector<cv::Point2d> poly;
    for (int i = 0; i < n; ++i)
        poly.emplace_back(cx + r * std::cos(2.0 * kPi * i / n), cy + r * std::sin(2.0 * kPi * i / n));
    return poly;
}

std::vector<cv::Point2d> Turned(const std::vector<cv::Point2d>& poly, double deg, cv::Point2d about)
{
    const double c = std::cos(deg * kPi / 180.0), s = std::sin(deg * kPi / 180.0);
    std::vector<cv::Point2d> out;
    for (const cv::Point2d& p : poly) {
        const cv::Point2d d = p - about;
        out.emplace_back(about.x + c * d.x - s * d.y, about.y + s * d.x + c * d.y);
    }
    return out;
}

int HalfSize(const std::vector<cv::Point2d>& poly)
{
    // Large enough for any turn about the centroid.
    const cv::Point2d c = PolygonCentroid(poly);
    double reach = 0.0;
    for (const cv::Point2d& p : poly)
        reach = std::max(reach, cv::norm(p - c));
    return static_cast<int>(std::ceil(reach + cv::norm(c))) + 1;
}

}  // namespace

bool DrawsByShares(const FlowSettings& s)
{
    return s.polygonShare > 0.0 || s.fibreShare > 0.0 || s.hollowShare > 0.0 || s.defocusMax > 0.0;
}

const char* ShapeName(Shape shape)
{
    switch (shape) {
    case Shape::kDisc:
        return "disc";
    case Shape::kEllipse:
        return "ellipse";
    case Shape::kPolygon:
        return "polygon";
    case Shape::kFibre:
        return "fibre";
    case Shape::kHollow:
        return "hollow";
    }
    return "disc";
}

cv::Mat CoverageStamp(const std::vector<cv::Point2d>& polygon, int half)
{
    cv::Mat cover = cv::Mat::zeros(2 * half + 1, 2 * half + 1, CV_32F);
    std::vector<cv::Point2d> band, tmp, cell;
    for (int r = 0; r < cover.rows; ++r) {
        const double y0 = r - half - 0.5;
        ClipTo(polygon, tmp, 1, y0, false);
        ClipTo(tmp, band, 1, y0 + 1.0, true);
        if (band.size() < 3)
            continue;
        double xMin = band[0].x, xMax = band[0].x;
        for (const cv::Point2d& p : band)
            xMin = std::min(xMin, p.x), xMax = std::max(xMax, p.x);
        const int k0 = std::max(0, static_cast<int>(std::floor(xMin + 0.5)) + half);
        const int k1 = std::min(cover.cols - 1, static_cast<int>(std::floor(xMax + 0.5)) + half);
        float* row = cover.ptr<float>(r);
        for (int k = k0; k <= k1; ++k) {
            const double x0 = k - half - 0.5;
            ClipTo(band, tmp, 0, x0, false);
            ClipTo(tmp, cell, 0, x0 + 1.0, true);
            if (cell.size() >= 3)
                row[k] = static_cast<float>(std::min(1.0, PolygonArea(cell)));
        }
    }
    return cover;
}

double PolygonArea(const std::vector<cv::Point2d>& polygon)
{
    double a = 0.0;
    for (size_t i = 0; i < polygon.size(); ++i) {
        const cv::Point2d& p = polygon[i];
        const cv::Point2d& q = polygon[(i + 1) % polygon.size()];
        a += p.x * q.y - q.x * p.y;
    }
    return std::abs(a) / 2.0;
}

void FeretDiameters(const std::vector<cv::Point2d>& polygon, double& longest, double& shortest)
{
    const std::vector<cv::Point2d> hull = Hull(polygon);
    longest = 0.0;
    for (const cv::Point2d& a : hull)
        for (const cv::Point2d& b : hull)
            longest = std::max(longest, cv::norm(a - b));
    // The narrowest caliper lies along an edge of the hull.
    shortest = longest;
    for (size_t i = 0; i < hull.size(); ++i) {
        const cv::Point2d a = hull[i], b = hull[(i + 1) % hull.size()];
        const double len = cv::norm(b - a);
        if (len <= 0.0)
            continue;
        double width = 0.0;
        for (const cv::Point2d& p : hull)
            width = std::max(width, std::abs((b - a).cross(p - a)) / len);
        shortest = std::min(shortest, width);
    }
}

double Solidity(const std::vector<cv::Point2d>& polygon)
{
    const double hull = PolygonArea(Hull(polygon));
    return hull > 0.0 ? PolygonArea(polygon) / hull : 1.0;
}

namespace detail {

Pose DrawShape(const Particle& p, double turnDeg, int half)
{
    const cv::Point2d about = PolygonCentroid(p.outline);
    const std::vector<cv::Point2d> outline = turnDeg == 0.0 ? p.outline : Turned(p.outline, turnDeg, about);
    Pose pose;
    pose.coverage = CoverageStamp(outline, half);
    if (p.shape == Shape::kHollow) {
        // Ring: full contrast; centre: centreShare of it.
        const double r = cv::norm(p.outline[0] - about);
        std::vector<cv::Point2d> inner;
        for (const cv::Point2d& q : p.outline)
            inner.push_back(about + (q - about) * ((r - p.ringWidth) / r));
        pose.darkness = pose.coverage - (1.0 - p.centreShare) * CoverageStamp(inner, half);
    }
    pose.stamp = pose.coverage >= 0.5f;
    pose.stamp /= 255;
    if (cv::countNonZero(pose.stamp) == 0) {
        cv::Point most;
        cv::minMaxLoc(pose.coverage, nullptr, nullptr, nullptr, &most);
        pose.stamp.at<uchar>(most) = 1;  // never empty
    }
    const cv::Moments m = cv::moments(pose.coverage);
    pose.centroid = cv::Point2d(m.m10 / m.m00 - half, m.m01 / m.m00 - half);
    return pose;
}

cv::Mat Defocused(const cv::Mat& shares, double sigma)
{
    const int pad = static_cast<int>(std::ceil(4.0 * sigma)) + 1;
    cv::Mat padded;
    cv::copyMakeBorder(shares, padded, pad, pad, pad, pad, cv::BORDER_CONSTANT, cv::Scalar(0));
    cv::GaussianBlur(padded, padded, cv::Size(0, 0), sigma, sigma, cv::BORDER_CONSTANT);
    return padded;
}

Particle MakeShapedParticle(const FlowSettings& s, cv::RNG& rng, double u, Shape shape)
{
    Particle p;
    p.shape = shape;
    const double aMin = kPi * s.radiusMin * s.radiusMin;
    const double aMax = kPi * s.radiusMax * s.radiusMax;
    const double area = std::exp(std::log(aMin) + u * (std::log(aMax) - std::log(aMin)));
    const cv::Point2d centre(rng.uniform(-0.5, 0.5), rng.uniform(-0.5, 0.5));
    const double angle = rng.uniform(0.0, 360.0);
    std::vector<cv::Point2d> outline;
    if (shape == Shape::kPolygon) {
        // Corners at angles spaced evenly but for a jitter, at radii 0.65 to 1.35.
        const int corners = rng.uniform(s.cornersMin, s.cornersMax + 1);
        const double stretch = rng.uniform(1.0, 1.8);
        for (int i = 0; i < corners; ++i) {
            const double a = 2.0 * kPi * (i + rng.uniform(-0.35, 0.35)) / corners;
            const double r = 1.0 + rng.uniform(-0.35, 0.35);
            outline.emplace_back(stretch * r * std::cos(a), r * std::sin(a));
        }
        if (rng.uniform(0.0, 1.0) < s.convexShare)
            outline = Hull(outline);
        const double scale = std::sqrt(area / PolygonArea(outline));
        for (cv::Point2d& q : outline)
            q *= scale;
    } else if (shape == Shape::kFibre) {
        // A capsule: a straight part between two half discs of its width.
        const double w = rng.uniform(s.fibreWidthMin, s.fibreWidthMax);
        const double length = w * rng.uniform(s.fibreLengthMin, s.fibreLengthMax);
        const double h = 0.5 * std::max(0.0, length - w), r = 0.5 * w;
        constexpr int kArc = 8;
        for (int end = 0; end < 2; ++end)
            for (int i = 0; i <= kArc; ++i) {
                const double a = kPi * (end - 0.5) + kPi * i / kArc;
                outline.emplace_back((end ? -h : h) + r * std::cos(a), r * std::sin(a));
            }
    } else {
        const double r = std::sqrt(area / kPi);
        outline = RegularPolygon(48, r, 0.0, 0.0);
        p.ringWidth = std::min(rng.uniform(s.ringMin, s.ringMax), 0.6 * r);
        p.centreShare = rng.uniform(s.centreMin, s.centreMax);
    }
    const cv::Point2d c = PolygonCentroid(outline);
    for (cv::Point2d& q : outline)
        q = q - c;
    outline = Turned(outline, angle, cv::Point2d(0.0, 0.0));
    for (cv::Point2d& q : outline)
        q += centre;
    p.outline = outline;
    p.angleDeg = angle;
    p.trueArea = PolygonArea(outline);
    FeretDiameters(outline, p.feretMax, p.feretMin);
    p.solidity = Solidity(outline);
    p.semiMajor = 0.5 * p.feretMax;
    p.semiMinor = 0.5 * p.feretMin;
    if ((shape == Shape::kPolygon || shape == Shape::kFibre) && s.turnMaxDeg > 0.0)
        p.turnDeg = rng.uniform(-s.turnMaxDeg, s.turnMaxDeg);
    const Pose pose = DrawShape(p, 0.0, HalfSize(outline));
    p.stamp = pose.stamp;
    p.coverage = pose.coverage;
    p.darkness = pose.darkness;
    p.area = cv::countNonZero(p.stamp);
    p.grey = rng.uniform(s.greyMin, s.greyMax + 1);
    return p;
}

void ShadeParticles(std::vector<Particle>& particles, const FlowSettings& s, const Travel& travel)
{
    const int pad = (s.blurSigma > 0.0 ? static_cast<int>(std::ceil(4.0 * s.blurSigma)) + 1 : 0) + 2;
    const cv::Rect near(-pad, -pad, s.width + 2 * pad, s.height + 2 * pad);
    for (Particle& p : particles) {
        auto shaded = [&](const cv::Mat& stamp, const cv::Mat& coverage, const cv::Mat& darkness) {
            if (p.defocus <= 0.0)
                return darkness;
            cv::Mat shares = darkness;
            if (shares.empty())
                shares = coverage;
            if (shares.empty())
                stamp.convertTo(shares, CV_32F);
            return Defocused(shares, p.defocus);
        };
        p.darkness = shaded(p.stamp, p.coverage, p.darkness);
        if (p.turnDeg == 0.0)
            continue;
        // Drawn anew in each frame from the first to the last that comes near the frame.
        const int reach = std::max(p.stamp.rows, p.darkness.rows) / 2;
        int first = -1, last = -1;
        for (size_t t = 0; t < travel.offsets.size(); ++t) {
            const cv::Point c(p.x0 + static_cast<int>(std::lround(p.speedFactor * travel.offsets[t])),
                              p.y + travel.camera[t]);
            if ((cv::Rect(c.x - reach, c.y - reach, 2 * reach + 1, 2 * reach + 1) & near).empty())
                continue;
            first = first < 0 ? static_cast<int>(t) : first;
            last = static_cast<int>(t);
        }
        p.poses.clear();
        p.firstPose = std::max(first, 0);
        for (int t = first; first >= 0 && t <= last; ++t) {
            Pose pose = DrawShape(p, p.turnDeg * t, p.stamp.rows / 2);
            pose.darkness = shaded(pose.stamp, pose.coverage, pose.darkness);
            p.poses.push_back(pose);
        }
    }
}

}  // namespace detail

}  // namespace flowgen
