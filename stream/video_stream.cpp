#include "stream/video_stream.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <climits>
#include <new>
#include <utility>

CVideoStream::CVideoStream()
{
    Reset();
    kernel3x3 = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3), cv::Point(-1, -1));
    kernel5x5 = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(5, 5), cv::Point(-1, -1));
}

void CVideoStream::Reset()
{
    folderPath.clear();
    frameNames.clear();
    minArea = count_defaults::kStreamMinArea;
    maxArea = count_defaults::kStreamMaxArea;
    frameCount = 0;
    frameHeight = 0;
    frameWidth = 0;
    marginTop = 0;
    marginBottom = 0;
    marginLeft = 0;
    marginRight = 0;
    framePixelLimit = kDefaultFramePixelLimit;
    recordingFirst = 0;
    recentFrames.clear();
    kind = SequenceKind::Folder;
    recordingReader.reset();
    recordingEnd = std::make_shared<std::atomic<int>>(INT_MAX);
    depth = SampleDepth();
    depthSought = false;
}

void CVideoStream::SetFolder(std::string folder)
{
    Reset();
    folderPath = std::move(folder);
}

void CVideoStream::SetRecording(std::string path, SequenceKind recordingKind)
{
    Reset();
    folderPath = std::move(path);
    kind = recordingKind;
}

void CVideoStream::AddFrame(std::string name)
{
    frameNames.push_back(std::move(name));
    frameCount = static_cast<int>(frameNames.size());
}

bool CVideoStream::HasFrame(int index) const
{
    return index >= 0 && index < static_cast<int>(frameNames.size());
}

std::string CVideoStream::FramePath(int index) const
{
    if (!HasFrame(index))
        return std::string();
    if (IsRecording())
        return folderPath;
    return folderPath + "/" + frameNames[static_cast<size_t>(index)];
}

int CVideoStream::ReadableFrames() const
{
    return std::min(static_cast<int>(frameNames.size()), recordingEnd->load() - recordingFirst);
}

void CVideoStream::SetFirstRecordingFrame(int first)
{
    recordingFirst = std::max(first, 0);
    recordingReader.reset();
}

SampleDepth CVideoStream::Depth() const
{
    if (!depthSought && HasFrame(0)) {
        depthSought = true;
        FrameReadLimits limits;
        limits.pixelLimit = framePixelLimit;
        const FrameRead first = ReadFromSequence(0, limits);
        if (first.status == FrameReadStatus::Read)
            depth = first.depth;
    }
    return depth;
}

FrameRead CVideoStream::ReadFromSequence(int index, const FrameReadLimits& limits) const
{
    if (!IsRecording())
        return ReadGreyFrame(FramePath(index), limits);
    if (!recordingReader)
        recordingReader = std::make_unique<CRecordingReader>(
            folderPath, kind, recordingFirst + static_cast<int>(frameNames.size()), recordingEnd);
    return recordingReader->Read(recordingFirst + index, limits);
}

std::string CVideoStream::FrameName(int index) const
{
    if (!HasFrame(index))
        return std::string();
    return frameNames[static_cast<size_t>(index)];
}

cv::Mat CVideoStream::Recent(int index) const
{
    for (auto it = recentFrames.begin(); it != recentFrames.end(); ++it) {
        if (it->first != index)
            continue;
        std::rotate(recentFrames.begin(), it, it + 1);
        // Callers work on frames in place (preparation, drawing).
        return recentFrames.front().second.clone();
    }
    return cv::Mat();
}

void CVideoStream::Remember(int index, const cv::Mat& grey) const
{
    // Only frames of the run's size: anything else is left out of the run anyway.
    if (recentFrameCapacity <= 0 || grey.empty() || grey.rows != frameHeight || grey.cols != frameWidth)
        return;
    recentFrames.erase(std::remove_if(recentFrames.begin(), recentFrames.end(),
                                      [index](const std::pair<int, cv::Mat>& kept) { return kept.first == index; }),
                       recentFrames.end());
    recentFrames.insert(recentFrames.begin(), {index, grey});
    if (recentFrames.size() > static_cast<size_t>(recentFrameCapacity))
        recentFrames.pop_back();
}

FrameReadLimits CVideoStream::RunFrameLimits() const
{
    FrameReadLimits limits;
    limits.expectedSize = cv::Size(frameWidth, frameHeight);
    limits.pixelLimit = framePixelLimit;
    limits.depth = Depth();
    return limits;
}

