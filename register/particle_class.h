#pragma once

#include "stream/count_defaults.h"
#include "toolkit/particle_measure.h"

#include <opencv2/core.hpp>

#include <vector>

// The class of a stored particle record decides where it is counted, the colour of
// its circle and its label in the particle CSV. One rule for all three.

enum class ParticleClass {
    Single,     // in range and passes the circularity test: counted as single
    Bigger,     // out of range, above the upper bound, passes the test
    Smaller,    // out of range, below the lower bound, passes the test
    Filtered,   // fails the circularity test: counted nowhere
    Uncounted,  // out of range but within the bounds (bounds changed since): nowhere
};

// ClassRules (run_numbers.h) takes them from a run's settings.
struct ParticleClassRules {
    bool circularityFilter = count_defaults::kCircularityFilter;
    double minCircularity = count_defaults::kMinCircularity;
    int minArea = count_defaults::kMinArea;
    int maxArea = count_defaults::kMaxArea;
};

struct ParticleVerdict {
    ParticleClass kind;
    cv::Scalar colour;  // circle colour, B, G, R
};

// With the filter on, a circularity that does not compare (NaN) fails the test. The
// record's own inRange flag decides in or out of range; the bounds only tell bigger
// from smaller (below the lower bound wins when the bounds are crossed).
ParticleVerdict ClassifyParticle(const ParticleMeasure& record, const ParticleClassRules& rules);

// "single", "bigger", "smaller", "filtered", "uncounted".
const char* ParticleClassName(ParticleClass kind);

// The three counters over a list of records: single, bigger and smaller.
struct ParticleCounts {
    int inRange = 0;
    int greater = 0;
    int smaller = 0;
};
ParticleCounts CountParticleClasses(const std::vector<ParticleMeasure>& records, const ParticleClassRules& rules);
