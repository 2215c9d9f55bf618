#include "toolkit/background_detection.h"

#include "toolkit/blurred_area.h"
#include "toolkit/ellipse_union.h"
#include "toolkit/filled_parts.h"
#include "toolkit/particle_measure.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kBlock = 32;        // block of the coarse background
constexpr int kWideMargin = 6;    // pixels around a candidate that its blur may reach
constexpr int kPlaneMargin = 16;  // further pixels whose background fits the local plane
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
// The frame is smoothed by a 5 x 5 Gaussian of sigma 1 (sampled, so of standard
// deviation 0.96), which leaves 0.28 of a pixel's noise.
constexpr double kSmoothSigma = 0.96;
constexpr double kSmoothNoise = 0.28;
// A darker particle on a lighter one (FindInclusion): the peak must rise this far above
// what one particle shows, the two ellipses must lower the squared differences by this
// many times a pixel's noise variance, and the darker one must be this much darker and
// this large.
constexpr double kInclusionExcess = 0.025;
constexpr double kInclusionChi2 = 40.0;
constexpr double kInclusionContrast = 0.03;
constexpr double kInclusionPixels = 6.0;
// Variance of a pixel's box along one axis: what a drawing by pixel shares carries.
constexpr double kPixelBoxVariance = 1.0 / 12.0;
// Outlines are cut at this share of a region's peak darkness: half, a little less so
// that a lighter particle merged with a darker one keeps more of its own outline.
constexpr double kOutlineLevel = 0.45;

// Background level of every pixel, coarse: the median of each block (particles are a
// minority in a block; every other pixel of every other row is plenty), a 3 x 3 median
// of the blocks against blocks that a large particle fills. Levels between block
// centres are interpolated bilinearly (BackgroundRow).
cv::Mat BlockBackground(const cv::Mat& grey)
{
    const int bw = (grey.cols + kBlock - 1) / kBlock, bh = (grey.rows + kBlock - 1) / kBlock;
    cv::Mat grid(bh, bw, CV_32F);
    for (int by = 0; by < bh; ++by) {
        for (int bx = 0; bx < bw; ++bx) {
            const cv::Rect block =
                cv::Rect(bx * kBlock, by * kBlock, kBlock, kBlock) & cv::Rect(0, 0, grey.cols, grey.rows);
            const int step = block.width >= 8 && block.height >= 8 ? 2 : 1;
            int hist[256] = {}, n = 0;
            for (int y = block.y; y < block.y + block.height; y += step) {
                const uchar* row = grey.ptr<uchar>(y);
                for (int x = block.x; x < block.x + block.width; x += step)
                    ++hist[row[x]], ++n;
            }
            // The median, the least v with at least half the samples at or below it, found
            // from the top: a bright background lies near it.
            const int half = (n + 1) / 2;
            int v = 255;
            for (int atOrBelow = n; atOrBelow - hist[v] >= half; atOrBelow -= hist[v--]) {
            }
            grid.at<float>(by, bx) = static_cast<float>(std::max(v, 1));
        }
    }
    if (bw >= 3 && bh >= 3)
        cv::medianBlur(grid, grid, 3);
    return grid;
}

// One row of the bilinearly interpolated block background: levels at block centres,
// linear between them, constant beyond the outer ones. Whole blocks run in loops of a
// fixed length, which the compiler turns into vector code.
void BackgroundRow(const cv::Mat& grid, int y, int width, std::vector<float>& row)
{
    const float gy = std::clamp((y + 0.5f) / kBlock - 0.5f, 0.0f, static_cast<float>(grid.rows - 1));
    const int y0 = static_cast<int>(gy), y1 = std::min(y0 + 1, grid.rows - 1);
    const float fy = gy - y0;
    const float* g0 = grid.ptr<float>(y0);
    const float* g1 = grid.ptr<float>(y1);
    row.resize(static_cast<size_t>(width) + kBlock);  // room for a whole last block
    float* r = row.data();
    const int half = kBlock / 2;
    for (int x = 0; x < std::min(half, width); ++x)
        r[x] = g0[0] * (1 - fy) + g1[0] * fy;
    for (int bx = 0; bx < grid.cols && half + bx * kBlock < width; ++bx) {
        const float left = g0[bx] * (1 - fy) + g1[bx] * fy;
        const int next = std::min(bx + 1, grid.cols - 1);
        const float right = g0[next] * (1 - fy) + g1[next] * fy;
        const float step = (right - left) / kBlock;
        // Pixel x sits at block coordinate (x + 0.5) / kBlock - 0.5; between centres bx and bx + 1.
        float* out = r + half + bx * kBlock;
        for (int i = 0; i < kBlock; ++i)
            out[i] = left + step * (i + 0.5f);
    }
    row.resize(static_cast<size_t>(width));
}

// One row of candidates (0/255): smoothed grey below the limit (scaled block background
// interpolated bilinearly between block centres) rounded to a grey level, in loops of a
// fixed length.
void CandidateRow(const uchar* s, const float* l, int width, uchar* o)
{
    const auto grey = [](float v) { return std::clamp(static_cast<int>(v + 0.5f), 0, 255); };
    uchar block[kBlock];
    for (int x = 0; x < width; x += kBlock) {
        if (x + kBlock > width) {
            for (int i = x; i < width; ++i)
                o[i] = s[i] < grey(l[i]) ? 255 : 0;
            break;
        }
        for (int i = 0; i < kBlock; ++i)
            block[i] = static_cast<uchar>(grey(l[x + i]));
        for (int i = 0; i < kBlock; ++i)
            block[i] = s[x + i] < block[i] ? 255 : 0;
        std::memcpy(o + x, block, kBlock);
    }
}

// Candidate pixels as runs along rows, 8-connected into regions: smoothed grey below
// (1 - darkness) x the block background. Found row by row (an image of the candidates
// would cost more than finding them); they are a small share of a frame, so runs are far
// fewer than pixels.
class CandidateRuns {
public:
    CandidateRuns(const cv::Mat& smooth, const cv::Mat& grid, double darkness)
        : CandidateRuns(smooth.size(), [&smooth, scaled = cv::Mat(grid * (1.0 - darkness)),
                                        limit = std::vector<float>()](int y, uchar* out) mutable {
            BackgroundRow(scaled, y, smooth.cols, limit);
            CandidateRow(smooth.ptr<uchar>(y), limit.data(), smooth.cols, out);
        })
    {
    }

