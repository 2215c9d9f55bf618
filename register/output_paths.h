#pragma once

#include <QString>

// The outputs of a count never touch its input. The window's exports and the headless
// counter's --csv and --export ask this before anything is written.

enum class OutputTarget {
    File,           // one file, such as the particle table
    PictureFolder,  // the folder the pos_/res_ pictures of the frames of interest go into
};

// True when writing `target` would change the frames of `countedFolder`: a file that the
// folder's listing would take as a frame (a frame itself, also through a link, or a new
// file named like one; a pipe or device is not listed and so is harmless), or a picture
// folder that is the counted folder (the next count would take the pictures as frames).
// Links, chains of them too, are followed as the write follows them; a picture folder counts as given and as
// cleaned ("frames/none/.." is "frames" to a writer that cleans it). A counted
// recording (a file) is touched only by a file written over it. False when
// `countedFolder` does not exist.
bool OutputTouchesFrames(const QString& target, OutputTarget kind, const QString& countedFolder);

// Where the window's picture export goes when the user picks `chosen`: `chosen` itself when
// it holds no pos_/res_ pictures of an earlier export, else its first sub-folder
// "export_2", "export_3", ... that does not exist yet, so that two runs' pairs never mix
// and nothing of the earlier export is removed.
QString FreshPictureFolder(const QString& chosen);
