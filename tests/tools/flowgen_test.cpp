#include "tools/flowgen/flowgen.h"
#include "tools/flowgen/motion_truth.h"

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

namespace {

// FNV-1a over the frames and the truth of a flow.
struct Fnv {
    uint64_t h = 1469598103934665603ull;
    void Add(const void* data, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            h = (h ^ static_cast<const unsigned char*>(data)[i]) * 1099511628211ull;
    }
    template <class T> void Add(T value) { Add(&value, sizeof value); }
};

uint64_t FlowHash(const flowgen::FlowSettings& s)
{
    const flowgen::Flow f = flowgen::GenerateFlow(s);
    Fnv h;
    for (int t = 0; t < s.frames; ++t) {
        const cv::Mat m = flowgen::RenderFrame(f, t);
        for (int r = 0; r < m.rows; ++r) h.Add(m.ptr(r), static_cast<size_t>(m.cols));
        for (const ParticleBlob& b : flowgen::TruthBlobs(f, t)) {
            h.Add(b.area), h.Add(b.centroid.x), h.Add(b.box.x), h.Add(b.box.y), h.Add(b.box.width);
            h.Add(b.touchesBorder);
        }
    }
    for (const flowgen::Particle& p : f.particles) {
        h.Add(p.id), h.Add(p.x0), h.Add(p.y), h.Add(p.area), h.Add(p.centroid.x), h.Add(p.centroid.y), h.Add(p.grey);
        h.Add(p.touchId), h.Add(p.unionArea), h.Add(p.entryFrame), h.Add(p.entryX);
        for (int r = 0; r < p.stamp.rows; ++r) h.Add(p.stamp.ptr(r), static_cast<size_t>(p.stamp.cols));
    }
    const flowgen::TruthCounts c = flowgen::CountTruth(f, 25, 100, 1);
    h.Add(c.smaller), h.Add(c.inRange), h.Add(c.bigger);
    for (int x : f.shifts) h.Add(x);
    return h.h;
}

}  // namespace

// The flows drawn before the generator learned non-rigid motion, shapes and focus come
// out byte for byte as they did (checksums taken with the generator of that time).
TEST(FlowGenerator, EarlierSettingsDrawTheSameFlows)
{
    using flowgen::FlowSettings;
    std::vector<std::pair<FlowSettings, uint64_t>> cases;
    FlowSettings s;
    s.frames = 6;
    cases.emplace_back(s, 0xcf28416f8e7f320full);
    s.seed = 5, s.randomPlacement = true, s.density = 3.6, s.shifts = flowgen::ConstantShifts(6, 288);
    cases.emplace_back(s, 0x63fa6cd6209ac323ull);
    s = FlowSettings{};
    s.frames = 6, s.seed = 2, s.rightToLeft = true, s.randomPlacement = true;
    s.shifts = flowgen::JitteredShifts(6, 150, 0.4, 0.2, 2);
    cases.emplace_back(s, 0x7177caa9dbe29508ull);
    s = FlowSettings{};
    s.frames = 5, s.seed = 3, s.blurSigma = 1.3, s.noise = 4, s.gradient = 0.5, s.gradientAngleDeg = 200;
    s.keepApartForShift = false, s.shifts = flowgen::RandomShifts(5, 0, 280, 0.3, 3);
    cases.emplace_back(s, 0xc2f6aded828764b0ull);
    s = FlowSettings{};
    s.frames = 5, s.seed = 4, s.width = 333, s.height = 500, s.radiusMin = 1.5, s.radiusMax = 4;
    s.ellipseShare = 1, s.touchingShare = 0.2, s.shifts = flowgen::PatternShifts(5, {100, 0, 120});
    cases.emplace_back(s, 0x348ddf29889b3b14ull);
    for (size_t k = 0; k < cases.size(); ++k)
        EXPECT_EQ(FlowHash(cases[k].first), cases[k].second) << "case " << k;
}

