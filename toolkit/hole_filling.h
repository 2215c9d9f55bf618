#pragma once

#include <opencv2/core.hpp>

struct AdjRel;

// 1 - mask, saturating: 0 becomes 1, every non-zero value 0.
cv::Mat InvertMask01(const cv::Mat& mask);

// Clears the regions of value 1 (connected under adj, walked depth-first) that have
// at most 50 pixels; other values are copied.
cv::Mat RemoveSmallComponents(const cv::Mat& mask01, const AdjRel* adj);

// 0/1 mask that is 1 wherever the input is non-zero and on every 4-connected zero
// region of at most 50 pixels (holes, and small background pieces at the border).
cv::Mat FillSmallHoles(const cv::Mat& mask);
