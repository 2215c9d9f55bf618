#include "stream_test_support.h"

#include "stream/blob_detection.h"
#include "stream/crossing_counter.h"
#include "stream/particle_motion.h"
#include "tools/flowgen/truth_blobs.h"

#include <opencv2/imgproc.hpp>

#include <functional>

namespace {

using Detector = std::function<ParticleBlobs(const flowgen::Flow&, int)>;

ParticleBlobs Merged(const flowgen::Flow& flow, int t)
{
    return flowgen::TruthBlobs(flow, t, flowgen::TruthSplit::kMerged);
}

struct CountRun {
    std::vector<ParticleMeasure> records;
    std::vector<FrameMotion> motions;
    int unmeasured = 0;
    FlowDirection direction = FlowDirection::kUnknown;
    flowgen::TruthCounts counts;
};

CountRun Count(const flowgen::Flow& flow, const Detector& detect = Merged)
{
    CrossingSettings settings;
    settings.frameWidth = flow.settings.width;
    settings.frameHeight = flow.settings.height;
    CrossingCounter counter(settings);
    CountRun run;
    for (int t = 0; t < static_cast<int>(flow.shifts.size()); ++t) {
        const std::vector<ParticleMeasure> r = counter.AddFrame(t, detect(flow, t));
        run.records.insert(run.records.end(), r.begin(), r.end());
    }
    const std::vector<ParticleMeasure> r = counter.Finish();
    run.records.insert(run.records.end(), r.begin(), r.end());
    for (const ParticleMeasure& m : run.records)
        ++(m.area < 25 ? run.counts.smaller : m.area > 100 ? run.counts.bigger : run.counts.inRange);
    run.motions = counter.Motions();
    run.unmeasured = counter.UnmeasuredMotions();
    run.direction = counter.Direction();
    return run;
}

// A hand-made blob: a 7 x 7 box around its centroid, ratio area / 100.
ParticleBlob Blob(double x, double y, double area, bool cut = false)
{
    ParticleBlob b;
    b.centroid = {x, y};
    b.area = area;
    b.box = cv::Rect(static_cast<int>(x) - 3, static_cast<int>(y) - 3, 7, 7);
    b.touchesBorder = cut;
    b.ratio = area / 100.0;
    return b;
}

}  // namespace

// Without touching particles, every particle whole (and off the edge) in some frame is
// counted once, in its class, whatever the motion: steady, jittering with still
// frames, right to left, nearly half the frame, larger than the frame (nothing overlaps).
TEST(CrossingCounter, CountsEveryWholeParticleOnceOnSeparatedFlows)
{
    const struct {
        const char* name;
        std::function<void(flowgen::FlowSettings&)> set;
        FlowDirection direction;
        int unmeasured;
    } cases[] = {
        {"steady", [](flowgen::FlowSettings&) {}, FlowDirection::kLeftToRight, 0},
        {"jitter",
         [](flowgen::FlowSettings& s) { s.shifts = flowgen::JitteredShifts(s.frames, 150, 0.4, 0.2, s.seed); },
         FlowDirection::kLeftToRight, 0},
        {"leftward", [](flowgen::FlowSettings& s) { s.rightToLeft = true; }, FlowDirection::kRightToLeft, 0},
        {"0.45 W", [](flowgen::FlowSettings& s) { s.shifts = flowgen::ConstantShifts(s.frames, 288); },
         FlowDirection::kLeftToRight, 0},
        {"beyond", [](flowgen::FlowSettings& s) { s.shifts = flowgen::ConstantShifts(s.frames, 700); },
         FlowDirection::kUnknown, 11},
    };
    for (unsigned seed : {1u, 2u}) {
        for (const auto& c : cases) {
            flowgen::FlowSettings s = Settings(seed, flowgen::ConstantShifts(12, 130));
            s.touchingShare = 0.0;
            s.keepApartForShift = false;
            c.set(s);
            const flowgen::Flow flow = flowgen::GenerateFlow(s);
            const flowgen::TruthCounts truth = flowgen::CountTruth(flow, 25, 100, 1);
            const CountRun run = Count(flow);
            EXPECT_EQ(run.counts.smaller, truth.smaller) << c.name << " " << seed;
            EXPECT_EQ(run.counts.inRange, truth.inRange) << c.name << " " << seed;
            EXPECT_EQ(run.counts.bigger, truth.bigger) << c.name << " " << seed;
            EXPECT_EQ(run.direction, c.direction) << c.name;
            EXPECT_EQ(run.unmeasured, c.unmeasured) << c.name;
        }
    }
}

