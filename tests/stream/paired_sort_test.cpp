// The order of equal keys after the paired sort decides which of several centroids
// on one row is met first by the pairing search, so it is checked against hand traces.

#include "stream/frame_shift.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

namespace {

std::vector<int> Iota(size_t n) {
    std::vector<int> v(n);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

}  // namespace

TEST(PartitionPaired, PivotLandsAfterSmallerKeysWhichKeepTheirScanOrder) {
    // pivot 3; 1 and 2 are swapped forward in scan order, then the pivot swaps with 2.
    std::vector<int> key{3, 3, 1, 3, 2};
    std::vector<int> comp = Iota(key.size());
    EXPECT_EQ(PartitionPaired(key.data(), 0, 4, comp.data()), 2);
    EXPECT_EQ(key, (std::vector<int>{2, 1, 3, 3, 3}));
    EXPECT_EQ(comp, (std::vector<int>{4, 2, 0, 3, 1}));
    EXPECT_EQ(PartitionPaired(key.data(), 4, 4, comp.data()), 4);  // one element: untouched
    EXPECT_EQ(key[4], 3);
}

TEST(QuickSortPaired, EqualKeysFollowThePartitionSchemeNotInputOrder) {
    // Hand trace: partition(0..3) with pivot 2 gives keys 1 1 2 2 with companions
    // 3 1 0 2; the left part 1 1 stays as it is. A stable sort would give 1 3 0 2.
    std::vector<int> key{2, 1, 2, 1};
    std::vector<int> comp = Iota(key.size());
    QuickSortPaired(key.data(), 0, 3, comp.data());
    EXPECT_EQ(key, (std::vector<int>{1, 1, 2, 2}));
    EXPECT_EQ(comp, (std::vector<int>{3, 1, 0, 2}));

    std::vector<int> key2{3, 3, 1, 3, 2};
    std::vector<int> comp2 = Iota(key2.size());
    QuickSortPaired(key2.data(), 0, 4, comp2.data());
    EXPECT_EQ(key2, (std::vector<int>{1, 2, 3, 3, 3}));
    EXPECT_EQ(comp2, (std::vector<int>{2, 4, 0, 3, 1}));
}

TEST(QuickSortPaired, SortsAnyInputAndMovesCompanionsAlong) {
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        const size_t n = 1 + random() % 300;
        std::vector<int> key(n);
        for (int& k : key) k = static_cast<int>(random() % 40) - 10;  // many ties, negatives
        const std::vector<int> original = key;
        std::vector<int> comp = Iota(n);
        QuickSortPaired(key.data(), 0, static_cast<int>(n) - 1, comp.data());
        ASSERT_TRUE(std::is_sorted(key.begin(), key.end()));
        std::vector<int> seen = comp;
        std::sort(seen.begin(), seen.end());
        ASSERT_EQ(seen, Iota(n));  // a permutation
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(original[static_cast<size_t>(comp[i])], key[i]);
    }
}
