#include "toolkit/particle_measure.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <cmath>

TEST(ComputeShapeFactors, DiscIsRoundAndSquare)
{
    cv::Mat mask = cv::Mat::zeros(100, 100, CV_8UC1);
    cv::circle(mask, cv::Point(50, 50), 30, cv::Scalar(1), cv::FILLED);
    double ratio = -1.0;
    double circularity = -1.0;
    ComputeShapeFactors(mask, ratio, circularity);
    EXPECT_GT(ratio, 0.97);
    EXPECT_LE(ratio, 1.0);
    EXPECT_GT(circularity, 0.85);
    EXPECT_LT(circularity, 1.05);
}

TEST(ComputeShapeFactors, RectangleByHand)
{
    // Pixel centres span 39 x 9: ratio 9 / 39, circularity 351 * 4 pi / 96^2.
    cv::Mat mask = cv::Mat::zeros(30, 60, CV_8UC1);
    mask(cv::Rect(5, 5, 40, 10)).setTo(1);
    double ratio = 0.0;
    double circularity = 0.0;
    ComputeShapeFactors(mask, ratio, circularity);
    EXPECT_NEAR(ratio, 9.0 / 39.0, 1e-6);
    EXPECT_NEAR(circularity, 351.0 * 4.0 * M_PI / (96.0 * 96.0), 1e-9);
}

TEST(ComputeShapeFactors, LineIsFlatAndPixelIsNotFinite)
{
    cv::Mat line = cv::Mat::zeros(20, 40, CV_8UC1);
    line(cv::Rect(5, 10, 20, 1)).setTo(1);
    double ratio = -1.0;
    double circularity = -1.0;
    ComputeShapeFactors(line, ratio, circularity);
    EXPECT_EQ(ratio, 0.0);
    EXPECT_EQ(circularity, 0.0);

    cv::Mat pixel = cv::Mat::zeros(9, 9, CV_8UC1);
    pixel.at<uchar>(4, 4) = 1;
    ComputeShapeFactors(pixel, ratio, circularity);
    EXPECT_FALSE(std::isfinite(ratio));
    EXPECT_FALSE(std::isfinite(circularity));
}

TEST(ComputeShapeFactors, NothingToMeasureGivesZero)
{
    double ratio = -1.0;
    double circularity = -1.0;
    ComputeShapeFactors(cv::Mat::zeros(10, 10, CV_8UC1), ratio, circularity);
    EXPECT_EQ(ratio, 0.0);
    EXPECT_EQ(circularity, 0.0);
    ratio = circularity = -1.0;
    ComputeShapeFactors(cv::Mat(), ratio, circularity);
    EXPECT_EQ(ratio, 0.0);
    EXPECT_EQ(circularity, 0.0);
}

TEST(ComputeShapeFactors, ChoosesTheOuterContourWithMostVertices)
{
    // A rectangle with a round hole: the hole has more vertices but a parent.
    cv::Mat holed = cv::Mat::zeros(60, 100, CV_8UC1);
    holed(cv::Rect(10, 10, 61, 21)).setTo(1);
    cv::circle(holed, cv::Point(40, 20), 6, cv::Scalar(0), cv::FILLED);
    double ratio = 0.0;
    double circularity = 0.0;
    ComputeShapeFactors(holed, ratio, circularity);
    EXPECT_NEAR(ratio, 20.0 / 60.0, 1e-6);

    // A rectangle and a separate disc: the disc has more vertices.
    cv::Mat two = cv::Mat::zeros(100, 100, CV_8UC1);
    two(cv::Rect(5, 5, 60, 10)).setTo(1);
    cv::circle(two, cv::Point(50, 60), 20, cv::Scalar(1), cv::FILLED);
    ComputeShapeFactors(two, ratio, circularity);
    EXPECT_GT(ratio, 0.95);
}

TEST(MeasureParticle, RangeIsInclusiveAndFieldsPassThrough)
{
    cv::Mat window = cv::Mat::zeros(21, 21, CV_8UC1);
    window(cv::Rect(8, 8, 5, 5)).setTo(1);
    const ParticleMeasure out = MeasureParticle(window, 7, 120, 340, 10, 20);
    EXPECT_EQ(out.frame, 7);
    EXPECT_EQ(out.y, 120);
    EXPECT_EQ(out.x, 340);
    EXPECT_EQ(out.area, 25);
    EXPECT_FALSE(out.inRange);
    EXPECT_NEAR(out.ratio, 1.0, 1e-6);
    EXPECT_GT(out.circularity, 0.0);
    EXPECT_TRUE(MeasureParticle(window, 7, 120, 340, 25, 25).inRange);
    EXPECT_EQ(cv::countNonZero(window), 25);
}

