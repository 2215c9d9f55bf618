#include "stream/tiff_stack.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// libtiff's old integer names clash with OpenCV's.
#define TIFF_DISABLE_DEPRECATED
#include <tiffio.h>

namespace {

// No single allocation libtiff makes for a page may exceed this: a corrupt directory
// that claims giant strips is refused instead of exhausting memory.
constexpr tmsize_t kLargestAllocation = tmsize_t(2) << 30;

int NoteError(TIFF*, void* failed, const char*, const char*, va_list)
{
    *static_cast<bool*>(failed) = true;
    return 1;  // handled: nothing is printed
}

int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

struct PageLayout {
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 1, samples = 1, format = SAMPLEFORMAT_UINT, photometric = PHOTOMETRIC_MINISBLACK,
                  planar = PLANARCONFIG_CONTIG, maxSample = 0;
};

PageLayout ReadLayout(TIFF* tif)
{
    PageLayout page;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &page.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &page.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &page.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &page.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &page.format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &page.planar);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &page.photometric);
    TIFFGetField(tif, TIFFTAG_MAXSAMPLEVALUE, &page.maxSample);
    return page;
}

// Samples read as they are stored: 8- or 16-bit grey or RGB(A), one plane.
bool ReadDirectly(const PageLayout& page)
{
    const bool colour = page.photometric == PHOTOMETRIC_RGB && page.samples >= 3;
    const bool grey = (page.photometric == PHOTOMETRIC_MINISBLACK || page.photometric == PHOTOMETRIC_MINISWHITE) &&
                      page.samples <= 2;
    return (page.bits == 8 || page.bits == 16) && page.format == SAMPLEFORMAT_UINT &&
           page.planar == PLANARCONFIG_CONTIG && (colour || grey) && page.samples <= 4;
}

// 8-bit data of any other layout (palettes, YCbCr, 1, 2 or 4 bits, separate planes)
// through libtiff's RGBA reading.
bool ReadAsRgba(const PageLayout& page)
{
    return page.bits <= 8 && page.format == SAMPLEFORMAT_UINT && page.photometric != PHOTOMETRIC_SEPARATED;
}

bool ReadStrips(TIFF* tif, cv::Mat& raw)
{
    std::uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    const int stripRows = int(std::clamp<std::uint32_t>(rowsPerStrip, 1, std::uint32_t(raw.rows)));
    const tmsize_t rowBytes = tmsize_t(raw.cols) * tmsize_t(raw.elemSize());
    for (int row = 0, strip = 0; row < raw.rows; row += stripRows, ++strip) {
        const tmsize_t bytes = tmsize_t(std::min(stripRows, raw.rows - row)) * rowBytes;
        if (TIFFReadEncodedStrip(tif, std::uint32_t(strip), raw.ptr(row), bytes) != bytes)
            return false;
    }
    return true;
}

bool ReadTiles(TIFF* tif, cv::Mat& raw)
{
    std::uint32_t tileWidth = 0, tileHeight = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
    const tmsize_t tileBytes = TIFFTileSize(tif);
    if (tileWidth == 0 || tileHeight == 0 || tileBytes <= 0)
        return false;
    std::vector<unsigned char> tile(static_cast<std::size_t>(tileBytes));
    const std::size_t pixelBytes = raw.elemSize();
    for (std::uint32_t y = 0; y < std::uint32_t(raw.rows); y += tileHeight) {
        for (std::uint32_t x = 0; x < std::uint32_t(raw.cols); x += tileWidth) {
            if (TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, 0), tile.data(), tileBytes) < 0)
                return false;
            const std::uint32_t rows = std::min(tileHeight, std::uint32_t(raw.rows) - y);
            const std::size_t bytes = std::min(tileWidth, std::uint32_t(raw.cols) - x) * pixelBytes;
            for (std::uint32_t r = 0; r < rows; ++r)
                std::memcpy(raw.ptr(int(y + r)) + x * pixelBytes, tile.data() + r * tileWidth * pixelBytes, bytes);
        }
    }
    return true;
}

