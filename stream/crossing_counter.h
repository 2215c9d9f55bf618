#pragma once

#include "stream/flow_field.h"
#include "stream/particle_motion.h"
#include "stream/particle_track.h"
#include "stream/point_grid.h"
#include "stream/track_assignment.h"
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
// flow's common motion against the previous frame, follows every particle on its own
// (a track), and gives back the records of the tracks that ended. Finish gives the rest.
//
// Tracks. Each particle's place in the next frame is predicted from its own motion once
// it has been linked (its rate: its speed against the flow's common motion, so that a
// frame that moves faster or stands still moves every particle alike), before that from
// the flow's speed at its place across the channel (FlowField, from the confident links
// of the frames before), or where it stood if it is at rest. All particles of two frames
// are then linked at once by a global assignment within a gate around each prediction
// (track_assignment.h); a particle may go unseen for a frame or two. A blob holding
// several predicted particles is shared by them; a particle's blob that falls apart
// continues as its parts.
//
// A counting line crosses the flow through the middle of the frame, at right angles to
// the flow's measured direction. A track counts where its own place crosses that line
// between two of its frames, with the sign of the crossing: a particle carried back
// across the line takes its crossing back, so that a flow that reverses or oscillates
// counts every particle once at most. Particles already past the line in the first frame
// of a flow have crossed before it, those not yet at it in its last frame will cross
// after it; both count there. A track counts only if some frame shows it whole (not
// touching the frame's edge); its area pools its whole views (PooledArea). A track that
// stays in place while the flow moves past it (dirt on the window, a stuck particle) is
// never counted.
//
// Motion: a frame whose motion cannot be decided (no particles, too few agreeing pairs)
// takes the mean motion of its decided neighbours; when nothing overlaps (enough
// particles on both sides and no pair agrees, e.g. a shift larger than the frame) the
// frames are taken as unrelated: the flow so far ends there and a new one begins. A flow
// also begins at the first frame with whole particles and ends at the last one, and a
// frame with particles whose motion has no decided neighbour at all stands alone.
struct CrossingSettings {
    int frameWidth = 0;
    int frameHeight = 0;
    int minArea = 25;  // for the records' inRange flag
    int maxArea = 100;
    int maxGap = 2;  // frames a particle may go unseen and still continue its track
};

// The flow's net direction; none when nothing moved.
enum class FlowDirection { kUnknown, kLeftToRight, kRightToLeft, kTopToBottom, kBottomToTop };

enum class MotionSource {
    kMeasured,        // decided by the particles of this frame and the one before
    kFromNeighbours,  // undecided: the mean of the decided neighbouring motions
    kUnrelated,       // nothing overlaps: this frame begins a new flow
};

// The flow's common motion: that of a particle moving at the reference rate.
struct FrameMotion {
    int frame = 0;
    double dx = 0.0;  // columns since the previous frame given (negative: to the left)
    double dy = 0.0;  // rows (negative: up)
    MotionSource source = MotionSource::kMeasured;
};

// The columns (a flow across the frame) or rows (a flow up or down) [begin, end) of
// `frame` that the flow moved past the counting line since the frame before; the
// particles counted in that frame lie in them. Laid side by side in the order given
// (mirrored for a flow to the left or up) the bands show the flow once: the first frame
// of a flow adds what is already past the line, the last what is not yet at it.
struct SweptBand {
    int frame = 0;
    int begin = 0;
    int end = 0;
};

// The column (or row) of a frame `extent` columns wide (or rows high) that the counting line
// runs along, at the frame's middle: the first whole one past it, where the bands meet it.
int CountingLineColumn(int extent);

