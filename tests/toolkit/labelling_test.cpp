#include "toolkit/adjacency.h"
#include "toolkit/labelling.h"
#include "toolkit/pixel_queue.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

namespace {

// dx, dy of each entry, in order.
std::vector<int> EntriesOf(AdjRel* created)
{
    AdjRelPtr adj(created);
    std::vector<int> entries;
    for (int i = 0; i < adj->n; ++i) entries.insert(entries.end(), {adj->dx[i], adj->dy[i]});
    return entries;
}

}  // namespace

// The entry order decides the order of every neighbourhood walk.
TEST(Adjacency, EntryOrdersAndBoxSizes)
{
    using V = std::vector<int>;
    EXPECT_EQ(EntriesOf(Create8NeighbourAdjRel()), (V{0, 0, 0, -1, 0, 1, -1, 0, 1, 0, -1, -1, 1, -1, -1, 1, 1, 1}));
    EXPECT_EQ(EntriesOf(Create4NeighbourAdjRel()), (V{0, 0, 1, 0, 0, -1, -1, 0, 0, 1}));
    // Even sizes grow by one; the centre first, then row-major from the top-left corner.
    EXPECT_EQ(EntriesOf(CreateBoxAdjRel(2, 5)),
              (V{0, 0, -1, -2, 0, -2, 1, -2, -1, -1, 0, -1, 1, -1, -1, 0, 1, 0, -1, 1, 0, 1, 1, 1, -1, 2, 0, 2, 1, 2}));
    EXPECT_EQ(EntriesOf(CreateBoxAdjRel(-3, 0)), (V{0, 0}));
    EXPECT_EQ(EntriesOf(CreateAdjRel(4)), V(8, 0));
}

TEST(PixelQueue, DropsWhenFullAndWrapsAround)
{
    QueuePtr queue(CreateQueue(3)), empty(CreateQueue(0));  // an empty image's queue drops everything
    for (int value : {1, 2, 3, 4}) QueuePush(queue.get(), value);
    for (int expected : {1, 2, 3, -1}) EXPECT_EQ(QueuePop(queue.get()), expected);
    QueuePush(queue.get(), 5);  // into slot 0 again
    EXPECT_TRUE(queue->data[0] == 5 && QueuePop(queue.get()) == 5 && QueueIsEmpty(queue.get()));
    QueuePush(empty.get(), 7);
    EXPECT_TRUE(QueueIsEmpty(empty.get()) && QueuePop(empty.get()) == -1);
}

// Both routes: run-based (4-neighbourhood) and queue walk (5 x 5 box); see also the fuzz tests.
TEST(LabelComponents, LargeRegionSumsIn64BitsAndNanEqualsNothing)
{
    // The column sum of a 2048 x 2048 region is about 4.3e9; the mean 1023.5 truncates.
    const cv::Mat full(2048, 2048, CV_8UC1, cv::Scalar(1));
    const cv::Mat nan(2, 3, CV_32F, cv::Scalar(std::nan("")));
    for (AdjRel* created : {Create4NeighbourAdjRel(), CreateBoxAdjRel(5, 5)}) {
        AdjRelPtr adj(created);
        EXPECT_EQ(ComputeLabelCentroids(full, adj.get()), std::vector<cv::Point>{cv::Point(1023, 1023)});
        EXPECT_EQ(MaxLabel(LabelComponents(nan, adj.get())), 6);
    }
    EXPECT_EQ(MaxLabel(cv::Mat()), -20000);
}
