#pragma once

#include "stream/frame_reader.h"

#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <utility>

namespace cv {
class VideoCapture;
}

// What a video file declares about itself when opened.
struct VideoProbe {
    bool opened = false;
    int frameCount = 0;  // the container's count; counted by decoding when it gives none
    cv::Size size;       // of its frames, as the container gives it
};

// Opens `path` as a video through OpenCV's FFmpeg reader. Only regular files are tried.
VideoProbe ProbeVideo(const std::string& path);

// The frames a recording turned out to hold, shared by every reader of one sequence:
// a video that cannot be decoded past some frame ends there for all of them. Starts
// at the declared count and only ever falls.
using RecordingEnd = std::shared_ptr<std::atomic<int>>;

// The frames of a video file as 8-bit grey, through OpenCV's VideoCapture. Videos
// decode in order: a frame after the one read last is reached by decoding the frames
// between (a far one by seeking), one before by seeking. Reading goes two frames ahead
// of the frame asked for, so that the end of a video cut short is known before the
// frame before it is handed out: when the video ends before its declared count, the
// last frame decoded may be made up from partial data (FFmpeg hides the damage), so it
// is left out with what follows. Frames of another size than expected are left out as
// frames of a folder are.
//
// One object serves one thread; several objects may read the same file at once.
class CVideoFile {
public:
    CVideoFile(std::string path, int frameCount, RecordingEnd end);
    ~CVideoFile();
    CVideoFile(const CVideoFile&) = delete;
    CVideoFile& operator=(const CVideoFile&) = delete;

    bool IsOpen() const;

    // Frame `index`; PastEnd at or after the end known so far.
    FrameRead ReadFrame(int index, const FrameReadLimits& limits);

private:
    void Seek(int index);
    // The next frame, kept (decoded and converted) or skipped; false at the end.
    bool Grab(bool keep);

    const std::string path;
    const int frameCount;
    RecordingEnd end;
    std::unique_ptr<cv::VideoCapture> capture;
    int next = 0;             // the frame the next grab gives
    bool inOrder = true;      // every frame since the start was grabbed, none sought
    bool ended = false;       // a grab failed at `next`
    std::deque<std::pair<int, cv::Mat>> ahead;  // decoded frames from the one read last on, in order
};
