// Accuracy of the background detection (segmentation method 4) on generated flows
// against their truth:
//  1. areas of whole single particles per blur / noise / gradient setting;
//  2. dense flows placed at random (110 particles per 640 x 480 frame): merged pairs
//     split into both particles, false splits of single particles, areas of the split
//     particles and the counts per size class;
//  3. sizes combined over the frames that see a particle whole, with independent noise;
//  4. per shape kind (discs and ellipses, irregular polygons, fibres, hollow particles,
//     each particle its own defocus, a mix): false splits of single particles (kept
//     apart, gap >= 3 px), their areas, and the share of merged pairs split into both
//     particles (placed at random, 110 particles per 640 x 480 frame).
// Usage: background_accuracy_bench [SEEDS [PARTS]]   (frames per setting, default 8;
// PARTS a bit mask of the parts to run, default 15)

#include "bench/flow_truth.h"
#include "toolkit/background_detection.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

constexpr int kMargin = 3;                         // whole: this far from the frame's edge
constexpr double kRangeMin = 25, kRangeMax = 100;  // the counters' default size range

int SizeClass(double area)
{
    return area < kRangeMin ? 0 : area <= kRangeMax ? 1 : 2;
}

bool WholeBlob(const ParticleBlob& b, const cv::Size& frame)
{
    const cv::Rect inner(kMargin, kMargin, frame.width - 2 * kMargin, frame.height - 2 * kMargin);
    return !b.touchesBorder && (b.box & inner) == b.box;
}

struct ErrorStats {
    int n = 0, within5 = 0, within10 = 0;
    double sum = 0.0, sumAbs = 0.0, worst = 0.0;
    double bin[3][3] = {};  // by size class: count, sum of errors, sum of squared relative errors
    void Add(double measured, double truth)
    {
        const double e = measured - truth, rel = std::abs(e) / truth;
        ++n, sum += e, sumAbs += std::abs(e), worst = std::max(worst, rel);
        within5 += rel <= 0.05, within10 += rel <= 0.10;
        double* b = bin[SizeClass(truth)];
        b[0] += 1, b[1] += e, b[2] += rel * rel;
    }
    double Mean() const { return n ? sum / n : 0.0; }
    double Share(int k) const { return n ? 100.0 * k / n : 0.0; }
};

// Share of each particle's pixels that frame 0 shows: where particles overlap the
// darker one shows.
std::vector<double> VisibleShare(const flowgen::Flow& flow, cv::Size size)
{
    cv::Mat top(size, CV_32S, cv::Scalar(-1)), grey(size, CV_32S, cv::Scalar(1 << 20));
    for (const flowgen::Particle& p : flow.particles) {
        const cv::Point centre = flowgen::StampCentre(flow, p, 0);
        const int cx = centre.x - p.stamp.cols / 2, cy = centre.y - p.stamp.rows / 2;
        for (int r = 0; r < p.stamp.rows; ++r)
            for (int c = 0; c < p.stamp.cols; ++c) {
                const cv::Point q(cx + c, cy + r);
                if (p.stamp.at<uchar>(r, c) && q.inside(cv::Rect(cv::Point(), size)) && p.grey < grey.at<int>(q))
                    grey.at<int>(q) = p.grey, top.at<int>(q) = p.id;
            }
    }
    std::vector<double> share(flow.particles.size(), 0.0);
    for (int y = 0; y < top.rows; ++y)
        for (int x = 0; x < top.cols; ++x)
            if (const int id = top.at<int>(y, x); id >= 0)
                share[static_cast<size_t>(id)] += 1.0 / flow.particles[static_cast<size_t>(id)].area;
    return share;
}

// The touching pairs (regions of two) that lie wholly in the frame, as indices of truth.
std::vector<std::pair<size_t, size_t>> WholePairs(const flowgen::Flow& flow,
                                                  const std::vector<bench::TruthParticle>& truth)
{
    std::vector<std::pair<size_t, size_t>> pairs;
    for (size_t i = 0; i < truth.size(); ++i)
        for (size_t j = i + 1; j < truth.size(); ++j)
            if (truth[i].whole && truth[i].regionSize == 2 && truth[j].regionSize == 2 &&
                flow.particles[static_cast<size_t>(truth[i].id)].touchId == truth[j].id)
                pairs.emplace_back(i, j);
    return pairs;
}

flowgen::FlowSettings Frame(unsigned seed, double blur, double noise, double gradient)
{
    flowgen::FlowSettings s;
    s.frames = 1;
    s.seed = seed;
    s.blurSigma = blur;
    s.noise = noise;
    s.gradient = gradient;
    s.gradientAngleDeg = (seed * 67) % 360;
    return s;
}

