#include "tools/count/count_summary.h"

#include "register/motion_warnings.h"
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

QString DirectionName(FlowDirection direction)
{
    switch (direction) {
    case FlowDirection::kLeftToRight:
        return QStringLiteral("right");
    case FlowDirection::kRightToLeft:
        return QStringLiteral("left");
    case FlowDirection::kUnknown:
        break;
    }
    return QStringLiteral("none");
}

}  // namespace

QString SummaryJson(const RunResult& result, CountingMode mode)
{
    const bool countingLine = mode == CountingMode::CountingLine;
    QStringList fields = {
        QStringLiteral("\"mode\":\"%1\"").arg(countingLine ? QStringLiteral("crossing") : QStringLiteral("foi")),
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
    if (countingLine)
        fields << QStringLiteral("\"flow_direction\":\"%1\"").arg(DirectionName(result.flowDirection));
    return QLatin1Char('{') + fields.join(QLatin1Char(',')) + QLatin1Char('}');
}

QString SummaryText(const RunResult& result, const CountOptions& options)
{
    const QString unreadable = result.unreadableFrames.empty()
                                   ? QStringLiteral("none")
                                   : Numbers(result.unreadableFrames).join(QLatin1Char(' '));
    const bool countingLine = options.mode == CountingMode::CountingLine;
    const QString selected = Numbers(result.selectedFrames).join(QLatin1Char(' '));
    QStringList lines;
    lines << QStringLiteral("Mode:               %1")
                 .arg(countingLine ? QStringLiteral("counting line") : QStringLiteral("frames of interest"))
          << QStringLiteral("Frames:             %1 (%2 x %3)")
                 .arg(result.frameCount)
                 .arg(result.frameWidth)
                 .arg(result.frameHeight);
    if (countingLine) {
        const FlowDirection direction = result.flowDirection;
        lines << QStringLiteral("Counting frames:    %1").arg(selected.isEmpty() ? QStringLiteral("none") : selected)
              << QStringLiteral("Flow direction:     %1")
                     .arg(direction == FlowDirection::kLeftToRight   ? QStringLiteral("left to right")
                          : direction == FlowDirection::kRightToLeft ? QStringLiteral("right to left")
                                                                     : QStringLiteral("none measured"));
    } else {
        lines << QStringLiteral("Frames of interest: %1").arg(selected)
              << QStringLiteral("Last strip:         %1 columns").arg(result.accumulatedShift);
    }
    lines << QStringLiteral("# Single:           %1 (%2 to %3 px)")
                 .arg(result.countInRange)
                 .arg(options.minPixels)
                 .arg(options.maxPixels)
          << QStringLiteral("# Bigger:           %1").arg(result.countGreater)
          << QStringLiteral("# Smaller:          %1").arg(result.countSmaller)
          << QStringLiteral("Particle records:   %1").arg(result.records.size())
          << QStringLiteral("Unreadable frames:  %1").arg(unreadable)
          << QString::fromLatin1(countingLine ? "Unmeasured motions: %1 of %2" : "Unmeasured shifts:  %1 of %2")
                 .arg(result.unmeasuredShifts)
                 .arg(MeasuredShifts(result));
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

QStringList UnmeasuredMotionWarnings(const RunResult& result, CountingMode mode)
{
    QStringList warnings;
    for (const QString& text :
         UnmeasuredMotionTexts(mode, result.unmeasuredShifts, result.flowBreaks, result.frameCount))
        warnings << QStringLiteral("[WARNING] ") + text;
    return warnings;
}
