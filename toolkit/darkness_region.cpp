#include "toolkit/darkness_region.h"

#include "toolkit/background_candidates.h"
#include "toolkit/hollow_particle.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

// Region `label`'s darkness against the plane fitted to the background around it (the
// block background where too little is free) and the noise of a pixel; its candidate
// pixels (CV_8U 0/1 in roi).
cv::Mat ReadDarkness(const cv::Mat& grey, const cv::Mat& smooth, const cv::Mat& grid, const CandidateRuns& runs,
                     const NearCandidates& excluded, int label, DarknessRegion& r)
{
    const cv::Rect frame(0, 0, grey.cols, grey.rows);
    r = DarknessRegion();
    r.label = label;
    const cv::Rect box = runs.regions[static_cast<size_t>(label - 1)].box;
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
    if (!runs.Paint(r.roi, label, candidate, r.others))
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
    return candidate;
}

// The region's pieces: the filled parts of its candidate pixels above the outline level.
std::vector<RegionPiece> CutPieces(const DarknessRegion& r, const cv::Mat& candidate, bool lookAtShapes)
{
    std::vector<RegionPiece> pieces;
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
        RegionPiece p;
        p.mask = PartMask(parts[i], r.roi.size());
        // Within the part's box and a pixel (where all of its crossings lie), moved back.
        const cv::Rect box = (parts[i].box + cv::Size(2, 2) - cv::Point(1, 1)) & cv::Rect(cv::Point(), r.roi.size());
        p.outline = LevelCrossings(r.smoothDark(box), p.mask(box), kOutlineLevel * r.peak);
        if (lookAtShapes) {
            p.shape = FitSingleEllipse(p.outline, p.mask(box), 0);
            p.shape.ellipses[0].centre += cv::Point2d(box.tl());
        } else {
            p.shape.ellipses.assign(1, Ellipse());
        }
        for (cv::Point2d& q : p.outline)
            q += cv::Point2d(box.tl());
        p.hollowRim = HollowRim(r.dark, r.smoothDark, p.mask, r.noise);
        pieces.push_back(std::move(p));
    }
    return pieces;
}

}  // namespace

void ReadRegion(const cv::Mat& grey, const cv::Mat& smooth, const cv::Mat& grid, const CandidateRuns& runs,
                const NearCandidates& excluded, int label, bool lookAtShapes, DarknessRegion& region,
                std::vector<RegionPiece>& pieces)
{
    const cv::Mat candidate = ReadDarkness(grey, smooth, grid, runs, excluded, label, region);
    pieces = CutPieces(region, candidate, lookAtShapes);
}

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

cv::Mat Ownership(const DarknessRegion& r, const std::vector<RegionPiece>& pieces)
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

double MaskLevel(const cv::Mat& dark, const cv::Mat& owner, int id, double area, double contrast)
{
    // Only the values between the two bounds need ordering: the count above the upper
    // one and the count of all decide the rest.
    const double lo = 0.3 * contrast, hi = 0.5 * contrast;
    thread_local std::vector<float> band;  // kept from call to call: a frame cuts hundreds of masks
    band.clear();
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

