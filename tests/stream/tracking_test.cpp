#include "hand_flow.h"

#include "stream/crossing_counter.h"

#include <gtest/gtest.h>

#include <functional>

// The counting line's tracker on hand-made flows: every particle followed at its own
// speed, in any direction, past dirt, under a moving camera, in flows that run back.

namespace {

using RateOf = std::function<double(double, cv::RNG&)>;
using CameraOf = std::function<cv::Point2d(int, const cv::Point2d&)>;

// Shifts of 90 to 150 pixels, a still frame at 5.
std::vector<double> Shifts(cv::RNG& rng, int frames)
{
    std::vector<double> shifts{0.0};
    for (int t = 1; t < frames; ++t) shifts.push_back(t == 5 ? 0.0 : std::round(rng.uniform(90.0, 150.0)));
    return shifts;
}

double AlongExtent(const HandFlow& flow)
{
    return std::abs(flow.frame.width * flow.direction.x) + std::abs(flow.frame.height * flow.direction.y);
}

// A flow of about 20 discs in view, from before the frame to its end.
HandFlow MakeFlow(unsigned seed, const cv::Point2d& u, const RateOf& rate, const CameraOf& camera, int frames = 20)
{
    cv::RNG rng(seed);
    HandFlow flow;
    flow.direction = u;
    flow.shifts = Shifts(rng, frames);
    const cv::Point2d across(-u.y, u.x);
    for (int t = 0; t < frames; ++t) flow.camera.push_back(camera(t, across));
    const double extent = AlongExtent(flow), travel = flow.Offset(frames - 1);
    const int n = static_cast<int>(20 * (travel + extent) / extent);
    flow.discs = RandomDiscs(rng, flow, n, -travel, extent, rate);
    return flow;
}

int WholeDiscs(const HandFlow& flow)
{
    return static_cast<int>(std::count_if(flow.discs.begin(), flow.discs.end(),
                                          [&](const HandDisc& d) { return d.rate > 0.0 && flow.WholeSomewhere(d); }));
}

// Moving particles whole in some frame that pass the line in view: past it in the first
// frame, not yet at it in the last, or past it in a frame that shows them while before it
// in the frame before. In a flow at an angle to the frame's edges some enter or leave
// through the sides and never meet the line.
int PassingDiscs(const HandFlow& flow)
{
    const cv::Point2d centre(0.5 * flow.frame.width, 0.5 * flow.frame.height);
    const cv::Rect inside(0, 0, flow.frame.width, flow.frame.height);
    int n = 0;
    for (const HandDisc& d : flow.discs) {
        const auto past = [&](int t) { return (flow.Place(d, t) - centre).dot(flow.direction) >= 0.0; };
        const auto seen = [&](int t) { return !(flow.Box(d, t) & inside).empty(); };
        const int last = flow.Frames() - 1;
        bool passes = (seen(0) && past(0)) || (seen(last) && !past(last));
        for (int t = 1; t <= last; ++t) passes |= seen(t) && past(t) && !past(t - 1);
        n += d.rate > 0.0 && passes && flow.WholeSomewhere(d);
    }
    return n;
}

const HandDisc& NearestDisc(const HandFlow& flow, const ParticleMeasure& r)
{
    return *std::min_element(flow.discs.begin(), flow.discs.end(), [&](const HandDisc& a, const HandDisc& b) {
        return cv::norm(flow.Place(a, r.frame) - cv::Point2d(r.x, r.y)) <
               cv::norm(flow.Place(b, r.frame) - cv::Point2d(r.x, r.y));
    });
}

const RateOf kRigid = [](double, cv::RNG&) { return 1.0; };
const RateOf kProfile = [](double q, cv::RNG&) { return 0.3 + 0.7 * (1.0 - (2.0 * q - 1.0) * (2.0 * q - 1.0)); };
const RateOf kOwn = [](double, cv::RNG& rng) { return rng.uniform(0.7, 1.3); };
const CameraOf kSteady = [](int, const cv::Point2d&) { return cv::Point2d(); };

}  // namespace

