#pragma once

#include "stream/frame_reader.h"

#include <opencv2/core.hpp>

#include <any>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

// A frame as the run takes it: as read (the picture empty when it could not be, with
// the reason) and, when the run asked for one, the result of its per-frame analysis.
struct DecodedFrame {
    int index = -1;
    FrameRead read;
    std::any analysis;         // empty without an analysis or for an unreadable frame
    bool outOfMemory = false;  // memory ran out decoding or analysing it: no picture, no analysis
};

// Frames of a sequence decoded ahead of the run that takes them, in increasing order,
// on worker threads, so that decoding the next frames overlaps the work on the
// current one. At most `ahead` frames past the one taken last are decoded or held:
// memory stays bounded whatever the length of the sequence. An optional analysis, a
// pure function of one decoded frame, runs on the workers right after its decoding.
//
// Each worker decodes with a decoder of its own, made on the caller's thread before
// the workers start (a frame file needs none, a page of a stack its own open file).
// A sequence that decodes only in order (a video) shares one decoder among the
// workers, which take turns in the order they claimed their frames; their analyses
// still run side by side.
//
// Without workers (threads 0) Take decodes and analyses on the caller's thread: the
// same functions, the same results, only later.
//
// Out of memory in a decoder or the analysis leaves that frame without picture and
// analysis, marked `outOfMemory`; no exception leaves a worker. Stop (and the
// destructor) ends the workers: a decode in progress is finished and thrown away, none
// starts after Stop returns.
class CFrameSource {
public:
    using Decoder = std::function<FrameRead(int index)>;
    using DecoderFactory = std::function<Decoder()>;
    using Analysis = std::function<std::any(int index, const cv::Mat& grey)>;

    // Frames first .. frameCount - 1. A growing source (a folder still being written)
    // takes more frames through Grow until Close; its workers wait for them meanwhile.
    CFrameSource(const DecoderFactory& makeDecoder, Analysis analysis, int first, int frameCount, int threads,
                 int ahead, bool inOrder = false, bool growing = false);
    ~CFrameSource();
    CFrameSource(const CFrameSource&) = delete;
    CFrameSource& operator=(const CFrameSource&) = delete;

    // Frame `index`, waiting for its decoding. Indices must not go back; frames
    // skipped over are dropped. After Stop, or outside the range, a frame with an
    // empty picture and no analysis, nothing read.
    DecodedFrame Take(int index);

    // Ends and joins the workers; the frames held are released.
    void Stop();

    // A growing source's frames are now 0 .. frameCount - 1 (never fewer than before);
    // after Close it takes no more.
    void Grow(int frameCount);
    void Close();

private:
    void Work(int worker);
    int Frames();
    // The frame as decoded, then its analysis; out of memory leaves both empty.
    DecodedFrame Read(Decoder& decoder, int index) const;
    void Analyse(DecodedFrame& frame) const;
    DecodedFrame Decode(Decoder& decoder, int index) const;

    const Analysis analysis;
    int frameCount;  // grows while `growing`, under the mutex
    const int ahead;
    const bool inOrder;
    std::vector<Decoder> decoders;  // one per worker, or one shared in order
    std::mutex mutex;
    std::condition_variable changed;
    int nextToDecode;  // first frame no worker has claimed
    int nextToTake;    // frames below it are no longer wanted
    long long claims = 0;      // frames claimed so far
    long long decodeTurn = 0;  // in order: the claim whose decoding may run now
    bool stopping = false;
    bool growing;
    std::map<int, DecodedFrame> ready;
    std::vector<std::thread> workers;
};
