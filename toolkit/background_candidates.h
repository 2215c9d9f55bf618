#pragma once

// Where the particles of a frame lie and what lies behind them: the frame's coarse
// background, the candidate pixels (smoothed darkness against it above a level) as runs
// along rows joined into regions, the pixels near them, and a plane fitted to the
// background around a region. The first stage of the background detection
// (toolkit/background_detection.h).

#include <opencv2/core.hpp>

#include <cstdint>
#include <vector>

// Side of the square blocks of the coarse background.
constexpr int kBackgroundBlock = 32;

// Background level of every pixel, coarse: the median of each block (particles are a
// minority in a block; every other pixel of every other row is plenty), a 3 x 3 median
// of the blocks against blocks that a large particle fills. Levels between block
// centres are interpolated bilinearly (BackgroundRow). CV_32F, one value per block.
cv::Mat BlockBackground(const cv::Mat& grey);

// One row of the bilinearly interpolated block background: levels at block centres,
// linear between them, constant beyond the outer ones.
void BackgroundRow(const cv::Mat& grid, int y, int width, std::vector<float>& row);

// Candidate pixels as runs along rows, 8-connected into regions: smoothed grey below
// (1 - darkness) x the block background. Found row by row (an image of the candidates
// would cost more than finding them); they are a small share of a frame, so runs are far
// fewer than pixels.
class CandidateRuns {
public:
    CandidateRuns(const cv::Mat& smooth, const cv::Mat& grid, double darkness);

    // The candidates at `darkness` and, beside them, the regions found at the lower
    // `faintDarkness` that hold none of them: faint particles are found without the
    // others growing into their neighbours. Both lie within the runs at the lower
    // darkness, which alone are looked at again.
    static CandidateRuns WithFaint(const cv::Mat& smooth, const cv::Mat& grid, double darkness, double faintDarkness);

    struct Region {
        cv::Rect box;
        int pixels;
    };
    std::vector<Region> regions;  // region label - 1

    // The candidate pixels of a window (CV_8UC1 0/1, allocated here): those of region
    // `label` in `own`, those of any other region in `others`. True when there are others.
    bool Paint(const cv::Rect& window, int label, cv::Mat& own, cv::Mat& others) const;

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

    // Labels the runs that `rowsOf(y, out)` marks (0/255) row by row.
    template <typename Rows> CandidateRuns(cv::Size size, Rows rowsOf);
};

// The pixels within `margin` (either way along both axes) of a candidate, one bit per
// pixel: what dilating the candidates by a square marks, in an eighth of the memory, so
// that the background fits read it from the cache.
class NearCandidates {
public:
    NearCandidates(const CandidateRuns& runs, cv::Size size, int margin);

    const uint64_t* Row(int y) const { return &bits[static_cast<size_t>(y) * static_cast<size_t>(words)]; }
    static bool Near(const uint64_t* row, int x) { return (row[x >> 6] >> (x & 63)) & 1; }

private:
    uint64_t* Row(int y) { return &bits[static_cast<size_t>(y) * static_cast<size_t>(words)]; }
    // Sets bits first to last of a row.
    static void Set(uint64_t* row, int first, int last);

    int words;
    std::vector<uint64_t> bits;
};

// Least-squares plane through the grey levels of the pixels of `window` that `excluded`
// leaves free (every other one); its level over `roi` (CV_32F) and the spread of the free
// pixels about it. False when too few are free.
bool FitPlane(const cv::Mat& grey, const NearCandidates& excluded, const cv::Rect& window, const cv::Rect& roi,
              cv::Mat& level, double& noise);
