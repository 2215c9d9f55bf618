// Export of the frames of interest: per frame the frame as read ("pos_") and the
// frame with its particles circled ("res_"). The last frame shows only its new strip,
// unless it was a frame of interest counted whole. The counting line exports the frames
// that counted particles, each with the particles it counted.

#include "register/bgr_image.h"
#include "register/frame_listing.h"
#include "register/mivo_register_manager.h"
#include "register/output_paths.h"
#include "toolkit/out_of_memory.h"

#include <QBuffer>
#include <QFileInfo>
#include <QSaveFile>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <vector>

namespace {

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

}  // namespace

QStringList CMivoRegisterManager::ExportFramesOfInterest(QString targetFolder)
{
    // A picture's name may be taken by a link to a frame, which the write would follow
    // and replace; such a picture is not written.
    const auto touchesFrames = [this](const QString& path) {
        return OutputTouchesFrames(path, OutputTarget::File, folderPath);
    };
    QStringList failed;
    const int selected = static_cast<int>(selectedFrames.size());
    const bool countingLine = countingMode == CountingMode::CountingLine;
    for (int position = 0; position < selected; ++position) {
        const int index = selectedFrames[static_cast<size_t>(position)];
        const QString suffix =
            FramePictureName(index, QString::fromStdString(stream->FrameName(index)), stream->IsRecording());
        const QString posPath = targetFolder + QStringLiteral("/pos_") + suffix;
        const QString resPath = targetFolder + QStringLiteral("/res_") + suffix;
        // Only a last frame that phase 1 did not take shows its new strip alone.
        const bool lastFrame = !countingLine && position == selected - 1 && !lastFrameCountedWhole;
        // A picture that memory runs out on is named as not written, with the reason.
        cv::Mat grey;
        bool written = false;
        if (RanOutOfMemory([&] {
                grey = stream->ReadFrame(index);
                if (lastFrame && !grey.empty()) {
                    // Marks the strip that arrived after the previous frame of interest.
                    cv::rectangle(grey, cv::Rect(0, 0, accumulatedShift, frameHeight - 1), cv::Scalar(0), 1,
                                  cv::LINE_8);
                }
                written = !touchesFrames(posPath) && WriteGrey(posPath, grey);
            }))
            failed << posPath + QStringLiteral(" (out of memory)");
        else if (!written)
            failed << posPath;

        written = false;
        if (RanOutOfMemory([&] {
                // The counting line's particles are those counted in the frame, not all it shows.
                QImage image =
                    countingLine ? BgrToQImage(RenderFoIFrame(index)) : CountFrame(index, segmentationMethod);
                if (lastFrame && !image.isNull() && !grey.empty()) {
                    // Outside the new strip the frame is shown grey, without circles.
                    const int rows = std::min(grey.rows, image.height());
                    const int columns = std::min(grey.cols, image.width());
                    for (int r = 0; r < rows; ++r) {
                        const uchar* g = grey.ptr<uchar>(r);
                        uchar* rgb = image.scanLine(r);  // RGB888
                        for (int c = std::max(accumulatedShift, 0); c < columns; ++c)
                            rgb[3 * c] = rgb[3 * c + 1] = rgb[3 * c + 2] = g[c];
                    }
                }
                written = !touchesFrames(resPath) && SaveImage(resPath, image);
            }))
            failed << resPath + QStringLiteral(" (out of memory)");
        else if (!written)
            failed << resPath;
    }
    return failed;
}
