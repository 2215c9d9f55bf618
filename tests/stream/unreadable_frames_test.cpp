// What a bad frame leaves behind: the previous good frame for the next measure, no
// difference for a Frame Diff neighbour. JPEGs cut short are bad frames too. (The fuzz
// tests send every kind of bad file through every operation.)

#include "stream_test_support.h"

#include "stream/frame_file_check.h"

#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace {

// Frames 0..2 of five discs moving 60 to the right per frame.
cv::Mat Moving(int t) {
    cv::Mat frame = Blank(640, 480);
    for (int k = 0; k < 6; ++k) Disc(frame, 40 + 13 * k + 60 * t, 20 + 24 * k, 6);
    return frame;
}

void Truncate(const std::string& path) {
    const auto size = std::filesystem::file_size(path);
    std::filesystem::resize_file(path, size / 2);
}

}  // namespace

class UnreadableFrames : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFrames(folder, {Moving(0), Moving(1), Moving(2), Moving(3)}, stream);
    }
    std::string PathOf(int index) const { return stream.FramePath(index); }

    TempFolder folder;
    CVideoStream stream;
};

TEST_F(UnreadableFrames, BadFrameKeepsThePreviousGoodFrame) {
    Truncate(PathOf(2));
    ASSERT_TRUE(stream.PrepareFirstFrame());
    bool read = false;
    EXPECT_EQ(stream.MeasureTransition(1, &read).dx, 60);
    EXPECT_TRUE(read);
    const cv::Mat good = stream.previousFrame.clone();
    const FrameShift bad = stream.MeasureTransition(2, &read);
    EXPECT_FALSE(read);
    EXPECT_EQ(bad.dx, 0);
    EXPECT_EQ(bad.dy, 0);
    EXPECT_EQ(cv::norm(stream.previousFrame, good, cv::NORM_INF), 0.0);
    // Frame 3 is measured against frame 1: two steps of 60.
    EXPECT_EQ(stream.MeasureTransition(3, &read).dx, 120);
    EXPECT_TRUE(read);
}

TEST_F(UnreadableFrames, FrameDiffNeighbourThatCannotBeUsedAddsNothing) {
    ASSERT_TRUE(stream.PrepareFirstFrame());
    // Frame 1 is compared with frames 2 and 0. Without frame 2 the discs of frame 1
    // still differ from frame 0.
    const size_t both = stream.CountParticles(1, 3).size();
    EXPECT_EQ(both, 6u);
    std::filesystem::remove(PathOf(2));
    bool read = false;
    EXPECT_EQ(stream.CountParticles(1, 3, &read).size(), 6u);
    EXPECT_TRUE(read);
    folder.Write(stream.FrameName(0), Blank(641, 480));
    EXPECT_TRUE(stream.CountParticles(1, 3).empty());
}

TEST(FrameFileCheck, JpegEndingBeforeItsEndMarkerIsTruncated) {
    TempFolder folder;
    const auto write = [&](const std::string& name, const std::vector<uchar>& bytes) {
        const std::string path = folder.Path() + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    };
    cv::Mat frame = Blank(160, 120);
    Disc(frame, 60, 50, 9);
    std::vector<uchar> plain, progressive, thumbnail, png;
    cv::imencode(".jpg", frame, plain);
    cv::imencode(".jpg", frame, progressive, {cv::IMWRITE_JPEG_PROGRESSIVE, 1});
    cv::imencode(".jpg", Blank(16, 12), thumbnail);
    cv::imencode(".png", frame, png);
    // A thumbnail inside an APP1 segment brings its own end marker, before the scan.
    std::vector<uchar> withThumbnail = {0xFF, 0xD8, 0xFF, 0xE1};
    const size_t length = thumbnail.size() + 2;
    withThumbnail.push_back(static_cast<uchar>(length >> 8));
    withThumbnail.push_back(static_cast<uchar>(length & 0xFF));
    withThumbnail.insert(withThumbnail.end(), thumbnail.begin(), thumbnail.end());
    withThumbnail.insert(withThumbnail.end(), plain.begin() + 2, plain.end());
    const auto cut = [](std::vector<uchar> bytes, size_t less) {
        bytes.resize(bytes.size() - less);
        return bytes;
    };
    std::vector<uchar> trailer = plain;
    trailer.insert(trailer.end(), {0x00, 0x00, 0xFF, 0xDA, 0x12});  // anything after the end marker

    for (const auto& [name, bytes] : {std::pair{"plain", plain}, {"progressive", progressive},
                                      {"thumbnail", withThumbnail}, {"trailer", trailer}}) {
        EXPECT_FALSE(IsTruncatedJpegFile(write(name, bytes))) << name;
        ASSERT_FALSE(cv::imread(folder.Path() + "/" + name, cv::IMREAD_GRAYSCALE).empty()) << name;
        const size_t endMarker = bytes == trailer ? 7 : 2;  // the end marker and what follows it
        EXPECT_TRUE(IsTruncatedJpegFile(write(name, cut(bytes, endMarker)))) << name;
        EXPECT_TRUE(IsTruncatedJpegFile(write(name, cut(bytes, bytes.size() / 3)))) << name;
    }
    EXPECT_FALSE(IsTruncatedJpegFile(write("png", cut(png, png.size() / 2))));  // not a JPEG
    EXPECT_FALSE(IsTruncatedJpegFile(folder.Path() + "/absent.jpg"));

    // The stream reads a JPEG cut short as unreadable, a complete one as usual.
    CVideoStream stream;
    stream.SetFolder(folder.Path());
    stream.AddFrame(std::filesystem::path(write("whole.jpg", plain)).filename().string());
    stream.AddFrame(std::filesystem::path(write("cut.jpg", cut(plain, plain.size() / 4))).filename().string());
    EXPECT_FALSE(stream.ReadFrame(0).empty());
    EXPECT_TRUE(stream.ReadFrame(1).empty());
}