FrameRead CVideoStream::ReadWithLimits(int index, const FrameReadLimits& limits) const
{
    FrameRead read;
    if (!HasFrame(index))
        return read;
    read.grey = Recent(index);
    if (!read.grey.empty()) {
        read.status = FrameReadStatus::Read;
        read.size = read.grey.size();
        return read;
    }
    read = ReadFromSequence(index, limits);
    Remember(index, read.grey);
    if (!read.grey.empty())
        read.grey = read.grey.clone();
    return read;
}

FrameRead CVideoStream::ReadRunFrame(int index) const
{
    return ReadWithLimits(index, RunFrameLimits());
}

cv::Mat CVideoStream::ReadFrame(int index) const
{
    FrameReadLimits limits;
    limits.pixelLimit = framePixelLimit;
    limits.depth = Depth();
    return ReadWithLimits(index, limits).grey;
}

cv::Mat CVideoStream::ReadReducedFrame(int index, int reduction) const
{
    if (reduction <= 1)
        return ReadFrame(index);
    if (!HasFrame(index))
        return cv::Mat();
    FrameReadLimits limits;
    limits.pixelLimit = framePixelLimit;
    limits.reduction = reduction;
    limits.depth = Depth();
    return ReadFromSequence(index, limits).grey;
}

CFrameSource::Decoder CVideoStream::MakeDecoder() const
{
    // Out of memory throws, so that the source tells it from a frame that cannot be read.
    const auto checked = [](FrameRead read) {
        if (read.status == FrameReadStatus::OutOfMemory)
            throw std::bad_alloc();
        return read;
    };
    const FrameReadLimits limits = RunFrameLimits();
    const int frames = static_cast<int>(frameNames.size());
    if (!IsRecording())
        return [this, limits, frames, checked](int index) {
            return index >= 0 && index < frames ? checked(ReadGreyFrame(FramePath(index), limits)) : FrameRead();
        };
    const int first = recordingFirst;
    auto reader = std::make_shared<CRecordingReader>(folderPath, kind, first + frames, recordingEnd);
    return [reader, limits, checked, first](int index) { return checked(reader->Read(first + index, limits)); };
}

void CVideoStream::KeepFrame(int index, const cv::Mat& grey) const
{
    if (HasFrame(index))
        Remember(index, grey);
}

void CVideoStream::SetRecentFrameCapacity(int frames)
{
    recentFrameCapacity = std::max(frames, 0);
    if (recentFrames.size() > static_cast<size_t>(recentFrameCapacity))
        recentFrames.resize(static_cast<size_t>(recentFrameCapacity));
}

cv::Mat CVideoStream::ReadSizedFrame(int index) const
{
    // Without frame 0's size no frame has the run's size.
    if (frameWidth <= 0 || frameHeight <= 0)
        return cv::Mat();
    FrameRead read = ReadRunFrame(index);
    // Memory that runs out reading a frame runs out for the operation reading it.
    if (read.status == FrameReadStatus::OutOfMemory)
        throw std::bad_alloc();
    return read.grey;
}

void CVideoStream::PrepareFrame(cv::Mat& grey) const
{
    cv::blur(grey, grey, cv::Size(3, 3), cv::Point(-1, -1), cv::BORDER_REFLECT_101);
    cv::morphologyEx(grey, grey, cv::MORPH_OPEN, kernel3x3, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                     cv::morphologyDefaultBorderValue());
}

bool CVideoStream::PrepareFirstFrame()
{
    // Frame 0 sets the run's size and depth, so it is read at any size within the pixel
    // limit and at its own depth.
    frameHeight = 0;
    frameWidth = 0;
    FrameReadLimits limits;
    limits.pixelLimit = framePixelLimit;
    const FrameRead first = HasFrame(0) ? ReadFromSequence(0, limits) : FrameRead();
    depthSought = true;
    depth = first.status == FrameReadStatus::Read ? first.depth : SampleDepth();
    firstFrameMorePages = first.morePages;
    cv::Mat grey = first.grey;
    if (grey.empty()) {
        previousFrame.release();
        return false;
    }
    frameHeight = grey.rows;
    frameWidth = grey.cols;
    Remember(0, grey);
    previousFrame = grey.clone();
    PrepareFrame(previousFrame);
    return true;
}
