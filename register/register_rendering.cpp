// Frames with their particles circled in the class colour, and frame-wide windows
// onto the frames of interest laid side by side.

#include "register/bgr_image.h"
#include "register/mivo_register_manager.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace {

constexpr int kCircleRadius = 20;
constexpr int kCircleThickness = 3;
// Columns left out of the last frame of interest beyond its new strip: it joins
// the previous frame with this much slack.
constexpr int kJoinSlack = 12;

}  // namespace

cv::Mat CMivoRegisterManager::RenderRecords(int index, const std::vector<ParticleMeasure>& records) const
{
    const cv::Mat grey = stream->ReadFrame(index);
    if (grey.empty())
        return cv::Mat();
    cv::Mat bgr;
    cv::cvtColor(grey, bgr, cv::COLOR_GRAY2BGR);
    const ParticleClassRules rules = ClassRules();
    for (const ParticleMeasure& record : records) {
        if (record.frame != index)
            continue;
        cv::circle(bgr, cv::Point(record.x, record.y), kCircleRadius, ClassifyParticle(record, rules).colour,
                   kCircleThickness, cv::LINE_AA);
    }
    return bgr;
}

cv::Mat CMivoRegisterManager::RenderFoIFrame(int index)
{
    return RenderRecords(index, foiParticles);
}

cv::Mat CMivoRegisterManager::RenderCountedFrame(int index)
{
    return RenderRecords(index, frameParticles);
}

QImage CMivoRegisterManager::ComposeFullImageWindow(int offset)
{
    const int width = frameWidth;
    const int height = frameHeight;
    if (width <= 0 || height <= 0)
        return QImage();
    cv::Mat canvas = cv::Mat::zeros(height, width, CV_8UC3);
    const int selected = static_cast<int>(selectedFrames.size());
    if (selected == 0)
        return BgrToQImage(canvas);

    // Within the strip, frame k + 1 always exists: offsets stop one column short of
    // the last frame of interest, or reach it when it was counted whole.
    const long long last =
        selected >= 2 ? static_cast<long long>(selected - 1) * width - (lastFrameCountedWhole ? 0 : 1) : 0;
    const long long clamped = std::clamp(static_cast<long long>(offset), 0LL, last);
    const int k = static_cast<int>(clamped / width);
    const int o = static_cast<int>(clamped % width);

    // Frames that cannot be read or have another size leave their columns black.
    const cv::Mat first = RenderFoIFrame(selectedFrames[static_cast<size_t>(k)]);
    if (first.size() == canvas.size())
        first.colRange(0, width - o).copyTo(canvas.colRange(o, width));
    if (o > 0 && k + 1 < selected) {
        int from = width - o;
        if (k + 2 == selected && !lastFrameCountedWhole)
            from = std::max(from - kJoinSlack - accumulatedShift, 0);
        const int columns = std::min(o, width - from);
        const cv::Mat second = RenderFoIFrame(selectedFrames[static_cast<size_t>(k) + 1]);
        if (columns > 0 && second.size() == canvas.size())
            second.colRange(from, from + columns).copyTo(canvas.colRange(0, columns));
    }
    return BgrToQImage(canvas);
}
