#include "register/frame_listing.h"

QStringList FrameNamePatterns()
{
    return {QStringLiteral("*.png"), QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"),
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
