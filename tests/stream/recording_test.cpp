// Sample depths, the pages of TIFF stacks and the frames of videos, read against OpenCV's
// own decoding of the same pictures.

#include "stream/frame_source.h"
#include "stream/recording.h"
#include "stream/tiff_stack.h"
#include "stream/video_file.h"
#include "stream_test_support.h"
#include "tools/flowgen/recording_writer.h"

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <thread>
#include <tuple>

#define TIFF_DISABLE_DEPRECATED
#include <tiffio.h>

namespace {

bool Same(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0.0);
}

cv::Mat Filled(cv::Size size, int type, double value)
{
    return cv::Mat(size, type, cv::Scalar::all(value));
}

// Pages written by libtiff: strips of `rowsPerStrip` rows, or tiles of 16 x 16 (0).
bool WritePages(const std::string& path, const std::vector<cv::Mat>& pages, int rowsPerStrip)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) return false;
    bool written = true;
    for (const cv::Mat& page : pages) {
        cv::Mat rgb = page;
        if (page.channels() == 3) cv::cvtColor(page, rgb, cv::COLOR_BGR2RGB);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.cols);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.rows);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, page.depth() == CV_16U ? 16 : 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, page.channels());
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, page.channels() == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        const size_t pixel = rgb.elemSize();
        if (rowsPerStrip > 0) {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
            for (int r = 0; r < rgb.rows && written; ++r)
                written = TIFFWriteScanline(tif, rgb.ptr(r), uint32_t(r), 0) >= 0;
        } else {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
            std::vector<uchar> tile(16 * 16 * pixel);
            for (int y = 0; y < rgb.rows; y += 16)
                for (int x = 0; x < rgb.cols; x += 16) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (int r = 0; r < 16 && y + r < rgb.rows; ++r)
                        std::memcpy(tile.data() + r * 16 * pixel, rgb.ptr(y + r) + x * pixel,
                                    std::min(16, rgb.cols - x) * pixel);
                    written = written && TIFFWriteTile(tif, tile.data(), uint32_t(x), uint32_t(y), 0, 0) >= 0;
                }
        }
        written = written && TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    return written;
}

}  // namespace

// Frame 0's depth: a header's when the samples fit it, else the largest sample rounded
// up to 10, 12, 14 or 16 bits; scaling keeps the top eight bits and saturates above.
TEST(SampleDepth, ChosenFromTheHeaderOrTheLargestSample)
{
    const cv::Size size(4, 3);
    const std::tuple<int, double, int, int, DepthSource> cases[] = {
        {CV_8UC1, 255, 0, 8, DepthSource::Stored},         {CV_8UC1, 3, 12, 8, DepthSource::Stored},
        {CV_16UC1, 100, 0, 10, DepthSource::LargestValue},  {CV_16UC1, 1023, 0, 10, DepthSource::LargestValue},
        {CV_16UC1, 1024, 0, 12, DepthSource::LargestValue}, {CV_16UC1, 4095, 0, 12, DepthSource::LargestValue},
        {CV_16UC1, 4096, 0, 14, DepthSource::LargestValue}, {CV_16UC1, 16384, 0, 16, DepthSource::LargestValue},
        {CV_16UC1, 4095, 12, 12, DepthSource::Header},      {CV_16UC1, 200, 14, 14, DepthSource::Header},
        {CV_16UC1, 200, 5, 8, DepthSource::Header},          {CV_16UC1, 5000, 12, 14, DepthSource::LargestValue},
    };
    for (const auto& [type, largest, header, bits, source] : cases) {
        cv::Mat samples = Filled(size, type, 0);
        samples.at<ushort>(0, 0) = 0;
        if (type == CV_8UC1)
            samples.at<uchar>(2, 3) = uchar(largest);
        else
            samples.at<ushort>(2, 3) = ushort(largest);
        const SampleDepth depth = FirstFrameDepth(samples, header);
        EXPECT_EQ(depth.bits, bits) << largest << " " << header;
        EXPECT_EQ(depth.source, source) << largest << " " << header;
        EXPECT_EQ(depth.firstFrameLargest, int(largest));
    }
    const cv::Mat deep = (cv::Mat_<ushort>(1, 5) << 0, 15, 16, 4095, 5000);
    const cv::Mat twelve = (cv::Mat_<uchar>(1, 5) << 0, 0, 1, 255, 255), sixteen = (cv::Mat_<uchar>(1, 5) << 0, 0, 0, 15, 19);
    EXPECT_TRUE(Same(ScaleToEightBit(deep, 12), twelve));
    EXPECT_TRUE(Same(ScaleToEightBit(deep, 16), sixteen));
    EXPECT_TRUE(UsesLittleOfRange(255, 12) && !UsesLittleOfRange(256, 12) && UsesLittleOfRange(15, 8));
}

