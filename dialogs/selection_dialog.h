#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>

#include <opencv2/core.hpp>

namespace Ui {
class tool4SelectRegion;
}

// Calibrates the particle size range on one particle: the user drags a rectangle
// around it on the frame shown at natural size, the dialog measures the first particle
// in the rectangle and, on "Ok", sends its area times the two factors as the minimum
// and maximum area in pixels. Window-modal, without close button; "Cancel" and Escape
// hide it without sending anything.
class CGui4SelectRegion : public QDialog {
    Q_OBJECT

public:
    explicit CGui4SelectRegion(QWidget* parent = nullptr);
    ~CGui4SelectRegion() override;

    // Area of one pixel in square micrometres, handed over by the owner before SetImage;
    // shown in the dialog and multiplied by the pixel count for the area.
    void SetPixelSize(double size);
    // Shows the image of the file pixel for pixel. A file that cannot be read leaves
    // nothing to select on: the picture is replaced by a notice.
    void SetImage(const QString& path);

signals:
    void sigManual_MinPxl(int mmin);
    void sigManual_MaxPxl(int mmax);

private slots:
    void slot_btnOk();
    void slot_btnCancel();
    void slot_MousePressed();
    void slot_MouseMove();
    void slot_MouseRelease();

private:
    QPoint ClampedMousePosition() const;
    double CornerDistance() const;
    void DrawRubberBand();
    void MeasureSelection();
    void ShowUnreadableImage();

    Ui::tool4SelectRegion* ui;
    QString imagePath;
    double pixelSize = 1.0;
    double particleArea = 1.0;
    int particlePixels = 1;
    int imageRows = 0;
    int imageCols = 0;
    cv::Mat image;
    QPixmap cleanPixmap;
    int startX = 0;
    int startY = 0;
    int endX = 0;
    int endY = 0;
};
