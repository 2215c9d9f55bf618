// Frames with their particles circled in the class colour, and frame-wide windows
// onto the frames of interest laid side by side.

#include "register/bgr_image.h"
#include "register/mivo_register_manager.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <utility>
#include <vector>

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
    if (countingMode == CountingMode::CountingLine)
        return ComposeMosaicWindow(offset);
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

long long CMivoRegisterManager::MosaicWidth() const
{
    long long columns = 0;
    for (const SweptBand& band : sweptBands)
        columns += band.end - band.begin;
    return columns;
}

QImage CMivoRegisterManager::ComposeMosaicWindow(int offset)
{
    const int width = frameWidth;
    const long long total = MosaicWidth();
    const long long clamped = std::clamp(static_cast<long long>(offset), 0LL, std::max(total - width, 0LL));
    // The mosaic in the flow's own order: a flow to the right shows its first frame's
    // band at the right end and later bands to the left of it, so that, as in the strip
    // of frames of interest, the window at offset 0 shows the start of the flow and
    // later frames slide in from the left as the offset grows. A flow to the left is
    // mirrored. `first`: the mosaic column at the window's left edge.
    const bool leftward = flowDirection == FlowDirection::kRightToLeft;
    const long long first = leftward ? clamped : total - width - clamped;

    cv::Mat grey = cv::Mat::zeros(frameHeight, width, CV_8UC1);
    std::vector<std::pair<int, long long>> placed;  // frame, mosaic column of its band's first column
    long long before = 0;                           // columns of the bands before this one
    for (const SweptBand& band : sweptBands) {
        const int columns = band.end - band.begin;
        const long long at = leftward ? before : total - before - columns;
        before += columns;
        placed.emplace_back(band.frame, at - band.begin);
        const long long from = std::max(at, first);
        const long long to = std::min(at + columns, first + width);
        if (from >= to)
            continue;
        // A frame that cannot be read now, or has another size, leaves its band black.
        const cv::Mat frame = stream->ReadFrame(band.frame);
        if (frame.size() != grey.size())
            continue;
        frame.colRange(static_cast<int>(band.begin + from - at), static_cast<int>(band.begin + to - at))
            .copyTo(grey.colRange(static_cast<int>(from - first), static_cast<int>(to - first)));
    }
    cv::Mat canvas;
    cv::cvtColor(grey, canvas, cv::COLOR_GRAY2BGR);
    // Circles last, so that no neighbouring band covers a part of one.
    const ParticleClassRules rules = ClassRules();
    for (const auto& [frame, shift] : placed) {
        for (const ParticleMeasure& record : foiParticles) {
            const long long x = shift + record.x - first;
            if (record.frame != frame || x < -kCircleRadius - kCircleThickness ||
                x > width + kCircleRadius + kCircleThickness)
                continue;
            cv::circle(canvas, cv::Point(static_cast<int>(x), record.y), kCircleRadius,
                       ClassifyParticle(record, rules).colour, kCircleThickness, cv::LINE_AA);
        }
    }
    return BgrToQImage(canvas);
}
