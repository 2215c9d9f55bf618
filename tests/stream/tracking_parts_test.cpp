#include "stream_test_support.h"

#include "stream/flow_field.h"
#include "stream/particle_motion.h"
#include "stream/point_grid.h"
#include "stream/track_assignment.h"
#include "tools/flowgen/truth_blobs.h"

#include <functional>
#include <set>

// The parts of the counting line's tracker: the first guess of the common motion in two
// dimensions, the flow field across the channel, the global assignment.

namespace {

double Gain(const std::vector<LinkCandidate>& links)
{
    double gain = 0.0;
    for (const LinkCandidate& l : links) gain += 1.0 - l.cost;
    return gain;
}

// The best gain of any matching, by trying them all.
double BestGain(const std::vector<LinkCandidate>& candidates, size_t from, std::vector<char>& tracks,
                std::vector<char>& blobs)
{
    if (from == candidates.size()) return 0.0;
    double best = BestGain(candidates, from + 1, tracks, blobs);
    const LinkCandidate& c = candidates[from];
    if (!tracks[size_t(c.track)] && !blobs[size_t(c.blob)]) {
        tracks[size_t(c.track)] = blobs[size_t(c.blob)] = 1;
        best = std::max(best, 1.0 - c.cost + BestGain(candidates, from + 1, tracks, blobs));
        tracks[size_t(c.track)] = blobs[size_t(c.blob)] = 0;
    }
    return best;
}

bool OneToOne(const std::vector<LinkCandidate>& links)
{
    std::set<int> tracks, blobs;
    for (const LinkCandidate& l : links)
        if (!tracks.insert(l.track).second || !blobs.insert(l.blob).second) return false;
    return true;
}

}  // namespace

// Against every matching tried: the exact solution gains the most, each track and blob
// once, every link one of the candidates; the greedy one stays one to one.
TEST(TrackAssignment, GainsTheMostOfAnyMatching)
{
    cv::RNG rng(11);
    for (int round = 0; round < 300; ++round) {
        std::vector<LinkCandidate> candidates;
        const int tracks = rng.uniform(1, 8), blobs = rng.uniform(1, 8);
        for (int t = 0; t < tracks; ++t)
            for (int b = 0; b < blobs; ++b)
                if (rng.uniform(0.0, 1.0) < 0.35) candidates.push_back({t + 100, b + 7, rng.uniform(0.0, 0.99)});
        std::vector<char> usedT(200, 0), usedB(200, 0);
        const std::vector<LinkCandidate> links = AssignLinks(candidates);
        EXPECT_NEAR(Gain(links), BestGain(candidates, 0, usedT, usedB), 1e-9) << round;
        EXPECT_TRUE(OneToOne(links)) << round;
        for (const LinkCandidate& l : links)
            EXPECT_TRUE(std::any_of(candidates.begin(), candidates.end(), [&](const LinkCandidate& c) {
                return c.track == l.track && c.blob == l.blob && std::abs(c.cost - l.cost) < 1e-12;
            })) << round;
        EXPECT_TRUE(OneToOne(AssignLinks(candidates, 1))) << round;
    }
    // Two tracks wanting one blob: the pairing that serves both wins over the nearest first.
    const std::vector<LinkCandidate> both = AssignLinks({{0, 0, 0.1}, {0, 1, 0.5}, {1, 0, 0.5}});
    EXPECT_EQ(both.size(), 2u);
}

// The grid finds every point in a box (on cell borders, beyond the points' extent, at
// negative places), in ascending order, as looking at every point does.
TEST(PointGrid, FindsWhatLookingAtEveryPointFinds)
{
    cv::RNG rng(5);
    for (int round = 0; round < 200; ++round) {
        std::vector<cv::Point2d> points;
        for (int k = rng.uniform(0, 40); k > 0; --k)
            points.emplace_back(rng.uniform(-50, 150) * (round % 2 ? 1.0 : 0.5), rng.uniform(-20, 90));
        const PointGrid grid(points, round % 3 ? 16.0 : 7.5);
        const cv::Rect2d box(rng.uniform(-80, 160), rng.uniform(-40, 100), rng.uniform(0, 60), rng.uniform(0, 60));
        const std::vector<int> near = grid.Near(box);
        EXPECT_TRUE(std::is_sorted(near.begin(), near.end())) << round;
        EXPECT_EQ(std::set<int>(near.begin(), near.end()).size(), near.size()) << round;
        for (size_t i = 0; i < points.size(); ++i) {
            const cv::Point2d& p = points[i];
            const bool inside = p.x >= box.x && p.x <= box.x + box.width && p.y >= box.y && p.y <= box.y + box.height;
            EXPECT_TRUE(!inside || std::binary_search(near.begin(), near.end(), static_cast<int>(i))) << round << " " << i;
        }
    }
}

