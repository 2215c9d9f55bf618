#include "bench/flow_truth.h"
#include "toolkit/background_detection.h"
#include "toolkit/blurred_area.h"
#include "toolkit/ellipse_union.h"

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Darkness of an ellipse of contrast c drawn 8 times finer (so its edge pixels hold the
// share it covers), blurred by OpenCV; `area`: what OpenCV drew, in pixels.
cv::Mat DrawnEllipse(cv::Size size, const Ellipse& e, double contrast, double blur, double* area = nullptr)
{
    constexpr int kFine = 8;
    cv::Mat fine = cv::Mat::zeros(size * kFine, CV_32F), out;
    const cv::Point2f centre((e.centre.x + 0.5) * kFine - 0.5, (e.centre.y + 0.5) * kFine - 0.5);
    cv::ellipse(fine, cv::RotatedRect(centre, cv::Size2f(2 * e.a * kFine, 2 * e.b * kFine), e.angle * 180 / CV_PI),
                cv::Scalar(contrast), cv::FILLED);
    cv::resize(fine, out, size, 0, 0, cv::INTER_AREA);
    if (area) *area = cv::sum(out)[0] / contrast;
    if (blur > 0) cv::GaussianBlur(out, out, cv::Size(0, 0), blur);
    return out;
}

flowgen::FlowSettings Frame(unsigned seed, double blur, double noise)
{
    flowgen::FlowSettings s;
    s.frames = 1;
    s.seed = seed;
    s.blurSigma = blur;
    s.noise = noise;
    s.gradient = 0.3;
    s.gradientAngleDeg = 35;
    return s;
}

}  // namespace

// The weighted sums of blurred ellipses drawn by OpenCV give back their area, contrast
// and axis ratio.
TEST(BlurredArea, EllipseFromTheSumsOfADrawnEllipse)
{
    struct Case {
        double a, b, blur;
    };
    for (const Case& c : {Case{2.6, 2.6, 1.5}, Case{5.0, 2.5, 1.0}, Case{9.0, 5.0, 0.7}}) {
        Ellipse e;
        e.centre = cv::Point2d(30.3, 29.8), e.a = c.a, e.b = c.b, e.angle = 0.4;
        double drawn = 0.0;
        const cv::Mat dark = DrawnEllipse(cv::Size(61, 61), e, 0.6, c.blur, &drawn);
        // The drawing's pixels spread its darkness over their squares: 1/12 more variance.
        const double blur = std::sqrt(c.blur * c.blur + 1.0 / 12);
        const double reff = std::hypot(std::sqrt(c.a * c.b / 2), blur);
        WeightedSums sums;
        sums.narrowWeight = 0.75 * reff, sums.wideWeight = 0.95 * reff;
        double xx = 0, xy = 0, yy = 0;
        for (int y = 0; y < dark.rows; ++y)
            for (int x = 0; x < dark.cols; ++x) {
                const double dx = x - e.centre.x, dy = y - e.centre.y, r2 = dx * dx + dy * dy, d = dark.at<float>(y, x);
                const double wb = d * std::exp(-r2 / (2 * sums.wideWeight * sums.wideWeight));
                sums.narrow += d * std::exp(-r2 / (2 * sums.narrowWeight * sums.narrowWeight));
                sums.wide += wb;
                xx += wb * dx * dx, xy += wb * dx * dy, yy += wb * dy * dy;
            }
        sums.anisotropy = std::sqrt((xx - yy) * (xx - yy) + 4 * xy * xy) / sums.wide;
        const BlurredEllipse found = EllipseFromWeightedSums(sums, blur);
        EXPECT_NEAR(found.area, drawn, 0.01 * drawn) << c.a << " x " << c.b;
        EXPECT_NEAR(found.contrast, 0.6, 0.01) << c.a << " x " << c.b;
        EXPECT_NEAR(found.ratio, c.b / c.a, 0.03) << c.a << " x " << c.b;
    }
    EXPECT_EQ(GaussianMassInEllipse(3.0, 1.0, 0.0), 1.0);  // no blur: all of it inside
}

