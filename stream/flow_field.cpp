#include "stream/flow_field.h"

#include <algorithm>
#include <cmath>

namespace {

// Fewest samples behind a band's estimate; fewer borrow from the neighbouring bands.
constexpr int kMinSamples = 6;
// Least spread stated: the rates of a rigid flow still differ by the centroids' noise.
constexpr double kMinSpread = 0.005;

double Median(std::vector<double>& values)
{
    const auto middle = values.begin() + static_cast<long>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

FlowField::FlowField(double extentAcross, int bandCount, int perBand)
    : extent(extentAcross)
    , samplesPerBand(perBand)
    , samples(static_cast<size_t>(std::max(bandCount, 1)))
    , bands(samples.size())
{
}

int FlowField::Band(double across) const
{
    const int n = static_cast<int>(samples.size());
    if (extent <= 0.0)
        return 0;
    return std::clamp(static_cast<int>(across / extent * n), 0, n - 1);
}

void FlowField::Add(double across, double rate)
{
    std::deque<double>& band = samples[static_cast<size_t>(Band(across))];
    band.push_back(rate);
    if (static_cast<int>(band.size()) > samplesPerBand)
        band.pop_front();
    else
        ++total;
}

FlowField::Rate FlowField::Pooled(int band) const
{
    const int n = static_cast<int>(samples.size());
    const auto& own = samples[static_cast<size_t>(band)];
    std::vector<double> pool(own.begin(), own.end());
    for (int reach = 1; reach < n && static_cast<int>(pool.size()) < kMinSamples; ++reach)
        for (int b : {band - reach, band + reach})
            if (b >= 0 && b < n)
                pool.insert(pool.end(), samples[static_cast<size_t>(b)].begin(), samples[static_cast<size_t>(b)].end());
    Rate rate;
    if (pool.empty())
        return rate;
    rate.samples = static_cast<int>(pool.size());
    rate.rate = Median(pool);
    for (double& v : pool)
        v = std::abs(v - rate.rate);
    rate.spread = std::max(1.4826 * Median(pool), kMinSpread);
    return rate;
}

void FlowField::Update()
{
    for (size_t b = 0; b < bands.size(); ++b)
        bands[b] = Pooled(static_cast<int>(b));
}

FlowField::Rate FlowField::At(double across) const
{
    const int n = static_cast<int>(bands.size());
    if (total == 0 || extent <= 0.0)
        return {};
    // Between the centres of the two nearest bands; beyond the outer centres, the outer band.
    const double position = std::clamp(across / extent * n - 0.5, 0.0, n - 1.0);
    const int lower = std::min(static_cast<int>(position), n - 1);
    const int upper = std::min(lower + 1, n - 1);
    const double share = position - lower;
    const Rate& a = bands[static_cast<size_t>(lower)];
    const Rate& b = bands[static_cast<size_t>(upper)];
    Rate rate;
    rate.rate = (1.0 - share) * a.rate + share * b.rate;
    rate.spread = std::max(a.spread, b.spread);
    rate.samples = std::min(a.samples, b.samples);
    return rate;
}
