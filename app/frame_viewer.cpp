// Main window: the frame preview, navigation through the sequence and the overlays.

#include "app/count_basis.h"
#include "app/form_text.h"
#include "app/mivo_particle_stream_analysis.h"
#include "register/run_pictures.h"
#include "register/run_settings.h"
#include "stream/crossing_counter.h"
#include "stream/frame_reader.h"
#include "stream/video_stream.h"
#include "toolkit/margins.h"
#include "ui_mivo_particle_stream_analysis.h"

#include <QImage>
#include <QInputDialog>
#include <QPainter>
#include <QPixmap>

#include <opencv2/core.hpp>

#include <algorithm>
#include <climits>

void CMivoParticleStreamAnalysis::slot_viewImg_NextImage()
{
    if (sequenceLoaded)
        StepFrames(1);
}

void CMivoParticleStreamAnalysis::slot_viewImg_PreviousImage()
{
    if (sequenceLoaded)
        StepFrames(-1);
}

void CMivoParticleStreamAnalysis::StepFrames(int step)
{
    // The frames the reader refuses are stepped over, each named with its reason, so that
    // stepping never sticks before a bad frame.
    QStringList skipped;
    for (int index = CurrentFrameNumber() - 1 + step; index >= 0 && index < imageFiles.size(); index += step) {
        if (ShowFrame(index, false, false))
            break;
        const QString reason = QString::fromStdString(
            FrameReadReason(sequenceFrames->ReadRunFrame(index), sequenceFrames->RunFrameLimits()));
        skipped << QStringLiteral("%1 (%2)").arg(imageFiles.at(index), reason);
    }
    if (skipped.isEmpty())
        return;
    constexpr int kNamed = 3;
    const QString more = skipped.size() > kNamed ? FormText(" and %1 more").arg(skipped.size() - kNamed) : QString();
    ShowStatus(FormText("[WARNING] Skipped ") + skipped.mid(0, kNamed).join(QStringLiteral(", ")) + more);
}

void CMivoParticleStreamAnalysis::slot_viewImg_FirstImage()
{
    if (sequenceLoaded)
        ShowFrame(0);
}

void CMivoParticleStreamAnalysis::slot_viewImg_LastImage()
{
    if (sequenceLoaded)
        ShowFrame(int(imageFiles.size()) - 1);
}

void CMivoParticleStreamAnalysis::slot_sld_view_eventValueChanged(int value)
{
    if (sequenceLoaded)
        ShowFrame(value - 1);
}

void CMivoParticleStreamAnalysis::slot_btn_flow_right()
{
    flowDirection = 3;
    RefreshFlowDirection();
}

void CMivoParticleStreamAnalysis::slot_btn_flow_left()
{
    flowDirection = 2;
    RefreshFlowDirection();
}

void CMivoParticleStreamAnalysis::slot_btn_flow_up()
{
    flowDirection = 1;
    RefreshFlowDirection();
}

void CMivoParticleStreamAnalysis::slot_btn_flow_down()
{
    flowDirection = 0;
    RefreshFlowDirection();
}

void CMivoParticleStreamAnalysis::slot_chb_video_GridCheck(int /*state*/)
{
    gridVisible = ui->chb_video_grid->isChecked();
    if (sequenceLoaded)
        ReshowCurrentFrame();
}

void CMivoParticleStreamAnalysis::slot_cb_viewTool_sizeGridChanged(int index)
{
    gridSize = ui->cb_viewtool_sizeGrid->itemData(index).toInt();
    if (sequenceLoaded)
        ReshowCurrentFrame();
}

void CMivoParticleStreamAnalysis::slot_preview_DoubleClick()
{
    if (!sequenceLoaded)
        return;
    fitToWindow = !fitToWindow;
    if (fitToWindow) {
        ui->labImage->setBackgroundRole(QPalette::Base);
        ui->labImage->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    } else {
        // Natural size: the label takes the pixmap's size and the scroll area scrolls.
        ui->labImage->setBackgroundRole(QPalette::NoRole);
        ui->labImage->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    }
    ui->labImage->setScaledContents(fitToWindow);
    ui->labImage->update();
    // A frame shown reduced to the preview is read again whole: natural size is its pixels.
    if (!fitToWindow && ui->labImage->pixmap().width() < imageWidth)
        ShowFrame(CurrentFrameNumber() - 1, true);
}

void CMivoParticleStreamAnalysis::slot_sld_VrLine_eventValueChanged(int value)
{
    if (sequenceLoaded && RunFinished())
        ShowFullImageWindow(value);
}

int CMivoParticleStreamAnalysis::CurrentFrameNumber() const
{
    // One-based number of the frame on screen; 0 before any frame was shown.
    return ui->tf_view_IdxInstance->text().toInt();
}

void CMivoParticleStreamAnalysis::ReshowCurrentFrame()
{
    // The index field reads 0 when no frame of this sequence could be shown yet; there
    // is nothing on screen to refresh then.
    const int k = CurrentFrameNumber();
    if (k >= 1)
        ShowFrame(k - 1);
}

