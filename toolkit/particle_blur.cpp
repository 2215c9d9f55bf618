#include "toolkit/particle_blur.h"

#include "toolkit/ellipse_union.h"
#include "toolkit/fibre_profile.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

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
// A particle's own blur on its whole darkness: scanned in these steps, then searched to this.
constexpr double kOwnScanStep = 0.5;
constexpr double kOwnTolerance = 0.01;
constexpr int kBlurSampleMinPixels = 60;       // wide enough to show the edge well
constexpr int kBlurSampleLeastPixels = 12;     // the least, in frames without enough wider ones
// An outline needs this many points to show its edge.
constexpr size_t kOutlineLeastPoints = 12;
// Slimmer particles (long axis over short) show no edge of their own: their two sides
// blur into each other.
constexpr double kSlimAspect = 2.5;
constexpr double kFibreLeastHalfLength = 4.0;  // moment semi-axis of a fibre long enough to read
// Variance of a pixel's box along one axis: what a drawing by pixel shares carries.
constexpr double kPixelBoxVariance = 1.0 / 12.0;
// Focus varies over a frame when its particles' blur readings spread (median absolute
// deviation, scaled to a standard deviation) by this share of their median and this far.
constexpr double kVariedShare = 0.15;
constexpr double kVariedLeast = 0.1;
// Or when this many of the frame's narrowest single particles (of so many) read a blur
// of their own this far, this many of their spreads and kVariedShare from the frame's.
constexpr size_t kNarrowSamples = 6;
constexpr int kNarrowApartLeast = 2;
constexpr double kNarrowApart = 0.15;
constexpr double kNarrowApartSds = 4.0;
// and this far in variance: near a sharp focus the two readings differ by a pixel's box.
constexpr double kNarrowApartVariance = 0.5;
// A particle's own blur is searched up to this, or twice the frame's.
constexpr double kOwnBlurMost = 6.0;

// Median of values (reordered).
double Median(std::vector<double>& values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Whether readings of the blur spread beyond one focus.
bool Varied(std::vector<double> blurs)
{
    const double median = Median(blurs);
    for (double& b : blurs)
        b = std::abs(b - median);
    return 1.4826 * Median(blurs) > std::max(kVariedShare * median, kVariedLeast);
}

}  // namespace

namespace {

// The darkness across a particle's edge: binned by signed distance from its outline
// plus s^2 k / 2 at the blur guessed (s) and the outline's curvature (k), with the mean
// squared curvature of each bin.
struct EdgeProfile {
    double reach = 0.0, bin = 0.2;
    std::vector<double> sum, count, curvature2;

