#include "toolkit/ellipse_union.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr int kParams = 5;  // centre x, y, log a, log b, angle
constexpr double kMinAxis = 0.8;
constexpr int kLeadSteps = 8;  // steps of each start before the best runs on

using Shape = EllipseDistance;

std::vector<Shape> Shapes(const std::vector<Ellipse>& ellipses)
{
    return std::vector<Shape>(ellipses.begin(), ellipses.end());
}

// Distance and its derivatives by the five parameters; f = (K - k) / h with
// K = u^2 / a^2 + v^2 / b^2, k = sqrt K, h = |grad k| k (u, v: the point in the
// ellipse's axes), which is k - 1 over the gradient of k: the first-order distance.
double Distance(const Shape& e, const cv::Point2d& p, double* grad)
{
    const double c = e.c, s = e.s, A = e.A, B = e.B;
    const double dx = p.x - e.centre.x, dy = p.y - e.centre.y;
    const double u = dx * c + dy * s, v = -dx * s + dy * c;
    const double K = u * u * A + v * v * B;
    const double H = u * u * A * A + v * v * B * B;
    if (K < 1e-12 || H < 1e-24) {
        if (grad)
            std::fill(grad, grad + kParams, 0.0);
        return -std::min(e.a, e.b);
    }
    const double k = std::sqrt(K), h = std::sqrt(H);
    const double f = (K - k) / h;
    if (grad) {
        // d f = P dK - Q dH with the derivatives of K and H by each parameter through
        // u, v (centre and angle), A and B (log axes).
        const double P = (1.0 - 0.5 / k) / h, Q = 0.5 * f / H;
        const double kU = 2 * u * A, kV = 2 * v * B, hU = 2 * u * A * A, hV = 2 * v * B * B;
        grad[0] = P * (s * kV - c * kU) - Q * (s * hV - c * hU);
        grad[1] = -P * (s * kU + c * kV) + Q * (s * hU + c * hV);
        grad[2] = -2 * u * u * A * (P - 2 * Q * A);
        grad[3] = -2 * v * v * B * (P - 2 * Q * B);
        grad[4] = P * (v * kU - u * kV) - Q * (v * hU - u * hV);
    }
    return f;
}

// K = u^2 / a^2 + v^2 / b^2 of a point: below 1 inside the ellipse, above 1 outside.
double Level(const Shape& e, const cv::Point2d& p)
{
    const double dx = p.x - e.centre.x, dy = p.y - e.centre.y;
    const double u = dx * e.c + dy * e.s, v = -dx * e.s + dy * e.c;
    return u * u * e.A + v * v * e.B;
}

// Solves m x = b for a symmetric positive definite 5 x 5 m by Cholesky factors; false
// when m is not positive definite.
bool SolveSymmetric(const cv::Matx<double, kParams, kParams>& m, const cv::Vec<double, kParams>& b,
                    cv::Vec<double, kParams>& x)
{
    double l[kParams][kParams] = {};
    for (int i = 0; i < kParams; ++i)
        for (int j = 0; j <= i; ++j) {
            double sum = m(j, i);  // the upper triangle, which the callers fill
            for (int k = 0; k < j; ++k)
                sum -= l[i][k] * l[j][k];
            if (i == j) {
                if (sum <= 0.0)
                    return false;
                l[i][i] = std::sqrt(sum);
            } else {
                l[i][j] = sum / l[j][j];
            }
        }
    double y[kParams];
    for (int i = 0; i < kParams; ++i) {
        double sum = b[i];
        for (int k = 0; k < i; ++k)
            sum -= l[i][k] * y[k];
        y[i] = sum / l[i][i];
    }
    for (int i = kParams - 1; i >= 0; --i) {
        double sum = y[i];
        for (int k = i + 1; k < kParams; ++k)
            sum -= l[k][i] * x[k];
        x[i] = sum / l[i][i];
    }
    return true;
}

// The nearest ellipse of the union (least signed distance) and that distance.
double UnionDistance(const std::vector<Shape>& shapes, const cv::Point2d& p, int* nearest)
{
    double best = std::numeric_limits<double>::max();
    for (size_t i = 0; i < shapes.size(); ++i) {
        const double f = Distance(shapes[i], p, nullptr);
        if (f < best) {
            best = f;
            if (nearest)
                *nearest = static_cast<int>(i);
        }
    }
    return best;
}

// Depth of p inside the second ellipse that holds it (0 when fewer than two hold it)
// and which ellipse that is.
double OverlapDepth(const std::vector<Shape>& shapes, const cv::Point2d& p, int* second)
{
    double f1 = 0.0, f2 = 0.0;
    int i1 = -1, i2 = -1;
    for (size_t i = 0; i < shapes.size(); ++i) {
        const double f = Distance(shapes[i], p, nullptr);
        if (f < f1)
            f2 = f1, i2 = i1, f1 = f, i1 = static_cast<int>(i);
        else if (f < f2)
            f2 = f, i2 = static_cast<int>(i);
    }
    if (second)
        *second = i2;
    return f2;
}

// What a union's fit costs and, for the next step, which ellipse each point pulls on:
// each outline point on its nearest ellipse, each interior point inside two or more on
// the second (-1 for none).
struct Evaluation {
    double cost = 0.0;
    double outlineCost = 0.0;  // of the outline points alone
    std::vector<int> nearest, second;
    std::vector<Shape> shapes;  // of the ellipses evaluated
};

