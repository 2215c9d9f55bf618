#include "dialogs/crop_dialog.h"
#include "dialogs/tool_dialog_window.h"

#include "toolkit/margins.h"
#include "ui_crop_dialog.h"

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QPushButton>

namespace {

// A picture missing from the resources leaves its button without an icon.
void SetButtonPicture(QPushButton* button, const QString& resource)
{
    const QPixmap picture(resource);
    if (!picture.isNull())
        button->setIcon(QIcon(picture));
}

}  // namespace

CTool4CropImg::CTool4CropImg(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::tool4CropImg)
{
    // The button pictures are compiled in (a static library: this keeps them linked in),
    // so the dialog shows them from any working directory.
    Q_INIT_RESOURCE(icons);
    ui->setupUi(this);
    SetUpToolDialogWindow(this);
    SetButtonPicture(ui->btn_Cancel, QStringLiteral(":/Dialog/Resources/dialog-cancel.png"));
    SetButtonPicture(ui->btn_Ok, QStringLiteral(":/Dialog/Resources/dialog-ok-apply.png"));

    topPercent = 0.0;
    bottomPercent = 0.0;
    leftPercent = 0.0;
    rightPercent = 0.0;
    image = cv::Mat::zeros(200, 200, CV_8UC1);
    RedrawPreview();

    connect(ui->btn_Ok, &QPushButton::clicked, this, &CTool4CropImg::slot_btnOk);
    connect(ui->btn_Cancel, &QPushButton::clicked, this, &CTool4CropImg::slot_btnCancel);
    connect(ui->sb_crop_up, &QSpinBox::valueChanged, this, &CTool4CropImg::slot_sbx_up_ValueChanged);
    connect(ui->sb_crop_bottom, &QSpinBox::valueChanged, this, &CTool4CropImg::slot_sbx_bottom_ValueChanged);
    connect(ui->sb_crop_left, &QSpinBox::valueChanged, this, &CTool4CropImg::slot_sbx_left_ValueChanged);
    connect(ui->sb_crop_rigth, &QSpinBox::valueChanged, this, &CTool4CropImg::slot_sbx_rigth_ValueChanged);
}

CTool4CropImg::~CTool4CropImg()
{
    delete ui;
}

void CTool4CropImg::SetImage(const cv::Mat& frame)
{
    image = frame.clone();
    RedrawPreview();
}

void CTool4CropImg::RedrawPreview()
{
    const int rows = image.rows;
    const int cols = image.cols;
    const cv::Mat hatched = DrawHatchedMargins(image, int(topPercent / 100.0 * rows), int(bottomPercent / 100.0 * rows),
                                               int(leftPercent / 100.0 * cols), int(rightPercent / 100.0 * cols));
    // The QImage borrows the matrix's buffer; the pixmap takes a copy.
    const QImage grey(hatched.data, cols, rows, int(hatched.step), QImage::Format_Grayscale8);
    const QPixmap pixmap = QPixmap::fromImage(grey);

    ui->labImage->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    ui->labImage->setScaledContents(false);
    ui->labImage->setPixmap(
        pixmap.scaled(ui->labImage->width(), ui->labImage->height(), Qt::KeepAspectRatio, Qt::FastTransformation));
    ui->labImage->repaint();
}

void CTool4CropImg::slot_btnOk()
{
    const double top = topPercent / 100.0;
    const double bottom = bottomPercent / 100.0;
    const double left = leftPercent / 100.0;
    const double right = rightPercent / 100.0;
    const QString text = QStringLiteral("[U-") + QString::number(top, 'g', 2) + QStringLiteral(", ") +
                         QStringLiteral("B-") + QString::number(bottom, 'g', 2) + QStringLiteral(", ") +
                         QStringLiteral("L-") + QString::number(left, 'g', 2) + QStringLiteral(", ") +
                         QStringLiteral("R-") + QString::number(right, 'g', 2) + QStringLiteral("]");
    emit sigCrop_dataToolCropping(top, bottom, left, right, true, text);
    hide();
}

void CTool4CropImg::slot_btnCancel()
{
    emit sigCrop_dataToolCropping(0.0, 0.0, 0.0, 0.0, false, QString());
    hide();
}

void CTool4CropImg::slot_sbx_up_ValueChanged(int value)
{
    leftPercent = double(value);
    RedrawPreview();
}

void CTool4CropImg::slot_sbx_bottom_ValueChanged(int value)
{
    rightPercent = double(value);
    RedrawPreview();
}

void CTool4CropImg::slot_sbx_left_ValueChanged(int value)
{
    topPercent = double(value);
    RedrawPreview();
}

void CTool4CropImg::slot_sbx_rigth_ValueChanged(int value)
{
    bottomPercent = double(value);
    RedrawPreview();
}
