#pragma once

#include <opencv2/core.hpp>

// Thin particles (fibres): the darkness across a straight band of width w and contrast
// c, blurred by s, at a distance v from its axis is
//   c (Phi((w / 2 - v) / s) - Phi((-w / 2 - v) / s)),
// which never reaches c when w is no wider than a few s. Its fit along the band's
// middle (away from its ends) gives the fibre's contrast and width; with the contrast,
// its summed darkness gives its area whatever its ends look like.

struct FibreProfile {
    bool valid = false;
    double contrast = 0.0;
    double width = 0.0;
    double offset = 0.0;  // of the band's axis from the one given, across it
    double blur = 0.0;    // the one given, or fitted
    double contrastSd = 0.0;  // the noise's spread of the contrast
};

// Fits the profile across the axis through `centre` at `angle` (radians) over the pixels
// `owner` gives `id` (CV_32S) within `halfLength` of the centre along it, the darkness
// CV_32F in the same coordinates; `blur` is known (or with `fitBlur` a first guess of
// it: a fibre as wide as a few blurs shows it too), `noise` a pixel's spread.
FibreProfile FitFibreProfile(const cv::Mat& dark, const cv::Mat& owner, int id, const cv::Point2d& centre,
                             double angle, double halfLength, double blur, double noise, bool fitBlur = false);
