#include "register/bgr_image.h"

QImage BgrToQImage(const cv::Mat& bgr)
{
    if (bgr.empty() || bgr.type() != CV_8UC3)
        return QImage();
    const QImage view(bgr.data, bgr.cols, bgr.rows, static_cast<qsizetype>(bgr.step), QImage::Format_RGB888);
    return view.rgbSwapped();  // swaps into a new buffer, so the Mat may go
}
