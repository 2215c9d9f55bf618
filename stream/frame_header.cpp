#include "stream/frame_header.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// Bounds-checked reads over the file's bytes; `big` selects big-endian order.
class Bytes {
public:
    Bytes(const unsigned char* data, std::size_t count)
        : data_(data)
        , count_(count)
    {
    }
    bool Has(std::size_t at, std::size_t n) const { return at <= count_ && n <= count_ - at; }
    bool Equals(std::size_t at, const char* text, std::size_t n) const
    {
        return Has(at, n) && std::memcmp(data_ + at, text, n) == 0;
    }
    unsigned U8(std::size_t at) const { return data_[at]; }
    std::uint32_t U16(std::size_t at, bool big) const
    {
        return big ? (std::uint32_t(data_[at]) << 8) | data_[at + 1] : (std::uint32_t(data_[at + 1]) << 8) | data_[at];
    }
    std::uint32_t U32(std::size_t at, bool big) const
    {
        return big ? (U16(at, true) << 16) | U16(at + 2, true) : (U16(at + 2, false) << 16) | U16(at, false);
    }

private:
    const unsigned char* data_;
    std::size_t count_;
};

FrameHeader Header(FrameFormat format, HeaderStatus status)
{
    FrameHeader header;
    header.format = format;
    header.status = status;
    return header;
}

FrameHeader Sized(FrameFormat format, std::uint32_t width, std::uint32_t height)
{
    constexpr std::uint32_t kMaxSide = 0x7FFFFFFF;
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide)
        return Header(format, HeaderStatus::Corrupt);
    FrameHeader header = Header(format, HeaderStatus::Complete);
    header.size = cv::Size(int(width), int(height));
    return header;
}

// ---- PNG: the signature, then IHDR with width and height; chunks up to IEND.

// The sBIT chunk before the image data: the significant bits of each channel, alpha
// last (grey: 1 byte, grey and alpha: 2, RGB and palette: 3, RGBA: 4).
int PngSignificantBits(const Bytes& b)
{
    if (!b.Has(0, 26))
        return 0;
    const unsigned colourType = b.U8(25);
    const std::size_t colours = colourType == 0 || colourType == 4 ? 1 : 3;
    for (std::size_t at = 8; b.Has(at, 8);) {
        const std::size_t length = b.U32(at, true);
        if (b.Equals(at + 4, "IDAT", 4) || length > 0x7FFFFFFF || !b.Has(at + 8, length))
            return 0;
        if (b.Equals(at + 4, "sBIT", 4) && length >= colours) {
            unsigned bits = 0;
            for (std::size_t k = 0; k < colours; ++k)
                bits = std::max(bits, b.U8(at + 8 + k));
            return int(bits);
        }
        at += 12 + length;
    }
    return 0;
}

FrameHeader PngHeader(const Bytes& b)
{
    if (!b.Has(0, 24))
        return Header(FrameFormat::Png, HeaderStatus::CutShort);
    if (b.U32(8, true) != 13 || !b.Equals(12, "IHDR", 4))
        return Header(FrameFormat::Png, HeaderStatus::Corrupt);
    FrameHeader header = Sized(FrameFormat::Png, b.U32(16, true), b.U32(20, true));
    header.significantBits = PngSignificantBits(b);
    return header;
}

bool IsChunkType(const Bytes& b, std::size_t at)
{
    for (std::size_t k = 0; k < 4; ++k) {
        const unsigned c = b.U8(at + k);
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    }
    return true;
}

DataStatus PngChunks(const Bytes& b)
{
    for (std::size_t at = 8;;) {
        if (!b.Has(at, 8))
            return DataStatus::CutShort;
        const std::size_t length = b.U32(at, true);
        // Zeros where chunks should be: a file preallocated and never filled.
        if (length > 0x7FFFFFFF || !IsChunkType(b, at + 4))
            return DataStatus::Corrupt;
        if (!b.Has(at + 8, length + 4))
            return DataStatus::CutShort;
        if (b.Equals(at + 4, "IEND", 4))
            return DataStatus::Complete;
        at += 12 + length;
    }
}

// ---- JPEG: segments up to the frame header; the EXIF orientation on the way.