// How surely the particles were followed, and what the counting line saw besides counts.
struct TrackingSummary {
    int links = 0;           // particles linked from one frame to a later one
    // Of those, the links that could change a count: another candidate nearly as good that
    // lies on the other side of the counting line, or a track whose speed jumped across it.
    int ambiguousLinks = 0;
    int staticObjects = 0;   // tracks that stayed in place while the flow moved: never counted
    // Crossings of the counting line along the flow's net direction and against it
    // (a particle carried back and forth crosses several times; it counts once at most).
    int crossingsForward = 0;
    int crossingsBackward = 0;
    std::vector<int> directionChanges;  // frames from which the flow moved the other way
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
    // Complete after Finish.
    TrackingSummary Summary() const;
    // The records' netCrossing is counted along the flow's axis as first measured; -1 when
    // the flow went the other way in net, and the owner turns them after Finish.
    int RecordSense() const;

private:
    enum class SlotState { kUndecided, kMeasured, kUnrelated };
    // A frame given, by its position in the order given.
    struct Slot {
        SlotState state = SlotState::kUndecided;
        int reference = -1;    // slot the motion was measured against (the last one with whole particles)
        cv::Point2d measured;  // common motion against the reference
        bool spread = false;   // the vote needed a wide window: the particles' speeds differ
        bool decided = false;  // its motion was measured (or it stood still), not taken from neighbours
        cv::Point2d at;        // common motion accumulated since the first slot
        bool flowStart = false, flowEnd = false;  // first and last slots of a flow
        bool linked = false;
    };
    struct Pending {
        int slot;
        ParticleBlobs blobs;
    };
    enum class Hypothesis {
        kOwn,    // at its own rate
        kField,  // at the flow's speed at its place
        kRest,   // at rest
    };
    // Where a track's particle is expected in the slot being linked, and how far off it may be.
    struct Prediction {
        int track = 0;
        cv::Point2d shift;                 // from its anchor
        double along = 0.0, across = 0.0;  // tolerances, pixels
        double penalty = 0.0;              // added to the cost of its candidates
        Hypothesis kind = Hypothesis::kOwn;
    };
    struct Candidate {
        double cost;
        int track, blob;
        Hypothesis kind;
    };
    struct FieldSample {
        double across, rate;
    };
    CrossingSettings settings;
    cv::Point2d centre;
    std::vector<FrameMotion> motions;
    std::vector<Slot> given;  // one per frame given
    ParticleBlobs lastWhole;  // blobs of the last slot with whole particles
    int lastWholeSlot = -1;
    std::vector<double> lastWholeRates;  // their rates once linked, for the next vote
    std::deque<Pending> pending;         // slots not linked yet: their motion waits for a decided neighbour
    std::vector<ParticleTrack> tracks;   // followed now
    // Ended tracks seen in the first frame of a flow that goes on: they count once the
    // flow's net sense is known, at its end (as many as one frame holds).
    std::vector<ParticleTrack> deferred;
    FlowField field;
    // The flow's axis: the principal direction of the clear motions (a reversed motion
    // agrees with it), signed as the first one; (0, 0) until one was decided.
    cv::Matx22d axisTensor = cv::Matx22d::zeros();
    cv::Point2d axis;
    cv::Point2d firstMotion;
    bool hasPace = false;  // common motion per frame of the last measured slot
    cv::Point2d pace;
    double clearPace = 0.0;  // pixels per frame along the axis of the last clear motion
    cv::Point2d netMotion;  // sum of the common motions
    double pathLength = 0.0;
    int lastSense = 0;            // sign along the axis of the last clear motion
    std::vector<int> flowStarts;  // slots, ascending
    TrackingSummary summary;      // crossings along the axis until Summary turns them to the net direction
    bool finished = false;

    // crossing_counter.cpp: the frames and their common motion
    void Measure(int slot, const ParticleBlobs& blobs);
    MotionPrior VotePrior() const;
    void NoteAxis(const cv::Point2d& motion, int support);
    void NoteMotion(int slot, const cv::Point2d& motion);
    // Links the pending slots whose motion is known; `final`: all of them.
    std::vector<ParticleMeasure> LinkReady(bool final);
    // The slot's common motion from its neighbours when its own is undecided; false when it must wait.
    bool PlaceUndecided(int f, bool final, std::vector<ParticleMeasure>& records);
    std::vector<ParticleMeasure> BreakFlow(int f);
    // Ends the tracks unseen for too long or gone from the frame (all of them: `all`).
    std::vector<ParticleMeasure> EndTracks(bool all, int slot);
    bool Gone(const ParticleTrack& track, int slot) const;
    // Place across the flow, from the frame's corner lowest across it.
    double Across(const cv::Point2d& p) const;
    // Place along the flow from the counting line (past it: >= 0).
    double Along(const cv::Point2d& p) const { return (p - centre).dot(axis); }

