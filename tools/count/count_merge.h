#pragma once

#include <QString>
#include <QStringList>

// tessel-count --merge: the --json summaries of the parts of one sequence (--frames
// FIRST:LAST, run_part.h) summed into the summary of the frames they cover together.
//
// Every summary must be of a part, and all of one sequence counted with the same settings
// (mode, folder, method, size range, pixel size, circularity, depth, frame size); the parts
// must meet end to end, each beginning at the frame the one before ends with. Summed: the
// counters, the records, the unmeasured motions (each part's over the frames it read, so a
// motion near a shared frame may be counted by both); joined: the counting frames, the frames
// left out; "frames" the frames covered. Of the size statistics only what sums exactly: the
// particles sized and their mean ECD and area; the deciles and the mean aspect ratio are
// null (take them from the parts' tables). A JSON object, one line, with the keys of a part's, "parts" last.
struct MergedSummary {
    QString json;      // empty when the parts cannot be merged
    QString error;     // "[ERRO] ..." why not
    QString coverage;  // "[WARNING] ..." when the parts do not cover the whole sequence
};

// `files`: each holds one summary a line (tessel-count --json output of one or more parts).
MergedSummary MergePartSummaries(const QStringList& files);
