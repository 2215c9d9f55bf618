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
#include <QCoreApplication>
#include <QFileInfo>
#include <QSaveFile>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <string>
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

// The overlays, in the overlay's cyan (BGR).
const cv::Scalar kOverlayCyan(255, 255, 0);

bool Vertical(FlowDirection direction)
{
    return direction == FlowDirection::kTopToBottom || direction == FlowDirection::kBottomToTop;
}

// The counting line's dashes along column `at` of `bgr`, or along row `at` (`alongRow`).
void DashedLine(cv::Mat& bgr, bool alongRow, int at)
{
    constexpr int kDash = 8;
    if (at < 0 || at >= (alongRow ? bgr.rows : bgr.cols))
        return;
    const int length = alongRow ? bgr.cols : bgr.rows;
    for (int from = 0; from < length; from += 2 * kDash) {
        const int to = std::min(from + kDash, length - 1);
        if (alongRow)
            cv::line(bgr, cv::Point(from, at), cv::Point(to, at), kOverlayCyan, 1);
        else
            cv::line(bgr, cv::Point(at, from), cv::Point(at, to), kOverlayCyan, 1);
    }
}

// The counting line across a frame, where the counting-line count puts it: through the
// middle, across the flow's measured direction (a middle row for a flow up or down, else
// the middle column); dashed, so that a res_ picture shows where its particles were counted.
void DrawCountingLine(cv::Mat& bgr, FlowDirection direction)
{
    const bool vertical = Vertical(direction);
    DashedLine(bgr, vertical, CountingLineColumn(vertical ? bgr.rows : bgr.cols));
}

// A faint seam where two pieces of the strip meet: column `x` tinted towards the cyan.
void Seam(cv::Mat& bgr, int x)
{
    constexpr double kTint = 0.35;
    if (x <= 0 || x >= bgr.cols)
        return;
    cv::Mat column = bgr.col(x);
    cv::addWeighted(column, 1.0 - kTint, cv::Mat(column.size(), column.type(), kOverlayCyan), kTint, 0.0, column);
}