// Y = 0.299 R + 0.587 G + 0.114 B in 14-bit fixed point, rounded: OpenCV's image
// reading converts colour to grey with exactly this (its cvtColor may differ by one).
template <typename Sample>
cv::Mat GreyOfRgb(const cv::Mat& rgb)
{
    constexpr int kShift = 14, kRed = 4899, kGreen = 9617, kBlue = (1 << kShift) - kRed - kGreen;
    cv::Mat grey(rgb.size(), cv::DataType<Sample>::type);
    const int channels = rgb.channels();
    for (int r = 0; r < rgb.rows; ++r) {
        const Sample* in = rgb.ptr<Sample>(r);
        Sample* out = grey.ptr<Sample>(r);
        for (int c = 0; c < rgb.cols; ++c, in += channels)
            out[c] = Sample((in[0] * kRed + in[1] * kGreen + in[2] * kBlue + (1 << (kShift - 1))) >> kShift);
    }
    return grey;
}

// Grey samples of the stored width, colour converted as OpenCV's grey reading does.
cv::Mat Grey(const cv::Mat& raw, const PageLayout& page)
{
    cv::Mat grey;
    if (raw.channels() >= 3)
        grey = raw.depth() == CV_16U ? GreyOfRgb<std::uint16_t>(raw) : GreyOfRgb<std::uint8_t>(raw);
    else if (raw.channels() == 2)  // grey and alpha
        cv::extractChannel(raw, grey, 0);
    else
        grey = raw;
    if (page.photometric == PHOTOMETRIC_MINISWHITE)
        cv::bitwise_not(grey, grey);
    return grey;
}

// Whether the data of the current page reaches past the end of the file.
bool DataBeyondEnd(TIFF* tif, long long fileBytes)
{
    const bool tiled = TIFFIsTiled(tif) != 0;
    const std::uint64_t* offsets = nullptr;
    const std::uint64_t* counts = nullptr;
    if (!TIFFGetField(tif, tiled ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS, &offsets) ||
        !TIFFGetField(tif, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts) || !offsets || !counts)
        return false;
    const std::uint32_t pieces = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    for (std::uint32_t k = 0; k < pieces; ++k) {
        if (offsets[k] + counts[k] > std::uint64_t(fileBytes))
            return true;
    }
    return false;
}

}  // namespace

CTiffStack::CTiffStack(const std::string& path)
{
    struct stat info {};
    // Neither a pipe nor a device is ever opened: opening or reading one may block.
    if (::stat(path.c_str(), &info) != 0) {
        openStatus = errno == ENOENT || errno == ENOTDIR || errno == ELOOP ? FrameReadStatus::Missing
                                                                            : FrameReadStatus::NoAccess;
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        openStatus = FrameReadStatus::NotRegularFile;
        return;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        openStatus = FrameReadStatus::NoAccess;
        return;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        openStatus = FrameReadStatus::NotRegularFile;
        return;
    }
    fileBytes = static_cast<long long>(info.st_size);
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, NoteError, &failed);
    TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreWarning, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kLargestAllocation);
    // "m": read, not mapped: a file cut short while mapped would end the process.
    handle = TIFFFdOpenExt(fd, path.c_str(), "rm", options);
    TIFFOpenOptionsFree(options);
    if (handle == nullptr) {
        ::close(fd);
        openStatus = fileBytes == 0 ? FrameReadStatus::Empty : FrameReadStatus::NotAnImage;
        return;
    }
    openStatus = FrameReadStatus::Read;
}

CTiffStack::~CTiffStack()
{
    if (handle != nullptr)
        TIFFClose(handle);  // closes the file too
}

int TiffPageCount(const std::string& path)
{
    CTiffStack stack(path);
    return stack.PageCount();
}

