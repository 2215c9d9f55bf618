// The counter's checks on raw arguments and on where its outputs go.

#include "register/output_paths.h"
#include "tools/count/count_options.h"

#include <QFile>

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

QString CheckOutputPaths(const CountOptions& options)
{
    // The same rule as the window's exports.
    if (!options.csvPath.isEmpty() && OutputTouchesFrames(options.csvPath, OutputTarget::File, options.folder))
        return QStringLiteral("--csv %1 would be taken as a frame of %2.").arg(options.csvPath, options.folder);
    if (!options.exportDir.isEmpty() &&
        OutputTouchesFrames(options.exportDir, OutputTarget::PictureFolder, options.folder))
        return QStringLiteral("--export %1 is the counted folder; its pictures would be taken as frames.")
            .arg(options.exportDir);
    return QString();
}