// Two overlapping ellipses of different contrast come apart, each near its own centre
// and size once refined on the darkness; a lone ellipse stays one.
TEST(EllipseUnion, OverlappingEllipsesComeApart)
{
    Ellipse big, small;
    big.centre = cv::Point2d(30, 31), big.a = 7, big.b = 5.5, big.angle = 0.3;
    small.centre = cv::Point2d(40, 27), small.a = 4.5, small.b = 3.5, small.angle = 1.2;
    const double blur = 1.0;
    cv::Mat dark = cv::max(DrawnEllipse(cv::Size(70, 60), big, 0.7, 0), DrawnEllipse(cv::Size(70, 60), small, 0.55, 0));
    cv::GaussianBlur(dark, dark, cv::Size(0, 0), blur);
    const cv::Mat mask = dark > 0.3;
    const std::vector<cv::Point2d> outline = LevelCrossings(dark, mask / 255, 0.3);
    UnionSettings settings;
    settings.singleRms = 0.1;
    EllipseUnion u = ExplainOutline(outline, mask / 255, settings);
    ASSERT_EQ(u.ellipses.size(), 2u);
    const std::vector<double> contrasts =
        RefineUnionOnDarkness(dark, mask / 255, std::sqrt(blur * blur + 1.0 / 12), u.ellipses);
    const Ellipse truths[2] = {big, small};
    const double truthContrasts[2] = {0.7, 0.55};
    for (int t = 0; t < 2; ++t) {
        const auto it = std::min_element(u.ellipses.begin(), u.ellipses.end(), [&](const Ellipse& a, const Ellipse& b) {
            return cv::norm(a.centre - truths[t].centre) < cv::norm(b.centre - truths[t].centre);
        });
        EXPECT_LT(cv::norm(it->centre - truths[t].centre), 0.5) << t;
        EXPECT_NEAR(it->Area(), truths[t].Area(), 0.05 * truths[t].Area()) << t;
        EXPECT_NEAR(contrasts[static_cast<size_t>(it - u.ellipses.begin())], truthContrasts[t], 0.03) << t;
    }
    Ellipse alone = big;
    alone.centre = cv::Point2d(20, 20);
    const cv::Mat loneDark = DrawnEllipse(cv::Size(40, 40), alone, 0.7, blur);
    const cv::Mat lone = loneDark > 0.35;
    EXPECT_EQ(ExplainOutline(LevelCrossings(loneDark, lone / 255, 0.35), lone / 255, settings).ellipses.size(), 1u);
}

// A drawn disc: its crossings of half its darkness lie on its circle, its pixels' moment
// ellipse is the disc.
TEST(EllipseUnion, CrossingsAndMomentsOfADisc)
{
    Ellipse disc;
    disc.centre = cv::Point2d(15.3, 14.6), disc.a = disc.b = 6.0;
    const cv::Mat dark = DrawnEllipse(cv::Size(30, 30), disc, 1.0, 0.0);
    const cv::Mat mask = dark > 0.5;
    const std::vector<cv::Point2d> outline = LevelCrossings(dark, mask / 255, 0.5);
    ASSERT_GE(outline.size(), 40u);
    for (const cv::Point2d& p : outline) EXPECT_NEAR(cv::norm(p - disc.centre), 6.0, 0.2) << p;
    std::vector<cv::Point2d> pixels;
    for (int y = 0; y < mask.rows; ++y)
        for (int x = 0; x < mask.cols; ++x)
            if (mask.at<uchar>(y, x)) pixels.emplace_back(x, y);
    const Ellipse m = MomentEllipse(pixels);
    EXPECT_LT(cv::norm(m.centre - disc.centre), 0.1);
    EXPECT_NEAR(m.a, 6.0, 0.2);
    EXPECT_NEAR(m.b, 6.0, 0.2);
}

