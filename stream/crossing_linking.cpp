#include "stream/crossing_counter.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>

// Linking the particles of a frame to the tracks of the counting-line counter.

namespace {

bool Whole(const ParticleBlob& b)
{
    return !b.touchesBorder && b.area > 0.0;
}

bool SimilarArea(double a, double b)
{
    return std::abs(a - b) <= std::max(4.0, 0.3 * std::max(a, b));
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
