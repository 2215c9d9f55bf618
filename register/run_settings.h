#pragma once

#include "stream/count_defaults.h"
#include "stream/frame_reader.h"
#include "stream/recording.h"
#include "toolkit/segmentation.h"

#include <QString>
#include <QStringList>

// How a run decides which particles it counts.
enum class CountingMode {
    FramesOfInterest,  // frames chosen from the shift sum, counted whole; the last one's new strip
    CountingLine,      // every particle followed from frame to frame, counted once where it crosses a line
};

// The segmentation a mode counts with unless the user chooses another: Frame Diff for the
// frames of interest, Background (sizes that blur does not change) for the counting line.
constexpr int DefaultMethod(CountingMode mode)
{
    return mode == CountingMode::CountingLine ? kMethodBackground : count_defaults::kMethod;
}

// A segmentation method by its name, as the text summaries and the window name it:
// "Otsu", "Mode Value", "Frame Diff", "Background"; "method N" for any other number.
QString MethodName(int method);

// Everything one run needs, taken as one value: the run reads nothing else. A value
// left alone is the value the window and tessel-count start with.
struct RunSettings {
    QString folder;          // the folder of the frames, or the recording file
    QStringList frameNames;  // file names in the folder, in processing order; a recording's frames' names
    int method = count_defaults::kMethod;
    int minArea = count_defaults::kMinArea;  // area bounds in pixels
    int maxArea = count_defaults::kMaxArea;
    int marginTop = 0;  // rows and columns cleared at the frame's edges, in pixels
    int marginBottom = 0;
    int marginLeft = 0;
    int marginRight = 0;
    bool circularityFilter = count_defaults::kCircularityFilter;
    double minCircularity = count_defaults::kMinCircularity;
    double pixelSize = count_defaults::kPixelSize;        // micrometres per pixel side
    long long framePixelLimit = kDefaultFramePixelLimit;  // frames of more pixels are refused
    CountingMode mode = CountingMode::FramesOfInterest;
    int decodeThreads = count_defaults::kDecodeThreads;  // 0: every frame is decoded by the step itself
    // 0-based index of the one frame to count, whole, alone (the window's "Count Current"),
    // whatever the mode; -1: the mode's count of the sequence.
    int onlyFrame = -1;
    SequenceKind sequenceKind = SequenceKind::Folder;  // a folder's files, a stack's pages, a video's frames
    // A part of the sequence, frames partFirst .. partLast, counted alone (run_part.h);
    // -1: the whole sequence.
    int partFirst = -1;
    int partLast = -1;
    // The sequence's index of frameNames[0]: a recording read from a later frame on.
    int firstListed = 0;
    double frameRate = 0.0;  // frames per second, for speeds per second; 0: not known
    // A folder still being written, counted as its frames arrive (folder_watch.h): the list
    // starts empty (frameNames is not read) and grows; the run ends on CRunEngine::EndWatch,
    // when the folder vanishes, or after watchIdleSeconds without a new frame (0: never).
    bool watch = false;
    double watchIdleSeconds = 0.0;
};
