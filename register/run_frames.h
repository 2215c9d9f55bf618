#pragma once

#include "register/run_settings.h"
#include "stream/frame_source.h"
#include "stream/video_stream.h"

#include <any>
#include <memory>
#include <vector>

// The frames of one run: its own stream (frame list, frame size, prepared previous
// frame, particle settings), fed by a frame source that decodes the next frames on
// worker threads. The stream's operations then find each frame already decoded; a
// frame the source could not read is read by the stream itself, as without a source. The
// stream takes the run's settings as every stream does (run_stream.h).
class CRunFrames {
public:
    explicit CRunFrames(const RunSettings& settings);
    ~CRunFrames();

    // Prepares frame 0 (read here: its size is every other frame's) and starts
    // decoding frames 1, 2, ... ahead. The stream keeps the last `keptFrames` frames.
    // False when there is no frame 0 or it cannot be read, or memory ran out preparing
    // or analysing it (*outOfMemory set); nothing is decoded then.
    bool Begin(int keptFrames, int threads, CFrameSource::Analysis analysis, bool* outOfMemory = nullptr);

    // When frame 0 cannot be read, a frame counted alone gives the size instead: its own.
    // False when it cannot be read either.
    bool TakeSizeOf(int index);

    // Hands frame `index` to the stream and gives its analysis (empty without one).
    // Frames are taken in increasing order, frame 0 included. *outOfMemory tells that
    // memory ran out decoding or analysing it on a worker (no picture, no analysis).
    std::any Next(int index, bool* outOfMemory = nullptr);

    // Frames taken so far whose samples use less than 1/16 of the depth's range, ascending.
    const std::vector<int>& FaintFrames() const { return faintFrames; }
    // Frames taken so far that are the first page of a multi-page TIFF file, ascending.
    const std::vector<int>& MultiPageFrames() const { return multiPageFrames; }

    // Ends the decoding; nothing is read by the workers after it returns.
    void Stop();

    CVideoStream& Stream() { return stream; }
    const CVideoStream& Stream() const { return stream; }

private:
    CVideoStream stream;
    std::unique_ptr<CFrameSource> source;
    CFrameSource::Analysis analysis;
    std::any firstAnalysis;
    std::vector<int> faintFrames;
    std::vector<int> multiPageFrames;
};
