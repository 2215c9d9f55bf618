#include "stream_test_support.h"

#include <fstream>

// Kept frames are copies, the most recent first; an unreadable frame is not kept and
// pushes none out; a new folder forgets them. Frame 0 was read before any was kept.
TEST(VideoStream, KeptFramesAreCopiesOfTheLastFewDecoded)
{
    Sequence seq({Blank(32, 24), Blank(32, 24) - 50, Blank(32, 24) - 100});
    CVideoStream& s = seq.stream;
    const auto readable = [&](int index) { return !s.ReadFrame(index).empty(); };
    s.SetRecentFrameCapacity(2);
    for (int index : {1, 2, 1}) s.ReadFrame(index).setTo(0);
    for (int index : {0, 1, 2}) std::ofstream(s.FramePath(index)) << "not an image";
    EXPECT_EQ(cv::norm(s.ReadFrame(1), Blank(32, 24) - 50, cv::NORM_INF), 0.0);
    EXPECT_TRUE(!readable(0) && readable(2) && readable(1));
    s.SetRecentFrameCapacity(1);
    EXPECT_TRUE(!readable(2) && readable(1));
    s.SetFolder(seq.folder);
    for (int t : {0, 1}) s.AddFrame(flowgen::FrameFileName(t, 3, "png"));
    EXPECT_FALSE(readable(1));
}

// A frame of another size than frame 0 is read on its own but never kept, and the run's
// reading names both sizes.
TEST(VideoStream, KeepsOnlyFramesOfTheRunsSize)
{
    Sequence seq({Blank(32, 24), Blank(16, 12)});
    CVideoStream& s = seq.stream;
    s.SetRecentFrameCapacity(2);
    EXPECT_EQ(s.ReadFrame(1).size(), cv::Size(16, 12));
    EXPECT_EQ(FrameReadReason(s.ReadRunFrame(1), s.RunFrameLimits()), "16 x 12, frame 0 is 32 x 24");
    std::ofstream(s.FramePath(1)) << "not an image";
    EXPECT_TRUE(s.ReadFrame(1).empty());
}
