#include "stream/flow_field.h"

#include <algorithm>
#include <cmath>

namespace {

// Fewest samples behind a band's line; fewer take in the neighbouring bands.
constexpr size_t kMinSamples = 8;
// Least spread stated: the rates of a rigid flow still differ by the centroids' noise.
constexpr double kMinSpread = 0.005;
// Spread stated for a band without samples of its own, falling with the root of their number.
constexpr double kUnsure = 0.1;

double Median(std::vector<double> values)
{
    const auto middle = values.begin() + static_cast<long>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

struct Fitted {
    double rate = 0.0, slope = 0.0;
};

// Least squares line through the samples about `centre` (flat when they barely spread
// across), from those within `limit` of the line given (all of them when limit < 0).
template <class Samples>
Fitted FitLine(const Samples& samples, double centre, const Fitted& line, double limit, double minSpan)
{
    double n = 0.0, sq = 0.0, sr = 0.0, sqq = 0.0, sqr = 0.0;
    for (const auto& s : samples) {
        const double q = s.across - centre;
        if (limit >= 0.0 && std::abs(s.rate - line.rate - line.slope * q) > limit)
            continue;
        n += 1.0, sq += q, sr += s.rate, sqq += q * q, sqr += q * s.rate;
    }
    if (n < 1.0)
        return line;
    const double variance = sqq / n - (sq / n) * (sq / n);
    Fitted fit;
    if (n >= 3.0 && variance > minSpan * minSpan) {
        fit.slope = (sqr / n - (sq / n) * (sr / n)) / variance;
        fit.rate = sr / n - fit.slope * sq / n;
    } else {
        fit.rate = sr / n;
    }
    return fit;
}

}  // namespace

FlowField::FlowField(double extentAcross, int bandCount, int perBand)
    : extent(extentAcross)
    , samplesPerBand(perBand)
    , samples(static_cast<size_t>(std::max(bandCount, 1)))
    , lines(samples.size())
{
}

int FlowField::Band(double across) const
{
    const int n = static_cast<int>(samples.size());
    if (extent <= 0.0)
        return 0;
    return std::clamp(static_cast<int>(across / extent * n), 0, n - 1);
}

double FlowField::Centre(int band) const
{
    return (band + 0.5) * extent / static_cast<double>(samples.size());
}

void FlowField::Add(double across, double rate)
{
    std::deque<Sample>& band = samples[static_cast<size_t>(Band(across))];
    band.push_back({across, rate});
    if (static_cast<int>(band.size()) > samplesPerBand)
        band.pop_front();
    else
        ++total;
}

FlowField::Line FlowField::Fit(int band) const
{
    const int n = static_cast<int>(samples.size());
    // Its own samples and its neighbours', more of them while they are few.
    const std::deque<Sample>& own = samples[static_cast<size_t>(band)];
    std::vector<Sample> pool(own.begin(), own.end());
    for (int reach = 1; reach < n && (reach < 2 || pool.size() < kMinSamples); ++reach)
        for (int b : {band - reach, band + reach})
            if (b >= 0 && b < n)
                pool.insert(pool.end(), samples[static_cast<size_t>(b)].begin(), samples[static_cast<size_t>(b)].end());
    Line line;
    if (pool.empty())
        return line;
    // Robustly: a median start, a fit, and a refit on the samples near the first line.
    const double centre = Centre(band);
    std::vector<double> rates;
    for (const Sample& s : pool)
        rates.push_back(s.rate);
    Fitted fit{Median(rates), 0.0};
    const double minSpan = 0.25 * extent / n;
    std::vector<double> residuals;
    for (int round = 0; round < 2; ++round) {
        residuals.clear();
        for (const Sample& s : pool)
            residuals.push_back(std::abs(s.rate - fit.rate - fit.slope * (s.across - centre)));
        const double limit = 3.0 * std::max(1.4826 * Median(residuals), 0.02);
        fit = FitLine(pool, centre, fit, limit, minSpan);
    }
    residuals.clear();
    for (const Sample& s : pool)
        residuals.push_back(std::abs(s.rate - fit.rate - fit.slope * (s.across - centre)));
    line.at.rate = fit.rate;
    line.slope = fit.slope;
    line.at.samples = static_cast<int>(pool.size());
    // The samples' spread about the line, and the line's own uncertainty while it has few:
    // a band with few samples of its own extends its neighbours' line, which a profile's
    // curvature near a wall bends away from it.
    const double spread = 1.4826 * Median(residuals) * (1.0 + 2.0 / std::sqrt(static_cast<double>(pool.size())));
    const double unsure = kUnsure / std::sqrt(static_cast<double>(own.size()) + 1.0);
    // Far from any sample the profile may have turned: by as much as a profile that falls
    // from full speed to rest over half the channel.
    double nearest = extent;
    for (const Sample& s : pool)
        nearest = std::min(nearest, std::abs(s.across - centre));
    const double turned = 2.0 / extent * nearest;
    line.at.spread = std::max({spread, unsure, kMinSpread}) + turned;
    return line;
}

void FlowField::Update()
{
    for (size_t b = 0; b < lines.size(); ++b)
        lines[b] = Fit(static_cast<int>(b));
}

FlowField::Rate FlowField::At(double across) const
{
    const int n = static_cast<int>(lines.size());
    if (total == 0 || extent <= 0.0)
        return {};
    const double position = across / extent * n - 0.5;
    if (position <= 0.0 || position >= n - 1.0) {
        // Beyond the outer centres: the outer band's line, extended.
        const int b = position <= 0.0 ? 0 : n - 1;
        const Line& line = lines[static_cast<size_t>(b)];
        Rate rate = line.at;
        rate.rate += line.slope * (across - Centre(b));
        return rate;
    }
    const int lower = static_cast<int>(position);
    const int upper = lower + 1;
    const double share = position - lower;
    const Line& a = lines[static_cast<size_t>(lower)];
    const Line& b = lines[static_cast<size_t>(upper)];
    Rate rate;
    rate.rate = (1.0 - share) * a.at.rate + share * b.at.rate;
    rate.spread = std::max(a.at.spread, b.at.spread);
    rate.samples = std::min(a.at.samples, b.at.samples);
    return rate;
}
