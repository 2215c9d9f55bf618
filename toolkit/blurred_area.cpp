#include "toolkit/blurred_area.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMinRatio = 0.15;

}  // namespace

double GaussianMassInEllipse(double a, double b, double s)
{
    return GaussianMomentsInEllipse(a, b, s).mass;
}

namespace {

// GaussianMomentsInEllipse and, when `slope` is given, the derivatives of its mass and
// moments by the log of the ellipse's area (both axes scaled together).
GaussianMoments Quadrature(double a, double b, double s, GaussianMoments* slope)
{
    GaussianMoments m;
    if (slope)
        *slope = GaussianMoments();
    if (a <= 0.0 || b <= 0.0)
        return m;
    if (s <= 0.0) {
        m.mass = 1.0;
        return m;
    }
    // Along each direction phi the ellipse reaches rho(phi); the Gaussian's mass within
    // it is 1 - e^-U and its second moment s^2 (2 - 2 (1 + U) e^-U), U = rho^2 / 2 s^2.
    // The integrands are smooth and periodic, so the midpoint rule over a quarter turn
    // converges fast. U grows as the area: d/d ln(area) of the two is U e^-U and U^2 e^-U.
    constexpr int kSteps = 8;  // errors below 1e-5 for axis ratios down to 0.3
    struct Directions {
        double c2[kSteps], n2[kSteps];  // squared cosine and sine of each direction
        Directions()
        {
            for (int i = 0; i < kSteps; ++i) {
                const double phi = (i + 0.5) * (0.5 * kPi / kSteps);
                c2[i] = std::cos(phi) * std::cos(phi), n2[i] = std::sin(phi) * std::sin(phi);
            }
        }
    };
    static const Directions directions;
    const double a2 = a * a, b2 = b * b, twoS2 = 2.0 * s * s;
    double mass = 0.0, xx = 0.0, yy = 0.0, dMass = 0.0, dxx = 0.0, dyy = 0.0;
    for (int i = 0; i < kSteps; ++i) {
        const double c2 = directions.c2[i], n2 = directions.n2[i];
        const double u = a2 * b2 / (b2 * c2 + a2 * n2) / twoS2;
        const double e = std::exp(-u);
        const double second = 1.0 - (1.0 + u) * e;
        mass += 1.0 - e;
        xx += c2 * second, yy += n2 * second;
        const double ue = u * e, uue = u * ue;
        dMass += ue, dxx += c2 * uue, dyy += n2 * uue;
    }
    m.mass = mass / kSteps;
    m.xx = 2.0 * s * s * xx / kSteps;
    m.yy = 2.0 * s * s * yy / kSteps;
    if (slope) {
        slope->mass = dMass / kSteps;
        slope->xx = 2.0 * s * s * dxx / kSteps;
        slope->yy = 2.0 * s * s * dyy / kSteps;
    }
    return m;
}

}  // namespace

GaussianMoments GaussianMomentsInEllipse(double a, double b, double s)
{
    return Quadrature(a, b, s, nullptr);
}

double WeightedDarkness(double area, double ratio, double blur, double weight)
{
    if (area <= 0.0 || weight <= 0.0)
        return 0.0;
    const double q = std::clamp(ratio, kMinRatio, 1.0);
    const double a = std::sqrt(area / (kPi * q));
    return 2.0 * kPi * weight * weight * GaussianMassInEllipse(a, a * q, std::hypot(blur, weight));
}

BlurredEllipse EllipseFromWeightedSums(const WeightedSums& sums, double blur)
{
    BlurredEllipse result;
    const double wa = sums.narrowWeight, wb = sums.wideWeight;
    if (sums.narrow <= 0.0 || sums.wide <= 0.0 || wa <= 0.0 || wb <= wa)
        return result;
    const double sa = std::hypot(blur, wa), sb = std::hypot(blur, wb);
    const double k = std::pow(wb / sb, 4);
    // Residuals of the log share of the narrow sum and of the anisotropy under the wide
    // weight for an area and axis ratio. The narrow share falls from that of a point to
    // that of a particle much wider than both weights as the area grows; the anisotropy
    // falls to 0 as the ratio grows to 1.
    const double target = std::log(sums.narrow / sums.wide) - 2.0 * std::log(wa / wb);
    const auto residuals = [&](double logArea, double q, double& share, double& aniso) {
        const double a = std::sqrt(std::exp(logArea) / (kPi * q));
        const GaussianMoments m = GaussianMomentsInEllipse(a, a * q, sb);
        share = std::log(GaussianMassInEllipse(a, a * q, sa) / m.mass) - target;
        aniso = k * (m.xx - m.yy) / m.mass - sums.anisotropy;
    };
    // The same with their derivatives by the log area.
    const auto withSlopes = [&](double logArea, double q, double& share, double& aniso, double& shareSlope,
                                double& anisoSlope) {
        const double a = std::sqrt(std::exp(logArea) / (kPi * q));
        GaussianMoments da, db;
        const GaussianMoments ma = Quadrature(a, a * q, sa, &da);
        const GaussianMoments mb = Quadrature(a, a * q, sb, &db);
        share = std::log(ma.mass / mb.mass) - target;
        aniso = k * (mb.xx - mb.yy) / mb.mass - sums.anisotropy;
        shareSlope = da.mass / ma.mass - db.mass / mb.mass;
        anisoSlope = k * ((db.xx - db.yy) / mb.mass - (mb.xx - mb.yy) * db.mass / (mb.mass * mb.mass));
    };
    // Start: a disc, whose share has a closed form; Newton steps on log area alone.
    double x = std::log(sums.areaGuess > 0.0 ? sums.areaGuess : kPi * wb * wb), q = 1.0;
    const double maxLog = std::log(1e7), minLog = std::log(1e-2);
    for (int i = 0; i < 30; ++i) {
        double f, g, fx, gx;
        withSlopes(x, q, f, g, fx, gx);
        const bool round = q >= 1.0 && g >= 0.0;  // a disc already shows at least the anisotropy seen
        double dx, dq = 0.0;
        if (round || sums.anisotropy <= 0.0) {
            if (fx >= 0.0)
                break;
            dx = -f / fx;
            q = 1.0;
        } else {
            double f2, g2;
            const double qh = q > 0.5 ? -1e-4 : 1e-4;
            residuals(x, q + qh, f2, g2);
            const double fq = (f2 - f) / qh, gq = (g2 - g) / qh;
            const double det = fx * gq - fq * gx;
            if (std::abs(det) < 1e-300)
                break;
            dx = (-f * gq + g * fq) / det;
            dq = (-g * fx + f * gx) / det;
        }
        dx = std::clamp(dx, -1.0, 1.0);
        dq = std::clamp(dq, -0.2, 0.2);
        x = std::clamp(x + dx, minLog, maxLog);
        q = std::clamp(q + dq, kMinRatio, 1.0);
        if (std::abs(dx) < 1e-6 && std::abs(dq) < 1e-6)
            break;
    }
    const double area = std::exp(x);
    double f, g, f1, g1;
    constexpr double kStep = 0.02;
    residuals(x + kStep, q, f1, g1);
    residuals(x - kStep, q, f, g);
    result.area = area;
    result.ratio = q;
    result.contrast = sums.wide / WeightedDarkness(area, q, blur, wb);
    result.slope = (f1 - f) / (2 * kStep);
    return result;
}
