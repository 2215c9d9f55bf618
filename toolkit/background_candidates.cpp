#include "toolkit/background_candidates.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kBlock = kBackgroundBlock;

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

}  // namespace

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


// Whole blocks run in loops of a fixed length, which the compiler turns into vector code.
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

template <typename Rows> CandidateRuns::CandidateRuns(cv::Size size, Rows rowsOf)
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

CandidateRuns::CandidateRuns(const cv::Mat& smooth, const cv::Mat& grid, double darkness)
    : CandidateRuns(smooth.size(), [&smooth, scaled = cv::Mat(grid * (1.0 - darkness)),
                                    limit = std::vector<float>()](int y, uchar* out) mutable {
        BackgroundRow(scaled, y, smooth.cols, limit);
        CandidateRow(smooth.ptr<uchar>(y), limit.data(), smooth.cols, out);
    })
{
}

CandidateRuns CandidateRuns::WithFaint(const cv::Mat& smooth, const cv::Mat& grid, double darkness, double faintDarkness)
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

bool CandidateRuns::Paint(const cv::Rect& window, int label, cv::Mat& own, cv::Mat& others) const
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

NearCandidates::NearCandidates(const CandidateRuns& runs, cv::Size size, int margin)
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

void NearCandidates::Set(uint64_t* row, int first, int last)
{
    for (int w = first >> 6; w <= last >> 6; ++w) {
        const int lo = w == first >> 6 ? first & 63 : 0, hi = w == last >> 6 ? last & 63 : 63;
        row[w] |= (hi == 63 ? ~uint64_t(0) : (uint64_t(1) << (hi + 1)) - 1) & (~uint64_t(0) << lo);
    }
}

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