    EdgeProfile(double guess)
        : reach(3.0 * std::max(guess, 0.5) + 2.0)
    {
        const size_t bins = static_cast<size_t>(2 * reach / bin) + 1;
        sum.assign(bins, 0.0), count.assign(bins, 0.0), curvature2.assign(bins, 0.0);
    }
    // A pixel's darkness d at distance f where the outline bends by k.
    void Add(double f, double k, double d, double guess)
    {
        if (std::abs(f) > reach)
            return;
        const int i = static_cast<int>((f + 0.5 * guess * guess * k + reach) / bin);
        if (i >= 0 && i < static_cast<int>(sum.size())) {
            const size_t u = static_cast<size_t>(i);
            sum[u] += d, count[u] += 1, curvature2[u] += k * k;
        }
    }
};

// Gauss-Newton on (contrast, shift, blur) over the bins, each weighted by its pixels.
BlurFit FitEdge(const EdgeProfile& p, double contrast, double guess, double noise)
{
    BlurFit fit;
    double shift = 0.0, sigma = std::max(guess, 0.3);
    const double root2pi = std::sqrt(2 * kPi);
    cv::Matx33d normal;
    for (int iteration = 0; iteration < 8; ++iteration) {
        normal = cv::Matx33d::zeros();
        cv::Vec3d rhs(0, 0, 0);
        for (size_t u = 0; u < p.sum.size(); ++u) {
            const double n = p.count[u];
            if (n == 0)
                continue;
            const double x = -p.reach + (static_cast<double>(u) + 0.5) * p.bin;
            const double z = (x - shift) / sigma;
            const double e2 = 0.25 * sigma * sigma * p.curvature2[u] / n;
            const double phi = std::exp(-0.5 * z * z) / root2pi, cdf = 0.5 * std::erfc(z / std::sqrt(2.0));
            const double shape = cdf + e2 * z * phi;
            const double slope = phi - e2 * phi * (1 - z * z);  // -d shape / dz
            const double residual = p.sum[u] / n - contrast * shape;
            const cv::Vec3d g(shape, contrast * slope / sigma, contrast * (z * slope + 2 * e2 * z * phi) / sigma);
            normal += n * g * g.t();
            rhs += n * residual * g;
        }
        cv::Vec3d step;
        if (!cv::solve(normal, rhs, step, cv::DECOMP_CHOLESKY))
            return fit;
        contrast += step[0], shift += std::clamp(step[1], -0.5, 0.5);
        sigma = std::clamp(sigma + std::clamp(step[2], -0.3, 0.3), 0.05, 5.0);
        if (std::abs(step[2]) < 1e-4)
            break;
    }
    fit.sigma = sigma;
    fit.contrast = contrast;
    // The noise's spread of the blur: a pixel's variance through the inverse of the
    // normal equations (the bins weighed by their pixels).
    const cv::Matx33d inverse = normal.inv(cv::DECOMP_CHOLESKY);
    fit.sd = noise * std::sqrt(std::max(0.0, inverse(2, 2)));
    return fit;
}

// Gradient (dx, dy) and Hessian (xx, xy, yy) of an image at a sub-pixel point, by central
// differences interpolated bilinearly; zero outside.
void Derivatives(const cv::Mat& image, const cv::Point2d& p, double& dx, double& dy)
{
    const int x0 = static_cast<int>(std::floor(p.x)), y0 = static_cast<int>(std::floor(p.y));
    const double fx = p.x - x0, fy = p.y - y0;
    const auto at = [&](int x, int y) {
        x = std::clamp(x, 0, image.cols - 1), y = std::clamp(y, 0, image.rows - 1);
        return static_cast<double>(image.at<float>(y, x));
    };
    dx = dy = 0.0;
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 2; ++i) {
            const double w = (i ? fx : 1 - fx) * (j ? fy : 1 - fy);
            const int x = x0 + i, y = y0 + j;
            dx += w * 0.5 * (at(x + 1, y) - at(x - 1, y));
            dy += w * 0.5 * (at(x, y + 1) - at(x, y - 1));
        }
}

}  // namespace

BlurFit BlurOfParticle(const DarknessRegion& r, const WeightedObservation& o, double guess, const cv::Mat& owner, int id)
{
    const BlurredEllipse be = EllipseFromWeightedSums(o.sums, guess);
    if (be.area <= 0.0)
        return BlurFit();
    Ellipse e;
    e.centre = o.centre;
    e.a = std::sqrt(be.area / (kPi * be.ratio));
    e.b = e.a * be.ratio;
    e.angle = o.angle;
    EdgeProfile profile(guess);
    const EllipseDistance distance(e);
    const int extent = static_cast<int>(std::ceil(e.a + profile.reach));
    const cv::Rect near =
        cv::Rect(cvRound(e.centre.x) - extent, cvRound(e.centre.y) - extent, 2 * extent + 1, 2 * extent + 1) &
        cv::Rect(cv::Point(), r.roi.size());
    for (int y = near.y; y < near.br().y; ++y) {
        const float* d = r.dark.ptr<float>(y);
        const int* own = owner.empty() ? nullptr : owner.ptr<int>(y);
        for (int x = near.x; x < near.br().x; ++x) {
            if (own && own[x] != id)
                continue;
            const cv::Point2d p(x, y);
            const double f = distance(p);
            if (std::abs(f) <= profile.reach)
                profile.Add(f, distance.Curvature(p), d[x], guess);
        }
    }
    return FitEdge(profile, be.contrast, guess, r.noise);
}

