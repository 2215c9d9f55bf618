#pragma once

#include "tools/flowgen/flowgen.h"

#include <string>

namespace flowgen {

// The frames of a flow (RenderFrame) as one recording file instead of a folder of
// frames: the same pictures, so that a folder, its stack and a lossless video of it
// count the same.

// A multi-page TIFF, one uncompressed page a frame. False, with the reason, when it
// cannot be written.
bool WriteStack(const Flow& flow, const std::string& path, std::string* error);

// The codec a video file gets by its suffix: FFV1 (lossless) for .avi and .mkv,
// H.264 (lossy: the counts may differ from the folder's) for .mp4; 0 for others.
int VideoCodecFor(const std::string& path);

// A grey video at 25 frames a second, through OpenCV's FFmpeg writer.
bool WriteVideo(const Flow& flow, const std::string& path, std::string* error);

}  // namespace flowgen
