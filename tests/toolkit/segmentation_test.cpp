#include "toolkit/margins.h"
#include "toolkit/segmentation.h"

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// Horizontal bands of grey levels 1 apart: the 5 x 5 box blur keeps every pixel in
// the level set, so the blurred histogram counts exactly the band heights.
cv::Mat Bands(const std::vector<std::pair<int, int>>& levelAndRows)
{
    cv::Mat image(0, 8, CV_8UC1);
    for (const auto& band : levelAndRows) image.push_back(cv::Mat(band.second, 8, CV_8UC1, cv::Scalar(band.first)));
    return image;
}

// The mode-value mask of `grey` is 1 exactly where the grey level is at most `threshold`.
bool ModeThresholdIs(const cv::Mat& grey, int threshold)
{
    return cv::countNonZero(SegmentModeValue(grey) != (grey <= threshold) / 255) == 0;
}

}  // namespace

TEST(SegmentModeValue, BestScoringLevelLowestModeAndFloor50)
{
    // Mode 201 (100 rows). Below it the histogram falls to 0.48 of the mode count at 200
    // (level 0.5: score 0.25 * 200 = 50) and to 0.22 at 120 (levels 0.55 to 0.75: best
    // 0.5625 * 120 = 67.5), never to 0.2: threshold 120 (t * level would choose 200).
    std::vector<std::pair<int, int>> bands;
    for (int v = 1; v <= 200; ++v) bands.emplace_back(v, v <= 120 ? 22 : v < 200 ? 47 : 48);
    bands.emplace_back(201, 100);
    EXPECT_TRUE(ModeThresholdIs(Bands(bands), 120));

    // 180 and 200 equally frequent: mode 180 gives threshold 179, mode 200 would give 199.
    EXPECT_TRUE(ModeThresholdIs(Bands({{180, 20}, {200, 20}}), 179));

    cv::Mat dark = cv::Mat::zeros(60, 60, CV_8UC1);  // mode 0 gives level 0, raised to 50
    dark.at<uchar>(10, 10) = 50;
    dark.at<uchar>(40, 40) = 51;
    EXPECT_TRUE(ModeThresholdIs(dark, 50));
}

TEST(DrawHatchedMargins, StripePeriodsFollowTheExtentAndSideBandsComeLast)
{
    // 1080 rows: period 22, half 11; 1920 columns: period 27, half 13. Top band phase
    // y + x, bottom 1 + x, left y, right y + 1; at rows 11 the side bands cover the top one.
    const cv::Mat out = DrawHatchedMargins(cv::Mat(1080, 1920, CV_8UC1, cv::Scalar(128)), 12, 1, 1, 1);
    const int expected[][3] = {{0, 10, 0},   {0, 11, 255}, {0, 22, 0},    {1079, 9, 0},    {1079, 10, 255}, {12, 0, 0},
                               {13, 0, 255}, {11, 0, 0},   {11, 1919, 0}, {12, 1919, 255}, {12, 500, 128}};
    for (const auto& e : expected) EXPECT_EQ(out.at<uchar>(e[0], e[1]), e[2]) << e[0] << ", " << e[1];
}
