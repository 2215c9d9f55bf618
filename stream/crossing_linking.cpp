#include "stream/crossing_counter.h"
#include "stream/point_grid.h"
#include "stream/track_assignment.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>

// Linking the particles of a frame to the tracks of the counting-line counter: predict,
// gather the candidates within each prediction's gate, assign all at once, then the
// particles the detection merged or split, then new tracks.

namespace {

bool Whole(const ParticleBlob& b)
{
    return !b.touchesBorder && b.area > 0.0;
}

// How far a particle's place may be off its prediction from noise alone (pixels).
double BaseTolerance(double area)
{
    return std::max(2.5, 0.25 * std::sqrt(area));
}

bool Inside(const cv::Rect& box, const cv::Point2d& p)
{
    return p.x >= box.x - 2 && p.x < box.x + box.width + 2 && p.y >= box.y - 2 && p.y < box.y + box.height + 2;
}

// Cells of the grids that find blobs in a predicted box and predictions in a blob (pixels).
constexpr double kGridCell = 32.0;

// The candidates (sorted by track and blob, as Candidates gives them) ordered by blob:
// (blob, position).
template <class C>
std::vector<std::pair<int, size_t>> ByBlob(const std::vector<C>& candidates)
{
    std::vector<std::pair<int, size_t>> order;
    order.reserve(candidates.size());
    for (size_t k = 0; k < candidates.size(); ++k)
        order.emplace_back(candidates[k].blob, k);
    std::sort(order.begin(), order.end());
    return order;
}

// The link's rivals: the candidates of its track or of its blob, not both; and the link's own candidate.
template <class C>
std::vector<const C*> RivalsOf(const LinkCandidate& link, const std::vector<C>& candidates,
                               const std::vector<std::pair<int, size_t>>& byBlob, const C** own = nullptr)
{
    std::vector<const C*> rivals;
    auto t = std::lower_bound(candidates.begin(), candidates.end(), link.track,
                              [](const C& c, int track) { return c.track < track; });
    for (; t != candidates.end() && t->track == link.track; ++t) {
        if (t->blob != link.blob)
            rivals.push_back(&*t);
        else if (own)
            *own = &*t;
    }
    for (auto b = std::lower_bound(byBlob.begin(), byBlob.end(), std::make_pair(link.blob, size_t{0}));
         b != byBlob.end() && b->first == link.blob; ++b)
        if (candidates[b->second].track != link.track)
            rivals.push_back(&candidates[b->second]);
    return rivals;
}

// A rival candidate this much dearer than the link chosen still makes it ambiguous.
constexpr double kAmbiguityMargin = 0.3;
// Cost added per frame a track went unseen.
constexpr double kGapPenalty = 0.1;

// The residual of one frame axis for blobs cut by the frame's edge: the box edges that
// neither cuts (their mean when both are free), else the box centres, loosely.
struct AxisResidual {
    double e = 0.0;
    double slack = 0.0;  // added to the tolerance
};

AxisResidual EdgeResidual(double lo0, double hi0, double shift, double lo1, double hi1, int extent)
{
    const bool loFree = lo0 > 0.0 && lo1 > 0.0 && lo0 + shift > 0.5;
    const bool hiFree = hi0 < extent && hi1 < extent && hi0 + shift < extent - 0.5;
    if (loFree && hiFree)
        return {0.5 * ((lo1 - lo0 - shift) + (hi1 - hi0 - shift)), 1.0};
    if (loFree)
        return {lo1 - lo0 - shift, 1.0};
    if (hiFree)
        return {hi1 - hi0 - shift, 1.0};
    return {0.5 * (lo1 + hi1) - 0.5 * (lo0 + hi0) - shift, std::max(3.0, 0.3 * std::max(hi0 - lo0, hi1 - lo1))};
}

}  // namespace

cv::Point2d CrossingCounter::Residual(const ParticleBlob& from, const cv::Point2d& shift, const ParticleBlob& to,
                                      cv::Point2d& slack) const
{
    slack = {};
    if (Whole(from) && Whole(to))
        return to.centroid - (from.centroid + shift);
    const cv::Rect& a = from.box;
    const cv::Rect& b = to.box;
    const AxisResidual x = EdgeResidual(a.x, a.x + a.width, shift.x, b.x, b.x + b.width, settings.frameWidth);
    const AxisResidual y = EdgeResidual(a.y, a.y + a.height, shift.y, b.y, b.y + b.height, settings.frameHeight);
    slack = {x.slack, y.slack};
    return {x.e, y.e};
}