namespace {

struct DarkRegion {
    int area = 0;
    cv::Rect box;
    cv::Point2d centroid;
};

// The 8-connected regions darker than the background of a sharp, noise-free frame.
std::vector<DarkRegion> DarkRegions(const cv::Mat& frame, int background)
{
    cv::Mat labels, stats, centroids;
    const int n = cv::connectedComponentsWithStats(frame < background, labels, stats, centroids, 8);
    std::vector<DarkRegion> regions;
    for (int i = 1; i < n; ++i)
        regions.push_back({stats.at<int>(i, cv::CC_STAT_AREA),
                           cv::Rect(stats.at<int>(i, cv::CC_STAT_LEFT), stats.at<int>(i, cv::CC_STAT_TOP),
                                    stats.at<int>(i, cv::CC_STAT_WIDTH), stats.at<int>(i, cv::CC_STAT_HEIGHT)),
                           cv::Point2d(centroids.at<double>(i, 0), centroids.at<double>(i, 1))});
    return regions;
}

using Setter = void (*)(flowgen::FlowSettings&);

const std::vector<std::pair<const char*, Setter>>& MotionCases()
{
    static const std::vector<std::pair<const char*, Setter>> cases{
        {"profile", [](flowgen::FlowSettings& s) { s.profile = flowgen::Profile::kParabolic, s.wallShare = 0.3; }},
        {"own speeds", [](flowgen::FlowSettings& s) { s.speedSpread = 0.3; }},
        {"shear, left", [](flowgen::FlowSettings& s) { s.profile = flowgen::Profile::kLinear, s.wallShare = 0.5;
                                                       s.direction = flowgen::Direction::kLeft; }},
        {"down, profile", [](flowgen::FlowSettings& s) { s.direction = flowgen::Direction::kDown;
                                                         s.profile = flowgen::Profile::kParabolic, s.wallShare = 0.4; }},
        {"up, own speeds", [](flowgen::FlowSettings& s) { s.direction = flowgen::Direction::kUp, s.speedSpread = 0.2; }},
        {"shake", [](flowgen::FlowSettings& s) { s.shake = 3; }},
        {"tilt", [](flowgen::FlowSettings& s) { s.tilt = -2.5; }},
        {"jolt", [](flowgen::FlowSettings& s) { s.joltFrame = 3, s.jolt = 4; }},
        {"reversal", [](flowgen::FlowSettings& s) { s.shifts = flowgen::PatternShifts(s.frames, {130, -90}); }},
    };
    return cases;
}

}  // namespace

// Whatever the motion, the truth of a frame is what it shows: as many dark regions as
// merged truth blobs, each with the pixels, box and centroid of its blob. (Along the
// frame's edge a region may be joined by pixels outside the frame only.)
TEST(FlowGenerator, TruthBlobsAreWhatMovingFramesShow)
{
    for (const auto& [name, set] : MotionCases()) {
        flowgen::FlowSettings s = Random(11);
        s.frames = 6;
        s.density = 2.5;
        s.shifts = flowgen::ConstantShifts(s.frames, 130);
        set(s);
        const flowgen::Flow flow = flowgen::GenerateFlow(s);
        for (int t = 0; t < s.frames; ++t) {
            const cv::Rect inner(1, 1, s.width - 2, s.height - 2);
            std::vector<DarkRegion> regions = DarkRegions(flowgen::RenderFrame(flow, t), s.background);
            regions.erase(std::remove_if(regions.begin(), regions.end(),
                                         [&](const DarkRegion& r) { return (r.box & inner) != r.box; }),
                          regions.end());
            ParticleBlobs blobs = flowgen::TruthBlobs(flow, t);
            blobs.erase(std::remove_if(blobs.begin(), blobs.end(), [](const ParticleBlob& b) { return b.touchesBorder; }),
                        blobs.end());
            ASSERT_EQ(regions.size(), blobs.size()) << name << ", frame " << t;
            int matched = 0;
            for (const ParticleBlob& b : blobs)
                for (const DarkRegion& r : regions)
                    if (r.box == b.box) {
                        matched += r.area == b.maskArea && cv::norm(r.centroid - b.centroid) < 1e-6;
                        break;
                    }
            EXPECT_EQ(matched, static_cast<int>(blobs.size())) << name << ", frame " << t;
        }
    }
}