// Right, left, down, up and at 30 degrees; one rigid sheet, a parabolic profile (30 % at
// the walls) and speeds of their own (70 to 130 %); a camera that shakes 4 px across the
// flow, drifts 1.5 px a frame (none leaves the view across) or jolts 6 px once. Every
// particle whole in some frame that meets the line counts once, and its velocity is its
// own (a particle confused with another for a frame aside: one in 25, one in 10 at 30
// degrees or at speeds of their own).
TEST(CrossingTracks, EachParticleOnceAtItsOwnSpeedInAnyDirection)
{
    const double c30 = std::cos(CV_PI / 6.0), s30 = std::sin(CV_PI / 6.0);
    const struct {
        const char* name;
        cv::Point2d u;
        FlowDirection direction;
    } ways[] = {{"right", {1, 0}, FlowDirection::kLeftToRight},
                {"left", {-1, 0}, FlowDirection::kRightToLeft},
                {"down", {0, 1}, FlowDirection::kTopToBottom},
                {"up", {0, -1}, FlowDirection::kBottomToTop},
                {"30 degrees", {c30, s30}, FlowDirection::kLeftToRight}};
    const std::pair<const char*, RateOf> speeds[] = {{"rigid", kRigid}, {"profile", kProfile}, {"own", kOwn}};
    const std::pair<const char*, CameraOf> cameras[] = {
        {"steady", kSteady},
        {"shake", [](int t, const cv::Point2d& w) { return (t % 2 ? (t % 4 == 1 ? 4.0 : -4.0) : 0.0) * w; }},
        {"tilt", [](int t, const cv::Point2d& w) { return 1.5 * t * w; }},
        {"jolt", [](int t, const cv::Point2d& w) { return (t >= 8 ? 6.0 : 0.0) * w; }}};
    for (unsigned seed : {1u, 2u}) {
        for (const auto& way : ways) {
            for (const auto& [speedName, rate] : speeds) {
                for (const auto& [cameraName, camera] : cameras) {
                    const HandFlow flow = MakeFlow(seed, way.u, rate, camera);
                    const HandCount count = CountHandFlow(flow);
                    const std::string name = std::string(way.name) + " " + speedName + " " + cameraName + " " +
                                             std::to_string(seed);
                    // A flow at an angle to the frame's edges: particles that enter or leave
                    // through a side near the line may be missed or counted once more.
                    // Speeds of their own across a vertical flow: one in a hundred missed.
                    const bool tilted = way.u.x != 0.0 && way.u.y != 0.0;
                    const bool own = std::string(speedName) == "own";
                    const int slack = tilted ? 2 : own ? 1 : 0;
                    EXPECT_NEAR(static_cast<int>(count.records.size()), PassingDiscs(flow), slack) << name;
                    EXPECT_NEAR(count.net, PassingDiscs(flow), slack) << name;
                    EXPECT_EQ(count.direction, way.direction) << name;
                    EXPECT_EQ(count.summary.staticObjects, 0) << name;
                    // Counted right: no link that could change a count is unsure (the
                    // warning's 2 % never fires; rivals on the same side of the line no longer count).
                    EXPECT_LE(count.summary.ambiguousLinks * 100, count.summary.links) << name;
                    // Its speed along the flow over the frames that showed it whole (the
                    // camera moves it across only).
                    int off = 0;
                    for (const ParticleMeasure& r : count.records) {
                        const HandDisc& d = NearestDisc(flow, r);
                        int first = -1, last = -1;
                        for (int t = 0; t < flow.Frames(); ++t)
                            if (flow.Whole(d, t)) last = t, first = first < 0 ? t : first;
                        const double truth = d.rate * (flow.Offset(last) - flow.Offset(first)) / (last - first);
                        off += last > first && std::abs(cv::Point2d(r.vx, r.vy).dot(way.u) - truth) > 0.01 * truth;
                    }
                    EXPECT_LE(off, static_cast<int>(count.records.size()) / (tilted || own ? 10 : 25)) << name;
                }
            }
        }
    }
}

// Dirt on the window (12 spots, two of them on the counting line) under flows of every
// kind: never counted, told apart; a particle that stops for three frames and moves on
// is a particle.
TEST(CrossingTracks, DirtIsNeverCountedAStopIsNoDirt)
{
    const std::pair<const char*, RateOf> speeds[] = {{"rigid", kRigid}, {"profile", kProfile}, {"own", kOwn}};
    for (unsigned seed : {3u, 4u}) {
        for (const auto& [speedName, rate] : speeds) {
            HandFlow flow = MakeFlow(seed, {1, 0}, rate, kSteady);
            cv::RNG rng(seed);
            for (int i = 0; i < 12; ++i) {
                HandDisc dirt;
                dirt.at = {i < 2 ? 320.0 : rng.uniform(20.0, 620.0), rng.uniform(20.0, 460.0)};
                dirt.radius = rng.uniform(3.0, 7.0);
                dirt.rate = 0.0;
                flow.discs.push_back(dirt);
            }
            HandDisc stopping;
            stopping.at = {-150.0, 240.0};
            stopping.radius = 5.0;
            stopping.stopFrom = 6;
            stopping.stopFrames = 3;
            flow.discs.push_back(stopping);
            const HandCount count = CountHandFlow(flow);
            const std::string name = std::string(speedName) + " " + std::to_string(seed);
            EXPECT_EQ(static_cast<int>(count.records.size()), WholeDiscs(flow)) << name;
            EXPECT_EQ(count.summary.staticObjects, 12) << name;
            for (const ParticleMeasure& r : count.records) EXPECT_GT(NearestDisc(flow, r).rate, 0.0) << name;
        }
    }
}

