#include "stream_test_support.h"

#include "stream/frame_reader.h"
#include "tests/hostile_files.h"

#include <opencv2/imgproc.hpp>

#include <functional>
#include <future>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using hostile::Bytes;

Bytes Encoded(const char* suffix, const cv::Mat& image, const std::vector<int>& params = {})
{
    Bytes bytes;
    cv::imencode(suffix, image, bytes, params);
    return bytes;
}

// A JPEG with an EXIF segment holding only the orientation tag.
Bytes WithOrientation(const Bytes& jpeg, unsigned char orientation)
{
    const Bytes exif = {0xFF, 0xE1, 0,    34,   'E', 'x', 'i', 'f', 0, 0, 'I',         'I', 42, 0, 8, 0, 0, 0,
                        1,    0,    0x12, 0x01, 3,   0,   1,   0,   0, 0, orientation, 0,   0,  0, 0, 0, 0, 0};
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), exif.begin(), exif.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
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
    std::string Path(const std::string& name) const { return seq.folder + "/" + name; }
    FrameRead Read(const Bytes& bytes, const FrameReadLimits& limits = {})
    {
        EXPECT_TRUE(hostile::Write(Path("f"), bytes));
        return ReadGreyFrame(Path("f"), limits);
    }
};

}  // namespace

// What the reader accepts it reads as OpenCV's grey reading does (colour to grey, 16-bit
// to 8-bit, EXIF orientation), whatever the file's name.
TEST_F(ReaderFixture, AcceptedFramesReadAsOpenCvReadsThemGrey)
{
    cv::Mat colour, deep;
    cv::merge(std::vector<cv::Mat>{grey, 255 - grey, grey / 2}, colour);
    grey.convertTo(deep, CV_16U, 300.0);
    std::vector<Bytes> files;
    for (const char* suffix : {".png", ".tif", ".bmp", ".jpg"})
        for (const cv::Mat& image : {grey, colour}) files.push_back(Encoded(suffix, image));
    for (const char* suffix : {".png", ".tif"}) files.push_back(Encoded(suffix, deep));
    files.push_back(Encoded(".jpg", colour, {cv::IMWRITE_JPEG_PROGRESSIVE, 1}));
    for (unsigned char orientation = 1; orientation <= 8; ++orientation)
        files.push_back(WithOrientation(Encoded(".jpg", grey), orientation));
    files.push_back(hostile::RunLengthBmp(grey));
    // Restart markers in the scan; a thumbnail in an APP1 segment, whose own frame header and
    // end marker do not count.
    files.push_back(Encoded(".jpg", grey, {cv::IMWRITE_JPEG_RST_INTERVAL, 4}));
    const Bytes thumbnail = Encoded(".jpg", Blank(16, 12));
    Bytes withThumbnail = {0xFF, 0xD8, 0xFF, 0xE1, uchar((thumbnail.size() + 2) >> 8), uchar(thumbnail.size() + 2)};
    withThumbnail.insert(withThumbnail.end(), thumbnail.begin(), thumbnail.end());
    withThumbnail.insert(withThumbnail.end(), files.back().begin() + 2, files.back().end());
    files.push_back(withThumbnail);
    for (const Bytes& file : files) {
        const FrameRead read = Read(file);
        const cv::Mat truth = cv::imread(Path("f"), cv::IMREAD_GRAYSCALE);
        EXPECT_EQ(read.status, FrameReadStatus::Read) << &file - files.data();
        EXPECT_TRUE(Same(read.grey, truth)) << &file - files.data();
    }
}

