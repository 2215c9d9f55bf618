// Accuracy of the background detection (segmentation method 4) against drawn truth:
// per blur / noise / gradient setting, the mean and worst error of the measured area
// of whole single particles, and for particles placed at random the share of merged
// pairs split into their two particles.

#include "bench/particle_field.h"
#include "toolkit/background_detection.h"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

namespace {

struct Stats {
    int truth = 0, found = 0;
    double sum = 0.0, sumAbs = 0.0, worst = 0.0;
    int within5 = 0;
    double bins[3][3] = {};
    double maskSum = 0.0;  // small / medium / large: count, sum error, sum rel error^2
};

void Add(Stats& st, double measured, int area)
{
    const double e = measured - area;
    ++st.found;
    st.sum += e;
    st.sumAbs += std::abs(e);
    st.worst = std::max(st.worst, std::abs(e) / area);
    st.within5 += std::abs(e) <= 0.05 * area;
    const int b = area < 40 ? 0 : area < 100 ? 1 : 2;
    st.bins[b][0] += 1;
    st.bins[b][1] += e;
    st.bins[b][2] += (e / area) * (e / area);
}

}  // namespace

int main(int argc, char** argv)
{
    const int seeds = argc > 1 ? std::atoi(argv[1]) : 8;
    const double fixedBlur = argc > 2 ? std::atof(argv[2]) : -1.0;
    std::printf("blur noise grad | truth found | mean err px | mean |err| | worst rel | within 5%% | "
                "mean err/rel sd by size <40, 40-100, >=100 | sigma est\n");
    for (double blur : {0.0, 0.7, 1.0, 1.5})
        for (double noise : {0.0, 2.0, 5.0})
            for (double gradient : {0.0, 0.3}) {
                Stats st;
                double sigmaSum = 0.0;
                int falseSplits = 0;
                for (int seed = 1; seed <= seeds; ++seed) {
                    bench::FieldSettings fs;
                    fs.blur = blur, fs.noise = noise, fs.gradient = gradient, fs.seed = static_cast<unsigned>(seed);
                    fs.particles = 70;
                    const bench::Field field = bench::DrawField(fs);
                    BackgroundDetectionSettings ds;
                    ds.blurSigma = argc > 2 ? std::max(0.0, blur + fixedBlur) : -1.0;
                    const BackgroundDetection det = SegmentParticlesBackground(field.grey, ds);
                    sigmaSum += det.blurSigma;
                    for (const ParticleBlob& b : det.blobs)
                        falseSplits += b.group >= 0;
                    for (const bench::DrawnParticle& p : field.particles) {
                        ++st.truth;
                        const ParticleBlob* best = nullptr;
                        double bestD = 3.0;
                        for (const ParticleBlob& b : det.blobs) {
                            const double d = cv::norm(b.centroid - p.centroid);
                            if (d < bestD)
                                bestD = d, best = &b;
                        }
                        if (best) {
                            Add(st, best->area, p.area);
                            st.maskSum += best->maskArea - p.area;
                        }
                    }
                }
                std::printf("%4.1f %5.1f %4.1f | %5d %5d | %+7.3f | %6.3f | %6.1f%% | %6.1f%% |", blur, noise, gradient,
                            st.truth, st.found, st.sum / st.found, st.sumAbs / st.found, 100 * st.worst,
                            100.0 * st.within5 / st.found);
                for (auto& b : st.bins)
                    std::printf(" %+.2f/%.1f%%", b[1] / std::max(1.0, b[0]),
                                100 * std::sqrt(b[2] / std::max(1.0, b[0])));
                std::printf(" | %.2f | mask %+.2f | split singles %d\n", sigmaSum / seeds, st.maskSum / st.found,
                            falseSplits);
            }
    std::printf("\nRandom placement, 110 particles per 640 x 480: merged pairs (visible parts touching) split into "
                "both particles; area error of the particles of merged pairs\n");
    std::printf(
        "blur noise grad | pairs | split | split, both >= 80%% visible | area err px | mean |rel| | within 5%% | "
        "found / truth\n");
    for (double blur : {0.0, 1.0, 1.5})
        for (double noise : {2.0, 5.0}) {
            int pairs = 0, split = 0, clearPairs = 0, clearSplit = 0, measured = 0, within = 0, truthCount = 0,
                blobCount = 0;
            double err = 0.0, rel = 0.0;
            for (int seed = 1; seed <= seeds; ++seed) {
                bench::FieldSettings fs;
                fs.blur = blur, fs.noise = noise, fs.gradient = 0.3, fs.overlap = true, fs.particles = 110;
                fs.seed = static_cast<unsigned>(100 + seed);
                const bench::Field field = bench::DrawField(fs);
                const BackgroundDetection det = SegmentParticlesBackground(field.grey);
                const size_t n = field.particles.size();
                truthCount += static_cast<int>(n);
                blobCount += static_cast<int>(det.blobs.size());
                // Which particle shows at each pixel (the last drawn covers the others).
                cv::Mat top = cv::Mat::zeros(field.grey.size(), CV_32S);
                for (size_t i = 0; i < n; ++i)
                    top(field.particles[i].box).setTo(static_cast<int>(i + 1), field.particles[i].stamp);
                std::vector<int> visible(n + 1, 0);
                std::set<std::pair<int, int>> touching;
                for (int y = 0; y < top.rows; ++y)
                    for (int x = 0; x < top.cols; ++x) {
                        const int v = top.at<int>(y, x);
                        if (!v)
                            continue;
                        ++visible[static_cast<size_t>(v)];
                        for (int dy = 0; dy <= 1; ++dy)
                            for (int dx = -1; dx <= 1; ++dx) {
                                const int yy = y + dy, xx = x + dx;
                                if ((dy == 0 && dx <= 0) || yy >= top.rows || xx < 0 || xx >= top.cols)
                                    continue;
                                const int w = top.at<int>(yy, xx);
                                if (w && w != v)
                                    touching.insert({std::min(v, w) - 1, std::max(v, w) - 1});
                            }
                    }
                // Mutual nearest truth / blob within half an equivalent radius (at least 2 pixels).
                std::vector<int> blobOf(n, -1);
                for (size_t i = 0; i < n; ++i) {
                    const bench::DrawnParticle& p = field.particles[i];
                    const double tol = std::max(2.0, 0.5 * std::sqrt(p.area / CV_PI));
                    int best = -1;
                    double bestD = tol;
                    for (size_t b = 0; b < det.blobs.size(); ++b) {
                        const double d = cv::norm(det.blobs[b].centroid - p.centroid);
                        if (d < bestD)
                            bestD = d, best = static_cast<int>(b);
                    }
                    if (best < 0)
                        continue;
                    size_t nearest = i;
                    double nearestD = 1e9;
                    for (size_t j = 0; j < n; ++j) {
                        const double d =
                            cv::norm(det.blobs[static_cast<size_t>(best)].centroid - field.particles[j].centroid);
                        if (d < nearestD)
                            nearestD = d, nearest = j;
                    }
                    if (nearest == i)
                        blobOf[i] = best;
                }
                std::set<int> inPairs;
                for (const auto& pr : touching) {
                    const bool ok =
                        blobOf[static_cast<size_t>(pr.first)] >= 0 && blobOf[static_cast<size_t>(pr.second)] >= 0;
                    ++pairs, split += ok;
                    const bool clear = visible[static_cast<size_t>(pr.first) + 1] >=
                                           0.8 * field.particles[static_cast<size_t>(pr.first)].area &&
                                       visible[static_cast<size_t>(pr.second) + 1] >=
                                           0.8 * field.particles[static_cast<size_t>(pr.second)].area;
                    clearPairs += clear, clearSplit += clear && ok;
                    inPairs.insert(pr.first), inPairs.insert(pr.second);
                }
                for (int i : inPairs) {
                    const int b = blobOf[static_cast<size_t>(i)];
                    if (b < 0)
                        continue;
                    const double e =
                        det.blobs[static_cast<size_t>(b)].area - field.particles[static_cast<size_t>(i)].area;
                    ++measured, err += e, rel += std::abs(e) / field.particles[static_cast<size_t>(i)].area;
                    within += std::abs(e) <= 0.05 * field.particles[static_cast<size_t>(i)].area;
                }
            }
            std::printf("%4.1f %5.1f  0.3 | %5d | %5.1f%% | %5.1f%% of %d | %+6.2f | %5.1f%% | %5.1f%% | %d / %d\n",
                        blur, noise, pairs, 100.0 * split / std::max(1, pairs),
                        100.0 * clearSplit / std::max(1, clearPairs), clearPairs, err / std::max(1, measured),
                        100.0 * rel / std::max(1, measured), 100.0 * within / std::max(1, measured), blobCount,
                        truthCount);
        }
    return 0;
}
