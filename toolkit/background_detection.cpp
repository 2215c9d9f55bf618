#include "toolkit/background_detection.h"

#include "toolkit/blob_splitting.h"
#include "toolkit/blurred_area.h"
#include "toolkit/particle_measure.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace {

constexpr int kBlock = 32;        // block of the coarse background
constexpr int kWideMargin = 6;    // pixels around a candidate that its blur may reach, before the blur is known
constexpr int kPlaneMargin = 16;  // further pixels whose background fits the local plane
constexpr double kDefaultBlur = 1.0;
constexpr size_t kBlurSamples = 40;  // particles the blur is measured on, at most

// Background level of every pixel, coarse: the median of each block (particles are a
// minority in a block), a 3 x 3 median of the blocks against blocks that a large
// particle fills, interpolated bilinearly between block centres.
cv::Mat CoarseBackground(const cv::Mat& grey)
{
    const int bw = (grey.cols + kBlock - 1) / kBlock, bh = (grey.rows + kBlock - 1) / kBlock;
    cv::Mat grid(bh, bw, CV_32F);
    for (int by = 0; by < bh; ++by) {
        for (int bx = 0; bx < bw; ++bx) {
            const cv::Rect block =
                cv::Rect(bx * kBlock, by * kBlock, kBlock, kBlock) & cv::Rect(0, 0, grey.cols, grey.rows);
            int hist[256] = {};
            for (int y = block.y; y < block.y + block.height; ++y) {
                const uchar* row = grey.ptr<uchar>(y);
                for (int x = block.x; x < block.x + block.width; ++x)
                    ++hist[row[x]];
            }
            const int half = (block.area() + 1) / 2;
            int v = 0;
            for (int seen = hist[0]; seen < half; seen += hist[++v]) {
            }
            grid.at<float>(by, bx) = static_cast<float>(std::max(v, 1));
        }
    }
    if (bw >= 3 && bh >= 3)
        cv::medianBlur(grid, grid, 3);
    cv::Mat full;
    cv::resize(grid, full, grey.size(), 0.0, 0.0, cv::INTER_LINEAR);
    return full;
}

// Least-squares quadric surface through the grey levels of the pixels of `window`
// that `excluded` leaves free, evaluated over `roi`; false when too few are free.
// A quadric follows a vignette as well as a tilt across the window.
bool FitBackground(const cv::Mat& grey, const cv::Mat& excluded, const cv::Rect& window, const cv::Rect& roi,
                   cv::Mat& level)
{
    // Row by row: power sums of u (to the 4th) and of grey x u (to the 2nd) over the
    // free pixels, then weighted by the row's powers of v.
    double suv[5][5] = {}, sg[3][3] = {};  // sums of u^i v^j and of grey u^i v^j
    const double cx = window.x + 0.5 * window.width, cy = window.y + 0.5 * window.height;
    const double scale = 2.0 / std::max(window.width, window.height);
    int n = 0;
    for (int y = window.y; y < window.y + window.height; ++y) {
        const uchar* g = grey.ptr<uchar>(y);
        const uchar* e = excluded.ptr<uchar>(y);
        double r[5] = {}, rg[3] = {};
        int rn = 0;
        for (int x = window.x; x < window.x + window.width; ++x) {
            if (e[x])
                continue;
            const double u = (x - cx) * scale, u2 = u * u, v = g[x];
            r[0] += 1.0, r[1] += u, r[2] += u2, r[3] += u2 * u, r[4] += u2 * u2;
            rg[0] += v, rg[1] += v * u, rg[2] += v * u2;
            ++rn;
        }
        if (!rn)
            continue;
        n += rn;
        const double v = (y - cy) * scale;
        const double vp[5] = {1.0, v, v * v, v * v * v, v * v * v * v};
        for (int i = 0; i <= 4; ++i)
            for (int j = 0; i + j <= 4; ++j)
                suv[i][j] += r[i] * vp[j];
        for (int i = 0; i <= 2; ++i)
            for (int j = 0; i + j <= 2; ++j)
                sg[i][j] += rg[i] * vp[j];
    }
    // Monomials 1, u, v, u^2, uv, v^2 as (power of u, power of v).
    const int pu[6] = {0, 1, 0, 2, 1, 0}, pv[6] = {0, 0, 1, 0, 1, 2};
    cv::Matx<double, 6, 6> normal;
    cv::Vec<double, 6> rhs;
    for (int i = 0; i < 6; ++i) {
        for (int j = 0; j < 6; ++j)
            normal(i, j) = suv[pu[i] + pu[j]][pv[i] + pv[j]];
        rhs[i] = sg[pu[i]][pv[i]];
    }
    if (n < 60)
        return false;
    cv::Vec<double, 6> p;
    if (!cv::solve(normal, rhs, p, cv::DECOMP_CHOLESKY))
        return false;
    level.create(roi.size(), CV_32F);
    for (int y = 0; y < roi.height; ++y) {
        const double v = (roi.y + y - cy) * scale;
        float* l = level.ptr<float>(y);
        for (int x = 0; x < roi.width; ++x) {
            const double u = (roi.x + x - cx) * scale;
            l[x] = static_cast<float>(p[0] + p[1] * u + p[2] * v + p[3] * u * u + p[4] * u * v + p[5] * v * v);
        }
    }
    return true;
}

