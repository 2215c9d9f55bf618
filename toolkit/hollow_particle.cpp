#include "toolkit/hollow_particle.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <queue>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBin = 0.25;  // pixels of distance per bin
constexpr int kParams = 5;     // contrast, shift, width, centre, blur
// Hollow: the darkness dips this share of its peak (and this many times the smoothed
// noise) below what surrounds the dip, in at least this many pixels. Solid particles'
// dips stay within 0.025 of their peak.
constexpr double kHollowDepth = 0.08;
constexpr double kHollowNoise = 5.0;
constexpr int kHollowPixels = 3;
// In the darkness itself (a small centre the smoothing fills): deeper, against a pixel's
// whole noise, in two pixels at least.
constexpr double kRawHollowDepth = 0.15;
constexpr double kRawHollowNoise = 6.0;
constexpr int kRawHollowPixels = 2;
// The smoothing (a 5 x 5 Gaussian of sigma 1) leaves this share of a pixel's noise.
constexpr double kSmoothedNoise = 0.28;

// The darkness binned by distance from the reference outline (less what the blur moves
// a bending edge), over the owned pixels from the reference's middle to beyond the
// blur's reach outside it.
struct Profile {
    double first = 0.0;  // distance of bin 0's lower end
    std::vector<double> sum, count;
};

Profile BinProfile(const cv::Mat& dark, const cv::Mat& owner, int id, const Ellipse& outline, double blur)
{
    Profile p;
    const EllipseDistance distance(outline);
    const double inside = std::min(outline.a, outline.b), outside = 3.0 * std::max(blur, 0.5) + 2.0;
    p.first = -inside;
    const size_t bins = static_cast<size_t>((inside + outside) / kBin) + 1;
    p.sum.assign(bins, 0.0), p.count.assign(bins, 0.0);
    const int extent = static_cast<int>(std::ceil(std::max(outline.a, outline.b) + outside));
    const cv::Rect near = cv::Rect(cvRound(outline.centre.x) - extent, cvRound(outline.centre.y) - extent,
                                   2 * extent + 1, 2 * extent + 1) &
                          cv::Rect(cv::Point(), dark.size());
    for (int y = near.y; y < near.br().y; ++y) {
        const float* d = dark.ptr<float>(y);
        const int* o = owner.ptr<int>(y);
        for (int x = near.x; x < near.br().x; ++x) {
            if (o[x] != id)
                continue;
            const cv::Point2d q(x, y);
            const double f = distance(q) + 0.5 * blur * blur * distance.Curvature(q);
            const double i = (f - p.first) / kBin;
            if (i >= 0.0 && i < static_cast<double>(bins))
                p.sum[static_cast<size_t>(i)] += d[x], p.count[static_cast<size_t>(i)] += 1.0;
        }
    }
    return p;
}

// Whether the darkness rises to `wall` along each of eight rays from `from` before they
// leave the mask: a cheap look for a ring around it (a dip between two merged particles
// opens to the side).
bool Walled(const cv::Mat& image, const cv::Mat& mask, cv::Point from, double wall)
{
    const cv::Rect inside(cv::Point(), mask.size());
    for (const cv::Point step : {cv::Point(1, 0), cv::Point(1, 1), cv::Point(0, 1), cv::Point(-1, 1), cv::Point(-1, 0),
                                 cv::Point(-1, -1), cv::Point(0, -1), cv::Point(1, -1)}) {
        cv::Point p = from;
        while (p.inside(inside) && mask.at<uchar>(p) && image.at<float>(p) < wall)
            p += step;
        if (!p.inside(inside) || !mask.at<uchar>(p))
            return false;
    }
    return true;
}

}  // namespace