#if CV_SIMD128_64F
// Distance of two points at once, lane by lane the same arithmetic as Distance.
cv::v_float64x2 Distance2(const Shape& e, const cv::v_float64x2& px, const cv::v_float64x2& py)
{
    using namespace cv;
    const v_float64x2 c = v_setall_f64(e.c), s = v_setall_f64(e.s), A = v_setall_f64(e.A), B = v_setall_f64(e.B);
    const v_float64x2 dx = px - v_setall_f64(e.centre.x), dy = py - v_setall_f64(e.centre.y);
    const v_float64x2 u = dx * c + dy * s, v = (v_setzero_f64() - dx) * s + dy * c;
    const v_float64x2 uuA = u * u * A, vvB = v * v * B;
    const v_float64x2 K = uuA + vvB, H = uuA * A + vvB * B;
    const v_float64x2 degenerate = (K < v_setall_f64(1e-12)) | (H < v_setall_f64(1e-24));
    return v_select(degenerate, v_setall_f64(-std::min(e.a, e.b)), (K - v_sqrt(K)) / v_sqrt(H));
}
#endif

void Evaluate(const std::vector<Ellipse>& ellipses, const std::vector<cv::Point2d>& points,
              const std::vector<cv::Point2d>& interior, double overlapWeight, Evaluation& out)
{
    out.shapes.clear();
    for (const Ellipse& e : ellipses)
        out.shapes.emplace_back(e);
    const std::vector<Shape>& shapes = out.shapes;
    out.nearest.resize(points.size());
    double cost = 0.0;
    size_t first = 0;
#if CV_SIMD128_64F
    // Two points at a time; the sums keep the order of the points.
    for (; first + 2 <= points.size(); first += 2) {
        using namespace cv;
        v_float64x2 px, py;
        v_load_deinterleave(&points[first].x, px, py);
        v_float64x2 best = v_setall_f64(std::numeric_limits<double>::max()), which = v_setzero_f64();
        for (size_t e = 0; e < shapes.size(); ++e) {
            const v_float64x2 f = Distance2(shapes[e], px, py), closer = f < best;
            best = v_select(closer, f, best);
            which = v_select(closer, v_setall_f64(static_cast<double>(e)), which);
        }
        double f[2], nearest[2];
        v_store(f, best), v_store(nearest, which);
        cost += f[0] * f[0], cost += f[1] * f[1];
        out.nearest[first] = static_cast<int>(nearest[0]), out.nearest[first + 1] = static_cast<int>(nearest[1]);
    }
#endif
    for (size_t i = first; i < points.size(); ++i) {
        const double f = UnionDistance(shapes, points[i], &out.nearest[i]);
        cost += f * f;
    }
    out.outlineCost = cost;
    out.second.clear();
    if (shapes.size() > 1 && overlapWeight > 0.0) {
        out.second.resize(interior.size());
        size_t next = 0;
#if CV_SIMD128_64F
        for (; next + 2 <= interior.size(); next += 2) {
            using namespace cv;
            v_float64x2 px, py;
            v_load_deinterleave(&interior[next].x, px, py);
            // The two least distances below 0 and their ellipses, as OverlapDepth finds them.
            v_float64x2 f1 = v_setzero_f64(), f2 = f1, i1 = v_setall_f64(-1.0), i2 = i1;
            for (size_t e = 0; e < shapes.size(); ++e) {
                const v_float64x2 f = Distance2(shapes[e], px, py), index = v_setall_f64(static_cast<double>(e));
                const v_float64x2 least = f < f1, second = (f < f2) & ~least;
                f2 = v_select(least, f1, v_select(second, f, f2));
                i2 = v_select(least, i1, v_select(second, index, i2));
                f1 = v_select(least, f, f1);
                i1 = v_select(least, index, i1);
            }
            double depth[2], held[2];
            v_store(depth, f2), v_store(held, i2);
            for (size_t lane = 0; lane < 2; ++lane) {
                out.second[next + lane] = depth[lane] >= 0.0 ? -1 : static_cast<int>(held[lane]);
                const double f = overlapWeight * depth[lane];
                cost += f * f;
            }
        }
#endif
        for (size_t i = next; i < interior.size(); ++i) {
            const double depth = OverlapDepth(shapes, interior[i], &out.second[i]);
            if (depth >= 0.0)
                out.second[i] = -1;
            const double f = overlapWeight * depth;
            cost += f * f;
        }
    }
    out.cost = cost;
}

void Clamp(Ellipse& e, double minAxis, double maxAxis)
{
    e.a = std::clamp(e.a, minAxis, maxAxis);
    e.b = std::clamp(e.b, minAxis, maxAxis);
}

std::vector<cv::Point2d> MaskPoints(const cv::Mat& mask)
{
    std::vector<cv::Point2d> points;
    for (int y = 0; y < mask.rows; ++y) {
        const uchar* m = mask.ptr<uchar>(y);
        for (int x = 0; x < mask.cols; ++x)
            if (m[x])
                points.emplace_back(x, y);
    }
    return points;
}

// Lloyd's k-means of the blob's pixels from the given centres; the moment ellipse of each cluster.
std::vector<Ellipse> ClusterStart(const std::vector<cv::Point2d>& pixels, std::vector<cv::Point2d> centres)
{
    if (centres.empty())
        return {};
    std::vector<int> owner(pixels.size(), 0);
    for (int iteration = 0; iteration < 10; ++iteration) {
        bool moved = false;
        for (size_t i = 0; i < pixels.size(); ++i) {
            double best = std::numeric_limits<double>::max();
            int nearest = 0;
            for (size_t k = 0; k < centres.size(); ++k) {
                const cv::Point2d d = pixels[i] - centres[k];
                if (d.dot(d) < best)
                    best = d.dot(d), nearest = static_cast<int>(k);
            }
            moved = moved || nearest != owner[i];
            owner[i] = nearest;
        }
        // The same clusters again give the same centres: converged.
        if (iteration > 0 && !moved)
            break;
        std::vector<cv::Point2d> sum(centres.size());
        std::vector<int> count(centres.size(), 0);
        for (size_t i = 0; i < pixels.size(); ++i)
            sum[static_cast<size_t>(owner[i])] += pixels[i], ++count[static_cast<size_t>(owner[i])];
        for (size_t k = 0; k < centres.size(); ++k)
            if (count[k])
                centres[k] = sum[k] * (1.0 / count[k]);
    }
    std::vector<Ellipse> start;
    for (size_t k = 0; k < centres.size(); ++k) {
        std::vector<cv::Point2d> cluster;
        for (size_t i = 0; i < pixels.size(); ++i)
            if (owner[i] == static_cast<int>(k))
                cluster.push_back(pixels[i]);
        if (cluster.size() < 3)
            return {};
        start.push_back(MomentEllipse(cluster));
    }
    return start;
}