void SingleParticles(int seeds)
{
    std::printf("1. Whole single particles (free placement, gap >= 3 px, about 45 per 640 x 480 frame)\n");
    std::printf("blur noise grad | particles found | mean err px | mean |err| | worst rel | within 5%% | "
                "mean err px / rel sd by size <25, 25-100, >100 | blur est | false splits | rms err / areaSd\n");
    for (double blur : {0.0, 0.7, 1.0, 1.5})
        for (double noise : {0.0, 2.0, 5.0})
            for (double gradient : {0.0, 0.3}) {
                ErrorStats st;
                int truthCount = 0, falseSplits = 0;
                double sigma = 0.0, z2 = 0.0;
                for (int seed = 1; seed <= seeds; ++seed) {
                    flowgen::FlowSettings s = Frame(static_cast<unsigned>(seed), blur, noise, gradient);
                    s.keepApartForShift = false;
                    const flowgen::Flow flow = flowgen::GenerateFlow(s);
                    const BackgroundDetection det = SegmentParticlesBackground(flowgen::RenderFrame(flow, 0));
                    sigma += det.blurSigma / seeds;
                    const std::vector<bench::TruthParticle> truth = bench::TruthInFrame(flow, 0, kMargin);
                    const std::vector<int> match = bench::MatchBlobs(truth, det.blobs);
                    for (size_t i = 0; i < truth.size(); ++i) {
                        if (!truth[i].whole || truth[i].regionSize != 1)
                            continue;
                        ++truthCount;
                        if (match[i] >= 0) {
                            const ParticleBlob& b = det.blobs[static_cast<size_t>(match[i])];
                            st.Add(b.area, truth[i].area);
                            z2 += (b.area - truth[i].area) * (b.area - truth[i].area) / (b.areaSd * b.areaSd);
                        }
                        int inside = 0;
                        for (const ParticleBlob& b : det.blobs)
                            inside += truth[i].box.contains(cv::Point(cvRound(b.centroid.x), cvRound(b.centroid.y)));
                        falseSplits += inside > 1;
                    }
                }
                std::printf("%4.1f %5.1f %4.1f | %5d %5d | %+6.3f | %6.3f | %6.1f%% | %6.1f%% |", blur, noise, gradient,
                            truthCount, st.n, st.Mean(), st.sumAbs / std::max(1, st.n), 100.0 * st.worst,
                            st.Share(st.within5));
                for (const auto& b : st.bin)
                    std::printf(" %+.2f/%.1f%%", b[1] / std::max(1.0, b[0]),
                                100.0 * std::sqrt(b[2] / std::max(1.0, b[0])));
                std::printf(" | %.2f | %d | %.2f\n", sigma, falseSplits, std::sqrt(z2 / std::max(1, st.n)));
            }
}

void DenseFlows(int seeds)
{
    std::printf("\n2. Random placement, 110 particles per 640 x 480 frame, gradient 0.3\n");
    std::printf("blur noise | pairs split | of them both at least half visible: split | triples: particles found | "
                "false splits of singles | "
                "particles of regions: mean err px, mean |rel|, within 5%%, 10%% | counts found / truth: "
                "smaller, in range, bigger\n");
    for (double blur : {0.0, 0.7, 1.0, 1.5})
        for (double noise : {2.0, 5.0}) {
            int pairs = 0, pairsSplit = 0, visiblePairs = 0, visibleSplit = 0, tripleParticles = 0, tripleFound = 0,
                singles = 0, falseSplits = 0;
            int truthClass[3] = {}, foundClass[3] = {};
            ErrorStats region;
            double regionRel = 0.0;
            for (int seed = 1; seed <= seeds; ++seed) {
                flowgen::FlowSettings s = Frame(static_cast<unsigned>(100 + seed), blur, noise, 0.3);
                s.randomPlacement = true;
                s.density = 3.6;
                const flowgen::Flow flow = flowgen::GenerateFlow(s);
                const cv::Mat grey = flowgen::RenderFrame(flow, 0);
                const BackgroundDetection det = SegmentParticlesBackground(grey);
                const std::vector<bench::TruthParticle> truth = bench::TruthInFrame(flow, 0, kMargin);
                const std::vector<int> match = bench::MatchBlobs(truth, det.blobs);
                const std::vector<double> visible = VisibleShare(flow, grey.size());
                for (const ParticleBlob& b : det.blobs)
                    if (WholeBlob(b, grey.size()))
                        ++foundClass[SizeClass(b.area)];
                for (size_t i = 0; i < truth.size(); ++i) {
                    const bench::TruthParticle& t = truth[i];
                    if (!t.whole)
                        continue;
                    ++truthClass[SizeClass(t.area)];
                    if (t.regionSize == 1) {
                        ++singles;
                        int inside = 0;
                        for (const ParticleBlob& b : det.blobs)
                            inside += t.box.contains(cv::Point(cvRound(b.centroid.x), cvRound(b.centroid.y)));
                        falseSplits += inside > 1;
                        continue;
                    }
                    if (match[i] >= 0) {
                        const double a = det.blobs[static_cast<size_t>(match[i])].area;
                        region.Add(a, t.area);
                        regionRel += std::abs(a - t.area) / t.area;
                    }
                    if (t.regionSize == 3)
                        ++tripleParticles, tripleFound += match[i] >= 0;
                }
                // A pair is split when both of its particles have their own blob.
                for (const auto& [i, j] : WholePairs(flow, truth)) {
                    const bool split = match[i] >= 0 && match[j] >= 0;
                    ++pairs, pairsSplit += split;
                    if (visible[static_cast<size_t>(truth[i].id)] >= 0.5 &&
                        visible[static_cast<size_t>(truth[j].id)] >= 0.5)
                        ++visiblePairs, visibleSplit += split;
                }
            }
            std::printf(
                "%4.1f %5.1f | %5.1f%% of %d | %5.1f%% of %d | %5.1f%% of %d | %d of %d | %+6.2f %5.1f%% %5.1f%% "
                "%5.1f%% |",
                blur, noise, 100.0 * pairsSplit / std::max(1, pairs), pairs,
                100.0 * visibleSplit / std::max(1, visiblePairs), visiblePairs,
                100.0 * tripleFound / std::max(1, tripleParticles), tripleParticles, falseSplits, singles,
                region.Mean(), 100.0 * regionRel / std::max(1, region.n), region.Share(region.within5),
                region.Share(region.within10));
            for (int k = 0; k < 3; ++k)
                std::printf(" %d / %d (%+.1f%%)", foundClass[k], truthClass[k],
                            100.0 * (foundClass[k] - truthClass[k]) / std::max(1, truthClass[k]));
            std::printf("\n");
        }
}

