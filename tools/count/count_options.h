#pragma once

#include "register/run_settings.h"
#include "stream/frame_reader.h"

#include <QString>
#include <QStringList>

// Settings of one headless count, as given on the command line.
struct CountOptions {
    QString folder;
    CountingMode mode = CountingMode::FramesOfInterest;
    int method = 3;  // 1 Otsu, 2 Mode Value, 3 Frame Diff, 4 Background; the mode's default unless given
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
    long long maxFramePixels = kDefaultFramePixelLimit;  // frames above it are refused
};

enum class ParseResult { Run, Help, BadUsage };

// Reads the arguments (program name first). On BadUsage `message` holds what was
// wrong; on Help and BadUsage `usage` holds the usage text.
ParseResult ParseCountOptions(const QStringList& arguments, CountOptions& options, QString& message, QString& usage);

// Checks on the raw arguments and on the outputs, before anything is read or written;
// each returns what is wrong (bad usage), or an empty text.

// An argument whose bytes are not valid UTF-8 reaches the program as a different
// text: a path in it would name another file. Such arguments are refused.
QString CheckArgumentBytes(int argc, const char* const argv[]);

// The outputs must not touch the input: a --csv file that the listing of the counted
// folder would take as a frame (a frame itself, through a link too), an --export
// folder that is the counted folder (the next count would take its pictures as frames).
QString CheckOutputPaths(const CountOptions& options);
