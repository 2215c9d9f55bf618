#pragma once

// Pixel size of the sequence: converts the particle size range between pixels and
// square micrometres. The window refreshes it from its pixel-size field.
struct PixelCalibration {
    double pixelArea = 1.0;  // square micrometres per pixel
};
