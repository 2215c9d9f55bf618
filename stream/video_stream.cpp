#include "stream/video_stream.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
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
    recentFrames.clear();
}

void CVideoStream::SetFolder(std::string folder)
{
    Reset();
    folderPath = std::move(folder);
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
    return folderPath + "/" + frameNames[static_cast<size_t>(index)];
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
    read = ReadGreyFrame(FramePath(index), limits);
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
    return ReadGreyFrame(FramePath(index), limits).grey;
}

cv::Mat CVideoStream::DecodeFrame(int index) const
{
    if (!HasFrame(index))
        return cv::Mat();
    FrameRead read = ReadGreyFrame(FramePath(index), RunFrameLimits());
    if (read.status == FrameReadStatus::OutOfMemory)
        throw std::bad_alloc();
    return read.grey;
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
    // Frame 0 sets the run's size, so it is read at any size within the pixel limit.
    frameHeight = 0;
    frameWidth = 0;
    cv::Mat grey = ReadFrame(0);
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
