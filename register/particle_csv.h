#pragma once

#include "register/particle_class.h"
#include "stream/video_stream.h"
#include "toolkit/particle_measure.h"

#include <QString>

#include <vector>

// The particle table written by the headless counter and by the window's data
// export: one row per record, in the order given, under the header
//   frame,file,x,y,area_px,area_um2,ratio,circularity,class
// file is the frame's file name in `stream`, area_um2 = area_px x pixelSize^2, class
// the ParticleClassName of the record under `rules`. Fields that hold a comma, a
// quote or a line break are quoted; a file name starting with =, +, -, @, a tab or a
// carriage return is quoted with an apostrophe before it, so that a spreadsheet
// program shows it as text instead of running it as a formula. A file is replaced
// only once it is complete; a device or a pipe is written to as it is. False when it
// cannot be written.
bool WriteParticleCsv(const QString& path, const std::vector<ParticleMeasure>& records, const CVideoStream& stream,
                      const ParticleClassRules& rules, double pixelSize);

// The header line and one row, without line ends (for callers and tests).
QString ParticleCsvHeader();
QString ParticleCsvRow(const ParticleMeasure& record, const CVideoStream& stream, const ParticleClassRules& rules,
                       double pixelSize);
