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

bool SimilarArea(double a, double b)
{
    return std::abs(a - b) <= std::max(4.0, 0.3 * std::max(a, b));
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// How far a blob lies from where a track's last own observation predicts it, 1 at the
// limit of what counts as the same particle; larger: not the same. An area far from the
// track's must sit closer: two particles cannot share a place, but a detection may see
// one merged with a speck or a neighbour for a frame.
double LinkCost(const ParticleBlob& last, double area, const ParticleBlob& b, double mx, double my, int width)
{
    if (Whole(last) && Whole(b)) {
        const double penalty = SimilarArea(area, b.area) ? 0.0 : 0.5;
        const double tol = std::max(2.5, 0.25 * std::sqrt(b.area));
        return std::hypot(b.centroid.x - last.centroid.x - mx, b.centroid.y - last.centroid.y - my) / tol + penalty;
    }
    // Cut by the frame: compare the box edges that the frame cuts on neither side.
    const double left = last.box.x + mx, right = last.box.x + last.box.width + mx;
    const double top = last.box.y + my, bottom = last.box.y + last.box.height + my;
    const double rowTol = std::max(3.0, 0.3 * std::max(last.box.height, b.box.height));
    const double dyc = std::abs(0.5 * (b.box.y + b.box.y + b.box.height) - 0.5 * (top + bottom));
    double edge = -1.0;
    if (b.box.x > 0 && left > 0.5 && !(last.touchesBorder && last.box.x == 0))
        edge = std::max(edge, std::abs(b.box.x - left));
    if (b.box.x + b.box.width < width && right < width - 0.5 &&
        !(last.touchesBorder && last.box.x + last.box.width == width))
        edge = std::max(edge, std::abs(b.box.x + b.box.width - right));
    if (edge < 0.0)
        return 2.0;
    return std::max(edge / 3.0, dyc / rowTol);
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
    std::vector<ParticleMeasure> records = LinkReady(true);
    if (!given.empty())
        given.back().flowEnd = true;
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

void CrossingCounter::Measure(int slot, const ParticleBlobs& blobs)
{
    Slot& s = given[static_cast<size_t>(slot)];
    s.reference = slot - 1;
    if (slot == 0) {
        s.state = SlotState::kMeasured;
        s.flowStart = true;
    }
    const int whole = WholeCount(blobs);
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

void CrossingCounter::Link(int f, const ParticleBlobs& blobs)
{
    const Slot& now = given[static_cast<size_t>(f)];
    const auto motionSince = [&](int slot) {
        const Slot& then = given[static_cast<size_t>(slot)];
        return cv::Point2d(now.x - then.x, now.y - then.y);
    };
    // Where each track's own last observation puts its particle now.
    std::vector<cv::Point2d> predicted;
    for (const Track& t : tracks) {
        const Observation& a = t.seen[t.anchor];
        predicted.push_back(a.at + motionSince(a.slot));
    }

    struct Candidate {
        double cost;
        size_t track, blob;
    };
    std::vector<Candidate> candidates;
    std::vector<size_t> byRow(blobs.size());
    for (size_t i = 0; i < blobs.size(); ++i)
        byRow[i] = i;
    std::sort(byRow.begin(), byRow.end(),
              [&](size_t a, size_t b) { return blobs[a].centroid.y < blobs[b].centroid.y; });
    for (size_t t = 0; t < tracks.size(); ++t) {
        const Observation& a = tracks[t].seen[tracks[t].anchor];
        const cv::Point2d m = motionSince(a.slot);
        const double reach = 0.5 * a.blob.box.height + 4.0;
        auto it = std::lower_bound(byRow.begin(), byRow.end(), predicted[t].y - reach,
                                   [&](size_t i, double y) { return blobs[i].centroid.y < y; });
        for (; it != byRow.end() && blobs[*it].centroid.y <= predicted[t].y + reach; ++it) {
            const double cost = LinkCost(a.blob, tracks[t].area, blobs[*it], m.x, m.y, settings.frameWidth);
            if (cost <= 1.0)
                candidates.push_back({cost, t, *it});
        }
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.cost < b.cost; });
    std::vector<char> trackUsed(tracks.size(), 0), blobUsed(blobs.size(), 0);
    const auto own = [&](Track& t, const ParticleBlob& b) {
        t.seen.push_back(Observation{f, b, b.centroid, false});
        t.anchor = t.seen.size() - 1;
        if (Whole(b))
            t.area = OwnWholeArea(t);
    };
    std::vector<int> owner(blobs.size(), -1);  // the track a blob continues
    for (const Candidate& c : candidates) {
        if (trackUsed[c.track] || blobUsed[c.blob])
            continue;
        trackUsed[c.track] = blobUsed[c.blob] = 1;
        owner[c.blob] = static_cast<int>(c.track);
        own(tracks[c.track], blobs[c.blob]);
    }

    const auto inside = [](const cv::Rect& box, const cv::Point2d& p) {
        return p.x >= box.x - 2 && p.x < box.x + box.width + 2 && p.y >= box.y - 2 && p.y < box.y + box.height + 2;
    };
    const auto placed = [&](size_t t) { return tracks[t].area > 0.0 && Whole(tracks[t].seen[tracks[t].anchor].blob); };

    // Split now: a track whose predicted box holds two or more blobs of about its area
    // together was those particles seen unsplit. Each of them takes its observations,
    // shared: a blob that continues another track adds them to it, any other begins a
    // new track with them.
    std::vector<Track> born;
    std::vector<char> dropped(tracks.size(), 0);
    for (size_t t = 0; t < tracks.size(); ++t) {
        if (trackUsed[t] || !placed(t))
            continue;
        const Observation& a = tracks[t].seen[tracks[t].anchor];
        const cv::Point2d m = motionSince(a.slot);
        const cv::Rect box(cvRound(a.blob.box.x + m.x), cvRound(a.blob.box.y + m.y), a.blob.box.width,
                           a.blob.box.height);
        std::vector<size_t> parts;
        double sum = 0.0;
        for (size_t i = 0; i < blobs.size(); ++i)
            if (Whole(blobs[i]) && (!blobUsed[i] || owner[i] >= 0) && inside(box, blobs[i].centroid)) {
                parts.push_back(i);
                sum += blobs[i].area;
            }
        if (parts.size() < 2 || sum < 0.75 * tracks[t].area - 4.0 || sum > 1.7 * tracks[t].area + 4.0)
            continue;
        dropped[t] = trackUsed[t] = 1;
        for (size_t i : parts) {
            Track fresh;
            Track& part = owner[i] >= 0 ? tracks[static_cast<size_t>(owner[i])] : fresh;
            for (Observation o : tracks[t].seen) {
                o.at = blobs[i].centroid - motionSince(o.slot);
                o.shared = true;
                if (std::none_of(part.seen.begin(), part.seen.end(),
                                 [&](const Observation& p) { return p.slot == o.slot; }))
                    part.seen.push_back(o);
            }
            std::stable_sort(part.seen.begin(), part.seen.end(),
                             [](const Observation& p, const Observation& q) { return p.slot < q.slot; });
            if (owner[i] >= 0) {
                part.anchor = part.seen.size() - 1;  // its own observation of this slot comes last
                continue;
            }
            blobUsed[i] = 1;
            own(part, blobs[i]);
            born.push_back(std::move(part));
        }
    }
    // Any other blob on the predicted place of a followed particle is a view of it, not a
    // new particle: in a rigid flow a particle away from the edges was seen before. Left
    // unsplit, it is shared by the unmatched tracks it holds; a piece of matched ones, it
    // is dropped.
    for (size_t i = 0; i < blobs.size(); ++i) {
        if (blobUsed[i])
            continue;
        std::vector<size_t> held;
        for (size_t t = 0; t < tracks.size(); ++t)
            if (!dropped[t] && placed(t) && inside(blobs[i].box, predicted[t]))
                held.push_back(t);
        if (held.empty())
            continue;
        blobUsed[i] = 1;
        for (size_t t : held) {
            if (trackUsed[t])
                continue;
            trackUsed[t] = 1;
            tracks[t].seen.push_back(Observation{f, blobs[i], predicted[t], true});
        }
    }
    std::vector<Track> kept;
    for (size_t t = 0; t < tracks.size(); ++t)
        if (!dropped[t])
            kept.push_back(std::move(tracks[t]));
    tracks = std::move(kept);
    for (Track& t : born)
        tracks.push_back(std::move(t));
    for (size_t i = 0; i < blobs.size(); ++i) {
        if (blobUsed[i])
            continue;
        tracks.emplace_back();
        own(tracks.back(), blobs[i]);
    }
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
    std::vector<double> areas;
    for (const Observation& o : track.seen)
        if (!o.shared && Whole(o.blob))
            areas.push_back(o.blob.area);
    return areas.empty() ? 0.0 : Median(areas);
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
    record.inRange = record.area >= settings.minArea && record.area <= settings.maxArea;
    return true;
}