// A frame read alone takes its own depth; within a sequence, the sequence's, and a frame
// stored in the other sample width is refused, not scaled by a guess.
TEST(SampleDepth, FramesOfOneSequenceShareOneWidth)
{
    Sequence seq({});
    const std::string deep = seq.folder + "/deep.png", flat = seq.folder + "/flat.png";
    ASSERT_TRUE(cv::imwrite(deep, Filled({8, 8}, CV_16UC1, 3000)));
    ASSERT_TRUE(cv::imwrite(flat, Filled({8, 8}, CV_8UC1, 90)));
    const FrameRead alone = ReadGreyFrame(deep);
    EXPECT_EQ(alone.depth.bits, 12);
    EXPECT_EQ(alone.grey.at<uchar>(0, 0), 3000 >> 4);
    FrameReadLimits sixteen;
    sixteen.depth = {16, DepthSource::LargestValue, 60000};
    EXPECT_EQ(ReadGreyFrame(deep, sixteen).grey.at<uchar>(0, 0), 3000 >> 8);
    const FrameRead odd = ReadGreyFrame(flat, sixteen);
    EXPECT_EQ(odd.status, FrameReadStatus::OtherDepth);
    EXPECT_EQ(FrameReadReason(odd, sixteen), "8-bit samples, frame 0 is 16-bit");
    FrameReadLimits eight;
    eight.depth = {8, DepthSource::Stored, 200};
    EXPECT_EQ(FrameReadReason(ReadGreyFrame(deep, eight), eight), "16-bit samples, frame 0 is 8-bit");
    EXPECT_TRUE(ReadGreyFrame(flat, eight).faint == false && ReadGreyFrame(deep, sixteen).faint == true);
}

// Pages of every layout libtiff stores (strips that do not divide the page, tiles, LZW,
// grey and colour, 8 and 16 bits) read as OpenCV reads the same pictures, in any order.
TEST(TiffStack, PagesReadAsOpenCvReadsThem)
{
    Sequence seq({});
    cv::RNG rng(7);
    std::vector<cv::Mat> pages;
    for (int type : {CV_8UC1, CV_16UC1, CV_8UC3, CV_16UC3}) {
        cv::Mat page(37, 45, type);
        rng.fill(page, cv::RNG::UNIFORM, 0, type == CV_8UC1 || type == CV_8UC3 ? 256 : 4096);
        pages.push_back(page);
    }
    for (int rowsPerStrip : {7, 0}) {
        const std::string path = seq.folder + "/stack" + std::to_string(rowsPerStrip) + ".tif";
        ASSERT_TRUE(WritePages(path, pages, rowsPerStrip));
        std::vector<cv::Mat> truth;
        ASSERT_TRUE(cv::imreadmulti(path, truth, cv::IMREAD_GRAYSCALE | cv::IMREAD_ANYDEPTH));
        CTiffStack stack(path);
        ASSERT_EQ(stack.PageCount(), 4);
        for (int page : {3, 0, 1, 2, 1}) {
            const FrameRead read = stack.ReadPage(page, {});
            ASSERT_EQ(read.status, FrameReadStatus::Read) << rowsPerStrip << " " << page;
            const SampleDepth own = FirstFrameDepth(truth[size_t(page)], 0);
            EXPECT_TRUE(Same(read.grey, ScaleToEightBit(truth[size_t(page)], own.bits))) << rowsPerStrip << " " << page;
        }
        EXPECT_EQ(stack.ReadPage(4, {}).status, FrameReadStatus::PastEnd);
    }
}