// A vertical flow is the horizontal flow of the turned frame, motion, shapes and truth
// included: down is its transpose, up the transpose turned upside down.
TEST(FlowGenerator, VerticalFlowsAreTheTurnedHorizontalFlow)
{
    flowgen::FlowSettings s = Random(4);
    s.frames = 5;
    s.profile = flowgen::Profile::kParabolic, s.wallShare = 0.4, s.speedSpread = 0.2, s.shake = 2;
    s.polygonShare = 0.3, s.fibreShare = 0.2, s.hollowShare = 0.1, s.turnMaxDeg = 20, s.defocusMax = 2;
    const flowgen::Flow right = flowgen::GenerateFlow(s);
    std::swap(s.width, s.height);
    for (flowgen::Direction d : {flowgen::Direction::kDown, flowgen::Direction::kUp}) {
        s.direction = d;
        const bool up = d == flowgen::Direction::kUp;
        const flowgen::Flow turned = flowgen::GenerateFlow(s);
        ASSERT_EQ(turned.particles.size(), right.particles.size());
        for (int t = 0; t < s.frames; ++t) {
            cv::Mat expected;
            cv::transpose(flowgen::RenderFrame(right, t), expected);
            if (up)
                cv::flip(expected, expected, 0);
            EXPECT_EQ(cv::norm(expected, flowgen::RenderFrame(turned, t), cv::NORM_INF), 0.0) << up << ", " << t;
            for (size_t i = 0; i < right.particles.size(); i += 7) {
                const cv::Point2d h = flowgen::ViewInFrame(right, right.particles[i], t).centroid;
                const cv::Point2d v = flowgen::ViewInFrame(turned, turned.particles[i], t).centroid;
                EXPECT_NEAR(v.x, h.y, 1e-9);
                EXPECT_NEAR(v.y, up ? s.height - 1 - h.x : h.x, 1e-9);
            }
        }
        const std::vector<flowgen::VelocityBand> a = flowgen::TruthVelocityProfile(right);
        const std::vector<flowgen::VelocityBand> b = flowgen::TruthVelocityProfile(turned);
        for (size_t k = 0; k < a.size(); ++k) {
            EXPECT_EQ(a[k].count, b[k].count) << k;
            EXPECT_DOUBLE_EQ(a[k].meanSpeed, b[k].meanSpeed) << k;
        }
    }
}

// A parabolic profile: the truth's bands are symmetric about the channel's centre, slowest
// at the walls (between the wall share and the speed a tenth of the channel in) and
// fastest in the middle; each particle's own spread stays within its range.
TEST(FlowGenerator, VelocityProfileTruthHasTheProfilesShape)
{
    flowgen::FlowSettings s = Random(8);
    s.frames = 60;
    s.density = 2.0;
    s.shifts = flowgen::ConstantShifts(s.frames, 120);
    s.profile = flowgen::Profile::kParabolic, s.wallShare = 0.3;
    const std::vector<flowgen::VelocityBand> bands = flowgen::TruthVelocityProfile(flowgen::GenerateFlow(s));
    ASSERT_EQ(bands.size(), 10u);
    EXPECT_EQ(bands[9].to, s.height);
    for (size_t k = 0; k < 5; ++k) {
        EXPECT_GT(bands[k].count, 20) << k;  // fewer at the walls: slower, fewer pass
        EXPECT_NEAR(bands[k].meanSpeed, bands[9 - k].meanSpeed, 0.04 * bands[k].meanSpeed) << k;
        if (k > 0) {
            EXPECT_GT(bands[k].meanSpeed, bands[k - 1].meanSpeed) << k;
        }
    }
    EXPECT_GT(bands[0].meanSpeed, 120 * 0.3);
    EXPECT_LT(bands[0].meanSpeed, 120 * (0.3 + 0.7 * (1 - 0.8 * 0.8)));
    EXPECT_GT(bands[4].meanSpeed, 120 * 0.95);

    s.speedSpread = 0.25;
    double low = 2, high = 0;
    for (const flowgen::Particle& p : flowgen::GenerateFlow(s).particles) {
        const double own = p.speedFactor / flowgen::ProfileFactor(s, p.across);
        low = std::min(low, own), high = std::max(high, own);
    }
    EXPECT_GE(low, 0.75);
    EXPECT_LT(low, 0.77);
    EXPECT_LE(high, 1.25);
    EXPECT_GT(high, 1.23);
}

