#pragma once

#include <opencv2/core.hpp>

#include <any>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

// A frame as the run takes it: decoded (empty when the file could not be read) and,
// when the run asked for one, the result of its per-frame analysis.
struct DecodedFrame {
    int index = -1;
    cv::Mat grey;
    std::any analysis;         // empty without an analysis or for an unreadable frame
    bool outOfMemory = false;  // memory ran out decoding or analysing it: no picture, no analysis
};

// Frames of a sequence decoded ahead of the run that takes them, in increasing order,
// on worker threads, so that decoding the next frames overlaps the work on the
// current one. At most `ahead` frames past the one taken last are decoded or held:
// memory stays bounded whatever the length of the sequence. An optional analysis, a
// pure function of one decoded frame, runs on the workers right after its decoding.
//
// Without workers (threads 0) Take decodes and analyses on the caller's thread: the
// same functions, the same results, only later.
//
// The decoder and the analysis are called from the workers concurrently: they must
// not share mutable state. Out of memory in either leaves that frame without picture
// and analysis, marked `outOfMemory`; no exception leaves a worker. Stop (and the destructor) ends the workers: a decode in
// progress is finished and thrown away, none starts after Stop returns.
class CFrameSource {
public:
    using Decoder = std::function<cv::Mat(int index)>;
    using Analysis = std::function<std::any(int index, const cv::Mat& grey)>;

    // Frames first .. frameCount - 1.
    CFrameSource(Decoder decoder, Analysis analysis, int first, int frameCount, int threads, int ahead);
    ~CFrameSource();
    CFrameSource(const CFrameSource&) = delete;
    CFrameSource& operator=(const CFrameSource&) = delete;

    // Frame `index`, waiting for its decoding. Indices must not go back; frames
    // skipped over are dropped. After Stop, or outside the range, a frame with an
    // empty picture and no analysis, nothing read.
    DecodedFrame Take(int index);

    // Ends and joins the workers; the frames held are released.
    void Stop();

private:
    void Work();
    DecodedFrame Decode(int index) const;

    const Decoder decoder;
    const Analysis analysis;
    const int frameCount;
    const int ahead;
    std::mutex mutex;
    std::condition_variable changed;
    int nextToDecode;  // first frame no worker has claimed
    int nextToTake;    // frames below it are no longer wanted
    bool stopping = false;
    std::map<int, DecodedFrame> ready;
    std::vector<std::thread> workers;
};
