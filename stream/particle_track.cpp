#include "stream/particle_track.h"
#include "toolkit/median.h"

#include <algorithm>

double ParticleTrack::Rate() const
{
    return rates.empty() ? 1.0 : MedianOf(rates);
}

double ParticleTrack::Drift() const
{
    return drifts.empty() ? 0.0 : MedianOf(drifts);
}

void ParticleTrack::AddRate(double rate, double drift)
{
    rates.push_back(rate);
    drifts.push_back(drift);
    if (rates.size() > kTrackRates) {
        rates.erase(rates.begin());
        drifts.erase(drifts.begin());
    }
}

void ParticleTrack::ClearViews()
{
    wholeViews.clear();
    firstWholeSlot = lastWholeSlot = -1;
    area = 0.0;
}

void ParticleTrack::AddWholeView(int slot, const ParticleBlob& blob)
{
    if (firstWholeSlot < 0) {
        firstWholeSlot = slot;
        firstWholeAt = blob.centroid;
    }
    lastWholeSlot = slot;
    lastWholeAt = blob.centroid;
    if (wholeViews.size() >= kTrackViews) {
        // Every other view goes: those kept still span the track's whole life.
        ParticleBlobs kept;
        for (size_t k = 0; k < wholeViews.size(); k += 2)
            kept.push_back(wholeViews[k]);
        wholeViews = std::move(kept);
    }
    wholeViews.push_back(blob);
    area = PooledArea();
}

double ParticleTrack::PooledArea() const
{
    if (wholeViews.empty())
        return 0.0;
    // Views that state how far they may be off are pooled by it; pixel counts of a mask
    // state nothing, and their median keeps a stray view out.
    const bool spreads =
        std::any_of(wholeViews.begin(), wholeViews.end(), [](const ParticleBlob& b) { return b.areaSd > 0.0; });
    if (spreads)
        return CombinedArea(wholeViews);
    std::vector<double> areas;
    for (const ParticleBlob& b : wholeViews)
        areas.push_back(b.area);
    return MedianOf(areas);
}
