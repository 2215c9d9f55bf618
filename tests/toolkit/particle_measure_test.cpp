#include "toolkit/particle_measure.h"

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>

TEST(ComputeShapeFactors, DiscRectangleWithHoleAndDegenerateMasks)
{
    const auto ShapeOf = [](const cv::Mat& mask) {  // ratio, circularity
        std::pair<double, double> shape(-1.0, -1.0);
        ComputeShapeFactors(mask, shape.first, shape.second);
        return shape;
    };
    cv::Mat disc = cv::Mat::zeros(100, 100, CV_8UC1);
    cv::circle(disc, cv::Point(50, 50), 30, cv::Scalar(1), cv::FILLED);
    EXPECT_NEAR(ShapeOf(disc).first, 1.0, 0.03);
    EXPECT_NEAR(ShapeOf(disc).second, 0.925, 0.075);  // below 1: the pixel outline is longer than 2 pi r

    // Pixel centres span 39 x 9: ratio 9 / 39, circularity 351 * 4 pi / 96^2. The round
    // hole has more vertices but a parent, so the outer contour is measured.
    cv::Mat rect = cv::Mat::zeros(30, 60, CV_8UC1);
    rect(cv::Rect(5, 5, 40, 10)).setTo(1);
    cv::circle(rect, cv::Point(25, 10), 3, cv::Scalar(0), cv::FILLED);
    EXPECT_NEAR(ShapeOf(rect).first, 9.0 / 39.0, 1e-6);
    EXPECT_NEAR(ShapeOf(rect).second, 351.0 * 4.0 * M_PI / (96.0 * 96.0), 1e-9);

    cv::Mat pixel = cv::Mat::zeros(9, 9, CV_8UC1);
    pixel.at<uchar>(4, 4) = 1;  // rectangle and perimeter 0
    EXPECT_FALSE(std::isfinite(ShapeOf(pixel).first) || std::isfinite(ShapeOf(pixel).second));
    for (const cv::Mat& none : {cv::Mat(), cv::Mat(cv::Mat::zeros(10, 10, CV_8UC1))})
        EXPECT_EQ(ShapeOf(none), std::make_pair(0.0, 0.0));
}

TEST(MeasureSelectedParticle, FirstParticleInRasterOrderWithItsHoleFilled)
{
    cv::Mat grey(120, 160, CV_8UC1, cv::Scalar(220));
    cv::circle(grey, cv::Point(110, 40), 6, cv::Scalar(30), cv::FILLED);  // small, upper
    grey(cv::Rect(109, 39, 3, 3)).setTo(220);                             // with a hole
    cv::circle(grey, cv::Point(60, 80), 12, cv::Scalar(30), cv::FILLED);  // large, lower
    const SelectedParticle picked = MeasureSelectedParticle(grey, {130, 100}, {40, 20});
    EXPECT_EQ(picked.corner, cv::Point(40, 20));
    ASSERT_GT(picked.pixels.size(), 90u);  // about the 113 pixels of the small disc
    const cv::Point centre = cv::Point(110, 40) - picked.corner;
    EXPECT_NE(std::find(picked.pixels.begin(), picked.pixels.end(), centre), picked.pixels.end());
    for (const cv::Point& p : picked.pixels) ASSERT_LE(std::max(std::abs(p.x - centre.x), std::abs(p.y - centre.y)), 6);

    // Corners outside the image are clipped; no particle or no image gives nothing.
    const SelectedParticle clipped = MeasureSelectedParticle(grey, {400, -5}, {-30, 300});
    EXPECT_EQ(clipped.corner, cv::Point(0, 0));
    EXPECT_EQ(clipped.pixels, MeasureSelectedParticle(grey, {0, 0}, {159, 119}).pixels);
    EXPECT_TRUE(MeasureSelectedParticle(grey, {0, 0}, {20, 20}).pixels.empty());
    EXPECT_TRUE(MeasureSelectedParticle(cv::Mat(), {5, 5}, {40, 40}).pixels.empty());
}