// The vote finds every shift exactly on dense, overlapping flows: 0 to 0.45 of the
// width, 40 % jitter with still frames, blur, noise and a gradient in the detection's
// areas do not matter to it; the sign is the direction.
TEST(ParticleMotion, ExactOnDenseOverlappingFlows)
{
    int frames = 0;
    for (unsigned seed : {3u, 4u, 5u}) {
        for (int shift : {0, 60, 160, 288}) {
            flowgen::FlowSettings s = Settings(seed, flowgen::JitteredShifts(8, shift, 0.4, 0.2, seed));
            s.randomPlacement = true;
            s.density = 3.6;
            s.rightToLeft = shift == 160;
            const flowgen::Flow flow = flowgen::GenerateFlow(s);
            for (int t = 1; t < s.frames; ++t, ++frames) {
                const ParticleMotion m = MeasureParticleMotion(Merged(flow, t - 1), Merged(flow, t), {s.width, s.height});
                EXPECT_TRUE(m.decided) << seed << " " << shift << " " << t;
                EXPECT_NEAR(m.dx, flow.shifts[size_t(t)], 0.05) << seed << " " << shift << " " << t;
                EXPECT_NEAR(m.dy, 0.0, 0.05);
            }
        }
    }
    EXPECT_EQ(frames, 84);
}

// Hand-made: three particles moved by -37.5 columns and 0.5 rows, a fourth only in the
// later frame, one cut by the edge that does not vote; nothing in common; nothing at all.
TEST(ParticleMotion, HandMadeCases)
{
    const ParticleBlobs before{Blob(100, 50, 30), Blob(200, 120, 80), Blob(300, 200, 50), Blob(2, 300, 40, true)};
    const ParticleBlobs after{Blob(62.5, 50.5, 31), Blob(162.5, 120.5, 78), Blob(262.5, 200.5, 52), Blob(400, 50, 30),
                              Blob(200, 300, 40, true)};
    const ParticleMotion m = MeasureParticleMotion(before, after, {640, 480});
    EXPECT_TRUE(m.decided);
    EXPECT_DOUBLE_EQ(m.dx, -37.5);
    EXPECT_DOUBLE_EQ(m.dy, 0.5);
    EXPECT_EQ(m.support, 3);
    EXPECT_FALSE(MeasureParticleMotion(before, {Blob(100, 400, 30), Blob(300, 20, 300)}, {640, 480}).decided);
    EXPECT_FALSE(MeasureParticleMotion({}, after, {640, 480}).decided);
}

// Three particles moving 100 columns a frame: each counted where it crosses the middle,
// sized by the median of its whole observations (a cut one and an outlier left aside);
// a frame without particles takes its neighbours' motion, a frame left out is spanned.
// No particles: no records, every motion unmeasured. One frame: its whole particles.
TEST(CrossingCounter, RecordsMotionsAndFaults)
{
    CrossingSettings settings;
    settings.frameWidth = 640;
    settings.frameHeight = 480;
    const auto frame = [&](int t, double area, bool cut = false) {
        return ParticleBlobs{Blob(1 + 100 * t, 240, area, cut), Blob(20 + 100 * t, 100, 50),
                             Blob(60 + 100 * t, 400, 70)};
    };
    const std::vector<ParticleBlobs> frames{frame(0, 12, true), frame(1, 30), {},
                                            frame(3, 30),       frame(4, 99), frame(5, 29)};
    CrossingCounter counter(settings);
    std::vector<ParticleMeasure> records;
    for (int t = 0; t < 6; ++t)
        for (const ParticleMeasure& r : counter.AddFrame(t, frames[size_t(t)])) records.push_back(r);
    for (const ParticleMeasure& r : counter.Finish()) records.push_back(r);
    ASSERT_EQ(records.size(), 3u);
    for (const ParticleMeasure& r : records) EXPECT_EQ(r.frame, r.y == 240 ? 4 : 3);  // first frame past x = 320
    const ParticleMeasure& moving = records[0].y == 240 ? records[0] : records[1].y == 240 ? records[1] : records[2];
    EXPECT_EQ(moving.x, 401);
    EXPECT_EQ(moving.area, 30);  // median of 30, 30, 99, 29
    EXPECT_DOUBLE_EQ(moving.ratio, 0.30);
    EXPECT_TRUE(moving.inRange);
    // Two whole pairs and a cut one are too few to tell frame 1's motion from chance: it
    // is taken from its neighbours, as the empty frame 2's.
    EXPECT_EQ(counter.UnmeasuredMotions(), 2);
    EXPECT_EQ(counter.Motions()[1].source, MotionSource::kFromNeighbours);
    EXPECT_DOUBLE_EQ(counter.Motions()[1].dx, 100.0);
    EXPECT_EQ(counter.Motions()[2].source, MotionSource::kFromNeighbours);
    EXPECT_DOUBLE_EQ(counter.Motions()[2].dx, 100.0);
    EXPECT_DOUBLE_EQ(counter.Motions()[3].dx, 100.0);

    // Frame 2 left out (unreadable): frame 3 moved 200 since frame 1, measured.
    CrossingCounter skipping(settings);
    size_t counted = 0;
    for (int t : {0, 1, 3, 4, 5}) counted += skipping.AddFrame(t, frame(t, 30)).size();
    counted += skipping.Finish().size();
    EXPECT_EQ(counted, 3u);
    EXPECT_EQ(skipping.Motions()[2].frame, 3);
    EXPECT_DOUBLE_EQ(skipping.Motions()[2].dx, 200.0);
    EXPECT_EQ(skipping.UnmeasuredMotions(), 0);

    CrossingCounter empty(settings);
    for (int t = 0; t < 4; ++t) EXPECT_TRUE(empty.AddFrame(t, {}).empty());
    EXPECT_TRUE(empty.Finish().empty());
    EXPECT_EQ(empty.UnmeasuredMotions(), 3);

    CrossingCounter single(settings);
    EXPECT_TRUE(single.AddFrame(0, {Blob(100, 240, 40), Blob(637, 240, 40, true), Blob(300, 100, 50)}).empty());
    EXPECT_EQ(single.Finish().size(), 2u);
}