// Two centres on the ellipse's long axis, half way out.
std::vector<cv::Point2d> AxisCentres(const Ellipse& e)
{
    const cv::Point2d along(std::cos(e.angle), std::sin(e.angle));
    return {e.centre + 0.5 * e.a * along, e.centre - 0.5 * e.a * along};
}

// Two centres either side of the deepest dent of the outline, on the line through it
// that runs across the blob's centre.
std::vector<cv::Point2d> DentCentres(const cv::Mat& mask, const std::vector<cv::Point2d>& pixels)
{
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(mask.clone(), contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    if (contours.empty())
        return {};
    const std::vector<cv::Point>& outline = *std::max_element(
        contours.begin(), contours.end(), [](const auto& a, const auto& b) { return a.size() < b.size(); });
    if (outline.size() < 8)
        return {};
    std::vector<int> hull;
    cv::convexHull(outline, hull, false, false);
    if (hull.size() < 3)
        return {};
    std::sort(hull.begin(), hull.end());
    std::vector<cv::Vec4i> defects;
    try {
        cv::convexityDefects(outline, hull, defects);
    } catch (const cv::Exception&) {
        return {};
    }
    if (defects.empty())
        return {};
    const cv::Vec4i deepest =
        *std::max_element(defects.begin(), defects.end(), [](const auto& a, const auto& b) { return a[3] < b[3]; });
    const cv::Point2d dent = outline[static_cast<size_t>(deepest[2])];
    cv::Point2d mean;
    for (const cv::Point2d& p : pixels)
        mean += p;
    mean *= 1.0 / pixels.size();
    cv::Point2d across = mean - dent;
    const double length = cv::norm(across);
    if (length < 1e-6)
        return {};
    across *= 1.0 / length;
    const cv::Point2d normal(-across.y, across.x);
    cv::Point2d side[2];
    int count[2] = {};
    for (const cv::Point2d& p : pixels) {
        const int k = (p - dent).dot(normal) > 0 ? 1 : 0;
        side[k] += p, ++count[k];
    }
    if (!count[0] || !count[1])
        return {};
    return {side[0] * (1.0 / count[0]), side[1] * (1.0 / count[1])};
}

// The given ellipses and one more: the moment ellipse of the largest 8-connected part
// of the blob's pixels that lies outside them all.
std::vector<Ellipse> WithProtrusion(const std::vector<Ellipse>& ellipses, const std::vector<cv::Point2d>& pixels)
{
    cv::Rect box = cv::boundingRect(std::vector<cv::Point2f>(pixels.begin(), pixels.end()));
    box += cv::Size(2, 2);
    box -= cv::Point(1, 1);
    cv::Mat outside = cv::Mat::zeros(box.size(), CV_8UC1);
    const std::vector<Shape> shapes = Shapes(ellipses);
    for (const cv::Point2d& p : pixels)
        if (UnionDistance(shapes, p, nullptr) > 0.0)
            outside.at<uchar>(cvRound(p.y) - box.y, cvRound(p.x) - box.x) = 1;
    cv::Mat labels, stats, centres;
    const int n = cv::connectedComponentsWithStats(outside, labels, stats, centres, 8, CV_32S);
    int largest = 0;
    for (int k = 1; k < n; ++k)
        if (!largest || stats.at<int>(k, cv::CC_STAT_AREA) > stats.at<int>(largest, cv::CC_STAT_AREA))
            largest = k;
    if (!largest || stats.at<int>(largest, cv::CC_STAT_AREA) < 3)
        return {};
    std::vector<cv::Point2d> part;
    for (int y = 0; y < labels.rows; ++y)
        for (int x = 0; x < labels.cols; ++x)
            if (labels.at<int>(y, x) == largest)
                part.emplace_back(x + box.x, y + box.y);
    std::vector<Ellipse> out = ellipses;
    out.push_back(MomentEllipse(part));
    return out;
}

bool Plausible(const EllipseUnion& u, size_t points, const UnionSettings& s)
{
    for (size_t i = 0; i < u.ellipses.size(); ++i) {
        const Ellipse& e = u.ellipses[i];
        if (e.Area() < s.minArea || std::min(e.a, e.b) < s.minAxisRatio * std::max(e.a, e.b) ||
            u.support[i] < s.minSupport * static_cast<double>(points))
            return false;
    }
    return true;
}

}  // namespace

EllipseDistance::EllipseDistance(const Ellipse& e)
    : centre(e.centre)
    , a(e.a)
    , b(e.b)
    , c(std::cos(e.angle))
    , s(std::sin(e.angle))
    , A(1.0 / (e.a * e.a))
    , B(1.0 / (e.b * e.b))
{
}

double EllipseDistance::operator()(const cv::Point2d& p) const
{
    return Distance(*this, p, nullptr);
}

double EllipseDistance::Curvature(const cv::Point2d& p) const
{
    // At elliptic angle t the outline (a cos t, b sin t) bends by ab / (a^2 sin^2 t + b^2 cos^2 t)^1.5.
    const double dx = p.x - centre.x, dy = p.y - centre.y;
    const double u = (dx * c + dy * s) / a, v = (-dx * s + dy * c) / b;
    const double n2 = u * u + v * v;
    if (n2 < 1e-12)
        return 1.0 / std::max(a, b);
    const double q = (a * a * v * v + b * b * u * u) / n2;
    return a * b / (q * std::sqrt(q));
}