TEST(MeasureParticle, MeasuresOnlyTheParticleNearestTheCentre)
{
    // Centre (10, 10) is background; the nearest particle (9 pixels) is 3 pixels away,
    // another one (16 pixels) 7 pixels away at the left edge.
    cv::Mat window = cv::Mat::zeros(21, 21, CV_8UC1);
    window(cv::Rect(12, 13, 3, 3)).setTo(1);
    window(cv::Rect(0, 8, 4, 4)).setTo(1);
    EXPECT_EQ(MeasureParticle(window, 0, 0, 0, 1, 100).area, 9);

    // On a 21 x 20 window the centre is (10, 10) as well: trunc(20 * 0.5).
    EXPECT_EQ(MeasureParticle(window.rowRange(0, 20), 0, 0, 0, 1, 100).area, 9);
}

TEST(MeasureParticle, EmptyOrBlankWindowHasNoArea)
{
    const ParticleMeasure blank = MeasureParticle(cv::Mat::zeros(9, 9, CV_8UC1), 1, 2, 3, 10, 20);
    EXPECT_EQ(blank.area, 0);
    EXPECT_EQ(blank.ratio, 0.0);
    EXPECT_EQ(blank.circularity, 0.0);
    EXPECT_FALSE(blank.inRange);
    EXPECT_EQ(MeasureParticle(cv::Mat(), 1, 2, 3, 10, 20).area, 0);
}

namespace {

// Bright frame with a small dark particle up right and a larger one down left.
cv::Mat TwoParticles()
{
    cv::Mat grey(120, 160, CV_8UC1, cv::Scalar(220));
    cv::circle(grey, cv::Point(110, 40), 6, cv::Scalar(30), cv::FILLED);
    cv::circle(grey, cv::Point(60, 80), 12, cv::Scalar(30), cv::FILLED);
    return grey;
}

}  // namespace

TEST(MeasureSelectedParticle, UpperParticleWinsInAnyCornerOrder)
{
    const cv::Mat grey = TwoParticles();
    const SelectedParticle forward = MeasureSelectedParticle(grey, {40, 20}, {130, 100});
    const SelectedParticle backward = MeasureSelectedParticle(grey, {130, 100}, {40, 20});
    const SelectedParticle crossed = MeasureSelectedParticle(grey, {40, 100}, {130, 20});
    EXPECT_EQ(forward.corner, cv::Point(40, 20));
    EXPECT_EQ(backward.corner, cv::Point(40, 20));
    EXPECT_EQ(crossed.corner, cv::Point(40, 20));
    EXPECT_EQ(forward.pixels, backward.pixels);
    EXPECT_EQ(forward.pixels, crossed.pixels);

    // About the 113 pixels of the small disc, all within 6 pixels of its centre.
    ASSERT_GT(forward.pixels.size(), 90u);
    EXPECT_LE(forward.pixels.size(), 113u);
    for (const cv::Point& p : forward.pixels) {
        const cv::Point inImage = p + forward.corner;
        ASSERT_LE(std::abs(inImage.x - 110), 6);
        ASSERT_LE(std::abs(inImage.y - 40), 6);
    }
}

TEST(MeasureSelectedParticle, CornersOutsideTheImageAreClipped)
{
    const cv::Mat grey = TwoParticles();
    const SelectedParticle inside = MeasureSelectedParticle(grey, {0, 0}, {159, 119});
    const SelectedParticle outside = MeasureSelectedParticle(grey, {-30, -5}, {400, 300});
    EXPECT_EQ(outside.corner, cv::Point(0, 0));
    EXPECT_EQ(outside.pixels, inside.pixels);
    EXPECT_FALSE(inside.pixels.empty());
}

TEST(MeasureSelectedParticle, NoParticleOrNoImageGivesNoPixels)
{
    const cv::Mat plain(50, 50, CV_8UC1, cv::Scalar(200));
    EXPECT_TRUE(MeasureSelectedParticle(plain, {5, 5}, {40, 40}).pixels.empty());
    EXPECT_TRUE(MeasureSelectedParticle(cv::Mat(), {5, 5}, {40, 40}).pixels.empty());
}
