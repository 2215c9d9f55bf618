#include "toolkit/weighted_observation.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Gaussian weight exp(-d^2 / 2 w^2) along one axis of the roi. From the pixel nearest
// the centre outwards each weight is the one before times a ratio that itself shrinks
// by exp(-1 / w^2) per pixel: three exponentials instead of one per pixel.
void AxisWeights(int n, double centre, double w, std::vector<double>& out)
{
    out.resize(static_cast<size_t>(n));
    if (n <= 0)
        return;
    const double k = -0.5 / (w * w), q = std::exp(2 * k);
    const int c = std::clamp(static_cast<int>(std::lround(centre)), 0, n - 1);
    const double d = c - centre;
    const double wc = std::exp(k * d * d);
    out[static_cast<size_t>(c)] = wc;
    constexpr double kNegligible = 1e-200;  // and below: 0, before the products reach denormals
    double v = wc, ratio = std::exp(k * (2 * d + 1));
    for (int i = c + 1; i < n; ++i, ratio *= q)
        out[static_cast<size_t>(i)] = v = v > kNegligible ? v * ratio : 0.0;
    v = wc, ratio = std::exp(k * (1 - 2 * d));
    for (int i = c - 1; i >= 0; --i, ratio *= q)
        out[static_cast<size_t>(i)] = v = v > kNegligible ? v * ratio : 0.0;
}

}  // namespace

WeightedObservation Observe(const DarknessRegion& r, const cv::Mat& owner, int id, double pixels, double blur)
{
    WeightedObservation m;
    const double reff = std::hypot(std::sqrt(std::max(pixels, 1.0) / kPi) / std::sqrt(2.0), blur);
    const double wa = std::max(0.75 * reff, 0.8), wb = std::max(0.95 * reff, 1.0);
    double s0 = 0, sx = 0, sy = 0;
    for (int y = 0; y < r.roi.height; ++y) {
        const float* d = r.dark.ptr<float>(y);
        const int* o = owner.ptr<int>(y);
        for (int x = 0; x < r.roi.width; ++x)
            if (o[x] == id && d[x] > 0)
                s0 += d[x], sx += d[x] * x, sy += d[x] * y;
    }
    if (s0 <= 0.0)
        return m;
    m.centre = cv::Point2d(sx / s0, sy / s0);
    // Kept from call to call: a frame observes hundreds of particles.
    thread_local std::vector<double> ex, ey, ex2, ey2;
    for (int pass = 0; pass < 2; ++pass) {
        AxisWeights(r.roi.width, m.centre.x, wb, ex);
        AxisWeights(r.roi.height, m.centre.y, wb, ey);
        s0 = sx = sy = 0;
        for (int y = 0; y < r.roi.height; ++y) {
            const float* d = r.dark.ptr<float>(y);
            const int* o = owner.ptr<int>(y);
            double rs = 0, rx = 0;
            for (int x = 0; x < r.roi.width; ++x)
                if (o[x] == id) {
                    const double v = d[x] * ex[static_cast<size_t>(x)];
                    rs += v, rx += v * x;
                }
            s0 += rs * ey[static_cast<size_t>(y)], sx += rx * ey[static_cast<size_t>(y)];
            sy += rs * ey[static_cast<size_t>(y)] * y;
        }
        if (s0 <= 0.0)
            break;
        const cv::Point2d next(sx / s0, sy / s0);
        if (cv::norm(next - m.centre) > 2.0)
            break;
        m.centre = next;
    }
    AxisWeights(r.roi.width, m.centre.x, wa, ex);
    AxisWeights(r.roi.height, m.centre.y, wa, ey);
    AxisWeights(r.roi.width, m.centre.x, wb, ex2);
    AxisWeights(r.roi.height, m.centre.y, wb, ey2);
    WeightedSums& sums = m.sums;
    sums.narrowWeight = wa, sums.wideWeight = wb, sums.areaGuess = std::max(pixels, 1.0);
    // The weights are products of a column and a row factor: every sum is summed along
    // its row first, from column factors prepared once, and then weighted by the row's.
    const size_t w = static_cast<size_t>(r.roi.width);
    thread_local std::vector<double> ebx, ebxx, noise;  // per column: wide x dx, x dx^2; noise factors
    ebx.resize(w), ebxx.resize(w), noise.resize(5 * w);
    for (size_t x = 0; x < w; ++x) {
        const double dx = static_cast<double>(x) - m.centre.x, a = ex[x], b = ex2[x];
        ebx[x] = b * dx, ebxx[x] = b * dx * dx;
        double* n = &noise[5 * x];
        n[0] = a * a, n[1] = b * b, n[2] = a * b, n[3] = b * b * dx * dx, n[4] = b * b * dx * dx * dx * dx;
    }
    double xx = 0, xy = 0, yy = 0, bbr4 = 0;
    for (int y = 0; y < r.roi.height; ++y) {
        const float* d = r.dark.ptr<float>(y);
        const int* o = owner.ptr<int>(y);
        const double dy = y - m.centre.y, ya = ey[static_cast<size_t>(y)], yb = ey2[static_cast<size_t>(y)];
        double ra = 0, rb = 0, rbx = 0, rbxx = 0, n0 = 0, n1 = 0, n2 = 0, n3 = 0, n4 = 0;
        for (size_t x = 0; x < w; ++x) {
            if (o[x] != id)
                continue;
            const double v = d[x];
            ra += ex[x] * v, rb += ex2[x] * v, rbx += ebx[x] * v, rbxx += ebxx[x] * v;
            const double* n = &noise[5 * x];
            n0 += n[0], n1 += n[1], n2 += n[2], n3 += n[3], n4 += n[4];
        }
        sums.narrow += ya * ra, sums.wide += yb * rb;
        xx += yb * rbxx, xy += yb * dy * rbx, yy += yb * dy * dy * rb;
        m.noiseNarrow += ya * ya * n0, m.noiseWide += yb * yb * n1, m.noiseCross += ya * yb * n2;
        // (dx^2 + dy^2)^2 = dx^4 + 2 dx^2 dy^2 + dy^4
        bbr4 += yb * yb * (n4 + 2 * dy * dy * n3 + dy * dy * dy * dy * n1);
    }
    if (sums.wide <= 0.0 || sums.narrow <= 0.0)
        return m;
    // Noise widens the spread of the second moments: their squared difference gains the
    // noise's variance, which is taken off again.
    const double spread2 = ((xx - yy) * (xx - yy) + 4 * xy * xy) / (sums.wide * sums.wide);
    sums.anisotropy = std::sqrt(std::max(0.0, spread2 - r.noise * r.noise * bbr4 / (sums.wide * sums.wide)));
    m.angle = 0.5 * std::atan2(2 * xy, xx - yy);
    m.valid = true;
    return m;
}


SingleMeasure MeasureSingle(const WeightedObservation& o, double noise, double blur)
{
    SingleMeasure m;
    if (!o.valid)
        return m;
    m.ellipse = EllipseFromWeightedSums(o.sums, blur);
    const double n = o.sums.narrow, w = o.sums.wide;
    const double varLog =
        noise * noise * (o.noiseNarrow / (n * n) + o.noiseWide / (w * w) - 2 * o.noiseCross / (n * w));
    if (m.ellipse.slope < 0.0)
        m.areaSd = m.ellipse.area * std::sqrt(std::max(0.0, varLog)) / -m.ellipse.slope;
    return m;
}