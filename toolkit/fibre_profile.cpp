#include "toolkit/fibre_profile.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBin = 0.25;  // pixels across the axis per bin
constexpr int kParams = 4;     // contrast, width, offset, blur

}  // namespace

FibreProfile FitFibreProfile(const cv::Mat& dark, const cv::Mat& owner, int id, const cv::Point2d& centre,
                             double angle, double halfLength, double blur, double noise, bool fitBlur)
{
    FibreProfile fit;
    const double reach = 3.0 * std::max(blur, 0.3) + 4.0;
    const cv::Point2d along(std::cos(angle), std::sin(angle)), across(-along.y, along.x);
    const size_t bins = static_cast<size_t>(2.0 * reach / kBin) + 1;
    std::vector<double> sum(bins, 0.0), count(bins, 0.0);
    const int extent = static_cast<int>(std::ceil(halfLength + reach));
    const cv::Rect near =
        cv::Rect(cvRound(centre.x) - extent, cvRound(centre.y) - extent, 2 * extent + 1, 2 * extent + 1) &
        cv::Rect(cv::Point(), dark.size());
    double peak = 0.0;
    for (int y = near.y; y < near.br().y; ++y) {
        const float* d = dark.ptr<float>(y);
        const int* o = owner.ptr<int>(y);
        for (int x = near.x; x < near.br().x; ++x) {
            if (o[x] != id)
                continue;
            const cv::Point2d q = cv::Point2d(x, y) - centre;
            if (std::abs(q.dot(along)) > halfLength)
                continue;
            const double i = (q.dot(across) + reach) / kBin;
            if (i >= 0.0 && i < static_cast<double>(bins)) {
                sum[static_cast<size_t>(i)] += d[x], count[static_cast<size_t>(i)] += 1.0;
                peak = std::max(peak, static_cast<double>(d[x]));
            }
        }
    }
    using Vec = cv::Vec<double, kParams>;
    using Mat = cv::Matx<double, kParams, kParams>;
    const double root2pi = std::sqrt(2 * kPi);
    const auto cdf = [](double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); };  // Phi(z)
    const auto misfit = [&](const Vec& t, Mat* normal, Vec* rhs) {
        const double c = t[0], w = t[1], o = t[2], s = t[3];
        double cost = 0.0;
        for (size_t i = 0; i < bins; ++i) {
            const double n = count[i];
            if (n == 0.0)
                continue;
            const double v = -reach + (static_cast<double>(i) + 0.5) * kBin - o;
            const double za = (0.5 * w - v) / s, zb = (-0.5 * w - v) / s;
            const double band = cdf(za) - cdf(zb);
            const double residual = sum[i] / n - c * band;
            cost += n * residual * residual;
            if (!normal)
                continue;
            const double ga = std::exp(-0.5 * za * za) / root2pi, gb = std::exp(-0.5 * zb * zb) / root2pi;
            // d model / d (c, w, offset, blur); the blur held when known
            const Vec g(band, c * 0.5 * (ga + gb) / s, c * (ga - gb) / s, fitBlur ? -c * (ga * za - gb * zb) / s : 0.0);
            *normal += n * g * g.t();
            *rhs += n * residual * g;
        }
        return cost;
    };
    Vec t(std::max(peak, 0.05), 2.0, 0.0, std::max(blur, 0.3));
    double damping = 1e-3;
    Mat normal;
    for (int iteration = 0; iteration < 40; ++iteration) {
        normal = Mat::zeros();
        Vec rhs = Vec::all(0.0);
        const double now = misfit(t, &normal, &rhs);
        bool accepted = false;
        for (int attempt = 0; attempt < 6 && !accepted; ++attempt) {
            Mat damped = normal;
            for (int k = 0; k < kParams; ++k)
                damped(k, k) = damped(k, k) * (1.0 + damping) + (k == 3 && !fitBlur ? 1.0 : 1e-12);
            Vec step;
            if (!cv::solve(damped, rhs, step, cv::DECOMP_CHOLESKY))
                return fit;
            Vec trial = t + step;
            trial[0] = std::max(trial[0], 0.01);
            trial[1] = std::clamp(trial[1], 0.3, 2.0 * reach);
            trial[3] = std::clamp(trial[3], 0.05, 5.0);
            if (misfit(trial, nullptr, nullptr) < now) {
                accepted = true;
                const bool small = std::abs(trial[1] - t[1]) < 1e-5 && std::abs(trial[0] - t[0]) < 1e-6;
                t = trial;
                damping = std::max(damping * 0.3, 1e-7);
                if (small)
                    iteration = 40;
            } else {
                damping *= 10.0;
            }
        }
        if (!accepted)
            break;
    }
    fit.contrast = t[0], fit.width = t[1], fit.offset = t[2], fit.blur = t[3];
    const Mat inverse = normal.inv(cv::DECOMP_CHOLESKY);
    fit.contrastSd = noise * std::sqrt(std::max(0.0, inverse(0, 0)));
    fit.valid = t[0] > 0.01 && t[1] > 0.3;
    return fit;
}
