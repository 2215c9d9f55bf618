#pragma once

#include "stream/sequence_kind.h"

#include <QDir>
#include <QString>
#include <QStringList>

#include <vector>

// The frames of an image sequence are the image files directly inside one folder, or
// the frames of one recording file (the pages of a multi-page TIFF, the frames of a
// video). ListSequence is the one listing used by the window and by the headless
// counter, so both see the same frames in the same order.

// Name patterns of frame files, in any letter case.
QStringList FrameNamePatterns();

// A sequence needs at least this many frames to be processed.
constexpr int kMinimumFrameCount = 6;

// What the window and the counter say when a folder holds `found` frames, fewer than
// kMinimumFrameCount: "[ERRO] No images were found" for none, and for some how many
// there are and how many are needed ("[ERRO] Only 4 images were found; at least 6 are
// needed"). Empty when there are enough.
QString TooFewFramesText(int found);

// Listing flags for a sort key ("byName", "byTime", "bySize") and an order
// ("orderAscendant", "orderDescendant"). Names ascend in plain, case-sensitive string
// order; "orderAscendant" puts the oldest or the smallest file first. An unknown key
// sorts by name, an unknown order counts as ascending.
QDir::SortFlags FrameSortFlags(const QString& sortKey, const QString& order);

// Names (no folder part) of the files of `folder` that match the patterns and are
// regular files or symbolic links to regular files (a link counts as its target's
// time and size). The key of `flags` orders them as QDir would: names ascending,
// times newest first, sizes largest first, QDir::Reversed turning that round; files
// of equal time or size follow each other by name, ascending in both directions, so
// that every order is total.
QStringList ListFrameFiles(const QString& folder, QDir::SortFlags flags);

// An entry of the folder whose name matches the patterns but that ListFrameFiles
// leaves out. Sub-folders are not frames and are not named.
struct SkippedFrameFile {
    enum Kind {
        NameNotUtf8,     // no QString can name it, so it cannot be opened through one
        BrokenLink,      // a symbolic link that leads nowhere
        NotRegularFile,  // a pipe, device or socket, or a link to one
    };
    QString name;  // bytes that are not UTF-8 shown as U+FFFD
    Kind kind;
    // "name not in UTF-8", "broken link", "not a regular file".
    QString Reason() const;
};

// Sorted by name.
std::vector<SkippedFrameFile> SkippedFrameFiles(const QString& folder);

// The names of the skipped files whose names are not valid UTF-8, sorted.
QStringList UndecodableFrameFiles(const QString& folder);

// A sequence as a run takes it.
struct SequenceListing {
    QString path;  // the folder, or the recording file
    SequenceKind kind = SequenceKind::Folder;
    QStringList frameNames;                  // in processing order (RecordingFrameName for a recording)
    std::vector<SkippedFrameFile> leftOut;   // a folder's files named like frames but left out
    QString error;  // "[ERRO] ..." when it cannot be counted; empty when it can
};

// Lists `path`: a folder's frame files in the order of `flags` (ListFrameFiles, with
// the files it leaves out, SkippedFrameFiles), or, for a file, the frames of the
// recording it holds (a stack's pages or a video's frames, in their order: `flags`
// do not apply). A sequence of fewer than kMinimumFrameCount frames cannot be counted
// (TooFewFramesText, or its recording's form), nor a recording that cannot be opened
// ("[ERRO] Can not read recording NAME (reason)").
SequenceListing ListSequence(const QString& path, QDir::SortFlags flags);

// How frame `index` (0-based) of the recording `path` is named in messages and
// tables: "frame 17 of stack.tif".
QString RecordingFrameName(int index, const QString& path);

// What an exported picture of frame `index` is called after its "pos_" or "res_": the
// index and the frame's file name for a folder ("17_frame_0017.png"), the index alone,
// six digits, as PNG for a recording ("000017.png").
QString FramePictureName(int index, const QString& frameName, bool recording);
