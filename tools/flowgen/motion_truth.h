#pragma once

// The truth of a flow's motion as a counting line should report it: the velocity
// profile across the channel, and the net count of a flow that reverses.

#include "tools/flowgen/truth_blobs.h"

#include <limits>
#include <vector>

namespace flowgen {

// One band across the channel: the particles a perfect count finds in it (those of
// CountTruth) and their mean speed along the flow (ParticleSpeed, pixels per frame).
struct VelocityBand {
    double from = 0.0;  // pixels from the top (or left) wall: rows of a horizontal flow, columns of a vertical one
    double to = 0.0;
    int count = 0;
    double meanSpeed = std::numeric_limits<double>::quiet_NaN();  // NaN without particles
};

// `bands` equal bands across the frame (AcrossExtent), from the top wall for a horizontal
// flow and from the left one for a vertical flow; a particle belongs to the band of its
// `across` (places beyond the frame, which only camera motion gives, to the nearest band).
std::vector<VelocityBand> TruthVelocityProfile(const Flow& flow, int bands = 10, int margin = 0);

// The count of a counting line at linePosition x AlongExtent that nets every crossing:
// per particle that lies wholly inside some frame (the particles of CountTruth), +1 for
// each time its centroid crosses the line with the flow and -1 for each time against it,
// between any two consecutive frames; +1 if frame 0 shows a pixel of it already past the
// line, +1 if the last frame shows a pixel of it not yet at it. "Past" is at or beyond the
// line for a flow to the right or down, before it for one to the left or up (as the
// counter's own line). For a flow that never runs back this is CountTruth (every
// particle counts once); for one that reverses a particle may count 0 (it came and went
// back) or -1 (it came from downstream and left upstream). `against`: the same count
// taken the other way along the axis, for a counter that found the flow's net motion
// against the direction it was drawn in.
struct CrossingTruth {
    TruthCounts net;   // by class of the drawn area, as CountTruth
    int forward = 0;   // crossings with the flow, of those particles
    int backward = 0;  // crossings against it
};
CrossingTruth NetCrossingTruth(const Flow& flow, int minArea, int maxArea, int margin = 0, double linePosition = 0.5,
                               bool against = false);

}  // namespace flowgen
