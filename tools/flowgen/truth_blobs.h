#pragma once

// What a perfect detection would find in a generated frame, and what a perfect count
// of the whole flow is: the truth the counting-line counter is measured against.

#include "toolkit/particle_blob.h"
#include "tools/flowgen/flowgen.h"

namespace flowgen {

enum class TruthSplit {
    kMerged,       // touching or overlapping particles are one blob, as a segmentation sees them
    kPerParticle,  // every particle its own blob with its own pixels, as a perfect splitter would give
};

// The blobs of frame t: exact drawn areas (the visible part where the frame cuts a
// particle), centroids of those pixels, boxes, and touchesBorder where a blob reaches
// the frame's edge. Per particle, blobs of one region share a group id. For particles
// drawn by pixel shares `area` and `centroid` are those of the covered shares (a whole
// particle's area is its outline's; where particles overlap the larger share counts),
// `maskArea` and `box` those of its stamp (the pixels at least half covered).
ParticleBlobs TruthBlobs(const Flow& flow, int t, TruthSplit split = TruthSplit::kMerged);

// Truth of the counting-line accuracy: every particle that lies wholly inside at least
// one frame, classed by its drawn area (Particle::trueArea): smaller below minArea, in
// range from minArea to maxArea, bigger above maxArea.
struct TruthCounts {
    int smaller = 0;
    int inRange = 0;
    int bigger = 0;
};
// `margin`: the particle must also keep that many pixels from each edge of the frame
// (1: not even touching it, which is all a detection can tell of a particle).
bool WhollyInsideSomeFrame(const Flow& flow, const Particle& particle, int margin = 0);
TruthCounts CountTruth(const Flow& flow, int minArea, int maxArea, int margin = 0);

}  // namespace flowgen
