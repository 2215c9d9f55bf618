// Method 4 on particles of every shape, against hand-made frames whose truth is the
// drawn outline (bench/shape_frames.h): singles never split, touching pairs split,
// sizes, Feret diameters and each particle's own focus; and the parts it rests on
// (split evidence, hollow dips, fibre profiles, shape measures) on drawings whose
// answer is obvious.

#include "bench/flow_truth.h"
#include "bench/shape_frames.h"
#include "toolkit/background_detection.h"
#include "toolkit/fibre_profile.h"
#include "toolkit/filled_parts.h"
#include "toolkit/hollow_particle.h"
#include "toolkit/shape_measures.h"
#include "toolkit/split_evidence.h"

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <cmath>

namespace {

std::vector<bench::TruthParticle> AsTruth(const std::vector<bench::ShapeTruth>& shapes)
{
    std::vector<bench::TruthParticle> truth;
    for (size_t i = 0; i < shapes.size(); ++i) {
        bench::TruthParticle t;
        t.id = static_cast<int>(i);
        t.centroid = shapes[i].centroid;
        t.area = shapes[i].area;
        t.box = shapes[i].box;
        t.regionSize = shapes[i].pair < 0 ? 1 : 2;
        t.whole = true;
        truth.push_back(t);
    }
    return truth;
}

struct Detected {
    bench::ShapeFrame frame;
    ParticleBlobs blobs;
    std::vector<int> match;  // each truth particle's blob, -1 for none
};

Detected Detect(const bench::ShapeSettings& s, unsigned seed)
{
    Detected d;
    d.frame = bench::RenderShapeFrame(s, seed);
    d.blobs = DetectParticlesBackground(d.frame.grey);
    d.match = bench::MatchBlobs(AsTruth(d.frame.truth), d.blobs);
    return d;
}

// Blobs whose centroid lies in a truth particle's box (a pixel wider).
int BlobsOn(const bench::ShapeTruth& t, const ParticleBlobs& blobs)
{
    int on = 0;
    for (const ParticleBlob& b : blobs)
        on += (t.box + cv::Size(2, 2) - cv::Point(1, 1)).contains(cv::Point(cvRound(b.centroid.x), cvRound(b.centroid.y)));
    return on;
}

}  // namespace

// Single particles of every shape stand apart: each is found once, never split, and
// sized as drawn (mean error within `bias`, each within `each` at least in `share`
// of them); touching or overlapping pairs come apart into both at least `pairs` of
// the time. Sharp and blurred frames.
TEST(ShapeDetection, SinglesWholeAndSizedPairsSplit)
{
    struct Case {
        bench::ShapeKind kind;
        double blur, bias, each, share, pairs;
    };
    using K = bench::ShapeKind;
    for (const Case& c : {Case{K::kEllipse, 1.0, 0.01, 0.05, 0.98, 0.85}, Case{K::kConvexPolygon, 0.0, 0.015, 0.05, 0.9, 0.4},
                          Case{K::kPolygon, 1.0, 0.015, 0.05, 0.9, 0.3}, Case{K::kFibre, 0.0, 0.015, 0.05, 0.95, 0.0},
                          Case{K::kFibre, 1.0, 0.02, 0.05, 0.95, 0.0}, Case{K::kHollow, 0.0, 0.02, 0.05, 0.9, 0.8}}) {
        bench::ShapeSettings s;
        s.kind = c.kind;
        s.blurMin = s.blurMax = c.blur;
        int singles = 0, found = 0, split = 0, within = 0, pairs = 0, pairsSplit = 0;
        double error = 0.0;
        for (unsigned seed : {51u, 52u}) {
            const Detected d = Detect(s, seed);
            for (size_t i = 0; i < d.frame.truth.size(); ++i) {
                const bench::ShapeTruth& t = d.frame.truth[i];
                ++singles;
                split += BlobsOn(t, d.blobs) > 1;
                if (d.match[i] < 0) continue;
                ++found;
                const double e = (d.blobs[static_cast<size_t>(d.match[i])].area - t.area) / t.area;
                error += e, within += std::abs(e) <= c.each;
            }
            bench::ShapeSettings p = s;
            p.pairs = true;
            const Detected two = Detect(p, seed);
            for (size_t i = 0; i < two.frame.truth.size(); i += 2)
                ++pairs, pairsSplit += two.match[i] >= 0 && two.match[i + 1] >= 0;
        }
        const char* name = bench::ShapeName(c.kind);
        EXPECT_EQ(split, 0) << name << " blur " << c.blur;
        EXPECT_EQ(found, singles) << name << " blur " << c.blur;
        EXPECT_LT(std::abs(error / found), c.bias) << name << " blur " << c.blur;
        EXPECT_GE(within, c.share * found) << name << " blur " << c.blur;
        EXPECT_GE(pairsSplit, c.pairs * pairs) << name << " blur " << c.blur;
    }
}