    // The candidates at `darkness` and, beside them, the regions found at the lower
    // `faintDarkness` that hold none of them: faint particles are found without the
    // others growing into their neighbours. Both lie within the runs at the lower
    // darkness, which alone are looked at again.
    static CandidateRuns WithFaint(const cv::Mat& smooth, const cv::Mat& grid, double darkness, double faintDarkness)
    {
        const CandidateRuns weak(smooth, grid, faintDarkness);
        const cv::Mat scaled = grid * (1.0 - darkness);
        std::vector<float> limit;
        const auto strongAt = [&](const uchar* s, int x) {
            return s[x] < std::clamp(static_cast<int>(limit[static_cast<size_t>(x)] + 0.5f), 0, 255);
        };
        std::vector<bool> faint(weak.regions.size(), true);
        for (int y = 0; y < smooth.rows; ++y) {
            if (weak.rowStart[static_cast<size_t>(y)] == weak.rowStart[static_cast<size_t>(y) + 1])
                continue;
            BackgroundRow(scaled, y, smooth.cols, limit);
            const uchar* s = smooth.ptr<uchar>(y);
            weak.ForRowLabelled(y, [&](int first, int last, int label) {
                for (int x = first; x <= last && faint[static_cast<size_t>(label - 1)]; ++x)
                    if (strongAt(s, x))
                        faint[static_cast<size_t>(label - 1)] = false;
            });
        }
        return CandidateRuns(smooth.size(), [&](int y, uchar* out) {
            std::memset(out, 0, static_cast<size_t>(smooth.cols));
            if (weak.rowStart[static_cast<size_t>(y)] == weak.rowStart[static_cast<size_t>(y) + 1])
                return;
            BackgroundRow(scaled, y, smooth.cols, limit);
            const uchar* s = smooth.ptr<uchar>(y);
            weak.ForRowLabelled(y, [&](int first, int last, int label) {
                const bool all = faint[static_cast<size_t>(label - 1)];
                for (int x = first; x <= last; ++x)
                    out[x] = all || strongAt(s, x) ? 255 : 0;
            });
        });
    }

private:
    template <typename Rows> CandidateRuns(cv::Size size, Rows rowsOf)
    {
        std::vector<uchar> row(static_cast<size_t>(size.width));
        rowStart.assign(static_cast<size_t>(size.height) + 1, 0);
        std::vector<int> parent;
        const auto root = [&](int i) {
            while (parent[static_cast<size_t>(i)] != i)
                i = parent[static_cast<size_t>(i)] = parent[static_cast<size_t>(parent[static_cast<size_t>(i)])];
            return i;
        };
        for (int y = 0; y < size.height; ++y) {
            rowStart[static_cast<size_t>(y)] = static_cast<int>(runs.size());
            int above = y > 0 ? rowStart[static_cast<size_t>(y - 1)] : rowStart[static_cast<size_t>(y)];
            rowsOf(y, row.data());
            const uchar* m = row.data();
            for (int x = 0; x < size.width;) {
                // Eight background pixels at a time.
                uint64_t word = 0;
                if (x + 8 <= size.width && (std::memcpy(&word, m + x, 8), word == 0)) {
                    x += 8;
                    continue;
                }
                if (!m[x]) {
                    ++x;
                    continue;
                }
                Run run{y, x, x, 0};
                while (run.last + 1 < size.width && m[run.last + 1])
                    ++run.last;
                x = run.last + 1;
                const int index = static_cast<int>(runs.size());
                parent.push_back(index);
                // Runs of the row above that touch this one, diagonals included; both rows
                // run left to right, so those ending left of it are passed for good.
                while (above < rowStart[static_cast<size_t>(y)] &&
                       runs[static_cast<size_t>(above)].last < run.first - 1)
                    ++above;
                for (int j = above;
                     j < rowStart[static_cast<size_t>(y)] && runs[static_cast<size_t>(j)].first <= run.last + 1; ++j) {
                    const int a = root(j), b = root(index);
                    parent[static_cast<size_t>(std::max(a, b))] = std::min(a, b);
                }
                runs.push_back(run);
            }
        }
        rowStart[static_cast<size_t>(size.height)] = static_cast<int>(runs.size());
        std::vector<int> labelOf(runs.size(), 0);
        for (size_t i = 0; i < runs.size(); ++i) {
            const int r = root(static_cast<int>(i));
            if (r == static_cast<int>(i)) {
                regions.push_back({cv::Rect(runs[i].first, runs[i].y, 0, 0), 0});
                labelOf[i] = static_cast<int>(regions.size());
            } else {
                labelOf[i] = labelOf[static_cast<size_t>(r)];
            }
            Run& run = runs[i];
            run.label = labelOf[i];
            Region& region = regions[static_cast<size_t>(run.label - 1)];
            region.box |= cv::Rect(run.first, run.y, run.last - run.first + 1, 1);
            region.pixels += run.last - run.first + 1;
        }
    }

public:
    struct Region {
        cv::Rect box;
        int pixels;
    };
    std::vector<Region> regions;  // region label - 1

    // The candidate pixels of a window (CV_8UC1 0/1, allocated here): those of region
    // `label` in `own`, those of any other region in `others`. True when there are others.
    bool Paint(const cv::Rect& window, int label, cv::Mat& own, cv::Mat& others) const
    {
        own = cv::Mat::zeros(window.size(), CV_8UC1);
        others = cv::Mat::zeros(window.size(), CV_8UC1);
        bool crowded = false;
        for (int y = window.y; y < window.br().y; ++y) {
            uchar* o = own.ptr<uchar>(y - window.y) - window.x;
            uchar* e = others.ptr<uchar>(y - window.y) - window.x;
            for (int j = rowStart[static_cast<size_t>(y)]; j < rowStart[static_cast<size_t>(y) + 1]; ++j) {
                const Run& run = runs[static_cast<size_t>(j)];
                const int first = std::max(run.first, window.x), last = std::min(run.last, window.br().x - 1);
                if (first > last)
                    continue;
                crowded = crowded || run.label != label;
                std::fill(run.label == label ? o + first : e + first, (run.label == label ? o : e) + last + 1, 1);
            }
        }
        return crowded;
    }