BlurFit BlurOfOutline(const DarknessRegion& r, const RegionPiece& piece, double guess, double contrast, const cv::Mat& owner,
                      int id)
{
    const std::vector<cv::Point2d>& outline = piece.outline;
    if (outline.size() < kOutlineLeastPoints)
        return BlurFit();
    // Each outline point's outward normal (down the darkness) and how the outline bends
    // there (from its neighbours within two pixels: n = -k t^2 / 2 along the tangent t).
    std::vector<cv::Point2d> normal(outline.size());
    std::vector<double> bend(outline.size(), 0.0);
    for (size_t i = 0; i < outline.size(); ++i) {
        double dx, dy;
        Derivatives(r.smoothDark, outline[i], dx, dy);
        const double g = std::hypot(dx, dy);
        normal[i] = g > 0.0 ? cv::Point2d(-dx / g, -dy / g) : cv::Point2d(1, 0);
    }
    for (size_t i = 0; i < outline.size(); ++i) {
        const cv::Point2d tangent(-normal[i].y, normal[i].x);
        double nt2 = 0.0, t4 = 0.0;
        for (const cv::Point2d& q : outline) {
            const cv::Point2d d = q - outline[i];
            const double t = d.dot(tangent), n = d.dot(normal[i]);
            if (t * t + n * n > 4.0 || t == 0.0)
                continue;
            nt2 += n * t * t, t4 += t * t * t * t;
        }
        bend[i] = t4 > 0.0 ? std::clamp(-2.0 * nt2 / t4, -2.0, 2.0) : 0.0;
    }
    // Each pixel's nearest outline point: a distance transform labelling the pixels by the
    // outline point nearest them (the points seeded at their pixels).
    cv::Mat free(r.roi.size(), CV_8UC1, cv::Scalar(255));
    cv::Mat seedOf(r.roi.size(), CV_32S, cv::Scalar(-1));
    for (size_t i = 0; i < outline.size(); ++i) {
        const cv::Point at(cvRound(outline[i].x), cvRound(outline[i].y));
        if (!at.inside(cv::Rect(cv::Point(), r.roi.size())))
            continue;
        free.at<uchar>(at) = 0;
        const int j = seedOf.at<int>(at);
        if (j < 0 || cv::norm(outline[i] - cv::Point2d(at)) < cv::norm(outline[static_cast<size_t>(j)] - cv::Point2d(at)))
            seedOf.at<int>(at) = static_cast<int>(i);
    }
    cv::Mat distance, nearest;
    cv::distanceTransform(free, distance, nearest, cv::DIST_L2, cv::DIST_MASK_3, cv::DIST_LABEL_PIXEL);
    std::vector<int> pointOf(static_cast<size_t>(r.roi.area()) + 1, -1);
    for (int y = 0; y < free.rows; ++y)
        for (int x = 0; x < free.cols; ++x)
            if (!free.at<uchar>(y, x))
                pointOf[static_cast<size_t>(nearest.at<int>(y, x))] = seedOf.at<int>(y, x);
    EdgeProfile profile(guess);
    for (int y = 0; y < r.roi.height; ++y) {
        const float* d = r.dark.ptr<float>(y);
        const int* own = owner.ptr<int>(y);
        const float* far = distance.ptr<float>(y);
        const int* label = nearest.ptr<int>(y);
        for (int x = 0; x < r.roi.width; ++x) {
            if (own[x] != id || far[x] > profile.reach + 1.0)
                continue;
            const int i = pointOf[static_cast<size_t>(label[x])];
            if (i < 0)
                continue;
            const size_t k = static_cast<size_t>(i);
            profile.Add((cv::Point2d(x, y) - outline[k]).dot(normal[k]), bend[k], d[x], guess);
        }
    }
    return FitEdge(profile, contrast, guess, r.noise);
}

namespace {

// How far the darkness of a particle's pixels lies from its ellipse at a trial blur
// (from its weighted sums at that blur), drawn (each pixel covered by its share) and
// blurred by it, with the contrast that fits best: the squared differences left.
class WholeParticleMisfit {
public:
    WholeParticleMisfit(const DarknessRegion& r, const WeightedObservation& o, const cv::Mat& owner, int id)
        : r_(r)
        , o_(o)
        , owner_(owner)
        , id_(id)
    {
        // The squared darkness of all of the particle's pixels: those beyond the model's
        // box count as its nought.
        for (int y = 0; y < r_.roi.height; ++y) {
            const float* d = r_.dark.ptr<float>(y);
            const int* own = owner_.empty() ? nullptr : owner_.ptr<int>(y);
            for (int x = 0; x < r_.roi.width; ++x)
                if (!own || own[x] == id_)
                    squared_ += static_cast<double>(d[x]) * d[x];
        }
    }

