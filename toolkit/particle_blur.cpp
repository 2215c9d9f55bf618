#include "toolkit/particle_blur.h"

#include "toolkit/ellipse_union.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDefaultBlur = 1.0;
constexpr size_t kBlurSamples = 16;  // particles the blur is measured on, at most
constexpr size_t kBlurSamplesLeast = 3;
// From this blur on, or from this share of the samples' median radius, it is measured
// again on the whole darkness of the first samples.
constexpr double kWholeBlurFrom = 2.0;
constexpr double kWholeBlurPerRadius = 0.3;
constexpr size_t kWholeBlurSamples = 6;
constexpr double kWholeBlurTolerance = 0.002;  // of the search's upper end
constexpr int kBlurSampleMinPixels = 60;       // wide enough to show the edge well
constexpr int kBlurSampleLeastPixels = 12;     // the least, in frames without enough wider ones
// Variance of a pixel's box along one axis: what a drawing by pixel shares carries.
constexpr double kPixelBoxVariance = 1.0 / 12.0;

}  // namespace

double BlurOfParticle(const DarknessRegion& r, const WeightedObservation& o, double guess)
{
    const BlurredEllipse be = EllipseFromWeightedSums(o.sums, guess);
    if (be.area <= 0.0)
        return -1.0;
    Ellipse e;
    e.centre = o.centre;
    e.a = std::sqrt(be.area / (kPi * be.ratio));
    e.b = e.a * be.ratio;
    e.angle = o.angle;
    const double reach = 3.0 * std::max(guess, 0.5) + 2.0, bin = 0.2;
    const int bins = static_cast<int>(2 * reach / bin) + 1;
    std::vector<double> sum(static_cast<size_t>(bins), 0.0), count(static_cast<size_t>(bins), 0.0),
        curvature2(static_cast<size_t>(bins), 0.0);
    const EllipseDistance distance(e);
    const int extent = static_cast<int>(std::ceil(e.a + reach));
    const cv::Rect near =
        cv::Rect(cvRound(e.centre.x) - extent, cvRound(e.centre.y) - extent, 2 * extent + 1, 2 * extent + 1) &
        cv::Rect(cv::Point(), r.roi.size());
    for (int y = near.y; y < near.br().y; ++y) {
        const float* d = r.dark.ptr<float>(y);
        for (int x = near.x; x < near.br().x; ++x) {
            const cv::Point2d p(x, y);
            const double f = distance(p);
            if (std::abs(f) > reach)
                continue;
            const double k = distance.Curvature(p);
            const int i = static_cast<int>((f + 0.5 * guess * guess * k + reach) / bin);
            if (i >= 0 && i < bins) {
                const size_t u = static_cast<size_t>(i);
                sum[u] += d[x], count[u] += 1, curvature2[u] += k * k;
            }
        }
    }
    // Gauss-Newton on (contrast, shift, blur) over the bins, each weighted by its pixels.
    double contrast = be.contrast, shift = 0.0, sigma = std::max(guess, 0.3);
    const double root2pi = std::sqrt(2 * kPi);
    for (int iteration = 0; iteration < 8; ++iteration) {
        cv::Matx33d normal = cv::Matx33d::zeros();
        cv::Vec3d rhs(0, 0, 0);
        for (int i = 0; i < bins; ++i) {
            const size_t u = static_cast<size_t>(i);
            const double n = count[u];
            if (n == 0)
                continue;
            const double x = -reach + (i + 0.5) * bin;
            const double z = (x - shift) / sigma;
            const double e2 = 0.25 * sigma * sigma * curvature2[u] / n;
            const double phi = std::exp(-0.5 * z * z) / root2pi, cdf = 0.5 * std::erfc(z / std::sqrt(2.0));
            const double shape = cdf + e2 * z * phi;
            const double slope = phi - e2 * phi * (1 - z * z);  // -d shape / dz
            const double residual = sum[u] / n - contrast * shape;
            const cv::Vec3d g(shape, contrast * slope / sigma, contrast * (z * slope + 2 * e2 * z * phi) / sigma);
            normal += n * g * g.t();
            rhs += n * residual * g;
        }
        cv::Vec3d step;
        if (!cv::solve(normal, rhs, step, cv::DECOMP_CHOLESKY))
            return -1.0;
        contrast += step[0], shift += std::clamp(step[1], -0.5, 0.5);
        sigma = std::clamp(sigma + std::clamp(step[2], -0.3, 0.3), 0.05, 5.0);
        if (std::abs(step[2]) < 1e-4)
            break;
    }
    return sigma;
}