    // Calls f(first, last) for each run of row y, left to right.
    template <typename F> void ForRow(int y, F f) const
    {
        ForRowLabelled(y, [&](int first, int last, int) { f(first, last); });
    }

    // The same with each run's region label.
    template <typename F> void ForRowLabelled(int y, F f) const
    {
        for (int j = rowStart[static_cast<size_t>(y)]; j < rowStart[static_cast<size_t>(y) + 1]; ++j)
            f(runs[static_cast<size_t>(j)].first, runs[static_cast<size_t>(j)].last,
              runs[static_cast<size_t>(j)].label);
    }

private:
    struct Run {
        int y, first, last;  // columns first to last, both included
        int label;
    };
    std::vector<Run> runs;
    std::vector<int> rowStart;  // first run of each row, and one past the last run
};

// The pixels within `margin` (either way along both axes) of a candidate, one bit per
// pixel: what dilating the candidates by a square marks, in an eighth of the memory, so
// that the background fits read it from the cache.
class NearCandidates {
public:
    NearCandidates(const CandidateRuns& runs, cv::Size size, int margin)
        : words((size.width + 63) / 64)
        , bits(static_cast<size_t>(words) * static_cast<size_t>(size.height), 0)
    {
        // Each row's runs widened by the margin, then each row the union of the rows
        // within the margin above and below.
        std::vector<uint64_t> wide(bits.size(), 0);
        for (int y = 0; y < size.height; ++y)
            runs.ForRow(y, [&](int first, int last) {
                Set(&wide[static_cast<size_t>(y) * static_cast<size_t>(words)], std::max(0, first - margin),
                    std::min(size.width - 1, last + margin));
            });
        for (int y = 0; y < size.height; ++y) {
            uint64_t* out = Row(y);
            for (int v = std::max(0, y - margin); v <= std::min(size.height - 1, y + margin); ++v) {
                const uint64_t* in = &wide[static_cast<size_t>(v) * static_cast<size_t>(words)];
                for (int w = 0; w < words; ++w)
                    out[w] |= in[w];
            }
        }
    }

    const uint64_t* Row(int y) const { return &bits[static_cast<size_t>(y) * static_cast<size_t>(words)]; }
    static bool Near(const uint64_t* row, int x) { return (row[x >> 6] >> (x & 63)) & 1; }

private:
    uint64_t* Row(int y) { return &bits[static_cast<size_t>(y) * static_cast<size_t>(words)]; }

    // Sets bits first to last of a row.
    static void Set(uint64_t* row, int first, int last)
    {
        for (int w = first >> 6; w <= last >> 6; ++w) {
            const int lo = w == first >> 6 ? first & 63 : 0, hi = w == last >> 6 ? last & 63 : 63;
            row[w] |= (hi == 63 ? ~uint64_t(0) : (uint64_t(1) << (hi + 1)) - 1) & (~uint64_t(0) << lo);
        }
    }

    int words;
    std::vector<uint64_t> bits;
};

// Least-squares plane through the grey levels of the pixels of `window` that `excluded`
// leaves free (every other one); its level over `roi` and the spread of the free pixels
// about it. False when too few are free.
bool FitPlane(const cv::Mat& grey, const NearCandidates& excluded, const cv::Rect& window, const cv::Rect& roi,
              cv::Mat& level, double& noise)
{
    const double cx = window.x + 0.5 * window.width, cy = window.y + 0.5 * window.height;
    double n = 0, su = 0, sv = 0, suu = 0, suv = 0, svv = 0, sg = 0, sgu = 0, sgv = 0, sgg = 0;
    for (int y = window.y; y < window.y + window.height; ++y) {
        const uchar* g = grey.ptr<uchar>(y);
        const uint64_t* e = excluded.Row(y);
        const double v = y - cy;
        // Exact integer sums along the row (x counted from the window's left edge),
        // centred once per row.
        int64_t rn = 0, rx = 0, rxx = 0, rg = 0, rgx = 0, rgg = 0;
        // Every other pixel, alternating by row: the background's noise averages out
        // well before that.
        for (int x = window.x + ((y + window.x) & 1); x < window.x + window.width; x += 2) {
            if (NearCandidates::Near(e, x))
                continue;
            const int u = x - window.x, value = g[x];
            rn += 1, rx += u, rxx += u * u, rg += value, rgx += value * u, rgg += value * value;
        }
        const double o = window.x - cx;  // centred u = x + o
        const double ru = static_cast<double>(rx) + o * static_cast<double>(rn);
        const double ruu = static_cast<double>(rxx) + 2 * o * static_cast<double>(rx) + o * o * static_cast<double>(rn);
        const double rgu = static_cast<double>(rgx) + o * static_cast<double>(rg);
        n += static_cast<double>(rn), su += ru, suu += ruu, sg += static_cast<double>(rg), sgu += rgu;
        sgg += static_cast<double>(rgg);
        sv += static_cast<double>(rn) * v, suv += ru * v, svv += static_cast<double>(rn) * v * v;
        sgv += static_cast<double>(rg) * v;
    }
    if (n < 20)
        return false;
    const cv::Matx33d normal(n, su, sv, su, suu, suv, sv, suv, svv);
    const cv::Vec3d rhs(sg, sgu, sgv);
    cv::Vec3d p;
    if (!cv::solve(normal, rhs, p, cv::DECOMP_CHOLESKY))
        return false;
    noise = std::sqrt(std::max(0.0, (sgg - p.dot(rhs)) / (n - 3)));
    level.create(roi.size(), CV_32F);
    for (int y = 0; y < roi.height; ++y) {
        float* l = level.ptr<float>(y);
        const double base = p[0] + p[2] * (roi.y + y - cy);
        for (int x = 0; x < roi.width; ++x)
            l[x] = static_cast<float>(base + p[1] * (roi.x + x - cx));
    }
    return true;
}

