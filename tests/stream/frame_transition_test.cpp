#include "stream_test_support.h"

#include <gtest/gtest.h>

// The order of equal keys decides which centroid of a row the pairing meets first: hand
// traces of the first-element-pivot partition (a stable sort would give 1 3 0 2 first).
TEST(QuickSortPaired, EqualKeysFollowThePartitionOrder) {
    std::vector<int> key{2, 1, 2, 1}, companion{0, 1, 2, 3}, key5{3, 3, 1, 3, 2}, companion5{0, 1, 2, 3, 4};
    QuickSortPaired(key.data(), 0, 3, companion.data());
    QuickSortPaired(key5.data(), 0, 4, companion5.data());
    EXPECT_TRUE(key == std::vector<int>({1, 1, 2, 2}) && companion == std::vector<int>({3, 1, 0, 2}));
    EXPECT_TRUE(key5 == std::vector<int>({1, 2, 3, 3, 3}) && companion5 == std::vector<int>({2, 4, 0, 3, 1}));
}

// Partners within 3 rows, nearest in columns; ties go backward, then to the nearer step;
// none, or only ones the frame width away, give (0, 0). Pairs come in row order.
TEST(PairNearestCentroids, NearestWithinThreeRowsAndTieBreaks) {
    const std::pair<std::vector<cv::Point>, std::vector<cv::Point>> cases[] = {
        {{{100, 50}, {150, 53}, {205, 54}}, {{50, 3}, {50, 3}, {55, 1}}},
        {{{110, 51}, {100, 49}, {90, 48}}, {{10, 1}, {10, 1}, {10, 2}}},
        {{{90, 47}, {300, 48}, {100, 49}, {110, 50}}, {{10, 2}, {190, 2}, {10, 1}, {10, 1}}},
        {{{0, 0}, {30, 4}, {670, 4}}, {{0, 0}, {0, 0}, {0, 0}}},
    };
    for (const auto& [centroids, pairs] : cases) EXPECT_EQ(PairNearestCentroids(centroids, 640, 480), pairs);
}

// The medians (the upper one of an even count) when at least 60 % of the pairs lie within
// 4 of them in both components; otherwise, and for no pairs, (0, 0).
TEST(ConsensusShift, SixtyPercentWithinFourOfTheMedians) {
    const auto shift = [](const std::vector<int>& dx, std::vector<int> dy) {
        dy.resize(dx.size());  // the rest 0
        std::vector<cv::Point> pairs;
        for (size_t k = 0; k < dx.size(); ++k) pairs.emplace_back(dx[k], dy[k]);
        return std::make_pair(ConsensusShift(pairs).dx, ConsensusShift(pairs).dy);
    };
    const std::vector<int> dy{0, 1, 0, 2, 0, 0, 1, 0, 3, 0}, many(10, 160);
    EXPECT_EQ(shift({40, 20, 10, 24, 16, 50, 20, 17, 23, 10}, dy), std::make_pair(20, 0));  // 6 of 10 within 4 of 20
    EXPECT_EQ(shift({40, 20, 10, 24, 15, 50, 20, 17, 23, 10}, dy), std::make_pair(0, 0));   // 15 is 5 away: 5 of 10
    EXPECT_EQ(shift(many, {0, 8, 0, 9, 0, 10, 0, 11, 0, 12}), std::make_pair(0, 0));        // dy median 8: 5 near
    EXPECT_EQ(shift(many, {0, 8, 0, 9, 0, 10, 0, 11}), std::make_pair(160, 0));             // dy median 0: 6 near
    EXPECT_EQ(shift({100, 100, 100, 100, 0, 0, 0}, {}), std::make_pair(0, 0));              // 4 of 7 < 4.2
    EXPECT_EQ(shift({100, 100, 100, 100, 100, 104, 104, 104, 104, 104}, {}), std::make_pair(104, 0));
    EXPECT_EQ(shift({}, {}), std::make_pair(0, 0));
}

