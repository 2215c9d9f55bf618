#include "toolkit/particle_blob.h"
#include "toolkit/median.h"

#include <algorithm>
#include <cmath>

double CombinedArea(const std::vector<ParticleBlob>& views)
{
    if (views.empty())
        return 0.0;
    // Relative spreads: a view that happens to come out larger also states a larger
    // areaSd, which must not pull the mean down.
    std::vector<double> areas, relative;
    for (const ParticleBlob& v : views) {
        areas.push_back(v.area);
        if (v.areaSd > 0.0 && v.area > 0.0)
            relative.push_back(v.areaSd / v.area);
    }
    const double median = MedianOf(areas);
    const double typical = relative.empty() ? 0.05 : MedianOf(relative);
    const double largest = relative.empty() ? 1.0 : *std::max_element(relative.begin(), relative.end());
    // Strays lie further from the median than four typical spreads (and a pixel).
    const double tolerance = 4.0 * std::max(typical, 0.02) * median + 1.0;
    double sum = 0.0, weight = 0.0;
    for (const ParticleBlob& v : views) {
        if (std::abs(v.area - median) > tolerance)
            continue;
        const double r = v.areaSd > 0.0 && v.area > 0.0 ? v.areaSd / v.area : largest;
        sum += v.area / (r * r), weight += 1.0 / (r * r);
    }
    return weight > 0.0 ? sum / weight : median;
}

ParticleBlob CombinedShape(const std::vector<ParticleBlob>& views)
{
    ParticleBlob shape;
    const auto median = [&](double ParticleBlob::*member) {
        std::vector<double> values;
        for (const ParticleBlob& v : views)
            if (v.*member > 0.0)
                values.push_back(v.*member);
        return values.empty() ? 0.0 : MedianOf(values);
    };
    shape.feretMax = median(&ParticleBlob::feretMax);
    shape.feretMin = median(&ParticleBlob::feretMin);
    shape.solidity = median(&ParticleBlob::solidity);
    shape.blur = median(&ParticleBlob::blur);
    return shape;
}