// Three discs in a row come apart into three, each near its centre and size; a dark disc
// lying on a lighter ellipse, whose outline is the ellipse's, comes apart by its
// darkness, each near its centre (the dark disc's size is left open: under the blur a
// small disc a little darker and a little smaller looks nearly the same). Each blob's
// particles form one group.
TEST(DetectParticlesBackground, SplitsThreeInARowAndADarkParticleOnALighterOne)
{
    cv::Mat clean(100, 220, CV_8UC1, cv::Scalar(200));
    struct Drawn {
        cv::Point centre;
        cv::Mat stamp;
        int grey;
    };
    const std::vector<Drawn> drawn = {
        {{40, 50}, flowgen::MakeEllipseStamp(6.0, 6.0, 0, 0, 0), 60},
        {{51, 52}, flowgen::MakeEllipseStamp(5.5, 5.5, 0, 0, 0), 70},
        {{61, 48}, flowgen::MakeEllipseStamp(5.0, 5.0, 0, 0, 0), 65},
        {{150, 50}, flowgen::MakeEllipseStamp(11.0, 8.0, 20, 0, 0), 85},
        {{155, 49}, flowgen::MakeEllipseStamp(3.2, 3.2, 0, 0, 0), 45},
    };
    for (const Drawn& d : drawn) {
        cv::Mat darker = clean.clone();
        flowgen::DrawStamp(darker, d.stamp, d.centre.x, d.centre.y, d.grey);
        clean = cv::min(clean, darker);  // where two overlap the darker shows
    }
    cv::Mat grey;
    cv::GaussianBlur(clean, grey, cv::Size(0, 0), 1.0);
    BackgroundDetectionSettings settings;
    settings.blurSigma = 1.0;
    const ParticleBlobs blobs = DetectParticlesBackground(grey, settings);
    ASSERT_EQ(blobs.size(), drawn.size());
    std::vector<int> groups;
    for (size_t i = 0; i < drawn.size(); ++i) {
        const Drawn& d = drawn[i];
        const int area = cv::countNonZero(d.stamp);
        const auto it = std::min_element(blobs.begin(), blobs.end(), [&](const ParticleBlob& a, const ParticleBlob& b) {
            return cv::norm(a.centroid - cv::Point2d(d.centre)) < cv::norm(b.centroid - cv::Point2d(d.centre));
        });
        EXPECT_LT(cv::norm(it->centroid - cv::Point2d(d.centre)), 0.5) << d.centre;
        if (i < 4) {
            EXPECT_NEAR(it->area, area, 0.05 * area) << d.centre;
        }
        groups.push_back(it->group);
    }
    EXPECT_GE(groups[0], 0);
    EXPECT_EQ(groups[1], groups[0]);
    EXPECT_EQ(groups[2], groups[0]);
    EXPECT_GE(groups[3], 0);
    EXPECT_NE(groups[3], groups[0]);
    EXPECT_EQ(groups[4], groups[3]);
}