Ellipse MomentEllipse(const std::vector<cv::Point2d>& points)
{
    Ellipse e;
    if (points.empty())
        return e;
    cv::Point2d mean;
    for (const cv::Point2d& p : points)
        mean += p;
    mean *= 1.0 / points.size();
    double xx = 0.0, xy = 0.0, yy = 0.0;
    for (const cv::Point2d& p : points) {
        const cv::Point2d d = p - mean;
        xx += d.x * d.x, xy += d.x * d.y, yy += d.y * d.y;
    }
    const double n = static_cast<double>(points.size());
    xx /= n, xy /= n, yy /= n;
    // A pixel spreads over its square: 1/12 more on each axis.
    xx += 1.0 / 12, yy += 1.0 / 12;
    const double root = std::sqrt(0.25 * (xx - yy) * (xx - yy) + xy * xy);
    const double l1 = 0.5 * (xx + yy) + root, l2 = std::max(0.5 * (xx + yy) - root, 1e-3);
    e.centre = mean;
    e.a = 2.0 * std::sqrt(l1);
    e.b = 2.0 * std::sqrt(l2);
    e.angle = 0.5 * std::atan2(2.0 * xy, xx - yy);
    return e;
}

EllipseUnion FitEllipseUnion(const std::vector<cv::Point2d>& outline, std::vector<Ellipse> start, double minAxis,
                             double maxAxis, const std::vector<cv::Point2d>& interior, double overlapWeight,
                             int iterations)
{
    EllipseUnion result;
    for (Ellipse& e : start)
        Clamp(e, minAxis, maxAxis);
    std::vector<Ellipse> current = start;
    Evaluation now, trialEvaluation;
    Evaluate(current, outline, interior, overlapWeight, now);
    double damping = 1e-3;
    const size_t k = current.size();
    std::vector<cv::Matx<double, kParams, kParams>> normal(k);
    std::vector<cv::Vec<double, kParams>> rhs(k);
    std::vector<Ellipse> trial;
    for (int iteration = 0; iteration < iterations && !outline.empty(); ++iteration) {
        // Each point pulls on its nearest ellipse alone: the normal equations fall into
        // one 5 x 5 block per ellipse.
        std::fill(normal.begin(), normal.end(), cv::Matx<double, kParams, kParams>::zeros());
        std::fill(rhs.begin(), rhs.end(), cv::Vec<double, kParams>::all(0.0));
        double grad[kParams];
        const std::vector<Shape>& shapes = now.shapes;
        const auto add = [&](size_t e, double f, double weight) {
            for (int i = 0; i < kParams; ++i) {
                grad[i] *= weight;
                rhs[e][i] -= grad[i] * f;
            }
            for (int i = 0; i < kParams; ++i)
                for (int j = i; j < kParams; ++j)
                    normal[e](i, j) += grad[i] * grad[j];
        };
        for (size_t p = 0; p < outline.size(); ++p) {
            const size_t e = static_cast<size_t>(now.nearest[p]);
            add(e, Distance(shapes[e], outline[p], grad), 1.0);
        }
        for (size_t p = 0; p < now.second.size(); ++p)
            if (now.second[p] >= 0) {
                const size_t e = static_cast<size_t>(now.second[p]);
                add(e, overlapWeight * Distance(shapes[e], interior[p], grad), overlapWeight);
            }
        bool accepted = false, converged = false;
        for (int attempt = 0; attempt < 6 && !accepted; ++attempt) {
            trial = current;
            for (size_t e = 0; e < k; ++e) {
                cv::Matx<double, kParams, kParams> m = normal[e];
                for (int i = 0; i < kParams; ++i)
                    m(i, i) += damping * m(i, i) + 1e-9;
                cv::Vec<double, kParams> step;
                if (!SolveSymmetric(m, rhs[e], step))
                    continue;
                Ellipse& t = trial[e];
                t.centre += cv::Point2d(step[0], step[1]);
                t.a *= std::exp(std::clamp(step[2], -0.5, 0.5));
                t.b *= std::exp(std::clamp(step[3], -0.5, 0.5));
                t.angle += step[4];
                Clamp(t, minAxis, maxAxis);
            }
            Evaluate(trial, outline, interior, overlapWeight, trialEvaluation);
            if (trialEvaluation.cost < now.cost) {
                converged = now.cost - trialEvaluation.cost < 1e-4 * now.cost;
                current = trial, accepted = true;
                std::swap(now, trialEvaluation);
                damping = std::max(damping * 0.3, 1e-7);
            } else {
                damping *= 10.0;
            }
        }
        if (!accepted || converged)
            break;
    }
    result.ellipses = current;
    result.cost = now.cost;
    result.rms = outline.empty() ? 0.0 : std::sqrt(now.outlineCost / outline.size());
    result.support.assign(k, 0);
    for (const int nearest : now.nearest)
        ++result.support[static_cast<size_t>(nearest)];
    return result;
}

