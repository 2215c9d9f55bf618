#pragma once

// A grey frame with two dark particles of known pixel counts. Each is a union of the 4 x 4 ellipse the selection
// dialog opens its mask with, so the opening keeps the count (it may move the mask by a pixel).

#include <QImage>

#include <array>

// 200 x 150, grey 200: a roundish particle of 120 pixels in the box 60..71 x 40..51, and
// one of 33 pixels in the box 10..15 x 130..135, near the lower left corner.
inline QImage ParticleFrame()
{
    QImage image(200, 150, QImage::Format_Grayscale8);
    image.fill(200);
    // Runs of dark pixels: left, top of the particle's box, then row, first and last column in it.
    for (const auto& r : {std::array{60, 40, 0, 5, 7},
                          {60, 40, 1, 3, 9},
                          {60, 40, 2, 1, 10},
                          {60, 40, 3, 0, 11},
                          {60, 40, 4, 0, 11},
                          {60, 40, 5, 0, 11},
                          {60, 40, 6, 0, 11},
                          {60, 40, 7, 0, 11},
                          {60, 40, 8, 0, 11},
                          {60, 40, 9, 0, 11},
                          {60, 40, 10, 1, 10},
                          {60, 40, 11, 3, 8},
                          {10, 130, 0, 2, 4},
                          {10, 130, 1, 0, 5},
                          {10, 130, 2, 0, 5},
                          {10, 130, 3, 0, 5},
                          {10, 130, 4, 0, 5},
                          {10, 130, 5, 0, 5}})
        for (int x = r[3]; x <= r[4]; ++x) image.scanLine(r[1] + r[2])[r[0] + x] = 50;
    return image;
}
