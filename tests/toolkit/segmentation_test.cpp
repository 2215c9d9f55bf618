#include "toolkit/segmentation.h"

#include <opencv2/core.hpp>
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
    for (const auto& band : levelAndRows)
        image.push_back(cv::Mat(band.second, 8, CV_8UC1, cv::Scalar(band.first)));
    return image;
}

// Row by row: 1 exactly where the grey level is at most `threshold`.
bool IsThresholdAt(const cv::Mat& grey, const cv::Mat& mask, int threshold)
{
    return cv::countNonZero(mask != (grey <= threshold) / 255) == 0;
}

}  // namespace

TEST(SegmentOtsu, MarksDarkParticlesAndDropsSpecks)
{
    cv::Mat grey(100, 120, CV_8UC1, cv::Scalar(200));
    cv::rectangle(grey, cv::Rect(20, 30, 15, 10), cv::Scalar(40), cv::FILLED);
    grey.at<uchar>(10, 100) = 0;
    const cv::Mat mask = SegmentOtsu(grey);
    // The median removes the one-pixel speck and the rectangle's four corner pixels.
    cv::Mat expected = cv::Mat::zeros(grey.size(), CV_8UC1);
    expected(cv::Rect(20, 30, 15, 10)).setTo(1);
    expected.at<uchar>(30, 20) = expected.at<uchar>(30, 34) = expected.at<uchar>(39, 20) = 0;
    expected.at<uchar>(39, 34) = 0;
    EXPECT_EQ(cv::countNonZero(mask != expected), 0);
    EXPECT_TRUE(SegmentOtsu(cv::Mat()).empty());
}

TEST(SegmentModeValue, ThresholdFollowsTheBestScoringLevel)
{
    // Mode 200 (100 rows). Below it the histogram falls to 0.47 of the mode count at
    // 190 (level 0.5, score 47.5), to 0.37 at 180 (levels 0.55 and 0.6, best score
    // 64.8) and to 0.3 at 100 (level 0.65, score 42.25), never lower: threshold 180.
    std::vector<std::pair<int, int>> bands;
    for (int v = 1; v <= 199; ++v)
        bands.emplace_back(v, v <= 100 ? 30 : v <= 180 ? 37 : v <= 190 ? 47 : 80);
    bands.emplace_back(200, 100);
    const cv::Mat grey = Bands(bands);
    EXPECT_TRUE(IsThresholdAt(grey, SegmentModeValue(grey), 180));
}

TEST(SegmentModeValue, ThresholdNeverBelow50)
{
    cv::Mat dark = cv::Mat::zeros(60, 60, CV_8UC1);  // mode 0: every index is 0
    dark.at<uchar>(10, 10) = 50;
    dark.at<uchar>(40, 40) = 51;
    EXPECT_TRUE(IsThresholdAt(dark, SegmentModeValue(dark), 50));

    std::vector<std::pair<int, int>> even;  // falls below half the mode count only at 30
    for (int v = 31; v <= 100; ++v)
        even.emplace_back(v, 10);
    const cv::Mat grey = Bands(even);
    EXPECT_TRUE(IsThresholdAt(grey, SegmentModeValue(grey), 50));
}

TEST(SegmentModeValue, LowestOfEqualModesWins)
{
    // 180 and 200 equally frequent: mode 180 gives threshold 179, mode 200 would give 199.
    cv::Mat grey(40, 30, CV_8UC1, cv::Scalar(180));
    grey.rowRange(20, 40).setTo(200);
    EXPECT_EQ(cv::countNonZero(SegmentModeValue(grey)), 0);
    EXPECT_TRUE(SegmentModeValue(cv::Mat()).empty());
}

TEST(FrameDiffMask, MarksPixelsDarkerByAtLeastNine)
{
    const cv::Mat a = (cv::Mat_<uchar>(1, 5) << 100, 100, 150, 0, 255);
    const cv::Mat b = (cv::Mat_<uchar>(1, 5) << 108, 109, 100, 255, 0);
    EXPECT_EQ(cv::countNonZero(FrameDiffMask(a, b) != (cv::Mat_<uchar>(1, 5) << 0, 1, 0, 1, 0)), 0);
}
