#pragma once

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
    return mode == CountingMode::CountingLine ? kMethodBackground : kMethodFrameDiff;
}

// Frames decoded ahead of the run on worker threads unless a caller asks otherwise.
constexpr int kDefaultDecodeThreads = 2;

// Everything one run needs, taken as one value: the run reads nothing else.
struct RunSettings {
    QString folder;          // the folder of the frames, or the recording file
    QStringList frameNames;  // file names in the folder, in processing order; a recording's frames' names
    int method = kMethodFrameDiff;
    int minArea = 10;  // area bounds in pixels
    int maxArea = 900;
    int marginTop = 0;  // rows and columns cleared at the frame's edges, in pixels
    int marginBottom = 0;
    int marginLeft = 0;
    int marginRight = 0;
    bool circularityFilter = false;
    double minCircularity = 0.5;
    double pixelSize = 1.5;                               // micrometres per pixel side
    long long framePixelLimit = kDefaultFramePixelLimit;  // frames of more pixels are refused
    CountingMode mode = CountingMode::FramesOfInterest;
    int decodeThreads = kDefaultDecodeThreads;  // 0: every frame is decoded by the step itself
    SequenceKind sequenceKind = SequenceKind::Folder;  // a folder's files, a stack's pages, a video's frames
};
