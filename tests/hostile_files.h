#pragma once

// Frame files as an adversary makes them, crafted in the tests rather than stored:
// a PNG that really decodes to a huge picture, a run-length BMP (which OpenCV does not
// write), and the damage done to files on their way.

#include <opencv2/core.hpp>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace hostile {

using Bytes = std::vector<unsigned char>;

inline void Put32(Bytes& b, std::uint32_t v, bool big)
{
    for (int k = 0; k < 4; ++k) b.push_back(static_cast<unsigned char>(v >> (big ? 24 - 8 * k : 8 * k)));
}

// An 8-bit grey PNG of `width` x `height` black pixels, about 45 bytes a row: every row
// is deflated alone (a full flush empties the dictionary), so one row's code serves all.
inline Bytes BlackPng(std::uint32_t width, std::uint32_t height)
{
    const Bytes row(width + 1, 0);  // filter byte, pixels
    z_stream z{};
    deflateInit(&z, 9);
    const auto deflated = [&](int flush) {
        Bytes out(deflateBound(&z, static_cast<uLong>(row.size())) + 16);
        z.next_in = const_cast<Bytef*>(row.data());
        z.avail_in = flush == Z_FINISH ? 0 : static_cast<uInt>(row.size());
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, flush);
        out.resize(out.size() - z.avail_out);
        return out;
    };
    Bytes data = deflated(Z_FULL_FLUSH);  // zlib header and row 0
    const Bytes next = deflated(Z_FULL_FLUSH);
    for (std::uint32_t r = 1; r < height; ++r) data.insert(data.end(), next.begin(), next.end());
    Bytes end = deflated(Z_FINISH);
    deflateEnd(&z);
    end.resize(end.size() - 4);  // the checksum of two rows; that of all rows follows
    data.insert(data.end(), end.begin(), end.end());
    const uLong rowSum = adler32(adler32(0, nullptr, 0), row.data(), static_cast<uInt>(row.size()));
    uLong sum = rowSum;
    for (std::uint32_t r = 1; r < height; ++r) sum = adler32_combine(sum, rowSum, static_cast<z_off_t>(row.size()));
    Put32(data, static_cast<std::uint32_t>(sum), true);

    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const auto chunk = [&png](const char* type, const Bytes& body) {
        Put32(png, static_cast<std::uint32_t>(body.size()), true);
        const std::size_t start = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), body.begin(), body.end());
        Put32(png, static_cast<std::uint32_t>(crc32(0, png.data() + start, static_cast<uInt>(png.size() - start))),
              true);
    };
    Bytes header;
    Put32(header, width, true);
    Put32(header, height, true);
    header.insert(header.end(), {8, 0, 0, 0, 0});  // 8-bit grey, deflate, no filter, no interlace
    chunk("IHDR", header);
    chunk("IDAT", data);
    chunk("IEND", {});
    return png;
}

// An 8-bit run-length BMP of a grey frame (grey palette), runs of up to 255 pixels.
inline Bytes RunLengthBmp(const cv::Mat& grey)
{
    Bytes runs;
    for (int y = grey.rows - 1; y >= 0; --y) {  // bottom-up
        const uchar* p = grey.ptr(y);
        for (int x = 0, n = 1; x < grey.cols; x += n, n = 1) {
            while (x + n < grey.cols && n < 255 && p[x + n] == p[x]) ++n;
            runs.insert(runs.end(), {static_cast<unsigned char>(n), p[x]});
        }
        runs.insert(runs.end(), {0, 0});  // end of row
    }
    runs.insert(runs.end(), {0, 1});  // end of bitmap
    const std::uint32_t offset = 14 + 40 + 1024;
    Bytes bmp = {'B', 'M'};
    for (std::uint32_t v :
         {offset + std::uint32_t(runs.size()), 0u, offset, 40u, std::uint32_t(grey.cols), std::uint32_t(grey.rows),
          1u | (8u << 16), 1u, std::uint32_t(runs.size()), 0u, 0u, 256u, 0u})
        Put32(bmp, v, false);
    for (int i = 0; i < 256; ++i) Put32(bmp, static_cast<std::uint32_t>(i * 0x010101), false);
    bmp.insert(bmp.end(), runs.begin(), runs.end());
    return bmp;
}

// What a download cut short into a preallocated file leaves: the second half zeros.
inline Bytes ZeroSecondHalf(Bytes b)
{
    std::fill(b.begin() + static_cast<std::ptrdiff_t>(b.size() / 2), b.end(), 0);
    return b;
}

// 16 bytes inverted in the middle of the data.
inline Bytes FlipBits(Bytes b)
{
    for (std::size_t k = 0; k < 16; ++k) b[b.size() / 2 + k] ^= 0xFF;
    return b;
}

inline bool Write(const std::string& path, const Bytes& b)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    return static_cast<bool>(
        file.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size())));
}

}  // namespace hostile