double EnclosedDip(const cv::Mat& smoothDark, const cv::Mat& mask, const cv::Rect& box, double least, int& pixels)
{
    pixels = 0;
    // Priority flood from the box's edge (and every pixel outside the mask): the lowest
    // water first, each neighbour filled to at least the level it was reached at.
    const int w = box.width, h = box.height;
    std::vector<float> level(static_cast<size_t>(w * h), 0.0f);
    std::vector<char> done(static_cast<size_t>(w * h), 0);
    using Entry = std::pair<float, int>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> open;
    const auto value = [&](int i) { return smoothDark.at<float>(box.y + i / w, box.x + i % w); };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int i = y * w + x;
            if (x == 0 || y == 0 || x == w - 1 || y == h - 1 || !mask.at<uchar>(box.y + y, box.x + x)) {
                done[static_cast<size_t>(i)] = 1;
                level[static_cast<size_t>(i)] = value(i);
                open.emplace(level[static_cast<size_t>(i)], i);
            }
        }
    double deepest = 0.0;
    while (!open.empty()) {
        const auto [l, i] = open.top();
        open.pop();
        const int x = i % w;
        for (const int j : {i - 1, i + 1, i - w, i + w}) {
            if ((j == i - 1 && x == 0) || (j == i + 1 && x == w - 1) || j < 0 || j >= w * h || done[static_cast<size_t>(j)])
                continue;
            done[static_cast<size_t>(j)] = 1;
            const float v = value(j);
            level[static_cast<size_t>(j)] = std::max(l, v);
            const double dip = level[static_cast<size_t>(j)] - v;
            deepest = std::max(deepest, dip);
            pixels += dip > least;
            open.emplace(level[static_cast<size_t>(j)], j);
        }
    }
    return deepest;
}

float HollowRim(const cv::Mat& dark, const cv::Mat& smoothDark, const cv::Mat& mask, double noise)
{
    const cv::Rect box = (cv::boundingRect(mask) + cv::Size(2, 2) - cv::Point(1, 1)) & cv::Rect(cv::Point(), mask.size());
    float peak = 0.0f;
    double sx = 0.0, sy = 0.0, n = 0.0;
    for (int y = box.y; y < box.br().y; ++y) {
        const uchar* m = mask.ptr<uchar>(y);
        const float* sd = smoothDark.ptr<float>(y);
        for (int x = box.x; x < box.br().x; ++x)
            if (m[x])
                peak = std::max(peak, sd[x]), sx += x, sy += y, n += 1.0;
    }
    if (n < kHollowPixels)
        return 0.0f;
    // A ring around the middle: the flood only where the darkness there is low. A small
    // particle's centre the smoothing fills shows in the darkness itself, against a
    // pixel's whole noise.
    const cv::Point middle(cvRound(sx / n), cvRound(sy / n));
    const auto dips = [&](const cv::Mat& image, double least, int pixels) {
        if (image.at<float>(middle) > peak - least || !Walled(image, mask, middle, image.at<float>(middle) + least))
            return false;
        int dipping = 0;
        EnclosedDip(image, mask, box, least, dipping);
        return dipping >= pixels;
    };
    const bool hollow = dips(smoothDark, std::max(kHollowDepth * peak, kHollowNoise * kSmoothedNoise * noise), kHollowPixels) ||
                        dips(dark, std::max(kRawHollowDepth * peak, kRawHollowNoise * noise), kRawHollowPixels);
    return hollow ? peak : 0.0f;
}