// A connected region of candidate pixels with its darkness against the local background.
struct Region {
    int label = 0;
    cv::Rect roi;        // its box grown by kWideMargin, clipped to the frame
    cv::Mat dark;        // CV_32F darkness in roi
    cv::Mat smoothDark;  // CV_32F darkness of the smoothed frame in roi
    cv::Mat others;      // CV_8U 0/1 in roi: other regions' candidate pixels (empty when none)
    float peak = 0.0f;   // largest smoothed darkness on its candidate pixels
    double noise = 0.0;  // standard deviation of the darkness of a pixel
    bool atEdge = false;
};

// A particle or a blob of merged particles inside a region: its pixels at half the
// region's peak and the ellipses that explain their outline.
struct Piece {
    cv::Mat mask;  // CV_8U 0/1 in roi
    std::vector<cv::Point2d> outline;
    EllipseUnion shape;
};

// The largest 8-connected part of a 0/1 mask with its holes filled and its outer border
// (no pixels when the mask has none).
FilledPart LargestPart(const cv::Mat& mask)
{
    std::vector<FilledPart> parts = FilledParts(mask, true);
    if (parts.empty())
        return FilledPart();
    size_t best = 0;
    double bestArea = -1.0;
    for (size_t i = 0; i < parts.size() && parts.size() > 1; ++i) {
        // A line of pixels has area 0.
        const double a = cv::contourArea(parts[i].border) + static_cast<double>(parts[i].border.size());
        if (a > bestArea)
            bestArea = a, best = i;
    }
    return std::move(parts[best]);
}

// Pixels of the region's roi that each piece owns (CV_32S, 1 + piece index, 0 for none):
// those nearer to its mask than to any other piece's or another region's pixels.
cv::Mat Ownership(const Region& r, const std::vector<Piece>& pieces)
{
    cv::Mat owner(r.roi.size(), CV_32S, cv::Scalar(1));
    if (pieces.size() == 1 && r.others.empty())
        return owner;
    // Seeds: every piece and the other regions' pixels; each pixel takes its nearest seed.
    cv::Mat seeds = cv::Mat::zeros(r.roi.size(), CV_32S), free(r.roi.size(), CV_8UC1);
    for (int y = 0; y < seeds.rows; ++y) {
        int* s = seeds.ptr<int>(y);
        for (size_t i = 0; i < pieces.size(); ++i) {
            const uchar* m = pieces[i].mask.ptr<uchar>(y);
            for (int x = 0; x < seeds.cols; ++x)
                if (m[x])
                    s[x] = static_cast<int>(i + 1);
        }
        if (!r.others.empty()) {
            const uchar* o = r.others.ptr<uchar>(y);
            for (int x = 0; x < seeds.cols; ++x)
                if (o[x])
                    s[x] = -1;
        }
        uchar* f = free.ptr<uchar>(y);
        for (int x = 0; x < seeds.cols; ++x)
            f[x] = s[x] ? 0 : 255;
    }
    cv::Mat distance, nearest;
    cv::distanceTransform(free, distance, nearest, cv::DIST_L2, cv::DIST_MASK_3, cv::DIST_LABEL_PIXEL);
    std::vector<int> seedOf(static_cast<size_t>(r.roi.area()) + 1, 0);
    for (int y = 0; y < seeds.rows; ++y) {
        const int* s = seeds.ptr<int>(y);
        const int* n = nearest.ptr<int>(y);
        for (int x = 0; x < seeds.cols; ++x)
            if (s[x])
                seedOf[static_cast<size_t>(n[x])] = s[x];
    }
    for (int y = 0; y < owner.rows; ++y) {
        const int* n = nearest.ptr<int>(y);
        int* o = owner.ptr<int>(y);
        for (int x = 0; x < owner.cols; ++x)
            o[x] = std::max(0, seedOf[static_cast<size_t>(n[x])]);
    }
    return owner;
}

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

// What a particle shows under two centred Gaussian weights (toolkit/blurred_area.h),
// with what the noise does to it.
struct Observation {
    cv::Point2d centre;  // roi coordinates
    WeightedSums sums;
    double angle = 0.0;        // of the long axis of the weighted second moments, radians
    double noiseNarrow = 0.0;  // sums of the squared weights and their product: the
    double noiseWide = 0.0;    // variances and covariance of the two sums per unit
    double noiseCross = 0.0;   // variance of a pixel's darkness
    bool valid = false;
};

