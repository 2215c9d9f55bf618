// Accuracy of the background detection (segmentation method 4) against drawn truth:
// per blur / noise / gradient setting, the mean and worst error of the measured area
// of whole single particles, and for particles placed at random the share of merged
// pairs split into their two particles.

#include "bench/particle_field.h"
#include "toolkit/background_detection.h"

#include <cstdio>
#include <cstdlib>
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
                for (int seed = 1; seed <= seeds; ++seed) {
                    bench::FieldSettings fs;
                    fs.blur = blur, fs.noise = noise, fs.gradient = gradient, fs.seed = static_cast<unsigned>(seed);
                    fs.particles = 70;
                    const bench::Field field = bench::DrawField(fs);
                    BackgroundDetectionSettings ds;
                    ds.blurSigma = argc > 2 ? std::max(0.0, blur + fixedBlur) : -1.0;
                    const BackgroundDetection det = SegmentParticlesBackground(field.grey, ds);
                    sigmaSum += det.blurSigma;
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
                std::printf(" | %.2f | mask %+.2f\n", sigmaSum / seeds, st.maskSum / st.found);
            }
    return 0;
}
