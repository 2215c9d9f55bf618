#pragma once

#include "toolkit/segmentation.h"

// The values a count starts from when nobody says otherwise, in one place: the window's
// fields at its first start, tessel-count's options, a run's settings and a bare stream
// all take theirs from here.
namespace count_defaults {

// The particle size range in pixels that the window and tessel-count start with, and
// the pixel size (micrometres per pixel side) that converts it to square micrometres:
// 25 px and 100 px are 56.25 um2 and 225 um2.
inline constexpr int kMinArea = 25;
inline constexpr int kMaxArea = 100;
inline constexpr double kPixelSize = 1.5;

// The circularity filter: off, and its threshold when it is turned on.
inline constexpr bool kCircularityFilter = false;
inline constexpr double kMinCircularity = 0.5;

// The segmentation method of the frames of interest (the counting line has its own,
// DefaultMethod in register/run_settings.h).
inline constexpr int kMethod = kMethodFrameDiff;

// The area bounds of a stream that has not been given any: also the half-size of the
// window a particle is measured in.
inline constexpr int kStreamMinArea = 10;
inline constexpr int kStreamMaxArea = 900;

// Frames decoded ahead of a run on worker threads.
inline constexpr int kDecodeThreads = 2;

}  // namespace count_defaults