// Spots stay put and are no truth; the flicker multiplies the frame by its gain.
TEST(FlowGenerator, SpotsAndFlickerLeaveTheParticlesAlone)
{
    flowgen::FlowSettings s = Random(5);
    const flowgen::Flow plain = flowgen::GenerateFlow(s);
    s.staticSpots = 12;
    const flowgen::Flow spotted = flowgen::GenerateFlow(s);
    s.flicker = 0.15;
    const flowgen::Flow flickering = flowgen::GenerateFlow(s);
    ASSERT_EQ(spotted.spots.size(), 12u);
    EXPECT_EQ(flowgen::CountTruth(spotted, 25, 100).inRange, flowgen::CountTruth(plain, 25, 100).inRange);
    cv::Mat spotMask = cv::Mat::zeros(s.height, s.width, CV_8UC1);
    for (const flowgen::Spot& spot : spotted.spots)
        flowgen::DrawStamp(spotMask, spot.stamp, spot.centre.x, spot.centre.y, 255);
    double lowGain = 2, highGain = 0;
    for (int t = 0; t < s.frames; ++t) {
        const cv::Mat a = flowgen::RenderFrame(plain, t), b = flowgen::RenderFrame(spotted, t);
        EXPECT_EQ(cv::countNonZero((a != b) & ~spotMask), 0) << t;
        EXPECT_GT(cv::countNonZero(b < a), 100) << t;
        const double gain = flickering.gains[static_cast<size_t>(t)];
        lowGain = std::min(lowGain, gain), highGain = std::max(highGain, gain);
        cv::Mat expected, c;
        b.convertTo(expected, CV_64F, gain);
        flowgen::RenderFrame(flickering, t).convertTo(c, CV_64F);
        EXPECT_LE(cv::norm(expected, c, cv::NORM_INF), 0.5 + 1e-3) << t;
    }
    EXPECT_GE(lowGain, 0.85);
    EXPECT_LE(highGain, 1.15);
    EXPECT_GT(highGain - lowGain, 0.05);
}

// A flow that never runs back nets one count per particle (the net-crossing truth is
// CountTruth's); one that goes and comes back to where it began nets the particles of
// frame 0 alone, with as many crossings each way.
TEST(FlowGenerator, NetCrossingsOfOneWayAndReturningFlows)
{
    for (const auto& [name, set] : MotionCases()) {
        if (std::string(name) == "reversal")
            continue;
        flowgen::FlowSettings s = Random(12);
        s.frames = 8;
        s.shifts = flowgen::JitteredShifts(s.frames, 140, 0.4, 0.2, 12);
        set(s);
        const flowgen::Flow flow = flowgen::GenerateFlow(s);
        const flowgen::TruthCounts once = flowgen::CountTruth(flow, 25, 100, 1);
        const flowgen::CrossingTruth net = flowgen::NetCrossingTruth(flow, 25, 100, 1);
        EXPECT_EQ(net.net.smaller, once.smaller) << name;
        EXPECT_EQ(net.net.inRange, once.inRange) << name;
        EXPECT_EQ(net.net.bigger, once.bigger) << name;
        EXPECT_EQ(net.backward, 0) << name;
    }
    flowgen::FlowSettings s = Random(13);
    s.frames = 7;
    s.profile = flowgen::Profile::kParabolic, s.wallShare = 0.5;
    s.shifts = {0, 100, 100, 100, -100, -100, -100};
    const flowgen::Flow flow = flowgen::GenerateFlow(s);
    const flowgen::CrossingTruth net = flowgen::NetCrossingTruth(flow, 25, 100);
    int inFrame0 = 0;
    for (const flowgen::Particle& p : flow.particles)
        inFrame0 += flowgen::WhollyInsideSomeFrame(flow, p) &&
                    !(flowgen::ViewInFrame(flow, p, 0).box & cv::Rect(0, 0, s.width, s.height)).empty();
    EXPECT_EQ(net.net.smaller + net.net.inRange + net.net.bigger, inFrame0);
    EXPECT_EQ(net.forward, net.backward);
    EXPECT_GT(net.forward, 20);
}