// Each particle its own focus (blur 0 to 2.5 in one frame): the wide ones read their own
// blur and are sized true; no particle is split; fibres and hollow discs give their
// length and width, their outer diameter.
TEST(ShapeDetection, OwnFocusAndFeretDiameters)
{
    // Wide particles of a moderate spread of focus, and small ones from sharp to a blur
    // wider than themselves (each sized at the frame's blur was off by -74 to +144 %).
    struct Focus {
        double radiusMin, radiusMax, blurMax, sizedShare, blurredShare;
    };
    for (const Focus& focus : {Focus{5.0, 9.0, 2.5, 0.9, 0.85}, Focus{2.5, 6.0, 4.5, 0.55, 0.8}}) {
        bench::ShapeSettings s;
        s.kind = bench::ShapeKind::kEllipse;
        s.radiusMin = focus.radiusMin, s.radiusMax = focus.radiusMax;
        s.blurMin = 0.0, s.blurMax = focus.blurMax;
        s.cell = 48;  // apart by more than the strongest blur's reach
        int wide = 0, sized = 0, blurred = 0;
        for (unsigned seed : {61u, 62u}) {
            const Detected d = Detect(s, seed);
            for (size_t i = 0; i < d.frame.truth.size(); ++i) {
                const bench::ShapeTruth& t = d.frame.truth[i];
                EXPECT_LE(BlobsOn(t, d.blobs), 1);
                if (d.match[i] < 0) continue;
                const ParticleBlob& b = d.blobs[static_cast<size_t>(d.match[i])];
                ++wide;
                sized += std::abs(b.area - t.area) <= 0.05 * t.area;
                // A pixel's box adds 1/12 to the variance of a drawing by shares.
                blurred += std::abs(b.blur - std::sqrt(t.blur * t.blur + 1.0 / 12)) <= 0.25;
            }
        }
        EXPECT_GE(sized, focus.sizedShare * wide) << focus.blurMax;
        EXPECT_GE(blurred, focus.blurredShare * wide) << focus.blurMax;
    }

    for (bench::ShapeKind kind : {bench::ShapeKind::kFibre, bench::ShapeKind::kHollow}) {
        bench::ShapeSettings f;
        f.kind = kind;
        f.blurMin = f.blurMax = 0.5;
        const Detected d = Detect(f, 63);
        int checked = 0, longest = 0, shortest = 0;
        for (size_t i = 0; i < d.frame.truth.size(); ++i) {
            if (d.match[i] < 0) continue;
            const ParticleBlob& b = d.blobs[static_cast<size_t>(d.match[i])];
            const bench::ShapeTruth& t = d.frame.truth[i];
            ++checked;
            longest += std::abs(b.feretMax - t.feretMax) <= 0.08 * t.feretMax;
            shortest += std::abs(b.feretMin - t.feretMin) <= 0.1 * t.feretMin + 0.3;
        }
        EXPECT_GE(longest, 0.9 * checked) << bench::ShapeName(kind);
        EXPECT_GE(shortest, 0.9 * checked) << bench::ShapeName(kind);
    }
}

