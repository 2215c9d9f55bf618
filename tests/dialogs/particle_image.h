#pragma once

// A grey frame with two dark particles of known pixel counts. The selection dialog opens
// its segmentation with a 4 x 4 ellipse; each outline is a union of that ellipse placed
// on a centrally symmetric set of points, so the opening keeps its pixel count (it may
// move the mask by a pixel: OpenCV erodes and dilates with the same unreflected,
// even-sized kernel).

#include <QImage>

#include <initializer_list>

constexpr int kParticleFrameWidth = 200;
constexpr int kParticleFrameHeight = 150;

// 200 x 150, grey 200: a roundish particle of 120 pixels in the box 60..71 x 40..51, and
// one of 33 pixels in the box 10..15 x 130..135, near the lower left corner.
inline QImage ParticleFrame()
{
    QImage image(kParticleFrameWidth, kParticleFrameHeight, QImage::Format_Grayscale8);
    image.fill(qRgb(200, 200, 200));
    struct Run {
        int row, first, last;  // relative to the particle's corner
    };
    const auto draw = [&image](int left, int top, std::initializer_list<Run> runs) {
        for (const Run& run : runs)
            for (int x = run.first; x <= run.last; ++x)
                image.scanLine(top + run.row)[left + x] = 50;
    };
    draw(60, 40, {{0, 5, 7}, {1, 3, 9}, {2, 1, 10}, {3, 0, 11}, {4, 0, 11}, {5, 0, 11},
                  {6, 0, 11}, {7, 0, 11}, {8, 0, 11}, {9, 0, 11}, {10, 1, 10}, {11, 3, 8}});
    draw(10, 130, {{0, 2, 4}, {1, 0, 5}, {2, 0, 5}, {3, 0, 5}, {4, 0, 5}, {5, 0, 5}});
    return image;
}
