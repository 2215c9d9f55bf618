#pragma once

// Hand-made grey pictures with dark particles whose pixel counts are known by
// construction. The selection dialog opens its segmentation with a 4 x 4 ellipse; both
// outlines are unions of that ellipse placed on a centrally symmetric set of points, so
// the opening keeps their pixel count (it may move the mask by a pixel: OpenCV erodes
// and dilates with the same, unreflected, even-sized kernel).

#include <QImage>
#include <QString>

#include <initializer_list>

struct ParticleRun {
    int row, first, last;  // row offset and columns, inclusive, from the particle's corner
};

inline int DrawParticle(QImage& image, int left, int top, std::initializer_list<ParticleRun> runs,
                        int grey = 50)
{
    int pixels = 0;
    for (const ParticleRun& run : runs) {
        uchar* line = image.scanLine(top + run.row);
        for (int x = run.first; x <= run.last; ++x, ++pixels)
            line[left + x] = uchar(grey);
    }
    return pixels;
}

// 120 pixels, a roundish particle in a 12 x 12 box.
inline int DrawParticle120(QImage& image, int left, int top)
{
    return DrawParticle(image, left, top,
                        {{0, 5, 7}, {1, 3, 9}, {2, 1, 10}, {3, 0, 11}, {4, 0, 11}, {5, 0, 11},
                         {6, 0, 11}, {7, 0, 11}, {8, 0, 11}, {9, 0, 11}, {10, 1, 10}, {11, 3, 8}});
}

// 33 pixels: a 6 x 6 square whose top row keeps only its columns 2 to 4.
inline int DrawParticle33(QImage& image, int left, int top)
{
    return DrawParticle(image, left, top,
                        {{0, 2, 4}, {1, 0, 5}, {2, 0, 5}, {3, 0, 5}, {4, 0, 5}, {5, 0, 5}});
}

// 200 x 150 frame of grey 200: the 120-pixel particle with its corner at (60, 40), the
// 33-pixel one at (10, 130), near the lower left corner.
constexpr int kParticleFrameWidth = 200;
constexpr int kParticleFrameHeight = 150;

inline QImage ParticleFrame()
{
    QImage image(kParticleFrameWidth, kParticleFrameHeight, QImage::Format_Grayscale8);
    image.fill(qRgb(200, 200, 200));
    DrawParticle120(image, 60, 40);
    DrawParticle33(image, 10, 130);
    return image;
}
