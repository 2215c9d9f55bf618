// Frames with their particles circled in the class colour, the strip of the frames of
// interest (or the counting line's mosaic), and the export of the frames that counted.

#include "register/run_pictures.h"

#include "register/bgr_image.h"
#include "register/frame_listing.h"
#include "register/output_paths.h"
#include "register/run_numbers.h"
#include "register/run_stream.h"
#include "toolkit/out_of_memory.h"

#include <QBuffer>
#include <QFileInfo>
#include <QSaveFile>

#include <opencv2/imgcodecs.hpp>
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

void Circle(cv::Mat& bgr, cv::Point centre, const cv::Scalar& colour)
{
    cv::circle(bgr, centre, kCircleRadius, colour, kCircleThickness, cv::LINE_AA);
}

bool CountingLine(const RunSettings& settings)
{
    return settings.mode == CountingMode::CountingLine;
}

// Frame `index` as BGR with the records of that frame among [first, last) circled, in
// that order (where circles overlap, the later one is on top).
template <class Records>
cv::Mat CircledFrame(const CVideoStream& frames, const RunSettings& settings, Records first, Records last, int index)
{
    const cv::Mat grey = frames.ReadFrame(index);
    if (grey.empty())
        return cv::Mat();
    cv::Mat bgr;
    cv::cvtColor(grey, bgr, cv::COLOR_GRAY2BGR);
    const ParticleClassRules rules = ClassRules(settings);
    for (; first != last; ++first)
        if (first->frame == index)
            Circle(bgr, cv::Point(first->x, first->y), ClassifyParticle(*first, rules).colour);
    return bgr;
}

// The counting line across a frame, where the counting-line count puts it: through the
// middle, across the flow's measured direction (a middle row for a flow up or down, else
// the middle column); dashed in the overlay's cyan, so that a res_ picture shows where its
// particles were counted.
void DrawCountingLine(cv::Mat& bgr, FlowDirection direction)
{
    constexpr int kDash = 8;
    const cv::Scalar cyan(255, 255, 0);
    if (direction == FlowDirection::kTopToBottom || direction == FlowDirection::kBottomToTop) {
        const int y = bgr.rows / 2;
        for (int x = 0; x < bgr.cols; x += 2 * kDash)
            cv::line(bgr, cv::Point(x, y), cv::Point(std::min(x + kDash, bgr.cols - 1), y), cyan, 1);
        return;
    }
    const int x = bgr.cols / 2;
    for (int y = 0; y < bgr.rows; y += 2 * kDash)
        cv::line(bgr, cv::Point(x, y), cv::Point(x, std::min(y + kDash, bgr.rows - 1)), cyan, 1);
}

// The res_ picture of frame `index`: its records in the order its count found them. The
// frames of interest store each frame's records reversed (the order the strip draws them);
// the counting line stores them as found.
cv::Mat ExportedFrame(const CVideoStream& frames, const RunSettings& settings, const RunResult& result, int index)
{
    const std::vector<ParticleMeasure>& records = result.records;
    if (!CountingLine(settings))
        return CircledFrame(frames, settings, records.rbegin(), records.rend(), index);
    cv::Mat bgr = CircledFrame(frames, settings, records.begin(), records.end(), index);
    if (!bgr.empty())
        DrawCountingLine(bgr, result.flowDirection);
    return bgr;
}

// The last frame of interest shows only the strip that arrived after the one before it,
// unless phase 1 took it and it was counted whole.
bool LastFrameIsStrip(const RunSettings& settings, const RunResult& result)
{
    return !CountingLine(settings) && !result.lastFrameCountedWhole;
}

long long MosaicWidth(const RunResult& result)
{
    long long columns = 0;
    for (const SweptBand& band : result.sweptBands)
        columns += band.end - band.begin;
    return columns;
}

QImage ComposeFoiWindow(const CVideoStream& frames, const RunSettings& settings, const RunResult& result, int offset)
{
    const int width = result.frameWidth;
    cv::Mat canvas = cv::Mat::zeros(result.frameHeight, width, CV_8UC3);
    const std::vector<int>& selectedFrames = result.selectedFrames;
    const int selected = static_cast<int>(selectedFrames.size());
    if (selected == 0)
        return BgrToQImage(canvas);

    // Within the strip, frame k + 1 always exists: offsets stop one column short of
    // the last frame of interest, or reach it when it was counted whole.
    const bool strip = LastFrameIsStrip(settings, result);
    const long long last = selected >= 2 ? static_cast<long long>(selected - 1) * width - (strip ? 1 : 0) : 0;
    const long long clamped = std::clamp(static_cast<long long>(offset), 0LL, last);
    const int k = static_cast<int>(clamped / width);
    const int o = static_cast<int>(clamped % width);

    // Frames that cannot be read or have another size leave their columns black.
    const cv::Mat first = RenderRunFrame(frames, settings, result, selectedFrames[static_cast<size_t>(k)]);
    if (first.size() == canvas.size())
        first.colRange(0, width - o).copyTo(canvas.colRange(o, width));
    if (o > 0 && k + 1 < selected) {
        int from = width - o;
        if (k + 2 == selected && strip)
            from = std::max(from - kJoinSlack - result.accumulatedShift, 0);
        const int columns = std::min(o, width - from);
        const cv::Mat second = RenderRunFrame(frames, settings, result, selectedFrames[static_cast<size_t>(k) + 1]);
        if (columns > 0 && second.size() == canvas.size())
            second.colRange(from, from + columns).copyTo(canvas.colRange(0, columns));
    }
    return BgrToQImage(canvas);
}

