#pragma once

#include "toolkit/particle_blob.h"

// Motion of the flow between two frames, measured on their particles: every particle of
// one frame is paired with every particle of the other that lies on nearly the same
// row and has nearly the same area, each pair votes for its displacement, and the
// displacement most pairs agree on is refined on the pairs that made it. The sign is
// the flow's direction. Particles cut by the frame's edge do not vote: their centroids
// and areas change as they enter or leave.
struct ParticleMotion {
    bool decided = false;  // false: too few pairs agree (no particles, or nothing overlaps)
    double dx = 0.0;       // columns from the earlier frame to the later one (negative: to the left)
    double dy = 0.0;       // rows, likewise
    int support = 0;       // particles matched one to one at that displacement
};

struct MotionTolerance {
    double rows = 2.0;        // row difference of a pair
    double areaShare = 0.3;   // area difference of a pair, as a share of the larger area ...
    double areaPixels = 3.0;  // ... or in pixels, whichever is larger
    int window = 2;           // displacements within this many columns vote together
};

// `frameWidth` bounds the displacements that can be seen (less than one frame width).
ParticleMotion MeasureParticleMotion(const ParticleBlobs& earlier, const ParticleBlobs& later, int frameWidth,
                                     const MotionTolerance& tolerance = {});
