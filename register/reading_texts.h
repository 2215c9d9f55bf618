#pragma once

#include "register/run_result.h"
#include "register/run_settings.h"

#include <QString>

// What reading a run's frames found, in words, for both front ends. Warning texts come
// without the "[WARNING] " tag (the window puts one before its status line).

// The depth 16-bit samples were scaled by: "8" for 8-bit frames, "12 (named in the
// file)", "12 (frame 0's largest sample 3012)"; "unknown" before frame 0 was read.
QString SampleDepthText(const SampleDepth& depth);

// A recording that could not be decoded past some frame: "flow.avi could not be read
// past frame 8; 9 of its 20 frames were counted". Frames were left out: the count is
// incomplete. Empty when the recording gave every frame it declared.
QString RecordingCutShortText(const RunSettings& settings, const RunResult& result);

// Frames nearly black at the run's depth: "2 frames use less than 1/16 of the 12-bit
// range (frame_0003.png, ...): nearly black at that depth, their particles may go
// uncounted". They were counted. Empty when there are none.
QString FaintFramesText(const RunSettings& settings, const RunResult& result);

// Frame files that are multi-page TIFFs, of which only the first page was read, named with
// the first one's page count (read from the file now): "frame_0003.tif holds 5 pages; only
// its first page is read as a frame", "3 frame files hold several pages (frame_0003.tif: 5,
// ...); only the first page of each is read as a frame". Empty when there are none.
QString MultiPageFramesText(const RunSettings& settings, const RunResult& result);
