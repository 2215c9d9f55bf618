#pragma once

#include <opencv2/core.hpp>

#include <cstddef>

// What the first bytes of a frame file say about it, read before anything is decoded:
// the format (by content, never by name), the size, and whether its samples can be a
// camera frame at all. Only the formats the program lists are recognised.

enum class FrameFormat { Unknown, Png, Jpeg, Tiff, Bmp };

enum class HeaderStatus {
    Complete,     // size and sample layout read
    NotAnImage,   // none of the four formats
    NotAccepted,  // one of them, but data no camera gives (float, CMYK, 12-bit, BigTIFF ...)
    CutShort,     // the file ends inside the header
    Corrupt,      // the header contradicts itself
};

struct FrameHeader {
    FrameFormat format = FrameFormat::Unknown;
    HeaderStatus status = HeaderStatus::NotAnImage;
    cv::Size size;  // as stored, before any orientation is applied
    // JPEG only: the EXIF orientation (1 .. 8; 1 when absent), applied after decoding.
    int orientation = 1;
    // The bits of a sample the header says carry the picture: a PNG's sBIT chunk (the
    // most of its colour channels), a TIFF's MaxSampleValue (the bits it needs); 0 when
    // the header does not say.
    int significantBits = 0;
    // TIFF only: the first directory links to another, a multi-page file (of which a
    // frame file gives its first page).
    bool morePages = false;
};

FrameHeader ReadFrameHeader(const unsigned char* bytes, std::size_t count);

enum class DataStatus { Complete, CutShort, Corrupt };

// The structure after the header, checked where the decoders would not say: a PNG's
// chunks up to IEND, a BMP's pixel data length and its RLE stream (which OpenCV's
// decoder fills with black when it breaks). JPEG and TIFF are left to their decoders.
DataStatus CheckFrameData(const FrameHeader& header, const unsigned char* bytes, std::size_t count);