// For every pixel of a part of the candidate labels: the label of the nearest
// candidate pixel in that part and the distance to it.
void NearestCandidate(const cv::Mat& labels, cv::Mat& nearest, cv::Mat& distance)
{
    cv::Mat seeds;
    cv::distanceTransform(labels == 0, distance, seeds, cv::DIST_L2, cv::DIST_MASK_5, cv::DIST_LABEL_CCOMP);
    std::vector<int> labelOf(labels.total() + 1, 0);
    for (int y = 0; y < labels.rows; ++y)
        for (int x = 0; x < labels.cols; ++x)
            if (const int l = labels.at<int>(y, x))
                labelOf[static_cast<size_t>(seeds.at<int>(y, x))] = l;
    nearest.create(labels.size(), CV_32S);
    for (int y = 0; y < labels.rows; ++y)
        for (int x = 0; x < labels.cols; ++x)
            nearest.at<int>(y, x) = labelOf[static_cast<size_t>(seeds.at<int>(y, x))];
}

// A connected region of candidate pixels and what is known around it.
struct Candidate {
    int label = 0;
    cv::Rect roi;       // its box grown by kWideMargin, clipped to the frame
    cv::Mat dark;       // CV_32F darkness against the local background, in roi
    cv::Mat territory;  // CV_32S in roi: distance-ordered ownership (label of the nearest candidate)
    cv::Mat distance;   // CV_32F in roi: distance to the nearest candidate pixel
    cv::Mat own;        // CV_8U in roi: 1 on this candidate's own pixels
    float peak = 0.0f;  // largest smoothed darkness on its pixels
    bool atEdge = false;
};

