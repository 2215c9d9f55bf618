#include "toolkit/adjacency.h"
#include "toolkit/labelling.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Blobs of every shape: blurred noise above a level, values 1 .. maxValue.
cv::Mat RandomMask(int rows, int cols, double density, int maxValue, unsigned seed)
{
    cv::RNG rng(seed);
    cv::Mat noise(rows, cols, CV_32F);
    rng.fill(noise, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::blur(noise, noise, cv::Size(3, 3));
    cv::Mat values(rows, cols, CV_8UC1);
    rng.fill(values, cv::RNG::UNIFORM, 1, maxValue + 1);
    cv::Mat mask = cv::Mat::zeros(rows, cols, CV_8UC1);
    values.copyTo(mask, noise > 1.0 - density);
    return mask;
}

bool SameImage(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

// The usual relation with its first neighbour listed twice: same regions, but it
// takes the general queue walk instead of the run-based route.
AdjRel* WithRepeat(AdjRel* created)
{
    AdjRelPtr base(created);
    AdjRel* adj = CreateAdjRel(base->n + 1);
    std::copy(base->dx, base->dx + base->n, adj->dx);
    std::copy(base->dy, base->dy + base->n, adj->dy);
    adj->dx[base->n] = base->dx[1];
    adj->dy[base->n] = base->dy[1];
    return adj;
}

struct Relation {
    const char* name;
    AdjRel* (*create)();
    int connectivity;
};

const Relation kRelations[] = {
    {"8", Create8NeighbourAdjRel, 8},
    {"4", Create4NeighbourAdjRel, 4},
    {"8 walked", [] { return WithRepeat(Create8NeighbourAdjRel()); }, 8},
    {"4 walked", [] { return WithRepeat(Create4NeighbourAdjRel()); }, 4},
};

}  // namespace

TEST(LabelComponents, MatchesOpenCvOnRandomMasks)
{
    unsigned seed = 11;
    for (const Relation& relation : kRelations) {
        AdjRelPtr adj(relation.create());
        for (const cv::Size size : {cv::Size(97, 61), cv::Size(1, 40), cv::Size(40, 1), cv::Size(256, 256)})
            for (double density : {0.1, 0.35, 0.6}) {
                const cv::Mat mask = RandomMask(size.height, size.width, density, 1, seed++);
                cv::Mat reference;
                const int n = cv::connectedComponents(mask, reference, relation.connectivity, CV_32S, cv::CCL_SAUF);
                const cv::Mat labels = LabelComponents(mask, adj.get());
                ASSERT_TRUE(SameImage(labels, reference)) << relation.name << " " << size << " " << density;
                EXPECT_EQ(MaxLabel(labels), n - 1);
            }
        // A view into a larger mask (rows not contiguous) labels like its copy.
        const cv::Mat view = RandomMask(60, 80, 0.4, 2, seed++)(cv::Rect(7, 5, 50, 40));
        EXPECT_TRUE(SameImage(LabelComponents(view, adj.get()), LabelComponents(view.clone(), adj.get())));
    }
}

TEST(LabelComponents, SameValueCriterion)
{
    cv::Mat image = cv::Mat::zeros(5, 6, CV_8UC1);
    image.colRange(0, 3).setTo(1);
    image.colRange(3, 6).setTo(2);
    for (const Relation& relation : kRelations) {
        AdjRelPtr adj(relation.create());
        const cv::Mat labels = LabelComponents(image, adj.get());
        EXPECT_EQ(cv::countNonZero(labels.colRange(0, 3) != 1), 0) << relation.name;
        EXPECT_EQ(cv::countNonZero(labels.colRange(3, 6) != 2), 0) << relation.name;
    }
    // Grey images of three values: the run-based route agrees with the queue walk.
    for (unsigned seed = 300; seed < 306; ++seed) {
        const cv::Mat grey = RandomMask(80, 90, 0.3 + 0.1 * (seed - 300), 3, seed);
        for (int r = 0; r < 2; ++r) {
            AdjRelPtr fast(kRelations[r].create());
            AdjRelPtr walked(kRelations[r + 2].create());
            ASSERT_TRUE(SameImage(LabelComponents(grey, fast.get()), LabelComponents(grey, walked.get())));
        }
    }
}

TEST(LabelComponents, EmptyAndAllZeroImages)
{
    AdjRelPtr adj(Create8NeighbourAdjRel());
    EXPECT_TRUE(LabelComponents(cv::Mat(), adj.get()).empty());
    EXPECT_EQ(MaxLabel(cv::Mat()), -20000);
    EXPECT_TRUE(FilterComponentsBySize(cv::Mat(), 10, 30).empty());
    const cv::Mat zeros = cv::Mat::zeros(30, 40, CV_8UC1);
    EXPECT_TRUE(SameImage(LabelComponents(zeros, adj.get()), cv::Mat::zeros(30, 40, CV_32SC1)));
    EXPECT_TRUE(ComputeLabelCentroids8(zeros).empty());
    EXPECT_TRUE(SameImage(FilterComponentsBySize(zeros, 1, 100), zeros));
    const cv::Mat nan(2, 3, CV_32F, cv::Scalar(std::nan("")));  // equal to nothing, not even itself
    EXPECT_EQ(MaxLabel(LabelComponents(nan, adj.get())), 6);
}

TEST(LabelCentroids, TruncatedMeansLikeOpenCv)
{
    cv::Mat square = cv::Mat::zeros(40, 40, CV_8UC1);
    square(cv::Rect(10, 20, 2, 2)).setTo(1);
    EXPECT_EQ(ComputeLabelCentroids8(square), std::vector<cv::Point>{cv::Point(10, 20)});

    unsigned seed = 500;
    for (const Relation& relation : kRelations) {
        AdjRelPtr adj(relation.create());
        const cv::Mat mask = RandomMask(120, 150, 0.3, 1, seed++);
        cv::Mat labels, stats, centres;
        const int n = cv::connectedComponentsWithStats(mask, labels, stats, centres, relation.connectivity,
                                                       CV_32S, cv::CCL_SAUF);
        std::vector<cv::Point> expected;
        for (int l = 1; l < n; ++l)
            expected.emplace_back(static_cast<int>(static_cast<float>(centres.at<double>(l, 0))),
                                  static_cast<int>(static_cast<float>(centres.at<double>(l, 1))));
        EXPECT_EQ(ComputeLabelCentroids(mask, adj.get()), expected) << relation.name;
    }
}

TEST(LabelCentroids, LargeRegionDoesNotOverflowTheSums)
{
    // The column sum of a 2048 x 2048 region is about 4.3e9, past 32 bits.
    for (const Relation& relation : kRelations) {
        AdjRelPtr adj(relation.create());
        EXPECT_EQ(ComputeLabelCentroids(cv::Mat(2048, 2048, CV_8UC1, cv::Scalar(1)), adj.get()),
                  std::vector<cv::Point>{cv::Point(1023, 1023)})
            << relation.name;
    }
}

TEST(FilterComponentsBySize, BoundsInclusiveAndFourConnected)
{
    cv::Mat mask = cv::Mat::zeros(20, 60, CV_8UC1);
    mask(cv::Rect(0, 0, 9, 1)).setTo(1);    // 9
    mask(cv::Rect(0, 5, 10, 1)).setTo(1);   // 10
    mask(cv::Rect(20, 0, 10, 3)).setTo(1);  // 30
    mask(cv::Rect(40, 0, 10, 3)).setTo(1);  // 31 with the pixel below
    mask.at<uchar>(3, 40) = 1;
    mask(cv::Rect(0, 10, 5, 4)).setTo(1);   // two 20-pixel blocks meeting at a corner
    mask(cv::Rect(5, 14, 5, 4)).setTo(1);
    const cv::Mat out = FilterComponentsBySize(mask, 10, 30);
    EXPECT_EQ(out.type(), CV_8UC1);
    EXPECT_EQ(out.at<uchar>(0, 0), 0);
    EXPECT_EQ(out.at<uchar>(0, 40), 0);
    EXPECT_EQ(out.at<uchar>(5, 9), 1);
    EXPECT_EQ(out.at<uchar>(2, 29), 1);
    EXPECT_EQ(cv::countNonZero(out), 10 + 30 + 40);
}

TEST(FilterComponentsBySize, MatchesOpenCvAreasOnRandomMasks)
{
    for (unsigned seed = 700; seed < 706; ++seed) {
        const cv::Mat mask = RandomMask(90, 110, 0.35, 1, seed);
        cv::Mat labels, stats, centres;
        const int n = cv::connectedComponentsWithStats(mask, labels, stats, centres, 4, CV_32S, cv::CCL_SAUF);
        cv::Mat expected = cv::Mat::zeros(mask.size(), CV_8UC1);
        for (int l = 1; l < n; ++l) {
            const int area = stats.at<int>(l, cv::CC_STAT_AREA);
            if (area >= 3 && area <= 40)
                expected.setTo(1, labels == l);
        }
        EXPECT_TRUE(SameImage(FilterComponentsBySize(mask, 3, 40), expected)) << seed;
        cv::Mat wide;  // other depths take the label-image route
        mask.convertTo(wide, CV_16U);
        EXPECT_TRUE(SameImage(FilterComponentsBySize(wide, 3, 40), expected)) << seed;
    }
}

namespace {

// The nearest non-zero pixel found literally: growing boxes scanned entry by entry.
cv::Point BoxSearchSeed(const cv::Mat& mask, int x, int y)
{
    for (int s = 1; s <= 2 * std::max(mask.rows, mask.cols) + 1; s += 2) {
        AdjRelPtr box(CreateBoxAdjRel(s, s));
        for (int i = 0; i < box->n; ++i) {
            const cv::Point q(x + box->dx[i], y + box->dy[i]);
            if (q.inside(cv::Rect(0, 0, mask.cols, mask.rows)) && mask.at<uchar>(q) != 0)
                return q;
        }
    }
    return {-1, -1};
}

}  // namespace

TEST(ExtractComponentAt, NearestSeedPrefersTheUpperRow)
{
    cv::Mat mask = cv::Mat::zeros(21, 21, CV_8UC1);
    mask(cv::Rect(12, 10, 3, 1)).setTo(1);  // starts at (x + 2, y)
    mask(cv::Rect(5, 6, 4, 3)).setTo(1);    // ends at (x - 2, y - 2)
    mask.at<uchar>(7, 7) = 255;             // any non-zero value belongs
    const cv::Mat input = mask.clone();
    const cv::Mat out = ExtractComponentAt(mask, 10, 10);
    EXPECT_EQ(cv::countNonZero(out), 12);
    EXPECT_EQ(out.at<uchar>(7, 7), 1);
    EXPECT_TRUE(SameImage(mask, input));

    for (unsigned seed = 0; seed < 40; ++seed) {
        cv::RNG rng(seed);
        cv::Mat dots = cv::Mat::zeros(31, 37, CV_8UC1);
        for (int i = rng.uniform(1, 6); i > 0; --i)
            dots.at<uchar>(rng.uniform(0, 31), rng.uniform(0, 37)) = 1;
        const int x = rng.uniform(0, 37), y = rng.uniform(0, 31);
        cv::Mat labels;
        cv::connectedComponents(dots, labels, 8, CV_32S, cv::CCL_SAUF);
        const cv::Mat expected = (labels == labels.at<int>(BoxSearchSeed(dots, x, y))) / 255;
        ASSERT_TRUE(SameImage(ExtractComponentAt(dots, x, y), expected)) << "seed " << seed;
    }
}

TEST(ExtractComponentAt, AllZeroOrEmptyMaskGivesNothing)
{
    const cv::Mat zeros = cv::Mat::zeros(50, 70, CV_8UC1);
    EXPECT_TRUE(SameImage(ExtractComponentAt(zeros, 25, 35), zeros));
    EXPECT_TRUE(ExtractComponentAt(cv::Mat(), 0, 0).empty());
    cv::Mat corner = zeros.clone();
    corner.at<uchar>(49, 69) = 1;
    EXPECT_TRUE(SameImage(ExtractComponentAt(corner, -5, -5), corner));  // seed outside the image
}