// A stack cut short is a shorter stack: the pages whose directories remain read as
// written, none is made up.
TEST(TiffStack, CutShortGivesThePagesBeforeTheCut)
{
    Sequence seq({});
    const std::string path = seq.folder + "/cut.tif";
    std::vector<cv::Mat> pages;
    for (int k = 0; k < 6; ++k) pages.push_back(Filled({64, 48}, CV_8UC1, 40 * k));
    ASSERT_TRUE(cv::imwritemulti(path, pages, std::vector<int>{cv::IMWRITE_TIFF_COMPRESSION, 1}));
    std::filesystem::resize_file(path, std::filesystem::file_size(path) * 6 / 10);
    CTiffStack stack(path);
    EXPECT_GE(stack.PageCount(), 2);
    EXPECT_LT(stack.PageCount(), 6);
    for (int page = 0; page < stack.PageCount(); ++page) {
        const FrameRead read = stack.ReadPage(page, {});
        EXPECT_TRUE(read.status == FrameReadStatus::CutShort || Same(read.grey, pages[size_t(page)])) << page;
    }
}

// A lossless video gives its frames exactly, in order and in any other order (decoded
// forward, sought back and far ahead), and nothing past its end.
TEST(VideoFile, FramesInAnyOrder)
{
    Sequence seq({});
    const flowgen::Flow flow = flowgen::GenerateFlow(Settings(3, flowgen::PatternShifts(50, {30, 0, 45})));
    for (const char* suffix : {".avi", ".mkv"}) {
        const std::string path = seq.folder + "/flow" + suffix;
        ASSERT_TRUE(flowgen::WriteVideo(flow, path, nullptr));
        const RecordingProbe probe = ProbeRecording(path);
        ASSERT_EQ(probe.status, FrameReadStatus::Read);
        ASSERT_EQ(probe.kind, SequenceKind::Video);
        ASSERT_EQ(probe.frameCount, 50);
        CVideoFile video(path, 50, std::make_shared<std::atomic<int>>(INT_MAX));
        for (int t : {0, 1, 2, 3, 9, 4, 48, 49, 0, 45, 12, 13, 40, 6}) {
            const FrameRead read = video.ReadFrame(t, {});
            EXPECT_TRUE(Same(read.grey, flowgen::RenderFrame(flow, t))) << suffix << " " << t;
        }
        EXPECT_EQ(video.ReadFrame(50, {}).status, FrameReadStatus::PastEnd);
    }
}

// A video's frames decode in the order claimed, one at a time, whatever the workers;
// the analyses run beside them and every frame arrives once.
TEST(FrameSource, InOrderDecodingTakesTurns)
{
    std::mutex mutex;
    std::vector<int> order;
    int busy = 0, overlap = 0;
    const auto decode = [&](int index) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            overlap += busy++ > 0;
            order.push_back(index);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        std::lock_guard<std::mutex> lock(mutex);
        --busy;
        FrameRead read;
        read.status = FrameReadStatus::Read;
        read.grey = cv::Mat(1, 1, CV_8UC1, cv::Scalar(index % 256));
        return read;
    };
    CFrameSource source([&] { return decode; }, [](int index, const cv::Mat&) { return std::any(index); }, 1, 60, 3,
                        6, true);
    for (int t = 1; t < 60; t += t % 7 == 0 ? 3 : 1)
        EXPECT_EQ(std::any_cast<int>(source.Take(t).analysis), t);
    source.Stop();
    EXPECT_EQ(overlap, 0);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}
