#include "dialogs/selection_dialog.h"
#include "dialogs/tool_dialog_window.h"

#include "toolkit/particle_measure.h"
#include "ui_selection_dialog.h"

#include <QDebug>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QPainter>

#include <cmath>
#include <vector>

namespace {

// The picture of a grey frame is a grey image; the selection is drawn in colour.
QImage PaintableImage(const QPixmap& pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace

CGui4SelectRegion::CGui4SelectRegion(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::tool4SelectRegion)
{
    ui->setupUi(this);
    SetUpToolDialogWindow(this);

    ui->scrollArea->setBackgroundRole(QPalette::Dark);
    ui->scrollArea->setWidgetResizable(true);

    connect(ui->btnOk, &QPushButton::clicked, this, &CGui4SelectRegion::slot_btnOk);
    connect(ui->btnCancel, &QPushButton::clicked, this, &CGui4SelectRegion::slot_btnCancel);
    connect(ui->label, &myQLabel::sigMouse_Pressed, this, &CGui4SelectRegion::slot_MousePressed);
    connect(ui->label, &myQLabel::sigMouse_Pos, this, &CGui4SelectRegion::slot_MouseMove);
    connect(ui->label, &myQLabel::sigMouse_Release, this, &CGui4SelectRegion::slot_MouseRelease);
}

CGui4SelectRegion::~CGui4SelectRegion()
{
    delete ui;
}

void CGui4SelectRegion::SetPixelSize(double size)
{
    pixelSize = size;
    ui->tf_PixelSize->setText(QString::number(size, 'g', 6));
}

void CGui4SelectRegion::SetImage(const cv::Mat& frame, const QString& path)
{
    imagePath = path;
    // The dialog's own copy: the owner may reuse its frame.
    image = frame.clone();
    if (image.empty()) {
        ShowUnreadableImage();
        return;
    }
    imageRows = image.rows;
    imageCols = image.cols;
    // The QImage borrows the frame's buffer; the pixmap takes a copy.
    const QImage grey(image.data, image.cols, image.rows, int(image.step), QImage::Format_Grayscale8);
    cleanPixmap = QPixmap::fromImage(grey);
    ui->label->setBackgroundRole(QPalette::NoRole);
    // Natural size: label coordinates are image coordinates.
    ui->label->setFixedHeight(imageRows);
    ui->label->setFixedWidth(imageCols);
    ui->label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    ui->label->setScaledContents(false);
    ui->label->setPixmap(cleanPixmap);
    ui->label->update();
}

void CGui4SelectRegion::ShowUnreadableImage()
{
    // The previous picture must not stay on screen: selecting on it would measure
    // nothing that is shown.
    imageRows = 0;
    imageCols = 0;
    cleanPixmap = QPixmap();
    ui->label->setMinimumSize(0, 0);
    ui->label->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    ui->label->setText(tr("Can not read image ") + QFileInfo(imagePath).fileName());
    ui->label->update();
}

QPoint CGui4SelectRegion::ClampedMousePosition() const
{
    int x = ui->label->mouseX;
    int y = ui->label->mouseY;
    if (x < 0)
        x = 0;
    else if (x >= imageCols)
        x = imageCols - 1;
    if (y < 0)
        y = 0;
    else if (y >= imageRows)
        y = imageRows - 1;
    return QPoint(x, y);
}

double CGui4SelectRegion::CornerDistance() const
{
    const int dx = endX - startX;
    const int dy = endY - startY;
    return std::sqrt(double(dx * dx + dy * dy));
}

void CGui4SelectRegion::slot_MousePressed()
{
    if (image.empty())
        return;
    const QPoint p = ClampedMousePosition();
    startX = p.x();
    startY = p.y();
}

void CGui4SelectRegion::slot_MouseMove()
{
    if (image.empty())
        return;
    const QPoint p = ClampedMousePosition();
    endX = p.x();
    endY = p.y();
    if (CornerDistance() > 5.0)
        DrawRubberBand();
}

void CGui4SelectRegion::slot_MouseRelease()
{
    if (image.empty())
        return;
    const QPoint p = ClampedMousePosition();
    endX = p.x();
    endY = p.y();
    if (CornerDistance() > 20.0) {
        MeasureSelection();
        return;
    }
    QMessageBox box;
    box.setText(tr("Please, select a larger area."));
    box.exec();
}

void CGui4SelectRegion::DrawRubberBand()
{
    ui->label->setPixmap(cleanPixmap);
    ui->label->repaint();
    QImage canvas = PaintableImage(ui->label->pixmap());
    QPainter painter(&canvas);
    painter.fillRect(
        QRect(std::min(startX, endX), std::min(startY, endY), std::abs(endX - startX), std::abs(endY - startY)),
        QBrush(QColor(255, 0, 255, 128), Qt::SolidPattern));
    painter.end();
    ui->label->setPixmap(QPixmap::fromImage(canvas));
    ui->label->repaint();
}

void CGui4SelectRegion::MeasureSelection()
{
    const SelectedParticle selected = MeasureSelectedParticle(image, cv::Point(startX, startY), cv::Point(endX, endY));
    particlePixels = int(selected.pixels.size());
    particleArea = particlePixels * pixelSize;
    const QString pixels = QString::number(particlePixels);
    ui->tf_areaPxl->setText(pixels);
    ui->tf_areaPxl_2->setText(pixels);
    ui->tf_areaPxl_3->setText(pixels);
    ui->tf_areaMu->setText(QString::number(particleArea, 'g', 6));

    // The particle's pixels in half-transparent yellow; redrawing from the clean
    // picture erases the rubber band.
    ui->label->setPixmap(cleanPixmap);
    ui->label->repaint();
    QImage canvas = PaintableImage(ui->label->pixmap());
    std::vector<QPoint> points;
    points.reserve(selected.pixels.size());
    for (const cv::Point& p : selected.pixels)
        points.emplace_back(p.x + selected.corner.x, p.y + selected.corner.y);
    QPainter painter(&canvas);
    QPen pen(QColor(255, 255, 0, 128));
    pen.setWidth(1);
    pen.setCosmetic(true);
    painter.setPen(pen);
    painter.drawPoints(points.data(), int(points.size()));
    painter.end();
    ui->label->setPixmap(QPixmap::fromImage(canvas));
    ui->label->repaint();
}

void CGui4SelectRegion::slot_btnOk()
{
    // Products truncated toward zero.
    const int mmin = int(ui->sbMin->value() * particlePixels);
    const int mmax = int(ui->sbMax->value() * particlePixels);
    emit sigManual_MinPxl(mmin);
    emit sigManual_MaxPxl(mmax);
    hide();
}

void CGui4SelectRegion::slot_btnCancel()
{
    qDebug() << "Cancel";
    hide();
}
