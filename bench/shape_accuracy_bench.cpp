// Accuracy of the background detection (segmentation method 4) on particles of every
// shape kind (bench/shape_frames.h: ellipses, convex and irregular polygons, fibres,
// hollow discs), each frame blurred alike or each particle by its own blur:
//  - singles: particles found, false splits (a single particle given two blobs or
//    more), area errors against the drawn pixels, counts per size class, the longest
//    and shortest Feret diameters and the particle's own blur;
//  - pairs: two particles touching or overlapping, the share split into both.
// Usage: shape_accuracy_bench [SEEDS [FIRST_SEED [KIND [CORNERS]]]]   (frames per setting,
// default 4; KIND: only the kind of this name; CORNERS: the polygons' corners, e.g. 3-5)

#include "bench/flow_truth.h"
#include "bench/shape_frames.h"
#include "toolkit/background_detection.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int SizeClass(double area)
{
    return area < 25 ? 0 : area <= 100 ? 1 : 2;
}

std::vector<bench::TruthParticle> AsTruth(const std::vector<bench::ShapeTruth>& shapes)
{
    std::vector<bench::TruthParticle> truth;
    for (size_t i = 0; i < shapes.size(); ++i) {
        bench::TruthParticle t;
        t.id = static_cast<int>(i);
        t.centroid = shapes[i].centroid;
        t.area = static_cast<int>(std::lround(shapes[i].area));
        t.box = shapes[i].box;
        t.regionSize = shapes[i].pair < 0 ? 1 : 2;
        t.whole = true;
        truth.push_back(t);
    }
    return truth;
}

struct Tally {
    int singles = 0, found = 0, falseSplits = 0, within5 = 0, pairs = 0, split = 0;
    double error = 0.0, absError = 0.0, feretMax = 0.0, feretMin = 0.0, blurError = 0.0, blurAbs = 0.0;
    int blurs = 0;
    int truthClass[3] = {}, foundClass[3] = {};
};

void Singles(const bench::ShapeSettings& s, unsigned seed, Tally& t)
{
    const bench::ShapeFrame frame = bench::RenderShapeFrame(s, seed);
    const BackgroundDetection det = SegmentParticlesBackground(frame.grey);
    const std::vector<bench::TruthParticle> truth = AsTruth(frame.truth);
    const std::vector<int> match = bench::MatchBlobs(truth, det.blobs);
    for (const ParticleBlob& b : det.blobs)
        ++t.foundClass[SizeClass(b.area)];
    for (size_t i = 0; i < truth.size(); ++i) {
        const bench::ShapeTruth& st = frame.truth[i];
        ++t.singles;
        ++t.truthClass[SizeClass(st.area)];
        int inside = 0;
        for (const ParticleBlob& b : det.blobs)
            inside += (st.box + cv::Size(2, 2) - cv::Point(1, 1)).contains(cv::Point(cvRound(b.centroid.x), cvRound(b.centroid.y)));
        t.falseSplits += inside > 1;
        if (match[i] < 0)
            continue;
        const ParticleBlob& b = det.blobs[static_cast<size_t>(match[i])];
        ++t.found;
        const double e = (b.area - st.area) / st.area;
        t.error += e, t.absError += std::abs(e), t.within5 += std::abs(e) <= 0.05;
        t.feretMax += b.feretMax / st.feretMax - 1.0;
        t.feretMin += b.feretMin / st.feretMin - 1.0;
        if (b.blur > 0.0)
            ++t.blurs, t.blurError += b.blur - st.blur, t.blurAbs += std::abs(b.blur - st.blur);
    }
}

void Pairs(const bench::ShapeSettings& s, unsigned seed, Tally& t)
{
    bench::ShapeSettings p = s;
    p.pairs = true;
    const bench::ShapeFrame frame = bench::RenderShapeFrame(p, seed);
    const BackgroundDetection det = SegmentParticlesBackground(frame.grey);
    const std::vector<bench::TruthParticle> truth = AsTruth(frame.truth);
    const std::vector<int> match = bench::MatchBlobs(truth, det.blobs);
    for (size_t i = 0; i < truth.size(); i += 2)
        ++t.pairs, t.split += match[i] >= 0 && match[i + 1] >= 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const int seeds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 4;
    const unsigned first = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1u;
    const std::string only = argc > 3 ? argv[3] : "";
    int cornersMin = bench::ShapeSettings().cornersMin, cornersMax = bench::ShapeSettings().cornersMax;
    if (argc > 4)
        std::sscanf(argv[4], "%d-%d", &cornersMin, &cornersMax);
    struct Blur {
        double lo, hi;
    };
    std::printf("kind | blur | singles | found %% | false splits %% | area err mean %%, mean |err| %%, within 5 %% | "
                "feret max, min err %% | own blur err mean, |err| | classes found / truth | pairs split %%\n");
    for (bench::ShapeKind kind : {bench::ShapeKind::kEllipse, bench::ShapeKind::kConvexPolygon,
                                  bench::ShapeKind::kPolygon, bench::ShapeKind::kFibre, bench::ShapeKind::kHollow}) {
        if (!only.empty() && only != bench::ShapeName(kind))
            continue;
        for (const Blur& blur : {Blur{0.0, 0.0}, Blur{1.0, 1.0}, Blur{2.0, 2.0}, Blur{0.0, 2.5}, Blur{3.5, 3.5}, Blur{0.0, 4.5}}) {
            bench::ShapeSettings s;
            s.kind = kind;
            s.blurMin = blur.lo, s.blurMax = blur.hi;
            s.cornersMin = cornersMin, s.cornersMax = std::max(cornersMin, cornersMax);
            Tally t;
            for (int k = 0; k < seeds; ++k) {
                Singles(s, first + static_cast<unsigned>(k), t);
                Pairs(s, first + static_cast<unsigned>(k), t);
            }
            const double n = std::max(1, t.found);
            std::printf("%-15s | %.1f-%.1f | %4d | %5.1f | %5.2f | %+5.1f %4.1f %5.1f | %+5.1f %+5.1f | %+.2f %.2f |",
                        bench::ShapeName(kind), blur.lo, blur.hi, t.singles, 100.0 * t.found / t.singles,
                        100.0 * t.falseSplits / t.singles, 100 * t.error / n, 100 * t.absError / n,
                        100.0 * t.within5 / n, 100 * t.feretMax / n, 100 * t.feretMin / n,
                        t.blurError / std::max(1, t.blurs), t.blurAbs / std::max(1, t.blurs));
            for (int c = 0; c < 3; ++c)
                std::printf(" %d/%d", t.foundClass[c], t.truthClass[c]);
            std::printf(" | %5.1f of %d\n", 100.0 * t.split / std::max(1, t.pairs), t.pairs);
        }
    }
    return 0;
}