    double operator()(double blur) const
    {
        const BlurredEllipse be = EllipseFromWeightedSums(o_.sums, blur);
        if (be.area <= 0.0)
            return std::numeric_limits<double>::max();
        Ellipse e;
        e.centre = o_.centre;
        e.a = std::sqrt(be.area / (kPi * be.ratio));
        e.b = e.a * be.ratio;
        e.angle = o_.angle;
        const EllipseDistance distance(e);
        // Within the blur's reach of the ellipse: the model is nought beyond.
        const int reach = static_cast<int>(std::ceil(e.a + 3.0 * blur)) + 3;
        const cv::Rect box = cv::Rect(cvRound(e.centre.x) - reach, cvRound(e.centre.y) - reach, 2 * reach + 1, 2 * reach + 1) &
                             cv::Rect(cv::Point(), r_.roi.size());
        if (box.empty())
            return std::numeric_limits<double>::max();
        cv::Mat model(box.size(), CV_32F);
        for (int y = 0; y < model.rows; ++y) {
            float* m = model.ptr<float>(y);
            for (int x = 0; x < model.cols; ++x)
                m[x] = static_cast<float>(std::clamp(0.5 - distance(cv::Point2d(x + box.x, y + box.y)), 0.0, 1.0));
        }
        // The drawing's pixel shares already carry a pixel's box; the blur the sizes
        // take is that of a sharp outline sampled at pixel centres, so only the rest
        // of it is added (counting the box as blur read 1.5 px as 1.475 on particles
        // of radius 1.5 to 4, which made them about half a pixel too large).
        const double rest = std::sqrt(std::max(blur * blur - kPixelBoxVariance, 0.01));
        cv::GaussianBlur(model, model, cv::Size(0, 0), rest, rest, cv::BORDER_REPLICATE);
        double dm = 0.0, mm = 0.0;
        for (int y = 0; y < model.rows; ++y) {
            const float* d = r_.dark.ptr<float>(y + box.y) + box.x;
            const int* own = owner_.empty() ? nullptr : owner_.ptr<int>(y + box.y) + box.x;
            const float* m = model.ptr<float>(y);
            for (int x = 0; x < model.cols; ++x)
                if (!own || own[x] == id_)
                    dm += d[x] * m[x], mm += m[x] * m[x];
        }
        return mm > 0.0 ? squared_ - dm * dm / mm : std::numeric_limits<double>::max();
    }

private:
    const DarknessRegion& r_;
    const WeightedObservation& o_;
    const cv::Mat owner_;
    const int id_;
    double squared_ = 0.0;
};

// Golden-section search of a misfit with one minimum within [lo, hi].
template <typename Misfit> double GoldenMinimum(const Misfit& misfit, double lo, double hi, double tolerance)
{
    const double golden = 0.5 * (std::sqrt(5.0) - 1.0);
    double a = lo, b = hi, c = b - golden * (b - a), d = a + golden * (b - a);
    double fc = misfit(c), fd = misfit(d);
    while (b - a > tolerance) {
        if (fc < fd)
            b = d, d = c, fd = fc, c = b - golden * (b - a), fc = misfit(c);
        else
            a = c, c = d, fc = fd, d = a + golden * (b - a), fd = misfit(d);
    }
    return 0.5 * (a + b);
}

}  // namespace

double BlurOfWholeParticle(const DarknessRegion& r, const WeightedObservation& o, double lo, double hi)
{
    // Golden-section search: the misfit has one minimum near the true blur.
    return GoldenMinimum(WholeParticleMisfit(r, o, {}, 1), lo, hi, kWholeBlurTolerance * hi);
}