namespace {

// Measures frames 1 .. n-1 of the given frames in order.
std::vector<FrameShift> MeasureAll(const std::vector<cv::Mat>& frames) {
    TempFolder folder;
    CVideoStream stream;
    WriteFrames(folder, frames, stream);
    std::vector<FrameShift> shifts;
    if (!stream.PrepareFirstFrame()) return shifts;
    for (int t = 1; t < stream.frameCount; ++t) shifts.push_back(stream.MeasureTransition(t));
    return shifts;
}

// A frame with the given discs moved right by `shift`; discs 24 rows apart, so that
// no two of them share a pairing band.
cv::Mat Discs(int count, int shift) {
    cv::Mat frame = Blank(640, 480);
    for (int k = 0; k < count; ++k) Disc(frame, 40 + 13 * k + shift, 20 + 24 * k, 6);
    return frame;
}

}  // namespace

// Shift patterns of frames 1, 2, ... (0: a still frame, which gives (0, 0)).
class ExactShift : public ::testing::TestWithParam<std::vector<int>> {};

TEST_P(ExactShift, GeneratedFlowGivesTheTrueShiftOfEveryFrame) {
    for (unsigned seed : {1u, 2u, 3u}) {
        flowgen::FlowSettings settings;
        settings.seed = seed;
        settings.frames = 7;
        settings.shifts = flowgen::PatternShifts(settings.frames, GetParam());
        const flowgen::Flow flow = flowgen::GenerateFlow(settings);
        const std::vector<FrameShift> shifts = MeasureAll(RenderAll(flow));
        ASSERT_EQ(shifts.size(), 6u);
        for (size_t t = 1; t < flow.shifts.size(); ++t) {
            EXPECT_EQ(shifts[t - 1].dx, flow.shifts[t]) << "seed " << seed << " frame " << t;
            EXPECT_EQ(shifts[t - 1].dy, 0) << "seed " << seed << " frame " << t;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(TransitionMeasure, ExactShift,
                         ::testing::Values(std::vector<int>{100}, std::vector<int>{160},
                                           std::vector<int>{100, 0, 120, 160, 0, 100}));

TEST(TransitionMeasure, IdenticalFramesGiveZero) {
    flowgen::FlowSettings settings;
    settings.frames = 1;
    const cv::Mat frame = flowgen::RenderFrame(flowgen::GenerateFlow(settings), 0);
    const std::vector<FrameShift> shifts = MeasureAll({frame, frame});
    ASSERT_EQ(shifts.size(), 1u);
    EXPECT_EQ(shifts[0].dx, 0);
    EXPECT_EQ(shifts[0].dy, 0);
}

TEST(TransitionMeasure, TenChangedBlobsAreNeededForAShift) {
    // Five moving discs leave ten blobs: measured. Four moving discs and one that
    // appears leave nine, all but one well paired: still (0, 0).
    std::vector<FrameShift> shifts = MeasureAll({Discs(5, 0), Discs(5, 60)});
    EXPECT_EQ(shifts[0].dx, 60);
    EXPECT_EQ(shifts[0].dy, 0);
    cv::Mat appeared = Discs(4, 60);
    Disc(appeared, 400, 20 + 24 * 4, 6);
    shifts = MeasureAll({Discs(4, 0), appeared});
    EXPECT_EQ(shifts[0].dx, 0);
    EXPECT_EQ(shifts[0].dy, 0);
}

TEST(TransitionMeasure, PreviousFrameAdvancesAlsoOnAZeroResult) {
    TempFolder folder;
    CVideoStream stream;
    WriteFrames(folder, {Discs(5, 0), Discs(5, 0), Discs(5, 60)}, stream);
    ASSERT_TRUE(stream.PrepareFirstFrame());
    const cv::Mat first = stream.previousFrame.clone();
    const FrameShift still = stream.MeasureTransition(1);
    EXPECT_EQ(still.dx, 0);
    EXPECT_EQ(cv::norm(stream.previousFrame, first, cv::NORM_INF), 0.0);
    // An independent copy: changing the current frame leaves it alone.
    stream.currentFrame.setTo(0);
    EXPECT_EQ(cv::norm(stream.previousFrame, first, cv::NORM_INF), 0.0);
    EXPECT_EQ(stream.MeasureTransition(2).dx, 60);
}
