#pragma once

#include "register/run_result.h"
#include "register/run_settings.h"
#include "register/velocity_profile.h"

#include <QString>

class QChart;

// The counting line's velocity profile as a chart: the mean speed along the flow of each
// band across the channel (a line through the bands' middles; bands without a followed
// particle left out) over the position across the channel, from its top wall (a flow
// across the frame) or its left wall (a flow up or down), in % of its width; the particles
// counted in each band as grey bars on a second axis. Speeds from BandSpeed, in `unit`.

// "px/frame", "µm/frame", "µm/s".
QString SpeedUnitText(SpeedUnit unit);

// A new chart; the caller owns it. `settings` gives the pixel size and the frame rate.
QChart* CreateVelocityProfileChart(const RunSettings& settings, const RunResult& result, SpeedUnit unit);
