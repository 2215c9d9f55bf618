#include "toolkit/segmentation.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <vector>

namespace {

// Horizontal bands of constant grey stacked top to bottom. Neighbouring bands that
// differ by one grey level keep the 5 x 5 box blur inside the same set of levels, so
// the blurred histogram counts exactly the band heights.
cv::Mat Bands(const std::vector<std::pair<int, int>>& levelsAndHeights, int cols)
{
    cv::Mat image(0, cols, CV_8UC1);
    for (const auto& band : levelsAndHeights)
        image.push_back(cv::Mat(band.second, cols, CV_8UC1, cv::Scalar(band.first)));
    return image;
}

bool OnlyZeroAndOne(const cv::Mat& mask)
{
    return mask.type() == CV_8UC1 && cv::countNonZero(mask > 1) == 0;
}

}  // namespace

TEST(SegmentOtsu, MarksDarkParticlesAndDropsSpecks)
{
    cv::Mat grey(100, 120, CV_8UC1, cv::Scalar(200));
    cv::circle(grey, cv::Point(30, 40), 8, cv::Scalar(40), cv::FILLED);
    cv::circle(grey, cv::Point(90, 60), 5, cv::Scalar(60), cv::FILLED);
    grey.at<uchar>(10, 100) = 0;  // a one-pixel speck: the median removes it
    const cv::Mat input = grey.clone();

    const cv::Mat mask = SegmentOtsu(grey);
    EXPECT_TRUE(OnlyZeroAndOne(mask));
    EXPECT_EQ(mask.at<uchar>(40, 30), 1);
    EXPECT_EQ(mask.at<uchar>(60, 90), 1);
    EXPECT_EQ(mask.at<uchar>(10, 100), 0);
    EXPECT_EQ(mask.at<uchar>(0, 0), 0);
    EXPECT_EQ(cv::countNonZero(grey != input), 0);
}

TEST(SegmentModeValue, ThresholdFollowsTheBestScoringLevel)
{
    // Mode 200 (100 rows). Below it the histogram falls to 0.53 of the mode count at
    // 190 (level 0.5, score 47.5), to 0.63 at 180 (levels 0.55 and 0.6, score 64.8),
    // to 0.7 at 100 (level 0.65, score 42.25) and never further: threshold 180.
    std::vector<std::pair<int, int>> bands;
    for (int v = 1; v <= 100; ++v)
        bands.emplace_back(v, 30);
    for (int v = 101; v <= 180; ++v)
        bands.emplace_back(v, 37);
    for (int v = 181; v <= 190; ++v)
        bands.emplace_back(v, 47);
    for (int v = 191; v <= 199; ++v)
        bands.emplace_back(v, 80);
    bands.emplace_back(200, 100);
    const cv::Mat grey = Bands(bands, 8);

    const cv::Mat mask = SegmentModeValue(grey);
    EXPECT_TRUE(OnlyZeroAndOne(mask));
    for (int y = 0; y < grey.rows; ++y)
        ASSERT_EQ(mask.at<uchar>(y, 0), grey.at<uchar>(y, 0) <= 180 ? 1 : 0) << "grey " << int(grey.at<uchar>(y, 0));
}

TEST(SegmentModeValue, ThresholdNeverBelow50)
{
    // Most blurred values are 0: the mode is 0, every index is 0.
    cv::Mat dark = cv::Mat::zeros(60, 60, CV_8UC1);
    dark.at<uchar>(10, 10) = 50;
    dark.at<uchar>(40, 40) = 51;
    const cv::Mat mask = SegmentModeValue(dark);
    EXPECT_EQ(mask.at<uchar>(10, 10), 1);
    EXPECT_EQ(mask.at<uchar>(40, 40), 0);
    EXPECT_EQ(mask.at<uchar>(0, 0), 1);

    // Even levels 31 .. 100: the histogram first falls below half the mode count at 30.
    std::vector<std::pair<int, int>> bands;
    for (int v = 31; v <= 100; ++v)
        bands.emplace_back(v, 10);
    const cv::Mat grey = Bands(bands, 8);
    const cv::Mat ramp = SegmentModeValue(grey);
    for (int y = 0; y < grey.rows; ++y)
        ASSERT_EQ(ramp.at<uchar>(y, 0), grey.at<uchar>(y, 0) <= 50 ? 1 : 0);
}

