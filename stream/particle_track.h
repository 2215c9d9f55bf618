#pragma once

#include "toolkit/particle_blob.h"

#include <opencv2/core.hpp>

#include <vector>

// One particle followed from frame to frame by the counting-line counter.

struct TrackObservation {
    int slot = 0;  // the frame, by its position among the frames given
    ParticleBlob blob;
    cv::Point2d at;       // where the particle is: the blob's centroid, or where the track puts it in a shared blob
    bool shared = false;  // a blob of several particles that the detection left unsplit in this frame
};

struct ParticleTrack {
    // In slot order. A long track keeps its first observation, its latest and those where
    // it changed sides of the counting line (see CrossingCounter::Fold).
    std::vector<TrackObservation> seen;
    size_t anchor = 0;                   // the last observation of its own: predictions start there
    double area = 0.0;                   // its own whole observations pooled; 0 before it has one
    // Its own motion against the flow's reference motion, from its latest links: along the
    // flow (rate) and across it (drift, per pixel of reference motion).
    std::vector<double> rates, drifts;
    // Links made while the flow moved at its place: at rest, or moving with it.
    int restLinks = 0;
    int movingLinks = 0;
    ParticleBlobs wholeViews;  // its own whole views, for its area and shape; thinned when many
    int firstWholeSlot = -1, lastWholeSlot = -1;  // its first and latest own whole views: its velocity
    cv::Point2d firstWholeAt, lastWholeAt;

    bool HasRate() const { return !rates.empty(); }
    double Rate() const;
    double Drift() const;
    void AddRate(double rate, double drift);
    // Adds an own whole view of `slot` to those its area pools (evenly thinned beyond
    // kTrackViews) and to its velocity.
    void AddWholeView(int slot, const ParticleBlob& blob);
    void ClearViews();
    // Its own whole views pooled: by their stated spreads where the detection gives them
    // (CombinedArea), otherwise their median; 0 without any.
    double PooledArea() const;
    // Stayed where it was while the flow moved past it: dirt on the window, a stuck particle.
    // A particle that stops for a few frames and moves on is still a particle.
    bool Static() const { return restLinks > 0 && restLinks > 2 * movingLinks; }
};

// Most rate samples a track keeps (its latest).
constexpr size_t kTrackRates = 5;
// Most whole views a track keeps for its area; more are thinned evenly.
constexpr size_t kTrackViews = 64;
