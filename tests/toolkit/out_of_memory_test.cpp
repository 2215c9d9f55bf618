#include "toolkit/labelling.h"
#include "toolkit/out_of_memory.h"
#include "toolkit/pixel_queue.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <sys/resource.h>

// Plain builds only: AddressSanitizer handles failed allocations itself.
#if !defined(__SANITIZE_ADDRESS__)
namespace {

// Runs `work` in a child process limited to 1 GiB of address space; the child's exit
// code says what RanOutOfMemory made of it: 0 out of memory, 1 completed, 2 another
// exception passed through.
void InLimitedChild(const std::function<void()>& work)
{
    const rlimit limit{rlim_t(1) << 30, rlim_t(1) << 30};
    setrlimit(RLIMIT_AS, &limit);
    try {
        std::_Exit(RanOutOfMemory(work) ? 0 : 1);
    } catch (...) {
        std::_Exit(2);
    }
}

}  // namespace

TEST(OutOfMemoryDeathTest, ReachesTheCallerFromEveryKindOfAllocation)
{
    const struct {
        const char* what;
        std::function<void()> work;
        int exitCode;
    } cases[] = {
        {"our queue of 8 GiB", [] { QueuePtr queue(CreateQueue(INT_MAX)); }, 0},
        {"an OpenCV picture of 1.6 GB", [] { cv::Mat big(40000, 40000, CV_8UC1); }, 0},
        {"labelling a picture whose labels do not fit",
         [] {
             const cv::Mat mask(16000, 16000, CV_8UC1, cv::Scalar(1));  // 256 MB, labels 1 GB
             LabelComponents(mask, nullptr);
         },
         0},
        {"a small picture", [] { cv::Mat small(100, 100, CV_8UC1); }, 1},
        {"another failure", [] { throw std::runtime_error("not memory"); }, 2},
        {"an OpenCV failure other than memory", [] { cv::Mat(2, 2, CV_8UC1).reshape(3); }, 2},
    };
    for (const auto& c : cases)
        EXPECT_EXIT(InLimitedChild(c.work), ::testing::ExitedWithCode(c.exitCode), "") << c.what;
}
#endif
