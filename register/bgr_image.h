#pragma once

#include <QImage>

#include <opencv2/core.hpp>

// A BGR Mat (CV_8UC3) as an independent RGB888 QImage with the same bytes per line;
// a null image for an empty Mat.
QImage BgrToQImage(const cv::Mat& bgr);