// Pixel shares are the exact covered areas: a unit square half a pixel off covers two
// pixels by halves; a square of side 3 turned by 45 degrees covers 9 in all; calipers of
// shapes whose answer is plain.
TEST(FlowGenerator, CoverageAndCalipersOfPlainShapes)
{
    const cv::Mat half = flowgen::CoverageStamp({{0, -0.5}, {1, -0.5}, {1, 0.5}, {0, 0.5}}, 2);
    EXPECT_FLOAT_EQ(half.at<float>(2, 2), 0.5f);
    EXPECT_FLOAT_EQ(half.at<float>(2, 3), 0.5f);
    EXPECT_FLOAT_EQ(static_cast<float>(cv::sum(half)[0]), 1.0f);
    const double r = 1.5 * std::sqrt(2.0);
    const std::vector<cv::Point2d> diamond{{r, 0.2}, {0, r + 0.2}, {-r, 0.2}, {0, -r + 0.2}};
    EXPECT_NEAR(cv::sum(flowgen::CoverageStamp(diamond, 4))[0], 9.0, 1e-4);
    EXPECT_NEAR(flowgen::PolygonArea(diamond), 9.0, 1e-12);

    struct Case {
        std::vector<cv::Point2d> polygon;
        double longest, shortest, solidity;
    };
    const std::vector<Case> cases{
        {{{0, 0}, {3, 0}, {3, 1}, {0, 1}}, std::sqrt(10.0), 1.0, 1.0},
        {{{1, 0}, {0.5, 0.866025403784}, {-0.5, 0.866025403784}, {-1, 0}, {-0.5, -0.866025403784}, {0.5, -0.866025403784}},
         2.0, std::sqrt(3.0), 1.0},
        {{{0, 0}, {4, 0}, {4, 4}, {2, 1}, {0, 4}}, std::sqrt(32.0), 4.0, 10.0 / 16.0},  // a dent
    };
    for (const Case& c : cases) {
        double longest = 0, shortest = 0;
        flowgen::FeretDiameters(c.polygon, longest, shortest);
        EXPECT_NEAR(longest, c.longest, 1e-9);
        EXPECT_NEAR(shortest, c.shortest, 1e-9);
        EXPECT_NEAR(flowgen::Solidity(c.polygon), c.solidity, 1e-9);
    }
}

namespace {

// Summed darkness relative to the background around each lone whole particle of frame t
// (noise-free frames), beside the particle.
std::vector<std::pair<double, const flowgen::Particle*>> LoneDarkness(const flowgen::Flow& flow, int t)
{
    const flowgen::FlowSettings& s = flow.settings;
    cv::Mat frame;
    flowgen::RenderFrame(flow, t).convertTo(frame, CV_64F);
    std::vector<std::pair<double, const flowgen::Particle*>> lone;
    std::vector<flowgen::ParticleView> views;
    for (const flowgen::Particle& p : flow.particles)
        views.push_back(flowgen::ViewInFrame(flow, p, t));
    for (size_t i = 0; i < views.size(); ++i) {
        const cv::Rect around = flowgen::ViewInFrame(flow, flow.particles[i], t).box;
        const cv::Rect halo(around.x - 12, around.y - 12, around.width + 24, around.height + 24);
        if ((halo & cv::Rect(0, 0, s.width, s.height)) != halo)
            continue;
        int near = 0;
        for (const flowgen::ParticleView& v : views)
            near += !(v.box & cv::Rect(halo.x - 12, halo.y - 12, halo.width + 24, halo.height + 24)).empty();
        for (const flowgen::Spot& spot : flow.spots)
            near += halo.contains(spot.centre);
        if (near == 1)
            lone.emplace_back(cv::sum(s.background - frame(halo))[0] / (s.background - flow.particles[i].grey),
                              &flow.particles[i]);
    }
    return lone;
}

}  // namespace