namespace {

// The fit over one binning of the profile.
HollowEdge FitProfile(const Profile& profile, double radius, double blur, double rim)
{
    HollowEdge edge;
    // Contrast, shift, width, centre, blur: Levenberg-Marquardt over the bins weighed by
    // their pixels.
    const double root2pi = std::sqrt(2 * kPi);
    const auto cdf = [](double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); };  // Phi(-z)
    using Vec = cv::Vec<double, kParams>;
    using Mat = cv::Matx<double, kParams, kParams>;
    // The squared misfit at t and, when asked, the normal equations.
    const auto misfit = [&](const Vec& t, Mat* normal, Vec* rhs) {
        const double c = t[0], shift = t[1], w = t[2], cc = t[3], s = t[4];
        double cost = 0.0;
        for (size_t i = 0; i < profile.sum.size(); ++i) {
            const double n = profile.count[i];
            if (n == 0.0)
                continue;
            const double f = profile.first + (static_cast<double>(i) + 0.5) * kBin;
            const double z1 = (f - shift) / s, z2 = (f - shift + w) / s;
            const double p1 = cdf(z1), p2 = cdf(z2);
            const double residual = profile.sum[i] / n - (c * p1 - (c - cc) * p2);
            cost += n * residual * residual;
            if (!normal)
                continue;
            const double g1 = std::exp(-0.5 * z1 * z1) / root2pi, g2 = std::exp(-0.5 * z2 * z2) / root2pi;
            // d model / d (c, shift, w, cc, s)
            const Vec g(p1 - p2, (c * g1 - (c - cc) * g2) / s, (c - cc) * g2 / s, p2, (c * g1 * z1 - (c - cc) * g2 * z2) / s);
            *normal += n * g * g.t();
            *rhs += n * residual * g;
        }
        return cost;
    };
    Vec t(rim, 0.0, 0.4 * radius, 0.0, std::max(blur, 0.3));
    double damping = 1e-3;
    for (int iteration = 0; iteration < 30; ++iteration) {
        Mat normal = Mat::zeros();
        Vec rhs = Vec::all(0.0);
        const double now = misfit(t, &normal, &rhs);
        bool accepted = false;
        for (int attempt = 0; attempt < 6 && !accepted; ++attempt) {
            Mat damped = normal;
            for (int k = 0; k < kParams; ++k)
                damped(k, k) = damped(k, k) * (1.0 + damping) + 1e-12;
            Vec step;
            if (!cv::solve(damped, rhs, step, cv::DECOMP_CHOLESKY))
                return edge;
            Vec trial = t + step;
            trial[0] = std::max(trial[0], 0.01);
            trial[2] = std::clamp(trial[2], 0.3, 2.0 * radius);
            trial[4] = std::clamp(trial[4], 0.05, 5.0);
            if (misfit(trial, nullptr, nullptr) < now) {
                accepted = true;
                const bool small = std::abs(trial[1] - t[1]) < 1e-4 && std::abs(trial[4] - t[4]) < 1e-4;
                t = trial;
                damping = std::max(damping * 0.3, 1e-6);
                if (small)
                    iteration = 30;
            } else {
                damping *= 10.0;
            }
        }
        if (!accepted)
            break;
    }
    edge.valid = t[0] > 0.0 && std::abs(t[1]) < radius;
    edge.contrast = t[0], edge.shift = t[1], edge.width = t[2], edge.centre = t[3], edge.blur = t[4];
    return edge;
}

}  // namespace

HollowEdge FitHollowEdge(const cv::Mat& dark, const cv::Mat& owner, int id, const Ellipse& outline, double blur,
                         double rim)
{
    const double radius = std::min(outline.a, outline.b);
    if (radius < 1.0)
        return HollowEdge();
    // The binning undoes the blur's inward move of a bending edge: binned again at the
    // blur the fit finds, when it differs.
    // The reference moves to the edge found, so that the binning bends as the edge does.
    HollowEdge edge = FitProfile(BinProfile(dark, owner, id, outline, blur), radius, blur, rim);
    Ellipse reference = outline;
    double moved = 0.0;
    for (int round = 0; round < 2 && edge.valid && (std::abs(edge.blur - blur) > 0.05 || std::abs(edge.shift) > 0.1);
         ++round) {
        blur = edge.blur;
        moved += edge.shift;
        reference.a = outline.a + moved, reference.b = outline.b + moved;
        edge = FitProfile(BinProfile(dark, owner, id, reference, blur), radius, blur, rim);
    }
    edge.shift += moved;
    return edge;
}