BlurFit OwnBlurOfWholeParticle(const DarknessRegion& r, const WeightedObservation& o, const cv::Mat& owner, int id, double hi)
{
    const WholeParticleMisfit misfit(r, o, owner, id);
    // A coarse scan finds the valley (a wide search may hold more than one), a
    // golden-section search its floor.
    double best = 0.0, least = std::numeric_limits<double>::max();
    for (double s = kOwnScanStep; s <= hi + 1e-9; s += kOwnScanStep)
        if (const double m = misfit(s); m < least)
            least = m, best = s;
    BlurFit fit;
    if (least == std::numeric_limits<double>::max())
        return fit;
    fit.sigma = GoldenMinimum(misfit, std::max(0.05, best - kOwnScanStep), best + kOwnScanStep, kOwnTolerance);
    // Its spread from the misfit's curvature: a rise of one noise variance.
    const double h = kOwnScanStep / 2, m0 = misfit(fit.sigma);
    const double curvature = (misfit(fit.sigma + h) + misfit(std::max(0.02, fit.sigma - h)) - 2 * m0) / (h * h);
    fit.sd = curvature > 0.0 ? r.noise * std::sqrt(2.0 / curvature) : hi;
    return fit;
}

namespace {

// The frame's blur samples: the widest single particles alone in their roi, the widest
// first (from kBlurSampleMinPixels when the frame has enough of those, else from
// kBlurSampleLeastPixels), each observed at the default blur; their regions beside them.
void BlurSamples(const std::vector<DarknessRegion>& regions, const std::vector<std::vector<RegionPiece>>& piecesOf,
                 std::vector<WeightedObservation>& samples, std::vector<size_t>& sampleRegion, double& medianRadius,
                 std::vector<size_t>& narrowest)
{
    std::vector<std::pair<int, size_t>> wide;
    size_t wideEnough = 0;
    for (size_t i = 0; i < regions.size(); ++i) {
        const DarknessRegion& r = regions[i];
        if (r.atEdge || !r.others.empty() || piecesOf[i].size() != 1 || piecesOf[i][0].shape.ellipses.size() != 1 ||
            piecesOf[i][0].hollowRim > 0.0f || !piecesOf[i][0].elliptic)
            continue;
        const Ellipse& e = piecesOf[i][0].shape.ellipses[0];
        if (e.b * kSlimAspect < e.a)
            continue;
        const int pixels = cv::countNonZero(piecesOf[i][0].mask);
        if (pixels >= kBlurSampleLeastPixels)
            wide.emplace_back(pixels, i);
        wideEnough += pixels >= kBlurSampleMinPixels;
    }
    // The narrowest, smallest first: under a spread of focus the widest pieces at the
    // outline level are the most blurred, and alone they would hide the spread.
    std::sort(wide.begin(), wide.end());
    for (size_t i = 0; i < wide.size() && narrowest.size() < kNarrowSamples; ++i)
        narrowest.push_back(wide[i].second);
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

// Whether enough of the narrowest pieces show a blur of their own (on their whole
// darkness) clearly apart from the frame's.
bool NarrowOnesDiffer(const std::vector<DarknessRegion>& regions, const std::vector<size_t>& narrowest, double frameBlur)
{
    int apart = 0;
    for (const size_t i : narrowest) {
        const DarknessRegion& r = regions[i];
        const cv::Mat all(r.roi.size(), CV_32S, cv::Scalar(1));
        const WeightedObservation o = Observe(r, all, 1, cv::countNonZero(r.smoothDark > kOutlineLevel * r.peak), frameBlur);
        if (!o.valid)
            continue;
        const BlurFit own = OwnBlurOfWholeParticle(r, o, all, 1, std::max(kOwnBlurMost, 2.0 * frameBlur));
        apart += own.sigma >= 0.0 &&
                 std::abs(own.sigma - frameBlur) > kNarrowApartSds * own.sd + kNarrowApart + kVariedShare * frameBlur &&
                 std::abs(own.sigma * own.sigma - frameBlur * frameBlur) > kNarrowApartVariance;
    }
    return apart >= kNarrowApartLeast;
}

}  // namespace

FrameBlur MeasureFrameBlur(const std::vector<DarknessRegion>& regions, const std::vector<std::vector<RegionPiece>>& piecesOf)
{
    FrameBlur frame;
    std::vector<WeightedObservation> samples;
    std::vector<size_t> sampleRegion;
    double medianRadius = 0.0;
    std::vector<size_t> narrowest;
    BlurSamples(regions, piecesOf, samples, sampleRegion, medianRadius, narrowest);
    double guess = kDefaultBlur;
    if (samples.size() < kBlurSamplesLeast)
        return frame;
    std::vector<double> blurs(samples.size());
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < samples.size(); ++i)
            blurs[i] = BlurOfParticle(regions[sampleRegion[i]], samples[i], guess).sigma;
        frame.varied = Varied(blurs);
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
    frame.particles = static_cast<int>(samples.size());
    frame.sigma = guess;
    frame.varied = frame.varied || NarrowOnesDiffer(regions, narrowest, guess);
    return frame;
}

