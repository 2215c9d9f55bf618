#include "toolkit/adjacency.h"
#include "toolkit/labelling.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace {

// Random mask with values 1 .. maxValue on about `density` of the pixels; a box
// blur of the noise followed by a threshold gives blobs of every shape.
cv::Mat RandomMask(int rows, int cols, double density, int maxValue, unsigned seed)
{
    cv::RNG rng(seed);
    cv::Mat noise(rows, cols, CV_32F);
    rng.fill(noise, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::blur(noise, noise, cv::Size(3, 3));
    cv::Mat mask = cv::Mat::zeros(rows, cols, CV_8UC1);
    cv::RNG values(seed + 1);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            if (noise.at<float>(y, x) > 1.0 - density)
                mask.at<uchar>(y, x) = static_cast<uchar>(values.uniform(1, maxValue + 1));
    return mask;
}

cv::Mat ReferenceLabels(const cv::Mat& mask01, int connectivity)
{
    cv::Mat labels;
    cv::connectedComponents(mask01, labels, connectivity, CV_32S, cv::CCL_SAUF);
    return labels;
}

// Same-value reference: each value labelled on its own by OpenCV, then all regions
// renumbered by the raster index of their first pixel.
cv::Mat ReferenceSameValueLabels(const cv::Mat& image, int connectivity)
{
    cv::Mat out = cv::Mat::zeros(image.size(), CV_32SC1);
    std::map<int, std::pair<int, int>> firstPixel;  // raster index -> (value, label)
    std::vector<cv::Mat> layers(256);
    for (int v = 1; v < 256; ++v) {
        cv::Mat layer = image == v;
        if (cv::countNonZero(layer) == 0)
            continue;
        cv::connectedComponents(layer, layers[v], connectivity, CV_32S, cv::CCL_SAUF);
        std::map<int, int> seen;
        for (int i = 0; i < image.rows * image.cols; ++i) {
            const int l = layers[v].at<int>(i / image.cols, i % image.cols);
            if (l != 0 && !seen.count(l)) {
                seen[l] = i;
                firstPixel[i] = {v, l};
            }
        }
    }
    int next = 1;
    std::map<std::pair<int, int>, int> finalLabel;
    for (const auto& entry : firstPixel)
        finalLabel[entry.second] = next++;
    for (int y = 0; y < image.rows; ++y)
        for (int x = 0; x < image.cols; ++x) {
            const int v = image.at<uchar>(y, x);
            if (v != 0)
                out.at<int>(y, x) = finalLabel[{v, layers[v].at<int>(y, x)}];
        }
    return out;
}

bool SameImage(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

// An 8-neighbourhood that lists one neighbour twice: same regions, but not one of the
// two usual relations, so labelling takes the general breadth-first route.
AdjRel* EightWithRepeat()
{
    AdjRel* adj = CreateAdjRel(10);
    AdjRelPtr eight(Create8NeighbourAdjRel());
    for (int i = 0; i < 9; ++i) {
        adj->dx[i] = eight->dx[i];
        adj->dy[i] = eight->dy[i];
    }
    adj->dx[9] = 1;
    adj->dy[9] = 1;
    return adj;
}

AdjRel* FourWithRepeat()
{
    AdjRel* adj = CreateAdjRel(6);
    AdjRelPtr four(Create4NeighbourAdjRel());
    for (int i = 0; i < 5; ++i) {
        adj->dx[i] = four->dx[i];
        adj->dy[i] = four->dy[i];
    }
    adj->dx[5] = -1;
    return adj;
}

struct Relation {
    const char* name;
    AdjRel* (*create)();
    int connectivity;
};

const Relation kRelations[] = {
    {"8-neighbour", Create8NeighbourAdjRel, 8},
    {"4-neighbour", Create4NeighbourAdjRel, 4},
    {"3x3 box", [] { return CreateBoxAdjRel(3, 3); }, 8},
    {"8 with repeat (queue walk)", EightWithRepeat, 8},
    {"4 with repeat (queue walk)", FourWithRepeat, 4},
};

}  // namespace

TEST(LabelComponents, MatchesOpenCvOnRandomMasks)
{
    const cv::Size sizes[] = {{97, 61}, {1, 40}, {40, 1}, {256, 256}};
    const double densities[] = {0.1, 0.35, 0.6};
    unsigned seed = 11;
    for (const Relation& relation : kRelations) {
        AdjRelPtr adj(relation.create());
        for (const cv::Size& size : sizes)
            for (double density : densities) {
                const cv::Mat mask = RandomMask(size.height, size.width, density, 1, seed++);
                const cv::Mat labels = LabelComponents(mask, adj.get());
                const cv::Mat reference = ReferenceLabels(mask, relation.connectivity);
                ASSERT_TRUE(SameImage(labels, reference))
                    << relation.name << " " << size << " density " << density;
                double refMax = 0;
                cv::minMaxLoc(reference, nullptr, &refMax);
                EXPECT_EQ(MaxLabel(labels), static_cast<int>(refMax));
            }
    }
}

TEST(LabelComponents, SeparatesTouchingAreasOfDifferentValues)
{
    cv::Mat image = cv::Mat::zeros(5, 6, CV_8UC1);
    image(cv::Rect(0, 0, 3, 5)).setTo(1);
    image(cv::Rect(3, 0, 3, 5)).setTo(2);
    for (const Relation& relation : kRelations) {
        AdjRelPtr adj(relation.create());
        const cv::Mat labels = LabelComponents(image, adj.get());
        EXPECT_EQ(labels.at<int>(0, 0), 1) << relation.name;
        EXPECT_EQ(labels.at<int>(4, 2), 1) << relation.name;
        EXPECT_EQ(labels.at<int>(0, 3), 2) << relation.name;
        EXPECT_EQ(labels.at<int>(4, 5), 2) << relation.name;
    }
}

TEST(LabelComponents, SameValueCriterionOnRandomGreyImages)
{
    unsigned seed = 300;
    for (const Relation& relation : kRelations) {
        AdjRelPtr adj(relation.create());
        for (double density : {0.3, 0.7}) {
            const cv::Mat image = RandomMask(80, 90, density, 3, seed++);
            const cv::Mat reference = ReferenceSameValueLabels(image, relation.connectivity);
            ASSERT_TRUE(SameImage(LabelComponents(image, adj.get()), reference)) << relation.name;

            cv::Mat wide;
            image.convertTo(wide, CV_16U, 1000.0);
            ASSERT_TRUE(SameImage(LabelComponents(wide, adj.get()), reference)) << relation.name;
        }
    }
}

TEST(LabelComponents, NumbersRegionsByTheirFirstPixelInRasterOrder)
{
    cv::Mat mask = cv::Mat::zeros(10, 60, CV_8UC1);
    mask.at<uchar>(4, 0) = 1;          // first pixel (0, 4)
    mask(cv::Rect(50, 3, 1, 6)).setTo(1);  // first pixel (50, 3), reaches further down
    mask(cv::Rect(20, 8, 1, 1)).setTo(1);
    AdjRelPtr adj(Create8NeighbourAdjRel());
    const cv::Mat labels = LabelComponents(mask, adj.get());
    EXPECT_EQ(labels.at<int>(3, 50), 1);
    EXPECT_EQ(labels.at<int>(8, 50), 1);
    EXPECT_EQ(labels.at<int>(4, 0), 2);
    EXPECT_EQ(labels.at<int>(8, 20), 3);
}

TEST(LabelComponents, DiagonalContactJoinsOnlyUnderEightNeighbours)
{
    cv::Mat mask = cv::Mat::zeros(4, 4, CV_8UC1);
    mask.at<uchar>(1, 1) = 1;
    mask.at<uchar>(2, 2) = 1;
    AdjRelPtr eight(Create8NeighbourAdjRel());
    AdjRelPtr four(Create4NeighbourAdjRel());
    EXPECT_EQ(MaxLabel(LabelComponents(mask, eight.get())), 1);
    EXPECT_EQ(MaxLabel(LabelComponents(mask, four.get())), 2);
    EXPECT_EQ(ComputeLabelCentroids(mask, four.get()).size(), 2u);
    EXPECT_EQ(ComputeLabelCentroids8(mask).size(), 1u);
}

TEST(LabelComponents, WiderRelationsJoinAcrossGaps)
{
    cv::Mat mask = cv::Mat::zeros(7, 7, CV_8UC1);
    mask.at<uchar>(1, 1) = 1;
    mask.at<uchar>(3, 3) = 1;
    mask.at<uchar>(6, 6) = 1;
    AdjRelPtr box5(CreateBoxAdjRel(5, 5));
    const cv::Mat labels = LabelComponents(mask, box5.get());
    EXPECT_EQ(labels.at<int>(1, 1), 1);
    EXPECT_EQ(labels.at<int>(3, 3), 1);
    EXPECT_EQ(labels.at<int>(6, 6), 2);
}

TEST(LabelComponents, EmptyAndAllZeroImages)
{
    AdjRelPtr adj(Create8NeighbourAdjRel());
    EXPECT_TRUE(LabelComponents(cv::Mat(), adj.get()).empty());
    EXPECT_TRUE(ComputeLabelCentroids8(cv::Mat()).empty());
    EXPECT_EQ(MaxLabel(cv::Mat()), -20000);
    EXPECT_TRUE(FilterComponentsBySize(cv::Mat(), 10, 30).empty());

    const cv::Mat zeros = cv::Mat::zeros(30, 40, CV_8UC1);
    const cv::Mat labels = LabelComponents(zeros, adj.get());
    EXPECT_EQ(labels.type(), CV_32SC1);
    EXPECT_EQ(cv::countNonZero(labels), 0);
    EXPECT_EQ(MaxLabel(labels), 0);
    EXPECT_TRUE(ComputeLabelCentroids8(zeros).empty());
    const cv::Mat filtered = FilterComponentsBySize(zeros, 1, 100);
    EXPECT_EQ(filtered.size(), zeros.size());
    EXPECT_EQ(cv::countNonZero(filtered), 0);
}

TEST(MaxLabel, StartsItsSearchAtMinus20000)
{
    cv::Mat labels = (cv::Mat_<int>(2, 2) << 0, 7, 3, -1);
    EXPECT_EQ(MaxLabel(labels), 7);
    EXPECT_EQ(MaxLabel(cv::Mat(2, 2, CV_32SC1, cv::Scalar(-30000))), -20000);
    EXPECT_EQ(MaxLabel(cv::Mat(2, 2, CV_8UC1, cv::Scalar(9))), 9);
}

TEST(LabelCentroids, TruncatesTheMeanOfASquare)
{
    cv::Mat mask = cv::Mat::zeros(40, 40, CV_8UC1);
    mask(cv::Rect(10, 20, 2, 2)).setTo(1);
    const std::vector<cv::Point> centroids = ComputeLabelCentroids8(mask);
    ASSERT_EQ(centroids.size(), 1u);
    EXPECT_EQ(centroids[0], cv::Point(10, 20));
}

TEST(LabelCentroids, MatchOpenCvCentroidsOnRandomMasks)
{
    unsigned seed = 500;
    for (const Relation& relation : kRelations) {
        AdjRelPtr adj(relation.create());
        const cv::Mat mask = RandomMask(120, 150, 0.3, 1, seed++);
        cv::Mat labels, stats, centres;
        const int n = cv::connectedComponentsWithStats(mask, labels, stats, centres,
                                                       relation.connectivity, CV_32S, cv::CCL_SAUF);
        const std::vector<cv::Point> centroids = ComputeLabelCentroids(mask, adj.get());
        ASSERT_EQ(static_cast<int>(centroids.size()), n - 1) << relation.name;
        for (int l = 1; l < n; ++l) {
            const cv::Point expected(static_cast<int>(static_cast<float>(centres.at<double>(l, 0))),
                                     static_cast<int>(static_cast<float>(centres.at<double>(l, 1))));
            EXPECT_EQ(centroids[static_cast<std::size_t>(l - 1)], expected) << relation.name;
        }
    }
}

TEST(LabelCentroids, LargeRegionDoesNotOverflowTheSums)
{
    // The column sum of a 2048 x 2048 region is about 4.3e9, past 32 bits.
    const cv::Mat mask(2048, 2048, CV_8UC1, cv::Scalar(1));
    const std::vector<cv::Point> centroids = ComputeLabelCentroids8(mask);
    ASSERT_EQ(centroids.size(), 1u);
    EXPECT_EQ(centroids[0], cv::Point(1023, 1023));
}

TEST(FilterComponentsBySize, KeepsBoundsInclusive)
{
    cv::Mat mask = cv::Mat::zeros(20, 60, CV_8UC1);
    mask(cv::Rect(0, 0, 9, 1)).setTo(1);   // 9
    mask(cv::Rect(0, 5, 10, 1)).setTo(1);  // 10
    mask(cv::Rect(20, 0, 10, 3)).setTo(1); // 30
    mask(cv::Rect(40, 0, 10, 3)).setTo(1); // 31 with the pixel below
    mask.at<uchar>(3, 40) = 1;
    const cv::Mat out = FilterComponentsBySize(mask, 10, 30);
    EXPECT_EQ(out.type(), CV_8UC1);
    EXPECT_EQ(out.at<uchar>(0, 0), 0);
    EXPECT_EQ(out.at<uchar>(5, 0), 1);
    EXPECT_EQ(out.at<uchar>(0, 20), 1);
    EXPECT_EQ(out.at<uchar>(0, 40), 0);
    EXPECT_EQ(cv::countNonZero(out), 40);
}

TEST(FilterComponentsBySize, CountsDiagonalNeighboursSeparately)
{
    // Two 20-pixel squares meeting at a corner: 40 pixels together would be removed.
    cv::Mat mask = cv::Mat::zeros(20, 20, CV_8UC1);
    mask(cv::Rect(0, 0, 5, 4)).setTo(1);
    mask(cv::Rect(5, 4, 5, 4)).setTo(1);
    EXPECT_EQ(cv::countNonZero(FilterComponentsBySize(mask, 10, 30)), 40);
}

namespace {

// The nearest non-zero pixel found literally: growing boxes scanned entry by entry.
cv::Point BoxSearchSeed(const cv::Mat& mask, int x, int y)
{
    if (mask.at<uchar>(y, x) != 0)
        return {x, y};
    for (int s = 3; s <= 2 * std::max(mask.rows, mask.cols) + 1; s += 2) {
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
    mask(cv::Rect(12, 10, 3, 1)).setTo(1);  // (x + 2, y) and right of it
    mask(cv::Rect(5, 6, 4, 3)).setTo(1);    // ends at (x - 2, y - 2)
    const cv::Mat input = mask.clone();
    const cv::Mat out = ExtractComponentAt(mask, 10, 10);
    EXPECT_EQ(cv::countNonZero(out), 12);
    EXPECT_EQ(out.at<uchar>(8, 8), 1);
    EXPECT_EQ(out.at<uchar>(10, 12), 0);
    EXPECT_TRUE(SameImage(mask, input));
}

TEST(ExtractComponentAt, RingSearchAgreesWithTheBoxSearch)
{
    for (unsigned seed = 0; seed < 40; ++seed) {
        cv::RNG rng(seed);
        cv::Mat mask = cv::Mat::zeros(31, 37, CV_8UC1);
        const int dots = rng.uniform(1, 6);
        for (int i = 0; i < dots; ++i)
            mask.at<uchar>(rng.uniform(0, 31), rng.uniform(0, 37)) = 1;
        const int x = rng.uniform(0, 37);
        const int y = rng.uniform(0, 31);
        const cv::Point seedPoint = BoxSearchSeed(mask, x, y);
        cv::Mat labels;
        cv::connectedComponents(mask, labels, 8, CV_32S, cv::CCL_SAUF);
        const cv::Mat expected = (labels == labels.at<int>(seedPoint)) / 255;
        ASSERT_TRUE(SameImage(ExtractComponentAt(mask, x, y), expected)) << "seed " << seed;
    }
}

TEST(ExtractComponentAt, FloodsEightConnectedNonZeroPixels)
{
    cv::Mat mask = cv::Mat::zeros(8, 8, CV_8UC1);
    mask.at<uchar>(1, 1) = 1;
    mask.at<uchar>(2, 2) = 255;  // any non-zero value belongs
    mask.at<uchar>(3, 3) = 2;
    mask.at<uchar>(6, 6) = 1;    // not connected
    const cv::Mat out = ExtractComponentAt(mask, 2, 2);
    EXPECT_EQ(cv::countNonZero(out), 3);
    EXPECT_EQ(out.at<uchar>(3, 3), 1);
    EXPECT_EQ(out.at<uchar>(6, 6), 0);
}

TEST(ExtractComponentAt, AllZeroOrEmptyMaskGivesNothing)
{
    const cv::Mat zeros = cv::Mat::zeros(50, 70, CV_8UC1);
    const cv::Mat out = ExtractComponentAt(zeros, 25, 35);
    EXPECT_EQ(out.size(), zeros.size());
    EXPECT_EQ(cv::countNonZero(out), 0);
    EXPECT_TRUE(ExtractComponentAt(cv::Mat(), 0, 0).empty());

    cv::Mat corner = zeros.clone();
    corner.at<uchar>(49, 69) = 1;
    EXPECT_EQ(ExtractComponentAt(corner, -5, -5).at<uchar>(49, 69), 1);
}
