#pragma once

#include "register/run_result.h"
#include "register/run_settings.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// A count the window holds: the settings it was counted with and its result. Every number
// the window shows of it is a function of the two (register/run_numbers.h).
struct CountedRun {
    RunSettings settings;
    RunResult result;
};

// What produced the numbers on the counters: a whole run, or one frame counted alone
// ("Count Current"), and the settings they were counted with. The window compares it
// with its settings after every change to tell whether the numbers still hold.
enum class CountSource {
    None,          // nothing counted since the folder was opened
    Run,           // the stored records of the last run, recounted by the range and filter
    CurrentFrame,  // one frame counted alone
};

struct CountBasis {
    CountSource source = CountSource::None;
    // Folder, frames in order, mode, method, size range, filter, pixel size; the margins
    // only for a frame counted alone (a run counts whole frames).
    RunSettings settings;
    int frame = -1;         // CurrentFrame: 0-based index of the frame counted
    int framesCounted = 0;  // Run: frames read; CurrentFrame: 1
    int bitDepth = 0;       // Run: the depth its samples were scaled by (shown when not 8)
    QDateTime countedAt;
};

// The basis of a count the window holds: a run (recounted), or the frame alone it names.
CountBasis BasisOf(CountSource source, const CountedRun& count);

// The settings the numbers depend on that differ between `basis` and `now`, by name:
// "folder", "frames" (listing or order), "mode", "method", "size range", "pixel size",
// "circularity filter", "crop". A run does not depend on the crop, a frame counted alone
// neither on the mode nor on the other frames. Empty when nothing was counted.
QStringList ChangedCountSettings(const CountBasis& basis, const RunSettings& now);

// One line: folder, mode, method, size range, circularity filter, frames counted (and
// their depth when not 8 bits), time.
// "No count yet" for CountSource::None.
QString CountSummaryText(const CountBasis& basis);
