// Missing, damaged and differently sized frames never throw: they give (0, 0) or an
// empty list and report themselves through frameRead.

#include "stream_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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

TEST_F(UnreadableFrames, MissingFirstFrameFailsPreparation) {
    std::filesystem::remove(PathOf(0));
    EXPECT_FALSE(stream.PrepareFirstFrame());
    EXPECT_EQ(stream.frameWidth, 0);
    EXPECT_EQ(stream.frameHeight, 0);
    bool read = true;
    const FrameShift shift = stream.MeasureTransition(1, &read);
    EXPECT_FALSE(read);
    EXPECT_EQ(shift.dx, 0);
    EXPECT_TRUE(stream.CountParticles(1, 1, &read).empty());
    EXPECT_FALSE(read);
}

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

TEST_F(UnreadableFrames, DifferentlySizedOrGarbageFramesAreNotMeasured) {
    folder.Write(stream.FrameName(1), Blank(320, 240));
    std::ofstream(PathOf(2)) << "not an image";
    ASSERT_TRUE(stream.PrepareFirstFrame());
    for (int index : {1, 2}) {
        bool read = true;
        EXPECT_EQ(stream.MeasureTransition(index, &read).dx, 0);
        EXPECT_FALSE(read);
        for (int method : {1, 2, 3}) {
            read = true;
            EXPECT_TRUE(stream.CountParticles(index, method, &read).empty());
            EXPECT_FALSE(read);
        }
    }
    EXPECT_EQ(stream.MeasureTransition(3).dx, 180);
}

TEST_F(UnreadableFrames, StripOfAnUnreadableLastFrameIsEmpty) {
    ASSERT_TRUE(stream.PrepareFirstFrame());
    Truncate(PathOf(3));
    bool read = true;
    EXPECT_TRUE(stream.CountParticlesInNewRegion(300, 1, &read).empty());
    EXPECT_FALSE(read);
    read = false;
    // The other frames are fine.
    EXPECT_FALSE(stream.CountParticles(1, 1, &read).empty());
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
