#pragma once

#include "stream/video_stream.h"
#include "tools/flowgen/flowgen.h"

#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <utility>

// The frames as frame_0000.png, ... in a temporary folder, and a stream over them, frame 0 prepared.
struct Sequence {
    std::string folder = (std::filesystem::temp_directory_path() / "tessel_stream_XXXXXX").string();
    CVideoStream stream;

    explicit Sequence(const std::vector<cv::Mat>& frames)
    {
        if (mkdtemp(folder.data()) == nullptr) ADD_FAILURE() << "cannot create " << folder;
        stream.SetFolder(folder);
        for (int t = 0; t < static_cast<int>(frames.size()); ++t) {
            stream.AddFrame(flowgen::FrameFileName(t, static_cast<int>(frames.size()), "png"));
            cv::imwrite(stream.FramePath(t), frames[size_t(t)]);
        }
        stream.PrepareFirstFrame();
    }
    ~Sequence() { std::filesystem::remove_all(folder); }
};

// A flow of one frame per shift (shifts[0] = 0) at the generator's defaults.
inline flowgen::FlowSettings Settings(unsigned seed, std::vector<int> shifts)
{
    flowgen::FlowSettings s;
    s.seed = seed;
    s.frames = static_cast<int>(shifts.size());
    s.shifts = std::move(shifts);
    return s;
}

inline std::vector<cv::Mat> Render(const flowgen::Flow& flow)
{
    std::vector<cv::Mat> frames;
    for (int t = 0; t < static_cast<int>(flow.shifts.size()); ++t) frames.push_back(flowgen::RenderFrame(flow, t));
    return frames;
}

// A flat frame of grey 200 with discs of grey 50, {x, y, radius}, centred exactly on (x, y).
inline cv::Mat Frame(const std::vector<cv::Vec3i>& discs, cv::Size size = cv::Size(320, 240))
{
    cv::Mat frame(size, CV_8UC1, cv::Scalar(200));
    for (const cv::Vec3i& d : discs)
        flowgen::DrawStamp(frame, flowgen::MakeEllipseStamp(d[2], d[2], 0.0, 0.0, 0.0), d[0], d[1], 50);
    return frame;
}

inline cv::Mat Blank(int width = 320, int height = 240)
{
    return Frame({}, cv::Size(width, height));
}
