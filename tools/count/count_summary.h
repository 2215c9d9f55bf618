#pragma once

#include "register/run_settings.h"

#include <QString>
#include <QStringList>

class CVideoStream;
struct CountOptions;
struct RunResult;

// The outcome of a finished count: one JSON object on one line (keys mode, frames,
// frame_width, frame_height, selected_frames, accumulated_shift, count_in_range,
// count_greater, count_smaller, particles, unreadable_frames, unmeasured_shifts; the
// counting line adds flow_direction), or a short text.
QString SummaryJson(const RunResult& result, CountingMode mode);
QString SummaryText(const RunResult& result, const CountOptions& options);

// "[WARNING] N of M frame shifts could not be measured ..." for the motions the run could
// not measure (register/motion_warnings.h); empty when it measured all.
QStringList UnmeasuredMotionWarnings(const RunResult& result, CountingMode mode);

// One "[WARNING] ..." line per frame the run left out, with the reason as the file
// shows it now (missing, cut short, another size than frame 0, ...: FrameReadReason),
// and one for log lines that could not be written. `stream` holds the run's frame list
// and size. Empty when nothing was left out.
QStringList LeftOutWarnings(const RunResult& result, const CVideoStream& stream);
