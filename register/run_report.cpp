#include "register/run_report.h"

#include "register/reading_texts.h"
#include "register/run_numbers.h"
#include "register/run_part.h"
#include "register/velocity_profile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace {

QStringList Numbers(const std::vector<int>& values)
{
    QStringList texts;
    for (int value : values)
        texts << QString::number(value);
    return texts;
}

QString ModeKey(CountingMode mode)
{
    switch (mode) {
    case CountingMode::CountingLine:
        return QStringLiteral("crossing");
    case CountingMode::FramesOfInterest:
        break;
    }
    return QStringLiteral("foi");
}

QString ModeName(CountingMode mode)
{
    switch (mode) {
    case CountingMode::CountingLine:
        return QStringLiteral("counting line");
    case CountingMode::FramesOfInterest:
        break;
    }
    return QStringLiteral("frames of interest");
}

QString DirectionKey(FlowDirection direction)
{
    switch (direction) {
    case FlowDirection::kLeftToRight:
        return QStringLiteral("right");
    case FlowDirection::kRightToLeft:
        return QStringLiteral("left");
    case FlowDirection::kTopToBottom:
        return QStringLiteral("down");
    case FlowDirection::kBottomToTop:
        return QStringLiteral("up");
    case FlowDirection::kUnknown:
        break;
    }
    return QStringLiteral("none");
}

QString DirectionName(FlowDirection direction)
{
    switch (direction) {
    case FlowDirection::kLeftToRight:
        return QStringLiteral("left to right");
    case FlowDirection::kRightToLeft:
        return QStringLiteral("right to left");
    case FlowDirection::kTopToBottom:
        return QStringLiteral("top to bottom");
    case FlowDirection::kBottomToTop:
        return QStringLiteral("bottom to top");
    case FlowDirection::kUnknown:
        break;
    }
    return QStringLiteral("none measured");
}

