#pragma once

#include "register/particle_class.h"
#include "toolkit/particle_measure.h"

#include <QString>

#include <limits>
#include <vector>

// Size statistics of the counted particles, the records classed single, bigger or
// smaller (filtered and uncounted records are left out, as on the counters).
//
// Sizes are equivalent circular diameters: ECD = 2 sqrt(area_um2 / pi) in micrometres,
// with area_um2 = area_px x pixelSize^2 (pixelSize: micrometres per pixel side).
//
// Percentiles are number-weighted (every particle weighs one, whatever its size).
// Dp of the n ECDs sorted ascending x[0] <= ... <= x[n-1] is interpolated linearly
// between the neighbouring order statistics at the fractional rank h = (p / 100)(n - 1):
//   Dp = x[floor h] + (h - floor h)(x[floor h + 1] - x[floor h]).
// So D50 of an even count is the mean of the two middle ECDs, D10 and D90 of a single
// particle are its ECD, and D0 and D100 would be the smallest and the largest.
struct SizeStatistics {
    int counted = 0;  // particles counted (single + bigger + smaller)
    // NaN when nothing was counted.
    double d10Um = std::numeric_limits<double>::quiet_NaN();
    double d50Um = std::numeric_limits<double>::quiet_NaN();
    double d90Um = std::numeric_limits<double>::quiet_NaN();
    double meanEcdUm = std::numeric_limits<double>::quiet_NaN();
    double meanAreaUm2 = std::numeric_limits<double>::quiet_NaN();
    // Mean longest over shortest caliper width of the counted particles whose widths were
    // measured (AspectRatio above 0); NaN when none was.
    double meanAspectRatio = std::numeric_limits<double>::quiet_NaN();
};

double EquivalentCircularDiameterUm(double areaPx, double pixelSize);

// True for the classes the counters count (single, bigger, smaller).
bool IsCountedClass(ParticleClass kind);

// The percentile p (0 .. 100, clamped) of ascending values by the rule above; NaN when empty.
double NumberPercentile(const std::vector<double>& ascending, double p);

SizeStatistics ComputeSizeStatistics(const std::vector<ParticleMeasure>& records, const ParticleClassRules& rules,
                                     double pixelSize);

// {"counted":N,"d10_um":..,"d50_um":..,"d90_um":..,"mean_ecd_um":..,"mean_area_um2":..,
//  "mean_aspect_ratio":..}
// on one line, the statistics with six significant digits, null where they are NaN.
QString SizeStatisticsJson(const SizeStatistics& stats);

// A value with `digits` significant digits in fixed notation ("8.12", "150", "0.0123"),
// "n/a" for NaN: the statistics as the chart and the text summaries show them.
QString SignificantText(double value, int digits = 3);