cv::Point2d CrossingCounter::PredictedShift(const ParticleTrack& track, int from, int to) const
{
    const cv::Point2d common = given[static_cast<size_t>(to)].at - given[static_cast<size_t>(from)].at;
    if (axis == cv::Point2d())
        return common;
    const cv::Point2d w(-axis.y, axis.x);
    const double along = common.dot(axis);
    const double rate = track.HasRate() ? track.Rate() : field.At(Across(track.seen[track.anchor].at)).rate;
    const double drift = track.HasRate() ? track.Drift() : 0.0;
    return rate * along * axis + (drift * along + common.dot(w)) * w;
}

std::vector<CrossingCounter::Prediction> CrossingCounter::Predict(int f, const FlowField& with) const
{
    const cv::Point2d u = axis == cv::Point2d() ? cv::Point2d(1.0, 0.0) : axis;
    const cv::Point2d w(-u.y, u.x);
    std::vector<Prediction> predictions;
    for (size_t t = 0; t < tracks.size(); ++t) {
        const ParticleTrack& track = tracks[t];
        const TrackObservation& a = track.seen[track.anchor];
        const cv::Point2d common = given[static_cast<size_t>(f)].at - given[static_cast<size_t>(a.slot)].at;
        const double along = common.dot(u), across = common.dot(w);
        const double base = BaseTolerance(track.area > 0.0 ? track.area : a.blob.area);
        const double gap = kGapPenalty * (f - a.slot - 1);
        Prediction p;
        p.track = static_cast<int>(t);
        p.penalty = gap;
        if (track.HasRate()) {
            const double rate = track.Rate();
            p.shift = rate * along * u + (track.Drift() * along + across) * w;
            p.along = base + 0.03 * std::abs(rate * along);
            p.across = base + 0.01 * std::abs(along);
            p.kind = Hypothesis::kOwn;
            predictions.push_back(p);
            if (rate >= 0.3) {
                // A moving particle may stop (caught on the wall, on dirt): found where it
                // stood, at a cost, rather than taken for a new particle that crossed.
                p.shift = across * w;
                p.along = p.across = 0.5 * base;
                p.penalty = gap + 0.6;
                p.kind = Hypothesis::kRest;
                if (std::abs(rate * along) > 4.0 * base)
                    predictions.push_back(p);
                continue;
            }
        }
        // Not linked yet, or at rest: moving at the flow's speed at its place ...
        const FlowField::Rate r = with.At(Across(a.at));
        p.shift = r.rate * along * u + across * w;
        p.along = base + std::min(2.5 * r.spread, 0.5) * std::abs(along);
        p.across = base + 0.01 * std::abs(along);
        p.penalty = gap + (track.HasRate() ? 0.3 : 0.0);
        p.kind = Hypothesis::kField;
        predictions.push_back(p);
        // ... or at rest while the flow moves past it (dirt, a stuck particle), where the
        // camera may carry it across the flow or not.
        if (track.HasRate() || std::abs(r.rate * along) <= 2.0 * base)
            continue;
        p.shift = 0.5 * across * w;
        p.along = base;
        p.across = base + 0.5 * std::abs(across);
        p.penalty = gap + 0.2;
        p.kind = Hypothesis::kRest;
        predictions.push_back(p);
    }
    return predictions;
}