TEST(SegmentModeValue, LowestOfEqualModesWins)
{
    // 180 and 200 equally frequent (their blurred boundary adds one row each of 184,
    // 188, 192, 196). Mode 180 puts the threshold at 179: nothing is marked; mode 200
    // would give 199 and mark the upper half.
    cv::Mat grey(40, 30, CV_8UC1, cv::Scalar(180));
    grey.rowRange(20, 40).setTo(200);
    EXPECT_EQ(cv::countNonZero(SegmentModeValue(grey)), 0);

    // A clean background at 200 with dark particles: threshold 199.
    cv::Mat frame(60, 60, CV_8UC1, cv::Scalar(200));
    cv::circle(frame, cv::Point(30, 30), 6, cv::Scalar(60), cv::FILLED);
    frame.at<uchar>(5, 5) = 199;
    const cv::Mat mask = SegmentModeValue(frame);
    EXPECT_EQ(mask.at<uchar>(30, 30), 1);
    EXPECT_EQ(mask.at<uchar>(5, 5), 1);
    EXPECT_EQ(mask.at<uchar>(50, 50), 0);
}

TEST(FrameDiffMask, MarksPixelsDarkerByAtLeastNine)
{
    const cv::Mat a = (cv::Mat_<uchar>(1, 5) << 100, 100, 150, 0, 255);
    const cv::Mat b = (cv::Mat_<uchar>(1, 5) << 108, 109, 100, 255, 0);
    const cv::Mat expected = (cv::Mat_<uchar>(1, 5) << 0, 1, 0, 1, 0);
    const cv::Mat mask = FrameDiffMask(a, b);
    EXPECT_EQ(cv::countNonZero(mask != expected), 0);
}

TEST(FrameDiffMask, SmallerOrEmptySecondFrameLeavesTheRestZero)
{
    const cv::Mat a(20, 30, CV_8UC1, cv::Scalar(10));
    const cv::Mat b(10, 15, CV_8UC1, cv::Scalar(100));
    const cv::Mat mask = FrameDiffMask(a, b);
    EXPECT_EQ(mask.size(), a.size());
    EXPECT_EQ(cv::countNonZero(mask), 10 * 15);
    EXPECT_EQ(cv::countNonZero(FrameDiffMask(a, cv::Mat())), 0);
    EXPECT_TRUE(FrameDiffMask(cv::Mat(), b).empty());
}

TEST(SegmentSelection, FillsHolesAndOpensAwayThinLines)
{
    cv::Mat grey(60, 60, CV_8UC1, cv::Scalar(220));
    cv::circle(grey, cv::Point(20, 20), 9, cv::Scalar(30), cv::FILLED);
    grey(cv::Rect(19, 19, 3, 3)).setTo(220);  // a 9-pixel bright hole
    cv::line(grey, cv::Point(5, 50), cv::Point(55, 50), cv::Scalar(30), 1);

    const cv::Mat mask = SegmentSelection(grey);
    EXPECT_TRUE(OnlyZeroAndOne(mask));
    EXPECT_EQ(mask.at<uchar>(20, 20), 1);
    EXPECT_EQ(mask.at<uchar>(20, 13), 1);
    EXPECT_EQ(cv::countNonZero(mask.row(50)), 0);
    EXPECT_EQ(mask.at<uchar>(45, 45), 0);
}

TEST(Segmentation, EmptyImagesGiveEmptyMasks)
{
    EXPECT_TRUE(SegmentOtsu(cv::Mat()).empty());
    EXPECT_TRUE(SegmentModeValue(cv::Mat()).empty());
    EXPECT_TRUE(SegmentSelection(cv::Mat()).empty());
    EXPECT_TRUE(FrameDiffMask(cv::Mat(), cv::Mat()).empty());
}