// Nothing moves: nothing counted, no direction, no dirt told apart (nothing moved past it).
TEST(CrossingTracks, IdenticalFramesCountNothing)
{
    HandFlow flow = MakeFlow(5, {1, 0}, kRigid, kSteady, 10);
    std::fill(flow.shifts.begin(), flow.shifts.end(), 0.0);
    const HandCount count = CountHandFlow(flow);
    EXPECT_TRUE(count.records.empty());
    EXPECT_EQ(count.direction, FlowDirection::kUnknown);
    EXPECT_EQ(count.summary.staticObjects, 0);
    EXPECT_TRUE(count.summary.directionChanges.empty());
}

// The net crossings of a particle's whole path: +1 for frame 0 showing it past the line,
// each crossing with its sign, +1 for the last frame showing it not yet at it.
int NetTruth(const HandFlow& flow, const HandDisc& d)
{
    const cv::Point2d centre(0.5 * flow.frame.width, 0.5 * flow.frame.height);
    const cv::Rect inside(0, 0, flow.frame.width, flow.frame.height);
    const auto past = [&](int t) { return (flow.Place(d, t) - centre).dot(flow.direction) >= 0.0; };
    const auto seen = [&](int t) { return !(flow.Box(d, t) & inside).empty(); };
    const int last = flow.Frames() - 1;
    int net = past(0) && seen(0);
    for (int t = 1; t <= last; ++t) net += past(t) == past(t - 1) ? 0 : past(t) ? 1 : -1;
    return net + (!past(last) && seen(last));
}

// A flow that runs forward for nine frames and back for ten at another speed counts
// every crossing with its sign: the net count is the particles' net crossings, and the
// crossings each way add up to it. Frames repeated or out of order count each particle
// once; a jump back is a change of direction, twice.
TEST(CrossingTracks, FlowsThatRunBackNetTheirCrossings)
{
    for (unsigned seed : {6u, 7u}) {
        for (const std::pair<const char*, RateOf>& speed : {std::make_pair("rigid", kRigid), std::make_pair("own", kOwn)}) {
            HandFlow flow = MakeFlow(seed, {1, 0}, speed.second, kSteady);
            for (int t = 1; t < flow.Frames(); ++t) flow.shifts[static_cast<size_t>(t)] = t < 10 ? 100.0 : -70.0;
            int truth = 0;
            for (const HandDisc& d : flow.discs)
                if (flow.WholeSomewhere(d)) truth += NetTruth(flow, d);
            const HandCount count = CountHandFlow(flow);
            const std::string name = std::string(speed.first) + " " + std::to_string(seed);
            EXPECT_EQ(count.net, truth) << name;
            EXPECT_EQ(count.summary.crossingsForward - count.summary.crossingsBackward, truth) << name;
            EXPECT_GT(count.summary.crossingsBackward, 0) << name;
            EXPECT_EQ(count.summary.directionChanges, std::vector<int>{10}) << name;
        }
    }
    const HandFlow flow = MakeFlow(8, {1, 0}, kOwn, kSteady);
    const HandCount repeated = CountHandFlow(flow, {0, 1, 2, 3, 4, 6, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19});
    // A frame given twice stands still: a particle may lose its track there (one in 80).
    EXPECT_NEAR(static_cast<int>(repeated.records.size()), WholeDiscs(flow), 1);
    EXPECT_TRUE(repeated.summary.directionChanges.empty());
    const HandCount swapped = CountHandFlow(flow, {0, 1, 2, 3, 4, 6, 5, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19});
    EXPECT_NEAR(swapped.net, WholeDiscs(flow), 1);
    EXPECT_EQ(swapped.summary.directionChanges.size(), 2u);
}

// Particles sinking 15 px a frame across a flow of 120 px a frame: those that leave
// through the channel's side before the line never pass it and are not counted, the
// others count once.
TEST(CrossingTracks, ParticlesLeavingThroughTheSide)
{
    cv::RNG rng(9);
    HandFlow flow;
    flow.shifts.assign(20, 120.0);
    flow.shifts[0] = 0.0;
    int passing = 0;
    for (int i = 0; i < 40; ++i) {
        HandDisc d;
        // Rows 300 to 470 where it comes into view: some leave through the bottom first.
        d.at.x = rng.uniform(-1500.0, 300.0);
        d.at.y = rng.uniform(300.0, 470.0) - 15.0 * std::max(0.0, -d.at.x / 120.0);
        d.radius = rng.uniform(3.0, 6.0);
        d.drift = 15.0;
        flow.discs.push_back(d);
        bool passes = false;
        for (int t = 0; t < flow.Frames(); ++t)
            passes |= flow.Place(d, t).x >= 320.0 && !(flow.Box(d, t) & cv::Rect(0, 0, 640, 480)).empty();
        passing += passes && flow.WholeSomewhere(d);
    }
    ASSERT_GT(passing, 5);
    ASSERT_LT(passing, WholeDiscs(flow) - 5);
    // Known limit: a particle cut by the side just before the line, never seen past it,
    // is counted now and then (2 of 33 here).
    EXPECT_NEAR(static_cast<int>(CountHandFlow(flow).records.size()), passing, 2);
}