// The largest 8-connected piece of a 0/1 mask with its holes filled.
cv::Mat FilledLargest(const cv::Mat& mask)
{
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(mask.clone(), contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    cv::Mat out = cv::Mat::zeros(mask.size(), CV_8UC1);
    if (contours.empty())
        return out;
    size_t best = 0;
    double bestArea = -1.0;
    for (size_t i = 0; i < contours.size(); ++i) {
        const double a = cv::contourArea(contours[i]) + contours[i].size();  // a line of pixels has area 0
        if (a > bestArea)
            bestArea = a, best = i;
    }
    cv::drawContours(out, contours, static_cast<int>(best), cv::Scalar(1), cv::FILLED);
    return out;
}

// Pixels of the candidate within `margin` of its candidate pixels and nearer to it than to any other.
cv::Mat Territory(const Candidate& c, double margin)
{
    return (c.territory == c.label) & (c.distance <= margin);
}

// Darkness sums of a particle over its territory.
struct DarknessMoments {
    double sum = 0.0;          // summed darkness
    cv::Point2d centre;        // darkness-weighted, in roi coordinates
    double spread = 0.0;       // summed darkness x squared distance from the centre / sum
    cv::Matx22d covariance;    // darkness-weighted
    double centreValue = 0.0;  // Gaussian-weighted mean darkness at the centre
};

DarknessMoments MeasureDarkness(const Candidate& c, const cv::Mat& territory, double weightSigma)
{
    DarknessMoments m;
    double mx = 0.0, my = 0.0;
    for (int y = 0; y < c.roi.height; ++y) {
        const float* d = c.dark.ptr<float>(y);
        const uchar* t = territory.ptr<uchar>(y);
        for (int x = 0; x < c.roi.width; ++x)
            if (t[x])
                m.sum += d[x], mx += d[x] * x, my += d[x] * y;
    }
    if (m.sum <= 0.0)
        return m;
    m.centre = cv::Point2d(mx / m.sum, my / m.sum);
    double xx = 0.0, xy = 0.0, yy = 0.0, centreSum = 0.0;
    const double w2 = 2.0 * weightSigma * weightSigma;
    for (int y = 0; y < c.roi.height; ++y) {
        const float* d = c.dark.ptr<float>(y);
        const uchar* t = territory.ptr<uchar>(y);
        const double dy = y - m.centre.y;
        for (int x = 0; x < c.roi.width; ++x) {
            if (!t[x])
                continue;
            const double dx = x - m.centre.x;
            const double r2 = dx * dx + dy * dy;
            xx += d[x] * dx * dx, xy += d[x] * dx * dy, yy += d[x] * dy * dy;
            if (r2 < 8.0 * w2)  // weights below e^-8 add nothing
                centreSum += d[x] * std::exp(-r2 / w2);
        }
    }
    m.covariance = cv::Matx22d(xx, xy, xy, yy) * (1.0 / m.sum);
    m.spread = (xx + yy) / m.sum;
    // Pixels outside the territory count as background: normalised by the whole Gaussian.
    m.centreValue = centreSum / (3.14159265358979323846 * w2);
    return m;
}

// Minor / major axis ratio of a covariance.
double AxisRatio(const cv::Matx22d& cov)
{
    const double xx = cov(0, 0), yy = cov(1, 1), xy = cov(0, 1);
    const double root = std::sqrt(0.25 * (xx - yy) * (xx - yy) + xy * xy);
    const double l1 = 0.5 * (xx + yy) + root, l2 = 0.5 * (xx + yy) - root;
    return l1 > 0.0 ? std::sqrt(std::max(l2, 0.0) / l1) : 1.0;
}

// Pixel-centre covariance of a 0/1 mask, plus the 1/12 of each pixel's own extent.
cv::Matx22d MaskCovariance(const cv::Mat& mask)
{
    const cv::Moments m = cv::moments(mask, true);
    if (m.m00 <= 0.0)
        return cv::Matx22d(1, 0, 0, 1);
    return cv::Matx22d(m.mu20 / m.m00, m.mu11 / m.m00, m.mu11 / m.m00, m.mu02 / m.m00);
}

// Gaussian weight for the centre value: wide enough to average the noise, narrow
// enough to stay inside a large particle's core, where the blur hardly matters.
double WeightSigma(double halfArea)
{
    return std::max(1.0, 0.35 * std::sqrt(halfArea / 3.14159265358979323846));
}

// Another candidate comes within the wide margin, so that this one's blur may be cut short.
bool Crowded(const Candidate& c)
{
    return cv::countNonZero((c.territory != c.label) & (c.distance <= kWideMargin)) > 0;
}

// What the blur is measured on: a single particle wide enough to have a core.
struct BlurSample {
    DarknessMoments moments;
    double ratio = 1.0;
    double weightSigma = 1.0;
};

BlurSample SampleForBlur(const Candidate& c)
{
    BlurSample b;
    const cv::Mat half = FilledLargest((c.dark > 0.5 * c.peak) & c.own / 255);
    // A narrow weight keeps the centre value inside the core, where the blur hardly matters.
    b.weightSigma = std::max(1.0, 0.25 * std::sqrt(cv::countNonZero(half) / 3.14159265358979323846));
    b.moments = MeasureDarkness(c, Territory(c, kWideMargin), b.weightSigma);
    b.ratio = std::clamp(AxisRatio(MaskCovariance(half)), 0.05, 1.0);
    return b;
}

// Blur variance from a single particle: the darkness spread around its centre is the
// particle's own spread plus twice the blur variance (blur adds its variance on each
// axis and keeps the sum). The particle's own spread is that of an ellipse of the
// measured area and axis ratio (pixel centres sample the ellipse evenly).
double BlurVariance(const BlurSample& b, double sigmaGuess)
{
    const BlurredArea a = AreaFromDarkness(b.moments.sum, b.moments.centreValue, b.ratio, sigmaGuess, b.weightSigma);
    if (a.area <= 0.0)
        return -1.0;
    const double own = a.area * (b.ratio + 1.0 / b.ratio) / (4.0 * 3.14159265358979323846);
    return 0.5 * (b.moments.spread - own);
}

// The level that cuts a particle's mask: half its contrast, or lower, down to 0.3 of
// it, where the darkest pixels as many as its area reach. Blur rounds a small
// particle's outline inward at half contrast; this keeps its mask at its size.
double MaskLevel(const cv::Mat& dark, const cv::Mat& territory, const BlurredArea& estimate)
{
    std::vector<float> values;
    for (int y = 0; y < dark.rows; ++y) {
        const float* d = dark.ptr<float>(y);
        const uchar* t = territory.ptr<uchar>(y);
        for (int x = 0; x < dark.cols; ++x)
            if (t[x])
                values.push_back(d[x]);
    }
    const size_t n = static_cast<size_t>(std::lround(estimate.area));
    double level = 0.5 * estimate.contrast;
    if (n >= 1 && n <= values.size()) {
        std::nth_element(values.begin(), values.begin() + (n - 1), values.end(), std::greater<float>());
        level = std::clamp<double>(values[n - 1], 0.3 * estimate.contrast, 0.5 * estimate.contrast);
    }
    return level;
}

// CV_32S in the pieces' frame: 1 + the index of the piece nearest to each pixel of
// the territory, 0 elsewhere.
cv::Mat NearestPiece(const std::vector<SplitPiece>& pieces, const cv::Mat& territory)
{
    cv::Mat labels = cv::Mat::zeros(territory.size(), CV_32S);
    for (size_t i = 0; i < pieces.size(); ++i)
        labels.setTo(static_cast<int>(i + 1), pieces[i].mask);
    cv::Mat owner = cv::Mat::zeros(territory.size(), CV_32S);
    if (pieces.size() == 1) {
        owner.setTo(1, territory);
        return owner;
    }
    cv::Mat distance, nearest;
    cv::distanceTransform(labels == 0, distance, nearest, cv::DIST_L2, cv::DIST_MASK_5, cv::DIST_LABEL_PIXEL);
    // Each piece pixel is its own seed: map seed labels to pieces.
    std::vector<int> pieceOf(static_cast<size_t>(territory.total()) + 1, 0);
    for (int y = 0; y < labels.rows; ++y)
        for (int x = 0; x < labels.cols; ++x)
            if (labels.at<int>(y, x))
                pieceOf[static_cast<size_t>(nearest.at<int>(y, x))] = labels.at<int>(y, x);
    for (int y = 0; y < owner.rows; ++y)
        for (int x = 0; x < owner.cols; ++x)
            if (territory.at<uchar>(y, x))
                owner.at<int>(y, x) = pieceOf[static_cast<size_t>(nearest.at<int>(y, x))];
    return owner;
}

// 0/1 mask of the drawn pieces (CV_32S, 1 + index) less the pixels that touch another
// piece, so that split particles stay apart under 8-connectivity.
cv::Mat SeparatedMask(const cv::Mat& drawn)
{
    cv::Mat out = cv::Mat::zeros(drawn.size(), CV_8UC1);
    for (int y = 0; y < drawn.rows; ++y)
        for (int x = 0; x < drawn.cols; ++x) {
            const int v = drawn.at<int>(y, x);
            if (!v)
                continue;
            bool apart = true;
            for (int dy = -1; dy <= 1 && apart; ++dy)
                for (int dx = -1; dx <= 1 && apart; ++dx) {
                    const int yy = y + dy, xx = x + dx;
                    if (yy >= 0 && yy < drawn.rows && xx >= 0 && xx < drawn.cols) {
                        const int w = drawn.at<int>(yy, xx);
                        apart = w == 0 || w == v;
                    }
                }
            out.at<uchar>(y, x) = apart ? 1 : 0;
        }
    return out;
}

}  // namespace