EllipseUnion FitSingleEllipse(const std::vector<cv::Point2d>& outline, const cv::Mat& mask, int iterations)
{
    // The mask's moments, summed exactly (a small mask costs less so than cv::moments).
    int64_t n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
    for (int y = 0; y < mask.rows; ++y) {
        const uchar* p = mask.ptr<uchar>(y);
        int64_t rn = 0, rx = 0, rxx = 0;
        for (int x = 0; x < mask.cols; ++x)
            if (p[x])
                ++rn, rx += x, rxx += x * x;
        n += rn, sx += rx, sy += rn * y, sxx += rxx, sxy += rx * y, syy += rn * y * y;
    }
    const double m00 = static_cast<double>(n);
    Ellipse whole;
    if (m00 > 0) {
        const double cx = static_cast<double>(sx) / m00, cy = static_cast<double>(sy) / m00;
        // As MomentEllipse: a pixel spreads over its square, 1/12 more on each axis.
        const double xx = (static_cast<double>(sxx) - cx * static_cast<double>(sx)) / m00 + 1.0 / 12;
        const double yy = (static_cast<double>(syy) - cy * static_cast<double>(sy)) / m00 + 1.0 / 12;
        const double xy = (static_cast<double>(sxy) - cx * static_cast<double>(sy)) / m00;
        const double root = std::sqrt(0.25 * (xx - yy) * (xx - yy) + xy * xy);
        whole.centre = cv::Point2d(cx, cy);
        whole.a = 2.0 * std::sqrt(0.5 * (xx + yy) + root);
        whole.b = 2.0 * std::sqrt(std::max(0.5 * (xx + yy) - root, 1e-3));
        whole.angle = 0.5 * std::atan2(2.0 * xy, xx - yy);
    }
    if (iterations == 0 && m00 >= 3) {
        // How well the moment ellipse alone fits.
        EllipseUnion u;
        u.ellipses.push_back(whole);
        u.support.assign(1, static_cast<int>(outline.size()));
        const Shape shape(whole);
        double sum = 0.0;
        for (const cv::Point2d& p : outline) {
            const double f = Distance(shape, p, nullptr);
            sum += f * f;
        }
        u.cost = sum;
        u.rms = outline.empty() ? 0.0 : std::sqrt(sum / outline.size());
        return u;
    }
    if (m00 < 3 || outline.size() < 6) {
        EllipseUnion u;
        u.ellipses.push_back(whole);
        u.support.assign(1, static_cast<int>(outline.size()));
        return u;
    }
    return FitEllipseUnion(outline, {whole}, kMinAxis, 2.0 * std::max(whole.a, whole.b) + 2.0, {}, 0.0, iterations);
}

EllipseUnion ExplainOutline(const std::vector<cv::Point2d>& outline, const cv::Mat& mask, const UnionSettings& s)
{
    EllipseUnion best = FitSingleEllipse(outline, mask);
    const std::vector<cv::Point2d> pixels = MaskPoints(mask);
    if (best.rms <= s.singleRms || pixels.size() < 6 || outline.size() < 12)
        return best;
    const Ellipse whole = MomentEllipse(pixels);
    const double maxAxis = 2.0 * std::max(whole.a, whole.b) + 2.0;
    // Every other pixel of every other row of the blob is plenty to weigh overlaps.
    std::vector<cv::Point2d> interior;
    for (const cv::Point2d& p : pixels)
        if (cvRound(p.x) % 2 == 0 && cvRound(p.y) % 2 == 0)
            interior.push_back(p);
    // Of several starts the fit with the least cost, overlap included.
    // Each start runs a few steps; the ones that got furthest run on, until one of them
    // ends as a plausible union.
    const double mu = 2.0 * s.overlapWeight;
    const auto bestFit = [&](const std::vector<std::vector<Ellipse>>& starts) {
        // Starts that came out the same (2-means from different centres often does) would
        // only fit the same way again.
        const auto same = [](const std::vector<Ellipse>& a, const std::vector<Ellipse>& b) {
            return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Ellipse& p, const Ellipse& q) {
                return p.centre == q.centre && p.a == q.a && p.b == q.b && p.angle == q.angle;
            });
        };
        std::vector<EllipseUnion> leads;
        for (size_t i = 0; i < starts.size(); ++i)
            if (!starts[i].empty() &&
                std::none_of(starts.begin(), starts.begin() + i, [&](const auto& e) { return same(e, starts[i]); }))
                leads.push_back(FitEllipseUnion(outline, starts[i], kMinAxis, maxAxis, interior, mu, kLeadSteps));
        std::sort(leads.begin(), leads.end(), [](const auto& a, const auto& b) { return a.cost < b.cost; });
        for (const EllipseUnion& lead : leads) {
            const EllipseUnion fit = FitEllipseUnion(outline, lead.ellipses, kMinAxis, maxAxis, interior, mu);
            if (Plausible(fit, outline.size(), s))
                return fit;
        }
        return EllipseUnion();
    };
    // Two: the single ellipse and what sticks out of it; or the blob parted by 2-means
    // from centres along its long axis or either side of its deepest dent.
    const EllipseUnion two = bestFit({WithProtrusion(best.ellipses, pixels), ClusterStart(pixels, AxisCentres(whole)),
                                      ClusterStart(pixels, DentCentres(mask, pixels))});
    if (two.ellipses.size() != 2 || two.rms > s.gain * best.rms)
        return best;
    best = two;
    if (s.maxEllipses < 3 || best.rms <= s.singleRms)
        return best;
    // Three: the two and what sticks out of them, or one of them parted along its long axis.
    std::vector<std::vector<Ellipse>> starts3 = {WithProtrusion(best.ellipses, pixels)};
    for (size_t split = 0; split < 2; ++split) {
        std::vector<cv::Point2d> c = AxisCentres(best.ellipses[split]);
        c.push_back(best.ellipses[1 - split].centre);
        starts3.push_back(ClusterStart(pixels, c));
    }
    const EllipseUnion three = bestFit(starts3);
    if (three.ellipses.size() == 3 && three.rms <= s.gain * best.rms)
        best = three;
    return best;
}

std::vector<cv::Point2d> LevelCrossings(const cv::Mat& value, const cv::Mat& mask, double level)
{
    std::vector<cv::Point2d> points;
    points.reserve(static_cast<size_t>(2 * (mask.rows + mask.cols)));  // about a blob's outline
    const auto crossing = [&](int x0, int y0, int x1, int y1) {
        const double v0 = value.at<float>(y0, x0), v1 = value.at<float>(y1, x1);
        const double t = v0 != v1 ? std::clamp((v0 - level) / (v0 - v1), 0.0, 1.0) : 0.5;
        points.emplace_back(x0 + t * (x1 - x0), y0 + t * (y1 - y0));
    };
    for (int y = 0; y < mask.rows; ++y) {
        const uchar* m = mask.ptr<uchar>(y);
        for (int x = 0; x < mask.cols; ++x) {
            if (!m[x])
                continue;
            if (x + 1 < mask.cols && !m[x + 1])
                crossing(x, y, x + 1, y);
            if (x > 0 && !m[x - 1])
                crossing(x, y, x - 1, y);
            if (y + 1 < mask.rows && !mask.at<uchar>(y + 1, x))
                crossing(x, y, x, y + 1);
            if (y > 0 && !mask.at<uchar>(y - 1, x))
                crossing(x, y, x, y - 1);
        }
    }
    return points;
}