QImage ComposeMosaicWindow(const CVideoStream& frames, const RunSettings& settings, const RunResult& result, int offset)
{
    // A flow up or down is turned a quarter counter-clockwise: down becomes right, up left,
    // and the mosaic scrolls along the flow as a flow across the frame does. Its bands are
    // rows, which the turn makes columns.
    const bool vertical =
        result.flowDirection == FlowDirection::kTopToBottom || result.flowDirection == FlowDirection::kBottomToTop;
    const int width = vertical ? result.frameHeight : result.frameWidth;
    const int height = vertical ? result.frameWidth : result.frameHeight;
    const long long total = MosaicWidth(result);
    const long long clamped = std::clamp(static_cast<long long>(offset), 0LL, std::max(total - width, 0LL));
    // The mosaic in the flow's own order: a flow to the right shows its first frame's
    // band at the right end and later bands to the left of it, so that, as in the strip
    // of frames of interest, the window at offset 0 shows the start of the flow and
    // later frames slide in from the left as the offset grows. A flow to the left is
    // mirrored. `first`: the mosaic column at the window's left edge.
    const bool leftward =
        result.flowDirection == FlowDirection::kRightToLeft || result.flowDirection == FlowDirection::kBottomToTop;
    const long long first = leftward ? clamped : total - width - clamped;

    cv::Mat grey = cv::Mat::zeros(height, width, CV_8UC1);
    std::vector<std::pair<int, long long>> placed;  // frame, mosaic column of its band's first column
    long long before = 0;                           // columns of the bands before this one
    for (const SweptBand& band : result.sweptBands) {
        const int columns = band.end - band.begin;
        const long long at = leftward ? before : total - before - columns;
        before += columns;
        placed.emplace_back(band.frame, at - band.begin);
        const long long from = std::max(at, first);
        const long long to = std::min(at + columns, first + width);
        if (from >= to)
            continue;
        // A frame that cannot be read now, or has another size, leaves its band black.
        cv::Mat frame = frames.ReadFrame(band.frame);
        if (vertical && !frame.empty())
            cv::rotate(frame, frame, cv::ROTATE_90_COUNTERCLOCKWISE);
        if (frame.size() != grey.size())
            continue;
        frame.colRange(static_cast<int>(band.begin + from - at), static_cast<int>(band.begin + to - at))
            .copyTo(grey.colRange(static_cast<int>(from - first), static_cast<int>(to - first)));
    }
    cv::Mat canvas;
    cv::cvtColor(grey, canvas, cv::COLOR_GRAY2BGR);
    // Circles last, so that no neighbouring band covers a part of one.
    const ParticleClassRules rules = ClassRules(settings);
    for (const auto& [frame, shift] : placed) {
        for (const ParticleMeasure& record : result.records) {
            const int along = vertical ? record.y : record.x;
            const int across = vertical ? result.frameWidth - 1 - record.x : record.y;
            const long long x = shift + along - first;
            if (record.frame != frame || x < -kCircleRadius - kCircleThickness ||
                x > width + kCircleRadius + kCircleThickness)
                continue;
            Circle(canvas, cv::Point(static_cast<int>(x), across), ClassifyParticle(record, rules).colour);
        }
    }
    return BgrToQImage(canvas);
}

