#include "toolkit/adjacency.h"
#include "toolkit/pixel_queue.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <sys/resource.h>
#include <utility>
#include <vector>

namespace {

std::vector<std::pair<int, int>> Entries(const AdjRel* adj)
{
    std::vector<std::pair<int, int>> entries;
    for (int i = 0; i < adj->n; ++i)
        entries.emplace_back(adj->dx[i], adj->dy[i]);
    return entries;
}

using Entry = std::pair<int, int>;

}  // namespace

TEST(AdjacencyOrder, EightNeighbourhoodListsEdgesBeforeCorners)
{
    AdjRelPtr adj(Create8NeighbourAdjRel());
    const std::vector<Entry> expected = {{0, 0},  {0, -1},  {0, 1},  {-1, 0}, {1, 0},
                                         {-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
    EXPECT_EQ(Entries(adj.get()), expected);
}

TEST(AdjacencyOrder, FourNeighbourhoodTurnsCounterClockwiseFromTheRight)
{
    AdjRelPtr adj(Create4NeighbourAdjRel());
    const std::vector<Entry> expected = {{0, 0}, {1, 0}, {0, -1}, {-1, 0}, {0, 1}};
    EXPECT_EQ(Entries(adj.get()), expected);
}

TEST(AdjacencyOrder, BoxListsCentreThenRowMajorFromTopLeft)
{
    AdjRelPtr adj(CreateBoxAdjRel(3, 3));
    const std::vector<Entry> expected = {{0, 0},  {-1, -1}, {0, -1}, {1, -1}, {-1, 0},
                                         {1, 0}, {-1, 1},  {0, 1},  {1, 1}};
    EXPECT_EQ(Entries(adj.get()), expected);
}

TEST(AdjacencyBoxSize, EvenSizesGrowByOne)
{
    AdjRelPtr box44(CreateBoxAdjRel(4, 4));
    EXPECT_EQ(box44->n, 25);
    EXPECT_EQ(Entry(box44->dx[1], box44->dy[1]), Entry(-2, -2));
    EXPECT_EQ(Entry(box44->dx[24], box44->dy[24]), Entry(2, 2));

    AdjRelPtr box00(CreateBoxAdjRel(0, 0));
    ASSERT_EQ(box00->n, 1);
    EXPECT_EQ(Entry(box00->dx[0], box00->dy[0]), Entry(0, 0));
}

TEST(AdjacencyBoxSize, NonSquareBoxRunsRowsFromTopToBottom)
{
    AdjRelPtr adj(CreateBoxAdjRel(3, 5));
    ASSERT_EQ(adj->n, 15);
    EXPECT_EQ(Entry(adj->dx[1], adj->dy[1]), Entry(-1, -2));
    EXPECT_EQ(Entry(adj->dx[14], adj->dy[14]), Entry(1, 2));
    for (int i = 2; i < adj->n; ++i)
        EXPECT_GE(adj->dy[i], adj->dy[i - 1]);
    for (int i = 1; i < adj->n; ++i)
        EXPECT_NE(Entry(adj->dx[i], adj->dy[i]), Entry(0, 0));
}

TEST(AdjacencyBoxSize, NegativeSizesGiveTheCentreAlone)
{
    AdjRelPtr adj(CreateBoxAdjRel(-3, 5));
    EXPECT_EQ(adj->n, 5);
    for (int i = 0; i < adj->n; ++i)
        EXPECT_EQ(adj->dx[i], 0);
}

TEST(AdjacencyCreate, EntriesStartAtTheCentre)
{
    AdjRelPtr adj(CreateAdjRel(7));
    ASSERT_EQ(adj->n, 7);
    for (int i = 0; i < adj->n; ++i)
        EXPECT_EQ(Entry(adj->dx[i], adj->dy[i]), Entry(0, 0));

    AdjRelPtr empty(CreateAdjRel(0));
    EXPECT_EQ(empty->n, 0);
    EXPECT_NE(empty->dx, nullptr);
}

TEST(IntArray, IsZeroFilledAndEmptyIsNoFailure)
{
    int* array = AllocIntArray(1000);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(array[i], 0);
    std::free(array);

    int* empty = AllocIntArray(0);
    EXPECT_NE(empty, nullptr);
    std::free(empty);
}

// AddressSanitizer reserves far more address space than the limit below and aborts on
// failed allocations itself, so the check runs in plain builds only.
#if defined(__SANITIZE_ADDRESS__)
#define TESSEL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSEL_ASAN 1
#endif
#endif

#ifndef TESSEL_ASAN
TEST(IntArrayDeathTest, ExhaustedMemoryEndsTheProcessWithTheFixedReport)
{
    // The child process gets a 1 GiB address space, far below the 8 GiB asked for.
    const auto allocateTooMuch = [] {
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = rlim_t(1) << 30;
        setrlimit(RLIMIT_AS, &limit);
        AllocIntArray(INT_MAX);
    };
    EXPECT_EXIT(allocateTooMuch(), ::testing::ExitedWithCode(255),
                "^Error: Cannot allocate memory space in AllocIntArray\n$");

    const auto queueTooLarge = [] {
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = rlim_t(1) << 30;
        setrlimit(RLIMIT_AS, &limit);
        CreateQueue(INT_MAX);
    };
    EXPECT_EXIT(queueTooLarge(), ::testing::ExitedWithCode(255),
                "^Error: Cannot allocate memory space in AllocIntArray\n$");
}
#endif

TEST(PixelQueue, DropsWhenFullAndWrapsAround)
{
    QueuePtr queue(CreateQueue(3));
    for (int value : {1, 2, 3, 4})
        QueuePush(queue.get(), value);
    EXPECT_EQ(queue->count, 3);
    EXPECT_EQ(QueuePop(queue.get()), 1);
    EXPECT_EQ(QueuePop(queue.get()), 2);
    EXPECT_EQ(QueuePop(queue.get()), 3);
    EXPECT_TRUE(QueueIsEmpty(queue.get()));
    EXPECT_EQ(QueuePop(queue.get()), -1);

    QueuePush(queue.get(), 5);
    EXPECT_EQ(queue->data[0], 5);
    EXPECT_EQ(queue->tail, 1);
    EXPECT_EQ(QueuePop(queue.get()), 5);
    EXPECT_TRUE(QueueIsEmpty(queue.get()));
}

TEST(PixelQueue, KeepsFifoOrderAcrossManyWraps)
{
    QueuePtr queue(CreateQueue(4));
    int next = 0;
    int expected = 0;
    for (int round = 0; round < 50; ++round) {
        QueuePush(queue.get(), next++);
        QueuePush(queue.get(), next++);
        ASSERT_EQ(QueuePop(queue.get()), expected++);
        ASSERT_EQ(QueuePop(queue.get()), expected++);
    }
    EXPECT_TRUE(QueueIsEmpty(queue.get()));
}

TEST(PixelQueue, ZeroCapacityIsAValidEmptyQueue)
{
    QueuePtr queue(CreateQueue(0));
    ASSERT_NE(queue, nullptr);
    QueuePush(queue.get(), 7);
    EXPECT_TRUE(QueueIsEmpty(queue.get()));
    EXPECT_EQ(QueuePop(queue.get()), -1);
}
