#include "stream/crossing_counter.h"

#include "toolkit/particle_blob.h"

#include <algorithm>
#include <cmath>
#include <limits>

// Where a track crosses the counting line, and the record of a particle that counts.

namespace {

// Least motion along the flow (pixels) that can carry a particle across the line.
constexpr double kLineNoise = 1.0;
// Least net motion (pixels) of a flow that gives it a sense.
constexpr double kClearMotion = 2.0;

}  // namespace

int CrossingCounter::FlowSense(int slot) const
{
    // The flow from the last start at or before the slot to its last slot linked so far.
    const auto after = std::upper_bound(flowStarts.begin(), flowStarts.end(), slot);
    const int start = after == flowStarts.begin() ? 0 : *(after - 1);
    int end = slot;
    while (end + 1 < static_cast<int>(given.size()) && given[static_cast<size_t>(end) + 1].linked &&
           !given[static_cast<size_t>(end) + 1].flowStart)
        ++end;
    const double net = (given[static_cast<size_t>(end)].at - given[static_cast<size_t>(start)].at).dot(axis);
    if (std::abs(net) >= kClearMotion)
        return net > 0.0 ? 1 : -1;
    // A flow whose frames share nothing that could be measured (one frame with particles,
    // or each frame beyond the last): its particles pass the way the others went. A flow
    // measured to stand still passes nothing.
    for (int k = start + 1; k <= end; ++k)
        if (given[static_cast<size_t>(k)].decided)
            return 0;
    return RecordSense();
}

int CrossingCounter::Crossings(const ParticleTrack& track, const TrackObservation** counted, int* forward,
                               int* backward) const
{
    *counted = nullptr;
    *forward = *backward = 0;
    const TrackObservation& first = track.seen.front();
    const TrackObservation& last = track.seen.back();
    const Slot& start = given[static_cast<size_t>(first.slot)];
    // Sides of the line: past it along the axis (1), or not yet (0). Before its first
    // frame the particle was where the flow comes from (the first frame of a flow) or one
    // motion back; after the last frame of a flow it goes where the flow goes. A particle
    // changes sides only when it moved kLineNoise or more since it took its side, so that a
    // centroid's noise cannot make a particle at rest on the line cross.
    int side = -1;  // not known yet
    double from = 0.0;
    const double far = std::numeric_limits<double>::infinity();
    if (start.flowStart) {
        const int sense = FlowSense(first.slot);
        side = sense > 0 ? 0 : sense < 0 ? 1 : -1;
        from = sense > 0 ? -far : far;
    } else if (start.reference >= 0) {
        from = Along(first.at - PredictedShift(track, start.reference, first.slot));
        side = from >= 0.0;
    }
    int net = 0;
    const auto cross = [&](double along, const TrackObservation& o) {
        const int now = along >= 0.0;
        if (side >= 0 && (now == side || std::abs(along - from) < kLineNoise))
            return;
        if (side >= 0) {
            const int sign = now ? 1 : -1;
            net += sign;
            ++(sign > 0 ? *forward : *backward);
            if (net == sign)
                *counted = &o;
        }
        side = now;
        from = along;
    };
    for (const TrackObservation& o : track.seen)
        cross(Along(o.at), o);
    if (given[static_cast<size_t>(last.slot)].flowEnd) {
        const int sense = FlowSense(last.slot);
        if (sense != 0)
            cross(sense * far, last);
    }
    if (net == 0)
        *counted = nullptr;
    return net;
}

cv::Point2d CrossingCounter::Velocity(const ParticleTrack& track) const
{
    const auto frameOf = [&](int slot) { return motions[static_cast<size_t>(slot)].frame; };
    if (track.firstWholeSlot >= 0 && track.lastWholeSlot > track.firstWholeSlot)
        return (track.lastWholeAt - track.firstWholeAt) / (frameOf(track.lastWholeSlot) - frameOf(track.firstWholeSlot));
    const TrackObservation& first = track.seen.front();
    const TrackObservation& own = track.seen[track.anchor];
    if (own.slot > first.slot && !first.shared)
        return (own.at - first.at) / (frameOf(own.slot) - frameOf(first.slot));
    // Seen once: the flow's speed at its place.
    const int slot = own.slot;
    if (slot > 0 && given[static_cast<size_t>(slot)].reference >= 0) {
        const int reference = given[static_cast<size_t>(slot)].reference;
        return PredictedShift(track, reference, slot) / (frameOf(slot) - frameOf(reference));
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return {nan, nan};
}

bool CrossingCounter::Record(const ParticleTrack& track, ParticleMeasure& record)
{
    const double area = track.PooledArea();
    if (area <= 0.0)
        return false;
    if (track.Static()) {
        ++summary.staticObjects;
        return false;
    }
    const TrackObservation* counted = nullptr;
    int forward = 0, backward = 0;
    const int net = Crossings(track, &counted, &forward, &backward);
    summary.crossingsForward += forward;
    summary.crossingsBackward += backward;
    if (net == 0 || !counted)
        return false;
    const ParticleBlob* shape = &track.wholeViews.front();
    for (const ParticleBlob& view : track.wholeViews)
        if (std::abs(view.area - area) < std::abs(shape->area - area))
            shape = &view;
    const cv::Point2d velocity = Velocity(track);
    record.frame = motions[static_cast<size_t>(counted->slot)].frame;
    record.x = static_cast<int>(counted->at.x);
    record.y = static_cast<int>(counted->at.y);
    record.area = static_cast<int>(std::lround(area));
    record.ratio = shape->ratio;
    record.circularity = shape->circularity;
    // Longest and shortest diameters, solidity and blur: pooled over the whole views.
    const ParticleBlob pooled = CombinedShape(track.wholeViews);
    record.feretMax = pooled.feretMax, record.feretMin = pooled.feretMin;
    record.solidity = pooled.solidity, record.blur = pooled.blur;
    record.inRange = record.area >= settings.minArea && record.area <= settings.maxArea;
    record.vx = velocity.x;
    record.vy = velocity.y;
    record.netCrossing = net;
    return true;
}
