#include "stream/frame_shift.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<cv::Point> Pairs(const std::vector<int>& dx, const std::vector<int>& dy) {
    std::vector<cv::Point> pairs;
    for (size_t k = 0; k < dx.size(); ++k) pairs.emplace_back(dx[k], dy[k]);
    return pairs;
}

}  // namespace

TEST(PairNearestCentroids, CentroidWithoutCandidateWithinThreeRowsGetsZeroPair) {
    std::vector<cv::Point> centroids;
    for (int k = 0; k < 10; ++k) centroids.emplace_back(30 * k, 4 * k);  // 4 rows apart
    const std::vector<cv::Point> pairs = PairNearestCentroids(centroids, 640, 480);
    ASSERT_EQ(pairs.size(), 10u);
    for (const cv::Point& p : pairs) EXPECT_EQ(p, cv::Point(0, 0));
}

TEST(PairNearestCentroids, NearestColumnWithinTheBandIsThePartner) {
    // (100, 50) has (150, 53) within 3 rows and the closer (105, 54) just outside them.
    const std::vector<cv::Point> centroids{{100, 50}, {150, 53}, {105, 54}};
    const std::vector<cv::Point> pairs = PairNearestCentroids(centroids, 640, 480);
    // Sorted by row: 50, 53, 54.
    EXPECT_EQ(pairs[0], cv::Point(50, 3));
    EXPECT_EQ(pairs[1], cv::Point(45, 1));
    EXPECT_EQ(pairs[2], cv::Point(45, 1));
}

TEST(PairNearestCentroids, BackwardCandidateWinsATieOfTheSameStep) {
    // Sorted: (90, 48), (100, 49), (110, 51). The middle one is 10 columns from both
    // neighbours; the backward one is examined first and kept (the forward one would
    // give (10, 2)).
    const std::vector<cv::Point> centroids{{110, 51}, {100, 49}, {90, 48}};
    const std::vector<cv::Point> pairs = PairNearestCentroids(centroids, 640, 480);
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[1], cv::Point(10, 1));
}

TEST(PairNearestCentroids, EarlierStepWinsATieWithALaterOne) {
    // Sorted: (90, 47), (300, 48), (100, 49), (110, 50). For (100, 49) the forward
    // candidate of step 1 is 10 columns away; the backward one of step 2 too, but it
    // comes later and does not replace it.
    const std::vector<cv::Point> centroids{{90, 47}, {300, 48}, {100, 49}, {110, 50}};
    const std::vector<cv::Point> pairs = PairNearestCentroids(centroids, 640, 480);
    EXPECT_EQ(pairs[2], cv::Point(10, 1));
}

TEST(PairNearestCentroids, FiveRowPairsTwentyApartGiveTwentyZero) {
    std::vector<cv::Point> centroids;
    for (int k = 0; k < 5; ++k) {
        centroids.emplace_back(50 + 37 * k, 10 + 20 * k);
        centroids.emplace_back(70 + 37 * k, 10 + 20 * k);
    }
    const std::vector<cv::Point> pairs = PairNearestCentroids(centroids, 640, 480);
    for (const cv::Point& p : pairs) EXPECT_EQ(p, cv::Point(20, 0));
    const FrameShift shift = ConsensusShift(pairs);
    EXPECT_EQ(shift.dx, 20);
    EXPECT_EQ(shift.dy, 0);
}

TEST(ConsensusShift, SixOfTenAgreeingGiveTheMedians) {
    // Sorted dx: 10 10 16 17 20 | 20 23 24 40 50: median 20, 6 values within 4 of it.
    const FrameShift shift =
        ConsensusShift(Pairs({40, 20, 10, 24, 16, 50, 20, 17, 23, 10}, {0, 1, 0, 2, 0, 0, 1, 0, 3, 0}));
    EXPECT_EQ(shift.dx, 20);
    EXPECT_EQ(shift.dy, 0);
}

TEST(ConsensusShift, FiveOfTenAgreeingGiveZero) {
    // As above with 16 replaced by 15, which is 5 away from the median.
    const FrameShift shift =
        ConsensusShift(Pairs({40, 20, 10, 24, 15, 50, 20, 17, 23, 10}, {0, 1, 0, 2, 0, 0, 1, 0, 3, 0}));
    EXPECT_EQ(shift.dx, 0);
    EXPECT_EQ(shift.dy, 0);
}

TEST(ConsensusShift, VerticalComponentNeedsItsOwnAgreement) {
    const std::vector<int> dx(10, 160);
    // dy sorted 0 0 0 0 0 | 8 9 10 11 12: median 8 with 5 supporters.
    FrameShift shift = ConsensusShift(Pairs(dx, {0, 8, 0, 9, 0, 10, 0, 11, 0, 12}));
    EXPECT_EQ(shift.dx, 0);
    EXPECT_EQ(shift.dy, 0);
    // One more zero: median 0 with 6 supporters.
    shift = ConsensusShift(Pairs(dx, {0, 8, 0, 9, 0, 10, 0, 11, 0, 0}));
    EXPECT_EQ(shift.dx, 160);
    EXPECT_EQ(shift.dy, 0);
}

TEST(ConsensusShift, SixtyPercentIsComparedAsARealNumber) {
    // 7 pairs need 4.2, so 4 agreeing are too few and 5 enough.
    EXPECT_EQ(ConsensusShift(Pairs({100, 100, 100, 100, 0, 0, 0}, std::vector<int>(7, 0))).dx, 0);
    EXPECT_EQ(ConsensusShift(Pairs({100, 100, 100, 100, 100, 0, 0}, std::vector<int>(7, 0))).dx, 100);
}

TEST(ConsensusShift, SingleAndEmptyLists) {
    const FrameShift one = ConsensusShift(Pairs({7}, {2}));
    EXPECT_EQ(one.dx, 7);
    EXPECT_EQ(one.dy, 2);
    const FrameShift none = ConsensusShift({});
    EXPECT_EQ(none.dx, 0);
    EXPECT_EQ(none.dy, 0);
}