// A parabolic profile (30 % at the walls) and speeds of their own (70 to 130 %) sampled
// across a channel of 480 rows: the field follows the profile up to the walls and states
// the spread of the speeds; a band without samples of its own is unsure.
TEST(FlowField, FollowsProfilesUpToTheWalls)
{
    cv::RNG rng(12);
    const auto profile = [](double q) { return 0.3 + 0.7 * (1.0 - (2.0 * q / 480.0 - 1.0) * (2.0 * q / 480.0 - 1.0)); };
    FlowField laminar(480.0), own(480.0), half(480.0);
    for (int i = 0; i < 800; ++i) {
        const double q = rng.uniform(0.0, 480.0);
        laminar.Add(q, profile(q) + rng.gaussian(0.005));
        own.Add(q, rng.uniform(0.7, 1.3));
        if (q < 240.0) half.Add(q, 1.0 + rng.gaussian(0.005));
    }
    laminar.Update();
    own.Update();
    half.Update();
    for (double q : {3.0, 40.0, 120.0, 240.0, 360.0, 440.0, 477.0}) {
        EXPECT_NEAR(laminar.At(q).rate, profile(q), 0.02) << q;
        EXPECT_LT(laminar.At(q).spread, 0.04) << q;
        EXPECT_NEAR(own.At(q).rate, 1.0, 0.06) << q;
        EXPECT_GT(own.At(q).spread, 0.14) << q;
        EXPECT_LT(own.At(q).spread, 0.3) << q;
    }
    EXPECT_LT(half.At(100.0).spread, 0.03);
    EXPECT_GE(half.At(400.0).spread, 0.1);
    const FlowField empty(480.0);
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(empty.At(100.0).rate, 1.0);
    EXPECT_EQ(empty.At(100.0).spread, 0.5);
}

// The first guess without anything known: the motion of vertical flows, a profile, and a
// flow past as many spots of dirt as particles, from the particles alone; a frame
// repeated stands still.
TEST(ParticleMotion, FirstGuessInTwoDimensions)
{
    const struct {
        const char* name;
        std::function<void(flowgen::FlowSettings&)> set;
        cv::Point2d unit;  // the flow's direction
        bool exact;        // every particle moves with the shift
    } cases[] = {
        {"down", [](flowgen::FlowSettings& s) { s.direction = flowgen::Direction::kDown; }, {0, 1}, true},
        {"up", [](flowgen::FlowSettings& s) { s.direction = flowgen::Direction::kUp; }, {0, -1}, true},
        {"profile", [](flowgen::FlowSettings& s) { s.profile = flowgen::Profile::kParabolic, s.wallShare = 0.2; },
         {1, 0}, false},
        {"own speeds", [](flowgen::FlowSettings& s) { s.speedSpread = 0.3; }, {1, 0}, false},
        {"dirt", [](flowgen::FlowSettings& s) { s.staticSpots = 40; }, {1, 0}, true},
    };
    for (unsigned seed : {13u, 14u}) {
        for (const auto& c : cases) {
            flowgen::FlowSettings s = Settings(seed, flowgen::ConstantShifts(4, 130));
            s.randomPlacement = true;
            c.set(s);
            const flowgen::Flow flow = flowgen::GenerateFlow(s);
            const cv::Size size(flow.settings.width, flow.settings.height);
            for (int t = 1; t < 4; ++t) {
                const ParticleMotion m = MeasureParticleMotion(flowgen::TruthBlobs(flow, t - 1), flowgen::TruthBlobs(flow, t), size);
                ASSERT_TRUE(m.decided) << c.name << " " << seed << " " << t;
                const cv::Point2d d(m.dx, m.dy);
                EXPECT_NEAR(d.dot(c.unit), 130.0, c.exact ? 0.05 : 0.35 * 130.0) << c.name << " " << seed;
                EXPECT_NEAR(d.cross(c.unit), 0.0, c.exact ? 0.5 : 2.5) << c.name << " " << seed;
            }
            const ParticleMotion still = MeasureParticleMotion(flowgen::TruthBlobs(flow, 2), flowgen::TruthBlobs(flow, 2), size);
            EXPECT_TRUE(still.decided && still.still) << c.name;
            EXPECT_EQ(still.dx, 0.0);
        }
    }
}
