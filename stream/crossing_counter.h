#pragma once

#include "toolkit/particle_blob.h"
#include "toolkit/particle_measure.h"

#include <opencv2/core.hpp>

#include <deque>
#include <vector>

// The counting-line count: every particle that passes the camera counted once and sized
// where the frame shows it whole.
//
// The counter is driven frame by frame by its owner: AddFrame takes the particles found
// in frame t (frames in increasing order; frames left out may be skipped), measures the
// flow's motion against the previous frame on those particles, links every particle to
// its track and gives back the records of the tracks that ended. Finish gives the rest.
//
// A counting line crosses the flow at the middle of the frame. A particle is counted in
// the frame in which it crosses that line; particles already past the line in the first
// frame are counted there, those not yet at it in the last frame there. It is counted
// only if at least one frame shows it whole (not touching the frame's edge), and its
// area pools its whole observations: by their stated spreads (CombinedArea,
// toolkit/particle_blob.h) where the detection gives them, otherwise their median.
//
// Motion: a frame whose motion cannot be decided (no particles, too few agreeing pairs)
// takes the mean motion of its decided neighbours; when nothing overlaps (enough
// particles on both sides and no pair agrees, e.g. a shift larger than the frame) the
// frames are taken as unrelated: the flow so far ends there and a new one begins. A flow
// also begins at the first frame with whole particles and ends at the last one, and a
// frame with particles whose motion has no decided neighbour at all stands alone.
enum class CountingRule {
    kLine,   // a track counts where it crosses the counting line (a broken track counts once)
    kTrack,  // every track with a whole observation counts (a particle missed in one frame still counts)
};

struct CrossingSettings {
    int frameWidth = 0;
    int frameHeight = 0;
    int minArea = 25;  // for the records' inRange flag
    int maxArea = 100;
    double linePosition = 0.5;  // counting line, as a share of the frame width from the left
    CountingRule rule = CountingRule::kLine;
    int maxGap = 2;  // frames a particle may go unseen and still continue its track
};

enum class FlowDirection { kUnknown, kLeftToRight, kRightToLeft };

enum class MotionSource {
    kMeasured,        // decided by the particles of this frame and the one before
    kFromNeighbours,  // undecided: the mean of the decided neighbouring motions
    kUnrelated,       // nothing overlaps: this frame begins a new flow
};

struct FrameMotion {
    int frame = 0;
    double dx = 0.0;  // columns since the previous frame given (negative: to the left)
    double dy = 0.0;
    MotionSource source = MotionSource::kMeasured;
};

// The columns [begin, end) of `frame` that the flow moved past the counting line since the
// frame before; the particles counted in that frame lie in them. Laid side by side in the
// order given (mirrored for a flow to the left) the bands show the flow once: the first
// frame of a flow adds what is already past the line, the last what is not yet at it.
struct SweptBand {
    int frame = 0;
    int begin = 0;
    int end = 0;
};

class CrossingCounter {
public:
    explicit CrossingCounter(const CrossingSettings& settings);

    // Particles of `frame` (greater than the frame given before). Returns the records
    // of the particles whose tracks ended with it, `frame` set to their counting frame.
    std::vector<ParticleMeasure> AddFrame(int frame, const ParticleBlobs& blobs);

    // The records of the particles still followed; the counter is then spent.
    std::vector<ParticleMeasure> Finish();

    // One entry per frame given, its motion against the one given before (the first: 0).
    // Complete after Finish; before, the last few frames may still wait for a decision.
    const std::vector<FrameMotion>& Motions() const { return motions; }
    // Frames after the first whose motion was not measured (taken from neighbours or unrelated).
    int UnmeasuredMotions() const;
    FlowDirection Direction() const;
    // One band per frame given, in that order; complete after Finish.
    std::vector<SweptBand> SweptBands() const;

private:
    enum class SlotState { kUndecided, kMeasured, kUnrelated };
    // A frame given, by its position in the order given.
    struct Slot {
        SlotState state = SlotState::kUndecided;
        int reference = -1;  // slot the motion was measured against (the last one with whole particles)
        double measuredDx = 0.0, measuredDy = 0.0;  // against the reference
        double x = 0.0, y = 0.0;                    // accumulated motion since the first slot
        bool flowStart = false, flowEnd = false;    // first and last slots of a flow
    };
    struct Observation {
        int slot;
        ParticleBlob blob;
        cv::Point2d at;       // where the particle is: the blob's centroid, or where the track puts it in a shared blob
        bool shared = false;  // a blob of several particles that the detection left unsplit in this frame
    };
    struct Track {
        std::vector<Observation> seen;
        size_t anchor = 0;  // the last observation of its own: predictions start there
        double area = 0.0;  // its own whole observations pooled; 0 before it has one
    };
    struct Pending {
        int slot;
        ParticleBlobs blobs;
    };

    CrossingSettings settings;
    double line;  // column of the counting line
    std::vector<FrameMotion> motions;
    std::vector<Slot> given;  // one per frame given
    ParticleBlobs lastWhole;  // blobs of the last slot with whole particles
    int lastWholeSlot = -1;
    std::deque<Pending> pending;  // slots not linked yet: their motion waits for a decided neighbour
    std::vector<Track> tracks;    // followed now
    bool hasRate = false;         // motion per frame of the last measured slot
    double rateX = 0.0, rateY = 0.0;
    double sumDx = 0.0;
    bool finished = false;

    void Measure(int slot, const ParticleBlobs& blobs);
    // Links the pending slots whose motion is known; `final`: all of them.
    std::vector<ParticleMeasure> LinkReady(bool final);
    // Ends the tracks unseen for too long or gone from the frame (all of them: `all`).
    std::vector<ParticleMeasure> EndTracks(bool all, int slot);
    // Continues the tracks with the blobs of `slot`: nearest predicted match first; then
    // blobs holding two or more unmatched tracks (left unsplit) and tracks that fall
    // apart into two or more blobs (split now, not before); the rest begin new tracks.
    void Link(int slot, const ParticleBlobs& blobs);
    // The observation in which the track crosses the counting line; null when it does not.
    const Observation* Crossing(const Track& track) const;
    bool Record(const Track& track, ParticleMeasure& record) const;
    // The track's own whole observations pooled, 0 without any.
    static double OwnWholeArea(const Track& track);
};
