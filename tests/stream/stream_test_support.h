#pragma once

#include "stream/video_stream.h"
#include "tools/flowgen/flowgen.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

// A folder under the system's temporary directory, removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    // Writes the image as `name` into the folder; returns the name.
    std::string Write(const std::string& name, const cv::Mat& image) const;

private:
    std::string path_;
};

// Writes the frames as frame_0000.png, ... and returns a stream over them (not yet
// prepared).
void WriteFrames(const TempFolder& folder, const std::vector<cv::Mat>& frames, CVideoStream& stream);

// The frames of a generated flow.
std::vector<cv::Mat> RenderAll(const flowgen::Flow& flow);

// Hand-made frames: a flat background with dark discs or boxes, no noise.
constexpr int kBackground = 200;
constexpr int kDark = 50;
cv::Mat Blank(int width = 320, int height = 240);
// A disc of the given radius centred exactly on (cx, cy): its centroid is (cx, cy).
void Disc(cv::Mat& image, int cx, int cy, double radius, int grey = kDark);