std::vector<CrossingCounter::Candidate> CrossingCounter::Candidates(const std::vector<Prediction>& predictions,
                                                                    const ParticleBlobs& blobs) const
{
    const cv::Point2d u = axis == cv::Point2d() ? cv::Point2d(1.0, 0.0) : axis;
    const cv::Point2d w(-u.y, u.x);
    // Blobs ordered across the flow: each gate looks at a narrow range of them.
    std::vector<std::pair<double, int>> byAcross;
    int widest = 0;
    for (size_t i = 0; i < blobs.size(); ++i) {
        byAcross.emplace_back(blobs[i].centroid.dot(w), static_cast<int>(i));
        widest = std::max({widest, blobs[i].box.width, blobs[i].box.height});
    }
    std::sort(byAcross.begin(), byAcross.end());
    std::vector<Candidate> candidates;
    for (const Prediction& p : predictions) {
        const ParticleTrack& track = tracks[static_cast<size_t>(p.track)];
        const TrackObservation& a = track.seen[track.anchor];
        const double area = track.area > 0.0 ? track.area : a.blob.area;
        const double q = (a.at + p.shift).dot(w);
        const double reach = p.across + 0.5 * (widest + std::max(a.blob.box.width, a.blob.box.height)) + 3.0;
        auto it = std::lower_bound(byAcross.begin(), byAcross.end(), std::make_pair(q - reach, -1));
        for (; it != byAcross.end() && it->first <= q + reach; ++it) {
            const ParticleBlob& b = blobs[static_cast<size_t>(it->second)];
            cv::Point2d slack;
            const cv::Point2d e = Residual(a.blob, p.shift, b, slack);
            const double extra = std::abs(slack.dot(u)) + std::abs(slack.dot(w));
            const double d = std::hypot(e.dot(u) / (p.along + extra), e.dot(w) / (p.across + extra));
            const bool similar = !Whole(a.blob) || !Whole(b) || SimilarParticleArea(area, b.area);
            const double cost = d + p.penalty + (similar ? 0.0 : 0.5);
            if (cost < 1.0)
                candidates.push_back({cost, p.track, it->second, p.kind});
        }
    }
    // One candidate per track and blob: the cheapest hypothesis.
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& x, const Candidate& y) {
        return std::tie(x.track, x.blob, x.cost) < std::tie(y.track, y.blob, y.cost);
    });
    candidates.erase(std::unique(candidates.begin(), candidates.end(),
                                 [](const Candidate& x, const Candidate& y) {
                                     return x.track == y.track && x.blob == y.blob;
                                 }),
                     candidates.end());
    return candidates;
}

std::vector<LinkCandidate> CrossingCounter::Assign(const std::vector<Candidate>& candidates) const
{
    std::vector<LinkCandidate> plain;
    for (const Candidate& c : candidates)
        plain.push_back({c.track, c.blob, c.cost});
    return AssignLinks(plain);
}

FlowField CrossingCounter::FirstField(int f, const ParticleBlobs& blobs) const
{
    // Nothing known of the flow's speeds yet: the first links, within wide gates, tell them.
    const std::vector<Candidate> candidates = Candidates(Predict(f, field), blobs);
    FlowField learnt(field);
    const std::vector<std::pair<int, size_t>> byBlob = ByBlob(candidates);
    for (const LinkCandidate& link : Assign(candidates)) {
        const ParticleTrack& track = tracks[static_cast<size_t>(link.track)];
        const ParticleBlob& b = blobs[static_cast<size_t>(link.blob)];
        const TrackObservation& a = track.seen[track.anchor];
        const double along = (given[static_cast<size_t>(f)].at - given[static_cast<size_t>(a.slot)].at).dot(axis);
        if (!Whole(a.blob) || !Whole(b) || std::abs(along) < 2.0 ||
            Ambiguous(link, RivalsOf(link, candidates, byBlob)))
            continue;
        learnt.Add(Across(a.at), (b.centroid - a.at).dot(axis) / along);
    }
    learnt.Update();
    return learnt;
}

bool CrossingCounter::Ambiguous(const LinkCandidate& link, const std::vector<const Candidate*>& rivals)
{
    return std::any_of(rivals.begin(), rivals.end(),
                       [&](const Candidate* c) { return c->cost < link.cost + kAmbiguityMargin; });
}

bool CrossingCounter::ChangesCrossing(const LinkCandidate& link, const std::vector<const Candidate*>& rivals,
                                      const ParticleBlobs& blobs, bool jumped) const
{
    const auto side = [this](const cv::Point2d& p) { return Along(p) >= 0.0; };
    const auto anchorSide = [&](int t) {
        const ParticleTrack& track = tracks[static_cast<size_t>(t)];
        return side(track.seen[track.anchor].at);
    };
    const bool from = anchorSide(link.track), to = side(blobs[static_cast<size_t>(link.blob)].centroid);
    // A track whose speed jumped across the line: perhaps another particle's crossing.
    if (jumped && from != to)
        return true;
    // A rival nearly as good that would put the track, or the particle, on the other side.
    return std::any_of(rivals.begin(), rivals.end(), [&](const Candidate* c) {
        return c->cost < link.cost + kAmbiguityMargin &&
               (c->track == link.track ? side(blobs[static_cast<size_t>(c->blob)].centroid) != to
                                       : anchorSide(c->track) != from);
    });
}

