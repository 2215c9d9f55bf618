#include "register/reading_texts.h"

#include "stream/tiff_stack.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

QString Text(const char* text)
{
    return QCoreApplication::translate("CMivoRegisterManager", text);
}

}  // namespace

QString SampleDepthText(const SampleDepth& depth)
{
    switch (depth.source) {
    case DepthSource::None:
        return Text("unknown");
    case DepthSource::Stored:
        break;
    case DepthSource::Header:
        return Text("%1 (named in the file)").arg(depth.bits);
    case DepthSource::LargestValue:
        return Text("%1 (frame 0's largest sample %2)").arg(depth.bits).arg(depth.firstFrameLargest);
    }
    return QString::number(depth.bits);
}

QString RecordingCutShortText(const RunSettings& settings, const RunResult& result)
{
    if (result.framesDeclared <= result.frameCount)
        return QString();
    const QString name = QFileInfo(settings.folder).fileName();
    if (result.frameCount <= 0)
        return Text("%1 could not be read at all; none of its %2 frames were counted").arg(name).arg(result.framesDeclared);
    return Text("%1 could not be read past frame %2; %3 of its %4 frames were counted")
        .arg(name)
        .arg(result.frameCount - 1)
        .arg(result.frameCount)
        .arg(result.framesDeclared);
}

QString MultiPageFramesText(const RunSettings& settings, const RunResult& result)
{
    const int files = static_cast<int>(result.multiPageFrames.size());
    if (files == 0)
        return QString();
    const QString name = settings.frameNames.value(result.multiPageFrames.front());
    const int pages = TiffPageCount(QDir(settings.folder).filePath(name).toStdString());
    // Pages are counted now: a file changed since the run may not say.
    const QString counted = pages > 1 ? QString::number(pages) : Text("several");
    if (files == 1)
        return Text("%1 holds %2 pages; only its first page is read as a frame").arg(name, counted);
    return Text("%1 frame files hold several pages (%2: %3, ...); only the first page of each is read as a frame")
        .arg(files)
        .arg(name, counted);
}

QString FaintFramesText(const RunSettings& settings, const RunResult& result)
{
    const int faint = static_cast<int>(result.faintFrames.size());
    if (faint == 0)
        return QString();
    const QString first = settings.frameNames.value(result.faintFrames.front());
    const QString named = faint == 1 ? first : first + QStringLiteral(", ...");
    const char* text = faint == 1 ? "%1 frame uses less than 1/16 of the %2-bit range (%3): nearly black at "
                                    "that depth, its particles may go uncounted"
                                  : "%1 frames use less than 1/16 of the %2-bit range (%3): nearly black at "
                                    "that depth, their particles may go uncounted";
    return Text(text).arg(faint).arg(result.sampleDepth.bits).arg(named);
}
