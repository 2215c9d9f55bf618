#include "toolkit/particle_measure.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

struct Shape {
    double ratio = -1.0;
    double circularity = -1.0;
};

Shape ShapeOf(const cv::Mat& mask)
{
    Shape shape;
    ComputeShapeFactors(mask, shape.ratio, shape.circularity);
    return shape;
}

}  // namespace

TEST(ComputeShapeFactors, DiscRectangleLineAndPixel)
{
    cv::Mat disc = cv::Mat::zeros(100, 100, CV_8UC1);
    cv::circle(disc, cv::Point(50, 50), 30, cv::Scalar(1), cv::FILLED);
    EXPECT_NEAR(ShapeOf(disc).ratio, 1.0, 0.03);
    EXPECT_GT(ShapeOf(disc).circularity, 0.85);  // the pixel outline is longer than 2 pi r
    EXPECT_LT(ShapeOf(disc).circularity, 1.0);

    // Pixel centres span 39 x 9: ratio 9 / 39, circularity 351 * 4 pi / 96^2.
    cv::Mat rect = cv::Mat::zeros(30, 60, CV_8UC1);
    rect(cv::Rect(5, 5, 40, 10)).setTo(1);
    EXPECT_NEAR(ShapeOf(rect).ratio, 9.0 / 39.0, 1e-6);
    EXPECT_NEAR(ShapeOf(rect).circularity, 351.0 * 4.0 * M_PI / (96.0 * 96.0), 1e-9);

    cv::Mat line = cv::Mat::zeros(20, 40, CV_8UC1);
    line(cv::Rect(5, 10, 20, 1)).setTo(1);
    EXPECT_EQ(ShapeOf(line).ratio, 0.0);
    EXPECT_EQ(ShapeOf(line).circularity, 0.0);

    cv::Mat pixel = cv::Mat::zeros(9, 9, CV_8UC1);
    pixel.at<uchar>(4, 4) = 1;
    EXPECT_FALSE(std::isfinite(ShapeOf(pixel).ratio));
    EXPECT_FALSE(std::isfinite(ShapeOf(pixel).circularity));

    EXPECT_EQ(ShapeOf(cv::Mat::zeros(10, 10, CV_8UC1)).ratio, 0.0);
    EXPECT_EQ(ShapeOf(cv::Mat()).circularity, 0.0);
}

TEST(ComputeShapeFactors, ChoosesTheOuterContourWithMostVertices)
{
    cv::Mat holed = cv::Mat::zeros(60, 100, CV_8UC1);  // the round hole has a parent
    holed(cv::Rect(10, 10, 61, 21)).setTo(1);
    cv::circle(holed, cv::Point(40, 20), 6, cv::Scalar(0), cv::FILLED);
    EXPECT_NEAR(ShapeOf(holed).ratio, 20.0 / 60.0, 1e-6);
}

TEST(MeasureParticle, MeasuresTheParticleNearestTheCentre)
{
    // Centre (10, 10) is background; the nearest particle (9 pixels) is 3 away, the
    // other (16 pixels) 7 away at the left edge.
    cv::Mat window = cv::Mat::zeros(21, 21, CV_8UC1);
    window(cv::Rect(12, 13, 3, 3)).setTo(1);
    window(cv::Rect(0, 8, 4, 4)).setTo(1);
    const ParticleMeasure out = MeasureParticle(window, 7, 120, 340, 9, 9);
    EXPECT_EQ(out.frame, 7);
    EXPECT_EQ(out.y, 120);
    EXPECT_EQ(out.x, 340);
    EXPECT_EQ(out.area, 9);
    EXPECT_NEAR(out.ratio, 1.0, 1e-6);
    EXPECT_TRUE(out.inRange);
    EXPECT_FALSE(MeasureParticle(window, 7, 120, 340, 10, 20).inRange);
    EXPECT_EQ(MeasureParticle(window.rowRange(0, 20), 0, 0, 0, 1, 9).area, 9);  // trunc(20 * 0.5)

    const ParticleMeasure blank = MeasureParticle(cv::Mat::zeros(9, 9, CV_8UC1), 1, 2, 3, 10, 20);
    EXPECT_EQ(blank.area, 0);
    EXPECT_EQ(blank.circularity, 0.0);
    EXPECT_EQ(MeasureParticle(cv::Mat(), 1, 2, 3, 10, 20).area, 0);
}

TEST(MeasureSelectedParticle, UpperParticleWinsInAnyCornerOrder)
{
    cv::Mat grey(120, 160, CV_8UC1, cv::Scalar(220));
    cv::circle(grey, cv::Point(110, 40), 6, cv::Scalar(30), cv::FILLED);  // small, upper
    grey(cv::Rect(109, 39, 3, 3)).setTo(220);                              // with a hole
    cv::circle(grey, cv::Point(60, 80), 12, cv::Scalar(30), cv::FILLED);  // large, lower
    const SelectedParticle forward = MeasureSelectedParticle(grey, {40, 20}, {130, 100});
    for (const auto& corners : {std::make_pair(cv::Point(130, 100), cv::Point(40, 20)),
                                std::make_pair(cv::Point(40, 100), cv::Point(130, 20))}) {
        const SelectedParticle other = MeasureSelectedParticle(grey, corners.first, corners.second);
        EXPECT_EQ(other.corner, cv::Point(40, 20));
        EXPECT_EQ(other.pixels, forward.pixels);
    }
    ASSERT_GT(forward.pixels.size(), 90u);  // about the 113 pixels of the small disc
    const cv::Point centre = cv::Point(110, 40) - forward.corner;  // the hole is filled
    EXPECT_NE(std::find(forward.pixels.begin(), forward.pixels.end(), centre), forward.pixels.end());
    for (const cv::Point& p : forward.pixels) {
        const cv::Point offset = p + forward.corner - cv::Point(110, 40);
        ASSERT_LE(std::max(std::abs(offset.x), std::abs(offset.y)), 6);
    }

    // Corners outside the image are clipped; no particle or no image gives nothing.
    const SelectedParticle clipped = MeasureSelectedParticle(grey, {-30, -5}, {400, 300});
    EXPECT_EQ(clipped.corner, cv::Point(0, 0));
    EXPECT_EQ(clipped.pixels, MeasureSelectedParticle(grey, {0, 0}, {159, 119}).pixels);
    EXPECT_TRUE(MeasureSelectedParticle(grey, {0, 0}, {20, 20}).pixels.empty());
    EXPECT_TRUE(MeasureSelectedParticle(cv::Mat(), {5, 5}, {40, 40}).pixels.empty());
}
