#include "tools/count/count_summary.h"

#include "register/run_result.h"
#include "stream/video_stream.h"

#include <QStringList>

#include <algorithm>

namespace {

// Frame 0 has no shift of its own.
int MeasuredShifts(const RunResult& result)
{
    return std::max(result.frameCount - 1, 0);
}

}  // namespace

QStringList LeftOutWarnings(const RunResult& result, const CVideoStream& stream)
{
    QStringList warnings;
    for (int index : result.unreadableFrames) {
        const FrameRead read = stream.ReadRunFrame(index);
        const QString reason = read.status == FrameReadStatus::Read
                                   ? QStringLiteral("could not be read during the run")
                                   : QString::fromStdString(FrameReadReason(read, stream.RunFrameLimits()));
        warnings << QStringLiteral("[WARNING] Left out %1 (%2)")
                        .arg(QString::fromStdString(stream.FrameName(index)), reason);
    }
    if (result.lostLogLines > 0)
        warnings << QStringLiteral("[WARNING] Can not write log_KOV.txt: %1 log lines lost").arg(result.lostLogLines);
    return warnings;
}

QString UnmeasuredShiftsWarning(const RunResult& result)
{
    if (result.unmeasuredShifts == 0)
        return QString();
    return QStringLiteral("[WARNING] %1 of %2 frame shifts could not be measured and were taken as 0; parts of the "
                          "flow may not be counted")
        .arg(result.unmeasuredShifts)
        .arg(MeasuredShifts(result));
}
