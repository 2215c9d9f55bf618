#pragma once

// Frames of particles of one shape kind whose truth is obvious: irregular polygons
// (convex or not), thin fibres, hollow discs (a dark ring around a lighter centre;
// the truth is the whole disc), ellipses, each drawn as a 0/1 stamp whose pixels are
// its area, darkened by its own contrast, blurred by its own sigma (one for the frame,
// or each particle its own), on a background with a gradient and noise. Particles
// stand apart (singles) or two at a time touching or overlapping (pairs).

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
    double radiusMin = 2.5, radiusMax = 9.0;  // equivalent radius of the drawn shape (not of fibres)
    int cornersMin = 6, cornersMax = 10;      // polygons
    double irregularity = 0.45;               // polygons: radii vary by this share either way
    double widthMin = 2.4, widthMax = 4.4;    // fibres
    double lengthMin = 4.0, lengthMax = 10.0;  // fibres: length per width
    double ringMin = 0.25, ringMax = 0.5;      // hollow: ring width per radius
    double centreMin = -0.1, centreMax = 0.3;  // hollow: the centre's darkness per the ring's
    double blurMin = 1.0, blurMax = 1.0;       // each particle's blur drawn from this range
    double noise = 2.0;
    double contrastMin = 0.5, contrastMax = 0.8;
    double gradient = 0.2;
    int background = 200;
    bool pairs = false;  // two at a time, touching or overlapping
    cv::Size frame = cv::Size(640, 480);
    int cell = 0;  // one particle (or pair) per cell of this size; 0: as wide as the largest needs
};

// Pixels from a shape's centre that its stamp may reach.
inline double ShapeReach(const ShapeSettings& s)
{
    if (s.kind == ShapeKind::kFibre)
        return 0.5 * s.widthMax * s.lengthMax + s.widthMax;
    if (s.kind == ShapeKind::kEllipse)
        return s.radiusMax / std::sqrt(0.45);
    return s.radiusMax * (1.0 + s.irregularity);
}

struct ShapeTruth {
    cv::Point2d centroid;  // of the drawn pixels, frame coordinates
    int area = 0;          // pixels of the filled outline
    cv::Rect box;
    double blur = 0.0;
    double feretMax = 0.0, feretMin = 0.0;  // of the drawn pixels' squares
    int pair = -1;                          // index of its partner, -1 alone
};

struct ShapeFrame {
    cv::Mat grey;
    std::vector<ShapeTruth> truth;
};

// A shape as a 0/1 stamp of odd size centred on its middle pixel and its darkness per
// unit contrast (CV_32F, same size).
struct DrawnShape {
    cv::Mat stamp, darkness;
};

inline DrawnShape DrawShape(const ShapeSettings& s, cv::RNG& rng)
{
    const double radius = rng.uniform(s.radiusMin, s.radiusMax);
    std::vector<cv::Point2d> corners;
    double reach = radius;
    const double turn = rng.uniform(0.0, CV_PI);
    const cv::Point2d offset(rng.uniform(-0.5, 0.5), rng.uniform(-0.5, 0.5));
    if (s.kind == ShapeKind::kFibre) {
        const double w = rng.uniform(s.widthMin, s.widthMax), l = w * rng.uniform(s.lengthMin, s.lengthMax);
        const cv::Point2d along(std::cos(turn), std::sin(turn)), across(-along.y, along.x);
        for (const auto& [u, v] : {std::pair{1, 1}, {-1, 1}, {-1, -1}, {1, -1}})
            corners.push_back(0.5 * l * u * along + 0.5 * w * v * across);
        reach = 0.5 * l + w;
    } else if (s.kind == ShapeKind::kPolygon || s.kind == ShapeKind::kConvexPolygon) {
        const int n = rng.uniform(s.cornersMin, s.cornersMax + 1);
        std::vector<double> angles;
        for (int i = 0; i < n; ++i)
            angles.push_back(turn + 2 * CV_PI * (i + rng.uniform(-0.3, 0.3)) / n);
        std::vector<cv::Point2f> points;
        for (double a : angles) {
            const double r = radius * (1.0 + s.irregularity * rng.uniform(-1.0, 1.0));
            points.emplace_back(static_cast<float>(r * std::cos(a)), static_cast<float>(r * std::sin(a)));
        }
        if (s.kind == ShapeKind::kConvexPolygon)
            cv::convexHull(std::vector<cv::Point2f>(points), points);
        for (const cv::Point2f& p : points)
            corners.emplace_back(p.x, p.y);
        reach = radius * (1.0 + s.irregularity);
    }
    const int h = static_cast<int>(std::ceil(reach)) + 2;
    DrawnShape shape;
    shape.stamp = cv::Mat::zeros(2 * h + 1, 2 * h + 1, CV_8UC1);
    constexpr int kShift = 4;
    const auto fixed = [&](const cv::Point2d& p) {
        return cv::Point(cvRound((p.x + offset.x + h) * (1 << kShift)), cvRound((p.y + offset.y + h) * (1 << kShift)));
    };
    if (corners.empty()) {  // an ellipse, or the disc of a hollow particle
        const double ratio = s.kind == ShapeKind::kEllipse ? rng.uniform(0.45, 1.0) : 1.0;
        const double a = radius / std::sqrt(ratio);
        cv::ellipse(shape.stamp, fixed(cv::Point2d()), cv::Size(cvRound(a * 16), cvRound(a * ratio * 16)),
                    turn * 180 / CV_PI, 0, 360, cv::Scalar(1), cv::FILLED, cv::LINE_8, kShift);
    } else {
        std::vector<cv::Point> polygon;
        for (const cv::Point2d& p : corners)
            polygon.push_back(fixed(p));
        cv::fillPoly(shape.stamp, std::vector<std::vector<cv::Point>>{polygon}, cv::Scalar(1), cv::LINE_8, kShift);
    }
    shape.stamp.at<uchar>(h, h) = 1;  // never empty
    shape.stamp.convertTo(shape.darkness, CV_32F);
    if (s.kind == ShapeKind::kHollow) {
        // The centre: the disc less a ring of the given width.
        const double inner = radius * (1.0 - rng.uniform(s.ringMin, s.ringMax));
        const float centre = static_cast<float>(rng.uniform(s.centreMin, s.centreMax));
        for (int y = 0; y < shape.darkness.rows; ++y)
            for (int x = 0; x < shape.darkness.cols; ++x)
                if (std::hypot(x - h - offset.x, y - h - offset.y) < inner && shape.stamp.at<uchar>(y, x))
                    shape.darkness.at<float>(y, x) = centre;
    }
    return shape;
}

