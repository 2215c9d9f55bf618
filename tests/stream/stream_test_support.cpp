#include "stream_test_support.h"

#include <opencv2/imgcodecs.hpp>

#include <atomic>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

TempFolder::TempFolder() {
    static std::atomic<int> serial{0};
    const fs::path path = fs::temp_directory_path() /
                          ("tessel_stream_" + std::to_string(getpid()) + "_" + std::to_string(serial++));
    fs::remove_all(path);
    fs::create_directories(path);
    path_ = path.string();
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempFolder::Write(const std::string& name, const cv::Mat& image) const {
    cv::imwrite(path_ + "/" + name, image);
    return name;
}

void WriteFrames(const TempFolder& folder, const std::vector<cv::Mat>& frames, CVideoStream& stream) {
    stream.SetFolder(folder.Path());
    const int n = static_cast<int>(frames.size());
    for (int t = 0; t < n; ++t)
        stream.AddFrame(folder.Write(flowgen::FrameFileName(t, n, "png"), frames[static_cast<size_t>(t)]));
}

std::vector<cv::Mat> RenderAll(const flowgen::Flow& flow) {
    std::vector<cv::Mat> frames;
    for (size_t t = 0; t < flow.shifts.size(); ++t) frames.push_back(flowgen::RenderFrame(flow, static_cast<int>(t)));
    return frames;
}

cv::Mat Blank(int width, int height) {
    return cv::Mat(height, width, CV_8UC1, cv::Scalar(kBackground));
}

void Disc(cv::Mat& image, int cx, int cy, double radius, int grey) {
    flowgen::DrawStamp(image, flowgen::MakeEllipseStamp(radius, radius, 0.0, 0.0, 0.0), cx, cy, grey);
}