double BlurOfWholeParticle(const DarknessRegion& r, const WeightedObservation& o, double lo, double hi)
{
    cv::Mat model(r.roi.size(), CV_32F);
    const auto misfit = [&](double blur) {
        const BlurredEllipse be = EllipseFromWeightedSums(o.sums, blur);
        if (be.area <= 0.0)
            return std::numeric_limits<double>::max();
        Ellipse e;
        e.centre = o.centre;
        e.a = std::sqrt(be.area / (kPi * be.ratio));
        e.b = e.a * be.ratio;
        e.angle = o.angle;
        const EllipseDistance distance(e);
        for (int y = 0; y < model.rows; ++y) {
            float* m = model.ptr<float>(y);
            for (int x = 0; x < model.cols; ++x)
                m[x] = static_cast<float>(std::clamp(0.5 - distance(cv::Point2d(x, y)), 0.0, 1.0));
        }
        // The drawing's pixel shares already carry a pixel's box; the blur the sizes
        // take is that of a sharp outline sampled at pixel centres, so only the rest
        // of it is added (counting the box as blur read 1.5 px as 1.475 on particles
        // of radius 1.5 to 4, which made them about half a pixel too large).
        const double rest = std::sqrt(std::max(blur * blur - kPixelBoxVariance, 0.01));
        cv::GaussianBlur(model, model, cv::Size(0, 0), rest, rest, cv::BORDER_REPLICATE);
        // The contrast that fits best, and what is left unexplained.
        double dm = 0.0, mm = 0.0, dd = 0.0;
        for (int y = 0; y < model.rows; ++y) {
            const float* d = r.dark.ptr<float>(y);
            const float* m = model.ptr<float>(y);
            for (int x = 0; x < model.cols; ++x)
                dm += d[x] * m[x], mm += m[x] * m[x], dd += d[x] * d[x];
        }
        return mm > 0.0 ? dd - dm * dm / mm : std::numeric_limits<double>::max();
    };
    // Golden-section search: the misfit has one minimum near the true blur.
    const double golden = 0.5 * (std::sqrt(5.0) - 1.0);
    double a = lo, b = hi, c = b - golden * (b - a), d = a + golden * (b - a);
    double fc = misfit(c), fd = misfit(d);
    while (b - a > kWholeBlurTolerance * hi) {
        if (fc < fd)
            b = d, d = c, fd = fc, c = b - golden * (b - a), fc = misfit(c);
        else
            a = c, c = d, fc = fd, d = a + golden * (b - a), fd = misfit(d);
    }
    return 0.5 * (a + b);
}

namespace {

// The frame's blur samples: the widest single particles alone in their roi, the widest
// first (from kBlurSampleMinPixels when the frame has enough of those, else from
// kBlurSampleLeastPixels), each observed at the default blur; their regions beside them.
void BlurSamples(const std::vector<DarknessRegion>& regions, const std::vector<std::vector<RegionPiece>>& piecesOf,
                 std::vector<WeightedObservation>& samples, std::vector<size_t>& sampleRegion, double& medianRadius)
{
    std::vector<std::pair<int, size_t>> wide;
    size_t wideEnough = 0;
    for (size_t i = 0; i < regions.size(); ++i) {
        const DarknessRegion& r = regions[i];
        if (r.atEdge || !r.others.empty() || piecesOf[i].size() != 1 || piecesOf[i][0].shape.ellipses.size() != 1)
            continue;
        const int pixels = cv::countNonZero(piecesOf[i][0].mask);
        if (pixels >= kBlurSampleLeastPixels)
            wide.emplace_back(pixels, i);
        wideEnough += pixels >= kBlurSampleMinPixels;
    }
    if (wideEnough >= kBlurSamplesLeast)
        wide.erase(
            std::remove_if(wide.begin(), wide.end(), [](const auto& w) { return w.first < kBlurSampleMinPixels; }),
            wide.end());
    std::sort(wide.begin(), wide.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (size_t i = 0; i < wide.size() && samples.size() < kBlurSamples; ++i) {
        const DarknessRegion& r = regions[wide[i].second];
        const WeightedObservation o =
            Observe(r, cv::Mat(r.roi.size(), CV_32S, cv::Scalar(1)), 1, wide[i].first, kDefaultBlur);
        if (o.valid)
            samples.push_back(o), sampleRegion.push_back(wide[i].second);
    }
    medianRadius = samples.empty() ? 0.0 : std::sqrt(wide[samples.size() / 2].first / kPi);
}

}  // namespace

double MeasureFrameBlur(const std::vector<DarknessRegion>& regions, const std::vector<std::vector<RegionPiece>>& piecesOf,
                        int& particles)
{
    particles = 0;
    std::vector<WeightedObservation> samples;
    std::vector<size_t> sampleRegion;
    double medianRadius = 0.0;
    BlurSamples(regions, piecesOf, samples, sampleRegion, medianRadius);
    double guess = kDefaultBlur;
    if (samples.size() < kBlurSamplesLeast)
        return guess;
    std::vector<double> blurs(samples.size());
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < samples.size(); ++i)
            blurs[i] = BlurOfParticle(regions[sampleRegion[i]], samples[i], guess);
        std::nth_element(blurs.begin(), blurs.begin() + blurs.size() / 2, blurs.end());
        guess = std::max(0.0, blurs[blurs.size() / 2]);
    }
    // A strong blur: the edge model reads it low (by 2 to 10 % at 3 px on particles of 6
    // to 9 px radius, more on slim ellipses; by 4 % at 2 px on a radius of 4), and every
    // size answers to it steeply; the whole particles' darkness reads it true.
    if (guess >= std::min(kWholeBlurFrom, kWholeBlurPerRadius * medianRadius)) {
        blurs.resize(std::min(samples.size(), kWholeBlurSamples));
        for (size_t i = 0; i < blurs.size(); ++i)
            blurs[i] = BlurOfWholeParticle(regions[sampleRegion[i]], samples[i], 0.9 * guess, 1.3 * guess);
        std::nth_element(blurs.begin(), blurs.begin() + blurs.size() / 2, blurs.end());
        guess = blurs[blurs.size() / 2];
    }
    particles = static_cast<int>(samples.size());
    return guess;
}
