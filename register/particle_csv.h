#pragma once

#include "register/particle_class.h"
#include "register/run_result.h"
#include "register/run_settings.h"
#include "toolkit/particle_measure.h"

#include <QString>

// The particle table written by the headless counter and by the window's data
// export: one row per record of the result, in its order, under the header
//   frame,file,x,y,area_px,area_um2,ratio,circularity,class,
//   feret_max_px,feret_min_px,aspect_ratio,solidity,blur_px
// file is the frame's file name in the settings, area_um2 = area_px x pixelSize^2, class
// the ParticleClassName of the record under the settings' rules; the shape columns are the
// record's longest and shortest caliper widths, their quotient (AspectRatio), its area over
// its convex hull's and its own blur sigma, 0 where not measured. Fields that hold a
// comma, a quote or a line break are quoted; a file name starting with =, +, -, @, a tab
// or a carriage return is quoted with an apostrophe before it, so that a spreadsheet
// program shows it as text instead of running it as a formula. Written as whole_file.h
// writes; false when it cannot be written.
bool WriteParticleCsv(const QString& path, const RunSettings& settings, const RunResult& result);

// The header line and one row, without line ends (for callers and tests).
QString ParticleCsvHeader();
QString ParticleCsvRow(const ParticleMeasure& record, const RunSettings& settings, const ParticleClassRules& rules);