// Generated frames of whole single particles of 20 to 254 pixels: each found once, the
// areas unbiased and nearly all within 5 % of the pixels drawn, the blur measured, the
// stated spread of the areas true to their errors. Under a strong blur (3 px, more than
// the radius of the smallest particles) every particle is still found, the blur is
// measured true enough that the sizes stay within a pixel, and their errors also hold
// the blur's own uncertainty. Frames of small particles only (7 to 50 pixels, none
// wide enough to show its edge well) have their blur measured all the same; their
// stated spread is the noise's alone, about half of their errors, which the pixel grid
// dominates. Faint particles (grey 120 to 170 on 200) blurred by 1.5 px, most of which
// never reach the usual candidate darkness, are all found and sized.
TEST(DetectParticlesBackground, AreasOfSingleParticlesMatchTheDrawnPixels)
{
    struct Case {
        double blur, noise, radiusMin, radiusMax, meanError, within5, errorsPerSpread;
        int greyMin = 40, greyMax = 90;
    };
    for (const Case& c : {Case{0.0, 2.0, 2.5, 9.0, 0.5, 0.99, 1.0}, Case{1.5, 5.0, 2.5, 9.0, 0.5, 0.9, 1.0},
                          Case{3.0, 2.0, 2.5, 9.0, 1.0, 0.7, 1.6}, Case{0.0, 2.0, 1.5, 4.0, 0.5, 0.8, 2.2},
                          Case{1.5, 2.0, 2.5, 9.0, 0.5, 0.9, 1.3, 120, 170}}) {
        int singles = 0, found = 0, within = 0;
        double error = 0.0, z2 = 0.0, blur = 0.0;
        for (unsigned seed : {11u, 12u, 13u}) {
            flowgen::FlowSettings s = Frame(seed, c.blur, c.noise);
            s.keepApartForShift = false;
            s.radiusMin = c.radiusMin;
            s.greyMin = c.greyMin;
            s.greyMax = c.greyMax;
            s.radiusMax = c.radiusMax;
            const flowgen::Flow flow = flowgen::GenerateFlow(s);
            const BackgroundDetection det = SegmentParticlesBackground(flowgen::RenderFrame(flow, 0));
            blur += det.blurSigma / 3;
            const std::vector<bench::TruthParticle> truth = bench::TruthInFrame(flow, 0, 3);
            const std::vector<int> match = bench::MatchBlobs(truth, det.blobs);
            for (size_t i = 0; i < truth.size(); ++i) {
                if (!truth[i].whole || truth[i].regionSize != 1) continue;
                ++singles;
                if (match[i] < 0) continue;
                const ParticleBlob& b = det.blobs[static_cast<size_t>(match[i])];
                ++found;
                error += b.area - truth[i].area;
                within += std::abs(b.area - truth[i].area) <= 0.05 * truth[i].area;
                z2 += std::pow((b.area - truth[i].area) / b.areaSd, 2);
            }
        }
        EXPECT_EQ(found, singles) << c.blur;
        EXPECT_LT(std::abs(error / found), c.meanError) << c.blur;
        EXPECT_GE(within, c.within5 * found) << c.blur;
        EXPECT_NEAR(blur, c.blur, 0.08);  // a sharp frame's pixels alone make an edge about 0.06 wide
        EXPECT_NEAR(std::sqrt(z2 / found), c.errorsPerSpread, 0.3) << c.blur;
    }
}

// The blur where an edge bends tightly for its width: slim ellipses only under a strong
// blur, small particles only (radius 1.5 to 4 px) under a moderate one. Each frame's
// own measure holds within 2 %.
TEST(DetectParticlesBackground, MeasuresTheBlurOnSlimAndSmallParticles)
{
    struct Case {
        double blur, ellipseShare, radiusMin, radiusMax;
    };
    for (const Case& c : {Case{3.0, 1.0, 2.5, 9.0}, Case{1.5, 0.4, 1.5, 4.0}})
        for (unsigned seed : {31u, 32u, 33u}) {
            flowgen::FlowSettings s = Frame(seed, c.blur, 3.0);
            s.keepApartForShift = false;
            s.ellipseShare = c.ellipseShare;
            s.radiusMin = c.radiusMin;
            s.radiusMax = c.radiusMax;
            const BackgroundDetection det =
                SegmentParticlesBackground(flowgen::RenderFrame(flowgen::GenerateFlow(s), 0));
            EXPECT_NEAR(det.blurSigma, c.blur, 0.02 * c.blur) << c.blur << " seed " << seed;
        }
}

// Tiny particles blurred (1.5 px) and all but noise-free: the blur read from their
// whole darkness, averaged over frames, carries no bias (a drawing by pixel shares
// must not count a pixel's box as blur: that read it 1.5 % low, about half a pixel of
// area at 25 px).
TEST(DetectParticlesBackground, MeasuresTheBlurOfTinyParticlesUnbiased)
{
    double sum = 0.0;
    const std::vector<unsigned> seeds = {41, 42, 43, 44, 45, 46};
    for (unsigned seed : seeds) {
        flowgen::FlowSettings s = Frame(seed, 1.5, 0.5);
        s.keepApartForShift = false;
        s.radiusMin = 1.5;
        s.radiusMax = 4.0;
        sum += SegmentParticlesBackground(flowgen::RenderFrame(flowgen::GenerateFlow(s), 0)).blurSigma;
    }
    EXPECT_NEAR(sum / seeds.size(), 1.5, 0.005 * 1.5);
}

