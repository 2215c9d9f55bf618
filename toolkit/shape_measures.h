#pragma once

#include <opencv2/core.hpp>

#include <vector>

// Shape measures of a particle's pixels, each pixel a unit square: the longest and
// shortest caliper (Feret) widths of their union and its solidity. A single pixel is 1
// wide every way (sqrt 2 across its corners); a line of n pixels n long and 1 wide.

struct ShapeMeasures {
    double feretMax = 0.0;  // longest caliper width, pixels
    double feretMin = 0.0;  // shortest caliper width, pixels
    double solidity = 0.0;  // pixels / area of the convex hull of their squares
};

// Of the pixels inside an outer border (as cv::findContours or FilledParts trace it:
// pixel centres) that hold `pixels` pixels. All 0 for an empty border.
ShapeMeasures MeasureShape(const std::vector<cv::Point>& border, double pixels);

// Of an ellipse as the particle itself (not its pixels): its axes, solidity 1.
ShapeMeasures EllipseShape(double semiMajor, double semiMinor);
