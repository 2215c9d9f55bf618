#pragma once

#include "toolkit/shape_measures.h"

#include <opencv2/core.hpp>

#include <vector>

// One measured particle.
struct ParticleMeasure {
    int frame;           // frame the particle belongs to (passed through)
    int y;               // row of the particle's centroid in the frame (passed through)
    int x;               // column of the centroid (passed through)
    int area;            // pixels of the particle
    double ratio;        // shorter / longer side of the minimum-area rotated rectangle
    double circularity;  // 4 pi A / P^2, 1 for an ideal circle
    bool inRange;        // minArea <= area <= maxArea
    // Longest and shortest caliper widths (pixels), area / convex hull area, and the
    // particle's own blur (Gaussian sigma, pixels); 0 when not measured.
    double feretMax = 0.0;
    double feretMin = 0.0;
    double solidity = 0.0;
    double blur = 0.0;
};

// Aspect ratio and circularity of the outer contour with the most vertices of a
// 0/1 mask; both 0 when the mask has no contour. A one-pixel region gives the
// non-finite results of the divisions (its rectangle and perimeter are 0). With
// `shape`, also the Feret diameters and solidity of the mask's pixels inside it
// (toolkit/shape_measures.h).
void ComputeShapeFactors(const cv::Mat& mask, double& ratio, double& circularity, ShapeMeasures* shape = nullptr);

// The same of one outer contour (as cv::findContours gives it), for callers that have
// traced it already.
void ContourShapeFactors(const std::vector<cv::Point>& contour, double& ratio, double& circularity);

// Measures the particle at (or nearest to) the centre of a window cut from a frame
// mask around a centroid, its Feret diameters and solidity with it (blur 0). An all-zero
// window gives area 0 and every measure 0.
ParticleMeasure MeasureParticle(const cv::Mat& window, int frame, int y, int x, int minArea, int maxArea);

// The particle picked by a selection rectangle.
struct SelectedParticle {
    std::vector<cv::Point> pixels;  // relative to `corner`; their number is the area
    cv::Point corner;               // top-left corner of the rectangle in the image
};

// The first particle in raster order (not the largest) inside the rectangle spanned
// by two corners given in any order, both included. Corners outside the image are
// clipped into it; an empty image gives no pixels.
SelectedParticle MeasureSelectedParticle(const cv::Mat& grey, cv::Point corner1, cv::Point corner2);

// Longest over shortest caliper width, 0 when the widths were not measured.
inline double AspectRatio(const ParticleMeasure& m)
{
    return m.feretMin > 0.0 ? m.feretMax / m.feretMin : 0.0;
}