void CrossingCounter::Link(int f, const ParticleBlobs& blobs)
{
    const bool learning = field.Empty() && axis != cv::Point2d() && !tracks.empty();
    const FlowField first = learning ? FirstField(f, blobs) : FlowField();
    const std::vector<Prediction> predictions = Predict(f, learning ? first : field);
    std::vector<Candidate> candidates = Candidates(predictions, blobs);
    std::vector<cv::Point2d> centroids;
    centroids.reserve(blobs.size());
    for (const ParticleBlob& b : blobs)
        centroids.push_back(b.centroid);
    const PointGrid blobGrid(centroids, kGridCell);
    const std::vector<char> apart = FallingApart(predictions, blobs, blobGrid);
    candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                    [&](const Candidate& c) { return apart[static_cast<size_t>(c.track)]; }),
                     candidates.end());
    std::vector<char> trackUsed(tracks.size(), 0), blobUsed(blobs.size(), 0);
    std::vector<int> owner(blobs.size(), -1);  // the track a blob continues
    std::vector<FieldSample> samples;
    std::vector<ParticleTrack> born;  // beside the tracks followed, the tracks begun in this slot
    const std::vector<std::pair<int, size_t>> byBlob = ByBlob(candidates);
    for (const LinkCandidate& link : Assign(candidates)) {
        const Candidate* chosen = nullptr;
        const std::vector<const Candidate*> rivals = RivalsOf(link, candidates, byBlob, &chosen);
        ParticleTrack& track = tracks[static_cast<size_t>(link.track)];
        // A track that was followed at its own speed and is now found only by the field's:
        // its speed jumped. After a single link, that link was another particle's (two
        // particles in a line at speeds of their own): the track goes on without its first
        // observation, which ends alone.
        bool jumped = chosen->kind != Hypothesis::kOwn && track.HasRate();
        if (jumped && chosen->kind == Hypothesis::kField && track.rates.size() == 1 && track.seen.size() == 2 && !track.seen[0].shared &&
            !track.seen[1].shared) {
            born.push_back(DetachFirst(track));
            jumped = false;
        }
        const bool unsure = jumped || Ambiguous(link, rivals);
        summary.ambiguousLinks += unsure && ChangesCrossing(link, rivals, blobs, jumped);
        NoteLink(track, f, blobs[static_cast<size_t>(link.blob)], unsure, samples);
        trackUsed[static_cast<size_t>(link.track)] = blobUsed[static_cast<size_t>(link.blob)] = 1;
        owner[static_cast<size_t>(link.blob)] = link.track;
    }
    std::vector<char> dropped(tracks.size(), 0);
    SplitTracks(f, blobs, blobGrid, predictions, trackUsed, blobUsed, owner, dropped, born);
    ShareBlobs(f, blobs, predictions, trackUsed, blobUsed, dropped);
    if (f == lastWholeSlot)
        NoteRates(blobs, owner);
    std::vector<ParticleTrack> kept;
    for (size_t t = 0; t < tracks.size(); ++t)
        if (!dropped[t])
            kept.push_back(std::move(tracks[t]));
    tracks = std::move(kept);
    for (ParticleTrack& t : born)
        tracks.push_back(std::move(t));
    for (size_t i = 0; i < blobs.size(); ++i) {
        if (blobUsed[i])
            continue;
        tracks.emplace_back();
        Own(tracks.back(), f, blobs[i]);
    }
    for (ParticleTrack& t : tracks)
        Fold(t);
    for (const FieldSample& s : samples)
        field.Add(s.across, s.rate);
    field.Update();
}

void CrossingCounter::NoteLink(ParticleTrack& track, int f, const ParticleBlob& blob, bool ambiguous,
                               std::vector<FieldSample>& samples)
{
    ++summary.links;
    const TrackObservation& a = track.seen[track.anchor];
    const cv::Point2d common = given[static_cast<size_t>(f)].at - given[static_cast<size_t>(a.slot)].at;
    const double along = axis == cv::Point2d() ? 0.0 : common.dot(axis);
    if (std::abs(along) >= 2.0) {
        const cv::Point2d w(-axis.y, axis.x);
        cv::Point2d slack;
        const cv::Point2d d = Residual(a.blob, {}, blob, slack);
        const double rate = d.dot(axis) / along;
        const double rest = std::abs(field.At(Across(a.at)).rate * along);
        if (slack.dot(slack) <= 2.0)
            track.AddRate(rate, (d.dot(w) - common.dot(w)) / along);
        // At rest while the flow moved at its place, or moving with it.
        if (rest >= 6.0)
            ++(std::abs(d.dot(axis)) <= std::max(2.5, 0.2 * rest) ? track.restLinks : track.movingLinks);
        if (!ambiguous && Whole(a.blob) && Whole(blob) && rate >= 0.1)
            samples.push_back({Across(0.5 * (a.at + blob.centroid)), rate});
    }
    Own(track, f, blob);
}

