#pragma once

#include "stream/frame_reader.h"

#include <cstdint>
#include <string>
#include <vector>

struct tiff;

// The pages of the TIFF file at `path`; 0 when it cannot be opened as one.
int TiffPageCount(const std::string& path);

// The pages of a multi-page TIFF, an image stack as microscopy and camera programs save
// a recording: page k is frame k. Read with libtiff, one page at a time, so that a stack
// of any length (BigTIFF included) costs the memory of one page. Each page's header is
// read before its data: a page of another size than frame 0 is left out undecoded, one
// of another sample width (8 or 16 bits) after decoding, as frames of a folder are.
//
// One object serves one thread; several objects may read the same file at once.
class CTiffStack {
public:
    explicit CTiffStack(const std::string& path);
    ~CTiffStack();
    CTiffStack(const CTiffStack&) = delete;
    CTiffStack& operator=(const CTiffStack&) = delete;

    // Opened as a TIFF (only regular files are opened, without blocking); why not when
    // it was not: "missing", "can not open", "not a regular file", "not a PNG, JPEG, TIFF
    // or BMP image" (FrameReadReason).
    bool IsOpen() const { return handle != nullptr; }
    FrameReadStatus OpenStatus() const { return openStatus; }

    // Pages in the file's chain of directories; 0 when not open.
    int PageCount();

    // Page `index` as 8-bit grey (colour as OpenCV's grey reading makes it, 16-bit
    // samples scaled by the limits' depth); PastEnd beyond the last page.
    FrameRead ReadPage(int index, const FrameReadLimits& limits);

private:
    FrameRead Decode(const FrameReadLimits& limits);

    tiff* handle = nullptr;
    FrameReadStatus openStatus = FrameReadStatus::Missing;
    long long fileBytes = 0;
    bool walked = false;                  // the chain of directories was walked
    std::vector<std::uint64_t> offsets;   // where each page's directory starts
    bool failed = false;  // libtiff reported an error since it was last cleared
};