    // crossing_linking.cpp: following the particles
    void Link(int slot, const ParticleBlobs& blobs);
    // Where the track's own rate (or the flow's speed at its place) carries it between two slots.
    cv::Point2d PredictedShift(const ParticleTrack& track, int from, int to) const;
    std::vector<Prediction> Predict(int slot, const FlowField& with) const;
    std::vector<Candidate> Candidates(const std::vector<Prediction>& predictions, const ParticleBlobs& blobs) const;
    std::vector<LinkCandidate> Assign(const std::vector<Candidate>& candidates) const;
    // Nothing known of the flow's speeds yet: a first linking within wide gates tells them.
    FlowField FirstField(int slot, const ParticleBlobs& blobs) const;
    // Another candidate of its track or its blob (`rivals`, see RivalsOf) nearly as good.
    static bool Ambiguous(const LinkCandidate& link, const std::vector<const Candidate*>& rivals);
    // Whether an unsure link could change a count: a close rival (or the track's jump)
    // puts the track or the particle on the other side of the counting line.
    bool ChangesCrossing(const LinkCandidate& link, const std::vector<const Candidate*>& rivals,
                         const ParticleBlobs& blobs, bool jumped) const;
    // How far `to` lies from `from` moved by `shift`: centroids, or the box edges the frame cuts in neither.
    cv::Point2d Residual(const ParticleBlob& from, const cv::Point2d& shift, const ParticleBlob& to,
                         cv::Point2d& slack) const;
    void NoteLink(ParticleTrack& track, int slot, const ParticleBlob& blob, bool ambiguous,
                  std::vector<FieldSample>& samples);
    void Own(ParticleTrack& track, int slot, const ParticleBlob& blob);
    // The track without its first observation, which is given back as a track of its own.
    ParticleTrack DetachFirst(ParticleTrack& track) const;
    void NoteRates(const ParticleBlobs& blobs, const std::vector<int>& owner);
    // Two or more whole blobs on the predicted place that together have about the track's
    // area; of the blobs unused or continuing a track, when `blobUsed` and `owner` are given.
    std::vector<size_t> Parts(const Prediction& p, const ParticleBlobs& blobs, const PointGrid& grid,
                              const std::vector<char>* blobUsed = nullptr, const std::vector<int>* owner = nullptr) const;
    // Per track: its predicted place holds its parts, none of which is nearly all of it.
    std::vector<char> FallingApart(const std::vector<Prediction>& predictions, const ParticleBlobs& blobs,
                                   const PointGrid& grid) const;
    // Tracks that fall apart into two or more blobs of about their area (split now, not before).
    void SplitTracks(int slot, const ParticleBlobs& blobs, const PointGrid& grid, const std::vector<Prediction>& predictions,
                     std::vector<char>& trackUsed, std::vector<char>& blobUsed, std::vector<int>& owner,
                     std::vector<char>& dropped, std::vector<ParticleTrack>& born);
    // Blobs on the predicted place of followed particles: views of them, left unsplit or in pieces.
    void ShareBlobs(int slot, const ParticleBlobs& blobs, const std::vector<Prediction>& predictions,
                    std::vector<char>& trackUsed, std::vector<char>& blobUsed, const std::vector<char>& dropped);
    void Fold(ParticleTrack& track) const;

    // crossing_records.cpp: crossings and records
    // The net sense along the axis (+1, -1; 0: it stood still) of the flow holding the slot:
    // where the particles seen in its first frame came from and those in its last go to.
    int FlowSense(int slot) const;
    // The track's net crossings (-1, 0 or 1) and each way; `counted`: where it counts.
    int Crossings(const ParticleTrack& track, const TrackObservation** counted, int* forward, int* backward) const;
    cv::Point2d Velocity(const ParticleTrack& track) const;
    bool Record(const ParticleTrack& track, ParticleMeasure& record);
};
