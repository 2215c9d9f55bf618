#pragma once

#include <opencv2/core.hpp>

#include <cstddef>

// Decodes a JPEG held in memory to 8-bit grey with libjpeg and an error manager of
// its own, so that the decoder's warnings are seen: a stream that ends early, or
// entropy-coded data that does not decode ("Corrupt JPEG data: ..."), still gives a
// full picture, partly made up. Such a frame is not the one that was recorded.
// Safe to call from several threads at once: all decoder state lives in the call.

enum class JpegOutcome {
    Decoded,
    CutShort,     // the data ends before the end-of-image marker
    Corrupt,      // the decoder warned about the data or gave up on it
    NotAccepted,  // a colour space or precision that is not converted to grey
    OutOfMemory,
};

// `grey` receives the picture as stored (no EXIF orientation applied); it is left
// empty unless the outcome is Decoded. A reduction of 2, 4 or 8 decodes at that fraction
// of each side (rounded up), at that fraction of the memory.
JpegOutcome DecodeJpegGrey(const unsigned char* bytes, std::size_t count, cv::Mat& grey, int reduction = 1);
