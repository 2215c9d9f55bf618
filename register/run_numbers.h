#pragma once

#include "register/particle_class.h"
#include "register/run_result.h"
#include "register/run_settings.h"
#include "register/size_histogram.h"
#include "register/size_statistics.h"

// Every number a run shows is a function of its settings and its result, written once and
// called by the window and by tessel-count alike: here the classes, the counters and the
// statistics; the texts in run_report.h and run_warnings.h, the tables in particle_csv.h and
// size_histogram.h, the pictures in run_pictures.h. A new number is a new function here (or
// a new field of RunResult filled by the run), then a line where each front end shows it.

// The rules the records are classed by: the settings' size range and circularity filter.
ParticleClassRules ClassRules(const RunSettings& settings);

// The settings of a run's records recounted now: the run's folder, frames, mode, method and
// margins, and the size range, circularity filter and pixel size of `now`.
RunSettings RecountSettings(const RunSettings& run, const RunSettings& now);

// The recount: every record's range flag from its area, then the three counters, by the
// settings' range and filter. A finished run is recounted so; so is a finished run whose
// range or filter changed since (with RecountSettings), without a frame read again.
void Recount(const RunSettings& settings, RunResult& result);

// The three counters over records of a run still going (a watched folder), each record in
// or out of range by its area as the recount at the end takes it.
void AddCountsSoFar(const RunSettings& settings, const std::vector<ParticleMeasure>& records, ParticleCounts& counts);

// Frames the run read: its frames less the unreadable ones (the frame alone: 1 or 0).
int FramesCounted(const RunSettings& settings, const RunResult& result);

// Motions between consecutive frames the run measured or tried to: frame 0 has none.
int MotionsMeasured(const RunResult& result);

// Size statistics and distribution of the particles the counters count, sized by the
// settings' pixel size.
SizeStatistics RunSizeStatistics(const RunSettings& settings, const RunResult& result);
SizeHistogram RunSizeHistogram(const RunSettings& settings, const RunResult& result, SizeAxis axis = SizeAxis::kEcd);

// Velocity statistics of the counting line's records go here, beside the size statistics,
// as functions of (settings, result).