// Touching pairs that the detection splits in some frames and not in others are still
// two particles of their own sizes.
TEST(CrossingCounter, PairsUnsplitInSomeFramesStayTwo)
{
    flowgen::FlowSettings s = Settings(6, flowgen::ConstantShifts(12, 110));
    s.touchingShare = 0.3;
    const flowgen::Flow flow = flowgen::GenerateFlow(s);
    const CountRun split = Count(flow, [](const flowgen::Flow& f, int t) {
        return flowgen::TruthBlobs(f, t, t % 3 == 1 ? flowgen::TruthSplit::kMerged : flowgen::TruthSplit::kPerParticle);
    });
    const flowgen::TruthCounts truth = flowgen::CountTruth(flow, 25, 100, 1);
    EXPECT_EQ(split.counts.smaller, truth.smaller);
    EXPECT_EQ(split.counts.inRange, truth.inRange);
    EXPECT_EQ(split.counts.bigger, truth.bigger);
}

// Every method finds the particles of a generated frame as blobs: each whole single
// particle once, at its centroid, of about its area, not cut; unknown methods find none.
TEST(BlobDetection, MethodsFindGeneratedParticles)
{
    flowgen::FlowSettings s = Settings(7, flowgen::ConstantShifts(3, 150));
    s.radiusMin = 3.5;
    const flowgen::Flow flow = flowgen::GenerateFlow(s);
    const cv::Mat frames[] = {flowgen::RenderFrame(flow, 0), flowgen::RenderFrame(flow, 1),
                              flowgen::RenderFrame(flow, 2)};
    for (int method : {1, 2, 3, 4}) {
        const ParticleBlobs found = DetectParticlesByMethod(frames[1], method, frames[0], frames[2]);
        int checked = 0;
        for (const flowgen::VisibleGroup& g : flowgen::GroupsInFrame(flow, 1)) {
            const cv::Rect inner(2, 2, s.width - 4, s.height - 4);  // method 4 takes a pixel more as the edge
            if (g.ids.size() > 1 || (g.box & inner) != g.box) continue;
            int matches = 0;
            for (const ParticleBlob& b : found)
                matches += cv::norm(b.centroid - g.centroid) < 1.0 && std::abs(b.area - g.area) <= 0.25 * g.area &&
                           !b.touchesBorder;
            EXPECT_EQ(matches, 1) << method << " " << g.centroid;
            ++checked;
        }
        EXPECT_GT(checked, 30);
    }
    EXPECT_TRUE(DetectParticlesByMethod(frames[1], 5).empty());
}

// A mask's regions as blobs: pixel counts, centroids and boxes as OpenCV's moments give
// them, and the edge flag for a region that reaches the border.
TEST(BlobDetection, BlobsFromHandMadeMask)
{
    cv::Mat mask = cv::Mat::zeros(60, 80, CV_8UC1);
    cv::circle(mask, {30, 30}, 6, 1, cv::FILLED);
    cv::rectangle(mask, {70, 10}, {79, 19}, 1, cv::FILLED);
    mask.at<uchar>(50, 10) = 1;  // a speck below the minimum
    ParticleBlobs blobs = BlobsFromMask(mask);
    ASSERT_EQ(blobs.size(), 2u);
    if (blobs[0].touchesBorder) std::swap(blobs[0], blobs[1]);
    const cv::Moments disc = cv::moments(mask(cv::Rect(20, 20, 25, 25)), true);
    EXPECT_EQ(blobs[0].maskArea, static_cast<int>(disc.m00));
    EXPECT_NEAR(blobs[0].centroid.x, 20 + disc.m10 / disc.m00, 1e-9);
    EXPECT_EQ(blobs[0].box, cv::Rect(24, 24, 13, 13));
    EXPECT_FALSE(blobs[0].touchesBorder);
    EXPECT_EQ(blobs[1].area, 100.0);
    EXPECT_TRUE(blobs[1].touchesBorder);
}
