#include "stream_test_support.h"

#include "stream/frame_file_check.h"

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

// A JPEG ending before its end-of-image marker is unreadable; a thumbnail's (in an APP1 segment) does not count.
TEST(FrameFileCheck, JpegEndingBeforeItsEndMarkerIsTruncated)
{
    Sequence seq({});
    const std::string path = seq.folder + "/f.jpg";
    const auto write = [&](const std::vector<uchar>& bytes, size_t less) {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size() - less);
        return path;
    };
    std::vector<uchar> plain, thumb;
    cv::imencode(".jpg", Frame({{60, 50, 9}}, cv::Size(160, 120)), plain, {cv::IMWRITE_JPEG_RST_INTERVAL, 4});
    cv::imencode(".jpg", Blank(16, 12), thumb);
    std::vector<uchar> withThumbnail{0xFF, 0xD8, 0xFF, 0xE1, uchar((thumb.size() + 2) >> 8), uchar(thumb.size() + 2)};
    withThumbnail.insert(withThumbnail.end(), thumb.begin(), thumb.end());
    withThumbnail.insert(withThumbnail.end(), plain.begin() + 2, plain.end());
    for (const std::vector<uchar>& bytes : {plain, withThumbnail})  // less 2 bytes: no end marker
        EXPECT_TRUE(!IsTruncatedJpegFile(write(bytes, 0)) && IsTruncatedJpegFile(write(bytes, 2)) &&
                    IsTruncatedJpegFile(write(bytes, bytes.size() / 3)))
            << bytes.size();
    EXPECT_FALSE(IsTruncatedJpegFile(seq.folder + "/none.jpg") || IsTruncatedJpegFile(write({0x89, 'P', 'N', 'G'}, 0)));
    seq.stream.AddFrame("f.jpg");  // which the stream reads as unreadable
    write(plain, plain.size() / 4);
    EXPECT_TRUE(seq.stream.ReadFrame(0).empty());
}
