#include "stream/video_stream.h"

#include "stream/frame_file_check.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
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
    minArea = 10;
    maxArea = 900;
    frameCount = 0;
    frameHeight = 0;
    frameWidth = 0;
    marginTop = 0;
    marginBottom = 0;
    marginLeft = 0;
    marginRight = 0;
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

cv::Mat CVideoStream::ReadFrame(int index) const
{
    if (!HasFrame(index))
        return cv::Mat();
    for (auto it = recentFrames.begin(); it != recentFrames.end(); ++it) {
        if (it->first != index)
            continue;
        std::rotate(recentFrames.begin(), it, it + 1);
        // Callers work on frames in place (preparation, drawing).
        return recentFrames.front().second.clone();
    }
    cv::Mat grey = DecodeFrame(index);
    if (grey.empty() || recentFrameCapacity <= 0)
        return grey;
    KeepFrame(index, grey);
    return grey.clone();
}

cv::Mat CVideoStream::DecodeFrame(int index) const
{
    if (!HasFrame(index))
        return cv::Mat();
    const std::string path = FramePath(index);
    if (IsTruncatedJpegFile(path))
        return cv::Mat();
    try {
        return cv::imread(path, cv::IMREAD_GRAYSCALE);
    } catch (const cv::Exception&) {
        // A decoder may give up on a damaged file by throwing; that is an unreadable frame.
        return cv::Mat();
    }
}

void CVideoStream::KeepFrame(int index, const cv::Mat& grey) const
{
    if (recentFrameCapacity <= 0 || grey.empty() || !HasFrame(index))
        return;
    recentFrames.erase(std::remove_if(recentFrames.begin(), recentFrames.end(),
                                      [index](const std::pair<int, cv::Mat>& kept) { return kept.first == index; }),
                       recentFrames.end());
    recentFrames.insert(recentFrames.begin(), {index, grey});
    if (recentFrames.size() > static_cast<size_t>(recentFrameCapacity))
        recentFrames.pop_back();
}

void CVideoStream::SetRecentFrameCapacity(int frames)
{
    recentFrameCapacity = std::max(frames, 0);
    if (recentFrames.size() > static_cast<size_t>(recentFrameCapacity))
        recentFrames.resize(static_cast<size_t>(recentFrameCapacity));
}

cv::Mat CVideoStream::ReadSizedFrame(int index) const
{
    cv::Mat grey = ReadFrame(index);
    if (grey.empty() || grey.rows != frameHeight || grey.cols != frameWidth)
        return cv::Mat();
    return grey;
}

void CVideoStream::PrepareFrame(cv::Mat& grey) const
{
    cv::blur(grey, grey, cv::Size(3, 3), cv::Point(-1, -1), cv::BORDER_REFLECT_101);
    cv::morphologyEx(grey, grey, cv::MORPH_OPEN, kernel3x3, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                     cv::morphologyDefaultBorderValue());
}

bool CVideoStream::PrepareFirstFrame()
{
    cv::Mat grey = ReadFrame(0);
    if (grey.empty()) {
        previousFrame.release();
        frameHeight = 0;
        frameWidth = 0;
        return false;
    }
    PrepareFrame(grey);
    previousFrame = grey;
    frameHeight = previousFrame.rows;
    frameWidth = previousFrame.cols;
    return true;
}