// Shapes drawn by pixel shares darken a frame by exactly their outline's area times
// their contrast (8-bit rounding aside), in every pose and under their own defocus; a
// hollow particle by its ring and the shaded centre, while its truth is the whole disc.
TEST(FlowGenerator, ShapesDarkenByTheirTrueArea)
{
    using Setter = void (*)(flowgen::FlowSettings&);
    const std::vector<std::pair<const char*, Setter>> cases{
        {"polygons", [](flowgen::FlowSettings& s) { s.polygonShare = 1; }},
        {"turning polygons", [](flowgen::FlowSettings& s) { s.polygonShare = 1, s.turnMaxDeg = 25; }},
        {"fibres, defocus", [](flowgen::FlowSettings& s) { s.fibreShare = 1, s.turnMaxDeg = 10, s.defocusMax = 2.5; }},
        {"discs, defocus", [](flowgen::FlowSettings& s) { s.defocusMin = 1, s.defocusMax = 2.5; }},
        {"hollow", [](flowgen::FlowSettings& s) { s.hollowShare = 1, s.centreMin = -0.3, s.centreMax = 0.5; }},
    };
    for (const auto& [name, set] : cases) {
        flowgen::FlowSettings s;
        s.frames = 4, s.noise = 0, s.density = 1.0, s.keepApartForShift = false, s.seed = 21;
        s.shifts = flowgen::ConstantShifts(s.frames, 110);
        set(s);
        const flowgen::Flow flow = flowgen::GenerateFlow(s);
        int checked = 0, poseChanges = 0;
        for (int t = 0; t < s.frames; ++t)
            for (const auto& [darkness, p] : LoneDarkness(flow, t)) {
                const double contrast = s.background - p->grey;
                const double rounding = 0.5 * flowgen::ViewInFrame(flow, *p, t).stamp.total() / contrast;
                if (p->shape != flowgen::Shape::kHollow) {
                    EXPECT_NEAR(darkness, p->trueArea, std::min(rounding, 0.02 * p->trueArea + 0.5)) << name;
                } else {
                    const double rim = p->ringWidth * (2 * std::sqrt(p->trueArea / CV_PI) - p->ringWidth) * CV_PI;
                    EXPECT_NEAR(darkness, rim + p->centreShare * (p->trueArea - rim), 0.03 * p->trueArea) << name;
                }
                const ParticleBlobs blobs = flowgen::TruthBlobs(flow, t, flowgen::TruthSplit::kPerParticle);
                for (const ParticleBlob& b : blobs) {
                    if (cv::norm(b.centroid - flowgen::ViewInFrame(flow, *p, t).centroid) < 1e-6) {
                        EXPECT_NEAR(b.area, p->trueArea, 1e-3) << name;
                    }
                }
                poseChanges += flowgen::ViewInFrame(flow, *p, t).area != p->area;
                ++checked;
            }
        EXPECT_GT(checked, 40) << name;
        if (std::string(name).find("turning") != std::string::npos) {
            EXPECT_GT(poseChanges, 5) << name << ": turning changes the pixels a stamp holds";
        }
    }
}

// A turning particle is one and the same drawing to every view of the truth: the regions
// of a frame (GroupsInFrame) are the merged truth blobs, pixel for pixel.
TEST(FlowGenerator, TurningParticlesShowTheSameInEveryTruth)
{
    flowgen::FlowSettings s = Random(9);
    s.polygonShare = 0.5, s.fibreShare = 0.5, s.turnMaxDeg = 30, s.density = 3.0;
    s.shifts = flowgen::ConstantShifts(s.frames, 140);
    const flowgen::Flow flow = flowgen::GenerateFlow(s);
    for (int t = 0; t < s.frames; ++t) {
        const ParticleBlobs blobs = flowgen::TruthBlobs(flow, t);
        const std::vector<flowgen::VisibleGroup> groups = flowgen::GroupsInFrame(flow, t);
        ASSERT_EQ(blobs.size(), groups.size()) << t;
        int inner = 0, same = 0;
        for (const flowgen::VisibleGroup& g : groups) {
            if (!g.fullyInside)
                continue;  // cut by the frame's edge: the visible part's box may be smaller
            ++inner;
            for (const ParticleBlob& b : blobs)
                same += g.box == b.box && g.visibleArea == b.maskArea;
        }
        EXPECT_EQ(same, inner) << t;
    }
}
