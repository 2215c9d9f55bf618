#pragma once

#include "register/run_settings.h"

#include <QString>
#include <QStringList>

// Settings of a headless count of one or more folders, as given on the command line.
struct CountOptions {
    QStringList folders;  // counted one after the other, with the same settings
    // What every folder is counted with (its folder and frames aside): mode, method (the
    // mode's default unless given), size range, pixel size, circularity filter, pixel limit.
    RunSettings run;
    QString sortKey = QStringLiteral("byName");  // frame listing keys of the window
    QString order = QStringLiteral("orderAscendant");
    // Outputs, empty when not asked for. With one folder each names the file (or the
    // picture folder) itself; with several, a folder holding one per counted folder
    // (FolderOutputs below).
    QString csvPath;                                  // particle table
    QString exportDir;                                // pos_/res_ pictures
    QString histogramPath;                            // size-distribution chart, .png or .svg
    QString histogramCsvPath;                         // its bins
    QString histogramFormat = QStringLiteral("png");  // "png" or "svg": FILE's suffix with one folder
    bool json = false;
    // --merge: the arguments are JSON summaries of parts of one sequence (--frames), summed
    // into one summary instead of anything counted.
    bool merge = false;
};

enum class ParseResult { Run, Help, BadUsage };

// Whether the arguments ask for the size-distribution chart (--histogram). Decided before
// the application object exists: the chart is drawn by widgets, which need a QApplication,
// while a count without it needs only a QCoreApplication and no display at all.
bool ChartAsked(int argc, const char* const argv[]);

// Reads the arguments (program name first). On BadUsage `message` holds what was
// wrong; on Help and BadUsage `usage` holds the usage text.
ParseResult ParseCountOptions(const QStringList& arguments, CountOptions& options, QString& message, QString& usage);

// Checks on the raw arguments and on the outputs, before anything is read or written;
// each returns what is wrong (bad usage), or an empty text.

// An argument whose bytes are not valid UTF-8 reaches the program as a different
// text: a path in it would name another file. Such arguments are refused.
QString CheckArgumentBytes(int argc, const char* const argv[]);

// The outputs must not touch the input: a --csv, --histogram or --histogram-csv file that
// the listing of a counted folder would take as a frame (a frame itself, through a link
// too), an --export folder that is a counted folder (the next count would take its
// pictures as frames). With several folders every output of every folder is checked
// against every counted folder, and an output that names an existing file, not a folder,
// is refused.
QString CheckOutputPaths(const CountOptions& options);

// Where the outputs of folders[index] go. With one folder, the options' paths. With n
// folders, the folder an option names gets one file (or sub-folder) per counted folder,
// named by its place among the arguments and its own name: "<i>_<name>", i from 1, padded
// with zeros to the digits of n (so that they sort in argument order), name the last part
// of the folder's path. The place keeps two folders of the same name apart, and a folder
// given twice too:
//   --csv DIR            DIR/<i>_<name>.csv
//   --histogram DIR      DIR/<i>_<name>.png (.svg with --histogram-format svg)
//   --histogram-csv DIR  DIR/<i>_<name>_bins.csv (beside the tables in the same DIR)
//   --export DIR         DIR/<i>_<name>/ holding the pos_/res_ pictures
struct FolderOutputs {
    QString csv, exportDir, histogram, histogramCsv;
};
FolderOutputs OutputsOf(const CountOptions& options, int index);
