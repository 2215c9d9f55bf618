#pragma once

// Pixel size of the sequence: converts the particle size range between pixels and
// square micrometres. The window refreshes it from its pixel-size field.
struct PixelCalibration {
    const char* name = "unknow";
    const char* unitName = "micrometros";
    const char* unitSymbol = "mu";
    double pixelWidth = 1.0;
    double pixelHeight = 1.0;
    double pixelArea = 1.0;
    double areaFactor = 1.0;
    int imageHeight = 1024;
    int imageWidth = 1024;
};
