#pragma once

#include "register/run_result.h"
#include "register/run_settings.h"

#include <QString>

// The report of one run: what it counted and what produced the numbers. One report for
// the counter's --json and text summary and for the window's data export, so that both
// say the same about the same run.

// One JSON object on one line, no line break at the end. Its keys, in this order (scripts
// may read them by position as well as by name; new keys only ever go at the end):
//   mode               "foi" (frames of interest) or "crossing" (counting line)
//   frames, frame_width, frame_height
//   selected_frames    frames of interest, in the order chosen
//   accumulated_shift  width of the last frame's new strip
//   count_in_range, count_greater, count_smaller
//   particles          stored records
//   unreadable_frames  0-based indices of the frames left out
//   unmeasured_shifts  shifts taken as 0
//   folder             as the settings name it: the folder, or the recording file
//   method             segmentation method, 1 .. 4
//   min_px, max_px     the size range in pixels
//   pixel_size_um      micrometres per pixel side
//   circularity        the filter's threshold, null when the filter is off
//   frames_counted     frames the run read: frames less the unreadable ones
//   finished_at        local time the run finished, ISO 8601 with the offset from UTC
//                      ("2025-03-04T10:15:30+01:00"); null when the result holds none
//   size_stats         {counted, d10_um, d50_um, d90_um, mean_ecd_um, mean_area_um2,
//                      mean_aspect_ratio} of the
//                      counted records, classed by the settings' range and filter, sized by
//                      their pixel size (size_statistics.h; null statistics when none)
//   flow_direction     counting line only: "right", "left", "down", "up" or "none" (no motion
//                      measured); the keys below also for the counting line only:
//   static_objects     objects that stayed in place while the flow moved past (never counted)
//   ambiguous_links    links between frames that were not sure, of
//   links              all links of particles from frame to frame
//   crossings_forward, crossings_backward   crossings of the line along the flow and against
//                      it (their difference is the net count)
//   velocity_profile   10 bands across the channel (velocity_profile.h)
//   bit_depth          the bits 16-bit samples were scaled by, the same for every frame:
//                      frame 0's (sample_depth.h); 8 for 8-bit frames; null when unknown
//   part               a part only (run_part.h): [FIRST, LAST], the frames it counts for;
//                      "frames" then counts them, the records are those it owns
//   sequence_frames    a part only: the frames of the whole sequence
//   direction_changes  0-based frames from which the flow ran the other way ([] when none)
//   detected_min_px, detected_max_px
//                      the size range the run detected its particles with; differs from
//                      min_px, max_px after a recount to another range; null for the
//                      counting line, which detects by no size
QString RunReportJson(const RunSettings& settings, const RunResult& result);

// The same as a short text, one "Label:  value" line each, ending in a line break.
QString RunReportText(const RunSettings& settings, const RunResult& result);