// A particle seen whole in several frames with noise of their own (the flow stands
// still, so only the noise differs): sizes combined over the first n views.
void CombinedViews(int seeds)
{
    std::printf("\n3. Views combined: whole single particles seen in n frames with independent noise, "
                "blur 1.5, noise 5, gradient 0.3\n");
    std::printf("n | mean err px / rel sd by size <25, 25-100, >100, within 5%%: median of views | "
                "CombinedArea\n");
    constexpr int kViews = 6;
    std::vector<std::vector<ParticleBlob>> views;
    std::vector<double> truthArea;
    for (int seed = 1; seed <= seeds; ++seed) {
        flowgen::FlowSettings s = Frame(static_cast<unsigned>(200 + seed), 1.5, 5.0, 0.3);
        s.keepApartForShift = false;
        s.frames = kViews;
        s.shifts = flowgen::ConstantShifts(kViews, 0);
        const flowgen::Flow flow = flowgen::GenerateFlow(s);
        const std::vector<bench::TruthParticle> truth = bench::TruthInFrame(flow, 0, kMargin);
        std::vector<std::vector<ParticleBlob>> seen(truth.size());
        for (int t = 0; t < kViews; ++t) {
            const ParticleBlobs blobs = DetectParticlesBackground(flowgen::RenderFrame(flow, t));
            const std::vector<int> match = bench::MatchBlobs(truth, blobs);
            for (size_t i = 0; i < truth.size(); ++i)
                if (match[i] >= 0)
                    seen[i].push_back(blobs[static_cast<size_t>(match[i])]);
        }
        for (size_t i = 0; i < truth.size(); ++i)
            if (truth[i].whole && truth[i].regionSize == 1 && seen[i].size() == kViews)
                views.push_back(seen[i]), truthArea.push_back(truth[i].area);
    }
    for (int n : {1, 2, 3, 4, 6}) {
        ErrorStats median, combined;
        for (size_t p = 0; p < views.size(); ++p) {
            std::vector<ParticleBlob> first(views[p].begin(), views[p].begin() + n);
            std::vector<double> areas;
            for (const ParticleBlob& b : first)
                areas.push_back(b.area);
            std::sort(areas.begin(), areas.end());
            const double m = n % 2 ? areas[static_cast<size_t>(n / 2)]
                                   : 0.5 * (areas[static_cast<size_t>(n / 2 - 1)] + areas[static_cast<size_t>(n / 2)]);
            median.Add(m, truthArea[p]);
            combined.Add(CombinedArea(first), truthArea[p]);
        }
        std::printf("%d |", n);
        for (const ErrorStats* st : {&median, &combined}) {
            for (const auto& b : st->bin)
                std::printf(" %+.2f/%.1f%%", b[1] / std::max(1.0, b[0]), 100.0 * std::sqrt(b[2] / std::max(1.0, b[0])));
            std::printf(" %.1f%% |", st->Share(st->within5));
        }
        std::printf("\n");
    }
}

