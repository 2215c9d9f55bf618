#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

// The frames of an image sequence are the image files directly inside one folder.
// This is the one listing used by the window and by the headless counter, so both
// see the same frames in the same order.

// Name patterns of frame files, in any letter case.
QStringList FrameNamePatterns();

// A sequence needs at least this many frames to be processed.
constexpr int kMinimumFrameCount = 6;

// Listing flags for a sort key ("byName", "byTime", "bySize") and an order
// ("orderAscendant", "orderDescendant"). Names ascend in plain, case-sensitive string
// order; "orderAscendant" puts the oldest or the smallest file first. An unknown key
// sorts by name, an unknown order counts as ascending.
QDir::SortFlags FrameSortFlags(const QString& sortKey, const QString& order);

// Names (no folder part) of the regular files of `folder` that match the patterns,
// sorted with `flags`; sub-folders and symbolic links are left out.
QStringList ListFrameFiles(const QString& folder, QDir::SortFlags flags);

// Frame files that ListFrameFiles leaves out because their names are not valid UTF-8
// (no QString can name them, so they cannot be opened through one either), named with
// the undecodable bytes replaced. Sorted by name.
QStringList UndecodableFrameFiles(const QString& folder);