void CMivoParticleStreamAnalysis::RefreshFlowDirection()
{
    UpdateFlowButtons();
    if (sequenceLoaded)
        ReshowCurrentFrame();
}

cv::Mat CMivoParticleStreamAnalysis::ReadFrameFile(int index) const
{
    // The count's own reader: what the count leaves out, the window does not offer as a
    // frame either (a JPEG cut short, a pipe, a frame above the pixel limit, ...).
    return sequenceFrames->ReadFrame(index);
}

namespace {

// The fraction of each side (1, 2, 4 or 8) a frame is decoded at for the preview: the
// largest that keeps it at least as large as the preview, so that viewing a frame far
// larger than the screen costs no more memory than counting it.
int PreviewReduction(QSize frame, QSize preview)
{
    int reduction = 1;
    while (reduction < 8 && frame.width() / (2 * reduction) >= std::max(preview.width(), 1) &&
           frame.height() / (2 * reduction) >= std::max(preview.height(), 1))
        reduction *= 2;
    return reduction;
}

// Overlays are placed in frame pixels; the preview may show the frame reduced.
void PaintInFramePixels(QPainter& painter, const QImage& image, int frameWidth, int frameHeight)
{
    if (frameWidth > 0 && frameHeight > 0 && image.size() != QSize(frameWidth, frameHeight))
        painter.scale(double(image.width()) / frameWidth, double(image.height()) / frameHeight);
}

}  // namespace

bool CMivoParticleStreamAnalysis::ShowFrame(int index, bool naturalSize, bool sayUnreadable)
{
    // A frame number from the index field may belong to an earlier, longer sequence.
    if (index < 0 || index >= imageFiles.size()) {
        ShowStatus(FormText("[WARNING] Out of range"));
        return false;
    }
    // The count's own reader, as ReadFrameFile, at the preview's resolution.
    const int reduction = naturalSize ? 1 : PreviewReduction(QSize(imageWidth, imageHeight), ui->labImage->size());
    cv::Mat frame = sequenceFrames->ReadReducedFrame(index, reduction);
    if (frame.empty()) {
        if (sayUnreadable)
            ShowStatus(FormText("[WARNING] Out of range"));
        return false;
    }
    if (ui->proc_chb_cropImg->isChecked()) {
        // Margins in pixels of this frame, whatever the reference size of the sequence.
        frame = DrawHatchedMargins(frame, int(frame.rows * cropTop), int(frame.rows * cropBottom),
                                   int(frame.cols * cropLeft), int(frame.cols * cropRight));
    }

    // The QImage borrows the frame's buffer; the pixmap takes a copy.
    const QImage grey(frame.data, frame.cols, frame.rows, int(frame.step), QImage::Format_Grayscale8);
    const QPixmap pixmap = QPixmap::fromImage(grey);
    if (pixmap.isNull()) {
        ShowStatus(FormText("[ERRO] Can not open image ") + imageFiles.at(index) + QLatin1Char('.'));
        return false;
    }

    if (!naturalSize) {
        fitToWindow = true;
        ui->labImage->setBackgroundRole(QPalette::Dark);
        ui->labImage->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        ui->labImage->setScaledContents(true);
    }
    ui->labImage->setPixmap(pixmap);
    ui->labImage->update();
    DrawFlowDirection();
    if (gridVisible)
        DrawGrid();
    if (countingMode == CountingMode::CountingLine)
        DrawCountingLine();
    SyncFrameIndex(index);
    ShowStatus(FormText("[IDLE]"));
    return true;
}

void CMivoParticleStreamAnalysis::SyncFrameIndex(int index)
{
    // Moving the slider from here must not show the frame a second time.
    disconnect(ui->sld_view_FrameSlider, &QSlider::valueChanged, this,
               &CMivoParticleStreamAnalysis::slot_sld_view_eventValueChanged);
    ui->tf_view_IdxInstance->setText(QString::number(index + 1));
    ui->sld_view_FrameSlider->setValue(index + 1);
    connect(ui->sld_view_FrameSlider, &QSlider::valueChanged, this,
            &CMivoParticleStreamAnalysis::slot_sld_view_eventValueChanged);
}

