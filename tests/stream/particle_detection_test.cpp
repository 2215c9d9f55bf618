#include "stream_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

namespace {

using Spot = std::pair<int, int>;  // (x, y) of a record

std::set<Spot> Spots(const std::vector<ParticleMeasure>& records) {
    std::set<Spot> spots;
    for (const ParticleMeasure& r : records) spots.insert({r.x, r.y});
    return spots;
}

// Hand-made sequences for method 3: the particles of the counted frame differ from
// blank neighbours by 150 grey levels and from nothing else.
struct Sequence {
    TempFolder folder;
    CVideoStream stream;
    explicit Sequence(const std::vector<cv::Mat>& frames) {
        WriteFrames(folder, frames, stream);
        stream.PrepareFirstFrame();
    }
};

}  // namespace

// Every particle of a generated frame (sizes 38 to 200 pixels, a few touching pairs)
// fully inside the frame is found once, at its centroid; particles cut by the left
// or right edge may or may not be found; a touching pair may show as one particle
// or, when a segmentation cuts its neck, as two; nothing else is found.
class GeneratedFrameCount : public ::testing::TestWithParam<int> {};

TEST_P(GeneratedFrameCount, MatchesTheGroundTruth) {
    const int method = GetParam();
    // Centroids are truncated means, and the median filter of method 1, the threshold
    // of method 2 or noise pixels next to a method-3 particle move them a little more.
    const double near = 1.5;
    // Method 3 marks the drawn pixels (plus the odd noise pixel that touches them);
    // the median filter and threshold of methods 1 and 2 move the outline by up to a
    // pixel, which is up to a fifth of the smallest particles here.
    const double areaTolerance = method == 3 ? 0.0 : 0.25;
    const int areaExtra = method == 3 ? 3 : 0;
    for (unsigned seed : {1u, 2u, 3u}) {
        flowgen::FlowSettings settings;
        settings.seed = seed;
        settings.frames = 5;
        settings.radiusMin = 3.5;
        settings.radiusMax = 8.0;
        const flowgen::Flow flow = flowgen::GenerateFlow(settings);
        TempFolder folder;
        CVideoStream stream;
        WriteFrames(folder, RenderAll(flow), stream);
        ASSERT_TRUE(stream.PrepareFirstFrame());
        stream.minArea = 15;  // windows of 31 x 31 hold the largest particle

        const int t = 2;
        const std::vector<flowgen::VisibleGroup> truth = flowgen::GroupsInFrame(flow, t);
        const std::vector<ParticleMeasure> found = stream.CountParticles(t, method);
        size_t inside = 0;
        size_t pieces = 0;
        for (const flowgen::VisibleGroup& g : truth) {
            inside += g.fullyInside ? 1 : 0;
            pieces += g.ids.size();
        }
        ASSERT_GT(inside, 30u);
        EXPECT_GE(found.size(), inside) << "seed " << seed;
        EXPECT_LE(found.size(), pieces) << "seed " << seed;

        std::vector<size_t> hits(truth.size(), 0);
        for (const ParticleMeasure& r : found) {
            EXPECT_EQ(r.frame, t);
            size_t best = truth.size();
            for (size_t g = 0; g < truth.size(); ++g) {
                const cv::Rect& b = truth[g].box;
                if (cv::Rect(b.x - 2, b.y - 2, b.width + 4, b.height + 4).contains(cv::Point(r.x, r.y))) best = g;
            }
            ASSERT_LT(best, truth.size()) << "nothing drawn near (" << r.x << ", " << r.y << ")";
            ++hits[best];
            const flowgen::VisibleGroup& g = truth[best];
            if (!g.fullyInside || g.ids.size() > 1) continue;
            EXPECT_LT(std::abs(r.x - g.centroid.x), near) << r.x << ", " << r.y;
            EXPECT_LT(std::abs(r.y - g.centroid.y), near) << r.x << ", " << r.y;
            EXPECT_GE(r.area, g.area * (1.0 - areaTolerance)) << r.x << ", " << r.y;
            EXPECT_LE(r.area, g.area * (1.0 + areaTolerance) + areaExtra) << r.x << ", " << r.y;
        }
        for (size_t g = 0; g < truth.size(); ++g) {
            if (truth[g].fullyInside) {
                EXPECT_GE(hits[g], 1u) << "group at " << truth[g].centroid;
            }
            EXPECT_LE(hits[g], truth[g].ids.size()) << "group at " << truth[g].centroid;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ParticleDetection, GeneratedFrameCount, ::testing::Values(1, 2, 3));

TEST(ParticleDetection, EmptyFramesGiveNothing) {
    Sequence blank({Blank(), Blank(), Blank()});
    cv::Mat frame = Blank();
    Disc(frame, 100, 100, 6);
    Sequence seq({Blank(), frame, Blank()});
    for (int method : {1, 2, 3}) {
        EXPECT_TRUE(blank.stream.CountParticles(1, method).empty()) << method;
        EXPECT_TRUE(blank.stream.CountParticlesInNewRegion(200, method).empty()) << method;
        EXPECT_EQ(seq.stream.CountParticles(1, method).size(), 1u) << method;
    }
}

TEST(ParticleDetection, WindowsAreClippedAtTheFrameBorders) {
    cv::Mat frame = Blank();
    Disc(frame, 2, 2, 5);        // cut by the top-left corner
    Disc(frame, 317, 237, 5);    // cut by the bottom-right corner
    Disc(frame, 160, 120, 14);   // larger than the 21 x 21 window of minArea 10
    Sequence seq({Blank(), frame, Blank()});
    const std::vector<ParticleMeasure> found = seq.stream.CountParticles(1, 3);
    ASSERT_EQ(found.size(), 3u);

    const cv::Mat dark = frame < 128;
    for (const ParticleMeasure& r : found) {
        // The area counts the particle's pixels inside the clipped window.
        const cv::Rect window = cv::Rect(r.x - 10, r.y - 10, 21, 21) & cv::Rect(0, 0, 320, 240);
        EXPECT_EQ(r.area, cv::countNonZero(dark(window))) << r.x << ", " << r.y;
        EXPECT_LE(r.area, 441);
    }
    const std::set<Spot> spots = Spots(found);
    EXPECT_TRUE(spots.count({160, 120}));
}

TEST(ParticleDetection, SizeFilterKeepsTenTo3TimesMaxAreaPixels) {
    cv::Mat frame = Blank();
    frame(cv::Rect(20, 20, 3, 3)).setTo(kDark);                 // 9 pixels: removed
    frame(cv::Rect(60, 20, 3, 3)).setTo(kDark);
    frame.at<uchar>(23, 61) = kDark;                            // 10 pixels: kept
    Sequence seq({Blank(), frame, Blank()});
    std::set<Spot> spots = Spots(seq.stream.CountParticles(1, 3));
    EXPECT_EQ(spots, (std::set<Spot>{{61, 21}}));

    cv::Mat big = Blank();
    big(cv::Rect(20, 20, 45, 60)).setTo(kDark);                 // 2700 pixels: kept
    big(cv::Rect(150, 20, 45, 60)).setTo(kDark);
    big.at<uchar>(80, 150) = kDark;                             // 2701 pixels: removed
    Sequence seq2({Blank(), big, Blank()});
    spots = Spots(seq2.stream.CountParticles(1, 3));
    EXPECT_EQ(spots, (std::set<Spot>{{42, 49}}));
}

TEST(ParticleDetection, FrameDiffOpensOnlyAbove45) {
    cv::Mat frame = Blank();
    Disc(frame, 80, 120, 6);
    frame(cv::Rect(200, 40, 1, 20)).setTo(kDark);  // a 1-pixel wide line of 20 pixels
    Sequence seq({Blank(), frame, Blank()});
    seq.stream.minArea = 45;
    EXPECT_EQ(seq.stream.CountParticles(1, 3).size(), 2u);
    seq.stream.minArea = 46;
    EXPECT_EQ(Spots(seq.stream.CountParticles(1, 3)), (std::set<Spot>{{80, 120}}));
    // Methods 1 and 2 always open.
    seq.stream.minArea = 10;
    EXPECT_EQ(seq.stream.CountParticles(1, 1).size(), 1u);
    EXPECT_EQ(seq.stream.CountParticles(1, 2).size(), 1u);
}

TEST(ParticleDetection, MarginsRemoveParticlesInTheirBands) {
    cv::Mat frame = Blank();
    Disc(frame, 160, 10, 5);   // top band
    Disc(frame, 5, 120, 4);    // left band
    Disc(frame, 300, 120, 5);  // right band
    Disc(frame, 160, 232, 5);  // bottom band
    Disc(frame, 160, 120, 5);
    Sequence seq({Blank(), frame, Blank()});
    EXPECT_EQ(seq.stream.CountParticles(1, 3).size(), 5u);
    seq.stream.marginTop = 20;
    seq.stream.marginLeft = 12;
    seq.stream.marginRight = 30;
    seq.stream.marginBottom = 15;
    EXPECT_EQ(Spots(seq.stream.CountParticles(1, 3)), (std::set<Spot>{{160, 120}}));
}

TEST(ParticleDetection, FrameDiffComparesSequenceEndsWithTheTwoNearestFrames) {
    // The disc of the end frame stands still in the adjacent frame and is gone in the
    // one after it: only the comparison with the second-nearest frame finds it.
    cv::Mat disc = Blank();
    Disc(disc, 100, 100, 6);
    Sequence seq({disc, disc, Blank(), disc, disc});
    EXPECT_EQ(Spots(seq.stream.CountParticles(0, 3)), (std::set<Spot>{{100, 100}}));
    EXPECT_EQ(Spots(seq.stream.CountParticles(4, 3)), (std::set<Spot>{{100, 100}}));
    EXPECT_EQ(Spots(seq.stream.CountParticlesInNewRegion(200, 3)), (std::set<Spot>{{100, 100}}));
}

TEST(ParticleDetection, FrameDiffOnSequencesShorterThanThree) {
    cv::Mat disc = Blank();
    Disc(disc, 100, 100, 6);
    Sequence one(std::vector<cv::Mat>{disc});
    EXPECT_TRUE(one.stream.CountParticles(0, 3).empty());
    EXPECT_TRUE(one.stream.CountParticlesInNewRegion(200, 3).empty());

    Sequence two({disc, Blank()});
    EXPECT_EQ(two.stream.CountParticles(0, 3).size(), 1u);
    EXPECT_TRUE(two.stream.CountParticles(1, 3).empty());
    Sequence twoReversed({Blank(), disc});
    EXPECT_EQ(twoReversed.stream.CountParticles(1, 3).size(), 1u);
    EXPECT_EQ(twoReversed.stream.CountParticlesInNewRegion(200, 3).size(), 1u);
}

TEST(StripCount, WindowsMustEndBeforeTheStripsLastColumnAndRow) {
    // minArea 10: windows of 21 x 21. The strip is 200 columns wide and, leaving out
    // the frame's last row, 239 rows high.
    cv::Mat frame = Blank();
    Disc(frame, 188, 40, 4);   // window columns 178 .. 198: kept
    Disc(frame, 189, 100, 4);  // window reaches column 199: dropped
    Disc(frame, 60, 227, 4);   // window rows 217 .. 237: kept
    Disc(frame, 120, 228, 4);  // window reaches row 238: dropped
    Disc(frame, 260, 120, 4);  // outside the strip
    frame(cv::Rect(60, 60, 1, 20)).setTo(kDark);  // a line: the strip mask is always opened
    Sequence seq({Blank(), Blank(), frame});
    EXPECT_EQ(Spots(seq.stream.CountParticlesInNewRegion(200, 3)), (std::set<Spot>{{188, 40}, {60, 227}}));
    EXPECT_EQ(Spots(seq.stream.CountParticlesInNewRegion(200, 1)), (std::set<Spot>{{188, 40}, {60, 227}}));
    for (const ParticleMeasure& r : seq.stream.CountParticlesInNewRegion(200, 3)) EXPECT_EQ(r.frame, 2);
    // Wider than the frame: the whole frame; no width: nothing.
    EXPECT_EQ(seq.stream.CountParticlesInNewRegion(10000, 3).size(), 4u);
    EXPECT_TRUE(seq.stream.CountParticlesInNewRegion(0, 3).empty());
    EXPECT_TRUE(seq.stream.CountParticlesInNewRegion(-5, 3).empty());
}
