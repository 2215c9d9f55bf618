#include "tools/count/count_summary.h"

#include "register/motion_warnings.h"
#include "register/reading_texts.h"
#include "register/run_result.h"
#include "stream/video_stream.h"

#include <QStringList>

#include <algorithm>

QStringList LeftOutWarnings(const RunSettings& settings, const RunResult& result, const CVideoStream& stream)
{
    QStringList warnings;
    const QString cut = RecordingCutShortText(settings, result);
    if (!cut.isEmpty())
        warnings << QStringLiteral("[WARNING] ") + cut;
    for (int index : result.unreadableFrames) {
        if (std::binary_search(result.outOfMemoryFrames.begin(), result.outOfMemoryFrames.end(), index)) {
            warnings << QStringLiteral("[WARNING] Left out %1 (out of memory)")
                            .arg(QString::fromStdString(stream.FrameName(index)));
            continue;
        }
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

QStringList UnmeasuredMotionWarnings(const RunResult& result, CountingMode mode)
{
    QStringList warnings;
    for (const QString& text :
         UnmeasuredMotionTexts(mode, result.unmeasuredShifts, result.flowBreaks, result.frameCount,
                               result.changedWithoutShift))
        warnings << QStringLiteral("[WARNING] ") + text;
    return warnings;
}

QStringList FaintFrameWarnings(const RunSettings& settings, const RunResult& result)
{
    const QString faint = FaintFramesText(settings, result);
    return faint.isEmpty() ? QStringList() : QStringList{QStringLiteral("[WARNING] ") + faint};
}