// The frame number (1-based, as the window numbers frames) of each piece of the strip, on
// a darkened box at the top of the piece's first column. `starts`: (window column, frame).
// Left to right; a number that would cover the one before is left out (narrow bands).
void FrameLabels(cv::Mat& bgr, std::vector<std::pair<int, int>> starts)
{
    constexpr int kFont = cv::FONT_HERSHEY_SIMPLEX;
    constexpr double kScale = 0.45;
    constexpr int kPad = 3;
    if (bgr.rows < kStripLabelRows)
        return;
    std::sort(starts.begin(), starts.end());
    int free = 0;
    for (const auto& [x, frame] : starts) {
        const std::string text = std::to_string(frame + 1);
        int baseline = 0;
        const int width = cv::getTextSize(text, kFont, kScale, 1, &baseline).width + 2 * kPad;
        const int left = std::min(std::max(x, 0), bgr.cols - width);
        if (left < free || left < 0)
            continue;
        cv::Mat box = bgr(cv::Rect(left, 0, width, kStripLabelRows));
        box *= 0.3;
        cv::putText(bgr, text, cv::Point(left + kPad, kStripLabelRows - 5), kFont, kScale, kOverlayCyan, 1,
                    cv::LINE_AA);
        free = left + width + kPad;
    }
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

// Where the strip of frames of interest is at `offset`: frame selectedFrames[k] from the
// window's column o on, and, when o > 0, `columns` columns of the next frame of interest
// from its column `from` at the window's left (0 when none).
struct FoiWindow {
    int k = 0;
    int o = 0;
    int from = 0;
    int columns = 0;
};

FoiWindow FoiLayout(const RunSettings& settings, const RunResult& result, int offset)
{
    const int width = result.frameWidth;
    const int selected = static_cast<int>(result.selectedFrames.size());
    FoiWindow view;
    // Within the strip, frame k + 1 always exists: offsets stop one column short of
    // the last frame of interest, or reach it when it was counted whole.
    const bool strip = LastFrameIsStrip(settings, result);
    const long long last = selected >= 2 ? static_cast<long long>(selected - 1) * width - (strip ? 1 : 0) : 0;
    const long long clamped = std::clamp(static_cast<long long>(offset), 0LL, last);
    view.k = static_cast<int>(clamped / width);
    view.o = static_cast<int>(clamped % width);
    if (view.o > 0 && view.k + 1 < selected) {
        view.from = width - view.o;
        if (view.k + 2 == selected && strip)
            view.from = std::max(view.from - kJoinSlack - result.accumulatedShift, 0);
        view.columns = std::max(std::min(view.o, width - view.from), 0);
    }
    return view;
}

QImage ComposeFoiWindow(const CVideoStream& frames, const RunSettings& settings, const RunResult& result, int offset)
{
    const int width = result.frameWidth;
    cv::Mat canvas = cv::Mat::zeros(result.frameHeight, width, CV_8UC3);
    const std::vector<int>& selectedFrames = result.selectedFrames;
    if (selectedFrames.empty())
        return BgrToQImage(canvas);
    const FoiWindow view = FoiLayout(settings, result, offset);
    // Frames that cannot be read or have another size leave their columns black.
    const int frame = selectedFrames[static_cast<size_t>(view.k)];
    const cv::Mat first = RenderRunFrame(frames, settings, result, frame);
    if (first.size() == canvas.size())
        first.colRange(0, width - view.o).copyTo(canvas.colRange(view.o, width));
    std::vector<std::pair<int, int>> starts{{view.o, frame}};
    if (view.columns > 0) {
        const int next = selectedFrames[static_cast<size_t>(view.k) + 1];
        const cv::Mat second = RenderRunFrame(frames, settings, result, next);
        if (second.size() == canvas.size())
            second.colRange(view.from, view.from + view.columns).copyTo(canvas.colRange(0, view.columns));
        Seam(canvas, view.o);
        starts.emplace_back(0, next);
    }
    FrameLabels(canvas, starts);
    return BgrToQImage(canvas);
}

// The counting line's mosaic in the window at `offset`. A flow up or down is turned a
// quarter counter-clockwise: down becomes right, up left, and the mosaic scrolls along the
// flow as a flow across the frame does. Its bands are rows, which the turn makes columns.
// The mosaic is in the flow's own order: a flow to the right shows its first frame's band
// at the right end and later bands to the left of it, so that, as in the strip of frames
// of interest, the window at offset 0 shows the start of the flow and later frames slide
// in from the left as the offset grows. A flow to the left is mirrored.
struct MosaicBand {
    SweptBand band;
    long long at = 0;  // the mosaic column of the band's first column
    int Columns() const { return band.end - band.begin; }
};

struct MosaicWindow {
    bool vertical = false;
    int width = 0;  // of the window, turned
    int height = 0;
    long long first = 0;  // the mosaic column at the window's left edge
    std::vector<MosaicBand> bands;
    // The window's columns [from, to) that `band` shows; empty when none.
    std::pair<int, int> Shown(const MosaicBand& band) const
    {
        const long long from = std::max(band.at, first);
        const long long to = std::min(band.at + band.Columns(), first + width);
        return from < to ? std::pair<int, int>(static_cast<int>(from - first), static_cast<int>(to - first))
                         : std::pair<int, int>(0, 0);
    }
};

MosaicWindow MosaicLayout(const RunResult& result, int offset)
{
    MosaicWindow view;
    view.vertical = Vertical(result.flowDirection);
    view.width = view.vertical ? result.frameHeight : result.frameWidth;
    view.height = view.vertical ? result.frameWidth : result.frameHeight;
    const long long total = MosaicWidth(result);
    const long long clamped = std::clamp(static_cast<long long>(offset), 0LL, std::max(total - view.width, 0LL));
    const bool leftward =
        result.flowDirection == FlowDirection::kRightToLeft || result.flowDirection == FlowDirection::kBottomToTop;
    view.first = leftward ? clamped : total - view.width - clamped;
    long long before = 0;  // columns of the bands before this one
    for (const SweptBand& band : result.sweptBands) {
        const int columns = band.end - band.begin;
        view.bands.push_back({band, leftward ? before : total - before - columns});
        before += columns;
    }
    return view;
}

QImage ComposeMosaicWindow(const CVideoStream& frames, const RunSettings& settings, const RunResult& result, int offset)
{
    const MosaicWindow view = MosaicLayout(result, offset);
    cv::Mat grey = cv::Mat::zeros(view.height, view.width, CV_8UC1);
    for (const MosaicBand& placed : view.bands) {
        const auto [from, to] = view.Shown(placed);
        if (from >= to)
            continue;
        // A frame that cannot be read now, or has another size, leaves its band black.
        cv::Mat frame = frames.ReadFrame(placed.band.frame);
        if (view.vertical && !frame.empty())
            cv::rotate(frame, frame, cv::ROTATE_90_COUNTERCLOCKWISE);
        if (frame.size() != grey.size())
            continue;
        const long long source = placed.band.begin + view.first - placed.at;
        frame.colRange(static_cast<int>(source + from), static_cast<int>(source + to)).copyTo(grey.colRange(from, to));
    }
    cv::Mat canvas;
    cv::cvtColor(grey, canvas, cv::COLOR_GRAY2BGR);
    // Seams and the counting line where it cut each band (the side the flow came from),
    // then circles, so that no neighbouring band covers a part of one, then frame numbers.
    const int line = CountingLineColumn(view.vertical ? result.frameHeight : result.frameWidth);
    std::vector<std::pair<int, int>> starts;
    for (const MosaicBand& placed : view.bands) {
        const auto [from, to] = view.Shown(placed);
        if (from >= to)
            continue;
        if (placed.at > view.first)
            Seam(canvas, from);
        if (placed.band.begin <= line && line <= placed.band.end)
            DashedLine(canvas, false, static_cast<int>(placed.at + line - placed.band.begin - view.first));
        starts.emplace_back(from, placed.band.frame);
    }
    const ParticleClassRules rules = ClassRules(settings);
    for (const MosaicBand& placed : view.bands) {
        const long long shift = placed.at - placed.band.begin;
        for (const ParticleMeasure& record : result.records) {
            const int along = view.vertical ? record.y : record.x;
            const int across = view.vertical ? result.frameWidth - 1 - record.x : record.y;
            const long long x = shift + along - view.first;
            if (record.frame != placed.band.frame || x < -kCircleRadius - kCircleThickness ||
                x > view.width + kCircleRadius + kCircleThickness)
                continue;
            Circle(canvas, cv::Point(static_cast<int>(x), across), ClassifyParticle(record, rules).colour);
        }
    }
    FrameLabels(canvas, starts);
    return BgrToQImage(canvas);
}

QString Text(const char* text)
{
    return QCoreApplication::translate("CMivoRegisterManager", text);
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
        return std::max(MosaicWidth(result) - (Vertical(result.flowDirection) ? result.frameHeight : viewWidth), 0LL);
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

QString StripPositionText(const RunSettings& settings, const RunResult& result, int offset)
{
    if (result.frameWidth <= 0 || result.frameHeight <= 0)
        return QString();
    std::vector<int> shown;
    if (CountingLine(settings)) {
        const MosaicWindow view = MosaicLayout(result, offset);
        for (const MosaicBand& placed : view.bands)
            if (view.Shown(placed).first < view.Shown(placed).second)
                shown.push_back(placed.band.frame);
    } else if (!result.selectedFrames.empty()) {
        const FoiWindow view = FoiLayout(settings, result, offset);
        shown.push_back(result.selectedFrames[static_cast<size_t>(view.k)]);
        if (view.columns > 0)
            shown.push_back(result.selectedFrames[static_cast<size_t>(view.k) + 1]);
    }
    if (shown.empty())
        return QString();
    std::sort(shown.begin(), shown.end());
    // The mosaic's bands are the frames in a row; two frames of interest need not be.
    const QString frames = shown.size() == 1 ? Text("frame %1").arg(shown.front() + 1)
                           : CountingLine(settings)
                               ? Text("frames %1 to %2").arg(shown.front() + 1).arg(shown.back() + 1)
                               : Text("frames %1 and %2").arg(shown.front() + 1).arg(shown.back() + 1);
    const long long last = StripLastOffset(settings, result, result.frameWidth);
    if (last <= 0)
        return Text("%1, the whole run").arg(frames);
    const long long at = std::clamp(static_cast<long long>(offset), 0LL, last);
    return Text("%1, %2 % of the run").arg(frames).arg(qRound(100.0 * static_cast<double>(at) / static_cast<double>(last)));
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