// A value as JSON text, strings escaped as JSON wants them; the document writer is the
// one that knows how, so it writes the value alone in an array and the brackets go.
QString JsonText(const QJsonValue& value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString FinishedAt(const RunResult& result)
{
    if (!result.finishedAt.isValid())
        return QString();
    // Local time with its offset, so that the time reads as the user's clock did.
    const QDateTime local = result.finishedAt.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

}  // namespace

QString RunReportJson(const RunSettings& settings, const RunResult& result)
{
    const QString finished = FinishedAt(result);
    QStringList fields = {
        QStringLiteral("\"mode\":") + JsonText(ModeKey(settings.mode)),
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
        QStringLiteral("\"folder\":") + JsonText(settings.folder),
        QStringLiteral("\"method\":%1").arg(settings.method),
        QStringLiteral("\"min_px\":%1").arg(settings.minArea),
        QStringLiteral("\"max_px\":%1").arg(settings.maxArea),
        QStringLiteral("\"pixel_size_um\":") + JsonText(settings.pixelSize),
        QStringLiteral("\"circularity\":") +
            JsonText(settings.circularityFilter ? QJsonValue(settings.minCircularity) : QJsonValue()),
        QStringLiteral("\"frames_counted\":%1").arg(FramesCounted(settings, result)),
        QStringLiteral("\"finished_at\":") + JsonText(finished.isEmpty() ? QJsonValue() : QJsonValue(finished)),
        QStringLiteral("\"size_stats\":") + SizeStatisticsJson(RunSizeStatistics(settings, result)),
    };
    if (settings.mode == CountingMode::CountingLine) {
        fields << QStringLiteral("\"flow_direction\":") + JsonText(DirectionKey(result.flowDirection));
        // A part's tracking totals include its context frames: not the part's own, left out.
        if (!IsPart(settings))
            fields << QStringLiteral("\"static_objects\":%1").arg(result.staticObjects)
                   << QStringLiteral("\"ambiguous_links\":%1").arg(result.ambiguousLinks)
                   << QStringLiteral("\"links\":%1").arg(result.links)
                   << QStringLiteral("\"crossings_forward\":%1").arg(result.crossingsForward)
                   << QStringLiteral("\"crossings_backward\":%1").arg(result.crossingsBackward);
        fields << QStringLiteral("\"velocity_profile\":") + VelocityProfileJson(settings, result);
    }
    fields << QStringLiteral("\"bit_depth\":") +
                  JsonText(result.sampleDepth.bits > 0 ? QJsonValue(result.sampleDepth.bits) : QJsonValue());
    if (IsPart(settings))
        fields << QStringLiteral("\"part\":[%1,%2]").arg(settings.partFirst).arg(settings.partLast)
               << QStringLiteral("\"sequence_frames\":%1").arg(settings.frameNames.size());
    // The range the particles were detected with, which a recount to another range keeps;
    // null for the counting line, which detects by no size.
    const bool detectedBySize = settings.mode == CountingMode::FramesOfInterest || settings.onlyFrame >= 0;
    fields << QStringLiteral("\"direction_changes\":[%1]").arg(Numbers(result.directionChanges).join(QLatin1Char(',')))
           << QStringLiteral("\"detected_min_px\":") +
                  JsonText(detectedBySize ? QJsonValue(result.detectedMinArea) : QJsonValue())
           << QStringLiteral("\"detected_max_px\":") +
                  JsonText(detectedBySize ? QJsonValue(result.detectedMaxArea) : QJsonValue());
    return QLatin1Char('{') + fields.join(QLatin1Char(',')) + QLatin1Char('}');
}

QString RunReportText(const RunSettings& settings, const RunResult& result)
{
    const QString unreadable = result.unreadableFrames.empty()
                                   ? QStringLiteral("none")
                                   : Numbers(result.unreadableFrames).join(QLatin1Char(' '));
    const SizeStatistics stats = RunSizeStatistics(settings, result);
    QString sizes = QStringLiteral("%1 counted").arg(stats.counted);
    if (stats.counted > 0)
        sizes += QStringLiteral("; ECD D10 %1, D50 %2, D90 %3, mean %4 um; mean area %5 um2")
                     .arg(SignificantText(stats.d10Um), SignificantText(stats.d50Um), SignificantText(stats.d90Um),
                          SignificantText(stats.meanEcdUm), SignificantText(stats.meanAreaUm2));
    const QString finished = FinishedAt(result);

    QStringList lines;
    lines << QString::fromLatin1(settings.sequenceKind == SequenceKind::Folder ? "Folder:             %1"
                                                                               : "Recording:          %1")
                 .arg(settings.folder)
          << QStringLiteral("Mode:               %1").arg(ModeName(settings.mode))
          << QStringLiteral("Method:             %1 (%2)").arg(settings.method).arg(MethodName(settings.method))
          << QStringLiteral("Frames:             %1 (%2 x %3)")
                 .arg(result.frameCount)
                 .arg(result.frameWidth)
                 .arg(result.frameHeight);
    if (IsPart(settings))
        lines << QStringLiteral("Part:               frames %1 to %2 of %3")
                     .arg(settings.partFirst)
                     .arg(settings.partLast)
                     .arg(settings.frameNames.size());
    const QString selected = Numbers(result.selectedFrames).join(QLatin1Char(' '));
    const bool countingLine = settings.mode == CountingMode::CountingLine;
    if (countingLine) {
        lines << QStringLiteral("Counting frames:    %1").arg(selected.isEmpty() ? QStringLiteral("none") : selected)
              << QStringLiteral("Flow direction:     %1").arg(DirectionName(result.flowDirection));
        if (!IsPart(settings))
            lines << QStringLiteral("Static objects:     %1 (never counted)").arg(result.staticObjects)
                  << QStringLiteral("Line crossings:     %1 along the flow, %2 against it")
                         .arg(result.crossingsForward)
                         .arg(result.crossingsBackward);
    } else
        lines << QStringLiteral("Frames of interest: %1").arg(selected)
              << QStringLiteral("Last strip:         %1 columns").arg(result.accumulatedShift);
    lines << QStringLiteral("# Single:           %1 (%2 to %3 px)")
                 .arg(result.countInRange)
                 .arg(settings.minArea)
                 .arg(settings.maxArea)
          << QStringLiteral("# Bigger:           %1").arg(result.countGreater)
          << QStringLiteral("# Smaller:          %1").arg(result.countSmaller)
          << QStringLiteral("Particle records:   %1").arg(result.records.size())
          << QStringLiteral("Unreadable frames:  %1").arg(unreadable)
          << QString::fromLatin1(countingLine ? "Unmeasured motions: %1 of %2" : "Unmeasured shifts:  %1 of %2")
                 .arg(result.unmeasuredShifts)
                 .arg(MotionsMeasured(result));
    if (settings.circularityFilter)
        lines << QStringLiteral("Circularity filter: %1").arg(settings.minCircularity);
    lines << QStringLiteral("Pixel size:         %1 um").arg(settings.pixelSize)
          << QStringLiteral("Sizes:              %1").arg(sizes)
          << QStringLiteral("Bit depth:          %1").arg(SampleDepthText(result.sampleDepth));
    if (!finished.isEmpty())
        lines << QStringLiteral("Finished:           %1").arg(finished);
    if (!result.directionChanges.empty())
        lines << QStringLiteral("Flow reversed at:   %1").arg(Numbers(result.directionChanges).join(QLatin1Char(' ')));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
