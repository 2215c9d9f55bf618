#include "tools/flowgen/motion_truth.h"

#include <algorithm>
#include <cmath>

namespace flowgen {

std::vector<VelocityBand> TruthVelocityProfile(const Flow& flow, int bands, int margin)
{
    bands = std::max(bands, 1);
    const double extent = AcrossExtent(flow.settings);
    std::vector<VelocityBand> profile(static_cast<size_t>(bands));
    std::vector<double> sums(profile.size(), 0.0);
    for (int b = 0; b < bands; ++b) {
        profile[static_cast<size_t>(b)].from = extent * b / bands;
        profile[static_cast<size_t>(b)].to = extent * (b + 1) / bands;
    }
    for (const Particle& p : flow.particles) {
        if (!WhollyInsideSomeFrame(flow, p, margin))
            continue;
        const int b = std::clamp(static_cast<int>(std::floor(p.across / extent * bands)), 0, bands - 1);
        ++profile[static_cast<size_t>(b)].count;
        sums[static_cast<size_t>(b)] += ParticleSpeed(flow, p);
    }
    for (size_t b = 0; b < profile.size(); ++b)
        if (profile[b].count > 0)
            profile[b].meanSpeed = sums[b] / profile[b].count;
    return profile;
}

CrossingTruth NetCrossingTruth(const Flow& flow, int minArea, int maxArea, int margin, double linePosition,
                               bool against)
{
    const bool vertical = IsVertical(flow.settings);
    const double line = linePosition * AlongExtent(flow.settings);
    const bool ahead = (AxisSign(flow.settings) > 0) != against;
    const cv::Rect frame(0, 0, flow.settings.width, flow.settings.height);
    const int last = static_cast<int>(flow.offsets.size()) - 1;
    CrossingTruth truth;
    for (const Particle& p : flow.particles) {
        if (!WhollyInsideSomeFrame(flow, p, margin))
            continue;
        auto past = [&](const ParticleView& v) {
            const double at = vertical ? v.centroid.y : v.centroid.x;
            return ahead ? at >= line : at < line;
        };
        const ParticleView first = ViewInFrame(flow, p, 0);
        bool was = past(first);
        int net = was && !(first.box & frame).empty() ? 1 : 0;
        ParticleView now = first;
        for (int t = 1; t <= last; ++t) {
            now = ViewInFrame(flow, p, t);
            const bool is = past(now);
            if (is != was) {
                net += is ? 1 : -1;
                ++(is ? truth.forward : truth.backward);
            }
            was = is;
        }
        net += !was && !(now.box & frame).empty() ? 1 : 0;
        int& cls = p.trueArea < minArea ? truth.net.smaller : p.trueArea > maxArea ? truth.net.bigger : truth.net.inRange;
        cls += net;
    }
    return truth;
}

}  // namespace flowgen
