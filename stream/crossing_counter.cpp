#include "stream/crossing_counter.h"

#include <algorithm>
#include <cmath>

// The counter's frames: the common motion of each (measured, taken from its neighbours,
// or a break of the flow), the flow's axis and direction, and the tracks that end.

namespace {

// Fewest whole particles on each side for "hardly any pair agrees" to mean "nothing
// overlaps" rather than "too few particles to tell"; chance agreements of two or three
// pairs remain.
constexpr int kUnrelatedParticles = 8;
// Common motions at least this long (pixels) tell the flow's axis and its sense.
constexpr double kClearMotion = 2.0;

bool Whole(const ParticleBlob& b)
{
    return !b.touchesBorder && b.area > 0.0;
}

int WholeCount(const ParticleBlobs& blobs)
{
    return static_cast<int>(std::count_if(blobs.begin(), blobs.end(), Whole));
}

}  // namespace

CrossingCounter::CrossingCounter(const CrossingSettings& s)
    : settings(s)
    , centre(0.5 * s.frameWidth, 0.5 * s.frameHeight)
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
    if (pathLength < kClearMotion || axis == cv::Point2d())
        return FlowDirection::kUnknown;
    const double net = netMotion.dot(axis);
    const cv::Point2d way = net < 0.0 ? -axis : axis;
    if (std::abs(way.x) >= std::abs(way.y))
        return way.x > 0.0 ? FlowDirection::kLeftToRight : FlowDirection::kRightToLeft;
    return way.y > 0.0 ? FlowDirection::kTopToBottom : FlowDirection::kBottomToTop;
}

int CountingLineColumn(int extent)
{
    return std::clamp(static_cast<int>(std::ceil(0.5 * extent)), 0, std::max(extent, 0));
}

std::vector<SweptBand> CrossingCounter::SweptBands() const
{
    const FlowDirection direction = Direction();
    const bool vertical = direction == FlowDirection::kTopToBottom || direction == FlowDirection::kBottomToTop;
    const bool forward = direction != FlowDirection::kRightToLeft && direction != FlowDirection::kBottomToTop;
    const int extent = vertical ? settings.frameHeight : settings.frameWidth;
    const int at = CountingLineColumn(extent);
    std::vector<SweptBand> bands;
    long previous = 0;
    for (size_t k = 0; k < given.size(); ++k) {
        const Slot& s = given[k];
        // Whole columns (or rows): the bands of a flow join without gap or overlap.
        const long now = std::lround(vertical ? s.at.y : s.at.x);
        const long moved = std::clamp(forward ? now - previous : previous - now, 0L, static_cast<long>(extent));
        previous = now;
        SweptBand band{motions[k].frame, 0, extent};
        if (forward) {
            band.begin = s.flowEnd ? 0 : at;
            band.end = s.flowStart ? extent : std::min(at + static_cast<int>(moved), extent);
        } else {
            band.begin = s.flowStart ? 0 : std::max(at - static_cast<int>(moved), 0);
            band.end = s.flowEnd ? extent : at;
        }
        bands.push_back(band);
    }
    return bands;
}

TrackingSummary CrossingCounter::Summary() const
{
    TrackingSummary s = summary;
    if (RecordSense() < 0)
        std::swap(s.crossingsForward, s.crossingsBackward);
    return s;
}

int CrossingCounter::RecordSense() const
{
    return netMotion.dot(axis) < 0.0 ? -1 : 1;
}

MotionPrior CrossingCounter::VotePrior() const
{
    MotionPrior prior;
    prior.axis = axis;
    if (axis == cv::Point2d())
        return prior;
    if (lastWholeRates.size() == lastWhole.size()) {
        prior.rates = lastWholeRates;
    } else if (!field.Empty()) {
        for (const ParticleBlob& b : lastWhole)
            prior.rates.push_back(field.At(Across(b.centroid)).rate);
    }
    return prior;
}

