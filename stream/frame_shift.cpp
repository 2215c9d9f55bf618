#include "stream/frame_shift.h"

#include <cstdlib>
#include <utility>

int PartitionPaired(int* key, int lo, int hi, int* companion)
{
    if (lo + 1 > hi)
        return lo;
    const int pivot = key[lo];
    int p = lo;
    for (int j = lo + 1; j <= hi; ++j) {
        if (key[j] < pivot) {
            ++p;
            std::swap(key[p], key[j]);
            std::swap(companion[p], companion[j]);
        }
    }
    std::swap(key[p], key[lo]);
    std::swap(companion[p], companion[lo]);
    return p;
}

void QuickSortPaired(int* key, int lo, int hi, int* companion)
{
    // Recurse into the left part, loop over the right one.
    while (hi > lo) {
        const int p = PartitionPaired(key, lo, hi, companion);
        QuickSortPaired(key, lo, p - 1, companion);
        lo = p + 1;
    }
}

std::vector<cv::Point> PairNearestCentroids(const std::vector<cv::Point>& centroids, int frameWidth, int frameHeight)
{
    const int n = static_cast<int>(centroids.size());
    std::vector<int> Y(centroids.size());
    std::vector<int> X(centroids.size());
    for (int k = 0; k < n; ++k) {
        Y[k] = std::abs(centroids[k].y);
        X[k] = std::abs(centroids[k].x);
    }
    if (n > 0)
        QuickSortPaired(Y.data(), 0, n - 1, X.data());

    std::vector<cv::Point> pairs;
    pairs.reserve(centroids.size());
    for (int i = 0; i < n; ++i) {
        int best = frameWidth;
        int partner = i;
        for (int s = 1;; ++s) {
            const int k = i - s;
            const int j = i + s;
            int dyb = frameHeight;
            int dyf = frameHeight;
            // On equal distances the backward candidate, examined first, is kept.
            if (k >= 0) {
                dyb = std::abs(Y[i] - Y[k]);
                const int dxb = std::abs(X[i] - X[k]);
                if (dxb < best && dyb <= 3) {
                    best = dxb;
                    partner = k;
                }
            }
            if (j < n) {
                dyf = std::abs(Y[j] - Y[i]);
                const int dxf = std::abs(X[j] - X[i]);
                if (dxf < best && dyf <= 3) {
                    best = dxf;
                    partner = j;
                }
            }
            if ((k < 0 && j >= n) || (dyf > 3 && dyb > 3))
                break;
        }
        pairs.emplace_back(std::abs(X[i] - X[partner]), std::abs(Y[i] - Y[partner]));
    }
    return pairs;
}

FrameShift ConsensusShift(const std::vector<cv::Point>& pairs, bool* agreed)
{
    const int n = static_cast<int>(pairs.size());
    if (agreed)
        *agreed = false;
    if (n == 0)
        return {0, 0};
    std::vector<int> DX(pairs.size());
    std::vector<int> DY(pairs.size());
    for (int k = 0; k < n; ++k) {
        DX[k] = std::abs(pairs[k].x);
        DY[k] = std::abs(pairs[k].y);
    }
    const int mid = static_cast<int>(n * 0.5);
    int mdx = DX[0];
    int mdy = DY[0];
    if (n > 1) {
        QuickSortPaired(DX.data(), 0, n - 1, DY.data());
        mdx = DX[mid];
        QuickSortPaired(DY.data(), 0, n - 1, DX.data());
        mdy = DY[mid];
    }
    int agreeX = 0;
    int agreeY = 0;
    for (int k = 0; k < n; ++k) {
        if (std::abs(mdx - DX[k]) < 5)
            ++agreeX;
        if (std::abs(mdy - DY[k]) < 5)
            ++agreeY;
    }
    if (!(agreeX >= 0.6 * n && agreeY >= 0.6 * n))
        return {0, 0};
    if (agreed)
        *agreed = true;
    return {mdx, mdy};
}

int HorizontalMotionSign(const cv::Mat& before, const cv::Mat& after, int dx)
{
    if (dx <= 0 || before.size() != after.size() || before.type() != after.type() || dx >= after.cols)
        return 0;
    const int overlap = after.cols - dx;
    const cv::Rect low(0, 0, overlap, after.rows);
    const cv::Rect high(dx, 0, overlap, after.rows);
    // Moved right, after(x) = before(x - dx); moved left, after(x) = before(x + dx).
    const double right = cv::norm(after(high), before(low), cv::NORM_L1);
    const double left = cv::norm(after(low), before(high), cv::NORM_L1);
    if (right < 0.9 * left)
        return 1;
    if (left < 0.9 * right)
        return -1;
    return 0;
}
