#pragma once

#include <opencv2/core.hpp>

// Grey (CV_8UC1) in, 0/1 mask (CV_8UC1, foreground 1) out. Particles are darker than
// the background, so every method marks the dark side as foreground. Inputs are never
// changed; an empty image gives an empty mask.

// Segmentation method numbers used throughout the program. Method 4, "Background",
// is SegmentBackground of toolkit/background_detection.h.
enum SegmentationMethod { kMethodOtsu = 1, kMethodModeValue = 2, kMethodFrameDiff = 3, kMethodBackground = 4 };

// Method 1: median 3 x 3, then inverse binary threshold at Otsu's level.
cv::Mat SegmentOtsu(const cv::Mat& grey);

// Method 2: a threshold placed below the histogram mode (the background level),
// never below 50.
cv::Mat SegmentModeValue(const cv::Mat& grey);

// Method 3: 1 where `a` is darker than `b` by at least 9 grey levels; size of `a`.
// Where `b` does not cover `a` the mask is 0.
cv::Mat FrameDiffMask(const cv::Mat& a, const cv::Mat& b);

// Segmentation of a user's selection rectangle: Otsu, small holes filled, opened
// with a 4 x 4 ellipse.
cv::Mat SegmentSelection(const cv::Mat& grey);
