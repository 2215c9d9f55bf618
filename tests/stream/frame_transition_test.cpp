#include "stream_test_support.h"

#include <filesystem>

// The order of equal keys decides which centroid of a row the pairing meets first: hand
// traces of the first-element-pivot partition (a stable sort would give 1 3 0 2 first).
TEST(QuickSortPaired, EqualKeysFollowThePartitionOrder)
{
    std::vector<int> key{2, 1, 2, 1}, companion{0, 1, 2, 3}, key5{3, 3, 1, 3, 2}, companion5{0, 1, 2, 3, 4};
    QuickSortPaired(key.data(), 0, 3, companion.data());
    QuickSortPaired(key5.data(), 0, 4, companion5.data());
    EXPECT_TRUE(key == std::vector<int>({1, 1, 2, 2}) && companion == std::vector<int>({3, 1, 0, 2}));
    EXPECT_TRUE(key5 == std::vector<int>({1, 2, 3, 3, 3}) && companion5 == std::vector<int>({2, 4, 0, 3, 1}));
}

// Partners within 3 rows, nearest in columns; ties go backward, then to the nearer step;
// none, or only ones the frame width away, give (0, 0). Pairs come in row order.
TEST(PairNearestCentroids, NearestWithinThreeRowsAndTieBreaks)
{
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
TEST(ConsensusShift, SixtyPercentWithinFourOfTheMedians)
{
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

TEST(TransitionMeasure, GeneratedFlowsGiveTheTrueShifts)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        const flowgen::FlowSettings settings = Settings(seed, {0, 100, 0, 120, 160, 0, 100});  // 0: still
        const flowgen::Flow flow = flowgen::GenerateFlow(settings);
        Sequence seq(Render(flow));
        for (int t = 1; t < settings.frames; ++t) {
            const FrameShift shift = seq.stream.MeasureTransition(t);
            EXPECT_TRUE(shift.dx == flow.shifts[size_t(t)] && shift.dy == 0) << seed << ", " << t << ": " << shift.dx;
        }
    }
}

// Discs 24 rows apart (one pairing band each) moved by `shift`. Frame 1: ten changed blobs.
// Frame 2: four move, one stays, one appears: nine, (0, 0), and frame 3 is measured against
// it. Frames 4 (cut short) and 5 (of another size) cannot be read: frame 6 against frame 3.
// Frame 7: its discs 12 rows below those of frame 6, so no blob has a partner.
static cv::Mat Moved(int shift, int count = 5, std::vector<cv::Vec3i> more = {}, int width = 640)
{
    for (int k = 0; k < count; ++k) more.push_back({40 + 13 * k + shift, 20 + 24 * k, 6});
    return Frame(more, cv::Size(width, 480));
}

TEST(TransitionMeasure, TenBlobsNeededAndPreviousFrameAfterZeroAndBadFrames)
{
    Sequence seq({Moved(0), Moved(60), Moved(120, 4, {{152, 116, 6}, {500, 164, 6}}), Moved(180), Moved(240),
                  Moved(300, 5, {}, 641), Moved(360),
                  Moved(0, 0, {{400, 32, 6}, {400, 56, 6}, {400, 80, 6}, {400, 104, 6}, {400, 128, 6}})});
    std::filesystem::resize_file(seq.stream.FramePath(4), std::filesystem::file_size(seq.stream.FramePath(4)) / 2);
    const int dx[] = {60, 0, 60, 0, 0, 180, 0};
    using O = ShiftOutcome;
    const O outcomes[] = {O::Measured,        O::TooFewBlobs, O::Measured, O::FrameUnreadable,
                          O::FrameUnreadable, O::Measured,    O::NoPairs};
    for (int t = 1; t <= 7; ++t) {
        bool read = t == 4 || t == 5;
        O outcome = O::NoConsensus;
        const FrameShift shift = seq.stream.MeasureTransition(t, &read, &outcome);
        EXPECT_TRUE(shift.dx == dx[t - 1] && shift.dy == 0 && read == (t != 4 && t != 5)) << t << ": " << shift.dx;
        EXPECT_EQ(outcome, outcomes[t - 1]) << t;
    }
}

// The way a generated flow moved, against its truth: right, left, either way at several
// shifts; a frame against itself, or a shift of the frame's width, is undecided.
TEST(TransitionMeasure, MotionSignFollowsTheFlow)
{
    for (const bool leftward : {false, true}) {
        for (const int shift : {20, 100, 160, 300}) {
            flowgen::FlowSettings settings = Settings(7, {0, shift});
            settings.frames = 2;
            settings.rightToLeft = leftward;
            const std::vector<cv::Mat> frames = Render(flowgen::GenerateFlow(settings));
            EXPECT_EQ(HorizontalMotionSign(frames[0], frames[1], shift), leftward ? -1 : 1) << shift;
        }
    }
    const cv::Mat frame = Render(flowgen::GenerateFlow(Settings(7, {0, 100})))[0];
    EXPECT_EQ(HorizontalMotionSign(frame, frame, 0), 0);
    EXPECT_EQ(HorizontalMotionSign(frame, frame, frame.cols), 0);
    // Stood still: both ways are as wrong, nothing decided.
    EXPECT_EQ(HorizontalMotionSign(Blank(), Blank(), 40), 0);
}

// A flow that runs back: the measure reports the way of every frame's shift.
TEST(TransitionMeasure, ReportsTheDirectionOfEachShift)
{
    const std::vector<int> shifts = {0, 120, 120, -120, -120, 100, -100};
    const flowgen::Flow flow = flowgen::GenerateFlow(Settings(5, shifts));
    Sequence seq(Render(flow));
    for (int t = 1; t < static_cast<int>(shifts.size()); ++t) {
        int direction = 9;
        const FrameShift shift = seq.stream.MeasureTransition(t, nullptr, nullptr, &direction);
        EXPECT_EQ(shift.dx, std::abs(shifts[size_t(t)])) << t;
        EXPECT_EQ(direction, shifts[size_t(t)] > 0 ? 1 : -1) << t;
    }
}
