#include "register/frame_listing.h"

#include "stream/recording.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFileInfoList>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

QStringList FrameNamePatterns()
{
    return {QStringLiteral("*.png"),  QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"),
            QStringLiteral("*.tiff"), QStringLiteral("*.tif"), QStringLiteral("*.bmp")};
}

QString TooFewFramesText(int found)
{
    if (found >= kMinimumFrameCount)
        return QString();
    if (found <= 0)
        return QCoreApplication::translate("CMivoRegisterManager", "[ERRO] No images were found");
    const char* text = found == 1 ? "[ERRO] Only %1 image was found; at least %2 are needed"
                                  : "[ERRO] Only %1 images were found; at least %2 are needed";
    return QCoreApplication::translate("CMivoRegisterManager", text).arg(found).arg(kMinimumFrameCount);
}

QDir::SortFlags FrameSortFlags(const QString& sortKey, const QString& order)
{
    const bool descending = order == QLatin1String("orderDescendant");
    // QDir lists times newest first and sizes largest first, names ascending.
    if (sortKey == QLatin1String("byTime"))
        return descending ? QDir::SortFlags(QDir::Time) : QDir::Time | QDir::Reversed;
    if (sortKey == QLatin1String("bySize"))
        return descending ? QDir::SortFlags(QDir::Size) : QDir::Size | QDir::Reversed;
    return descending ? QDir::Name | QDir::Reversed : QDir::SortFlags(QDir::Name);
}

QStringList ListFrameFiles(const QString& folder, QDir::SortFlags flags)
{
    // Without QDir::CaseSensitive the patterns match in any letter case; without
    // QDir::System, links that lead nowhere and pipes, devices and sockets stay out.
    QDir dir(folder, QString(), QDir::NoSort, QDir::Files | QDir::NoDotAndDotDot);
    dir.setNameFilters(FrameNamePatterns());
    const QFileInfoList infos = dir.entryInfoList();

    // QDir reverses ties along with the key; here they always ascend by name.
    struct Entry {
        QString name;
        qint64 key;
    };
    const int key = int(flags & QDir::SortByMask);
    const bool reversed = flags.testFlag(QDir::Reversed);
    std::vector<Entry> entries;
    entries.reserve(size_t(infos.size()));
    for (const QFileInfo& info : infos) {
        const qint64 value = key == QDir::Time   ? info.lastModified().toMSecsSinceEpoch()
                             : key == QDir::Size ? info.size()
                                                 : 0;
        entries.push_back({info.fileName(), value});
    }
    const bool largestFirst = (key == QDir::Time || key == QDir::Size) != reversed;
    const bool namesDescend = key != QDir::Time && key != QDir::Size && reversed;
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        if (a.key != b.key)
            return largestFirst ? a.key > b.key : a.key < b.key;
        return namesDescend ? b.name < a.name : a.name < b.name;
    });
    QStringList names;
    names.reserve(qsizetype(entries.size()));
    for (Entry& entry : entries)
        names << std::move(entry.name);
    return names;
}

QString SkippedFrameFile::Reason() const
{
    switch (kind) {
    case NameNotUtf8:
        return QStringLiteral("name not in UTF-8");
    case BrokenLink:
        return QStringLiteral("broken link");
    case NotRegularFile:
        break;
    }
    return QStringLiteral("not a regular file");
}

std::vector<SkippedFrameFile> SkippedFrameFiles(const QString& folder)
{
    namespace fs = std::filesystem;
    std::vector<SkippedFrameFile> skipped;
    const QStringList patterns = FrameNamePatterns();
    std::error_code error;
    const fs::path path(QFile::encodeName(folder).toStdString());
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        const std::string bytes = it->path().filename().string();
        const QString name = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
        if (!QDir::match(patterns, name))
            continue;
        std::error_code statError;
        const fs::file_type type = fs::status(it->path(), statError).type();  // through links
        SkippedFrameFile::Kind kind;
        if (statError || type == fs::file_type::not_found)
            kind = SkippedFrameFile::BrokenLink;
        else if (type == fs::file_type::directory)
            continue;
        else if (type != fs::file_type::regular)
            kind = SkippedFrameFile::NotRegularFile;
        else if (name.toUtf8() != QByteArray::fromStdString(bytes))
            kind = SkippedFrameFile::NameNotUtf8;
        else
            continue;
        skipped.push_back({name, kind});
    }
    std::sort(skipped.begin(), skipped.end(),
              [](const SkippedFrameFile& a, const SkippedFrameFile& b) { return a.name < b.name; });
    return skipped;
}

QStringList UndecodableFrameFiles(const QString& folder)
{
    QStringList names;
    for (const SkippedFrameFile& file : SkippedFrameFiles(folder)) {
        if (file.kind == SkippedFrameFile::NameNotUtf8)
            names << file.name;
    }
    return names;
}

QString RecordingFrameName(int index, const QString& path)
{
    return QStringLiteral("frame %1 of %2").arg(index).arg(QFileInfo(path).fileName());
}

QString FramePictureName(int index, const QString& frameName, bool recording)
{
    if (recording)
        return QStringLiteral("%1.png").arg(index, 6, 10, QLatin1Char('0'));
    return QString::number(index) + QLatin1Char('_') + frameName;
}

namespace {

SequenceListing ListRecording(const QString& path)
{
    SequenceListing listing;
    listing.path = path;
    const RecordingProbe probe = ProbeRecording(QFile::encodeName(path).toStdString());
    listing.kind = probe.kind;
    const QString name = QFileInfo(path).fileName();
    if (probe.status != FrameReadStatus::Read) {
        listing.error = QCoreApplication::translate("CMivoRegisterManager", "[ERRO] Can not read recording %1 (%2)")
                            .arg(name, QString::fromStdString(RecordingProbeReason(probe)));
        return listing;
    }
    listing.frameNames.reserve(probe.frameCount);
    for (int index = 0; index < probe.frameCount; ++index)
        listing.frameNames << RecordingFrameName(index, path);
    if (probe.frameCount < kMinimumFrameCount) {
        const char* text = probe.frameCount == 1 ? "[ERRO] Only %1 frame was found in %2; at least %3 are needed"
                                                 : "[ERRO] Only %1 frames were found in %2; at least %3 are needed";
        listing.error = QCoreApplication::translate("CMivoRegisterManager", text)
                            .arg(probe.frameCount)
                            .arg(name)
                            .arg(kMinimumFrameCount);
    }
    return listing;
}

}  // namespace

SequenceListing ListSequence(const QString& path, QDir::SortFlags flags)
{
    // A folder gone since it was chosen lists nothing, as a folder.
    const QFileInfo info(path);
    if (info.exists() && !info.isDir())
        return ListRecording(path);
    SequenceListing listing;
    listing.path = path;
    listing.frameNames = ListFrameFiles(path, flags);
    // What the listing left out, as it stood when the frames were listed.
    listing.leftOut = SkippedFrameFiles(path);
    listing.error = TooFewFramesText(static_cast<int>(listing.frameNames.size()));
    return listing;
}
