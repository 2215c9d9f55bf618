#include "register/output_paths.h"

#include "register/frame_listing.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

// The file a write to `path` ends up in: the end of a chain of links, as the safe
// replace of a file follows them (no further than the system would); empty when its
// folder does not exist.
QString WrittenFile(const QString& path)
{
    QFileInfo file(QFileInfo(path).absoluteFilePath());
    for (int links = 0; file.isSymLink() && links < 40; ++links)
        file = QFileInfo(file.symLinkTarget());
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + file.fileName();
}

}  // namespace

bool OutputTouchesFrames(const QString& target, OutputTarget kind, const QString& countedFolder)
{
    const QString counted = QFileInfo(countedFolder).canonicalFilePath();
    if (counted.isEmpty() || target.isEmpty())
        return false;
    // A recording: only the file itself is its frames.
    if (!QFileInfo(counted).isDir())
        return kind == OutputTarget::File && WrittenFile(target) == counted;
    if (kind == OutputTarget::PictureFolder) {
        // A folder not made yet has no canonical path; cleaned, "frames/none/.." already
        // names the counted folder.
        return QFileInfo(target).canonicalFilePath() == counted ||
               QFileInfo(QDir::cleanPath(target)).canonicalFilePath() == counted;
    }
    const QString written = WrittenFile(target);
    if (written.isEmpty())
        return false;
    const QFileInfo file(written);
    const bool listable = !file.exists() || file.isFile();
    return file.absolutePath() == counted && listable && QDir::match(FrameNamePatterns(), file.fileName());
}

QString FreshPictureFolder(const QString& chosen)
{
    // Named as ExportRunPictures names them: pos_ or res_, the frame index, "_", the file.
    static const QRegularExpression earlier(QStringLiteral("^(pos|res)_\\d+_"));
    // A link of that name is not a picture we wrote (and the export refuses to write through it).
    const QStringList entries = QDir(chosen).entryList(QDir::Files | QDir::NoSymLinks);
    const bool used =
        std::any_of(entries.begin(), entries.end(), [](const QString& name) { return earlier.match(name).hasMatch(); });
    if (!used)
        return chosen;
    for (int n = 2;; ++n) {
        const QString candidate = QDir(chosen).filePath(QStringLiteral("export_%1").arg(n));
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink())
            return candidate;
    }
}