BackgroundDetection SegmentParticlesBackground(const cv::Mat& grey, const BackgroundDetectionSettings& settings)
{
    BackgroundDetection result;
    if (grey.empty() || grey.type() != CV_8UC1)
        return result;
    const cv::Rect frame(0, 0, grey.cols, grey.rows);
    result.mask = cv::Mat::zeros(grey.size(), CV_8UC1);

    // Candidates: smoothed darkness against the coarse background above the detection level.
    const cv::Mat background = CoarseBackground(grey);
    // In 8 bits, as the frame: smoothed grey below (1 - detection darkness) x background.
    cv::Mat smooth, limit;
    cv::GaussianBlur(grey, smooth, cv::Size(5, 5), 1.0);
    background.convertTo(limit, CV_8U, 1.0 - settings.detectionDarkness);
    const cv::Mat candidates = smooth < limit;
    cv::Mat labels, stats, centres;
    const int count = cv::connectedComponentsWithStats(candidates, labels, stats, centres, 8, CV_32S);

    cv::Mat excluded;
    cv::dilate(candidates, excluded,
               cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * kWideMargin + 1, 2 * kWideMargin + 1)));

    std::vector<Candidate> list;
    for (int k = 1; k < count; ++k) {
        if (stats.at<int>(k, cv::CC_STAT_AREA) < settings.minPixels)
            continue;
        Candidate c;
        c.label = k;
        const cv::Rect box(stats.at<int>(k, cv::CC_STAT_LEFT), stats.at<int>(k, cv::CC_STAT_TOP),
                           stats.at<int>(k, cv::CC_STAT_WIDTH), stats.at<int>(k, cv::CC_STAT_HEIGHT));
        c.atEdge = box.x == 0 || box.y == 0 || box.x + box.width == grey.cols || box.y + box.height == grey.rows;
        c.roi = (box + cv::Size(2 * kWideMargin, 2 * kWideMargin) - cv::Point(kWideMargin, kWideMargin)) & frame;
        const cv::Rect window =
            (c.roi + cv::Size(2 * kPlaneMargin, 2 * kPlaneMargin) - cv::Point(kPlaneMargin, kPlaneMargin)) & frame;
        cv::Mat level;
        if (!FitBackground(grey, excluded, window, c.roi, level))
            background(c.roi).copyTo(level);
        cv::Mat g;
        grey(c.roi).convertTo(g, CV_32F);
        cv::divide(g, cv::max(level, 1.0f), c.dark);
        c.dark = 1.0 - c.dark;
        NearestCandidate(labels(c.roi), c.territory, c.distance);
        c.own = labels(c.roi) == k;
        cv::Mat smoothDark;
        smooth(c.roi).convertTo(smoothDark, CV_32F);
        cv::divide(smoothDark, cv::max(level, 1.0f), smoothDark);
        double lowest = 1.0;
        cv::minMaxLoc(smoothDark, &lowest, nullptr, nullptr, nullptr, c.own);
        c.peak = static_cast<float>(1.0 - lowest);
        list.push_back(std::move(c));
    }

    // The blur, from the single particles wide enough to have a core.
    double sigma = settings.blurSigma;
    if (sigma < 0.0) {
        // The largest single particles, whose own spread is known best; a few dozen suffice.
        std::vector<std::pair<int, const Candidate*>> wide;
        for (const Candidate& c : list) {
            const int pixels = cv::countNonZero(c.own);
            if (!c.atEdge && pixels >= 60)
                wide.emplace_back(pixels, &c);
        }
        std::sort(wide.begin(), wide.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        std::vector<BlurSample> samples;
        for (size_t i = 0; i < wide.size() && samples.size() < kBlurSamples; ++i)
            if (!Crowded(*wide[i].second))
                samples.push_back(SampleForBlur(*wide[i].second));
        // The areas lean a little on the blur, so the blur and the areas are settled together.
        double guess = kDefaultBlur;
        if (samples.size() >= 3) {
            std::vector<double> variances(samples.size());
            for (int pass = 0; pass < 4; ++pass) {
                for (size_t i = 0; i < samples.size(); ++i)
                    variances[i] = BlurVariance(samples[i], guess);
                std::nth_element(variances.begin(), variances.begin() + variances.size() / 2, variances.end());
                guess = std::sqrt(std::max(0.0, variances[variances.size() / 2]));
            }
            result.blurParticles = static_cast<int>(samples.size());
        }
        sigma = guess;
    }
    result.blurSigma = sigma;

    // Each candidate's particles: the pieces of its mask at half its peak, split at
    // their necks; each piece with the pixels nearest to it.
    const double margin = 2.0 * sigma + 1.0;
    int groups = 0;
    for (const Candidate& c : list) {
        const cv::Mat territory = Territory(c, margin);
        std::vector<SplitPiece> pieces;
        std::vector<int> groupOf;
        {
            std::vector<std::vector<cv::Point>> contours;
            cv::findContours((c.dark > 0.5 * c.peak) & c.own, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
            for (size_t k = 0; k < contours.size(); ++k) {
                cv::Mat filled = cv::Mat::zeros(c.roi.size(), CV_8UC1);
                cv::drawContours(filled, contours, static_cast<int>(k), cv::Scalar(1), cv::FILLED);
                if (cv::countNonZero(filled) < 3)
                    continue;
                std::vector<SplitPiece> parts =
                    settings.splitOverlaps ? SplitAtNecks(filled) : std::vector<SplitPiece>{SplitPiece{filled, {}}};
                const int group = parts.size() > 1 ? groups++ : -1;
                for (SplitPiece& part : parts) {
                    pieces.push_back(std::move(part));
                    groupOf.push_back(group);
                }
            }
        }
        if (pieces.empty())
            continue;
        const cv::Mat owner = NearestPiece(pieces, territory);
        cv::Mat drawn = cv::Mat::zeros(c.roi.size(), CV_32S);
        for (size_t i = 0; i < pieces.size(); ++i) {
            const cv::Mat own = owner == static_cast<int>(i + 1);
            const double ws = WeightSigma(cv::countNonZero(pieces[i].mask));
            const DarknessMoments m = MeasureDarkness(c, own, ws);
            if (m.sum <= 0.0)
                continue;
            // The particle's own covariance: the darkness's less the blur's.
            const cv::Matx22d cov = m.covariance - cv::Matx22d(sigma * sigma, 0, 0, sigma * sigma);
            const double ratio =
                cov(0, 0) > 0 && cov(1, 1) > 0 ? AxisRatio(cov) : AxisRatio(MaskCovariance(pieces[i].mask));
            const BlurredArea estimate = AreaFromDarkness(m.sum, m.centreValue, ratio, sigma, ws);
            if (estimate.area <= 0.0)
                continue;
            const cv::Mat half = FilledLargest((c.dark > MaskLevel(c.dark, own, estimate)) & own / 255);
            const int pixels = cv::countNonZero(half);
            if (pixels == 0)
                continue;
            ParticleBlob blob;
            blob.centroid = m.centre + cv::Point2d(c.roi.x, c.roi.y);
            blob.area = estimate.area;
            if (groupOf[i] >= 0) {
                // What its neighbour hides of it lies beyond its own territory.
                const cv::Mat hidden = HiddenPart(pieces[i]) & territory & ~own;
                blob.area += cv::countNonZero(hidden);
            }
            blob.maskArea = pixels;
            blob.box = cv::boundingRect(half) + c.roi.tl();
            blob.touchesBorder = c.atEdge || blob.box.x == 0 || blob.box.y == 0 || blob.box.br().x == grey.cols ||
                                 blob.box.br().y == grey.rows;
            blob.group = groupOf[i];
            ComputeShapeFactors(half.clone(), blob.ratio, blob.circularity);
            drawn.setTo(static_cast<int>(i + 1), half);
            result.blobs.push_back(blob);
        }
        result.mask(c.roi) |= SeparatedMask(drawn);
    }
    return result;
}

ParticleBlobs DetectParticlesBackground(const cv::Mat& grey, const BackgroundDetectionSettings& settings)
{
    return SegmentParticlesBackground(grey, settings).blobs;
}

cv::Mat SegmentBackground(const cv::Mat& grey)
{
    return SegmentParticlesBackground(grey).mask;
}