FrameBlur MeasureIrregularFrameBlur(const std::vector<DarknessRegion>& regions,
                                    const std::vector<std::vector<RegionPiece>>& piecesOf)
{
    FrameBlur frame;
    // The widest solid pieces alone in their roi, not slim.
    std::vector<std::pair<int, size_t>> wide;
    for (size_t i = 0; i < regions.size(); ++i) {
        const DarknessRegion& r = regions[i];
        if (r.atEdge || !r.others.empty() || piecesOf[i].size() != 1 || piecesOf[i][0].hollowRim > 0.0f)
            continue;
        const RegionPiece& p = piecesOf[i][0];
        const Ellipse e = FitSingleEllipse(p.outline, p.mask, 0).ellipses[0];
        const int pixels = cv::countNonZero(p.mask);
        if (pixels >= kBlurSampleMinPixels && e.b * kSlimAspect >= e.a)
            wide.emplace_back(pixels, i);
    }
    if (wide.size() < kBlurSamplesLeast)
        return frame;
    std::sort(wide.begin(), wide.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    wide.resize(std::min(wide.size(), kBlurSamples));
    double guess = kDefaultBlur;
    std::vector<double> blurs;
    for (int pass = 0; pass < 2; ++pass) {
        blurs.clear();
        for (const auto& [pixels, i] : wide) {
            const DarknessRegion& r = regions[i];
            const BlurFit fit = BlurOfOutline(r, piecesOf[i][0], guess, r.peak, cv::Mat(r.roi.size(), CV_32S, cv::Scalar(1)), 1);
            if (fit.sigma >= 0.0)
                blurs.push_back(fit.sigma);
        }
        if (blurs.size() < kBlurSamplesLeast)
            return FrameBlur();
        frame.varied = Varied(blurs);
        guess = Median(blurs);
    }
    frame.sigma = guess;
    frame.particles = static_cast<int>(blurs.size());
    return frame;
}

FrameBlur MeasureFibreFrameBlur(const std::vector<DarknessRegion>& regions, const std::vector<std::vector<RegionPiece>>& piecesOf)
{
    // The widest slim pieces alone in their roi.
    std::vector<std::pair<double, size_t>> wide;
    std::vector<Ellipse> axes(regions.size());
    for (size_t i = 0; i < regions.size(); ++i) {
        const DarknessRegion& r = regions[i];
        if (r.atEdge || !r.others.empty() || piecesOf[i].size() != 1 || piecesOf[i][0].hollowRim > 0.0f)
            continue;
        axes[i] = FitSingleEllipse(piecesOf[i][0].outline, piecesOf[i][0].mask, 0).ellipses[0];
        if (axes[i].b * kSlimAspect < axes[i].a && axes[i].a > kFibreLeastHalfLength)
            wide.emplace_back(axes[i].b, i);
    }
    std::sort(wide.begin(), wide.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    wide.resize(std::min(wide.size(), kBlurSamples));
    std::vector<double> blurs;
    for (const auto& [width, i] : wide) {
        const DarknessRegion& r = regions[i];
        const Ellipse& e = axes[i];
        const double halfLength = std::max(1.0, 0.5 * (std::sqrt(3.0) * e.a - 2.0 * e.b) - 2.0 * kDefaultBlur);
        const FibreProfile f = FitFibreProfile(r.dark, cv::Mat(r.roi.size(), CV_32S, cv::Scalar(1)), 1, e.centre, e.angle,
                                               halfLength, kDefaultBlur, r.noise, true);
        if (f.valid)
            blurs.push_back(f.blur);
    }
    FrameBlur frame;
    if (blurs.size() < kBlurSamplesLeast)
        return frame;
    frame.varied = Varied(blurs);
    frame.sigma = Median(blurs);
    frame.particles = static_cast<int>(blurs.size());
    return frame;
}
