#include "stream_test_support.h"

#include <gtest/gtest.h>

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
