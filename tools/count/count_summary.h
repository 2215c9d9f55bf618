#pragma once

#include <QString>
#include <QStringList>

class CVideoStream;
struct RunResult;

// "[WARNING] N of M frame shifts could not be measured ..." when the run took shifts as 0
// that it could not measure; empty otherwise.
QString UnmeasuredShiftsWarning(const RunResult& result);

// One "[WARNING] ..." line per frame the run left out, with the reason as the file
// shows it now (missing, cut short, another size than frame 0, ...: FrameReadReason),
// and one for log lines that could not be written. `stream` holds the run's frame list
// and size. Empty when nothing was left out.
QStringList LeftOutWarnings(const RunResult& result, const CVideoStream& stream);
