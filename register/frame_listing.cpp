#include "register/frame_listing.h"

#include <QFile>

#include <filesystem>
#include <string>
#include <system_error>

QStringList FrameNamePatterns()
{
    return {QStringLiteral("*.png"),  QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"),
            QStringLiteral("*.tiff"), QStringLiteral("*.tif"), QStringLiteral("*.bmp")};
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
    // Without QDir::CaseSensitive the patterns match in any letter case.
    QDir dir(folder, QString(), flags, QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    dir.setNameFilters(FrameNamePatterns());
    return dir.entryList();
}

QStringList UndecodableFrameFiles(const QString& folder)
{
    QStringList names;
    std::error_code error;
    const std::filesystem::path path(QFile::encodeName(folder).toStdString());
    for (std::filesystem::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        if (it->is_symlink(error) || !it->is_regular_file(error))
            continue;
        const std::string bytes = it->path().filename().string();
        const QString name = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
        if (name.toUtf8() != QByteArray::fromStdString(bytes) && QDir::match(FrameNamePatterns(), name))
            names << name;
    }
    names.sort();
    return names;
}
