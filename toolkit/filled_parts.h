#pragma once

#include <opencv2/core.hpp>

#include <vector>

// The 8-connected parts of a small 0/1 mask, each with its holes filled, and their outer
// borders: what cv::findContours (cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE) and a
// filled cv::drawContours give, without the set-up those calls cost on every one of the
// few-hundred-pixel masks of a frame's particles.

struct FilledPart {
    int pixels = 0;  // its pixels, holes (and whatever lies in them) included
    cv::Rect box;
    std::vector<cv::Vec3i> runs;  // its pixels as (row, first column, last column), in raster order
    // Outer border as cv::findContours traces it (from the part's first pixel in raster
    // order), straight runs cut to their ends; empty unless asked for.
    std::vector<cv::Point> border;
};

// The parts of `mask` (CV_8UC1, 0 and non-zero), in the order cv::findContours lists
// their outer contours.
std::vector<FilledPart> FilledParts(const cv::Mat& mask, bool borders = false);

// The 8-connected parts of `mask` as they are, holes left open (no borders), in raster
// order of their first pixel.
std::vector<FilledPart> ConnectedParts(const cv::Mat& mask);

// A 0/1 mask (CV_8UC1) of the given size with the part's pixels set.
cv::Mat PartMask(const FilledPart& part, cv::Size size);