namespace {

// Gaussian blur of small float images, zero outside them: separable for whole images,
// spread pixel by pixel for sparse ones.
class SmallBlur {
public:
    explicit SmallBlur(double sigma)
    {
        const int r = sigma < 0.2 ? 0 : static_cast<int>(std::ceil(3.5 * sigma));
        double total = 0.0;
        for (int i = -r; i <= r; ++i)
            kernel.push_back(r ? static_cast<float>(std::exp(-0.5 * i * i / (sigma * sigma))) : 1.0f),
                total += kernel.back();
        for (float& k : kernel)
            k = static_cast<float>(k / total);
    }

    int Radius() const { return static_cast<int>(kernel.size() / 2); }

    void Apply(const cv::Mat& in, cv::Mat& out, cv::Mat& scratch) const
    {
        const int r = Radius();
        scratch.create(in.size(), CV_32F);
        out.create(in.size(), CV_32F);
        // Along rows tap by tap, so that the loops over a row run as vector code; each
        // pixel still sums its taps in the same order.
        for (int y = 0; y < in.rows; ++y) {
            const float* s = in.ptr<float>(y);
            float* t = scratch.ptr<float>(y);
            std::fill(t, t + in.cols, 0.0f);
            if (std::all_of(s, s + in.cols, [](float v) { return v == 0.0f; }))
                continue;
            for (int i = -r; i <= r; ++i) {
                const float k = kernel[static_cast<size_t>(i + r)];
                for (int x = std::max(0, -i); x < std::min(in.cols, in.cols - i); ++x)
                    t[x] += k * s[x + i];
            }
        }
        for (int y = 0; y < in.rows; ++y) {
            float* o = out.ptr<float>(y);
            std::fill(o, o + in.cols, 0.0f);
            for (int i = std::max(-r, -y); i <= std::min(r, in.rows - 1 - y); ++i) {
                const float k = kernel[static_cast<size_t>(i + r)];
                const float* t = scratch.ptr<float>(y + i);
                for (int x = 0; x < in.cols; ++x)
                    o[x] += k * t[x];
            }
        }
    }

