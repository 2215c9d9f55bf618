#include "stream_test_support.h"

#include "stream/frame_reader.h"
#include "tests/hostile_files.h"

#include <algorithm>
#include <future>
#include <iterator>
#include <tuple>

namespace {

using hostile::Bytes;

Bytes Encoded(const char* suffix, const cv::Mat& image, const std::vector<int>& params = {})
{
    Bytes bytes;
    cv::imencode(suffix, image, bytes, params);
    return bytes;
}

// The JPEG with an APPn segment (marker, length, body) right after its start marker.
Bytes WithSegment(const Bytes& jpeg, unsigned char marker, const Bytes& body)
{
    // One buffer of the final size, filled in order: GCC 12 at -O3 takes inserts into a
    // vector of six bytes for a copy past its end (-Warray-bounds) and fails the Release
    // build.
    const size_t length = body.size() + 2;
    Bytes out(4 + length + jpeg.size() - 2);
    const unsigned char head[] = {0xFF, 0xD8, 0xFF, marker, uchar(length >> 8), uchar(length)};
    auto end = std::copy(std::begin(head), std::end(head), out.begin());
    end = std::copy(body.begin(), body.end(), end);
    std::copy(jpeg.begin() + 2, jpeg.end(), end);
    return out;
}

// The same pixels (both empty counts as the same).
bool Same(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0.0);
}

struct ReaderFixture : ::testing::Test {
    Sequence seq{{}};
    cv::Mat grey = Frame({{60, 50, 9}, {200, 120, 14}, {290, 30, 5}});
    std::string Path(size_t k = 0) const { return seq.folder + "/" + std::to_string(k); }
    FrameRead Read(const Bytes& bytes, const FrameReadLimits& limits = {})
    {
        EXPECT_TRUE(hostile::Write(Path(), bytes));
        return ReadGreyFrame(Path(), limits);
    }
};

}  // namespace

// What the reader accepts it reads as OpenCV's grey reading does (colour to grey, 16-bit
// to 8-bit, EXIF orientation), whatever the file's name; a thumbnail in an APP1 segment
// (its own frame header and end marker) and restart markers do not disturb it.
TEST_F(ReaderFixture, AcceptedFramesReadAsOpenCvReadsThemGrey)
{
    cv::Mat colour, deep;
    cv::merge(std::vector<cv::Mat>{grey, 255 - grey, grey / 2}, colour);
    grey.convertTo(deep, CV_16U, 300.0);
    std::vector<Bytes> files = {Encoded(".png", deep),
                                Encoded(".tif", deep),
                                hostile::RunLengthBmp(grey),
                                Encoded(".jpg", colour, {cv::IMWRITE_JPEG_PROGRESSIVE, 1}),
                                Encoded(".jpg", grey, {cv::IMWRITE_JPEG_RST_INTERVAL, 4}),
                                WithSegment(Encoded(".jpg", grey), 0xE1, Encoded(".jpg", Blank(16, 12)))};
    for (const char* suffix : {".png", ".tif", ".bmp", ".jpg"})
        for (const cv::Mat& image : {grey, colour}) files.push_back(Encoded(suffix, image));
    for (uchar orientation = 1; orientation <= 8; ++orientation)  // Exif, TIFF header, one SHORT entry
        files.push_back(WithSegment(Encoded(".jpg", grey), 0xE1,
                                    {'E',  'x',  'i', 'f', 0, 0, 'I', 'I', 42,          0, 8, 0, 0, 0, 1, 0,
                                     0x12, 0x01, 3,   0,   1, 0, 0,   0,   orientation, 0, 0, 0, 0, 0, 0, 0}));
    for (const Bytes& file : files) {
        const FrameRead read = Read(file);
        EXPECT_EQ(read.status, FrameReadStatus::Read) << &file - files.data();
        EXPECT_TRUE(Same(read.grey, cv::imread(Path(), cv::IMREAD_GRAYSCALE))) << &file - files.data();
    }
}

// Damage OpenCV's own decoders catch is refused too (the counter's table has a row for
// every other kind), and sizes are checked before the data: a broken file of another size
// is named by its size.
TEST_F(ReaderFixture, DamagedFilesAreRefusedWithTheirReason)
{
    const Bytes png = Encoded(".png", grey);
    FrameReadLimits other;
    other.expectedSize = cv::Size(640, 480);
    const FrameReadLimits any;
    const std::tuple<const char*, Bytes, FrameReadLimits, FrameReadStatus> cases[] = {
        {"zeros", hostile::ZeroSecondHalf(png), any, FrameReadStatus::Corrupt},
        {"flipped bits", hostile::FlipBits(png), any, FrameReadStatus::Corrupt},
        {"zeros, other size", hostile::ZeroSecondHalf(png), other, FrameReadStatus::OtherSize}};
    for (const auto& [what, bytes, limits, status] : cases) EXPECT_EQ(Read(bytes, limits).status, status) << what;
}

// The reader keeps no state between calls: frames read on four threads at once are
// those read one after the other.
TEST_F(ReaderFixture, ReadsOnSeveralThreadsAtOnce)
{
    const Bytes files[] = {Encoded(".png", grey), Encoded(".jpg", grey), hostile::FlipBits(Encoded(".jpg", grey)),
                           Encoded(".tif", grey)};
    std::vector<FrameRead> alone;
    for (size_t k = 0; k < 4; ++k) {
        ASSERT_TRUE(hostile::Write(Path(k), files[k]));
        alone.push_back(ReadGreyFrame(Path(k)));
    }
    std::vector<std::future<std::vector<FrameRead>>> threads;
    for (size_t t = 0; t < 4; ++t)
        threads.push_back(std::async(std::launch::async, [&, t] {
            std::vector<FrameRead> reads;
            for (size_t n = 0; n < 20; ++n) reads.push_back(ReadGreyFrame(Path((n + t) % 4)));
            return reads;
        }));
    for (size_t t = 0; t < 4; ++t) {
        const std::vector<FrameRead> reads = threads[t].get();
        for (size_t n = 0; n < 20; ++n) {
            EXPECT_EQ(reads[n].status, alone[(n + t) % 4].status);
            EXPECT_TRUE(Same(reads[n].grey, alone[(n + t) % 4].grey));
        }
    }
}
