// Drawing frame t of a flow: the particles where they are then, the static spots, blur,
// illumination (gradient and flicker) and noise.

#include "tools/flowgen/flowgen_internal.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdint>

namespace flowgen {

using detail::kPi;

cv::Mat RenderFrame(const Flow& flow, int t)
{
    const FlowSettings& s = flow.settings;
    // The sharp frame with a margin wide enough for the blur to bring in the darkness
    // of particles just outside the frame.
    const int pad = s.blurSigma > 0.0 ? static_cast<int>(std::ceil(4.0 * s.blurSigma)) + 1 : 0;
    cv::Mat sharp(s.height + 2 * pad, s.width + 2 * pad, CV_8UC1, cv::Scalar(s.background));
    const cv::Rect padded(-pad, -pad, s.width + 2 * pad, s.height + 2 * pad);
    for (const Particle& p : flow.particles) {
        const cv::Point c = StampCentre(flow, p, t);
        const cv::Rect reach(c.x - p.stamp.cols / 2, c.y - p.stamp.rows / 2, p.stamp.cols, p.stamp.rows);
        if ((reach & padded).empty())
            continue;
        detail::DrawStampDarker(sharp, p.stamp, c.x + pad, c.y + pad, p.grey);
    }
    for (const Spot& spot : flow.spots)
        detail::DrawStampDarker(sharp, spot.stamp, spot.centre.x + pad, spot.centre.y + pad, spot.grey);
    const double gain = flow.gains.empty() ? 1.0 : flow.gains[static_cast<size_t>(t)];
    const cv::Rect frameRect(pad, pad, s.width, s.height);
    if (s.noise <= 0.0 && pad == 0 && s.gradient == 0.0 && gain == 1.0)
        return sharp;
    cv::Mat sum;
    sharp.convertTo(sum, CV_32F);
    if (pad > 0) {
        cv::GaussianBlur(sum, sum, cv::Size(0, 0), s.blurSigma, s.blurSigma, cv::BORDER_REPLICATE);
        sum = sum(frameRect).clone();
    }
    if (s.gradient != 0.0) {
        const double c = std::cos(s.gradientAngleDeg * kPi / 180.0);
        const double sn = std::sin(s.gradientAngleDeg * kPi / 180.0);
        const double extent = std::max(1.0, std::abs((s.width - 1) * c) + std::abs((s.height - 1) * sn));
        for (int y = 0; y < sum.rows; ++y) {
            float* row = sum.ptr<float>(y);
            for (int x = 0; x < sum.cols; ++x) {
                const double along = ((x - 0.5 * (s.width - 1)) * c + (y - 0.5 * (s.height - 1)) * sn) / extent;
                row[x] = static_cast<float>(row[x] * (1.0 + s.gradient * along));
            }
        }
    }
    if (gain != 1.0)
        sum *= gain;
    if (s.noise > 0.0) {
        cv::RNG rng(0x4015E000ull + static_cast<uint64_t>(s.seed) * 7919u + static_cast<uint64_t>(t));
        cv::Mat noise(s.height, s.width, CV_32F);
        rng.fill(noise, cv::RNG::NORMAL, 0.0, s.noise);
        sum += noise;
    }
    cv::Mat frame;
    sum.convertTo(frame, CV_8U);  // rounds and saturates
    return frame;
}

}  // namespace flowgen
