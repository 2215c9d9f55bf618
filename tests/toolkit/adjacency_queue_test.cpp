#include "toolkit/adjacency.h"
#include "toolkit/pixel_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <sys/resource.h>
#include <utility>
#include <vector>

namespace {

using Entry = std::pair<int, int>;
using Entries = std::vector<Entry>;

Entries EntriesOf(AdjRel* created)
{
    AdjRelPtr adj(created);
    Entries entries;
    for (int i = 0; i < adj->n; ++i)
        entries.emplace_back(adj->dx[i], adj->dy[i]);
    return entries;
}

}  // namespace

TEST(Adjacency, EntryOrders)
{
    EXPECT_EQ(EntriesOf(Create8NeighbourAdjRel()),
              (Entries{{0, 0}, {0, -1}, {0, 1}, {-1, 0}, {1, 0}, {-1, -1}, {1, -1}, {-1, 1}, {1, 1}}));
    EXPECT_EQ(EntriesOf(Create4NeighbourAdjRel()), (Entries{{0, 0}, {1, 0}, {0, -1}, {-1, 0}, {0, 1}}));
    EXPECT_EQ(EntriesOf(CreateBoxAdjRel(3, 3)),
              (Entries{{0, 0}, {-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}}));
}

TEST(Adjacency, BoxSizes)
{
    const Entries box44 = EntriesOf(CreateBoxAdjRel(4, 4));  // even sizes grow by one
    ASSERT_EQ(box44.size(), 25u);
    EXPECT_EQ(box44[1], Entry(-2, -2));
    EXPECT_EQ(box44[24], Entry(2, 2));
    const Entries box35 = EntriesOf(CreateBoxAdjRel(3, 5));
    ASSERT_EQ(box35.size(), 15u);
    EXPECT_EQ(box35[1], Entry(-1, -2));
    EXPECT_EQ(box35[14], Entry(1, 2));
    EXPECT_EQ(EntriesOf(CreateBoxAdjRel(0, 0)), (Entries{{0, 0}}));
    EXPECT_EQ(EntriesOf(CreateBoxAdjRel(-3, -3)), (Entries{{0, 0}}));
    EXPECT_EQ(EntriesOf(CreateAdjRel(4)), Entries(4, {0, 0}));
}

TEST(IntArray, ZeroFilledAndEmptyIsNoFailure)
{
    int* array = AllocIntArray(1000);
    EXPECT_EQ(std::count(array, array + 1000, 0), 1000);
    std::free(array);
    int* empty = AllocIntArray(0);
    EXPECT_NE(empty, nullptr);
    std::free(empty);
}

// AddressSanitizer reserves more address space than the limit below and handles
// failed allocations itself, so this check runs in plain builds only.
#if !defined(__SANITIZE_ADDRESS__)
TEST(IntArrayDeathTest, ExhaustedMemoryEndsTheProcessWithTheFixedReport)
{
    const auto limitAddressSpace = [] {
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = rlim_t(1) << 30;  // 1 GiB, far below 8 GiB asked for
        setrlimit(RLIMIT_AS, &limit);
    };
    EXPECT_EXIT((limitAddressSpace(), AllocIntArray(INT_MAX)), ::testing::ExitedWithCode(255),
                "^Error: Cannot allocate memory space in AllocIntArray\n$");
    EXPECT_EXIT((limitAddressSpace(), CreateQueue(INT_MAX)), ::testing::ExitedWithCode(255),
                "^Error: Cannot allocate memory space in AllocIntArray\n$");
}
#endif

TEST(PixelQueue, DropsWhenFullAndWrapsAround)
{
    QueuePtr queue(CreateQueue(3));
    for (int value : {1, 2, 3, 4})
        QueuePush(queue.get(), value);
    for (int expected : {1, 2, 3, -1})
        EXPECT_EQ(QueuePop(queue.get()), expected);
    EXPECT_TRUE(QueueIsEmpty(queue.get()));
    QueuePush(queue.get(), 5);
    EXPECT_EQ(queue->data[0], 5);
    EXPECT_EQ(QueuePop(queue.get()), 5);

    QueuePtr empty(CreateQueue(0));  // an empty image's queue
    QueuePush(empty.get(), 7);
    EXPECT_TRUE(QueueIsEmpty(empty.get()));
    EXPECT_EQ(QueuePop(empty.get()), -1);
}
