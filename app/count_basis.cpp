#include "app/count_basis.h"

#include "app/form_text.h"
#include "register/run_numbers.h"

#include <QDir>
#include <QLocale>

namespace {

QString ModeName(CountingMode mode)
{
    return mode == CountingMode::CountingLine ? FormText("Counting line") : FormText("Frames of interest");
}

bool SameFilter(const RunSettings& a, const RunSettings& b)
{
    // The threshold matters only while the filter is on.
    return a.circularityFilter == b.circularityFilter && (!a.circularityFilter || a.minCircularity == b.minCircularity);
}

bool SameMargins(const RunSettings& a, const RunSettings& b)
{
    return a.marginTop == b.marginTop && a.marginBottom == b.marginBottom && a.marginLeft == b.marginLeft &&
           a.marginRight == b.marginRight;
}

QString FrameOf(const CountBasis& basis)
{
    return basis.settings.frameNames.value(basis.frame);
}

}  // namespace

CountBasis BasisOf(CountSource source, const CountedRun& count)
{
    CountBasis basis;
    basis.source = source;
    basis.settings = count.settings;
    basis.frame = count.settings.onlyFrame;
    basis.framesCounted = FramesCounted(count.settings, count.result);
    basis.countedAt = count.result.finishedAt;
    basis.bitDepth = count.result.sampleDepth.bits;
    return basis;
}

QStringList ChangedCountSettings(const CountBasis& basis, const RunSettings& now)
{
    QStringList changed;
    if (basis.source == CountSource::None)
        return changed;
    const RunSettings& then = basis.settings;
    const bool run = basis.source == CountSource::Run;
    if (QDir::cleanPath(then.folder) != QDir::cleanPath(now.folder))
        changed << FormText("folder");
    else if (run ? then.frameNames != now.frameNames : !now.frameNames.contains(FrameOf(basis)))
        changed << FormText("frames");
    if (run && then.mode != now.mode)
        changed << FormText("mode");
    if (then.method != now.method)
        changed << FormText("method");
    if (then.minArea != now.minArea || then.maxArea != now.maxArea)
        changed << FormText("size range");
    if (then.pixelSize != now.pixelSize)
        changed << FormText("pixel size");
    if (!SameFilter(then, now))
        changed << FormText("circularity filter");
    if (!run && !SameMargins(then, now))
        changed << FormText("crop");
    return changed;
}

QString CountSummaryText(const CountBasis& basis)
{
    if (basis.source == CountSource::None)
        return FormText("No count yet");
    const RunSettings& s = basis.settings;
    const QString filter = s.circularityFilter
                               ? FormText("circularity >= %1").arg(QLocale::c().toString(s.minCircularity, 'g', 3))
                               : FormText("no circularity filter");
    QString what = basis.source == CountSource::Run
                       ? FormText("%1, %2 frames counted").arg(ModeName(s.mode)).arg(basis.framesCounted)
                       : FormText("frame %1 (%2) alone").arg(QString::number(basis.frame + 1), FrameOf(basis));
    if (basis.source == CountSource::Run && basis.bitDepth > 8)
        what += FormText(", %1-bit").arg(basis.bitDepth);
    // All in one call: a folder or file name holding "%4" stays as it is.
    return FormText("%1 | %2 | %3 | %4 to %5 px at %6 um | %7 | %8")
        .arg(QDir::toNativeSeparators(s.folder), what, MethodName(s.method), QString::number(s.minArea),
             QString::number(s.maxArea), QLocale::c().toString(s.pixelSize, 'g', 6), filter,
             basis.countedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}
