#include "toolkit/adjacency.h"
#include "toolkit/hole_filling.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

namespace {

// A filled rectangle plus `extra` pixels continuing below its first column.
void Blob(cv::Mat& mask, cv::Point at, int width, int height, int extra, uchar value)
{
    mask(cv::Rect(at.x, at.y, width, height)).setTo(value);
    mask(cv::Rect(at.x, at.y + height, extra, 1)).setTo(value);
}

}  // namespace

TEST(RemoveSmallComponents, ClearsUpTo50PixelsOfValueOne)
{
    cv::Mat mask = cv::Mat::zeros(40, 60, CV_8UC1);
    Blob(mask, {2, 2}, 10, 5, 0, 1);    // 50
    Blob(mask, {20, 2}, 10, 5, 1, 1);   // 51
    mask(cv::Rect(2, 20, 3, 3)).setTo(2);
    mask(cv::Rect(20, 20, 3, 3)).setTo(255);
    AdjRelPtr four(Create4NeighbourAdjRel());
    const cv::Mat out = RemoveSmallComponents(mask, four.get());
    EXPECT_EQ(out.at<uchar>(2, 2), 0);
    EXPECT_EQ(cv::countNonZero(out == 1), 51);
    EXPECT_EQ(cv::countNonZero(out == 2), 9);
    EXPECT_EQ(cv::countNonZero(out == 255), 9);
    EXPECT_EQ(cv::countNonZero(mask == 1), 101);  // input unchanged

    // Two 30-pixel blocks meeting at a corner: small under 4, 60 pixels under 8.
    cv::Mat corner = cv::Mat::zeros(30, 30, CV_8UC1);
    Blob(corner, {0, 0}, 6, 5, 0, 1);
    Blob(corner, {6, 5}, 6, 5, 0, 1);
    AdjRelPtr eight(Create8NeighbourAdjRel());
    EXPECT_EQ(cv::countNonZero(RemoveSmallComponents(corner, four.get())), 0);
    EXPECT_EQ(cv::countNonZero(RemoveSmallComponents(corner, eight.get())), 60);
}

TEST(FillSmallHoles, Fills50PixelHolesButNot51)
{
    for (int hole : {50, 51}) {
        cv::Mat mask = cv::Mat::zeros(80, 80, CV_8UC1);
        cv::circle(mask, cv::Point(40, 40), 20, cv::Scalar(255), cv::FILLED);
        Blob(mask, {35, 37}, 10, 5, hole - 50, 0);
        const cv::Mat out = FillSmallHoles(mask);
        EXPECT_EQ(out.at<uchar>(38, 38), hole == 50 ? 1 : 0) << hole;
        EXPECT_EQ(out.at<uchar>(40, 25), 1) << hole;  // any non-zero input becomes 1
        EXPECT_EQ(out.at<uchar>(2, 2), 0) << hole;    // the large background stays
    }
}

TEST(FillSmallHoles, HolesAreFourConnectedAndMayTouchTheBorder)
{
    cv::Mat mask = cv::Mat::zeros(40, 40, CV_8UC1);
    mask(cv::Rect(10, 10, 12, 12)).setTo(1);
    Blob(mask, {11, 11}, 6, 5, 0, 0);  // meets the outside only at the corner (10, 10)
    mask.at<uchar>(10, 10) = 0;
    mask(cv::Rect(0, 30, 7, 10)).setTo(1);
    mask(cv::Rect(0, 34, 6, 6)).setTo(0);  // 36 zeros closed off by foreground and border
    const cv::Mat out = FillSmallHoles(mask);
    EXPECT_EQ(cv::countNonZero(out(cv::Rect(11, 11, 6, 5))), 30);
    EXPECT_EQ(out.at<uchar>(10, 10), 0);
    EXPECT_EQ(cv::countNonZero(out(cv::Rect(0, 30, 7, 10))), 70);
}
