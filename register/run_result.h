#pragma once

#include "stream/crossing_counter.h"
#include "stream/sample_depth.h"
#include "toolkit/particle_measure.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

enum class RunEnd {
    Running,     // not over yet: the result so far
    Finished,    // every step done; the counters classify the records
    Cancelled,   // stopped early: what had been done by then
    NotStarted,  // nothing could run; `error` says why
    Failed,      // stopped part-way for lack of memory, or a watched folder gave too few frames or an
                 // unreadable frame 0; `error` says so, the result keeps what was done
};

// What a run found. Filled step by step, complete once `end` is Finished.
struct RunResult {
    RunEnd end = RunEnd::Running;
    QString error;         // "[ERRO] ..." when the run could not start or failed
    QDateTime finishedAt;  // when the run finished (end Finished); invalid otherwise
    int frameCount = 0;
    int frameWidth = 0;  // of frame 0; every other frame must have its size
    int frameHeight = 0;
    std::vector<int> selectedFrames;  // frames of interest, in the order chosen; counting line: frames that counted
    int accumulatedShift = 0;         // columns of the last frame's new strip
    // The last frame was chosen from the shift sum and counted whole: it has no strip of
    // its own.
    bool lastFrameCountedWhole = false;
    std::vector<ParticleMeasure> records;  // every counted frame's records, each frame's reversed
    int countInRange = 0;                  // the records classified by the run's settings
    int countGreater = 0;
    int countSmaller = 0;
    std::vector<int> unreadableFrames;  // 0-based, ascending
    std::vector<int> outOfMemoryFrames;  // those of them left out because memory ran out working on them
    int unmeasuredShifts = 0;           // shifts that could not be measured and were taken as 0
    int lostLogLines = 0;               // log lines of this run that could not be written
    // Counting line only. Unmeasured motions are taken from the neighbouring frames instead,
    // and the flow breaks among them are the frames that share nothing with the frame before
    // (a shift larger than the frame): the flow is followed afresh from there.
    int flowBreaks = 0;
    FlowDirection flowDirection = FlowDirection::kUnknown;
    std::vector<SweptBand> sweptBands;  // the mosaic of the flow: each readable frame's band, in order
    // What reading the frames found, both modes. The depth every frame's samples were
    // scaled by (frame 0's: 8 for 8-bit frames); the frames whose samples use less than
    // 1/16 of its range (nearly black at that depth).
    SampleDepth sampleDepth;
    std::vector<int> faintFrames;  // 0-based, ascending
    // A recording that could not be decoded past some frame ends there: frameCount holds
    // the frames it gave, this the frames it declared; 0 when it gave them all.
    int framesDeclared = 0;
    // Frames of interest only: frames taken as still (shift 0) although they differ from
    // the frame before well above the noise; counted among unmeasuredShifts.
    int changedWithoutShift = 0;
    // Counting line: objects that stayed in place while the flow moved past them (never
    // counted); particles linked from frame to frame, and of those the links that were not
    // sure (another candidate nearly as good, or a speed that jumped).
    int staticObjects = 0;
    int ambiguousLinks = 0;
    int links = 0;
    std::vector<int> directionChanges;  // frames from which the flow moved the other way
    // Crossings of the counting line along the flow's direction and against it; their
    // difference is the net count. A particle carried back and forth counts once at most.
    int crossingsForward = 0;
    int crossingsBackward = 0;
    // The size range the particles were detected with (frames of interest and a frame alone:
    // detection itself drops particles by size, so a recount to another range cannot give
    // what a run at that range gives); 0 and 0 for the counting line, which detects by no size.
    int detectedMinArea = 0;
    int detectedMaxArea = 0;
    // Frame files of a folder that are multi-page TIFFs, of which only the first page was
    // read (a stack given as the recording is read page by page); 0-based, ascending.
    std::vector<int> multiPageFrames;
    // A watched folder: frame files left out because they arrived after a frame that follows
    // them by name, frame files still incomplete when the watch ended; the folder vanished.
    QStringList lateFrames;
    QStringList incompleteFrames;
    bool folderGone = false;
};

// The columns (rows, for a vertical flow) of the last frame's new strip: its band's width.
inline int LastBandWidth(const std::vector<SweptBand>& bands)
{
    return bands.empty() ? 0 : bands.back().end - bands.back().begin;
}
