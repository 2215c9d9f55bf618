#pragma once

// What a particle shows under two centred Gaussian weights (toolkit/blurred_area.h):
// the weighted sums of its darkness, with what the noise does to them, and the area,
// contrast and axis ratio of the ellipse they give.

#include "toolkit/blurred_area.h"
#include "toolkit/darkness_region.h"

#include <opencv2/core.hpp>

// What a particle shows under two centred Gaussian weights (toolkit/blurred_area.h),
// with what the noise does to it.
struct WeightedObservation {
    cv::Point2d centre;  // roi coordinates
    WeightedSums sums;
    double angle = 0.0;        // of the long axis of the weighted second moments, radians
    double noiseNarrow = 0.0;  // sums of the squared weights and their product: the
    double noiseWide = 0.0;    // variances and covariance of the two sums per unit
    double noiseCross = 0.0;   // variance of a pixel's darkness
    bool valid = false;
};

// The sums over the pixels a particle owns, centred on its darkness centroid refined
// twice under the wide weight (which leaves out the noise of far pixels). The weights'
// widths follow from the particle's pixels and the blur guess.
WeightedObservation Observe(const DarknessRegion& r, const cv::Mat& owner, int id, double pixels, double blur);

struct SingleMeasure {
    BlurredEllipse ellipse;
    double areaSd = 0.0;
};

// A single particle's area, contrast and axis ratio, and the spread of its area that
// the noise causes (first order).
SingleMeasure MeasureSingle(const WeightedObservation& o, double noise, double blur);
