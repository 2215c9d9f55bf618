#pragma once

#include <opencv2/core.hpp>

// Crop margins are pixel counts measured inward from each edge. Bands wider than the
// image are limited to the image.

// Copy of the image with the four margin bands set to 0.
cv::Mat ClearMargins(const cv::Mat& image, int top, int bottom, int left, int right);

// Copy of the image with the four margin bands painted in diagonal black and white
// stripes; the left and right bands are painted last and cover the corners.
cv::Mat DrawHatchedMargins(const cv::Mat& image, int top, int bottom, int left, int right);
