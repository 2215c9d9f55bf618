#pragma once

// Frames of particles of one shape kind whose truth is obvious: irregular polygons
// (convex or not), thin fibres (capsules), hollow discs (a dark ring around a lighter
// centre; the truth is the whole disc), ellipses, each drawn by pixel shares of its
// outline (its area that of the outline), darkened by its own contrast, blurred by its
// own sigma (one for the frame, or each particle its own), on a background with a
// gradient and noise. Particles stand apart (singles) or two at a time touching or
// overlapping (pairs).

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace bench {

enum class ShapeKind { kEllipse, kConvexPolygon, kPolygon, kFibre, kHollow };

inline const char* ShapeName(ShapeKind kind)
{
    switch (kind) {
    case ShapeKind::kEllipse:
        return "ellipses";
    case ShapeKind::kConvexPolygon:
        return "convex polygons";
    case ShapeKind::kPolygon:
        return "polygons";
    case ShapeKind::kFibre:
        return "fibres";
    case ShapeKind::kHollow:
        return "hollow";
    }
    return "";
}

struct ShapeSettings {
    ShapeKind kind = ShapeKind::kPolygon;
    double radiusMin = 2.5, radiusMax = 9.0;  // equivalent radius of the outline (not of fibres)
    int cornersMin = 6, cornersMax = 10;      // polygons
    double irregularity = 0.35;               // polygons: radii vary by this share either way
    double stretchMax = 1.8;                  // polygons: stretched along one axis by up to this
    double widthMin = 2.4, widthMax = 4.4;    // fibres: capsules this wide
    double lengthMin = 4.0, lengthMax = 10.0;  // fibres: length per width
    double ringMin = 1.5, ringMax = 3.0;       // hollow: ring width, pixels, at most 0.6 of the radius
    double centreMin = 0.0, centreMax = 0.4;   // hollow: the centre's darkness per the ring's
    double blurMin = 1.0, blurMax = 1.0;       // each particle's blur drawn from this range
    double noise = 2.0;
    double contrastMin = 0.5, contrastMax = 0.8;
    double gradient = 0.2;
    int background = 200;
    bool pairs = false;  // two at a time, touching or overlapping
    cv::Size frame = cv::Size(640, 480);
    int cell = 0;  // one particle (or pair) per cell of this size; 0: as wide as the largest needs
};

// Pixels from a shape's centre that its outline may reach.
inline double ShapeReach(const ShapeSettings& s)
{
    if (s.kind == ShapeKind::kFibre)
        return 0.5 * s.widthMax * s.lengthMax + 1.0;
    if (s.kind == ShapeKind::kEllipse)
        return s.radiusMax / std::sqrt(0.45);
    return s.radiusMax * std::sqrt(s.stretchMax) * (1.0 + s.irregularity) * 1.3;
}

struct ShapeTruth {
    cv::Point2d centroid;  // of the outline, frame coordinates
    double area = 0.0;     // of the filled outline
    cv::Rect box;
    double blur = 0.0;
    double contrast = 0.0;
    double feretMax = 0.0, feretMin = 0.0;  // of the outline
    int pair = -1;                          // index of its partner, -1 alone
};

struct ShapeFrame {
    cv::Mat grey;
    std::vector<ShapeTruth> truth;
};

// A shape drawn by pixel shares: each pixel of a square stamp of odd size, centred on
// its middle pixel, darkened by the share of it the outline covers (drawn 8 times finer
// and averaged), or by the darkness of a hollow particle's ring and centre.
struct DrawnShape {
    std::vector<cv::Point2d> outline;  // relative to the stamp's centre pixel
    cv::Mat coverage;                  // CV_32F
    cv::Mat darkness;                  // CV_32F per unit contrast
};

inline double PolygonArea(const std::vector<cv::Point2d>& p)
{
    double a = 0.0;
    for (size_t i = 0; i < p.size(); ++i)
        a += p[i].x * p[(i + 1) % p.size()].y - p[(i + 1) % p.size()].x * p[i].y;
    return 0.5 * std::abs(a);
}

inline cv::Point2d PolygonCentroid(const std::vector<cv::Point2d>& p)
{
    double a = 0.0, cx = 0.0, cy = 0.0;
    for (size_t i = 0; i < p.size(); ++i) {
        const cv::Point2d& u = p[i];
        const cv::Point2d& v = p[(i + 1) % p.size()];
        const double cross = u.x * v.y - v.x * u.y;
        a += cross, cx += (u.x + v.x) * cross, cy += (u.y + v.y) * cross;
    }
    return cv::Point2d(cx / (3.0 * a), cy / (3.0 * a));
}

// Longest and shortest caliper widths of a polygon.
inline void Feret(const std::vector<cv::Point2d>& outline, double& longest, double& shortest)
{
    longest = 0.0, shortest = 1e9;
    for (int step = 0; step < 360; ++step) {
        const double a = step * CV_PI / 360, c = std::cos(a), s = std::sin(a);
        double lo = 1e9, hi = -1e9;
        for (const cv::Point2d& p : outline)
            lo = std::min(lo, p.x * c + p.y * s), hi = std::max(hi, p.x * c + p.y * s);
        longest = std::max(longest, hi - lo), shortest = std::min(shortest, hi - lo);
    }
}

// The share of each pixel of a (2 half + 1) square a polygon covers: the share of a
// pixel's 8 x 8 sub-pixel centres inside it (even-odd rule along each sub-pixel row).
inline cv::Mat Coverage(const std::vector<cv::Point2d>& outline, int half)
{
    constexpr int kFine = 8;
    const int size = 2 * half + 1;
    cv::Mat coverage = cv::Mat::zeros(size, size, CV_32F);
    std::vector<double> crossings;
    for (int fy = 0; fy < size * kFine; ++fy) {
        const double y = (fy + 0.5) / kFine - 0.5 - half;  // pixel centres at whole numbers
        crossings.clear();
        for (size_t i = 0; i < outline.size(); ++i) {
            const cv::Point2d& a = outline[i];
            const cv::Point2d& b = outline[(i + 1) % outline.size()];
            if ((a.y <= y) != (b.y <= y))
                crossings.push_back(a.x + (y - a.y) / (b.y - a.y) * (b.x - a.x));
        }
        std::sort(crossings.begin(), crossings.end());
        for (size_t k = 0; k + 1 < crossings.size(); k += 2)
            for (int fx = 0; fx < size * kFine; ++fx) {
                const double x = (fx + 0.5) / kFine - 0.5 - half;
                if (x >= crossings[k] && x < crossings[k + 1])
                    coverage.at<float>(fy / kFine, fx / kFine) += 1.0f / (kFine * kFine);
            }
    }
    return coverage;
}

inline DrawnShape DrawShape(const ShapeSettings& s, cv::RNG& rng)
{
    const double radius = std::exp(rng.uniform(std::log(s.radiusMin), std::log(s.radiusMax)));
    const double turn = rng.uniform(0.0, CV_PI);
    const cv::Point2d offset(rng.uniform(-0.5, 0.5), rng.uniform(-0.5, 0.5));
    std::vector<cv::Point2d> outline;
    if (s.kind == ShapeKind::kFibre) {
        const double w = rng.uniform(s.widthMin, s.widthMax), l = w * rng.uniform(s.lengthMin, s.lengthMax);
        const double h = 0.5 * (l - w);
        for (int end = 0; end < 2; ++end)
            for (int i = 0; i <= 8; ++i) {
                const double a = CV_PI * (end - 0.5) + CV_PI * i / 8;
                outline.emplace_back((end ? -h : h) + 0.5 * w * std::cos(a), 0.5 * w * std::sin(a));
            }
    } else if (s.kind == ShapeKind::kPolygon || s.kind == ShapeKind::kConvexPolygon) {
        const int n = rng.uniform(s.cornersMin, s.cornersMax + 1);
        std::vector<double> angles;
        for (int i = 0; i < n; ++i)
            angles.push_back(rng.uniform(0.0, 2 * CV_PI));
        std::sort(angles.begin(), angles.end());
        const double stretch = rng.uniform(1.0, s.stretchMax);
        std::vector<cv::Point2f> points;
        for (double a : angles) {
            const double r = 1.0 + s.irregularity * rng.uniform(-1.0, 1.0);
            points.emplace_back(static_cast<float>(stretch * r * std::cos(a)), static_cast<float>(r * std::sin(a)));
        }
        if (s.kind == ShapeKind::kConvexPolygon)
            cv::convexHull(std::vector<cv::Point2f>(points), points);
        for (const cv::Point2f& p : points)
            outline.emplace_back(p.x, p.y);
        const double scale = radius * std::sqrt(CV_PI / PolygonArea(outline));
        for (cv::Point2d& p : outline)
            p *= scale;
    } else {
        const double ratio = s.kind == ShapeKind::kEllipse ? rng.uniform(0.45, 1.0) : 1.0;
        for (int i = 0; i < 64; ++i) {
            const double a = 2 * CV_PI * i / 64;
            outline.emplace_back(radius / std::sqrt(ratio) * std::cos(a), radius * std::sqrt(ratio) * std::sin(a));
        }
    }
    double reach = 0.0;
    for (cv::Point2d& p : outline) {
        p = cv::Point2d(p.x * std::cos(turn) - p.y * std::sin(turn), p.x * std::sin(turn) + p.y * std::cos(turn)) + offset;
        reach = std::max(reach, cv::norm(p));
    }
    const int half = static_cast<int>(std::ceil(reach)) + 2;
    DrawnShape shape;
    shape.outline = outline;
    shape.coverage = Coverage(outline, half);
    shape.darkness = shape.coverage.clone();
    if (s.kind == ShapeKind::kHollow) {
        // The centre: the disc less a ring of its width, darkened by its share of the ring's.
        const double ring = std::min(rng.uniform(s.ringMin, s.ringMax), 0.6 * radius);
        std::vector<cv::Point2d> inner;
        for (const cv::Point2d& p : outline)
            inner.push_back(offset + (p - offset) * ((radius - ring) / radius));
        const double centre = rng.uniform(s.centreMin, s.centreMax);
        shape.darkness -= (1.0 - centre) * Coverage(inner, half);
    }
    return shape;
}

// A frame of particles of one kind, one (or one pair) per cell, each pair sharing its
// blur. Seeded: the same settings and seed give the same frame.
inline ShapeFrame RenderShapeFrame(const ShapeSettings& s, unsigned seed)
{
    cv::RNG rng(0x5AFE0000ull + seed * 7919ull + static_cast<unsigned>(s.kind) * 104729ull);
    ShapeFrame out;
    cv::Mat dark = cv::Mat::zeros(s.frame, CV_32F);
    const int single = s.cell > 0 ? s.cell : 2 * static_cast<int>(std::ceil(ShapeReach(s))) + 16;
    const int cell = s.pairs ? 2 * single : single;
    for (int cy = 0; cy + cell <= s.frame.height; cy += cell)
        for (int cx = 0; cx + cell <= s.frame.width; cx += cell) {
            const double blur = rng.uniform(s.blurMin, s.blurMax + 1e-9);
            const int members = s.pairs ? 2 : 1;
            std::vector<DrawnShape> shapes;
            std::vector<cv::Point> centres;
            for (int m = 0; m < members; ++m) {
                // Drawn again until it fits its cell (a rare dented polygon reaches far).
                DrawnShape d = DrawShape(s, rng);
                while (d.coverage.cols > single - 4)
                    d = DrawShape(s, rng);
                shapes.push_back(d);
            }
            centres.emplace_back(cx + cell / 2, cy + cell / 2);
            if (s.pairs) {
                // The second moved out along a random direction until it only just
                // touches, then back in by up to a third of its own extent.
                const double a = rng.uniform(0.0, 2 * CV_PI);
                const cv::Rect whole(0, 0, cell, cell);
                cv::Mat first = cv::Mat::zeros(cell, cell, CV_8UC1);
                const cv::Mat firstStamp = shapes[0].coverage > 0.0;
                firstStamp.copyTo(first(cv::Rect(cell / 2 - firstStamp.cols / 2, cell / 2 - firstStamp.rows / 2,
                                                 firstStamp.cols, firstStamp.rows)));
                const cv::Mat second = shapes[1].coverage > 0.0;
                const int h = second.rows / 2;
                cv::Point at;
                for (double d = 0; d < cell / 2 - h - 1; d += 0.5) {
                    at = cv::Point(cell / 2 + cvRound(d * std::cos(a)), cell / 2 + cvRound(d * std::sin(a)));
                    const cv::Rect r(at.x - h, at.y - h, 2 * h + 1, 2 * h + 1);
                    if ((r & whole) != r)
                        break;
                    if (cv::countNonZero(first(r) & second) == 0)
                        break;
                }
                const double back = rng.uniform(0.0, h / 3.0);
                at -= cv::Point(cvRound(back * std::cos(a)), cvRound(back * std::sin(a)));
                centres.emplace_back(cx + at.x, cy + at.y);
            }
            const int firstIndex = static_cast<int>(out.truth.size());
            cv::Mat sharp = cv::Mat::zeros(cell, cell, CV_32F);
            for (int m = 0; m < members; ++m) {
                const DrawnShape& d = shapes[static_cast<size_t>(m)];
                const cv::Point centre = centres[static_cast<size_t>(m)];
                const cv::Rect r(centre.x - cx - d.coverage.cols / 2, centre.y - cy - d.coverage.rows / 2, d.coverage.cols,
                                 d.coverage.rows);
                const double contrast = rng.uniform(s.contrastMin, s.contrastMax);
                // Where two overlap the darker shows.
                cv::Mat darker = cv::max(sharp(r), d.darkness * contrast);
                darker.copyTo(sharp(r));
                ShapeTruth t;
                t.centroid = PolygonCentroid(d.outline) + cv::Point2d(centre);
                t.area = PolygonArea(d.outline);
                std::vector<cv::Point2f> points;
                for (const cv::Point2d& p : d.outline)
                    points.emplace_back(static_cast<float>(p.x + centre.x), static_cast<float>(p.y + centre.y));
                t.box = cv::boundingRect(points);
                t.blur = blur;
                t.contrast = contrast;
                Feret(d.outline, t.feretMax, t.feretMin);
                t.pair = s.pairs ? firstIndex + 1 - m : -1;
                out.truth.push_back(t);
            }
            if (blur > 0.0)
                cv::GaussianBlur(sharp, sharp, cv::Size(0, 0), blur, blur, cv::BORDER_CONSTANT);
            dark(cv::Rect(cx, cy, cell, cell)) += sharp;
        }
    cv::Mat grey(s.frame, CV_32F);
    cv::RNG noise(0x4015E000ull + seed);
    for (int y = 0; y < grey.rows; ++y)
        for (int x = 0; x < grey.cols; ++x) {
            const double level = s.background * (1.0 + s.gradient * (x / (grey.cols - 1.0) - 0.5));
            grey.at<float>(y, x) =
                static_cast<float>(level * (1.0 - dark.at<float>(y, x)) + noise.gaussian(s.noise));
        }
    grey.convertTo(out.grey, CV_8U);
    return out;
}

}  // namespace bench