int ExifOrientation(const Bytes& b, std::size_t at, std::size_t length)
{
    // "Exif\0\0", then a TIFF structure whose first directory may hold tag 0x0112.
    const std::size_t tiff = at + 6;
    const std::size_t end = at + length;
    if (length < 6 + 8 || !b.Equals(at, "Exif\0\0", 6))
        return 1;
    const bool big = b.Equals(tiff, "MM", 2);
    if (!big && !b.Equals(tiff, "II", 2))
        return 1;
    const std::size_t directory = tiff + b.U32(tiff + 4, big);
    if (directory < tiff || directory + 2 > end)
        return 1;
    const std::size_t entries = b.U16(directory, big);
    for (std::size_t k = 0; k < entries && directory + 2 + 12 * (k + 1) <= end; ++k) {
        const std::size_t entry = directory + 2 + 12 * k;
        if (b.U16(entry, big) == 0x0112 && b.U16(entry + 2, big) == 3) {
            const std::uint32_t value = b.U16(entry + 8, big);
            return value >= 1 && value <= 8 ? int(value) : 1;
        }
    }
    return 1;
}

bool IsStartOfFrame(unsigned marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

FrameHeader JpegHeader(const Bytes& b)
{
    int orientation = 0;  // 0: no EXIF segment seen yet
    for (std::size_t at = 2;;) {
        if (!b.Has(at, 1))
            return Header(FrameFormat::Jpeg, HeaderStatus::CutShort);
        if (b.U8(at) != 0xFF)
            return Header(FrameFormat::Jpeg, HeaderStatus::Corrupt);
        while (b.Has(at, 1) && b.U8(at) == 0xFF)
            ++at;  // fill bytes
        if (!b.Has(at, 1))
            return Header(FrameFormat::Jpeg, HeaderStatus::CutShort);
        const unsigned marker = b.U8(at++);
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;  // stand-alone markers
        // A scan, a second start or the end before any frame header.
        if (marker == 0x00 || marker == 0xD8 || marker == 0xD9 || marker == 0xDA)
            return Header(FrameFormat::Jpeg, HeaderStatus::Corrupt);
        if (!b.Has(at, 2))
            return Header(FrameFormat::Jpeg, HeaderStatus::CutShort);
        const std::size_t length = b.U16(at, true);
        if (length < 2)
            return Header(FrameFormat::Jpeg, HeaderStatus::Corrupt);
        if (!b.Has(at, length))
            return Header(FrameFormat::Jpeg, HeaderStatus::CutShort);
        if (marker == 0xE1 && orientation == 0 && b.Equals(at + 2, "Exif\0\0", 6))
            orientation = ExifOrientation(b, at + 2, length - 2);
        if (IsStartOfFrame(marker)) {
            if (length < 8)
                return Header(FrameFormat::Jpeg, HeaderStatus::Corrupt);
            const unsigned precision = b.U8(at + 2);
            const unsigned components = b.U8(at + 7);
            const bool lossless = marker == 0xC3 || marker == 0xC7 || marker == 0xCB || marker == 0xCF;
            // Height 0 defers the height to a later marker; 4 components are CMYK.
            if (precision != 8 || lossless || b.U16(at + 3, true) == 0 || (components != 1 && components != 3))
                return Header(FrameFormat::Jpeg, HeaderStatus::NotAccepted);
            FrameHeader header = Sized(FrameFormat::Jpeg, b.U16(at + 5, true), b.U16(at + 3, true));
            header.orientation = orientation == 0 ? 1 : orientation;
            return header;
        }
        at += length;
    }
}

// ---- TIFF: the first directory's size and sample layout.

// The bits a largest sample needs (4095: 12); 0 for 0.
int BitsFor(std::uint32_t largest)
{
    int bits = 0;
    for (; largest > 0; largest >>= 1)
        ++bits;
    return bits;
}

// First value of a SHORT or LONG field; false for other types or values outside the file.
bool TiffValue(const Bytes& b, std::size_t entry, bool big, std::uint32_t& value)
{
    const std::uint32_t type = b.U16(entry + 2, big);
    const std::uint32_t count = b.U32(entry + 4, big);
    const std::size_t width = type == 3 ? 2 : type == 4 ? 4 : 0;
    if (width == 0 || count == 0)
        return false;
    std::size_t at = entry + 8;
    if (std::uint64_t(count) * width > 4) {
        at = b.U32(entry + 8, big);
        if (!b.Has(at, width))
            return false;
    }
    value = width == 2 ? b.U16(at, big) : b.U32(at, big);
    return true;
}

FrameHeader TiffHeader(const Bytes& b)
{
    const bool big = b.U8(0) == 'M';
    if (!b.Has(0, 8))
        return Header(FrameFormat::Tiff, HeaderStatus::CutShort);
    if (b.U16(2, big) == 43)  // BigTIFF: files beyond 4 GB, never a frame
        return Header(FrameFormat::Tiff, HeaderStatus::NotAccepted);
    const std::size_t directory = b.U32(4, big);
    if (directory < 8)
        return Header(FrameFormat::Tiff, HeaderStatus::Corrupt);
    if (!b.Has(directory, 2) || !b.Has(directory + 2, 12 * std::size_t(b.U16(directory, big))))
        return Header(FrameFormat::Tiff, HeaderStatus::CutShort);
    std::uint32_t width = 0, height = 0, bits = 1, samples = 1, sampleFormat = 1, maxSampleValue = 0;
    const std::size_t entries = b.U16(directory, big);
    for (std::size_t k = 0; k < entries; ++k) {
        const std::size_t entry = directory + 2 + 12 * k;
        std::uint32_t* field = nullptr;
        switch (b.U16(entry, big)) {
        case 256:
            field = &width;
            break;
        case 257:
            field = &height;
            break;
        case 258:
            field = &bits;
            break;
        case 277:
            field = &samples;
            break;
        case 339:
            field = &sampleFormat;
            break;
        case 281:
            field = &maxSampleValue;
            break;
        default:
            continue;
        }
        if (!TiffValue(b, entry, big, *field))
            return Header(FrameFormat::Tiff, HeaderStatus::Corrupt);
    }
    // Unsigned integer samples of up to 16 bits, grey or colour with or without alpha.
    const bool accepted = (bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16) && sampleFormat == 1 &&
                          samples >= 1 && samples <= 4;
    if (!accepted)
        return Header(FrameFormat::Tiff, HeaderStatus::NotAccepted);
    FrameHeader header = Sized(FrameFormat::Tiff, width, height);
    header.significantBits = BitsFor(maxSampleValue);
    // The directory's entries are followed by the offset of the next one, 0 for none.
    const std::size_t next = directory + 2 + 12 * entries;
    header.morePages = b.Has(next, 4) && b.U32(next, big) != 0;
    return header;
}

// ---- BMP: the file header and the bitmap information header.

struct BmpLayout {
    std::uint32_t width = 0, height = 0, bits = 0, compression = 0;
    std::size_t dataOffset = 0;
    bool topDown = false;
};

constexpr std::uint32_t kBmpRgb = 0, kBmpRle8 = 1, kBmpRle4 = 2, kBmpBitFields = 3;

HeaderStatus ReadBmpLayout(const Bytes& b, BmpLayout& layout)
{
    if (!b.Has(0, 18))
        return HeaderStatus::CutShort;
    layout.dataOffset = b.U32(10, false);
    const std::uint32_t infoSize = b.U32(14, false);
    std::int32_t height = 0;
    if (infoSize == 12) {  // the old core header: 16-bit sizes, no compression
        if (!b.Has(0, 26))
            return HeaderStatus::CutShort;
        layout.width = b.U16(18, false);
        height = std::int32_t(b.U16(20, false));
        layout.bits = b.U16(24, false);
    } else if (infoSize >= 40) {
        if (!b.Has(0, 14 + 40))
            return HeaderStatus::CutShort;
        const std::int32_t width = std::int32_t(b.U32(18, false));
        height = std::int32_t(b.U32(22, false));
        if (width <= 0 || height == INT32_MIN)
            return HeaderStatus::Corrupt;
        layout.width = std::uint32_t(width);
        layout.bits = b.U16(28, false);
        layout.compression = b.U32(30, false);
    } else {
        return HeaderStatus::Corrupt;
    }
    layout.topDown = height < 0;
    layout.height = std::uint32_t(height < 0 ? -height : height);
    const std::uint32_t c = layout.compression;
    const bool bitsKnown = layout.bits == 1 || layout.bits == 4 || layout.bits == 8 || layout.bits == 16 ||
                           layout.bits == 24 || layout.bits == 32;
    // Run-length data is always stored bottom-up; embedded JPEG or PNG is not read.
    const bool accepted = bitsKnown && (c == kBmpRgb || (c == kBmpRle8 && layout.bits == 8 && !layout.topDown) ||
                                        (c == kBmpRle4 && layout.bits == 4 && !layout.topDown) ||
                                        (c == kBmpBitFields && (layout.bits == 16 || layout.bits == 32)));
    return accepted ? HeaderStatus::Complete : HeaderStatus::NotAccepted;
}

FrameHeader BmpHeader(const Bytes& b)
{
    BmpLayout layout;
    const HeaderStatus status = ReadBmpLayout(b, layout);
    if (status != HeaderStatus::Complete)
        return Header(FrameFormat::Bmp, status);
    return Sized(FrameFormat::Bmp, layout.width, layout.height);
}

// Walks the run-length stream as a decoder would: every run must stay within its row,
// the rows within the bitmap, and the stream must reach its end-of-bitmap escape.
DataStatus BmpRunLengths(const Bytes& b, const BmpLayout& layout)
{
    const std::uint64_t width = layout.width, height = layout.height;
    const bool fourBit = layout.compression == kBmpRle4;
    std::uint64_t x = 0, y = 0;  // y counts rows from the bottom
    for (std::size_t at = layout.dataOffset;;) {
        if (!b.Has(at, 2))
            return DataStatus::CutShort;
        const unsigned count = b.U8(at), code = b.U8(at + 1);
        at += 2;
        if (count > 0) {  // a run of `count` pixels
            if (y >= height || x + count > width)
                return DataStatus::Corrupt;
            x += count;
            continue;
        }
        switch (code) {
        case 0:  // end of row
            if (y >= height)
                return DataStatus::Corrupt;
            x = 0;
            ++y;
            break;
        case 1:  // end of bitmap
            return DataStatus::Complete;
        case 2:  // skip right and up
            if (!b.Has(at, 2))
                return DataStatus::CutShort;
            x += b.U8(at);
            y += b.U8(at + 1);
            at += 2;
            if (x > width || y > height)
                return DataStatus::Corrupt;
            break;
        default: {  // `code` literal pixels, padded to a whole number of 16-bit words
            if (y >= height || x + code > width)
                return DataStatus::Corrupt;
            const std::size_t bytes = fourBit ? (code + 1) / 2 : code;
            if (!b.Has(at, bytes + (bytes & 1)))
                return DataStatus::CutShort;
            at += bytes + (bytes & 1);
            x += code;
        }
        }
    }
}

DataStatus BmpData(const Bytes& b)
{
    BmpLayout layout;
    if (ReadBmpLayout(b, layout) != HeaderStatus::Complete)
        return DataStatus::Corrupt;
    if (!b.Has(layout.dataOffset, 0))
        return DataStatus::CutShort;
    if (layout.compression == kBmpRle8 || layout.compression == kBmpRle4)
        return BmpRunLengths(b, layout);
    const std::uint64_t rowBytes = (std::uint64_t(layout.width) * layout.bits + 31) / 32 * 4;
    const std::uint64_t dataBytes = rowBytes * layout.height;
    return dataBytes <= SIZE_MAX && b.Has(layout.dataOffset, std::size_t(dataBytes)) ? DataStatus::Complete
                                                                                     : DataStatus::CutShort;
}

// Files shorter than a signature but equal to its start were cut short.
bool StartsLike(const unsigned char* bytes, std::size_t count, const char* magic, std::size_t n)
{
    return std::memcmp(bytes, magic, count < n ? count : n) == 0;
}

}  // namespace