void CrossingCounter::Own(ParticleTrack& track, int f, const ParticleBlob& blob)
{
    track.seen.push_back(TrackObservation{f, blob, blob.centroid, false});
    track.anchor = track.seen.size() - 1;
    if (Whole(blob))
        track.AddWholeView(f, blob);
}

ParticleTrack CrossingCounter::DetachFirst(ParticleTrack& track) const
{
    ParticleTrack first;
    first.seen = {track.seen.front()};
    track.seen.erase(track.seen.begin());
    track.anchor = track.seen.size() - 1;
    track.rates.clear();
    track.drifts.clear();
    track.restLinks = track.movingLinks = 0;
    for (ParticleTrack* t : {&first, &track}) {
        t->ClearViews();
        for (const TrackObservation& o : t->seen)
            if (!o.shared && Whole(o.blob))
                t->AddWholeView(o.slot, o.blob);
    }
    return first;
}

void CrossingCounter::NoteRates(const ParticleBlobs& blobs, const std::vector<int>& owner)
{
    // A particle's own rate, unless the flow's at its place predicts it within half a
    // pixel a frame: that one rests on many links, and a rigid flow then votes exactly.
    const double perFrame = clearPace;
    lastWholeRates.clear();
    for (size_t i = 0; i < blobs.size(); ++i) {
        const ParticleTrack* t = owner[i] >= 0 ? &tracks[static_cast<size_t>(owner[i])] : nullptr;
        const double flow = field.At(Across(blobs[i].centroid)).rate;
        const bool own = t && t->HasRate() && std::abs(t->Rate() - flow) * perFrame >= 0.5;
        lastWholeRates.push_back(own ? t->Rate() : flow);
    }
}

std::vector<size_t> CrossingCounter::Parts(const Prediction& p, const ParticleBlobs& blobs, const PointGrid& grid,
                                           const std::vector<char>* blobUsed, const std::vector<int>* owner) const
{
    const ParticleTrack& track = tracks[static_cast<size_t>(p.track)];
    const TrackObservation& a = track.seen[track.anchor];
    if (track.area <= 0.0 || p.kind == Hypothesis::kRest || !Whole(a.blob))
        return {};
    const cv::Rect box(cvRound(a.blob.box.x + p.shift.x), cvRound(a.blob.box.y + p.shift.y), a.blob.box.width,
                       a.blob.box.height);
    std::vector<size_t> parts;
    double sum = 0.0;
    for (int k : grid.Near(cv::Rect2d(box.x - 2, box.y - 2, box.width + 4, box.height + 4))) {
        const size_t i = static_cast<size_t>(k);
        const bool usable = !blobUsed || !(*blobUsed)[i] || (*owner)[i] >= 0;
        if (usable && Whole(blobs[i]) && Inside(box, blobs[i].centroid)) {
            parts.push_back(i);
            sum += blobs[i].area;
        }
    }
    if (parts.size() < 2 || sum < 0.75 * track.area - 4.0 || sum > 1.7 * track.area + 4.0)
        return {};
    return parts;
}

std::vector<char> CrossingCounter::FallingApart(const std::vector<Prediction>& predictions,
                                                const ParticleBlobs& blobs, const PointGrid& grid) const
{
    // Two or more blobs on a track's predicted place that together have its area, none of
    // them nearly all of it: the particles the detection saw unsplit before.
    std::vector<char> apart(tracks.size(), 0);
    for (const Prediction& p : predictions) {
        const double area = tracks[static_cast<size_t>(p.track)].area;
        const std::vector<size_t> parts = Parts(p, blobs, grid);
        if (!parts.empty() &&
            std::all_of(parts.begin(), parts.end(), [&](size_t i) { return blobs[i].area < 0.85 * area - 2.0; }))
            apart[static_cast<size_t>(p.track)] = 1;
    }
    return apart;
}

