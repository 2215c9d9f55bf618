#include "tools/flowgen/recording_writer.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cctype>
#include <vector>

namespace flowgen {

namespace {

std::string LowerSuffix(const std::string& path)
{
    const std::string::size_type dot = path.find_last_of('.');
    std::string suffix = dot == std::string::npos ? std::string() : path.substr(dot + 1);
    std::transform(suffix.begin(), suffix.end(), suffix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return suffix;
}

bool Failed(std::string* error, const std::string& why)
{
    if (error)
        *error = why;
    return false;
}

}  // namespace

bool WriteStack(const Flow& flow, const std::string& path, std::string* error)
{
    std::vector<cv::Mat> pages;
    for (int t = 0; t < static_cast<int>(flow.shifts.size()); ++t)
        pages.push_back(RenderFrame(flow, t));
    const std::vector<int> uncompressed = {cv::IMWRITE_TIFF_COMPRESSION, 1};
    try {
        if (cv::imwritemulti(path, pages, uncompressed))
            return true;
    } catch (const cv::Exception& e) {
        return Failed(error, "cannot write " + path + ": " + e.what());
    }
    return Failed(error, "cannot write " + path);
}

int VideoCodecFor(const std::string& path)
{
    const std::string suffix = LowerSuffix(path);
    if (suffix == "avi" || suffix == "mkv")
        return cv::VideoWriter::fourcc('F', 'F', 'V', '1');
    if (suffix == "mp4")
        return cv::VideoWriter::fourcc('a', 'v', 'c', '1');
    return 0;
}

bool WriteVideo(const Flow& flow, const std::string& path, std::string* error)
{
    const int codec = VideoCodecFor(path);
    if (codec == 0)
        return Failed(error, "a video is .avi, .mkv or .mp4: " + path);
    const int frames = static_cast<int>(flow.shifts.size());
    if (frames == 0)
        return Failed(error, "no frames for " + path);
    const cv::Mat first = RenderFrame(flow, 0);
    cv::VideoWriter writer;
    try {
        writer.open(path, cv::CAP_FFMPEG, codec, 25.0, first.size(), false);
    } catch (const cv::Exception& e) {
        return Failed(error, "cannot write " + path + ": " + e.what());
    }
    if (!writer.isOpened())
        return Failed(error, "cannot write " + path + " (no such codec here?)");
    writer.write(first);
    for (int t = 1; t < frames; ++t)
        writer.write(RenderFrame(flow, t));
    writer.release();
    return true;
}

}  // namespace flowgen
