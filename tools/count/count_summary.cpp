#include "tools/count/count_summary.h"

#include "register/mivo_register_manager.h"
#include "tools/count/count_options.h"

#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace {

// Frame 0 has no shift of its own.
int MeasuredShifts(const CMivoRegisterManager& reg)
{
    return std::max(reg.stream->frameCount - 1, 0);
}

QStringList Numbers(const std::vector<int>& values)
{
    QStringList texts;
    for (int value : values)
        texts << QString::number(value);
    return texts;
}

}  // namespace

QString SummaryJson(const CMivoRegisterManager& reg)
{
    const QStringList fields = {
        QStringLiteral("\"frames\":%1").arg(reg.stream->frameCount),
        QStringLiteral("\"frame_width\":%1").arg(reg.frameWidth),
        QStringLiteral("\"frame_height\":%1").arg(reg.frameHeight),
        QStringLiteral("\"selected_frames\":[%1]").arg(Numbers(reg.selectedFrames).join(QLatin1Char(','))),
        QStringLiteral("\"accumulated_shift\":%1").arg(reg.accumulatedShift),
        QStringLiteral("\"count_in_range\":%1").arg(reg.countInRange),
        QStringLiteral("\"count_greater\":%1").arg(reg.countGreater),
        QStringLiteral("\"count_smaller\":%1").arg(reg.countSmaller),
        QStringLiteral("\"particles\":%1").arg(reg.foiParticles.size()),
        QStringLiteral("\"unreadable_frames\":[%1]").arg(Numbers(reg.unreadableFrames).join(QLatin1Char(','))),
        QStringLiteral("\"unmeasured_shifts\":%1").arg(reg.unmeasuredShifts),
    };
    return QLatin1Char('{') + fields.join(QLatin1Char(',')) + QLatin1Char('}');
}

QString SummaryText(const CMivoRegisterManager& reg, const CountOptions& options)
{
    const QString unreadable =
        reg.unreadableFrames.empty() ? QStringLiteral("none") : Numbers(reg.unreadableFrames).join(QLatin1Char(' '));
    QStringList lines;
    lines << QStringLiteral("Frames:             %1 (%2 x %3)")
                 .arg(reg.stream->frameCount)
                 .arg(reg.frameWidth)
                 .arg(reg.frameHeight)
          << QStringLiteral("Frames of interest: %1").arg(Numbers(reg.selectedFrames).join(QLatin1Char(' ')))
          << QStringLiteral("Last strip:         %1 columns").arg(reg.accumulatedShift)
          << QStringLiteral("# Single:           %1 (%2 to %3 px)")
                 .arg(reg.countInRange)
                 .arg(options.minPixels)
                 .arg(options.maxPixels)
          << QStringLiteral("# Bigger:           %1").arg(reg.countGreater)
          << QStringLiteral("# Smaller:          %1").arg(reg.countSmaller)
          << QStringLiteral("Particle records:   %1").arg(reg.foiParticles.size())
          << QStringLiteral("Unreadable frames:  %1").arg(unreadable)
          << QStringLiteral("Unmeasured shifts:  %1 of %2").arg(reg.unmeasuredShifts).arg(MeasuredShifts(reg));
    if (options.circularityFilter)
        lines << QStringLiteral("Circularity filter: %1").arg(options.minCircularity);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QStringList LeftOutWarnings(const CMivoRegisterManager& reg)
{
    QStringList warnings;
    const CVideoStream& stream = *reg.stream;
    for (int index : reg.unreadableFrames) {
        QString reason;
        if (!QFileInfo::exists(QString::fromStdString(stream.FramePath(index)))) {
            reason = QStringLiteral("missing");
        } else {
            const cv::Mat grey = stream.ReadFrame(index);
            if (grey.empty())
                reason = QStringLiteral("can not read image");
            else if (grey.cols != reg.frameWidth || grey.rows != reg.frameHeight)
                reason = QStringLiteral("%1 x %2, frame 0 is %3 x %4")
                             .arg(grey.cols)
                             .arg(grey.rows)
                             .arg(reg.frameWidth)
                             .arg(reg.frameHeight);
            else
                reason = QStringLiteral("could not be read during the run");
        }
        warnings << QStringLiteral("[WARNING] Left out %1 (%2)")
                        .arg(QString::fromStdString(stream.FrameName(index)), reason);
    }
    if (reg.lostLogLines > 0)
        warnings << QStringLiteral("[WARNING] Can not write log_KOV.txt: %1 log lines lost").arg(reg.lostLogLines);
    return warnings;
}

QString UnmeasuredShiftsWarning(const CMivoRegisterManager& reg)
{
    if (reg.unmeasuredShifts == 0)
        return QString();
    return QStringLiteral("[WARNING] %1 of %2 frame shifts could not be measured and were taken as 0; parts of the "
                          "flow may not be counted")
        .arg(reg.unmeasuredShifts)
        .arg(MeasuredShifts(reg));
}