void CrossingCounter::NoteAxis(const cv::Point2d& motion, int support)
{
    const double length = cv::norm(motion);
    if (length < kClearMotion)
        return;
    const cv::Point2d d = motion / length;
    axisTensor += support * cv::Matx22d(d.x * d.x, d.x * d.y, d.x * d.y, d.y * d.y);
    if (firstMotion == cv::Point2d())
        firstMotion = d;
    // The principal direction of the tensor, signed as the first clear motion.
    const double angle = 0.5 * std::atan2(2.0 * axisTensor(0, 1), axisTensor(0, 0) - axisTensor(1, 1));
    cv::Point2d u(std::cos(angle), std::sin(angle));
    if (u.dot(firstMotion) < 0.0)
        u = -u;
    const bool turned =
        axis == cv::Point2d() || (std::abs(u.x) >= std::abs(u.y)) != (std::abs(axis.x) >= std::abs(axis.y));
    axis = u;
    if (turned) {
        // Bands across the flow, from the frame's edge on the one side to the other.
        const cv::Point2d w(-u.y, u.x);
        field = FlowField(std::abs(settings.frameWidth * w.x) + std::abs(settings.frameHeight * w.y));
    }
}

double CrossingCounter::Across(const cv::Point2d& p) const
{
    // From the frame's corner lowest across the flow.
    const cv::Point2d w(-axis.y, axis.x);
    const double low = std::min(0.0, settings.frameWidth * w.x) + std::min(0.0, settings.frameHeight * w.y);
    return p.dot(w) - low;
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
        const cv::Size size(settings.frameWidth, settings.frameHeight);
        ParticleMotion m = MeasureParticleMotion(lastWhole, blobs, size, VotePrior());
        // A flow that turned, or an axis taken from a chance agreement: any displacement votes.
        if (!m.decided && axis != cv::Point2d())
            m = MeasureParticleMotion(lastWhole, blobs, size);
        if (m.decided) {
            s.state = SlotState::kMeasured;
            s.decided = true;
            s.measured = {m.dx, m.dy};
            s.spread = m.spread;
            NoteAxis(s.measured, m.support);
        } else if (const int fewer = std::min(whole, WholeCount(lastWhole));
                   fewer >= kUnrelatedParticles && m.agreement < 0) {
            s.state = SlotState::kUnrelated;
        }
    }
    if (whole > 0) {
        lastWhole = blobs;
        lastWholeSlot = slot;
        lastWholeRates.clear();
    }
}

void CrossingCounter::NoteMotion(int slot, const cv::Point2d& motion)
{
    netMotion += motion;
    pathLength += cv::norm(motion);
    const double along = motion.dot(axis);
    if (std::abs(along) < kClearMotion)
        return;
    clearPace = std::abs(along) / (motions[static_cast<size_t>(slot)].frame - motions[static_cast<size_t>(slot) - 1].frame);
    const int sense = along > 0.0 ? 1 : -1;
    if (lastSense != 0 && sense != lastSense)
        summary.directionChanges.push_back(motions[static_cast<size_t>(slot)].frame);
    lastSense = sense;
}

std::vector<ParticleMeasure> CrossingCounter::BreakFlow(int f)
{
    Slot& s = given[static_cast<size_t>(f)];
    given[static_cast<size_t>(f) - 1].flowEnd = true;
    given[static_cast<size_t>(s.reference)].flowEnd = true;
    std::vector<ParticleMeasure> ended = EndTracks(true, f);
    s.flowStart = true;
    lastSense = 0;
    return ended;
}

