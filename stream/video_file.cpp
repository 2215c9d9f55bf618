#include "stream/video_file.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <utility>

#include <sys/stat.h>

namespace {

// Frames decoded past the one asked for: the end of a video cut short is then found
// before the frame before it is handed out.
constexpr int kLookAhead = 2;
// A frame further ahead than this is reached by seeking rather than by decoding every
// frame between.
constexpr int kSeekDistance = 32;

std::unique_ptr<cv::VideoCapture> OpenVideo(const std::string& path)
{
    // FFmpeg's own messages (a file cut short, damaged packets) would interleave with
    // the program's, which say what the reading found. Who sets the level keeps it.
    static std::once_flag quiet;
    std::call_once(quiet, [] { ::setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 0); });
    struct stat info {};
    // Only regular files: FFmpeg would wait on a pipe.
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::make_unique<cv::VideoCapture>();
    try {
        return std::make_unique<cv::VideoCapture>(path, cv::CAP_FFMPEG);
    } catch (const cv::Exception&) {
        return std::make_unique<cv::VideoCapture>();
    }
}

}  // namespace

VideoProbe ProbeVideo(const std::string& path)
{
    VideoProbe probe;
    std::unique_ptr<cv::VideoCapture> capture = OpenVideo(path);
    if (!capture->isOpened())
        return probe;
    probe.opened = true;
    probe.size = cv::Size(static_cast<int>(capture->get(cv::CAP_PROP_FRAME_WIDTH)),
                          static_cast<int>(capture->get(cv::CAP_PROP_FRAME_HEIGHT)));
    const double declared = capture->get(cv::CAP_PROP_FRAME_COUNT);
    if (declared > 0 && declared < INT_MAX) {
        probe.frameCount = static_cast<int>(declared);
        return probe;
    }
    // A stream that does not say (a raw stream, a container without an index): counted.
    while (probe.frameCount < INT_MAX && capture->grab())
        ++probe.frameCount;
    return probe;
}

CVideoFile::CVideoFile(std::string file, int frames, RecordingEnd recordingEnd)
    : path(std::move(file))
    , frameCount(frames)
    , end(std::move(recordingEnd))
    , capture(OpenVideo(path))
{
}

CVideoFile::~CVideoFile() = default;

bool CVideoFile::IsOpen() const
{
    return capture->isOpened();
}

void CVideoFile::Seek(int index)
{
    ahead.clear();
    ended = false;
    if (index == 0) {
        // From the start again: the frames are then known to come in order.
        capture = OpenVideo(path);
        inOrder = true;
    } else {
        capture->set(cv::CAP_PROP_POS_FRAMES, index);
        inOrder = false;
    }
    next = index;
}

bool CVideoFile::Grab(bool keep)
{
    cv::Mat bgr;
    bool grabbed = false;
    try {
        grabbed = capture->grab() && (!keep || (capture->retrieve(bgr) && !bgr.empty()));
    } catch (const cv::Exception&) {
        grabbed = false;
    }
    if (!grabbed) {
        ended = true;
        // Only a video read in order from its start tells where it ends; the frame
        // decoded last before an early end may hold partial data and goes with it.
        if (inOrder && next < frameCount) {
            const int readable = std::max(next - 1, 0);
            for (int known = end->load(); readable < known && !end->compare_exchange_weak(known, readable);) {
            }
            while (!ahead.empty() && ahead.back().first >= readable)
                ahead.pop_back();
        }
        return false;
    }
    if (keep) {
        cv::Mat grey;
        if (bgr.channels() == 1)
            grey = bgr;
        else
            cv::cvtColor(bgr, grey, bgr.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
        ahead.emplace_back(next, std::move(grey));
    }
    ++next;
    return true;
}

FrameRead CVideoFile::ReadFrame(int index, const FrameReadLimits& limits)
{
    FrameRead read;
    if (!capture->isOpened()) {
        read.status = FrameReadStatus::NoAccess;
        return read;
    }
    if (index < 0 || index >= std::min(frameCount, end->load())) {
        read.status = FrameReadStatus::PastEnd;
        return read;
    }
    try {
        while (!ahead.empty() && ahead.front().first < index)
            ahead.pop_front();
        if (ahead.empty() || ahead.front().first != index) {
            ahead.clear();
            if (index < next || index > next + kSeekDistance || ended)
                Seek(index);
            while (next < index && Grab(false)) {
            }
        }
        while (!ended && next <= index + kLookAhead && next < frameCount && Grab(true)) {
        }
    } catch (const cv::Exception&) {
        ended = true;
    }
    if (ahead.empty() || ahead.front().first != index) {
        // Past the end found meanwhile, or a frame the video does not give.
        read.status = index >= end->load() ? FrameReadStatus::PastEnd : FrameReadStatus::Corrupt;
        return read;
    }
    FinishFrameRead(ReducedAsAsked(ahead.front().second, limits), 0, limits, read);
    return read;
}
