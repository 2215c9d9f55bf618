#include "tools/count/count_summary.h"

#include "register/run_result.h"
#include "stream/video_stream.h"
#include "tools/count/count_options.h"

#include <QStringList>

#include <algorithm>
#include <vector>

namespace {

// Frame 0 has no shift of its own.
int MeasuredShifts(const RunResult& result)
{
    return std::max(result.frameCount - 1, 0);
}

QStringList Numbers(const std::vector<int>& values)
{
    QStringList texts;
    for (int value : values)
        texts << QString::number(value);
    return texts;
}

}  // namespace

QString SummaryJson(const RunResult& result)
{
    const QStringList fields = {
        QStringLiteral("\"frames\":%1").arg(result.frameCount),
        QStringLiteral("\"frame_width\":%1").arg(result.frameWidth),
        QStringLiteral("\"frame_height\":%1").arg(result.frameHeight),
        QStringLiteral("\"selected_frames\":[%1]").arg(Numbers(result.selectedFrames).join(QLatin1Char(','))),
        QStringLiteral("\"accumulated_shift\":%1").arg(result.accumulatedShift),
        QStringLiteral("\"count_in_range\":%1").arg(result.countInRange),
        QStringLiteral("\"count_greater\":%1").arg(result.countGreater),
        QStringLiteral("\"count_smaller\":%1").arg(result.countSmaller),
        QStringLiteral("\"particles\":%1").arg(result.records.size()),
        QStringLiteral("\"unreadable_frames\":[%1]").arg(Numbers(result.unreadableFrames).join(QLatin1Char(','))),
        QStringLiteral("\"unmeasured_shifts\":%1").arg(result.unmeasuredShifts),
    };
    return QLatin1Char('{') + fields.join(QLatin1Char(',')) + QLatin1Char('}');
}

QString SummaryText(const RunResult& result, const CountOptions& options)
{
    const QString unreadable = result.unreadableFrames.empty()
                                   ? QStringLiteral("none")
                                   : Numbers(result.unreadableFrames).join(QLatin1Char(' '));
    QStringList lines;
    lines << QStringLiteral("Frames:             %1 (%2 x %3)")
                 .arg(result.frameCount)
                 .arg(result.frameWidth)
                 .arg(result.frameHeight)
          << QStringLiteral("Frames of interest: %1").arg(Numbers(result.selectedFrames).join(QLatin1Char(' ')))
          << QStringLiteral("Last strip:         %1 columns").arg(result.accumulatedShift)
          << QStringLiteral("# Single:           %1 (%2 to %3 px)")
                 .arg(result.countInRange)
                 .arg(options.minPixels)
                 .arg(options.maxPixels)
          << QStringLiteral("# Bigger:           %1").arg(result.countGreater)
          << QStringLiteral("# Smaller:          %1").arg(result.countSmaller)
          << QStringLiteral("Particle records:   %1").arg(result.records.size())
          << QStringLiteral("Unreadable frames:  %1").arg(unreadable)
          << QStringLiteral("Unmeasured shifts:  %1 of %2").arg(result.unmeasuredShifts).arg(MeasuredShifts(result));
    if (options.circularityFilter)
        lines << QStringLiteral("Circularity filter: %1").arg(options.minCircularity);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

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
