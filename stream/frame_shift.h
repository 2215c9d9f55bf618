#pragma once

#include <opencv2/core.hpp>

#include <vector>

// Horizontal and vertical shift of the flow between two consecutive frames, in
// pixels, as magnitudes. (0, 0) means that no reliable shift was found.
struct FrameShift {
    int dx;
    int dy;
};

// How the transition measure came to its shift. Measured: the pairs agreed (on (0, 0)
// too), or nothing changed between the frames, so nothing in view moved. The others
// could not decide and report (0, 0): 1 to 9 changed blobs; a (0, 0) agreed on only
// by centroids without partner; pairs without a 60 % majority; a frame that could not
// be read; no change above the measure's threshold while the frames differ well above
// their noise (a faint flow that looks still).
enum class ShiftOutcome { Measured, TooFewBlobs, NoPairs, NoConsensus, FrameUnreadable, ChangedWithoutShift };

// Pairs every centroid with its nearest partner (in columns) within 3 rows, after a
// sort by row; returns one (|dx|, |dy|) per centroid, in sorted order. A centroid
// without a candidate gets (0, 0). Candidates frameWidth or more columns away are
// never taken; frameHeight stands for the row distance of an exhausted side. Ties go
// to the candidate examined first (backward before forward, nearer in sorted order).
std::vector<cv::Point> PairNearestCentroids(const std::vector<cv::Point>& centroids, int frameWidth, int frameHeight);

// Which way the content of `before` moved by `dx` columns (dx > 0) to give `after`: +1 to
// the right, -1 to the left, 0 undecided. The shift measure sees distances only; this
// compares how well `after` matches `before` moved either way over their overlap, and
// decides when one way leaves clearly less difference (under 90 % of the other's).
// Frames of one size and type; a dx of 0 or of the frame's width or more is undecided.
int HorizontalMotionSign(const cv::Mat& before, const cv::Mat& after, int dx);

// Medians of the pair distances, accepted only when at least 60 % of the pairs lie
// within 4 pixels of them in both components; otherwise (0, 0), also for no pairs.
// *agreed tells whether the medians were accepted.
FrameShift ConsensusShift(const std::vector<cv::Point>& pairs, bool* agreed = nullptr);

// In-place ascending sort of key[lo .. hi] that moves companion[] along. The order of
// equal keys follows from the first-element-pivot partition and is relied upon.
void QuickSortPaired(int* key, int lo, int hi, int* companion);
int PartitionPaired(int* key, int lo, int hi, int* companion);
