#include "toolkit/adjacency.h"
#include "toolkit/labelling.h"

#include <opencv2/core.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

bool SameImage(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

// The usual relation with its first neighbour listed twice: same regions, but it
// takes the general queue walk instead of the run-based route.
AdjRel* WithRepeat(AdjRel* created)
{
    AdjRelPtr base(created);
    AdjRel* adj = CreateAdjRel(base->n + 1);
    std::copy(base->dx, base->dx + base->n, adj->dx);
    std::copy(base->dy, base->dy + base->n, adj->dy);
    adj->dx[base->n] = base->dx[1];
    adj->dy[base->n] = base->dy[1];
    return adj;
}

struct Relation {
    const char* name;
    AdjRel* (*create)();
};

const Relation kRelations[] = {
    {"8", Create8NeighbourAdjRel},
    {"4", Create4NeighbourAdjRel},
    {"8 walked", [] { return WithRepeat(Create8NeighbourAdjRel()); }},
    {"4 walked", [] { return WithRepeat(Create4NeighbourAdjRel()); }},
};

}  // namespace

TEST(LabelComponents, SameValueCriterion)
{
    cv::Mat image = cv::Mat::zeros(5, 6, CV_8UC1);
    image.colRange(0, 3).setTo(1);
    image.colRange(3, 6).setTo(2);
    for (const Relation& relation : kRelations) {
        AdjRelPtr adj(relation.create());
        const cv::Mat labels = LabelComponents(image, adj.get());
        EXPECT_EQ(cv::countNonZero(labels.colRange(0, 3) != 1), 0) << relation.name;
        EXPECT_EQ(cv::countNonZero(labels.colRange(3, 6) != 2), 0) << relation.name;
    }
}

TEST(LabelComponents, EmptyAndAllZeroImages)
{
    AdjRelPtr adj(Create8NeighbourAdjRel());
    EXPECT_TRUE(LabelComponents(cv::Mat(), adj.get()).empty());
    EXPECT_EQ(MaxLabel(cv::Mat()), -20000);
    EXPECT_TRUE(FilterComponentsBySize(cv::Mat(), 10, 30).empty());
    const cv::Mat zeros = cv::Mat::zeros(30, 40, CV_8UC1);
    EXPECT_TRUE(SameImage(LabelComponents(zeros, adj.get()), cv::Mat::zeros(30, 40, CV_32SC1)));
    EXPECT_TRUE(ComputeLabelCentroids8(zeros).empty());
    EXPECT_TRUE(SameImage(FilterComponentsBySize(zeros, 1, 100), zeros));
    const cv::Mat nan(2, 3, CV_32F, cv::Scalar(std::nan("")));  // equal to nothing, not even itself
    EXPECT_EQ(MaxLabel(LabelComponents(nan, adj.get())), 6);
}

TEST(LabelCentroids, MeansAreTruncated)
{
    cv::Mat square = cv::Mat::zeros(40, 40, CV_8UC1);
    square(cv::Rect(10, 20, 2, 2)).setTo(1);
    EXPECT_EQ(ComputeLabelCentroids8(square), std::vector<cv::Point>{cv::Point(10, 20)});
}

TEST(LabelCentroids, LargeRegionDoesNotOverflowTheSums)
{
    // The column sum of a 2048 x 2048 region is about 4.3e9, past 32 bits.
    for (const Relation& relation : kRelations) {
        AdjRelPtr adj(relation.create());
        EXPECT_EQ(ComputeLabelCentroids(cv::Mat(2048, 2048, CV_8UC1, cv::Scalar(1)), adj.get()),
                  std::vector<cv::Point>{cv::Point(1023, 1023)})
            << relation.name;
    }
}

TEST(FilterComponentsBySize, BoundsInclusiveAndFourConnected)
{
    cv::Mat mask = cv::Mat::zeros(20, 60, CV_8UC1);
    mask(cv::Rect(0, 0, 9, 1)).setTo(1);    // 9
    mask(cv::Rect(0, 5, 10, 1)).setTo(1);   // 10
    mask(cv::Rect(20, 0, 10, 3)).setTo(1);  // 30
    mask(cv::Rect(40, 0, 10, 3)).setTo(1);  // 31 with the pixel below
    mask.at<uchar>(3, 40) = 1;
    mask(cv::Rect(0, 10, 5, 4)).setTo(1);   // two 20-pixel blocks meeting at a corner
    mask(cv::Rect(5, 14, 5, 4)).setTo(1);
    const cv::Mat out = FilterComponentsBySize(mask, 10, 30);
    EXPECT_EQ(out.type(), CV_8UC1);
    EXPECT_EQ(out.at<uchar>(0, 0), 0);
    EXPECT_EQ(out.at<uchar>(0, 40), 0);
    EXPECT_EQ(out.at<uchar>(5, 9), 1);
    EXPECT_EQ(out.at<uchar>(2, 29), 1);
    EXPECT_EQ(cv::countNonZero(out), 10 + 30 + 40);
}

TEST(ExtractComponentAt, NearestSeedPrefersTheUpperRow)
{
    cv::Mat mask = cv::Mat::zeros(21, 21, CV_8UC1);
    mask(cv::Rect(12, 10, 3, 1)).setTo(1);  // starts at (x + 2, y)
    mask(cv::Rect(5, 6, 4, 3)).setTo(1);    // ends at (x - 2, y - 2)
    mask.at<uchar>(7, 7) = 255;             // any non-zero value belongs
    const cv::Mat input = mask.clone();
    const cv::Mat out = ExtractComponentAt(mask, 10, 10);
    EXPECT_EQ(cv::countNonZero(out), 12);
    EXPECT_EQ(out.at<uchar>(7, 7), 1);
    EXPECT_TRUE(SameImage(mask, input));
}
