#include "tools/flowgen/flowgen.h"

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

namespace {

flowgen::FlowSettings Random(unsigned seed)
{
    flowgen::FlowSettings s;
    s.seed = seed;
    s.frames = 4;
    s.noise = 0.0;
    s.density = 4.0;
    s.randomPlacement = true;
    s.shifts = flowgen::ConstantShifts(s.frames, 290);
    return s;
}

}  // namespace

// Randomly placed particles overlap; the truth's regions are what the frame shows: as
// many 8-connected dark regions, as many dark pixels, and the darker grey on top.
TEST(FlowGenerator, RandomPlacementRegionsAreTheDrawnRegions)
{
    for (unsigned seed : {1u, 2u}) {
        const flowgen::Flow flow = flowgen::GenerateFlow(Random(seed));
        int overlapping = 0;
        for (const flowgen::Particle& p : flow.particles)
            overlapping += p.touchId >= 0 && p.unionArea < p.area + flow.particles[size_t(p.touchId)].area;
        EXPECT_GT(overlapping, 0) << "some regions are smaller than the sum of their particles";
        for (int t = 0; t < 4; ++t) {
            const cv::Mat frame = flowgen::RenderFrame(flow, t);
            cv::Mat labels;
            const int regions = cv::connectedComponents(frame < 200, labels, 8) - 1;
            int visible = 0;
            for (const flowgen::VisibleGroup& g : flowgen::GroupsInFrame(flow, t)) visible += g.visibleArea;
            EXPECT_EQ(regions, static_cast<int>(flowgen::GroupsInFrame(flow, t).size())) << seed << ", " << t;
            EXPECT_EQ(cv::countNonZero(frame < 200), visible) << seed << ", " << t;
        }
    }
}

// Blur and a multiplicative gradient keep a particle's darkness relative to its
// background: summed over the particle's surroundings it is (background - grey) x area.
TEST(FlowGenerator, BlurAndGradientKeepSummedRelativeDarkness)
{
    flowgen::FlowSettings s;
    s.frames = 2;
    s.noise = 0.0;
    s.blurSigma = 1.5;
    s.gradient = 0.5;
    s.gradientAngleDeg = 60.0;
    const flowgen::Flow flow = flowgen::GenerateFlow(s);
    cv::Mat frame, background;
    flowgen::RenderFrame(flow, 1).convertTo(frame, CV_64F);
    flowgen::FlowSettings empty = s;
    empty.density = 0.0;
    flowgen::RenderFrame(flowgen::GenerateFlow(empty), 1).convertTo(background, CV_64F);
    int checked = 0;
    const std::vector<flowgen::VisibleGroup> groups = flowgen::GroupsInFrame(flow, 1);
    for (const flowgen::VisibleGroup& g : groups) {
        const cv::Rect around(g.box.x - 8, g.box.y - 8, g.box.width + 16, g.box.height + 16);
        int near = 0;
        const cv::Rect halo(around.x - 7, around.y - 7, around.width + 14, around.height + 14);  // of blur 1.5
        for (const flowgen::VisibleGroup& other : groups) near += !(other.box & halo).empty();
        if (g.ids.size() != 1 || near > 1 || (around & cv::Rect(0, 0, s.width, s.height)) != around) continue;
        const flowgen::Particle& p = flow.particles[static_cast<size_t>(g.ids[0])];
        const cv::Mat relative = 1.0 - frame(around) / background(around);
        const double expected = (1.0 - p.grey / 200.0) * p.area;
        EXPECT_NEAR(cv::sum(relative)[0], expected, 0.02 * expected + 0.6) << p.id;  // 8-bit rounding
        ++checked;
    }
    EXPECT_GT(checked, 20);
}

// Right to left is the mirror image of left to right, truth included.
TEST(FlowGenerator, LeftwardFlowIsTheMirroredFlow)
{
    flowgen::FlowSettings s = Random(3);  // without noise, which is not mirrored
    s.shifts = flowgen::JitteredShifts(s.frames, 120, 0.4, 0.2, 3);
    const flowgen::Flow right = flowgen::GenerateFlow(s);
    s.rightToLeft = true;
    const flowgen::Flow left = flowgen::GenerateFlow(s);
    for (int t = 0; t < s.frames; ++t) {
        cv::Mat mirrored;
        cv::flip(flowgen::RenderFrame(right, t), mirrored, 1);
        EXPECT_EQ(cv::norm(mirrored, flowgen::RenderFrame(left, t), cv::NORM_INF), 0.0) << t;
        EXPECT_EQ(left.offsets[size_t(t)], -right.offsets[size_t(t)]);
    }
    ASSERT_EQ(left.particles.size(), right.particles.size());
    for (size_t i = 0; i < left.particles.size(); ++i) {
        EXPECT_EQ(left.particles[i].x0, s.width - 1 - right.particles[i].x0);
        EXPECT_EQ(left.particles[i].entryFrame, right.particles[i].entryFrame);
    }
}

// Jittered shifts stay within the jitter, and a share of the frames stands still.
TEST(FlowGenerator, JitteredShiftsStayWithinTheJitter)
{
    const std::vector<int> shifts = flowgen::JitteredShifts(2001, 200, 0.4, 0.1, 7);
    int still = 0, low = 200, high = 200;
    for (size_t t = 1; t < shifts.size(); ++t) {
        still += shifts[t] == 0;
        if (shifts[t] != 0) low = std::min(low, shifts[t]), high = std::max(high, shifts[t]);
    }
    EXPECT_EQ(shifts[0], 0);
    EXPECT_NEAR(still, 200, 45);
    EXPECT_GE(low, 120);
    EXPECT_LT(low, 125);
    EXPECT_LE(high, 280);
    EXPECT_GT(high, 275);
}
