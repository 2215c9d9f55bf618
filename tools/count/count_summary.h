#pragma once

#include "register/run_settings.h"

#include <QString>
#include <QStringList>

class CVideoStream;
struct RunResult;

// "[WARNING] ..." for the motions the run could not measure (register/motion_warnings.h);
// empty when it measured all.
QStringList UnmeasuredMotionWarnings(const RunResult& result, CountingMode mode);

// "[WARNING] ..." for frames nearly black at the run's depth (register/reading_texts.h).
QStringList FaintFrameWarnings(const RunSettings& settings, const RunResult& result);

// One "[WARNING] ..." line per frame the run left out, with the reason as the file shows
// it now (missing, cut short, another size than frame 0, ...: FrameReadReason), one for
// a recording that could not be read to its end, and one for log lines that could not
// be written. `stream` holds the run's frame list and size. Empty when nothing was left
// out.
QStringList LeftOutWarnings(const RunSettings& settings, const RunResult& result, const CVideoStream& stream);