// Longest and shortest caliper widths of the drawn pixels, each a unit square.
inline void FeretOfStamp(const cv::Mat& stamp, double& longest, double& shortest)
{
    std::vector<cv::Point2f> corners;
    for (int y = 0; y < stamp.rows; ++y)
        for (int x = 0; x < stamp.cols; ++x)
            if (stamp.at<uchar>(y, x))
                for (const auto& [dx, dy] : {std::pair{-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}})
                    corners.emplace_back(x + dx, y + dy);
    std::vector<cv::Point2f> hull;
    cv::convexHull(corners, hull);
    longest = 0.0, shortest = 1e9;
    for (int step = 0; step < 180; ++step) {
        const double a = step * CV_PI / 180, c = std::cos(a), s = std::sin(a);
        double lo = 1e9, hi = -1e9;
        for (const cv::Point2f& p : hull)
            lo = std::min(lo, p.x * c + p.y * s), hi = std::max(hi, p.x * c + p.y * s);
        longest = std::max(longest, hi - lo), shortest = std::min(shortest, hi - lo);
    }
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
            for (int m = 0; m < members; ++m)
                shapes.push_back(DrawShape(s, rng));
            centres.emplace_back(cx + cell / 2, cy + cell / 2);
            if (s.pairs) {
                // The second moved out along a random direction until it only just
                // touches, then back in by up to a third of its own extent.
                const double a = rng.uniform(0.0, 2 * CV_PI);
                const cv::Rect whole(0, 0, cell, cell);
                cv::Mat first = cv::Mat::zeros(cell, cell, CV_8UC1);
                shapes[0].stamp.copyTo(first(cv::Rect(cell / 2 - shapes[0].stamp.cols / 2,
                                                      cell / 2 - shapes[0].stamp.rows / 2, shapes[0].stamp.cols,
                                                      shapes[0].stamp.rows)));
                cv::dilate(first, first, cv::Mat::ones(3, 3, CV_8UC1));
                const int h = shapes[1].stamp.rows / 2;
                cv::Point at;
                for (double d = 0; d < cell / 2 - h - 1; d += 0.5) {
                    at = cv::Point(cell / 2 + cvRound(d * std::cos(a)), cell / 2 + cvRound(d * std::sin(a)));
                    const cv::Rect r(at.x - h, at.y - h, 2 * h + 1, 2 * h + 1);
                    if ((r & whole) != r)
                        break;
                    if (cv::countNonZero(first(r) & shapes[1].stamp) == 0)
                        break;
                }
                const double back = rng.uniform(0.0, h / 3.0);
                at -= cv::Point(cvRound(back * std::cos(a)), cvRound(back * std::sin(a)));
                centres.emplace_back(cx + at.x, cy + at.y);
            }
            const int first = static_cast<int>(out.truth.size());
            cv::Mat sharp = cv::Mat::zeros(cell, cell, CV_32F);
            for (int m = 0; m < members; ++m) {
                const DrawnShape& d = shapes[static_cast<size_t>(m)];
                const cv::Rect r(centres[static_cast<size_t>(m)].x - cx - d.stamp.cols / 2,
                                 centres[static_cast<size_t>(m)].y - cy - d.stamp.rows / 2, d.stamp.cols,
                                 d.stamp.rows);
                const double contrast = rng.uniform(s.contrastMin, s.contrastMax);
                cv::Mat darker = d.darkness * contrast;
                // Where two overlap the darker shows.
                darker.copyTo(sharp(r), (d.stamp != 0) & (darker > sharp(r)));
                ShapeTruth t;
                const cv::Moments mo = cv::moments(d.stamp, true);
                t.centroid = cv::Point2d(cx + r.x + mo.m10 / mo.m00, cy + r.y + mo.m01 / mo.m00);
                t.area = cv::countNonZero(d.stamp);
                t.box = cv::boundingRect(d.stamp) + cv::Point(cx + r.x, cy + r.y);
                t.blur = blur;
                FeretOfStamp(d.stamp, t.feretMax, t.feretMin);
                t.pair = s.pairs ? first + 1 - m : -1;
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