    // Adds the blurred image of a single pixel of value v at (x, y).
    void Spread(cv::Mat& out, int x, int y, float v) const
    {
        const int r = Radius();
        for (int dy = std::max(-r, -y); dy <= std::min(r, out.rows - 1 - y); ++dy) {
            float* o = out.ptr<float>(y + dy);
            const float ky = v * kernel[static_cast<size_t>(dy + r)];
            for (int dx = std::max(-r, -x); dx <= std::min(r, out.cols - 1 - x); ++dx)
                o[x + dx] += ky * kernel[static_cast<size_t>(dx + r)];
        }
    }

private:
    std::vector<float> kernel;
};

// The model of a window for a union of ellipses: each pixel shows the ellipse of the
// largest contrast x coverage (a ramp one pixel wide across its outline), blurred, with
// the contrasts that fit the darkness best by least squares.
struct UnionModel {
    std::vector<double> contrasts;
    cv::Mat model;                 // CV_32F
    double cost = 0.0;             // squared difference over the region
    std::vector<cv::Mat> columns;  // derivatives by centre x, y and log scale of each ellipse
};

// A pixel on an ellipse's outline ramp: how its coverage answers to the ellipse's centre
// x, y and log scale.
struct Ramp {
    int x, y;
    size_t ellipse;
    float d[3];
};

// Each ellipse's box within the window (origin: the window's top-left in the ellipses'
// coordinates), a pixel wider: outside it the ellipse covers nothing.
std::vector<cv::Rect> EllipseBoxes(const std::vector<Shape>& shapes, const cv::Point& origin, cv::Size window)
{
    std::vector<cv::Rect> boxes;
    for (const Shape& e : shapes) {
        const double hx = std::hypot(e.a * e.c, e.b * e.s) + 1.0, hy = std::hypot(e.a * e.s, e.b * e.c) + 1.0;
        boxes.push_back(cv::Rect(cv::Point(cvFloor(e.centre.x - hx) - origin.x, cvFloor(e.centre.y - hy) - origin.y),
                                 cv::Point(cvCeil(e.centre.x + hx) - origin.x + 1, cvCeil(e.centre.y + hy) - origin.y + 1)) &
                        cv::Rect(cv::Point(), window));
    }
    return boxes;
}

// Each ellipse's share of every pixel it shows (`shown`, one CV_32F image per ellipse,
// zero where another shows): the ellipse of the largest contrast (`order`) x coverage,
// the coverage a ramp one pixel wide across its outline. With `ramps`, the pixels on
// the ramps of the ellipses they show, with their derivatives.
void DrawCoverage(const std::vector<Shape>& shapes, const std::vector<double>& order, const std::vector<cv::Rect>& boxes,
                  const cv::Point& origin, std::vector<cv::Mat>& shown, std::vector<Ramp>* ramps)
{
    const size_t k = shapes.size();
    cv::Rect all;
    for (const cv::Rect& b : boxes)
        all |= b;
    // The distance is (k - 1) / |grad k| with k = sqrt(K) and |grad k| between 1 / a and
    // 1 / b (b the shorter semi-axis): pixels whose K lies beyond these bounds are
    // covered wholly or not at all, and need no distance.
    std::vector<double> fullBelow(k), emptyAbove(k);
    for (size_t i = 0; i < k; ++i) {
        const double shorter = std::min(shapes[i].a, shapes[i].b);
        fullBelow[i] = shorter > 0.5 ? (1.0 - 0.5 / shorter) * (1.0 - 0.5 / shorter) : -1.0;
        emptyAbove[i] = (1.0 + 0.5 / shorter) * (1.0 + 0.5 / shorter);
    }
    double grad[kParams];
    for (int y = all.y; y < all.br().y; ++y)
        for (int x = all.x; x < all.br().x; ++x) {
            const cv::Point2d p(origin.x + x, origin.y + y);
            size_t top = 0;
            double best = 0.0, cover = 0.0, f = 0.0;
            for (size_t i = 0; i < k; ++i) {
                if (!boxes[i].contains(cv::Point(x, y)))
                    continue;
                const double K = Level(shapes[i], p);
                if (K >= emptyAbove[i])
                    continue;
                const double fi = K <= fullBelow[i] ? -1.0 : Distance(shapes[i], p, nullptr);
                const double ci = std::clamp(0.5 - fi, 0.0, 1.0);
                if (order[i] * ci > best)
                    best = order[i] * ci, top = i, cover = ci, f = fi;
            }
            if (best <= 0.0)
                continue;
            shown[top].at<float>(y, x) = static_cast<float>(cover);
            if (ramps && std::abs(f) < 0.5) {
                Distance(shapes[top], p, grad);
                ramps->push_back({x,
                                  y,
                                  top,
                                  {static_cast<float>(-grad[0]), static_cast<float>(-grad[1]),
                                   static_cast<float>(-(grad[2] + grad[3]))}});
            }
        }
}

// The contrasts of the blurred shares that fit the darkness over the region (`inside`)
// best by least squares, at least 0.02 each; `order` where the fit fails.
std::vector<double> FitContrasts(const std::vector<cv::Mat>& shown, const cv::Mat& dark, const cv::Mat& inside,
                                 const std::vector<double>& order)
{
    const size_t k = shown.size();
    cv::Matx33d a3 = cv::Matx33d::zeros();
    cv::Vec3d b3(0, 0, 0);
    for (int y = 0; y < dark.rows; ++y) {
        const uchar* in = inside.ptr<uchar>(y);
        const float* d = dark.ptr<float>(y);
        const float* s0 = shown[0].ptr<float>(y);
        const float* s1 = k > 1 ? shown[1].ptr<float>(y) : s0;
        const float* s2 = k > 2 ? shown[2].ptr<float>(y) : s0;
        for (int x = 0; x < dark.cols; ++x) {
            if (!in[x])
                continue;
            const double v[3] = {s0[x], s1[x], s2[x]};
            for (size_t i = 0; i < k; ++i) {
                b3[static_cast<int>(i)] += v[i] * d[x];
                for (size_t j = 0; j < k; ++j)
                    a3(static_cast<int>(i), static_cast<int>(j)) += v[i] * v[j];
            }
        }
    }
    // Unused rows (fewer than three ellipses) hold 1 on the diagonal.
    for (size_t i = k; i < 3; ++i)
        a3(static_cast<int>(i), static_cast<int>(i)) = 1.0;
    std::vector<double> contrasts = order;
    cv::Vec3d c;
    if (cv::solve(a3, b3, c, cv::DECOMP_CHOLESKY))
        for (size_t i = 0; i < k; ++i)
            contrasts[i] = std::max(c[static_cast<int>(i)], 0.02);
    return contrasts;
}

UnionModel Model(const std::vector<Ellipse>& ellipses, const std::vector<double>& order, const cv::Mat& dark,
                 const cv::Mat& inside, const cv::Point& origin, const SmallBlur& smoothing, bool derivatives)
{
    const size_t k = ellipses.size();
    const int w = dark.cols, h = dark.rows;
    const std::vector<Shape> shapes = Shapes(ellipses);
    std::vector<cv::Mat> shown(k);
    for (size_t i = 0; i < k; ++i)
        shown[i] = cv::Mat::zeros(h, w, CV_32F);
    const std::vector<cv::Rect> boxes = EllipseBoxes(shapes, origin, dark.size());
    std::vector<Ramp> ramps;
    DrawCoverage(shapes, order, boxes, origin, shown, derivatives ? &ramps : nullptr);
    // Each ellipse blurred within the blur's reach of its box alone: zero beyond.
    cv::Mat scratch, blurred;
    const int radius = smoothing.Radius();
    for (size_t i = 0; i < k; ++i) {
        const cv::Rect reach =
            (boxes[i] + cv::Size(2 * radius, 2 * radius) - cv::Point(radius, radius)) & cv::Rect(0, 0, w, h);
        if (reach.empty())
            continue;
        smoothing.Apply(shown[i](reach), blurred, scratch);
        blurred.copyTo(shown[i](reach));
    }
    UnionModel m;
    m.contrasts = FitContrasts(shown, dark, inside, order);
    m.model = cv::Mat::zeros(h, w, CV_32F);
    for (size_t i = 0; i < k; ++i)
        cv::scaleAdd(shown[i], m.contrasts[i], m.model, m.model);
    for (int y = 0; y < h; ++y) {
        const uchar* in = inside.ptr<uchar>(y);
        const float* d = dark.ptr<float>(y);
        const float* mo = m.model.ptr<float>(y);
        for (int x = 0; x < w; ++x)
            if (in[x])
                m.cost += (d[x] - mo[x]) * (d[x] - mo[x]);
    }
    if (derivatives) {
        m.columns.assign(3 * k, cv::Mat());
        for (cv::Mat& column : m.columns)
            column = cv::Mat::zeros(h, w, CV_32F);
        for (const Ramp& r : ramps)
            for (int j = 0; j < 3; ++j)
                smoothing.Spread(m.columns[3 * r.ellipse + static_cast<size_t>(j)], r.x, r.y,
                                 static_cast<float>(m.contrasts[r.ellipse]) * r.d[j]);
    }
    return m;
}

// First guess of the contrasts: the mean darkness inside each ellipse, so that where two
// overlap the darker one shows from the start.
std::vector<double> MeanDarknessInside(const std::vector<Ellipse>& ellipses, const cv::Mat& dark, const cv::Point& origin)
{
    std::vector<double> contrasts(ellipses.size(), 0.0);
    for (size_t i = 0; i < ellipses.size(); ++i) {
        const Shape e(ellipses[i]);
        int count = 0;
        for (int y = 0; y < dark.rows; ++y)
            for (int x = 0; x < dark.cols; ++x)
                if (Level(e, cv::Point2d(origin.x + x, origin.y + y)) < 1.0)
                    contrasts[i] += dark.at<float>(y, x), ++count;
        contrasts[i] = count ? std::max(contrasts[i] / count, 0.02) : 0.02;
    }
    return contrasts;
}

// The Gauss-Newton normal equations of the model's derivative columns against the
// residuals over the region (n = 3 x ellipses unknowns).
void NormalEquations(const UnionModel& now, const cv::Mat& dark, const cv::Mat& inside, int n, cv::Mat& normal,
                     cv::Mat& rhs)
{
    // In plain arrays: at most three ellipses of three parameters.
    constexpr int kMax = 9;
    double sums[kMax][kMax] = {}, right[kMax] = {}, g[kMax];
    const float* rows[kMax];
    for (int y = 0; y < dark.rows; ++y) {
        const uchar* in = inside.ptr<uchar>(y);
        const float* d = dark.ptr<float>(y);
        const float* mo = now.model.ptr<float>(y);
        for (int i = 0; i < n; ++i)
            rows[i] = now.columns[static_cast<size_t>(i)].ptr<float>(y);
        for (int x = 0; x < dark.cols; ++x) {
            if (!in[x])
                continue;
            bool any = false;
            for (int i = 0; i < n; ++i)
                g[i] = rows[i][x], any = any || g[i] != 0.0;
            if (!any)
                continue;
            const double r = d[x] - mo[x];
            for (int i = 0; i < n; ++i) {
                right[i] += g[i] * r;
                for (int j = i; j < n; ++j)
                    sums[i][j] += g[i] * g[j];
            }
        }
    }
    normal.create(n, n, CV_64F), rhs.create(n, 1, CV_64F);
    for (int i = 0; i < n; ++i) {
        rhs.at<double>(i) = right[i];
        for (int j = 0; j < n; ++j)
            normal.at<double>(i, j) = j >= i ? sums[i][j] : sums[j][i];
    }
}

// The ellipses moved by a step of (centre x, y, log scale) each, bounded.
std::vector<Ellipse> Stepped(const std::vector<Ellipse>& ellipses, const cv::Mat& step)
{
    std::vector<Ellipse> trial = ellipses;
    for (size_t i = 0; i < trial.size(); ++i) {
        const int b = static_cast<int>(3 * i);
        trial[i].centre += cv::Point2d(std::clamp(step.at<double>(b), -1.0, 1.0),
                                       std::clamp(step.at<double>(b + 1), -1.0, 1.0));
        const double scale = std::exp(std::clamp(step.at<double>(b + 2), -0.2, 0.2));
        trial[i].a *= scale, trial[i].b *= scale;
    }
    return trial;
}

}  // namespace

