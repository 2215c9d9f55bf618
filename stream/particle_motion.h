#pragma once

#include "toolkit/particle_blob.h"

#include <opencv2/core.hpp>

#include <vector>

// The flow's common motion between two frames, measured on their particles: the first
// guess of the counting line's tracker, before it follows every particle on its own.
//
// Every particle of the earlier frame is paired with every particle of the later one of
// nearly the same area (and, once the flow's axis is known, nearly the same place across
// it); each pair votes for the displacement that carries the one onto the other, divided
// by the particle's own rate (how fast it moves against the flow's reference motion, when
// it is known: a velocity profile or particles at their own speeds then vote as one). The
// window of displacements with the most votes, clearly ahead of any other window and of
// chance, wins and is refined on the pairs that made it, one to one. A narrow window
// first; when particles move at speeds of their own that nobody knows yet, wider ones.
//
// Pairs that barely move (dirt on the window, stuck particles, or a flow at rest) vote
// apart: the flow moves when a moving window wins, and stands still only when nothing
// but the pairs at rest agree. Particles cut by the frame's edge do not vote: their
// centroids and areas change as they enter or leave.
struct ParticleMotion {
    bool decided = false;  // false: too few pairs agree (no particles, or nothing overlaps)
    // Displacement of a particle at rate 1, from the earlier frame to the later one.
    double dx = 0.0;
    double dy = 0.0;
    int support = 0;      // particles matched one to one in the winning window
    // Most particles matched one to one in any window beyond the fewest that chance
    // agreements never reach: below 0 the frames have nothing in common that shows.
    int agreement = -1;
    bool spread = false;  // decided only in a wide window: the particles move at speeds of their own
    bool still = false;   // decided among the pairs at rest
};

struct MotionPrior {
    cv::Point2d axis;  // unit vector along the flow; (0, 0): not known, any displacement votes
    // Per blob of the earlier frame: its motion against the reference (1: moves with it,
    // 0.5: at half its speed, 0: at rest and does not vote). Empty: 1 for every blob.
    std::vector<double> rates;
    double across = 16.0;  // pixels across the axis a whole frame may move (camera shake)
};

// Pairs of whole particles of nearly the same area: within 30 % of the larger, or 3 px.
bool SimilarParticleArea(double a, double b);

ParticleMotion MeasureParticleMotion(const ParticleBlobs& earlier, const ParticleBlobs& later, cv::Size frame,
                                     const MotionPrior& prior = {});