// The evidence a blob gives of two particles: two discs touching narrow to a neck;
// an irregular grain cut in two by ellipses does not, nor does it split by contrast.
TEST(SplitEvidence, NeckOfTouchingDiscsNotOfAGrain)
{
    cv::Mat pair = cv::Mat::zeros(40, 60, CV_8UC1);
    cv::circle(pair, {20, 20}, 8, 1, cv::FILLED);
    cv::circle(pair, {36, 20}, 8, 1, cv::FILLED);
    Ellipse a, b;
    a.centre = {20, 20}, b.centre = {36, 20};
    a.a = a.b = b.a = b.b = 8.5;
    const SplitEvidence touching = WeighSplit(pair, {a, b}, {0.6, 0.6}, 1.2, 0.6);  // a fit no better than 0.5
    ASSERT_EQ(touching.cuts.size(), 1u);
    EXPECT_LT(touching.cuts[0].neck, 0.5);
    EXPECT_LT(touching.cuts[0].disc, 0.95);
    EXPECT_TRUE(touching.Convincing());

    // A hexagon parted down the middle: the cut is as wide as the halves.
    cv::Mat grain = cv::Mat::zeros(40, 60, CV_8UC1);
    std::vector<cv::Point> hexagon;
    for (int k = 0; k < 6; ++k)
        hexagon.emplace_back(cvRound(30 + 14 * std::cos(k * CV_PI / 3)), cvRound(20 + 12 * std::sin(k * CV_PI / 3)));
    cv::fillConvexPoly(grain, hexagon, 1);
    Ellipse left, right;
    left.centre = {23, 20}, right.centre = {37, 20};
    left.a = right.a = 9, left.b = right.b = 11;
    for (const std::vector<double>& contrasts : {std::vector<double>{0.6, 0.6}, std::vector<double>{0.6, 0.45}}) {
        const SplitEvidence halves = WeighSplit(grain, {left, right}, contrasts, 0.5, 0.2);
        ASSERT_EQ(halves.cuts.size(), 1u);
        EXPECT_GT(halves.cuts[0].neck, 0.9);
        EXPECT_FALSE(halves.Convincing()) << contrasts[1];
    }
}

// A ring around a lighter centre dips inside, a uniform disc does not; the fitted edge of
// the ring's disc lies on the drawn circle, for rings twice as wide as the blur or more
// (thinner ones trade width for contrast and move the edge in by up to a third of a
// pixel).
TEST(HollowParticle, DipAndOuterEdge)
{
    for (double ring : {2.0, 3.0}) {
        bench::ShapeSettings s;
        s.kind = bench::ShapeKind::kHollow;
        s.ringMin = s.ringMax = ring;
        s.centreMin = s.centreMax = 0.1;
        s.radiusMin = s.radiusMax = 7.0;
        s.blurMin = s.blurMax = 0.7;
        s.noise = 1.0;
        s.gradient = 0.0;
        s.frame = cv::Size(48, 48);
        s.cell = 48;
        const bench::ShapeFrame frame = bench::RenderShapeFrame(s, 71);
        ASSERT_EQ(frame.truth.size(), 1u);
        cv::Mat dark, smooth;
        frame.grey.convertTo(dark, CV_32F, -1.0 / s.background, 1.0);
        cv::GaussianBlur(dark, smooth, cv::Size(5, 5), 1.0);
        // The particle's piece: its pixels above a level, holes filled.
        const std::vector<FilledPart> parts = FilledParts(smooth > 0.2);
        ASSERT_EQ(parts.size(), 1u);
        const cv::Mat mask = PartMask(parts[0], smooth.size());
        const float rim = HollowRim(dark, smooth, mask, 0.005);
        EXPECT_GT(rim, 0.0f) << ring;
        Ellipse reference;
        reference.centre = frame.truth[0].centroid;
        reference.a = reference.b = 6.0;
        const cv::Mat owner(dark.size(), CV_32S, cv::Scalar(1));
        const HollowEdge edge = FitHollowEdge(dark, owner, 1, reference, 0.7, rim);
        ASSERT_TRUE(edge.valid) << ring;
        EXPECT_NEAR(6.0 + edge.shift, std::sqrt(frame.truth[0].area / CV_PI), 0.15) << ring;
        EXPECT_NEAR(edge.width, ring, 0.5) << ring;

        cv::Mat disc = cv::Mat::zeros(48, 48, CV_32F);
        cv::circle(disc, {24, 24}, 7, 0.6, cv::FILLED);
        cv::GaussianBlur(disc, disc, cv::Size(0, 0), 0.7);
        cv::Mat smoothDisc;
        cv::GaussianBlur(disc, smoothDisc, cv::Size(5, 5), 1.0);
        EXPECT_EQ(HollowRim(disc, smoothDisc, PartMask(FilledParts(smoothDisc > 0.2)[0], disc.size()), 0.005), 0.0f);
    }
}