int CTiffStack::PageCount()
{
    // The chain is walked once, noting where each directory starts: a page is then
    // found at once, where finding it by number walks the chain from the start.
    if (!walked && handle != nullptr) {
        walked = true;
        if (TIFFSetDirectory(handle, 0)) {
            do
                offsets.push_back(TIFFCurrentDirOffset(handle));
            while (offsets.size() < std::size_t(INT32_MAX) && TIFFReadDirectory(handle));
        }
    }
    return int(offsets.size());
}

FrameRead CTiffStack::ReadPage(int index, const FrameReadLimits& limits)
{
    FrameRead read;
    read.fileBytes = fileBytes;
    if (handle == nullptr) {
        read.status = openStatus;
        return read;
    }
    if (index < 0 || index >= PageCount()) {
        read.status = FrameReadStatus::PastEnd;
        return read;
    }
    failed = false;
    if (TIFFCurrentDirOffset(handle) != offsets[std::size_t(index)] &&
        !TIFFSetSubDirectory(handle, offsets[std::size_t(index)])) {
        read.status = FrameReadStatus::Corrupt;
        return read;
    }
    if (failed) {
        read.status = FrameReadStatus::Corrupt;
        return read;
    }
    return Decode(limits);
}

FrameRead CTiffStack::Decode(const FrameReadLimits& limits)
{
    FrameRead read;
    read.fileBytes = fileBytes;
    const PageLayout page = ReadLayout(handle);
    read.size = cv::Size(int(std::min<std::uint32_t>(page.width, INT32_MAX)),
                         int(std::min<std::uint32_t>(page.height, INT32_MAX)));
    if (page.width == 0 || page.height == 0 || page.width > INT32_MAX || page.height > INT32_MAX) {
        read.status = FrameReadStatus::Corrupt;
        return read;
    }
    // Sizes are checked before anything is decoded.
    if (!limits.expectedSize.empty() && read.size != limits.expectedSize) {
        read.status = FrameReadStatus::OtherSize;
        return read;
    }
    if (static_cast<long long>(page.width) * page.height > limits.pixelLimit) {
        read.status = FrameReadStatus::AboveLimit;
        return read;
    }
    cv::Mat samples;
    try {
        if (ReadDirectly(page)) {
            cv::Mat raw(read.size, CV_MAKETYPE(page.bits == 16 ? CV_16U : CV_8U, page.samples));
            const bool complete = TIFFIsTiled(handle) ? ReadTiles(handle, raw) : ReadStrips(handle, raw);
            if (complete && !failed)
                samples = Grey(raw, page);
        } else if (ReadAsRgba(page)) {
            cv::Mat rgba(read.size, CV_8UC4);
            if (TIFFReadRGBAImageOriented(handle, page.width, page.height, rgba.ptr<std::uint32_t>(),
                                          ORIENTATION_TOPLEFT, 0) &&
                !failed)
                samples = GreyOfRgb<std::uint8_t>(rgba);  // libtiff packs R, G, B, A in that byte order
        } else {
            read.status = FrameReadStatus::NotAccepted;
            return read;
        }
    } catch (const cv::Exception& e) {
        read.status = e.code == cv::Error::StsNoMem ? FrameReadStatus::OutOfMemory : FrameReadStatus::Corrupt;
        return read;
    } catch (const std::bad_alloc&) {
        read.status = FrameReadStatus::OutOfMemory;
        return read;
    }
    if (samples.empty()) {
        read.status = DataBeyondEnd(handle, fileBytes) ? FrameReadStatus::CutShort : FrameReadStatus::Corrupt;
        return read;
    }
    int headerBits = 0;
    for (std::uint32_t largest = page.maxSample; largest > 0; largest >>= 1)
        ++headerBits;
    FinishFrameRead(ReducedAsAsked(samples, limits), headerBits, limits, read);
    return read;
}