void CrossingCounter::SplitTracks(int f, const ParticleBlobs& blobs, const PointGrid& grid,
                                  const std::vector<Prediction>& predictions,
                                  std::vector<char>& trackUsed, std::vector<char>& blobUsed, std::vector<int>& owner,
                                  std::vector<char>& dropped, std::vector<ParticleTrack>& born)
{
    // A track whose predicted box holds two or more blobs of about its area together was
    // those particles seen unsplit. Each of them takes its observations, shared: a blob
    // that continues another track adds them to it, any other begins a new track with them.
    for (const Prediction& p : predictions) {
        const size_t t = static_cast<size_t>(p.track);
        if (trackUsed[t])
            continue;
        const std::vector<size_t> parts = Parts(p, blobs, grid, &blobUsed, &owner);
        if (parts.empty())
            continue;
        dropped[t] = trackUsed[t] = 1;
        const TrackObservation& a = tracks[t].seen[tracks[t].anchor];
        for (size_t i : parts) {
            ParticleTrack fresh;
            fresh.rates = tracks[t].rates;
            fresh.drifts = tracks[t].drifts;
            ParticleTrack& part = owner[i] >= 0 ? tracks[static_cast<size_t>(owner[i])] : fresh;
            for (TrackObservation o : tracks[t].seen) {
                o.at = blobs[i].centroid - (a.at + p.shift - o.at);
                o.shared = true;
                if (std::none_of(part.seen.begin(), part.seen.end(),
                                 [&](const TrackObservation& q) { return q.slot == o.slot; }))
                    part.seen.push_back(o);
            }
            std::stable_sort(part.seen.begin(), part.seen.end(),
                             [](const TrackObservation& x, const TrackObservation& y) { return x.slot < y.slot; });
            if (owner[i] >= 0) {
                part.anchor = part.seen.size() - 1;  // its own observation of this slot comes last
                continue;
            }
            blobUsed[i] = 1;
            Own(part, f, blobs[i]);
            born.push_back(std::move(part));
        }
    }
}

void CrossingCounter::ShareBlobs(int f, const ParticleBlobs& blobs, const std::vector<Prediction>& predictions,
                                 std::vector<char>& trackUsed, std::vector<char>& blobUsed,
                                 const std::vector<char>& dropped)
{
    // Any other blob on the predicted place of a followed particle is a view of it, not a
    // new particle: a particle away from the edges was seen before. Left unsplit, it is
    // shared by the unmatched tracks it holds; a piece of matched ones, it is dropped.
    std::vector<cv::Point2d> predicted;
    predicted.reserve(predictions.size());
    for (const Prediction& p : predictions) {
        const ParticleTrack& track = tracks[static_cast<size_t>(p.track)];
        predicted.push_back(track.seen[track.anchor].at + p.shift);
    }
    const PointGrid grid(predicted, kGridCell);
    for (size_t i = 0; i < blobs.size(); ++i) {
        if (blobUsed[i])
            continue;
        std::vector<const Prediction*> held;
        const cv::Rect& box = blobs[i].box;
        for (int k : grid.Near(cv::Rect2d(box.x - 2, box.y - 2, box.width + 4, box.height + 4))) {
            const Prediction& p = predictions[static_cast<size_t>(k)];
            const ParticleTrack& track = tracks[static_cast<size_t>(p.track)];
            const TrackObservation& a = track.seen[track.anchor];
            if (p.kind != Hypothesis::kRest && !dropped[static_cast<size_t>(p.track)] && track.area > 0.0 &&
                Whole(a.blob) && Inside(box, a.at + p.shift))
                held.push_back(&p);
        }
        if (held.empty())
            continue;
        blobUsed[i] = 1;
        for (const Prediction* p : held) {
            const size_t t = static_cast<size_t>(p->track);
            if (trackUsed[t])
                continue;
            trackUsed[t] = 1;
            const TrackObservation& a = tracks[t].seen[tracks[t].anchor];
            tracks[t].seen.push_back(TrackObservation{f, blobs[i], a.at + p->shift, true});
        }
    }
}

void CrossingCounter::Fold(ParticleTrack& track) const
{
    // A long track (dirt seen in every frame, a slow flow) keeps its first observation, its
    // latest, and those at which it changed sides of the counting line: all its crossings.
    constexpr size_t kMostSeen = 256, kLatest = 64;
    if (track.seen.size() <= kMostSeen)
        return;
    std::vector<TrackObservation> kept{track.seen.front()};
    const size_t latest = track.seen.size() - kLatest;
    bool side = Along(track.seen.front().at) >= 0.0;
    for (size_t k = 1; k < latest; ++k) {
        const bool now = Along(track.seen[k].at) >= 0.0;
        if (now != side && !track.Static())
            kept.push_back(track.seen[k]);
        side = now;
    }
    const size_t removed = latest - kept.size();
    kept.insert(kept.end(), track.seen.begin() + static_cast<long>(latest), track.seen.end());
    track.anchor -= removed;
    track.seen = std::move(kept);
}