// Every damaged or foreign file ends in its reason; none is decoded into a made-up
// picture. OpenCV's grey reading accepts the ones marked `decodes`.
TEST_F(ReaderFixture, HostileFilesAreRefusedWithTheirReason)
{
    const Bytes png = Encoded(".png", grey), jpeg = Encoded(".jpg", grey);
    const cv::Mat colourFloat(240, 320, CV_32FC3, cv::Scalar(0.5, 0.2, 0.9));
    const struct {
        const char* what;
        Bytes bytes;
        FrameReadStatus status;
        bool decodes;
    } cases[] = {
        {"empty", {}, FrameReadStatus::Empty, false},
        {"text", {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'}, FrameReadStatus::NotAnImage, false},
        {"Radiance HDR", Encoded(".hdr", colourFloat), FrameReadStatus::NotAnImage, true},
        {"colour PFM", Encoded(".pfm", colourFloat), FrameReadStatus::NotAnImage, true},
        {"float TIFF", Encoded(".tif", cv::Mat(grey.size(), CV_32FC1, cv::Scalar(0.5))), FrameReadStatus::NotAccepted,
         false},
        {"PNG cut short", Bytes(png.begin(), png.begin() + png.size() / 2), FrameReadStatus::CutShort, false},
        {"PNG zeros", hostile::ZeroSecondHalf(png), FrameReadStatus::Corrupt, false},
        {"JPEG cut short", Bytes(jpeg.begin(), jpeg.begin() + jpeg.size() * 2 / 3), FrameReadStatus::CutShort, true},
        {"JPEG zeros", hostile::ZeroSecondHalf(jpeg), FrameReadStatus::CutShort, true},
        {"JPEG flipped bits", hostile::FlipBits(jpeg), FrameReadStatus::Corrupt, true},
        {"BMP run lengths zeros", hostile::ZeroSecondHalf(hostile::RunLengthBmp(grey)), FrameReadStatus::Corrupt, true},
        {"10001 x 10000", hostile::BlackPng(10001, 10000), FrameReadStatus::AboveLimit, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Read(c.bytes).status, c.status) << c.what;
        EXPECT_EQ(cv::imread(Path("f"), cv::IMREAD_GRAYSCALE).empty(), !c.decodes) << c.what;
    }
}

// Size checks come before the data is looked at: a broken file of another size is
// named by its size. The limit and the expected size are the caller's.
TEST_F(ReaderFixture, HeaderSizeIsCheckedBeforeDecoding)
{
    FrameReadLimits limits;
    limits.expectedSize = cv::Size(640, 480);
    const FrameRead other = Read(hostile::ZeroSecondHalf(Encoded(".png", grey)), limits);
    EXPECT_EQ(other.status, FrameReadStatus::OtherSize);
    EXPECT_EQ(FrameReadReason(other, limits), "320 x 240, frame 0 is 640 x 480");
    limits.expectedSize = grey.size();
    limits.pixelLimit = static_cast<long long>(grey.total()) - 1;
    const FrameRead above = Read(Encoded(".png", grey), limits);
    EXPECT_EQ(FrameReadReason(above, limits), "320 x 240, above the limit of 76799 pixels");
    limits.pixelLimit = static_cast<long long>(grey.total());
    EXPECT_EQ(Read(Encoded(".png", grey), limits).status, FrameReadStatus::Read);
}

// Only regular files (a link to one too) are read; a pipe is never waited on; a sparse
// file far larger than a frame of the limit could be is not read.
TEST_F(ReaderFixture, OnlyRegularFilesOfPlausibleSizeAreOpened)
{
    ASSERT_TRUE(hostile::Write(Path("f.png"), Encoded(".png", grey)));
    ASSERT_EQ(::symlink("f.png", Path("link.png").c_str()), 0);
    ASSERT_EQ(::symlink("none.png", Path("broken.png").c_str()), 0);
    ASSERT_EQ(::mkfifo(Path("pipe.png").c_str(), 0600), 0);
    Bytes huge = Encoded(".jpg", grey);
    huge.resize(huge.size() / 2);
    ASSERT_TRUE(hostile::Write(Path("huge.jpg"), huge));
    ASSERT_EQ(::truncate(Path("huge.jpg").c_str(), 100LL << 30), 0);
    const std::pair<const char*, FrameReadStatus> cases[] = {
        {"link.png", FrameReadStatus::Read},    {"broken.png", FrameReadStatus::Missing},
        {"none.png", FrameReadStatus::Missing}, {"pipe.png", FrameReadStatus::NotRegularFile},
        {"", FrameReadStatus::NotRegularFile},  {"huge.jpg", FrameReadStatus::FileTooLarge},
        {"f.png/x", FrameReadStatus::Missing}};
    for (const auto& [name, status] : cases) EXPECT_EQ(ReadGreyFrame(Path(name)).status, status) << name;
}

// The reader keeps no state between calls: frames read on four threads at once are
// those read one after the other.
TEST_F(ReaderFixture, ReadsOnSeveralThreadsAtOnce)
{
    const std::vector<Bytes> files = {Encoded(".png", grey), Encoded(".jpg", grey),
                                      hostile::FlipBits(Encoded(".jpg", grey)), Encoded(".tif", grey)};
    std::vector<FrameRead> alone;
    for (size_t k = 0; k < files.size(); ++k) {
        ASSERT_TRUE(hostile::Write(Path(std::to_string(k)), files[k]));
        alone.push_back(ReadGreyFrame(Path(std::to_string(k))));
    }
    std::vector<std::future<std::vector<FrameRead>>> threads;
    for (int t = 0; t < 4; ++t)
        threads.push_back(std::async(std::launch::async, [&, t] {
            std::vector<FrameRead> reads;
            for (int n = 0; n < 20; ++n) reads.push_back(ReadGreyFrame(Path(std::to_string((n + t) % files.size()))));
            return reads;
        }));
    for (int t = 0; t < 4; ++t) {
        const std::vector<FrameRead> reads = threads[size_t(t)].get();
        for (int n = 0; n < 20; ++n) {
            const FrameRead& a = alone[size_t(n + t) % files.size()];
            EXPECT_EQ(reads[size_t(n)].status, a.status);
            EXPECT_TRUE(Same(reads[size_t(n)].grey, a.grey));
        }
    }
}