// Blobs whose centroid lies on the particle's drawn pixels, or next to them.
int BlobsOn(const flowgen::Flow& flow, const flowgen::Particle& p, const ParticleBlobs& blobs)
{
    const flowgen::ParticleView v = flowgen::ViewInFrame(flow, p, 0);
    cv::Mat grown;
    cv::dilate(v.stamp, grown, cv::Mat::ones(3, 3, CV_8UC1));
    const cv::Point corner(v.centre.x - v.stamp.cols / 2, v.centre.y - v.stamp.rows / 2);
    int on = 0;
    for (const ParticleBlob& b : blobs) {
        const cv::Point q = cv::Point(cvRound(b.centroid.x), cvRound(b.centroid.y)) - corner;
        on += q.inside(cv::Rect(0, 0, grown.cols, grown.rows)) && grown.at<uchar>(q) != 0;
    }
    return on;
}

void ShapeKinds(int seeds)
{
    using Setter = void (*)(flowgen::FlowSettings&);
    const std::vector<std::pair<const char*, Setter>> kinds{
        {"discs, ellipses", [](flowgen::FlowSettings&) {}},
        {"polygons", [](flowgen::FlowSettings& s) { s.polygonShare = 1.0; }},
        {"fibres", [](flowgen::FlowSettings& s) { s.fibreShare = 1.0; }},
        {"hollow", [](flowgen::FlowSettings& s) { s.hollowShare = 1.0; }},
        {"defocus 0 to 2.5", [](flowgen::FlowSettings& s) { s.defocusMax = 2.5; }},
        {"shape mix", [](flowgen::FlowSettings& s) {
             s.polygonShare = 0.3, s.fibreShare = 0.2, s.hollowShare = 0.2, s.defocusMax = 1.5;
         }},
    };
    std::printf("\n4. Shape kinds: blur 0.7, noise 2, gradient 0.3\n");
    std::printf("kind             | singles | falsely split      | not found | area mean err, within 5%% | "
                "pairs | split into both\n");
    for (const auto& [name, set] : kinds) {
        int singles = 0, split = 0, missed = 0, pairs = 0, pairsSplit = 0;
        ErrorStats area;
        for (int seed = 1; seed <= seeds; ++seed) {
            flowgen::FlowSettings s = Frame(static_cast<unsigned>(300 + seed), 0.7, 2.0, 0.3);
            s.keepApartForShift = false;
            set(s);
            const flowgen::Flow apart = flowgen::GenerateFlow(s);
            const ParticleBlobs blobs = SegmentParticlesBackground(flowgen::RenderFrame(apart, 0)).blobs;
            const std::vector<bench::TruthParticle> truth = bench::TruthInFrame(apart, 0, kMargin);
            const std::vector<int> match = bench::MatchBlobs(truth, blobs);
            for (size_t i = 0; i < truth.size(); ++i) {
                if (!truth[i].whole || truth[i].regionSize != 1)
                    continue;
                ++singles;
                const int on = BlobsOn(apart, apart.particles[static_cast<size_t>(truth[i].id)], blobs);
                split += on > 1, missed += on == 0;
                if (on == 1 && match[i] >= 0)
                    area.Add(blobs[static_cast<size_t>(match[i])].area, truth[i].area);
            }
            s.randomPlacement = true;
            s.density = 3.6;
            const flowgen::Flow dense = flowgen::GenerateFlow(s);
            const ParticleBlobs denseBlobs = SegmentParticlesBackground(flowgen::RenderFrame(dense, 0)).blobs;
            const std::vector<bench::TruthParticle> denseTruth = bench::TruthInFrame(dense, 0, kMargin);
            const std::vector<int> denseMatch = bench::MatchBlobs(denseTruth, denseBlobs);
            for (const auto& [i, j] : WholePairs(dense, denseTruth))
                ++pairs, pairsSplit += denseMatch[i] >= 0 && denseMatch[j] >= 0;
        }
        std::printf("%-16s | %7d | %5d of them %4.1f%% | %9d | %+6.2f px %5.1f%%       | %5d | %5d %5.1f%%\n", name,
                    singles, split, 100.0 * split / std::max(1, singles), missed, area.Mean(), area.Share(area.within5),
                    pairs, pairsSplit, 100.0 * pairsSplit / std::max(1, pairs));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const int seeds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 8;
    const int parts = argc > 2 ? std::atoi(argv[2]) : 15;
    if (parts & 1)
        SingleParticles(seeds);
    if (parts & 2)
        DenseFlows(seeds);
    if (parts & 4)
        CombinedViews(seeds);
    if (parts & 8)
        ShapeKinds(seeds);
    return 0;
}
