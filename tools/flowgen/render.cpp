// Drawing frame t of a flow: the particles where they are then, the static spots, blur,
// illumination (gradient and flicker) and noise.

#include "tools/flowgen/flowgen_internal.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace flowgen {

using detail::kPi;

namespace {

// Paints value = background - shares x (background - grey), a particle drawn by pixel
// shares with its stamp's centre at (cx, cy): where it is darker than what is there (the
// darker particle shows where two overlap), and where it is brighter than the
// background (a hollow particle's bright centre) where nothing darker lies.
void DrawSharesDarker(cv::Mat& canvas, const cv::Mat& shares, int cx, int cy, double background, int grey)
{
    const double contrast = background - grey;
    const float ground = static_cast<float>(background);
    for (int r = 0; r < shares.rows; ++r) {
        const int y = cy - shares.rows / 2 + r;
        if (y < 0 || y >= canvas.rows)
            continue;
        const float* sp = shares.ptr<float>(r);
        float* cp = canvas.ptr<float>(y);
        for (int k = 0; k < shares.cols; ++k) {
            const int x = cx - shares.cols / 2 + k;
            if (sp[k] == 0.0f || x < 0 || x >= canvas.cols)
                continue;
            const float value = static_cast<float>(background - sp[k] * contrast);
            cp[x] = value < ground ? std::min(cp[x], value) : cp[x] >= ground ? std::max(cp[x], value) : cp[x];
        }
    }
}

// The sharp frame of particles drawn by pixel shares, as floats, with a margin of `pad`.
cv::Mat SharesFrame(const Flow& flow, int t, int pad)
{
    const FlowSettings& s = flow.settings;
    cv::Mat canvas(s.height + 2 * pad, s.width + 2 * pad, CV_32F, cv::Scalar(s.background));
    const cv::Rect padded(-pad, -pad, s.width + 2 * pad, s.height + 2 * pad);
    cv::Mat shares;
    for (const Particle& p : flow.particles) {
        const ParticleView v = ViewInFrame(flow, p, t);
        const cv::Mat& drawn = !v.darkness.empty() ? v.darkness : v.coverage;
        if (drawn.empty())
            v.stamp.convertTo(shares, CV_32F);
        const cv::Mat& what = drawn.empty() ? shares : drawn;
        const cv::Rect reach(v.centre.x - what.cols / 2, v.centre.y - what.rows / 2, what.cols, what.rows);
        if (!(reach & padded).empty())
            DrawSharesDarker(canvas, what, v.centre.x + pad, v.centre.y + pad, s.background, p.grey);
    }
    for (const Spot& spot : flow.spots) {
        spot.stamp.convertTo(shares, CV_32F);
        DrawSharesDarker(canvas, shares, spot.centre.x + pad, spot.centre.y + pad, s.background, spot.grey);
    }
    return canvas;
}

}  // namespace

cv::Mat RenderFrame(const Flow& flow, int t)
{
    const FlowSettings& s = flow.settings;
    // The sharp frame with a margin wide enough for the blur to bring in the darkness
    // of particles just outside the frame.
    const int pad = s.blurSigma > 0.0 ? static_cast<int>(std::ceil(4.0 * s.blurSigma)) + 1 : 0;
    const double gain = flow.gains.empty() ? 1.0 : flow.gains[static_cast<size_t>(t)];
    const cv::Rect frameRect(pad, pad, s.width, s.height);
    cv::Mat sum;
    if (DrawsByShares(s)) {
        sum = SharesFrame(flow, t, pad);
    } else {
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
        if (s.noise <= 0.0 && pad == 0 && s.gradient == 0.0 && gain == 1.0)
            return sharp;
        sharp.convertTo(sum, CV_32F);
    }
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