std::vector<double> RefineUnionOnDarkness(const cv::Mat& darkness, const cv::Mat& region, double blur,
                                          std::vector<Ellipse>& ellipses, int iterations, double* cost,
                                          std::vector<double> contrasts)
{
    const size_t k = ellipses.size();
    if (k == 0)
        return {};
    CV_Assert(k <= 3);  // the model solves for at most three contrasts
    // The window: the region's pixels and the blur's reach around them.
    const int reach = static_cast<int>(std::ceil(3.0 * blur)) + 2;
    cv::Rect window = cv::boundingRect(region);
    window = (window + cv::Size(2 * reach, 2 * reach) - cv::Point(reach, reach)) &
             cv::Rect(0, 0, darkness.cols, darkness.rows);
    const cv::Mat dark = darkness(window), inside = region(window);
    const SmallBlur smoothing(blur);
    if (contrasts.size() != k)
        contrasts = MeanDarknessInside(ellipses, dark, window.tl());
    // Levenberg-Marquardt on the centre and log scale of each ellipse; the contrasts follow
    // by least squares at every step.
    UnionModel now = Model(ellipses, contrasts, dark, inside, window.tl(), smoothing, true);
    const int n = static_cast<int>(3 * k);
    double damping = 1e-2;
    cv::Mat normal, rhs;
    for (int iteration = 0; iteration < iterations; ++iteration) {
        NormalEquations(now, dark, inside, n, normal, rhs);
        bool accepted = false, converged = false;
        for (int attempt = 0; attempt < 4 && !accepted; ++attempt) {
            cv::Mat damped = normal.clone();
            for (int j = 0; j < n; ++j)
                damped.at<double>(j, j) = damped.at<double>(j, j) * (1.0 + damping) + 1e-9;
            cv::Mat step;
            if (!cv::solve(damped, rhs, step, cv::DECOMP_CHOLESKY))
                break;
            const std::vector<Ellipse> trial = Stepped(ellipses, step);
            const UnionModel t =
                Model(trial, now.contrasts, dark, inside, window.tl(), smoothing, iteration + 1 < iterations);
            if (t.cost < now.cost) {
                converged = now.cost - t.cost < 1e-3 * now.cost;
                ellipses = trial, accepted = true, now = t;
                damping = std::max(damping * 0.3, 1e-4);
            } else {
                damping *= 10.0;
            }
        }
        if (!accepted || converged)
            break;
    }
    if (cost)
        *cost = now.cost;
    return now.contrasts;
}
