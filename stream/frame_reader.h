#pragma once

#include "stream/sample_depth.h"

#include <opencv2/core.hpp>

#include <string>

// The one way a frame file becomes an 8-bit grey picture. Only regular files are
// opened, without blocking (a pipe or a device is left out, never waited on); the
// bytes are read once and every check and the decoder see those same bytes. Only
// PNG, JPEG, TIFF and BMP are read, recognised by their content. The header is read
// first: a frame of another size than expected is left out without decoding, one
// above the pixel limit is refused. Colour becomes grey as OpenCV's grey reading makes
// it; 16-bit samples are scaled to 8 bits by the sequence's depth (sample_depth.h);
// data no camera gives (float samples, CMYK) and data that decodes only with the
// decoder's warnings are refused. Nothing throws.
//
// Safe to call from several threads at once: no state outlives a call.

enum class FrameReadStatus {
    Read,
    Missing,         // no such file, or a link that leads nowhere
    NoAccess,        // exists, but cannot be opened or read
    NotRegularFile,  // a folder, pipe, device or socket
    Empty,           // zero bytes
    NotAnImage,      // none of PNG, JPEG, TIFF, BMP
    NotAccepted,     // one of them, but samples no camera frame has
    CutShort,        // the data ends early
    Corrupt,         // the data contradicts itself, or decodes only with warnings
    OtherSize,       // not the expected size (not decoded)
    AboveLimit,      // more pixels than the limit (not decoded)
    FileTooLarge,    // more bytes than any frame within the pixel limit needs (not read)
    OutOfMemory,
    OtherDepth,      // 16-bit samples in a sequence of 8-bit frames, or the reverse
    PastEnd,         // a recording that ends before this frame
};

// Frames above this many pixels are refused unless the caller sets another limit.
constexpr long long kDefaultFramePixelLimit = 100000000;

// The largest file read for a frame: the largest raw sample layout read (16-bit
// colour with alpha, 8 bytes a pixel) at the pixel limit, plus room for metadata.
long long FrameFileByteLimit(long long pixelLimit);

struct FrameReadLimits {
    cv::Size expectedSize;  // empty: any size
    long long pixelLimit = kDefaultFramePixelLimit;
    // 2, 4 or 8: the picture is decoded at that fraction of each side, for a preview
    // smaller than the frame (JPEG at that fraction of the memory, the others decoded
    // whole and reduced at once). Every check above is made on the frame as it is.
    int reduction = 1;
    SampleDepth depth;  // the sequence's, frame 0's; not known (bits 0): the frame's own
};

struct FrameRead {
    FrameReadStatus status = FrameReadStatus::Missing;
    cv::Mat grey;   // CV_8UC1 when status is Read, empty otherwise
    cv::Size size;  // the frame's size as read from its header (0 x 0 when unknown); the picture's once read
    long long fileBytes = 0;
    SampleDepth depth;   // what the samples were scaled by (Read), or their own (OtherDepth)
    bool faint = false;  // the samples use less than 1/16 of the depth's range
    bool morePages = false;  // a multi-page TIFF frame file, of which this is the first page
};

FrameRead ReadGreyFrame(const std::string& path, const FrameReadLimits& limits = {});

// The last stage of every reading (a frame file, a page of a stack, a frame of a video):
// `samples` decoded elsewhere (CV_8UC1 or CV_16UC1; any other type is NotAccepted) are
// checked against the expected size and scaled by the limits' depth into `read`.
// `headerBits`: the significant bits the file's header names, 0 for none.
void FinishFrameRead(const cv::Mat& samples, int headerBits, const FrameReadLimits& limits, FrameRead& read);

// Samples a decoder gave whole (a page of a stack, a frame of a video) reduced as the
// limits ask for a preview (2, 4 or 8), as OpenCV's reduced reading reduces them; as
// they are otherwise. Before FinishFrameRead.
cv::Mat ReducedAsAsked(const cv::Mat& samples, const FrameReadLimits& limits);

// Why a frame was not read, for "Left out NAME (reason)" texts: "missing", "cut
// short", "320 x 240, frame 0 is 640 x 480", ... The expected size is frame 0's in
// every caller. Empty for a frame that was read.
std::string FrameReadReason(const FrameRead& read, const FrameReadLimits& limits);
