#include "toolkit/margins.h"

#include <opencv2/core.hpp>

#include <gtest/gtest.h>

namespace {

cv::Mat Grey(int rows, int cols)
{
    return cv::Mat(rows, cols, CV_8UC1, cv::Scalar(128));
}

}  // namespace

TEST(ClearMargins, ClearsExactlyTheBands)
{
    const cv::Mat image = Grey(20, 30);
    const cv::Mat none = ClearMargins(image, 0, 0, 0, 0);
    EXPECT_EQ(cv::countNonZero(none != image), 0);
    EXPECT_NE(none.data, image.data);

    const cv::Mat bottom = ClearMargins(image, 0, 1, 0, 0);
    EXPECT_EQ(cv::countNonZero(bottom.row(19)), 0);
    EXPECT_EQ(cv::countNonZero(bottom.rowRange(0, 19)), 19 * 30);

    const cv::Mat right = ClearMargins(image, 0, 0, 0, 2);
    EXPECT_EQ(cv::countNonZero(right.colRange(28, 30)), 0);
    EXPECT_EQ(cv::countNonZero(right.colRange(0, 28)), 20 * 28);

    const cv::Mat all = ClearMargins(image, 2, 3, 4, 5);
    EXPECT_EQ(cv::countNonZero(all), (20 - 5) * (30 - 9));
    EXPECT_EQ(cv::countNonZero(all(cv::Rect(4, 2, 21, 15))), 21 * 15);
    EXPECT_EQ(cv::countNonZero(image), 20 * 30);
}

TEST(ClearMargins, OversizedAndNegativeBandsStayInsideTheImage)
{
    const cv::Mat image = Grey(20, 30);
    EXPECT_EQ(cv::countNonZero(ClearMargins(image, 25, 0, 0, 0)), 0);
    EXPECT_EQ(cv::countNonZero(ClearMargins(image, 0, 100, 0, 0)), 0);
    EXPECT_EQ(cv::countNonZero(ClearMargins(image, 0, 0, 31, 0)), 0);
    EXPECT_EQ(cv::countNonZero(ClearMargins(image, 0, 0, 0, 1000)), 0);
    EXPECT_EQ(cv::countNonZero(ClearMargins(image, -3, -1, -7, -2)), 20 * 30);
    EXPECT_TRUE(ClearMargins(cv::Mat(), 1, 1, 1, 1).empty());
}

TEST(DrawHatchedMargins, TopBandStripesOn480By640)
{
    const cv::Mat image = Grey(480, 640);
    const cv::Mat out = DrawHatchedMargins(image, 1, 0, 0, 0);
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(out.at<uchar>(0, x), 0) << x;
    for (int x = 8; x < 16; ++x)
        EXPECT_EQ(out.at<uchar>(0, x), 255) << x;
    EXPECT_EQ(out.at<uchar>(0, 16), 0);
    EXPECT_EQ(cv::countNonZero(out.rowRange(1, 480) != image.rowRange(1, 480)), 0);
    EXPECT_EQ(cv::countNonZero(image != 128), 0);
}

TEST(DrawHatchedMargins, PeriodsFollowTheImageExtent)
{
    // 1080 rows: period 22, half 11; 1920 columns: period 27, half 13.
    const cv::Mat image = Grey(1080, 1920);
    const cv::Mat out = DrawHatchedMargins(image, 0, 1, 1, 1);
    EXPECT_EQ(out.at<uchar>(1079, 5), 0);    // (1 + 5) % 22 = 6
    EXPECT_EQ(out.at<uchar>(1079, 10), 255); // (1 + 10) % 22 = 11
    EXPECT_EQ(out.at<uchar>(1079, 21), 0);   // (1 + 21) % 22 = 0
    EXPECT_EQ(out.at<uchar>(500, 500), 128);
    EXPECT_EQ(out.at<uchar>(12, 0), 0);      // left: 12 % 27 < 13
    EXPECT_EQ(out.at<uchar>(13, 0), 255);
    EXPECT_EQ(out.at<uchar>(26, 0), 255);
    EXPECT_EQ(out.at<uchar>(27, 0), 0);
    EXPECT_EQ(out.at<uchar>(11, 1919), 0);   // right: (11 + 1) % 27 < 13
    EXPECT_EQ(out.at<uchar>(12, 1919), 255);
}

TEST(DrawHatchedMargins, SideBandsCoverTheCorners)
{
    // At (x 0, y 8) the top band would be white ((8 + 0) % 16 = 8), the left band is
    // black (8 % 18 < 9); the left band is painted last.
    const cv::Mat out = DrawHatchedMargins(Grey(480, 640), 10, 0, 1, 0);
    EXPECT_EQ(out.at<uchar>(8, 1), 255);
    EXPECT_EQ(out.at<uchar>(8, 0), 0);
}

TEST(DrawHatchedMargins, OversizedAndNegativeBandsStayInsideTheImage)
{
    const cv::Mat image = Grey(48, 64);
    const cv::Mat covered = DrawHatchedMargins(image, 100, 100, 100, 100);
    EXPECT_EQ(cv::countNonZero(covered == 128), 0);
    EXPECT_EQ(cv::countNonZero(DrawHatchedMargins(image, -1, -2, -3, -4) != image), 0);
    EXPECT_TRUE(DrawHatchedMargins(cv::Mat(), 1, 1, 1, 1).empty());
    const cv::Mat pixel = DrawHatchedMargins(Grey(1, 1), 1, 0, 0, 0);
    EXPECT_EQ(pixel.at<uchar>(0, 0), 0);
}
