#pragma once

#include "register/particle_class.h"
#include "toolkit/particle_measure.h"

#include <QString>

#include <vector>

// Counts of the counted particles (single, bigger, smaller; see size_statistics.h)
// over their equivalent circular diameter in micrometres, in log-spaced bins.
//
// Bin edges are the powers 10^(i / binsPerDecade) um for whole i, so every decade
// starts on an edge and bins of different runs line up. The default of 20 bins per
// decade (edges 1, 1.12, 1.26, 1.41, ... the preferred-number series R20) gives a
// bin some 12 % wide: a few pixel areas per bin even for particles of 10 pixels,
// whose ECDs lie 5 % apart, so that the integer areas leave no empty comb teeth.
// A bin holds lower <= ECD < upper. The bins run from the one holding the smallest
// to the one holding the largest of the counted ECDs and the ECDs of the two area
// bounds; a counted particle of area 0 (no size on a log axis) is put into the first
// bin. No bins when neither a particle nor a bound has a size above 0.

constexpr int kDefaultBinsPerDecade = 20;

// The size a histogram bins by: the equivalent circular diameter, or the longest caliper
// width (longest Feret diameter, feretMax x pixelSize). Binned by the longest Feret
// diameter, the bounds of the size range (areas) have no place on the axis: both 0.
enum class SizeAxis { kEcd, kFeretMax };

struct SizeHistogramBin {
    double lowerUm;
    double upperUm;
    int single = 0;
    int bigger = 0;
    int smaller = 0;
    int Total() const { return single + bigger + smaller; }
};

struct SizeHistogram {
    ParticleClassRules rules;  // the rules the records were classed by
    double pixelSize = 0.0;    // micrometres per pixel side
    int binsPerDecade = kDefaultBinsPerDecade;
    std::vector<SizeHistogramBin> bins;  // ascending, each one's upper edge the next one's lower
    double minBoundEcdUm = 0.0;          // ECD of rules.minArea pixels
    double maxBoundEcdUm = 0.0;          // ECD of rules.maxArea pixels
    SizeAxis axis = SizeAxis::kEcd;      // what the edges measure
};

// binsPerDecade below 1 is taken as 1.
SizeHistogram ComputeSizeHistogram(const std::vector<ParticleMeasure>& records, const ParticleClassRules& rules,
                                   double pixelSize, int binsPerDecade = kDefaultBinsPerDecade,
                                   SizeAxis axis = SizeAxis::kEcd);

// The bins as CSV, one row per bin in ascending order under the header
//   lower_um,upper_um,single,bigger,smaller,total
// lower_um and upper_um are the bin's edges (ECD in micrometres, six significant
// digits; lower <= ECD < upper), then the particles of each class and their sum.
QString SizeHistogramCsv(const SizeHistogram& histogram);
// Writes that CSV as the particle table is written (see whole_file.h).
bool WriteSizeHistogramCsv(const QString& path, const SizeHistogram& histogram);