// A dense flow placed at random: most merged pairs come apart into both particles, no
// single particle is split, the counts per size class hold; the mask is 0/1 and keeps
// the particles apart under 8-connectivity; the particles alone, without the mask, come
// out the same.
TEST(DetectParticlesBackground, SplitsMergedParticlesOfADenseFlow)
{
    int pairs = 0, split = 0, singles = 0, falseSplits = 0, inRange = 0, inRangeFound = 0;
    for (unsigned seed : {21u, 22u, 23u, 24u}) {
        flowgen::FlowSettings s = Frame(seed, 1.0, 2.0);
        s.randomPlacement = true;
        s.density = 3.6;
        const flowgen::Flow flow = flowgen::GenerateFlow(s);
        const cv::Mat grey = flowgen::RenderFrame(flow, 0);
        const BackgroundDetection det = SegmentParticlesBackground(grey);
        const ParticleBlobs alone = DetectParticlesBackground(grey);
        ASSERT_EQ(alone.size(), det.blobs.size());
        for (size_t i = 0; i < alone.size(); ++i) {
            EXPECT_EQ(alone[i].area, det.blobs[i].area);
            EXPECT_EQ(alone[i].maskArea, det.blobs[i].maskArea);
            EXPECT_EQ(alone[i].box, det.blobs[i].box);
        }
        const std::vector<bench::TruthParticle> truth = bench::TruthInFrame(flow, 0, 3);
        const std::vector<int> match = bench::MatchBlobs(truth, det.blobs);
        for (size_t i = 0; i < truth.size(); ++i) {
            const bench::TruthParticle& t = truth[i];
            if (!t.whole) continue;
            inRange += t.area >= 25 && t.area <= 100;
            if (t.regionSize == 2) ++pairs, split += match[i] >= 0;
            if (t.regionSize != 1) continue;
            ++singles;
            int inside = 0;
            for (const ParticleBlob& b : det.blobs)
                inside += t.box.contains(cv::Point(cvRound(b.centroid.x), cvRound(b.centroid.y)));
            falseSplits += inside > 1;
        }
        for (const ParticleBlob& b : det.blobs)
            inRangeFound += !b.touchesBorder && b.box.x >= 3 && b.box.y >= 3 && b.box.br().x <= 637 &&
                            b.box.br().y <= 477 && b.area >= 25 && b.area <= 100;
        cv::Mat labels;
        EXPECT_EQ(cv::connectedComponents(det.mask, labels, 8), static_cast<int>(det.blobs.size()) + 1);
        EXPECT_EQ(cv::countNonZero(det.mask > 1), 0);
    }
    EXPECT_GE(split, 0.75 * pairs);
    EXPECT_LE(falseSplits, 1) << singles;
    EXPECT_NEAR(inRangeFound, inRange, 0.05 * inRange);
    EXPECT_TRUE(SegmentBackground(cv::Mat()).empty());
}

// Views of one particle: the mean weighted by the inverse relative variance, a view far
// off (split wrongly) left out.
TEST(CombinedArea, WeighsViewsByTheirSpreadAndLeavesOutStrays)
{
    const auto view = [](double area, double sd) {
        ParticleBlob b;
        b.area = area, b.areaSd = sd;
        return b;
    };
    // Relative spreads 5 % and 10 %: weights 400 and 100.
    EXPECT_NEAR(CombinedArea({view(40, 2), view(50, 5)}), (40 * 400 + 50 * 100) / 500.0, 1e-9);
    // Without a spread: as uncertain as the least certain.
    EXPECT_NEAR(CombinedArea({view(40, 2), view(50, 0)}), 45.0, 1e-9);
    // Median 40.5, typical spread 5 %: 90 lies beyond 4 x 5 % x 40.5 + 1.
    const double three = (39 * 39 * 39 + 40 * 40 * 40 + 41 * 41 * 41) / (39.0 * 39 + 40 * 40 + 41 * 41);
    EXPECT_NEAR(CombinedArea({view(40, 2), view(41, 2), view(39, 2), view(90, 2)}), three, 1e-9);
    EXPECT_EQ(CombinedArea({}), 0.0);
}
