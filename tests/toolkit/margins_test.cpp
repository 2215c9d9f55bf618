#include "toolkit/margins.h"

#include <opencv2/core.hpp>

#include <gtest/gtest.h>

namespace {

cv::Mat Grey(int rows, int cols)
{
    return cv::Mat(rows, cols, CV_8UC1, cv::Scalar(128));
}

}  // namespace

TEST(DrawHatchedMargins, TopBandStripesOn480By640)
{
    const cv::Mat image = Grey(480, 640);
    const cv::Mat out = DrawHatchedMargins(image, 1, 0, 0, 0);
    for (int x = 0; x <= 16; ++x)
        EXPECT_EQ(out.at<uchar>(0, x), x < 8 || x == 16 ? 0 : 255) << x;
    EXPECT_EQ(cv::countNonZero(out.rowRange(1, 480) != image.rowRange(1, 480)), 0);
}

TEST(DrawHatchedMargins, PeriodsFollowTheExtentAndSideBandsComeLast)
{
    // 1080 rows: period 22, half 11; 1920 columns: period 27, half 13.
    const cv::Mat out = DrawHatchedMargins(Grey(1080, 1920), 0, 1, 1, 1);
    EXPECT_EQ(out.at<uchar>(1079, 9), 0);     // bottom: (1 + 9) % 22 < 11
    EXPECT_EQ(out.at<uchar>(1079, 10), 255);
    EXPECT_EQ(out.at<uchar>(12, 0), 0);       // left: 12 % 27 < 13
    EXPECT_EQ(out.at<uchar>(13, 0), 255);
    EXPECT_EQ(out.at<uchar>(11, 1919), 0);    // right: (11 + 1) % 27 < 13
    EXPECT_EQ(out.at<uchar>(12, 1919), 255);
    EXPECT_EQ(out.at<uchar>(500, 500), 128);

    // At (0, 8) the top band is white ((8 + 0) % 16 = 8), the left band black.
    EXPECT_EQ(DrawHatchedMargins(Grey(480, 640), 10, 0, 1, 0).at<uchar>(8, 0), 0);
}
