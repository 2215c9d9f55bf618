#include "stream/frame_source.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

// Frames come in order with their analysis, skipped ones dropped; frames are decoded up to
// `ahead` past the one taken next and no further; after Stop nothing is, and Take gives nothing.
TEST(FrameSource, DecodesAheadWithinItsWindowAndNothingAfterStop)
{
    using namespace std::chrono_literals;
    for (int threads : {0, 2}) {
        std::atomic<int> decoded{0}, highest{0};
        const auto decode = [&](int index) {
            for (int seen = ++decoded ? highest.load() : 0;
                 seen < index && !highest.compare_exchange_weak(seen, index);) {
            }
            FrameRead read;
            read.status = FrameReadStatus::Read;
            read.grey = cv::Mat(1, 1, CV_8UC1, cv::Scalar(index));
            return read;
        };
        CFrameSource source([&] { return decode; }, [](int index, const cv::Mat&) { return std::any(2 * index); }, 1,
                            100, threads, 4);
        for (int index : {1, 2, 5}) {
            const DecodedFrame frame = source.Take(index);
            EXPECT_EQ(frame.read.grey.at<uchar>(0, 0) + std::any_cast<int>(frame.analysis), 3 * index) << threads;
        }
        for (int wait = 0; wait < 500 && highest < 9 && threads > 0; ++wait) std::this_thread::sleep_for(10ms);
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(highest, threads ? 9 : 5);  // the frame taken next, 6, + 4 - 1
        source.Stop();
        const int stopped = decoded;
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(decoded, stopped) << threads;
        EXPECT_TRUE(source.Take(6).read.grey.empty()) << threads;
    }
}
