#pragma once

#include "register/run_result.h"
#include "register/run_settings.h"

#include <QString>

#include <vector>

// The counting line's velocity profile: the counted particles in equal bands across the
// channel, from its top wall (a flow across the frame) or its left wall (a flow up or
// down), and their mean speed along the flow. Speeds in pixels per frame; with the pixel
// size in micrometres per frame; with a frame rate (RunSettings::frameRate) also in
// micrometres per second.

constexpr int kVelocityBands = 10;

struct VelocityBand {
    int count = 0;           // counted records whose place falls in the band
    int followed = 0;        // of them, those with a velocity (followed over two frames or more)
    double meanSpeedPx = 0;  // along the flow, pixels per frame, of the followed ones; 0 without any
};

// The units a band's speed is given in.
enum class SpeedUnit {
    kPxPerFrame,   // pixels per frame, as measured
    kUmPerFrame,   // with the pixel size
    kUmPerSecond,  // with the pixel size and the frame rate
};

// The band's mean speed in `unit`, with the settings' pixel size and frame rate; NaN when
// no particle of the band was followed, or in micrometres per second without a frame rate.
// Every view of the profile (JSON, CSV, the window's chart) takes its speeds from here.
double BandSpeed(const VelocityBand& band, const RunSettings& settings, SpeedUnit unit);

// kVelocityBands bands; all empty in the frames-of-interest mode (no velocities there).
std::vector<VelocityBand> RunVelocityProfile(const RunResult& result);

// A JSON array of kVelocityBands objects {count, mean_speed_px, mean_speed_um,
// mean_speed_um_s, followed}; a band without a followed particle has null speeds, and
// mean_speed_um_s is null without a frame rate. `followed` lets parts' bands be merged.
QString VelocityProfileJson(const RunSettings& settings, const RunResult& result);

// The same as CSV under the header band,from,to,count,mean_speed_px,mean_speed_um,
// mean_speed_um_s (from and to: the band's share of the channel's width, 0 .. 1; empty
// fields where the JSON has null). False when it cannot be written.
QString VelocityProfileCsv(const RunSettings& settings, const RunResult& result);
bool WriteVelocityProfileCsv(const QString& path, const RunSettings& settings, const RunResult& result);
