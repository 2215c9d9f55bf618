#pragma once

#include <QString>
#include <QStringList>

// Settings of one headless count, as given on the command line.
struct CountOptions {
    QString folder;
    int method = 3;  // 1 Otsu, 2 Mode Value, 3 Frame Diff
    int minPixels = 25;
    int maxPixels = 100;
    double pixelSize = 1.5;  // micrometres per pixel side
    bool circularityFilter = false;
    double minCircularity = 0.5;
    QString sortKey = QStringLiteral("byName");  // frame listing keys of the window
    QString order = QStringLiteral("orderAscendant");
    QString csvPath;    // empty: no particle table
    QString exportDir;  // empty: no export
    bool json = false;
};

enum class ParseResult { Run, Help, BadUsage };

// Reads the arguments (program name first). On BadUsage `message` holds what was
// wrong; on Help and BadUsage `usage` holds the usage text.
ParseResult ParseCountOptions(const QStringList& arguments, CountOptions& options, QString& message, QString& usage);
