#include "toolkit/blurred_area.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

}  // namespace

double GaussianMassInEllipse(double a, double b, double s)
{
    if (a <= 0.0 || b <= 0.0)
        return 0.0;
    if (s <= 0.0)
        return 1.0;
    // Mass of the Gaussian inside the radius rho(phi) of each direction, averaged over
    // the directions. The integrand is smooth and periodic, so the midpoint rule over a
    // quarter turn converges fast.
    constexpr int kSteps = 16;
    const double a2 = a * a, b2 = b * b, twoS2 = 2.0 * s * s;
    double sum = 0.0;
    for (int i = 0; i < kSteps; ++i) {
        const double phi = (i + 0.5) * (0.5 * kPi / kSteps);
        const double c = std::cos(phi), n = std::sin(phi);
        const double rho2 = a2 * b2 / (b2 * c * c + a2 * n * n);
        sum += 1.0 - std::exp(-rho2 / twoS2);
    }
    return sum / kSteps;
}

BlurredArea AreaFromDarkness(double darknessSum, double centreDarkness, double ratio, double blurSigma,
                             double weightSigma)
{
    BlurredArea result;
    if (darknessSum <= 0.0 || centreDarkness <= 0.0)
        return result;
    const double q = std::clamp(ratio, 0.05, 1.0);
    const double s = std::hypot(blurSigma, weightSigma);
    // centre / sum = mass(A) / A falls as A grows; its largest value, that of a point,
    // is 1 / (2 pi s^2). Above it the particle is smaller than the model resolves.
    const double target = centreDarkness / darknessSum;
    const auto massPerArea = [&](double area) {
        const double a = std::sqrt(area / (kPi * q)), b = a * q;
        return GaussianMassInEllipse(a, b, s) / area;
    };
    double lo = 1e-3, hi = darknessSum / centreDarkness;  // mass <= 1, so the area is at most sum / centre
    if (massPerArea(hi) >= target) {
        lo = hi;
    } else if (massPerArea(lo) <= target) {
        hi = lo;
    } else {
        for (int i = 0; i < 40 && hi > lo * (1.0 + 1e-5); ++i) {
            const double mid = std::sqrt(lo * hi);
            (massPerArea(mid) > target ? lo : hi) = mid;
        }
    }
    result.area = 0.5 * (lo + hi);
    result.contrast = darknessSum / result.area;
    return result;
}
