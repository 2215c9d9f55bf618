#include "toolkit/adjacency.h"
#include "toolkit/hole_filling.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

namespace {

// A filled rectangle plus `extra` pixels continuing its last row: any size up to
// width * height + extra.
void Blob(cv::Mat& mask, cv::Point at, int width, int height, int extra, uchar value)
{
    mask(cv::Rect(at.x, at.y, width, height)).setTo(value);
    mask(cv::Rect(at.x, at.y + height, extra, 1)).setTo(value);
}

}  // namespace

TEST(InvertMask01, ZeroBecomesOneAndEveryOtherValueZero)
{
    const cv::Mat mask = (cv::Mat_<uchar>(1, 4) << 0, 1, 2, 255);
    const cv::Mat expected = (cv::Mat_<uchar>(1, 4) << 1, 0, 0, 0);
    EXPECT_EQ(cv::countNonZero(InvertMask01(mask) != expected), 0);
}

TEST(RemoveSmallComponents, ClearsUpTo50PixelsAndKeeps51)
{
    cv::Mat mask = cv::Mat::zeros(40, 60, CV_8UC1);
    Blob(mask, {2, 2}, 10, 5, 0, 1);    // 50
    Blob(mask, {20, 2}, 10, 5, 1, 1);   // 51
    Blob(mask, {40, 2}, 1, 1, 0, 1);    // 1
    mask(cv::Rect(2, 20, 3, 3)).setTo(2);
    mask(cv::Rect(20, 20, 3, 3)).setTo(255);
    const cv::Mat input = mask.clone();

    AdjRelPtr four(Create4NeighbourAdjRel());
    const cv::Mat out = RemoveSmallComponents(mask, four.get());
    EXPECT_EQ(out.at<uchar>(2, 2), 0);
    EXPECT_EQ(out.at<uchar>(2, 20), 1);
    EXPECT_EQ(out.at<uchar>(7, 20), 1);
    EXPECT_EQ(out.at<uchar>(2, 40), 0);
    EXPECT_EQ(cv::countNonZero(out == 2), 9);
    EXPECT_EQ(cv::countNonZero(out == 255), 9);
    EXPECT_EQ(cv::countNonZero(out), 51 + 18);
    EXPECT_EQ(cv::countNonZero(mask != input), 0);
}

TEST(RemoveSmallComponents, ConnectsThroughTheGivenRelation)
{
    // Two 30-pixel squares meeting at a corner: two small regions under the
    // 4-neighbourhood, one of 60 under the 8-neighbourhood.
    cv::Mat mask = cv::Mat::zeros(30, 30, CV_8UC1);
    Blob(mask, {0, 0}, 6, 5, 0, 1);
    Blob(mask, {6, 5}, 6, 5, 0, 1);
    AdjRelPtr four(Create4NeighbourAdjRel());
    AdjRelPtr eight(Create8NeighbourAdjRel());
    EXPECT_EQ(cv::countNonZero(RemoveSmallComponents(mask, four.get())), 0);
    EXPECT_EQ(cv::countNonZero(RemoveSmallComponents(mask, eight.get())), 60);
}

TEST(FillSmallHoles, Fills50PixelHolesButNot51)
{
    for (int hole : {50, 51}) {
        cv::Mat mask = cv::Mat::zeros(80, 80, CV_8UC1);
        cv::circle(mask, cv::Point(40, 40), 20, cv::Scalar(1), cv::FILLED);
        Blob(mask, {35, 37}, 10, 5, hole - 50, 0);
        const cv::Mat out = FillSmallHoles(mask);
        EXPECT_EQ(out.at<uchar>(38, 38), hole == 50 ? 1 : 0) << hole;
        EXPECT_EQ(out.at<uchar>(2, 2), 0) << hole;  // the large background stays
    }
}

TEST(FillSmallHoles, HolesAreFourConnected)
{
    // A 30-pixel hole whose corner meets the outside background only diagonally is a
    // hole of its own.
    cv::Mat mask = cv::Mat::zeros(40, 40, CV_8UC1);
    mask(cv::Rect(10, 10, 12, 12)).setTo(1);
    Blob(mask, {11, 11}, 6, 5, 0, 0);
    mask.at<uchar>(10, 10) = 0;
    const cv::Mat out = FillSmallHoles(mask);
    EXPECT_EQ(cv::countNonZero(out(cv::Rect(11, 11, 6, 5))), 30);
    EXPECT_EQ(out.at<uchar>(10, 10), 0);
}

TEST(FillSmallHoles, FillsSmallBackgroundPiecesAtTheBorder)
{
    cv::Mat mask = cv::Mat::zeros(40, 40, CV_8UC1);
    mask(cv::Rect(0, 0, 7, 6)).setTo(1);
    mask(cv::Rect(0, 0, 6, 5)).setTo(0);  // 30 zeros closed off except by the border
    mask.at<uchar>(20, 20) = 255;         // any non-zero input is foreground
    const cv::Mat out = FillSmallHoles(mask);
    EXPECT_EQ(cv::countNonZero(out(cv::Rect(0, 0, 7, 6))), 42);
    EXPECT_EQ(out.at<uchar>(20, 20), 1);
    EXPECT_EQ(out.at<uchar>(30, 30), 0);
    EXPECT_EQ(cv::countNonZero(out > 1), 0);
}

TEST(FillSmallHoles, EmptyMasks)
{
    EXPECT_TRUE(InvertMask01(cv::Mat()).empty());
    EXPECT_TRUE(FillSmallHoles(cv::Mat()).empty());
    AdjRelPtr four(Create4NeighbourAdjRel());
    EXPECT_TRUE(RemoveSmallComponents(cv::Mat(), four.get()).empty());
}
