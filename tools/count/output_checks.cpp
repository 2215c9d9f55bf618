// The counter's checks on raw arguments and on where its outputs go.

#include "register/frame_listing.h"
#include "tools/count/count_options.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString CheckArgumentBytes(int argc, const char* const argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray bytes(argv[i]);
        const QString text = QFile::decodeName(bytes);
        if (QFile::encodeName(text) != bytes)
            return QStringLiteral("Argument %1 (%2) is not valid UTF-8; paths must be given in UTF-8.")
                .arg(i)
                .arg(text);
    }
    return QString();
}

namespace {

// The file a write to `path` ends up in: a link's target, as the safe replace of the
// table follows it; empty when its folder does not exist.
QString WrittenFile(const QString& path)
{
    const QFileInfo info(path);
    const QFileInfo file(info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath());
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + file.fileName();
}

}  // namespace

QString CheckOutputPaths(const CountOptions& options)
{
    const QString counted = QFileInfo(options.folder).canonicalFilePath();
    if (counted.isEmpty())
        return QString();  // no such folder: the count itself says so
    const QString csv = options.csvPath.isEmpty() ? QString() : WrittenFile(options.csvPath);
    if (!csv.isEmpty()) {
        const QFileInfo written(csv);
        // A pipe or a device named like a frame is not listed, so writing to it is harmless.
        const bool listable = !written.exists() || written.isFile();
        if (written.absolutePath() == counted && listable && QDir::match(FrameNamePatterns(), written.fileName()))
            return QStringLiteral("--csv %1 would be taken as a frame of %2.").arg(options.csvPath, options.folder);
    }
    if (!options.exportDir.isEmpty() && QFileInfo(options.exportDir).canonicalFilePath() == counted)
        return QStringLiteral("--export %1 is the counted folder; its pictures would be taken as frames.")
            .arg(options.exportDir);
    return QString();
}