FrameHeader ReadFrameHeader(const unsigned char* bytes, std::size_t count)
{
    const Bytes b(bytes, count);
    struct Signature {
        const char* magic;
        std::size_t length;
        FrameFormat format;
        FrameHeader (*read)(const Bytes&);
    };
    static constexpr Signature kSignatures[] = {
        {"\x89PNG\r\n\x1a\n", 8, FrameFormat::Png, PngHeader},
        {"\xFF\xD8\xFF", 3, FrameFormat::Jpeg, JpegHeader},
        {"II*\0", 4, FrameFormat::Tiff, TiffHeader},
        {"MM\0*", 4, FrameFormat::Tiff, TiffHeader},
        {"II+\0", 4, FrameFormat::Tiff, TiffHeader},
        {"MM\0+", 4, FrameFormat::Tiff, TiffHeader},
        {"BM", 2, FrameFormat::Bmp, BmpHeader},
    };
    if (count == 0)
        return FrameHeader();
    for (const Signature& s : kSignatures) {
        if (!StartsLike(bytes, count, s.magic, s.length))
            continue;
        return count < s.length ? Header(s.format, HeaderStatus::CutShort) : s.read(b);
    }
    return FrameHeader();
}

DataStatus CheckFrameData(const FrameHeader& header, const unsigned char* bytes, std::size_t count)
{
    const Bytes b(bytes, count);
    switch (header.format) {
    case FrameFormat::Png:
        return PngChunks(b);
    case FrameFormat::Bmp:
        return BmpData(b);
    case FrameFormat::Jpeg:
    case FrameFormat::Tiff:
    case FrameFormat::Unknown:
        break;
    }
    return DataStatus::Complete;
}