// The sums over the pixels a particle owns, centred on its darkness centroid refined
// twice under the wide weight (which leaves out the noise of far pixels). The weights'
// widths follow from the particle's pixels and the blur guess.
Observation Observe(const Region& r, const cv::Mat& owner, int id, double pixels, double blur)
{
    Observation m;
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

struct SingleMeasure {
    BlurredEllipse ellipse;
    double areaSd = 0.0;
};

// A single particle's area, contrast and axis ratio, and the spread of its area that
// the noise causes (first order).
SingleMeasure MeasureSingle(const Observation& o, double noise, double blur)
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

// Blur of a single particle wide enough to show its edge, from the darkness across its
// outline. The particle's ellipse (from its weighted sums at the blur guessed) gives
// every pixel's signed distance f from the outline and the outline's curvature k there.
// Across a curved edge blurred by s the darkness falls as
//   c (Phi(-z) + e^2 z phi(z)),  z = (f + s^2 k / 2 - shift) / s,  e = s k / 2,
// to second order in e (the outline bends away from a pixel outside it, so less of the
// particle is near it; the e^2 term widens the edge). The darkness, binned by
// f + s^2 k / 2, fits contrast, shift and blur.
double BlurOfParticle(const Region& r, const Observation& o, double guess)
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

// Blur of a single particle from all of its darkness: the ellipse its weighted sums give
// at a trial blur, drawn (each pixel covered by its share) and blurred by that blur,
// against the darkness the particle shows; the trial that fits best, searched within
// [lo, hi]. Exact where the edge model's expansion in blur x curvature fails, when the
// blur comes near the radius of the particles' outline; it costs a blurred drawing of
// the particle per trial.
double BlurOfWholeParticle(const Region& r, const Observation& o, double lo, double hi)
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

// The level that cuts a particle's mask: half its contrast, or lower, down to 0.3 of
// it, where the darkest pixels as many as its area reach. Blur rounds a small
// particle's outline inward at half contrast; this keeps its mask at its size. A small
// particle under a blur wider than itself may not reach 0.3 of its contrast anywhere:
// its mask is then cut at the outline's share of its own peak, so that it keeps one.
double MaskLevel(const cv::Mat& dark, const cv::Mat& owner, int id, double area, double contrast)
{
    // Only the values between the two bounds need ordering: the count above the upper
    // one and the count of all decide the rest.
    const double lo = 0.3 * contrast, hi = 0.5 * contrast;
    std::vector<float> band;
    band.reserve(dark.total() / 4);
    size_t owned = 0, above = 0;
    float peak = 0.0f;
    for (int y = 0; y < dark.rows; ++y) {
        const float* d = dark.ptr<float>(y);
        const int* o = owner.ptr<int>(y);
        for (int x = 0; x < dark.cols; ++x)
            if (o[x] == id) {
                ++owned;
                peak = std::max(peak, d[x]);
                if (d[x] > hi)
                    ++above;
                else if (d[x] >= lo)
                    band.push_back(d[x]);
            }
    }
    if (peak <= lo)
        return kOutlineLevel * peak;
    const size_t n = static_cast<size_t>(std::lround(area));
    if (n < 1 || n > owned || above >= n)
        return hi;
    const size_t rank = n - above;  // among the band, largest first
    if (rank > band.size())
        return lo;
    std::nth_element(band.begin(), band.begin() + (rank - 1), band.end(), std::greater<float>());
    return band[rank - 1];
}

// Which ellipse of a piece's union each pixel of the piece's mask belongs to (1 + index,
// 0 elsewhere): of the pixels it owns, those whose smoothed darkness lies above `cut`;
// inside the union the darkest ellipse that holds it (where particles overlap the darker
// one shows), outside the nearest.
cv::Mat EllipseOwnership(const std::vector<Ellipse>& ellipses, const std::vector<double>& contrasts,
                         const cv::Mat& owner, int id, const cv::Mat& smoothDark, float cut)
{
    cv::Mat out = cv::Mat::zeros(owner.size(), CV_32S);
    const std::vector<EllipseDistance> distances(ellipses.begin(), ellipses.end());
    for (int y = 0; y < owner.rows; ++y)
        for (int x = 0; x < owner.cols; ++x) {
            if (owner.at<int>(y, x) != id || !(smoothDark.at<float>(y, x) > cut))
                continue;
            double nearest = 1e18, darkest = -1.0;
            int which = 0, inside = 0;
            for (size_t i = 0; i < ellipses.size(); ++i) {
                const double f = distances[i](cv::Point2d(x, y));
                if (f < nearest)
                    nearest = f, which = static_cast<int>(i) + 1;
                if (f < 0.0 && contrasts[i] > darkest)
                    darkest = contrasts[i], inside = static_cast<int>(i) + 1;
            }
            out.at<int>(y, x) = inside ? inside : which;
        }
    return out;
}

// A darker particle lying on a lighter one leaves the outline nearly one ellipse, but
// the darkness peaks higher than a single particle of the measured contrast and size
// can show through the blur. Where it does by more than the noise explains, the two
// ellipses (the lighter particle and one around the darker peak) are refined on the
// darkness and kept when they explain it clearly better than one does.
bool FindInclusion(const Region& r, const cv::Mat& pieceMask, const std::function<cv::Mat()>& ownedNear,
                   const Observation& o, const BlurredEllipse& single, double blur, std::vector<Ellipse>& ellipses,
                   std::vector<double>& contrastsOut)
{
    if (r.atEdge)
        return false;
    double peak = 0.0;
    cv::minMaxLoc(r.smoothDark, nullptr, &peak, nullptr, nullptr, pieceMask);
    Ellipse host;
    host.centre = o.centre;
    host.a = std::sqrt(single.area / (kPi * single.ratio));
    host.b = host.a * single.ratio;
    host.angle = o.angle;
    const double shown = single.contrast * GaussianMassInEllipse(host.a, host.b, std::hypot(blur, kSmoothSigma));
    // How far the peak rises above what one particle shows, against the largest
    // excursion of the smoothed noise over a particle's pixels.
    const double excess = peak - shown;
    if (excess < std::max(kInclusionExcess, 4.5 * kSmoothNoise * r.noise))
        return false;
    std::vector<cv::Point2d> dark;
    for (int y = 0; y < pieceMask.rows; ++y)
        for (int x = 0; x < pieceMask.cols; ++x)
            if (pieceMask.at<uchar>(y, x) && r.smoothDark.at<float>(y, x) > shown + 0.5 * excess)
                dark.emplace_back(x, y);
    if (dark.size() < 3)
        return false;
    Ellipse inclusion = MomentEllipse(dark);
    std::vector<Ellipse> one = {host}, two = {host, inclusion};
    const cv::Mat region = ownedNear();
    double cost1 = 0.0, cost2 = 0.0;
    RefineUnionOnDarkness(r.dark, region, blur, one, 2, &cost1);
    const std::vector<double> contrasts =
        RefineUnionOnDarkness(r.dark, region, blur, two, 3, &cost2, {single.contrast, single.contrast + excess});
    const double noise2 = std::max(r.noise * r.noise, 1e-6);
    // A contrast near 1 (black) is a fit that shrank a small ellipse into a spike.
    if ((cost1 - cost2) / noise2 < kInclusionChi2 || contrasts[1] < contrasts[0] + kInclusionContrast ||
        contrasts[1] > 0.98 || two[1].Area() < kInclusionPixels)
        return false;
    ellipses = two;
    contrastsOut = contrasts;
    return true;
}

// 0/1 mask of the drawn particles (CV_32S, 1 .. count) less, where two particles touch,
// the pixels of the larger one along the contact, so that they stay apart under
// 8-connectivity and a small particle keeps its pixels.
cv::Mat SeparatedMask(const cv::Mat& drawn, int count)
{
    std::vector<int> area(static_cast<size_t>(count) + 1, 0);
    for (int y = 0; y < drawn.rows; ++y)
        for (int x = 0; x < drawn.cols; ++x)
            ++area[static_cast<size_t>(drawn.at<int>(y, x))];
    const auto yields = [&](int v, int w) {  // v gives way to w
        return area[static_cast<size_t>(v)] > area[static_cast<size_t>(w)] ||
               (area[static_cast<size_t>(v)] == area[static_cast<size_t>(w)] && v > w);
    };
    cv::Mat out = cv::Mat::zeros(drawn.size(), CV_8UC1);
    for (int y = 0; y < drawn.rows; ++y)
        for (int x = 0; x < drawn.cols; ++x) {
            const int v = drawn.at<int>(y, x);
            if (!v)
                continue;
            bool keep = true;
            for (int dy = -1; dy <= 1 && keep; ++dy)
                for (int dx = -1; dx <= 1 && keep; ++dx) {
                    const int yy = y + dy, xx = x + dx;
                    if (yy >= 0 && yy < drawn.rows && xx >= 0 && xx < drawn.cols) {
                        const int w = drawn.at<int>(yy, xx);
                        keep = w == 0 || w == v || !yields(v, w);
                    }
                }
            out.at<uchar>(y, x) = keep ? 1 : 0;
        }
    // One piece per particle: a particle cut in two by a darker one keeps its larger part.
    const std::vector<FilledPart> pieces = ConnectedParts(out);
    std::vector<int> best(static_cast<size_t>(count) + 1, -1), bestArea(static_cast<size_t>(count) + 1, 0);
    for (size_t i = 0; i < pieces.size(); ++i) {
        const cv::Vec3i& last = pieces[i].runs.back();
        const size_t v = static_cast<size_t>(drawn.at<int>(last[0], last[2]));
        if (pieces[i].pixels > bestArea[v])
            bestArea[v] = pieces[i].pixels, best[v] = static_cast<int>(i);
    }
    out.setTo(0);
    for (size_t v = 1; v < best.size(); ++v)
        if (best[v] >= 0)
            for (const cv::Vec3i& run : pieces[static_cast<size_t>(best[v])].runs)
                std::fill(out.ptr<uchar>(run[0]) + run[1], out.ptr<uchar>(run[0]) + run[2] + 1, 1);
    return out;
}

// The detection; the frame's mask only when asked for (the particles do without it).
BackgroundDetection Segment(const cv::Mat& grey, const BackgroundDetectionSettings& settings, bool frameMask)
{
    BackgroundDetection result;
    if (grey.empty() || grey.type() != CV_8UC1)
        return result;
    const cv::Rect frame(0, 0, grey.cols, grey.rows);
    if (frameMask)
        result.mask = cv::Mat::zeros(grey.size(), CV_8UC1);

    // Candidates: smoothed darkness against the block background above the detection level.
    const cv::Mat grid = BlockBackground(grey);
    cv::Mat smooth;
    cv::GaussianBlur(grey, smooth, cv::Size(5, 5), 1.0);
    const CandidateRuns runs =
        settings.faintDarkness < settings.detectionDarkness
            ? CandidateRuns::WithFaint(smooth, grid, settings.detectionDarkness, settings.faintDarkness)
            : CandidateRuns(smooth, grid, settings.detectionDarkness);
    const NearCandidates excluded(runs, grey.size(), kWideMargin);

    // Each region: darkness against the plane of its surrounding background, its pieces
    // at half its peak and the ellipses that explain each piece's outline.
    std::vector<Region> regions;
    std::vector<std::vector<Piece>> piecesOf;
    for (int k = 1; k <= static_cast<int>(runs.regions.size()); ++k) {
        if (runs.regions[static_cast<size_t>(k - 1)].pixels < settings.minPixels)
            continue;
        Region r;
        r.label = k;
        const cv::Rect box = runs.regions[static_cast<size_t>(k - 1)].box;
        r.atEdge = box.x == 0 || box.y == 0 || box.br().x == grey.cols || box.br().y == grey.rows;
        r.roi = (box + cv::Size(2 * kWideMargin, 2 * kWideMargin) - cv::Point(kWideMargin, kWideMargin)) & frame;
        const cv::Rect window =
            (r.roi + cv::Size(2 * kPlaneMargin, 2 * kPlaneMargin) - cv::Point(kPlaneMargin, kPlaneMargin)) & frame;
        cv::Mat level;
        double noise = 0.0;
        if (!FitPlane(grey, excluded, window, r.roi, level, noise)) {
            level.create(r.roi.size(), CV_32F);
            std::vector<float> row;
            for (int y = 0; y < r.roi.height; ++y) {
                BackgroundRow(grid, r.roi.y + y, grey.cols, row);
                std::copy(row.begin() + r.roi.x, row.begin() + r.roi.x + r.roi.width, level.ptr<float>(y));
            }
        }
        r.dark.create(r.roi.size(), CV_32F);
        r.smoothDark.create(r.roi.size(), CV_32F);
        cv::Mat candidate;
        if (!runs.Paint(r.roi, k, candidate, r.others))
            r.others.release();
        for (int y = 0; y < r.roi.height; ++y) {
            const uchar* g = grey.ptr<uchar>(r.roi.y + y) + r.roi.x;
            const uchar* s = smooth.ptr<uchar>(r.roi.y + y) + r.roi.x;
            const uchar* c = candidate.ptr<uchar>(y);
            const float* lv = level.ptr<float>(y);
            float* d = r.dark.ptr<float>(y);
            float* sd = r.smoothDark.ptr<float>(y);
            for (int x = 0; x < r.roi.width; ++x) {
                const float inv = 1.0f / std::max(lv[x], 1.0f);
                d[x] = 1.0f - g[x] * inv;
                sd[x] = 1.0f - s[x] * inv;
                if (c[x])
                    r.peak = std::max(r.peak, sd[x]);
            }
        }
        r.noise = noise / std::max(1.0f, level.at<float>(level.rows / 2, level.cols / 2));
        std::vector<Piece> pieces;
        cv::Mat half(r.roi.size(), CV_8UC1);
        const float cut = static_cast<float>(kOutlineLevel * r.peak);
        for (int y = 0; y < half.rows; ++y) {
            const float* sd = r.smoothDark.ptr<float>(y);
            const uchar* c = candidate.ptr<uchar>(y);
            uchar* h = half.ptr<uchar>(y);
            for (int x = 0; x < half.cols; ++x)
                h[x] = c[x] && sd[x] > cut;
        }
        const std::vector<FilledPart> parts = FilledParts(half);
        for (size_t i = 0; i < parts.size(); ++i) {
            if (parts[i].pixels < 3)
                continue;
            Piece p;
            p.mask = PartMask(parts[i], r.roi.size());
            p.outline = LevelCrossings(r.smoothDark, p.mask, kOutlineLevel * r.peak);
            if (settings.splitOverlaps)
                p.shape = FitSingleEllipse(p.outline, p.mask, 0);
            else
                p.shape.ellipses.assign(1, Ellipse());
            pieces.push_back(std::move(p));
        }
        regions.push_back(std::move(r));
        piecesOf.push_back(std::move(pieces));
    }

    // Merged particles: pieces whose outline one ellipse fits clearly worse than it fits
    // most pieces of the frame, which are single particles.
    if (settings.splitOverlaps) {
        std::vector<double> rms;
        for (const std::vector<Piece>& pieces : piecesOf)
            for (const Piece& p : pieces)
                rms.push_back(p.shape.rms);
        UnionSettings us;
        if (!rms.empty()) {
            std::nth_element(rms.begin(), rms.begin() + rms.size() / 2, rms.end());
            us.singleRms = std::clamp(settings.splitRmsFactor * rms[rms.size() / 2], 0.06, 0.25);
        }
        for (size_t ri = 0; ri < regions.size(); ++ri)
            for (Piece& p : piecesOf[ri])
                if (p.shape.rms > us.singleRms)
                    p.shape = ExplainOutline(p.outline, p.mask, us);
    }

    // The blur, from the widest single particles alone in their roi. A frame with too few
    // wide ones measures it on the widest it has: a guess would bias every size (a blur
    // taken for 1 px on sharp particles of 10 to 50 px shrinks each by about 7 px).
    double sigma = settings.blurSigma;
    if (sigma < 0.0) {
        std::vector<std::pair<int, size_t>> wide;
        size_t wideEnough = 0;
        for (size_t i = 0; i < regions.size(); ++i) {
            const Region& r = regions[i];
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
        std::vector<Observation> samples;
        std::vector<size_t> sampleRegion;
        for (size_t i = 0; i < wide.size() && samples.size() < kBlurSamples; ++i) {
            const Region& r = regions[wide[i].second];
            const Observation o =
                Observe(r, cv::Mat(r.roi.size(), CV_32S, cv::Scalar(1)), 1, wide[i].first, kDefaultBlur);
            if (o.valid)
                samples.push_back(o), sampleRegion.push_back(wide[i].second);
        }
        double guess = kDefaultBlur;
        if (samples.size() >= kBlurSamplesLeast) {
            std::vector<double> blurs(samples.size());
            for (int pass = 0; pass < 2; ++pass) {
                for (size_t i = 0; i < samples.size(); ++i)
                    blurs[i] = BlurOfParticle(regions[sampleRegion[i]], samples[i], guess);
                std::nth_element(blurs.begin(), blurs.begin() + blurs.size() / 2, blurs.end());
                guess = std::max(0.0, blurs[blurs.size() / 2]);
            }
            // A strong blur: the edge model reads it low (by 2 to 10 % at 3 px on
            // particles of 6 to 9 px radius, more on slim ellipses; by 4 % at 2 px on
            // a radius of 4), and every size answers to it steeply; the whole
            // particles' darkness reads it true.
            const double medianRadius = std::sqrt(wide[samples.size() / 2].first / kPi);
            if (guess >= std::min(kWholeBlurFrom, kWholeBlurPerRadius * medianRadius)) {
                blurs.resize(std::min(samples.size(), kWholeBlurSamples));
                for (size_t i = 0; i < blurs.size(); ++i)
                    blurs[i] = BlurOfWholeParticle(regions[sampleRegion[i]], samples[i], 0.9 * guess, 1.3 * guess);
                std::nth_element(blurs.begin(), blurs.begin() + blurs.size() / 2, blurs.end());
                guess = blurs[blurs.size() / 2];
            }
            result.blurParticles = static_cast<int>(samples.size());
        }
        sigma = guess;
    }
    result.blurSigma = sigma;

    // Each piece: one particle measured by its weighted darkness, or the particles of the
    // ellipses that explain a merged blob, each sized by its ellipse.
    int groups = 0;
    for (size_t ri = 0; ri < regions.size(); ++ri) {
        const Region& r = regions[ri];
        const std::vector<Piece>& pieces = piecesOf[ri];
        if (pieces.empty())
            continue;
        const cv::Mat owner = Ownership(r, pieces);
        cv::Mat drawn = frameMask ? cv::Mat::zeros(r.roi.size(), CV_32S) : cv::Mat();
        int drawnId = 0;
        // A particle with its mask's pixels and box (roi coordinates); with the frame's mask,
        // drawn into the region's by `draw` under the next id.
        const auto emit = [&](ParticleBlob blob, int pixels, const cv::Rect& box, const auto& draw) {
            if (pixels == 0)
                return;
            ++drawnId;
            if (frameMask)
                draw(drawnId);
            blob.maskArea = pixels;
            blob.box = box + r.roi.tl();
            blob.touchesBorder = r.atEdge || blob.box.x == 0 || blob.box.y == 0 || blob.box.br().x == grey.cols ||
                                 blob.box.br().y == grey.rows;
            result.blobs.push_back(blob);
        };
        for (size_t pi = 0; pi < pieces.size(); ++pi) {
            const Piece& piece = pieces[pi];
            const int id = static_cast<int>(pi) + 1;
            const double pixels = cv::countNonZero(piece.mask);
            // The pixels it owns within the blur's reach of its outline.
            const auto ownedNear = [&]() {
                const int reach = static_cast<int>(std::ceil(3.0 * sigma)) + 2;
                const cv::Rect near =
                    (cv::boundingRect(piece.mask) + cv::Size(2 * reach, 2 * reach) - cv::Point(reach, reach)) &
                    cv::Rect(cv::Point(), r.roi.size());
                cv::Mat region = cv::Mat::zeros(r.roi.size(), CV_8UC1);
                for (int y = near.y; y < near.br().y; ++y)
                    for (int x = near.x; x < near.br().x; ++x)
                        region.at<uchar>(y, x) = owner.at<int>(y, x) == id;
                return region;
            };
            std::vector<Ellipse> ellipses;
            std::vector<double> contrasts;
            bool refined = false;
            if (piece.shape.ellipses.size() <= 1) {
                const Observation o = Observe(r, owner, id, pixels, sigma);
                const SingleMeasure m = MeasureSingle(o, r.noise, sigma);
                if (m.ellipse.area <= 0.0)
                    continue;
                refined = settings.splitOverlaps &&
                          FindInclusion(r, piece.mask, ownedNear, o, m.ellipse, sigma, ellipses, contrasts);
                if (!refined) {
                    const float level =
                        static_cast<float>(MaskLevel(r.smoothDark, owner, id, m.ellipse.area, m.ellipse.contrast));
                    cv::Mat above(r.roi.size(), CV_8UC1);
                    for (int y = 0; y < above.rows; ++y) {
                        const float* sd = r.smoothDark.ptr<float>(y);
                        const int* ow = owner.ptr<int>(y);
                        uchar* a = above.ptr<uchar>(y);
                        for (int x = 0; x < above.cols; ++x)
                            a[x] = ow[x] == id && sd[x] > level;
                    }
                    const FilledPart part = LargestPart(above);
                    ParticleBlob blob;
                    blob.centroid = o.centre + cv::Point2d(r.roi.x, r.roi.y);
                    blob.area = m.ellipse.area;
                    blob.contrast = m.ellipse.contrast;
                    blob.areaSd = m.areaSd;
                    if (!part.border.empty())
                        ContourShapeFactors(part.border, blob.ratio, blob.circularity);
                    emit(blob, part.pixels, part.box, [&](int drawId) {
                        for (const cv::Vec3i& run : part.runs)
                            std::fill(drawn.ptr<int>(run[0]) + run[1], drawn.ptr<int>(run[0]) + run[2] + 1, drawId);
                    });
                    continue;
                }
            }
            // Merged particles: the ellipses fitted to the blob's outline, refined on its
            // darkness, each sized by its own ellipse.
            if (!refined) {
                ellipses = piece.shape.ellipses;
                contrasts = RefineUnionOnDarkness(r.dark, ownedNear(), sigma, ellipses, 1);
            }
            const float cut = static_cast<float>(kOutlineLevel * r.peak);
            const cv::Mat parts = EllipseOwnership(ellipses, contrasts, owner, id, r.smoothDark, cut);
            const int group = groups++;
            for (size_t e = 0; e < ellipses.size(); ++e) {
                const Ellipse& el = ellipses[e];
                ParticleBlob blob;
                blob.centroid = el.centre + cv::Point2d(r.roi.x, r.roi.y);
                blob.area = el.Area();
                blob.contrast = contrasts[e];
                blob.areaSd = 0.1 * blob.area;
                blob.group = group;
                // Its pixels: those of the piece's mask its ellipse owns.
                const int label = static_cast<int>(e + 1);
                int owned = 0, left = parts.cols, top = parts.rows, right = -1, bottom = -1;
                for (int y = 0; y < parts.rows; ++y) {
                    const int* pa = parts.ptr<int>(y);
                    for (int x = 0; x < parts.cols; ++x)
                        if (pa[x] == label) {
                            ++owned;
                            left = std::min(left, x), right = std::max(right, x);
                            top = std::min(top, y), bottom = y;
                        }
                }
                cv::Mat whole = cv::Mat::zeros(r.roi.size(), CV_8UC1);
                cv::ellipse(whole,
                            cv::RotatedRect(el.centre,
                                            cv::Size2f(static_cast<float>(2 * el.a), static_cast<float>(2 * el.b)),
                                            static_cast<float>(el.angle * 180.0 / kPi)),
                            cv::Scalar(1), cv::FILLED);
                // A filled ellipse is one part without holes: its outer border.
                const std::vector<FilledPart> drawnEllipse = FilledParts(whole, true);
                if (!drawnEllipse.empty())
                    ContourShapeFactors(drawnEllipse[0].border, blob.ratio, blob.circularity);
                emit(blob, owned, cv::Rect(left, top, right - left + 1, bottom - top + 1), [&](int drawId) {
                    for (int y = 0; y < parts.rows; ++y) {
                        const int* pa = parts.ptr<int>(y);
                        int* d = drawn.ptr<int>(y);
                        for (int x = 0; x < parts.cols; ++x)
                            if (pa[x] == label)
                                d[x] = drawId;
                    }
                });
            }
        }
        if (!frameMask)
            continue;
        if (drawnId > 1) {
            result.mask(r.roi) |= SeparatedMask(drawn, drawnId);
        } else {
            for (int y = 0; y < drawn.rows; ++y) {
                const int* d = drawn.ptr<int>(y);
                uchar* m = result.mask.ptr<uchar>(r.roi.y + y) + r.roi.x;
                for (int x = 0; x < drawn.cols; ++x)
                    if (d[x])
                        m[x] = 1;
            }
        }
    }
    return result;
}

}  // namespace

BackgroundDetection SegmentParticlesBackground(const cv::Mat& grey, const BackgroundDetectionSettings& settings)
{
    return Segment(grey, settings, true);
}

ParticleBlobs DetectParticlesBackground(const cv::Mat& grey, const BackgroundDetectionSettings& settings)
{
    return Segment(grey, settings, false).blobs;
}

cv::Mat SegmentBackground(const cv::Mat& grey)
{
    return SegmentParticlesBackground(grey).mask;
}