// Each picture is written to a temporary file beside its final name and renamed only
// when complete (QSaveFile): a write that fails leaves nothing under the final name,
// not even an empty file. The format follows the file name's suffix.
bool Commit(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// cv::imencode refuses empty images and unknown suffixes by throwing.
bool WriteGrey(const QString& path, const cv::Mat& grey)
{
    if (grey.empty())
        return false;
    std::vector<uchar> encoded;
    try {
        if (!cv::imencode(('.' + QFileInfo(path).suffix()).toStdString(), grey, encoded))
            return false;
    } catch (const cv::Exception&) {
        return false;
    }
    return Commit(path, QByteArray(reinterpret_cast<const char*>(encoded.data()), qsizetype(encoded.size())));
}

bool SaveImage(const QString& path, const QImage& image)
{
    if (image.isNull())
        return false;
    QByteArray encoded;
    QBuffer buffer(&encoded);
    return buffer.open(QIODevice::WriteOnly) &&
           image.save(&buffer, QFileInfo(path).suffix().toLatin1().constData(), -1) && Commit(path, encoded);
}

// Beyond the new strip the last frame is shown grey, without circles.
void GreyBeyondStrip(QImage& image, const cv::Mat& grey, int strip)
{
    const int rows = std::min(grey.rows, image.height());
    const int columns = std::min(grey.cols, image.width());
    for (int r = 0; r < rows; ++r) {
        const uchar* g = grey.ptr<uchar>(r);
        uchar* rgb = image.scanLine(r);  // RGB888
        for (int c = std::max(strip, 0); c < columns; ++c)
            rgb[3 * c] = rgb[3 * c + 1] = rgb[3 * c + 2] = g[c];
    }
}

}  // namespace

cv::Mat RenderRunFrame(const CVideoStream& frames, const RunSettings& settings, const RunResult& result, int index)
{
    return CircledFrame(frames, settings, result.records.begin(), result.records.end(), index);
}

long long StripLastOffset(const RunSettings& settings, const RunResult& result, int viewWidth)
{
    if (CountingLine(settings)) {
        // A flow up or down is shown turned: as wide as a frame is high.
        const bool vertical = result.flowDirection == FlowDirection::kTopToBottom ||
                              result.flowDirection == FlowDirection::kBottomToTop;
        return std::max(MosaicWidth(result) - (vertical ? result.frameHeight : viewWidth), 0LL);
    }
    // In 64 bits: a long strip must not wrap around.
    const long long frames = static_cast<long long>(result.selectedFrames.size());
    // A last frame of interest counted whole is shown whole, otherwise its new strip.
    const long long lastColumns = LastFrameIsStrip(settings, result) ? result.accumulatedShift : result.frameWidth;
    return std::max((frames - 1) * result.frameWidth - viewWidth + lastColumns, 0LL);
}

QImage ComposeStripWindow(const CVideoStream& frames, const RunSettings& settings, const RunResult& result, int offset)
{
    if (result.frameWidth <= 0 || result.frameHeight <= 0)
        return QImage();
    return CountingLine(settings) ? ComposeMosaicWindow(frames, settings, result, offset)
                                  : ComposeFoiWindow(frames, settings, result, offset);
}

QStringList ExportRunPictures(const RunSettings& settings, const RunResult& result, const QString& targetFolder)
{
    CVideoStream frames;
    SetUpStream(frames, settings, &result);
    QStringList failed;
    const int selected = static_cast<int>(result.selectedFrames.size());
    for (int position = 0; position < selected; ++position) {
        const int index = result.selectedFrames[static_cast<size_t>(position)];
        const QString suffix =
            FramePictureName(index, QString::fromStdString(frames.FrameName(index)), frames.IsRecording());
        const QString posPath = targetFolder + QStringLiteral("/pos_") + suffix;
        const QString resPath = targetFolder + QStringLiteral("/res_") + suffix;
        const bool strip = position == selected - 1 && LastFrameIsStrip(settings, result);
        // A picture's name may be taken by a link to a frame, which the write would follow
        // and replace; such a picture is not written. One that memory runs out on is named
        // as not written, with the reason.
        cv::Mat grey;
        bool written = false;
        if (RanOutOfMemory([&] {
                grey = frames.ReadFrame(index);
                if (strip && !grey.empty()) {
                    // Marks the strip that arrived after the previous frame of interest.
                    cv::rectangle(grey, cv::Rect(0, 0, result.accumulatedShift, result.frameHeight - 1), cv::Scalar(0),
                                  1, cv::LINE_8);
                }
                written =
                    !OutputTouchesFrames(posPath, OutputTarget::File, settings.folder) && WriteGrey(posPath, grey);
            }))
            failed << posPath + QStringLiteral(" (out of memory)");
        else if (!written)
            failed << posPath;

        written = false;
        if (RanOutOfMemory([&] {
                QImage image = BgrToQImage(ExportedFrame(frames, settings, result, index));
                if (strip && !image.isNull() && !grey.empty())
                    GreyBeyondStrip(image, grey, result.accumulatedShift);
                written =
                    !OutputTouchesFrames(resPath, OutputTarget::File, settings.folder) && SaveImage(resPath, image);
            }))
            failed << resPath + QStringLiteral(" (out of memory)");
        else if (!written)
            failed << resPath;
    }
    return failed;
}
