// The counter's checks on raw arguments and on where its outputs go, and the names of
// the outputs of each folder.

#include "register/output_paths.h"
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

FolderOutputs OutputsOf(const CountOptions& options, int index)
{
    if (options.folders.size() == 1)
        return {options.csvPath, options.exportDir, options.histogramPath, options.histogramCsvPath};
    const QString folder = QDir::cleanPath(options.folders[index]);
    QString name = QFileInfo(folder).fileName();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QDir(folder).dirName();  // ".", "..": the name of the folder they are
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("folder");  // "/"
    const int digits = static_cast<int>(QString::number(options.folders.size()).size());
    const QString stem = QStringLiteral("%1_%2").arg(index + 1, digits, 10, QLatin1Char('0')).arg(name);
    const auto in = [&stem](const QString& dir, const QString& suffix) {
        return dir.isEmpty() ? QString() : QDir::cleanPath(dir) + QLatin1Char('/') + stem + suffix;
    };
    return {in(options.csvPath, QStringLiteral(".csv")), in(options.exportDir, QString()),
            in(options.histogramPath, QLatin1Char('.') + options.histogramFormat),
            in(options.histogramCsvPath, QStringLiteral("_bins.csv"))};
}

QString CheckOutputPaths(const CountOptions& options)
{
    if (options.folders.size() > 1) {
        const std::pair<const char*, QString> dirs[] = {{"--csv", options.csvPath},
                                                        {"--export", options.exportDir},
                                                        {"--histogram", options.histogramPath},
                                                        {"--histogram-csv", options.histogramCsvPath}};
        for (const auto& [option, dir] : dirs)
            if (!dir.isEmpty() && QFileInfo::exists(dir) && !QFileInfo(dir).isDir())
                return QStringLiteral("%1 %2 is a file; with several folders it names a folder.")
                    .arg(QLatin1String(option), dir);
    }
    // The same rule as the window's exports, for every folder's outputs against every
    // counted folder: one folder's chart must not become another's frame.
    for (int index = 0; index < options.folders.size(); ++index) {
        const FolderOutputs outputs = OutputsOf(options, index);
        const std::pair<const char*, QString> files[] = {
            {"--csv", outputs.csv}, {"--histogram", outputs.histogram}, {"--histogram-csv", outputs.histogramCsv}};
        for (const QString& counted : options.folders) {
            for (const auto& [option, file] : files)
                if (!file.isEmpty() && OutputTouchesFrames(file, OutputTarget::File, counted))
                    return QString::fromLatin1(QFileInfo(counted).isDir() ? "%1 %2 would be taken as a frame of %3."
                                                                          : "%1 %2 would replace the recording %3.")
                        .arg(QLatin1String(option), file, counted);
            if (!outputs.exportDir.isEmpty() &&
                OutputTouchesFrames(outputs.exportDir, OutputTarget::PictureFolder, counted))
                return QStringLiteral("--export %1 is the counted folder; its pictures would be taken as frames.")
                    .arg(outputs.exportDir);
        }
    }
    return QString();
}
