#pragma once

#include <QDialog>
#include <QString>

#include <opencv2/core.hpp>

namespace Ui {
class tool4CropImg;
}

// Sets four crop margins, each 0 to 50 percent of the frame height (top, bottom) or
// width (left, right), on a preview of the frame with the margins hatched. "Ok" sends
// them as fractions with a summary text, "Cancel" sends a cleared result; both hide the
// dialog. Window-modal, without close button. The spin boxes keep their values between
// openings.
//
// The spin boxes are named after other edges than the ones they sit at; the edge
// decides: sb_crop_left is the top margin, sb_crop_rigth the bottom, sb_crop_up the
// left and sb_crop_bottom the right.
class CTool4CropImg : public QDialog {
    Q_OBJECT

public:
    explicit CTool4CropImg(QWidget* parent = nullptr);
    ~CTool4CropImg() override;

    // Keeps a copy of an 8-bit grey frame and previews it.
    void SetImage(const cv::Mat& frame);
    void RedrawPreview();

signals:
    // top, bottom, left, right as fractions of the frame; accepted; summary text.
    void sigCrop_dataToolCropping(double, double, double, double, bool, QString);

private slots:
    void slot_btnOk();
    void slot_btnCancel();
    void slot_sbx_up_ValueChanged(int value);
    void slot_sbx_bottom_ValueChanged(int value);
    void slot_sbx_left_ValueChanged(int value);
    void slot_sbx_rigth_ValueChanged(int value);

private:
    Ui::tool4CropImg* ui;
    double topPercent = 0.0;
    double bottomPercent = 0.0;
    double leftPercent = 0.0;
    double rightPercent = 0.0;
    cv::Mat image;
};