bool CrossingCounter::PlaceUndecided(int f, bool final, std::vector<ParticleMeasure>& records)
{
    Slot& s = given[static_cast<size_t>(f)];
    FrameMotion& motion = motions[static_cast<size_t>(f)];
    const Slot& previous = given[static_cast<size_t>(f) - 1];
    const Pending* next = nullptr;
    for (const Pending& p : pending)
        if (p.slot > f && given[static_cast<size_t>(p.slot)].state == SlotState::kMeasured) {
            next = &p;
            break;
        }
    if (!next && !final)
        return false;
    motion.source = MotionSource::kFromNeighbours;
    const double frames = motion.frame - motions[static_cast<size_t>(f) - 1].frame;
    if (next && given[static_cast<size_t>(next->slot)].reference < f) {
        // No whole particles here: the next slot's motion spans this one.
        const Slot& n = given[static_cast<size_t>(next->slot)];
        const Slot& r = given[static_cast<size_t>(n.reference)];
        const double rf = motions[static_cast<size_t>(n.reference)].frame;
        const double share = (motion.frame - rf) / (motions[static_cast<size_t>(next->slot)].frame - rf);
        s.at = r.at + share * n.measured;
        return true;
    }
    cv::Point2d sum;
    int rates = 0;
    if (hasPace) {
        sum += pace;
        ++rates;
    }
    if (next) {
        const Slot& n = given[static_cast<size_t>(next->slot)];
        sum += n.measured / (motions[static_cast<size_t>(next->slot)].frame -
                             motions[static_cast<size_t>(n.reference)].frame);
        ++rates;
    }
    s.at = previous.at + (rates ? sum / rates * frames : cv::Point2d());
    // No motion measured anywhere: nothing relates these particles to those before, so
    // they begin a flow of their own rather than stand still.
    if (!rates && !s.flowStart && WholeCount(pending.front().blobs) > 0) {
        const std::vector<ParticleMeasure> ended = BreakFlow(f);
        records.insert(records.end(), ended.begin(), ended.end());
    }
    return true;
}

std::vector<ParticleMeasure> CrossingCounter::LinkReady(bool final)
{
    std::vector<ParticleMeasure> records;
    while (!pending.empty()) {
        const int f = pending.front().slot;
        Slot& s = given[static_cast<size_t>(f)];
        FrameMotion& motion = motions[static_cast<size_t>(f)];
        if (f == 0) {
            // The first slot: nothing to move.
        } else if (s.state == SlotState::kMeasured) {
            s.at = given[static_cast<size_t>(s.reference)].at + s.measured;
            pace = s.measured / (motion.frame - motions[static_cast<size_t>(s.reference)].frame);
            hasPace = true;
        } else if (s.state == SlotState::kUnrelated) {
            const std::vector<ParticleMeasure> ended = BreakFlow(f);
            records.insert(records.end(), ended.begin(), ended.end());
            s.at = given[static_cast<size_t>(f) - 1].at;
            motion.source = MotionSource::kUnrelated;
        } else if (!PlaceUndecided(f, final, records)) {
            break;
        }
        if (f > 0) {
            const cv::Point2d d = s.at - given[static_cast<size_t>(f) - 1].at;
            motion.dx = d.x;
            motion.dy = d.y;
            NoteMotion(f, d);
        }
        if (s.flowStart)
            flowStarts.push_back(f);
        Link(f, pending.front().blobs);
        s.linked = true;
        pending.pop_front();
        const std::vector<ParticleMeasure> ended = EndTracks(false, f);
        records.insert(records.end(), ended.begin(), ended.end());
    }
    return records;
}

bool CrossingCounter::Gone(const ParticleTrack& track, int f) const
{
    const TrackObservation& a = track.seen[track.anchor];
    const cv::Point2d m = PredictedShift(track, a.slot, f);
    const cv::Rect2d box(a.blob.box.x + m.x, a.blob.box.y + m.y, a.blob.box.width, a.blob.box.height);
    return box.x >= settings.frameWidth || box.x + box.width <= 0.0 || box.y >= settings.frameHeight ||
           box.y + box.height <= 0.0;
}

std::vector<ParticleMeasure> CrossingCounter::EndTracks(bool all, int f)
{
    std::vector<ParticleMeasure> records;
    std::vector<ParticleTrack> kept;
    for (ParticleTrack& track : tracks) {
        const bool ends = all || f - track.seen.back().slot > settings.maxGap ||
                          (track.seen.back().slot < f && Gone(track, f));
        if (!ends) {
            kept.push_back(std::move(track));
        } else if (!all && given[static_cast<size_t>(track.seen.front().slot)].flowStart) {
            deferred.push_back(std::move(track));
        } else {
            ParticleMeasure record{};
            if (Record(track, record))
                records.push_back(record);
        }
    }
    tracks = std::move(kept);
    if (all) {
        // The flow is over: its net sense is known.
        for (const ParticleTrack& track : deferred) {
            ParticleMeasure record{};
            if (Record(track, record))
                records.push_back(record);
        }
        deferred.clear();
    }
    return records;
}
