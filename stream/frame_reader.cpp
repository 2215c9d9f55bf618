#include "stream/frame_reader.h"

#include "stream/frame_header.h"
#include "stream/jpeg_decoder.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <new>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : fd_(fd)
    {
    }
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

FrameReadStatus OpenFailure(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP ? FrameReadStatus::Missing : FrameReadStatus::NoAccess;
}

// Up to bytes.size() bytes; the count read (less when the file shrank), -1 on an error.
long long ReadUpTo(int fd, std::vector<unsigned char>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(done);
}

FrameReadStatus FromHeader(HeaderStatus status)
{
    switch (status) {
    case HeaderStatus::Complete:
        return FrameReadStatus::Read;
    case HeaderStatus::NotAnImage:
        return FrameReadStatus::NotAnImage;
    case HeaderStatus::NotAccepted:
        return FrameReadStatus::NotAccepted;
    case HeaderStatus::CutShort:
        return FrameReadStatus::CutShort;
    case HeaderStatus::Corrupt:
        break;
    }
    return FrameReadStatus::Corrupt;
}

FrameReadStatus FromJpeg(JpegOutcome outcome)
{
    switch (outcome) {
    case JpegOutcome::Decoded:
        return FrameReadStatus::Read;
    case JpegOutcome::CutShort:
        return FrameReadStatus::CutShort;
    case JpegOutcome::NotAccepted:
        return FrameReadStatus::NotAccepted;
    case JpegOutcome::OutOfMemory:
        return FrameReadStatus::OutOfMemory;
    case JpegOutcome::Corrupt:
        break;
    }
    return FrameReadStatus::Corrupt;
}

// The EXIF orientation turned as OpenCV's image reading turns it.
cv::Mat Oriented(const cv::Mat& grey, int orientation)
{
    cv::Mat out;
    switch (orientation) {
    case 2:
        cv::flip(grey, out, 1);
        break;
    case 3:
        cv::flip(grey, out, -1);
        break;
    case 4:
        cv::flip(grey, out, 0);
        break;
    case 5:
        cv::transpose(grey, out);
        break;
    case 6:
        cv::transpose(grey, out);
        cv::flip(out, out, 1);
        break;
    case 7:
        cv::transpose(grey, out);
        cv::flip(out, out, -1);
        break;
    case 8:
        cv::transpose(grey, out);
        cv::flip(out, out, 0);
        break;
    default:
        return grey;
    }
    return out;
}

bool FitsExpected(cv::Size size, cv::Size expected, bool turnable)
{
    return expected.empty() || size == expected || (turnable && size == cv::Size(expected.height, expected.width));
}

int ReducedGreyFlag(int reduction)
{
    switch (reduction) {
    case 2:
        return cv::IMREAD_REDUCED_GRAYSCALE_2;
    case 4:
        return cv::IMREAD_REDUCED_GRAYSCALE_4;
    case 8:
        return cv::IMREAD_REDUCED_GRAYSCALE_8;
    default:
        return cv::IMREAD_GRAYSCALE;
    }
}

// Header, data and decode of bytes read whole.
void Decode(const std::vector<unsigned char>& bytes, const FrameReadLimits& limits, FrameRead& read)
{
    const FrameHeader header = ReadFrameHeader(bytes.data(), bytes.size());
    read.status = FromHeader(header.status);
    read.size = header.size;
    read.morePages = header.morePages;
    if (read.status != FrameReadStatus::Read)
        return;
    // An orientation tag may turn the picture a quarter; the decoded size decides then.
    if (!FitsExpected(header.size, limits.expectedSize, true)) {
        read.status = FrameReadStatus::OtherSize;
        return;
    }
    if (static_cast<long long>(header.size.width) * header.size.height > limits.pixelLimit) {
        read.status = FrameReadStatus::AboveLimit;
        return;
    }
    switch (CheckFrameData(header, bytes.data(), bytes.size())) {
    case DataStatus::CutShort:
        read.status = FrameReadStatus::CutShort;
        return;
    case DataStatus::Corrupt:
        read.status = FrameReadStatus::Corrupt;
        return;
    case DataStatus::Complete:
        break;
    }
    cv::Mat samples;
    try {
        if (header.format == FrameFormat::Jpeg) {
            read.status = FromJpeg(DecodeJpegGrey(bytes.data(), bytes.size(), samples, limits.reduction));
            if (read.status == FrameReadStatus::Read)
                samples = Oriented(samples, header.orientation);
        } else {
            const cv::Mat encoded(1, static_cast<int>(bytes.size()), CV_8UC1, const_cast<unsigned char*>(bytes.data()));
            // 16-bit samples stay 16-bit: the depth stage scales them.
            samples = cv::imdecode(encoded, ReducedGreyFlag(limits.reduction) | cv::IMREAD_ANYDEPTH);
            if (samples.empty())
                read.status = FrameReadStatus::Corrupt;
        }
    } catch (const cv::Exception& e) {
        read.status = e.code == cv::Error::StsNoMem ? FrameReadStatus::OutOfMemory : FrameReadStatus::Corrupt;
    } catch (const std::bad_alloc&) {
        read.status = FrameReadStatus::OutOfMemory;
    }
    if (read.status != FrameReadStatus::Read)
        return;
    FinishFrameRead(samples, header.significantBits, limits, read);
}

