#include "stream_test_support.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <fstream>

TEST(VideoStream, FreshAndResetStreamsHaveTheDefaults) {
    CVideoStream stream;
    stream.SetFolder("/data/run");
    stream.AddFrame("a.png");
    stream.minArea = 25;
    stream.maxArea = 100;
    stream.marginLeft = 7;
    stream.SetFolder("/other");
    EXPECT_EQ(stream.folderPath, "/other");
    EXPECT_TRUE(stream.frameCount == 0 && stream.frameNames.empty());
    EXPECT_TRUE(stream.minArea == 10 && stream.maxArea == 900 && stream.marginLeft == 0);
    EXPECT_EQ(cv::countNonZero(stream.kernel5x5), 25);
}

TEST(VideoStream, FramePathJoinsFolderAndNameWithOneSlash) {
    CVideoStream stream;
    stream.SetFolder("/data/run");
    for (const char* name : {"f1.png", "f2.png", "f3.png"}) stream.AddFrame(name);
    EXPECT_EQ(stream.frameCount, 3);
    EXPECT_EQ(stream.FramePath(2), "/data/run/f3.png");
    EXPECT_EQ(stream.FrameName(0), "f1.png");
    // Indices outside the list name no file and read nothing.
    EXPECT_EQ(stream.FramePath(3), "");
    EXPECT_EQ(stream.FrameName(-1), "");
    EXPECT_TRUE(stream.ReadFrame(3).empty());
}

TEST(VideoStream, PrepareFirstFrameTakesFrameSizeAndBlurredOpenedFrame) {
    flowgen::FlowSettings settings;
    settings.frames = 2;
    const std::vector<cv::Mat> frames = RenderAll(flowgen::GenerateFlow(settings));
    TempFolder folder;
    CVideoStream stream;
    WriteFrames(folder, frames, stream);
    ASSERT_TRUE(stream.PrepareFirstFrame());
    EXPECT_EQ(stream.frameWidth, 640);
    EXPECT_EQ(stream.frameHeight, 480);

    cv::Mat expected;
    cv::blur(frames[0], expected, cv::Size(3, 3));
    cv::erode(expected, expected, cv::Mat::ones(3, 3, CV_8UC1));
    cv::dilate(expected, expected, cv::Mat::ones(3, 3, CV_8UC1));
    ASSERT_EQ(stream.previousFrame.type(), CV_8UC1);
    EXPECT_EQ(cv::norm(stream.previousFrame, expected, cv::NORM_INF), 0.0);
}

TEST(VideoStream, KeptFramesAreCopiesOfTheLastFewDecoded) {
    TempFolder folder;
    CVideoStream stream;
    std::vector<cv::Mat> frames;
    for (int k = 0; k < 3; ++k) frames.push_back(Blank(32, 24) - 50 * k);
    WriteFrames(folder, frames, stream);
    auto spoil = [&](int index) { std::ofstream(stream.FramePath(index)) << "not an image"; };

    // By default every read decodes the file.
    ASSERT_FALSE(stream.ReadFrame(0).empty());
    spoil(0);
    EXPECT_TRUE(stream.ReadFrame(0).empty());

    stream.SetRecentFrameCapacity(2);
    cv::Mat one = stream.ReadFrame(1);
    ASSERT_FALSE(one.empty());
    spoil(1);
    one.setTo(0);  // the caller's copy
    EXPECT_EQ(cv::norm(stream.ReadFrame(1), frames[1], cv::NORM_INF), 0.0);
    // Frames 2 and 1 are kept; reading 2 again keeps 1 the more recent.
    ASSERT_FALSE(stream.ReadFrame(2).empty());
    EXPECT_FALSE(stream.ReadFrame(1).empty());
    spoil(2);
    EXPECT_FALSE(stream.ReadFrame(2).empty());
    // Unreadable frames are not kept, and do not push others out.
    EXPECT_TRUE(stream.ReadFrame(0).empty());
    EXPECT_FALSE(stream.ReadFrame(1).empty());
    // Fewer places drop the oldest; Reset forgets them all.
    stream.SetRecentFrameCapacity(1);
    EXPECT_TRUE(stream.ReadFrame(2).empty());
    EXPECT_FALSE(stream.ReadFrame(1).empty());
    const std::vector<std::string> names = stream.frameNames;
    stream.SetFolder(folder.Path());
    for (const std::string& name : names) stream.AddFrame(name);
    EXPECT_TRUE(stream.ReadFrame(1).empty());
}
