#pragma once

#include <opencv2/core.hpp>

#include <vector>

struct AdjRel;

// Region criterion of LabelComponents, ComputeLabelCentroids and FilterComponentsBySize:
// two pixels belong to the same region when they are neighbours under the adjacency
// relation and carry the same non-zero value. On a 0/1 mask this is ordinary
// connected-component labelling of the foreground. Images are single-channel (any
// depth); an empty image gives an empty result. A null relation has no neighbours.

// The 8-connected region of non-zero pixels at (x, y), or at the nearest non-zero
// pixel in chessboard distance (ties: upper row, then left column) when (x, y) is
// background, as a 0/1 CV_8UC1 mask. An all-zero mask gives an all-zero result;
// (x, y) may lie outside the image. The input is not changed.
cv::Mat ExtractComponentAt(const cv::Mat& mask, int x, int y);

// CV_32SC1 labels: 0 background, regions 1 .. N in raster order of their first pixel.
// Multi-channel images come back unlabelled (all 0).
cv::Mat LabelComponents(const cv::Mat& image, const AdjRel* adj);

// One centroid per region, in label order; each coordinate is the truncated mean
// column / row of the region's pixels (sums in 64 bits).
std::vector<cv::Point> ComputeLabelCentroids(const cv::Mat& image, const AdjRel* adj);

// ComputeLabelCentroids with the 8-neighbourhood.
std::vector<cv::Point> ComputeLabelCentroids8(const cv::Mat& image);

// Largest element of a label image, but at least -20000 (the value for an empty image).
int MaxLabel(const cv::Mat& labels);

// 0/1 mask keeping the 4-connected regions whose pixel count lies in [minArea, maxArea].
cv::Mat FilterComponentsBySize(const cv::Mat& mask, int minArea, int maxArea);