// The profile across a band of known width and contrast, blurred: both read back,
// with the blur known and, on a band a few blurs wide, with it fitted too.
TEST(FibreProfile, ContrastAndWidthOfABlurredBand)
{
    struct Case {
        double width, blur;
        bool fitBlur;
    };
    for (const Case& c : {Case{2.4, 1.0, false}, Case{4.0, 1.5, false}, Case{6.0, 1.0, true}}) {
        cv::Mat dark = cv::Mat::zeros(60, 80, CV_32F);
        for (int y = 0; y < dark.rows; ++y)
            for (int x = 0; x < dark.cols; ++x) {
                const double v = (y - 30.2) * std::cos(0.3) - (x - 40.0) * std::sin(0.3);  // across a band at 0.3 rad
                const double cdf = [](double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }((0.5 * c.width - v) / c.blur);
                const double below = 0.5 * std::erfc(-((-0.5 * c.width - v) / c.blur) / std::sqrt(2.0));
                dark.at<float>(y, x) = static_cast<float>(0.55 * (cdf - below));
            }
        const cv::Mat owner(dark.size(), CV_32S, cv::Scalar(1));
        const FibreProfile f = FitFibreProfile(dark, owner, 1, {40.0, 30.2}, 0.3, 15.0, c.fitBlur ? 0.6 : c.blur, 0.01,
                                               c.fitBlur);
        ASSERT_TRUE(f.valid);
        EXPECT_NEAR(f.contrast, 0.55, 0.01) << c.width;
        EXPECT_NEAR(f.width, c.width, 0.05) << c.width;
        if (c.fitBlur) {
            EXPECT_NEAR(f.blur, c.blur, 0.05);
        }
    }
}

// Caliper widths and solidity of pixel sets against the obvious: a bar, a square turned
// by 45 degrees, an L (solidity below 1); rotating calipers agree with every direction
// tried in turn.
TEST(ShapeMeasures, CalipersOfPixelSets)
{
    const auto measure = [](const cv::Mat& mask) {
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(mask.clone(), contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
        return MeasureShape(contours[0], cv::countNonZero(mask));
    };
    cv::Mat bar = cv::Mat::zeros(20, 30, CV_8UC1);
    cv::rectangle(bar, cv::Rect(5, 8, 12, 3), 1, cv::FILLED);
    const ShapeMeasures b = measure(bar);
    EXPECT_NEAR(b.feretMax, std::hypot(12.0, 3.0), 1e-4);
    EXPECT_NEAR(b.feretMin, 3.0, 1e-4);
    EXPECT_NEAR(b.solidity, 1.0, 1e-6);

    cv::Mat ell = cv::Mat::zeros(20, 20, CV_8UC1);
    cv::rectangle(ell, cv::Rect(2, 2, 4, 12), 1, cv::FILLED);
    cv::rectangle(ell, cv::Rect(2, 10, 12, 4), 1, cv::FILLED);
    const ShapeMeasures l = measure(ell);
    EXPECT_NEAR(l.solidity, 80.0 / (144.0 - 0.5 * 8 * 8), 1e-4);  // the hull cuts the L's inner corner

    cv::RNG rng(5);
    for (int trial = 0; trial < 20; ++trial) {
        cv::Mat blob = cv::Mat::zeros(40, 40, CV_8UC1);
        std::vector<cv::Point> corners;
        for (int k = 0; k < 6; ++k) corners.emplace_back(rng.uniform(5, 35), rng.uniform(5, 35));
        std::vector<cv::Point> hull;
        cv::convexHull(corners, hull);
        cv::fillConvexPoly(blob, hull, 1);
        const ShapeMeasures m = measure(blob);
        // Every direction in turn: the widths of the pixel squares' corners.
        double longest = 0.0, shortest = 1e9;
        for (int step = 0; step < 3600; ++step) {
            const double a = step * CV_PI / 3600, c = std::cos(a), s = std::sin(a);
            double lo = 1e9, hi = -1e9;
            for (int y = 0; y < blob.rows; ++y)
                for (int x = 0; x < blob.cols; ++x)
                    if (blob.at<uchar>(y, x))
                        for (const cv::Point2d d : {cv::Point2d(-0.5, -0.5), cv::Point2d(0.5, 0.5), cv::Point2d(-0.5, 0.5),
                                                    cv::Point2d(0.5, -0.5)}) {
                            const double t = (x + d.x) * c + (y + d.y) * s;
                            lo = std::min(lo, t), hi = std::max(hi, t);
                        }
            longest = std::max(longest, hi - lo), shortest = std::min(shortest, hi - lo);
        }
        EXPECT_NEAR(m.feretMax, longest, 1e-3) << trial;
        // Directions a step apart miss the least width's by up to its length x the step.
        EXPECT_LE(m.feretMin, shortest + 1e-6) << trial;
        EXPECT_GT(m.feretMin, shortest - 0.02) << trial;
    }
}
