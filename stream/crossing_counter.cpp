#include "stream/crossing_counter.h"

#include "stream/particle_motion.h"

#include <algorithm>
#include <cmath>

namespace {

// Fewest whole particles on each side for "hardly any pair agrees" to mean "nothing
// overlaps" rather than "too few particles to tell"; chance agreements of two or three
// pairs remain.
constexpr int kUnrelatedParticles = 8;

bool Whole(const ParticleBlob& b)
{
    return !b.touchesBorder && b.area > 0.0;
}

int WholeCount(const ParticleBlobs& blobs)
{
    return static_cast<int>(std::count_if(blobs.begin(), blobs.end(), Whole));
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

}  // namespace

CrossingCounter::CrossingCounter(const CrossingSettings& s)
    : settings(s)
    , line(s.linePosition * s.frameWidth)
{
}

std::vector<ParticleMeasure> CrossingCounter::AddFrame(int frame, const ParticleBlobs& blobs)
{
    if (finished || (!motions.empty() && frame <= motions.back().frame))
        return {};
    const int slot = static_cast<int>(given.size());
    motions.push_back(FrameMotion{frame, 0.0, 0.0, MotionSource::kMeasured});
    given.emplace_back();
    Measure(slot, blobs);
    pending.push_back(Pending{slot, blobs});
    return LinkReady(false);
}

std::vector<ParticleMeasure> CrossingCounter::Finish()
{
    if (finished)
        return {};
    // The last frame ends the flow, and so does the last one with whole particles: what
    // it shows before the line is never seen again.
    if (!given.empty())
        given.back().flowEnd = true;
    if (lastWholeSlot >= 0)
        given[static_cast<size_t>(lastWholeSlot)].flowEnd = true;
    std::vector<ParticleMeasure> records = LinkReady(true);
    std::vector<ParticleMeasure> rest = EndTracks(true, static_cast<int>(given.size()));
    records.insert(records.end(), rest.begin(), rest.end());
    finished = true;
    return records;
}

int CrossingCounter::UnmeasuredMotions() const
{
    int n = 0;
    for (size_t k = 1; k < motions.size(); ++k)
        n += motions[k].source != MotionSource::kMeasured;
    return n;
}

FlowDirection CrossingCounter::Direction() const
{
    if (sumDx > 0.0)
        return FlowDirection::kLeftToRight;
    if (sumDx < 0.0)
        return FlowDirection::kRightToLeft;
    return FlowDirection::kUnknown;
}

std::vector<SweptBand> CrossingCounter::SweptBands() const
{
    const int width = settings.frameWidth;
    const int at = std::clamp(static_cast<int>(std::ceil(line)), 0, width);
    const bool rightward = Direction() != FlowDirection::kRightToLeft;
    std::vector<SweptBand> bands;
    long previous = 0;
    for (size_t k = 0; k < given.size(); ++k) {
        const Slot& s = given[k];
        // Whole columns: the bands of a flow join without gap or overlap.
        const long now = std::lround(s.x);
        const long moved = std::clamp(rightward ? now - previous : previous - now, 0L, static_cast<long>(width));
        previous = now;
        SweptBand band{motions[k].frame, 0, width};
        if (rightward) {
            band.begin = s.flowEnd ? 0 : at;
            band.end = s.flowStart ? width : std::min(at + static_cast<int>(moved), width);
        } else {
            band.begin = s.flowStart ? 0 : std::max(at - static_cast<int>(moved), 0);
            band.end = s.flowEnd ? width : at;
        }
        bands.push_back(band);
    }
    return bands;
}

void CrossingCounter::Measure(int slot, const ParticleBlobs& blobs)
{
    Slot& s = given[static_cast<size_t>(slot)];
    s.reference = slot - 1;
    if (slot == 0) {
        s.state = SlotState::kMeasured;
        s.flowStart = true;
    }
    const int whole = WholeCount(blobs);
    // The first frame with whole particles begins the flow: nothing before it shows what
    // is already past the line.
    if (whole > 0 && lastWholeSlot < 0)
        s.flowStart = true;
    if (slot > 0 && lastWholeSlot >= 0 && whole > 0) {
        s.reference = lastWholeSlot;
        const ParticleMotion m = MeasureParticleMotion(lastWhole, blobs, settings.frameWidth);
        if (m.decided) {
            s.state = SlotState::kMeasured;
            s.measuredDx = m.dx;
            s.measuredDy = m.dy;
        } else if (const int fewer = std::min(whole, WholeCount(lastWhole));
                   fewer >= kUnrelatedParticles && m.support <= 2 + fewer / 10) {
            s.state = SlotState::kUnrelated;
        }
    }
    if (whole > 0) {
        lastWhole = blobs;
        lastWholeSlot = slot;
    }
}

std::vector<ParticleMeasure> CrossingCounter::LinkReady(bool final)
{
    std::vector<ParticleMeasure> records;
    while (!pending.empty()) {
        const int f = pending.front().slot;
        Slot& s = given[static_cast<size_t>(f)];
        FrameMotion& motion = motions[static_cast<size_t>(f)];
        const Slot* previous = f > 0 ? &given[static_cast<size_t>(f) - 1] : nullptr;
        if (f == 0) {
            // The first slot: nothing to move.
        } else if (s.state == SlotState::kMeasured) {
            const Slot& r = given[static_cast<size_t>(s.reference)];
            s.x = r.x + s.measuredDx;
            s.y = r.y + s.measuredDy;
            const double frames = motion.frame - motions[static_cast<size_t>(s.reference)].frame;
            rateX = s.measuredDx / frames;
            rateY = s.measuredDy / frames;
            hasRate = true;
            sumDx += s.measuredDx;
        } else if (s.state == SlotState::kUnrelated) {
            given[static_cast<size_t>(f) - 1].flowEnd = true;
            given[static_cast<size_t>(s.reference)].flowEnd = true;
            const std::vector<ParticleMeasure> ended = EndTracks(true, f);
            records.insert(records.end(), ended.begin(), ended.end());
            s.flowStart = true;
            s.x = previous->x;
            s.y = previous->y;
            motion.source = MotionSource::kUnrelated;
        } else {
            // Undecided: between the decided neighbours.
            const Pending* next = nullptr;
            for (const Pending& p : pending)
                if (p.slot > f && given[static_cast<size_t>(p.slot)].state == SlotState::kMeasured) {
                    next = &p;
                    break;
                }
            if (!next && !final)
                break;
            motion.source = MotionSource::kFromNeighbours;
            const double frames = motion.frame - motions[static_cast<size_t>(f) - 1].frame;
            if (next && given[static_cast<size_t>(next->slot)].reference < f) {
                // No whole particles here: the next slot's motion spans this one.
                const Slot& n = given[static_cast<size_t>(next->slot)];
                const Slot& r = given[static_cast<size_t>(n.reference)];
                const double rf = motions[static_cast<size_t>(n.reference)].frame;
                const double share = (motion.frame - rf) / (motions[static_cast<size_t>(next->slot)].frame - rf);
                s.x = r.x + share * n.measuredDx;
                s.y = r.y + share * n.measuredDy;
            } else {
                double rx = 0.0, ry = 0.0;
                int rates = 0;
                if (hasRate) {
                    rx += rateX;
                    ry += rateY;
                    ++rates;
                }
                if (next) {
                    const Slot& n = given[static_cast<size_t>(next->slot)];
                    const double nf = motions[static_cast<size_t>(next->slot)].frame -
                                      motions[static_cast<size_t>(n.reference)].frame;
                    rx += n.measuredDx / nf;
                    ry += n.measuredDy / nf;
                    ++rates;
                }
                s.x = previous->x + (rates ? rx / rates * frames : 0.0);
                s.y = previous->y + (rates ? ry / rates * frames : 0.0);
                // No motion measured anywhere: nothing relates these particles to those
                // before, so they begin a flow of their own rather than stand still.
                if (!rates && !s.flowStart && WholeCount(pending.front().blobs) > 0) {
                    given[static_cast<size_t>(f) - 1].flowEnd = given[static_cast<size_t>(s.reference)].flowEnd = true;
                    const std::vector<ParticleMeasure> ended = EndTracks(true, f);
                    records.insert(records.end(), ended.begin(), ended.end());
                    s.flowStart = true;
                }
            }
        }
        if (previous) {
            motion.dx = s.x - previous->x;
            motion.dy = s.y - previous->y;
        }
        Link(f, pending.front().blobs);
        pending.pop_front();
        const std::vector<ParticleMeasure> ended = EndTracks(false, f);
        records.insert(records.end(), ended.begin(), ended.end());
    }
    return records;
}

std::vector<ParticleMeasure> CrossingCounter::EndTracks(bool all, int f)
{
    std::vector<ParticleMeasure> records;
    std::vector<Track> kept;
    for (Track& track : tracks) {
        const Observation& a = track.seen[track.anchor];
        bool ends = all || f - track.seen.back().slot > settings.maxGap;
        if (!ends && track.seen.back().slot < f) {
            // Gone: where it would be now lies wholly outside the frame.
            const double mx = given[static_cast<size_t>(f)].x - given[static_cast<size_t>(a.slot)].x;
            ends = a.blob.box.x + mx >= settings.frameWidth || a.blob.box.x + a.blob.box.width + mx <= 0.0;
        }
        if (!ends) {
            kept.push_back(std::move(track));
            continue;
        }
        ParticleMeasure record{};
        if (Record(track, record))
            records.push_back(record);
    }
    tracks = std::move(kept);
    return records;
}

const CrossingCounter::Observation* CrossingCounter::Crossing(const Track& track) const
{
    const bool rightward = Direction() != FlowDirection::kRightToLeft;
    const auto past = [&](double x) { return rightward ? x >= line : x < line; };
    const auto x = [&](int slot) { return given[static_cast<size_t>(slot)].x; };
    // One place in the flow for the whole track, so that the noise of single centroids
    // cannot make it cross twice or never.
    std::vector<double> places;
    for (const Observation& o : track.seen)
        places.push_back(o.at.x - x(o.slot));
    const double place = Median(places);
    const auto crossesAt = [&](int slot, int before) { return !past(place + x(before)) && past(place + x(slot)); };
    const Observation& first = track.seen.front();
    const Slot& start = given[static_cast<size_t>(first.slot)];
    if (start.flowStart ? past(place + x(first.slot)) : crossesAt(first.slot, start.reference))
        return &first;
    for (size_t k = 1; k < track.seen.size(); ++k)
        if (crossesAt(track.seen[k].slot, track.seen[k - 1].slot))
            return &track.seen[k];
    const Observation& last = track.seen.back();
    if (given[static_cast<size_t>(last.slot)].flowEnd && !past(place + x(last.slot)))
        return &last;
    return nullptr;
}

double CrossingCounter::OwnWholeArea(const Track& track)
{
    ParticleBlobs views;
    std::vector<double> areas;
    for (const Observation& o : track.seen)
        if (!o.shared && Whole(o.blob)) {
            views.push_back(o.blob);
            areas.push_back(o.blob.area);
        }
    if (views.empty())
        return 0.0;
    // Views that state how far they may be off are pooled by it; pixel counts of a
    // mask state nothing, and their median keeps a stray view out.
    const bool spreads = std::any_of(views.begin(), views.end(), [](const ParticleBlob& b) { return b.areaSd > 0.0; });
    return spreads ? CombinedArea(views) : Median(areas);
}

bool CrossingCounter::Record(const Track& track, ParticleMeasure& record) const
{
    const double area = OwnWholeArea(track);
    if (area <= 0.0)
        return false;
    const Observation* counted = Crossing(track);
    if (!counted) {
        if (settings.rule == CountingRule::kLine)
            return false;
        counted =
            &*std::min_element(track.seen.begin(), track.seen.end(), [&](const Observation& a, const Observation& b) {
                return std::abs(a.at.x - line) < std::abs(b.at.x - line);
            });
    }
    const ParticleBlob* shape = nullptr;
    for (const Observation& o : track.seen)
        if (!o.shared && Whole(o.blob) && (!shape || std::abs(o.blob.area - area) < std::abs(shape->area - area)))
            shape = &o.blob;
    record.frame = motions[static_cast<size_t>(counted->slot)].frame;
    record.x = static_cast<int>(counted->at.x);
    record.y = static_cast<int>(counted->at.y);
    record.area = static_cast<int>(std::lround(area));
    record.ratio = shape->ratio;
    record.circularity = shape->circularity;
    // Longest and shortest diameters, solidity and blur: pooled over the whole views.
    ParticleBlobs whole;
    for (const Observation& o : track.seen)
        if (!o.shared && Whole(o.blob))
            whole.push_back(o.blob);
    const ParticleBlob pooled = CombinedShape(whole);
    record.feretMax = pooled.feretMax, record.feretMin = pooled.feretMin;
    record.solidity = pooled.solidity, record.blur = pooled.blur;
    record.inRange = record.area >= settings.minArea && record.area <= settings.maxArea;
    return true;
}
