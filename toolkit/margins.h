#pragma once

#include <opencv2/core.hpp>

// Crop margins are pixel counts measured inward from each edge. Negative margins count
// as 0 and bands wider than the image are limited to the image. An empty image gives
// an empty result.

// Copy of the image with the four margin bands set to 0.
cv::Mat ClearMargins(const cv::Mat& image, int top, int bottom, int left, int right);

// Copy of an 8-bit single-channel image with the four margin bands painted in
// diagonal black and white stripes; the left and right bands are painted last and
// cover the corners.
cv::Mat DrawHatchedMargins(const cv::Mat& image, int top, int bottom, int left, int right);