namespace {

// The preview's pixmap as an image overlays can be painted on in colour (a grey
// frame's pixmap may come back as a grey image).
QImage PaintableImage(const QPixmap& pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace

void CMivoParticleStreamAnalysis::DrawFlowDirection()
{
    QString text = QStringLiteral("flow");
    QPoint anchor(0, 0);
    int rotation = 0;
    switch (flowDirection) {
    case 0:
        text = QStringLiteral("<<<<");
        anchor = QPoint(100, 200);
        rotation = 270;
        break;
    case 1:
        text = QStringLiteral("<<<<");
        anchor = QPoint(100, imageHeight - 200);
        rotation = 90;
        break;
    case 2:
        text = QStringLiteral("<<<<");
        anchor = QPoint(imageWidth - 200, 100);
        break;
    case 3:
        text = QStringLiteral(">>>>");
        anchor = QPoint(100, 100);
        break;
    default:
        break;
    }

    QImage image = PaintableImage(ui->labImage->pixmap());
    QPainter painter(&image);
    PaintInFramePixels(painter, image, imageWidth, imageHeight);
    QFont font(QStringLiteral("Arial"), 28, QFont::Bold, false);
    painter.setFont(font);
    painter.setPen(QPen(overlayColor));
    if (rotation != 0) {
        painter.translate(anchor);
        painter.rotate(rotation);
        painter.drawText(0, 0, text);
        painter.rotate(-rotation);
        painter.translate(-anchor);
    } else {
        painter.drawText(anchor, text);
    }
    painter.end();
    ui->labImage->setPixmap(QPixmap::fromImage(image));
    ui->labImage->update();
}

void CMivoParticleStreamAnalysis::DrawGrid()
{
    QImage image = PaintableImage(ui->labImage->pixmap());
    QPainter painter(&image);
    PaintInFramePixels(painter, image, imageWidth, imageHeight);
    const QBrush brush(overlayColor, Qt::SolidPattern);
    const double step = 1.0 / gridSize;
    for (int k = 1; k < gridSize; ++k) {
        const int x = int(imageWidth * (k * step));
        const int y = int(imageHeight * (k * step));
        painter.fillRect(x, 0, 3, imageHeight, brush);
        painter.fillRect(0, y, imageWidth, 3, brush);
    }
    painter.end();
    ui->labImage->setPixmap(QPixmap::fromImage(image));
    ui->labImage->update();
}

void CMivoParticleStreamAnalysis::DrawCountingLine()
{
    // Where the counting-line count counts a particle: through the middle of the frame,
    // across the flow (a middle row once a run found the flow going up or down).
    QImage image = PaintableImage(ui->labImage->pixmap());
    QPainter painter(&image);
    PaintInFramePixels(painter, image, imageWidth, imageHeight);
    // In the overlay's cyan, as the res_ pictures and the strip draw it.
    QPen pen(QColor(0, 255, 255), 3, Qt::DashLine);
    painter.setPen(pen);
    const FlowDirection measured = finishedRun->result.flowDirection;
    if (measured == FlowDirection::kTopToBottom || measured == FlowDirection::kBottomToTop) {
        const int y = CountingLineColumn(imageHeight);
        painter.drawLine(0, y, imageWidth, y);
    } else {
        const int x = CountingLineColumn(imageWidth);
        painter.drawLine(x, 0, x, imageHeight);
    }
    painter.end();
    ui->labImage->setPixmap(QPixmap::fromImage(image));
    ui->labImage->update();
}

void CMivoParticleStreamAnalysis::UpdateFlowButtons()
{
    ui->btn_flow_down->setChecked(flowDirection == 0);
    ui->btn_flow_up->setChecked(flowDirection == 1);
    ui->btn_flow_left->setChecked(flowDirection == 2);
    ui->btn_flow_right->setChecked(flowDirection == 3);
}

void CMivoParticleStreamAnalysis::ShowFullImageWindow(int offset)
{
    const QImage window = ComposeStripWindow(*runFrames, finishedRun->settings, finishedRun->result, offset);
    ui->label_stripPosition->setText(StripPositionText(finishedRun->settings, finishedRun->result, offset));
    // No frame size yet (no run): nothing to show instead of a blank preview.
    if (window.isNull())
        return;
    ui->labImage->setPixmap(QPixmap::fromImage(window));
    ui->labImage->update();
    DrawFlowDirection();
    if (gridVisible)
        DrawGrid();
}

void CMivoParticleStreamAnalysis::ResetFullImageSlider()
{
    disconnect(ui->sld_vr_line, &QSlider::valueChanged, this,
               &CMivoParticleStreamAnalysis::slot_sld_VrLine_eventValueChanged);
    const long long last = StripLastOffset(finishedRun->settings, finishedRun->result, imageWidth);
    ui->sld_vr_line->setRange(0, static_cast<int>(std::min(last, static_cast<long long>(INT_MAX))));
    ui->sld_vr_line->setValue(0);
    ui->sld_vr_line->setSingleStep(20);
    ui->sld_vr_line->setEnabled(true);
    connect(ui->sld_vr_line, &QSlider::valueChanged, this,
            &CMivoParticleStreamAnalysis::slot_sld_VrLine_eventValueChanged);
    ShowFullImageWindow(0);
}

void CMivoParticleStreamAnalysis::slot_viewImg_GoToFrame()
{
    if (!sequenceLoaded)
        return;
    bool ok = false;
    const int number =
        QInputDialog::getInt(this, FormText("Go to frame"), FormText("Frame number (1 to %1):").arg(imageFiles.size()),
                             std::max(CurrentFrameNumber(), 1), 0, INT_MAX, 1, &ok);
    // A number outside the sequence is refused as a stale frame number is ("[WARNING]
    // Out of range").
    if (ok)
        ShowFrame(number - 1);
}
