#include "toolkit/particle_measure.h"

#include "toolkit/adjacency.h"
#include "toolkit/labelling.h"
#include "toolkit/segmentation.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

void ComputeShapeFactors(const cv::Mat& mask, double& ratio, double& circularity, ShapeMeasures* shape)
{
    ratio = 0.0;
    circularity = 0.0;
    if (shape)
        *shape = ShapeMeasures();
    if (mask.empty() || mask.channels() != 1)
        return;
    const cv::Mat binary = mask.type() == CV_8UC1 ? mask : cv::Mat(mask != 0);

    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy;
    cv::findContours(binary, contours, hierarchy, cv::RETR_TREE, cv::CHAIN_APPROX_SIMPLE, cv::Point(0, 0));
    if (contours.empty())
        return;

    // The outer contour with the most vertices of the simplified chain; the first
    // contour is the starting choice whatever its parent.
    std::size_t chosen = 0;
    for (std::size_t i = 1; i < contours.size(); ++i) {
        if (contours[i].size() > contours[chosen].size() && hierarchy[i][3] == -1)
            chosen = i;
    }
    ContourShapeFactors(contours[chosen], ratio, circularity);
    if (shape) {
        // The pixels inside the chosen contour: its filled drawing, less nothing (holes count).
        const cv::Rect box = cv::boundingRect(contours[chosen]);
        cv::Mat filled = cv::Mat::zeros(box.size(), CV_8UC1);
        cv::drawContours(filled, contours, static_cast<int>(chosen), cv::Scalar(1), cv::FILLED, cv::LINE_8, cv::noArray(),
                         0, -box.tl());
        *shape = MeasureShape(contours[chosen], cv::countNonZero(filled));
    }
}

void ContourShapeFactors(const std::vector<cv::Point>& contour, double& ratio, double& circularity)
{
    // Single precision as the rectangle sides come; a one-pixel region gives 0 / 0.
    const cv::RotatedRect box = cv::minAreaRect(contour);
    const float w = box.size.width;
    const float h = box.size.height;
    const float longer = w > h ? w : h;
    const float shorter = w + h - longer;
    ratio = static_cast<double>(shorter / longer);

    const double perimeter = cv::arcLength(contour, true);
    const double area = std::fabs(cv::contourArea(contour, false));
    circularity = area * 12.566370614359172 / (perimeter * perimeter);
}

ParticleMeasure MeasureParticle(const cv::Mat& window, int frame, int y, int x, int minArea, int maxArea)
{
    ParticleMeasure measure{frame, y, x, 0, 0.0, 0.0, false};
    if (!window.empty()) {
        const int centreX = static_cast<int>(window.cols * 0.5);
        const int centreY = static_cast<int>(window.rows * 0.5);
        const cv::Mat region = ExtractComponentAt(window, centreX, centreY);
        measure.area = cv::countNonZero(region);
        if (measure.area > 0) {
            ShapeMeasures shape;
            ComputeShapeFactors(region, measure.ratio, measure.circularity, &shape);
            measure.feretMax = shape.feretMax, measure.feretMin = shape.feretMin, measure.solidity = shape.solidity;
        }
    }
    measure.inRange = measure.area >= minArea && measure.area <= maxArea;
    return measure;
}

SelectedParticle MeasureSelectedParticle(const cv::Mat& grey, cv::Point corner1, cv::Point corner2)
{
    SelectedParticle selected{{}, cv::Point(0, 0)};
    if (grey.empty())
        return selected;

    const auto clip = [&](cv::Point p) {
        return cv::Point(std::clamp(p.x, 0, grey.cols - 1), std::clamp(p.y, 0, grey.rows - 1));
    };
    const cv::Point a = clip(corner1);
    const cv::Point b = clip(corner2);
    const int left = std::min(a.x, b.x);
    const int top = std::min(a.y, b.y);
    const int width = std::abs(a.x - b.x) + 1;
    const int height = std::abs(a.y - b.y) + 1;
    selected.corner = cv::Point(left, top);

    const cv::Mat region = grey(cv::Rect(left, top, width, height)).clone();
    const cv::Mat seg = SegmentSelection(region);
    AdjRelPtr adj(Create8NeighbourAdjRel());
    const cv::Mat labels = LabelComponents(seg, adj.get());

    // Label 1 is the particle met first in raster order, not the largest one.
    for (int r = 0; r < labels.rows; ++r) {
        const int* row = labels.ptr<int>(r);
        for (int c = 0; c < labels.cols; ++c) {
            if (row[c] == 1)
                selected.pixels.emplace_back(c, r);
        }
    }
    return selected;
}