std::string SizeText(cv::Size size)
{
    return std::to_string(size.width) + " x " + std::to_string(size.height);
}

}  // namespace

void FinishFrameRead(const cv::Mat& samples, int headerBits, const FrameReadLimits& limits, FrameRead& read)
{
    read.grey.release();
    read.size = samples.size();
    if (samples.type() != CV_8UC1 && samples.type() != CV_16UC1) {
        read.status = FrameReadStatus::NotAccepted;
        return;
    }
    // A picture decoded reduced was checked at its full size, from the header.
    const bool reduced = ReducedGreyFlag(limits.reduction) != cv::IMREAD_GRAYSCALE;
    if (!reduced && !FitsExpected(samples.size(), limits.expectedSize, false)) {
        read.status = FrameReadStatus::OtherSize;
        return;
    }
    try {
        ScaledFrame scaled = ScaleFrame(samples, headerBits, limits.depth);
        read.depth = scaled.depth;
        read.faint = scaled.faint;
        if (scaled.otherDepth) {
            read.depth.bits = samples.depth() == CV_8U ? 8 : 16;
            read.status = FrameReadStatus::OtherDepth;
            return;
        }
        read.status = FrameReadStatus::Read;
        read.grey = std::move(scaled.grey);
    } catch (const cv::Exception& e) {
        read.status = e.code == cv::Error::StsNoMem ? FrameReadStatus::OutOfMemory : FrameReadStatus::Corrupt;
    } catch (const std::bad_alloc&) {
        read.status = FrameReadStatus::OutOfMemory;
    }
}

cv::Mat ReducedAsAsked(const cv::Mat& samples, const FrameReadLimits& limits)
{
    if (ReducedGreyFlag(limits.reduction) == cv::IMREAD_GRAYSCALE || samples.empty())
        return samples;
    const int reduction = limits.reduction;
    cv::Mat reduced;
    cv::resize(samples, reduced, cv::Size(std::max(samples.cols / reduction, 1), std::max(samples.rows / reduction, 1)),
               0, 0, cv::INTER_AREA);
    return reduced;
}

long long FrameFileByteLimit(long long pixelLimit)
{
    // cv::imdecode takes at most INT_MAX bytes.
    constexpr long long kMetadata = 16LL << 20;
    const long long pixels = std::clamp(pixelLimit, 0LL, (INT_MAX - kMetadata) / 8);
    return 8 * pixels + kMetadata;
}

FrameRead ReadGreyFrame(const std::string& path, const FrameReadLimits& limits)
{
    FrameRead read;
    struct stat info {};
    // Neither a pipe nor a device is ever opened: opening or reading one may block.
    if (::stat(path.c_str(), &info) != 0) {
        read.status = OpenFailure(errno);
        return read;
    }
    if (!S_ISREG(info.st_mode)) {
        read.status = FrameReadStatus::NotRegularFile;
        return read;
    }
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) {
        read.status = OpenFailure(errno);
        return read;
    }
    // The entry may have been replaced since it was looked at.
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        read.status = FrameReadStatus::NotRegularFile;
        return read;
    }
    read.fileBytes = static_cast<long long>(info.st_size);
    if (read.fileBytes > FrameFileByteLimit(limits.pixelLimit)) {
        read.status = FrameReadStatus::FileTooLarge;
        return read;
    }
    std::vector<unsigned char> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(read.fileBytes));
    } catch (const std::bad_alloc&) {
        read.status = FrameReadStatus::OutOfMemory;
        return read;
    }
    const long long count = ReadUpTo(file.get(), bytes);
    if (count < 0) {
        read.status = FrameReadStatus::NoAccess;
        return read;
    }
    bytes.resize(static_cast<std::size_t>(count));
    if (bytes.empty()) {
        read.status = FrameReadStatus::Empty;
        return read;
    }
    Decode(bytes, limits, read);
    return read;
}

std::string FrameReadReason(const FrameRead& read, const FrameReadLimits& limits)
{
    switch (read.status) {
    case FrameReadStatus::Read:
        return std::string();
    case FrameReadStatus::Missing:
        return "missing";
    case FrameReadStatus::NoAccess:
        return "can not open";
    case FrameReadStatus::NotRegularFile:
        return "not a regular file";
    case FrameReadStatus::Empty:
        return "empty file";
    case FrameReadStatus::NotAnImage:
        return "not a PNG, JPEG, TIFF or BMP image";
    case FrameReadStatus::NotAccepted:
        return "pixel format not accepted";
    case FrameReadStatus::CutShort:
        return "cut short";
    case FrameReadStatus::Corrupt:
        return "corrupt image data";
    case FrameReadStatus::OtherSize:
        return SizeText(read.size) + ", frame 0 is " + SizeText(limits.expectedSize);
    case FrameReadStatus::AboveLimit:
        return SizeText(read.size) + ", above the limit of " + std::to_string(limits.pixelLimit) + " pixels";
    case FrameReadStatus::FileTooLarge:
        return std::to_string(read.fileBytes) + " bytes, more than a frame within the pixel limit needs";
    case FrameReadStatus::OutOfMemory:
        return "out of memory";
    case FrameReadStatus::OtherDepth:
        return std::to_string(read.depth.bits) + "-bit samples, frame 0 is " +
               std::to_string(limits.depth.bits == 8 ? 8 : 16) + "-bit";
    case FrameReadStatus::PastEnd:
        return "the recording ends before it";
    }
    return std::string();
}
