#pragma once

#include "toolkit/ellipse_union.h"

#include <opencv2/core.hpp>

// Hollow particles: a dark ring around a lighter centre (a bubble, a transparent bead).
// Their darkness is that of the ring, so neither its sum nor its weighted sums size
// the particle; its outline does. Across the outer edge a ring of contrast c and width
// w around a centre of contrast cc, blurred by s, shows
//   c Phi(-(f - shift) / s) - (c - cc) Phi(-(f - shift + w) / s)
// at a signed distance f from a reference outline (the blur moves a half-contrast
// contour inward by s^2 k / 2 where it bends by k, which binning by f + s^2 k / 2
// undoes). The fit of the five gives the outer edge (shift) whatever the ring's width:
// half the darkness a thin ring reaches under the blur lies outside its edge.

// How far a particle's smoothed darkness dips inside it below what surrounds the dip:
// each pixel's dip is the least, over paths from outside the particle's box, of the
// highest darkness on the path, less its own (the depth a lake there would have). Over
// the pixels of `mask` (CV_8UC1 0/1) in `box`; the deepest dip, and in `pixels` how many
// dip by more than `least`.
double EnclosedDip(const cv::Mat& smoothDark, const cv::Mat& mask, const cv::Rect& box, double least, int& pixels);

// A hollow particle's rim: the peak of its smoothed darkness (CV_32F) over its piece
// (`mask`, CV_8UC1 0/1, holes filled) when the smoothed darkness, or the darkness
// itself (`dark`), dips inside, in pixels the piece encloses, clearly below it: by a
// share of the peak and several times the noise (`noise`, a pixel's). 0 when the
// particle is not hollow.
float HollowRim(const cv::Mat& dark, const cv::Mat& smoothDark, const cv::Mat& mask, double noise);

struct HollowEdge {
    bool valid = false;
    double shift = 0.0;     // of the outer edge from the reference, outward
    double contrast = 0.0;  // the ring's
    double width = 0.0;     // the ring's
    double centre = 0.0;    // the centre's contrast
    double blur = 0.0;
};

// Fits the edge over the pixels `owner` gives `id` (CV_32S), the darkness CV_32F, the
// reference outline an ellipse in the same coordinates; `blur` and `rim` (the ring's
// darkness as seen) start the fit.
HollowEdge FitHollowEdge(const cv::Mat& dark, const cv::Mat& owner, int id, const Ellipse& outline, double blur,
                         double rim);
