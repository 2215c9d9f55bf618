// Fuzz and property tests of the toolkit: random masks and grey images of random
// sizes (empty, 1 x 1, 1 x N, N x 1, views into larger images, several depths) through
// every labelling, filtering, measuring, segmentation and margin function. Results are
// checked against OpenCV's connected components and brute-force searches where a
// truth exists, and against the functions' contracts everywhere; under the sanitizers
// the same run checks that nothing reads or writes out of bounds.

#include "tests/fuzz_settings.h"
#include "toolkit/adjacency.h"
#include "toolkit/hole_filling.h"
#include "toolkit/labelling.h"
#include "toolkit/margins.h"
#include "toolkit/particle_measure.h"
#include "toolkit/pixel_queue.h"
#include "toolkit/segmentation.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <set>
#include <utility>
#include <vector>

namespace {

// Empty, degenerate and ordinary sizes, each often enough.
cv::Size RandomSize(cv::RNG& rng)
{
    switch (rng.uniform(0, 8)) {
    case 0: return {rng.uniform(0, 2) * rng.uniform(0, 5), 0};  // 0 x 0 or N x 0
    case 1: return {1, 1};
    case 2: return {rng.uniform(2, 70), 1};
    case 3: return {1, rng.uniform(2, 70)};
    case 4: return {rng.uniform(2, 8), rng.uniform(2, 8)};
    default: return {rng.uniform(2, 90), rng.uniform(2, 70)};
    }
}

// Sometimes a view into a larger image, so that rows are not contiguous.
cv::Mat MaybeView(cv::RNG& rng, const cv::Mat& image)
{
    if (image.empty() || rng.uniform(0, 3) != 0)
        return image;
    cv::Mat frame(image.rows + 4, image.cols + 5, image.type(), cv::Scalar::all(7));
    const cv::Rect inner(rng.uniform(0, 6), rng.uniform(0, 5), image.cols, image.rows);
    image.copyTo(frame(inner));
    return frame(inner);
}

// Blobs of every shape (blurred noise above a level) with values drawn from `values`.
cv::Mat RandomMask(cv::RNG& rng, cv::Size size, const std::vector<uchar>& values)
{
    cv::Mat mask = cv::Mat::zeros(size, CV_8UC1);
    if (mask.empty())
        return mask;
    cv::Mat noise(size, CV_32F);
    rng.fill(noise, cv::RNG::UNIFORM, 0.0, 1.0);
    if (rng.uniform(0, 2) == 0)
        cv::blur(noise, noise, cv::Size(3, 3));
    const double density = rng.uniform(0.0, 1.0);
    for (int y = 0; y < mask.rows; ++y)
        for (int x = 0; x < mask.cols; ++x)
            if (noise.at<float>(y, x) > 1.0 - density)
                mask.at<uchar>(y, x) = values[static_cast<size_t>(rng.uniform(0, static_cast<int>(values.size())))];
    return mask;
}

cv::Mat RandomGrey(cv::RNG& rng, cv::Size size)
{
    cv::Mat grey(size, CV_8UC1);
    if (grey.empty())
        return grey;
    switch (rng.uniform(0, 4)) {
    case 0:  // noise over the whole range
        rng.fill(grey, cv::RNG::UNIFORM, 0, 256);
        break;
    case 1:  // one grey level
        grey.setTo(rng.uniform(0, 256));
        break;
    default: {  // bright background with dark blobs
        rng.fill(grey, cv::RNG::NORMAL, rng.uniform(120, 230), rng.uniform(0, 8));
        const cv::Mat blobs = RandomMask(rng, size, {1});
        grey.setTo(rng.uniform(0, 100), blobs);
        break;
    }
    }
    return grey;
}

// Empty images compare equal whatever their nominal size.
bool SameSize(const cv::Mat& a, const cv::Mat& b)
{
    return (a.empty() && b.empty()) || a.size() == b.size();
}

bool SameImage(const cv::Mat& a, const cv::Mat& b)
{
    if (a.empty() || b.empty())
        return a.empty() && b.empty();
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

// Regions of equal non-zero value, by OpenCV, one value at a time (OpenCV treats
// every non-zero pixel alike, and regions of different values never merge).
struct Reference {
    cv::Mat labels;             // CV_32S, 0 background, numbered per value then merged
    std::vector<int> areas;     // by label; areas[0] = 0
    std::vector<cv::Point2d> centroids;
};

Reference ReferenceRegions(const cv::Mat& mask, int connectivity)
{
    Reference ref;
    ref.labels = cv::Mat::zeros(mask.size(), CV_32S);
    ref.areas.push_back(0);
    ref.centroids.emplace_back();
    std::set<uchar> values;
    for (int y = 0; y < mask.rows; ++y)
        for (int x = 0; x < mask.cols; ++x)
            if (mask.at<uchar>(y, x) != 0)
                values.insert(mask.at<uchar>(y, x));
    for (uchar v : values) {
        cv::Mat labels, stats, centres;
        const int n = cv::connectedComponentsWithStats(mask == v, labels, stats, centres, connectivity, CV_32S,
                                                       cv::CCL_SAUF);
        const int first = static_cast<int>(ref.areas.size()) - 1;
        for (int l = 1; l < n; ++l) {
            ref.areas.push_back(stats.at<int>(l, cv::CC_STAT_AREA));
            ref.centroids.emplace_back(centres.at<double>(l, 0), centres.at<double>(l, 1));
        }
        for (int y = 0; y < mask.rows; ++y)
            for (int x = 0; x < mask.cols; ++x)
                if (labels.at<int>(y, x) != 0)
                    ref.labels.at<int>(y, x) = first + labels.at<int>(y, x);
    }
    return ref;
}

// Our labels and OpenCV's describe the same partition when each of our labels maps to
// exactly one reference label and back.
bool SamePartition(const cv::Mat& ours, const cv::Mat& reference)
{
    std::vector<std::pair<int, int>> pairs;
    for (int y = 0; y < ours.rows; ++y)
        for (int x = 0; x < ours.cols; ++x)
            pairs.emplace_back(ours.at<int>(y, x), reference.at<int>(y, x));
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    std::set<int> left, right;
    for (const auto& p : pairs) {
        if ((p.first == 0) != (p.second == 0) || !left.insert(p.first).second || !right.insert(p.second).second)
            return false;
    }
    return true;
}

// Our labels number regions in raster order of their first pixel.
bool RasterNumbered(const cv::Mat& labels)
{
    int next = 1;
    for (int y = 0; y < labels.rows; ++y)
        for (int x = 0; x < labels.cols; ++x) {
            const int l = labels.at<int>(y, x);
            if (l > next)
                return false;
            if (l == next)
                ++next;
        }
    return true;
}

// The nearest non-zero pixel in chessboard distance, ties to the upper row, then the
// left column, found by looking at every pixel.
bool NearestNonZero(const cv::Mat& mask, int x, int y, cv::Point& seed)
{
    long best = -1;
    for (int py = 0; py < mask.rows; ++py)
        for (int px = 0; px < mask.cols; ++px) {
            if (mask.at<uchar>(py, px) == 0)
                continue;
            const long d = std::max(std::labs(static_cast<long>(px) - x), std::labs(static_cast<long>(py) - y));
            if (best < 0 || d < best) {
                best = d;
                seed = cv::Point(px, py);
            }
        }
    return best >= 0;
}

cv::Mat Binary(const cv::Mat& image)
{
    cv::Mat out = cv::Mat::zeros(image.size(), CV_8UC1);
    if (!image.empty())
        out.setTo(1, image != 0);
    return out;
}

// A 0/1 mask of a list of points.
cv::Mat MaskOf(const std::vector<cv::Point>& points, cv::Size size)
{
    cv::Mat mask = cv::Mat::zeros(size, CV_8UC1);
    for (const cv::Point& p : points)
        mask.at<uchar>(p) = 1;
    return mask;
}

struct Relation {
    const char* name;
    AdjRel* (*create)();
    int connectivity;
};

// The usual relation with its first neighbour listed twice: same regions, general walk.
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

const Relation kRelations[] = {
    {"8", Create8NeighbourAdjRel, 8},
    {"4", Create4NeighbourAdjRel, 4},
    {"8 walked", [] { return WithRepeat(Create8NeighbourAdjRel()); }, 8},
    {"4 walked", [] { return WithRepeat(Create4NeighbourAdjRel()); }, 4},
    {"box 3", [] { return CreateBoxAdjRel(3, 3); }, 8},
};

cv::Mat AsDepth(const cv::Mat& mask, int depth)
{
    cv::Mat out;
    mask.convertTo(out, depth);
    return out;
}

const int kDepths[] = {CV_8U, CV_8U, CV_16U, CV_32S, CV_32F};

}  // namespace

TEST(ToolkitFuzz, LabellingAgreesWithOpenCv)
{
    const FuzzSettings fuzz = FuzzSettingsFromEnvironment(1000);
    for (int i = 0; i < fuzz.iterations; ++i) {
        const unsigned seed = fuzz.seed + static_cast<unsigned>(i);
        SCOPED_TRACE(FuzzCase(seed));
        cv::RNG rng(seed);
        const cv::Size size = RandomSize(rng);
        const bool binary = rng.uniform(0, 2) == 0;
        const cv::Mat mask8 = RandomMask(rng, size, binary ? std::vector<uchar>{1} : std::vector<uchar>{1, 2, 255});
        const int depth = kDepths[rng.uniform(0, 5)];
        const cv::Mat mask = MaybeView(rng, AsDepth(mask8, depth));
        SCOPED_TRACE(::testing::Message() << size << " depth " << depth << (binary ? " binary" : " values"));

        for (const Relation& relation : kRelations) {
            SCOPED_TRACE(relation.name);
            AdjRelPtr adj(relation.create());
            const cv::Mat labels = LabelComponents(mask, adj.get());
            const std::vector<cv::Point> centroids = ComputeLabelCentroids(mask, adj.get());
            if (mask.empty()) {
                EXPECT_TRUE(labels.empty());
                EXPECT_TRUE(centroids.empty());
                continue;
            }
            ASSERT_EQ(labels.type(), CV_32SC1);
            ASSERT_EQ(labels.size(), mask.size());
            const Reference ref = ReferenceRegions(mask8, relation.connectivity);
            ASSERT_TRUE(SamePartition(labels, ref.labels));
            ASSERT_TRUE(RasterNumbered(labels));
            const int regions = static_cast<int>(ref.areas.size()) - 1;
            EXPECT_EQ(MaxLabel(labels), regions);

            // Centroids: the truncated mean of each region, in label order.
            ASSERT_EQ(static_cast<int>(centroids.size()), regions);
            for (int y = 0; y < labels.rows; ++y)
                for (int x = 0; x < labels.cols; ++x) {
                    const int l = labels.at<int>(y, x);
                    if (l == 0)
                        continue;
                    const cv::Point2d& c = ref.centroids[static_cast<size_t>(ref.labels.at<int>(y, x))];
                    const cv::Point expected(static_cast<int>(static_cast<float>(c.x)),
                                             static_cast<int>(static_cast<float>(c.y)));
                    ASSERT_EQ(centroids[static_cast<size_t>(l - 1)], expected) << "label " << l;
                }
        }
    }
}

TEST(ToolkitFuzz, SizeFilterAndSmallRegionsAgreeWithOpenCvAreas)
{
    const FuzzSettings fuzz = FuzzSettingsFromEnvironment(1000);
    for (int i = 0; i < fuzz.iterations; ++i) {
        const unsigned seed = fuzz.seed + static_cast<unsigned>(i);
        SCOPED_TRACE(FuzzCase(seed));
        cv::RNG rng(seed);
        const cv::Size size = RandomSize(rng);
        const cv::Mat mask8 = RandomMask(rng, size, rng.uniform(0, 2) ? std::vector<uchar>{1} : std::vector<uchar>{1, 2, 255});
        const int depth = kDepths[rng.uniform(0, 5)];
        const cv::Mat mask = MaybeView(rng, AsDepth(mask8, depth));
        const int lo = rng.uniform(-3, 40);
        const int hi = rng.uniform(-3, 120);
        SCOPED_TRACE(::testing::Message() << size << " depth " << depth << " range " << lo << " .. " << hi);

        // FilterComponentsBySize: 4-connected regions of equal value kept by their
        // area; the background (area 0) too when the range admits 0.
        const cv::Mat filtered = FilterComponentsBySize(mask, lo, hi);
        ASSERT_TRUE(SameSize(filtered, mask));
        if (!mask.empty()) {
            ASSERT_EQ(filtered.type(), CV_8UC1);
            const Reference four = ReferenceRegions(mask8, 4);
            for (int y = 0; y < mask.rows; ++y)
                for (int x = 0; x < mask.cols; ++x) {
                    const int area = four.areas[static_cast<size_t>(four.labels.at<int>(y, x))];
                    ASSERT_EQ(filtered.at<uchar>(y, x), area >= lo && area <= hi ? 1 : 0) << x << ", " << y;
                }
        }

        // RemoveSmallComponents: regions of value exactly 1 with at most 50 pixels go;
        // every other value stays.
        if (depth != CV_8U)
            continue;
        for (const Relation& relation : {kRelations[0], kRelations[1]}) {
            AdjRelPtr adj(relation.create());
            const cv::Mat out = RemoveSmallComponents(mask, adj.get());
            ASSERT_TRUE(SameSize(out, mask));
            if (mask.empty())
                continue;
            cv::Mat labels, stats, centres;
            cv::connectedComponentsWithStats(mask8 == 1, labels, stats, centres, relation.connectivity, CV_32S);
            for (int y = 0; y < mask.rows; ++y)
                for (int x = 0; x < mask.cols; ++x) {
                    const int l = labels.at<int>(y, x);
                    const bool cleared = l != 0 && stats.at<int>(l, cv::CC_STAT_AREA) <= 50;
                    ASSERT_EQ(out.at<uchar>(y, x), cleared ? 0 : mask8.at<uchar>(y, x)) << relation.name;
                }
        }

        // FillSmallHoles: non-zero becomes 1, and so does every 4-connected zero region
        // of at most 50 pixels.
        const cv::Mat filled = FillSmallHoles(mask);
        if (mask.empty()) {
            EXPECT_TRUE(filled.empty());
            continue;
        }
        cv::Mat holes, stats, centres;
        cv::connectedComponentsWithStats(mask8 == 0, holes, stats, centres, 4, CV_32S);
        for (int y = 0; y < mask.rows; ++y)
            for (int x = 0; x < mask.cols; ++x) {
                const int l = holes.at<int>(y, x);
                const bool one = l == 0 || stats.at<int>(l, cv::CC_STAT_AREA) <= 50;
                ASSERT_EQ(filled.at<uchar>(y, x), one ? 1 : 0) << x << ", " << y;
            }
        EXPECT_TRUE(SameImage(InvertMask01(mask), Binary(mask8 == 0)));
    }
}

TEST(ToolkitFuzz, ExtractAndMeasureTheParticleNearestThePoint)
{
    const FuzzSettings fuzz = FuzzSettingsFromEnvironment(1000);
    for (int i = 0; i < fuzz.iterations; ++i) {
        const unsigned seed = fuzz.seed + static_cast<unsigned>(i);
        SCOPED_TRACE(FuzzCase(seed));
        cv::RNG rng(seed);
        const cv::Size size = RandomSize(rng);
        cv::Mat mask8 = RandomMask(rng, size, {1, 3, 255});
        if (rng.uniform(0, 4) == 0)
            mask8.setTo(0);  // nothing to find
        const int depth = kDepths[rng.uniform(0, 5)];
        const cv::Mat mask = MaybeView(rng, AsDepth(mask8, depth));
        const cv::Mat before = mask.clone();
        const int x = rng.uniform(-4, size.width + 4);
        const int y = rng.uniform(-4, size.height + 4);
        SCOPED_TRACE(::testing::Message() << size << " depth " << depth << " at " << x << ", " << y);

        const cv::Mat region = ExtractComponentAt(mask, x, y);
        ASSERT_TRUE(SameImage(mask, before));  // the input is not changed
        ASSERT_TRUE(SameSize(region, mask));
        cv::Point seed8;
        if (!NearestNonZero(mask8, x, y, seed8)) {
            EXPECT_EQ(region.empty() ? 0 : cv::countNonZero(region), 0);
        } else {
            cv::Mat labels;
            cv::connectedComponents(mask8 != 0, labels, 8, CV_32S);
            ASSERT_TRUE(SameImage(region, Binary(labels == labels.at<int>(seed8))));
        }

        // MeasureParticle measures that region at the window's centre pixel.
        const int minArea = rng.uniform(-2, 30);
        const int maxArea = rng.uniform(-2, 80);
        const ParticleMeasure m = MeasureParticle(mask, 4, y, x, minArea, maxArea);
        EXPECT_EQ(m.frame, 4);
        EXPECT_EQ(m.x, x);
        EXPECT_EQ(m.y, y);
        EXPECT_EQ(m.inRange, m.area >= minArea && m.area <= maxArea);
        const cv::Mat centred = ExtractComponentAt(mask, mask.cols / 2, mask.rows / 2);
        EXPECT_EQ(m.area, centred.empty() ? 0 : cv::countNonZero(centred));
        if (m.area == 0) {
            EXPECT_EQ(m.ratio, 0.0);
            EXPECT_EQ(m.circularity, 0.0);
        }
        if (std::isfinite(m.ratio)) {
            EXPECT_GE(m.ratio, 0.0);
            EXPECT_LE(m.ratio, 1.0);
        }
        if (std::isfinite(m.circularity)) {
            EXPECT_GE(m.circularity, 0.0);
        }

        // Shape factors of any mask: a ratio of sides in [0, 1] whenever it is finite.
        double ratio = -1.0, circularity = -1.0;
        ComputeShapeFactors(mask, ratio, circularity);
        if (std::isfinite(ratio)) {
            EXPECT_GE(ratio, 0.0);
            EXPECT_LE(ratio, 1.0);
        }
        ASSERT_TRUE(SameImage(mask, before));
    }
}

TEST(ToolkitFuzz, SegmentationsAreThresholdsOfTheirImages)
{
    const FuzzSettings fuzz = FuzzSettingsFromEnvironment(1000);
    for (int i = 0; i < fuzz.iterations; ++i) {
        const unsigned seed = fuzz.seed + static_cast<unsigned>(i);
        SCOPED_TRACE(FuzzCase(seed));
        cv::RNG rng(seed);
        const cv::Size size = RandomSize(rng);
        const cv::Mat grey = MaybeView(rng, RandomGrey(rng, size));
        const cv::Mat before = grey.clone();
        SCOPED_TRACE(::testing::Message() << size);

        const auto isMaskOf = [&](const cv::Mat& mask) {
            if (grey.empty())
                return mask.empty();
            return mask.size() == grey.size() && mask.type() == CV_8UC1 && cv::countNonZero(mask > 1) == 0;
        };
        // Foreground is everything at or below one level of `values`, nothing above it.
        const auto isLowerSet = [](const cv::Mat& values, const cv::Mat& mask) {
            int highestIn = -1, lowestOut = 256;
            for (int y = 0; y < mask.rows; ++y)
                for (int x = 0; x < mask.cols; ++x) {
                    const int v = values.at<uchar>(y, x);
                    if (mask.at<uchar>(y, x))
                        highestIn = std::max(highestIn, v);
                    else
                        lowestOut = std::min(lowestOut, v);
                }
            return highestIn < lowestOut;
        };

        const cv::Mat otsu = SegmentOtsu(grey);
        ASSERT_TRUE(isMaskOf(otsu));
        if (!grey.empty()) {
            cv::Mat median;
            cv::medianBlur(grey, median, 3);
            EXPECT_TRUE(isLowerSet(median, otsu));
        }

        const cv::Mat mode = SegmentModeValue(grey);
        ASSERT_TRUE(isMaskOf(mode));
        if (!grey.empty()) {
            EXPECT_TRUE(isLowerSet(grey, mode));
            EXPECT_EQ(cv::countNonZero((grey <= 50) & (mode == 0)), 0);  // never below 50
        }

        ASSERT_TRUE(isMaskOf(SegmentSelection(grey)));

        // FrameDiffMask against a second image of another size, or none.
        const cv::Size otherSize = rng.uniform(0, 2) ? size : RandomSize(rng);
        const cv::Mat other = RandomGrey(rng, otherSize);
        const cv::Mat diff = FrameDiffMask(grey, other);
        ASSERT_TRUE(SameSize(diff, grey));
        for (int y = 0; y < grey.rows; ++y)
            for (int x = 0; x < grey.cols; ++x) {
                const bool covered = y < other.rows && x < other.cols;
                const bool darker = covered && other.at<uchar>(y, x) - grey.at<uchar>(y, x) >= 9;
                ASSERT_EQ(diff.at<uchar>(y, x), darker ? 1 : 0) << x << ", " << y;
            }
        ASSERT_TRUE(SameImage(grey, before));

        // The selection measure: one 8-connected particle inside the clipped rectangle.
        const cv::Point c1(rng.uniform(-5, size.width + 5), rng.uniform(-5, size.height + 5));
        const cv::Point c2(rng.uniform(-5, size.width + 5), rng.uniform(-5, size.height + 5));
        const SelectedParticle picked = MeasureSelectedParticle(grey, c1, c2);
        if (grey.empty()) {
            EXPECT_TRUE(picked.pixels.empty());
            continue;
        }
        const cv::Rect image(0, 0, grey.cols, grey.rows);
        ASSERT_TRUE(image.contains(picked.corner));
        const cv::Point far(std::clamp(std::max(c1.x, c2.x), 0, grey.cols - 1),
                            std::clamp(std::max(c1.y, c2.y), 0, grey.rows - 1));
        const cv::Rect box(picked.corner, far + cv::Point(1, 1));
        for (const cv::Point& p : picked.pixels)
            ASSERT_TRUE(box.contains(p + picked.corner)) << p;
        if (!picked.pixels.empty()) {
            cv::Mat labels;
            const cv::Mat particle = MaskOf(picked.pixels, box.size());
            EXPECT_EQ(cv::connectedComponents(particle, labels, 8), 2);
            EXPECT_EQ(cv::countNonZero(particle), static_cast<int>(picked.pixels.size()));  // no repeats
        }
    }
}

TEST(ToolkitFuzz, MarginsStayInsideTheImage)
{
    const FuzzSettings fuzz = FuzzSettingsFromEnvironment(1000);
    for (int i = 0; i < fuzz.iterations; ++i) {
        const unsigned seed = fuzz.seed + static_cast<unsigned>(i);
        SCOPED_TRACE(FuzzCase(seed));
        cv::RNG rng(seed);
        const cv::Size size = RandomSize(rng);
        const cv::Mat grey = MaybeView(rng, RandomGrey(rng, size));
        const int top = rng.uniform(-3, size.height + 4), bottom = rng.uniform(-3, size.height + 4);
        const int left = rng.uniform(-3, size.width + 4), right = rng.uniform(-3, size.width + 4);
        SCOPED_TRACE(::testing::Message() << size << " margins " << top << " " << bottom << " " << left << " "
                                          << right);
        const auto inBand = [&](int x, int y) {
            return y < top || y >= grey.rows - bottom || x < left || x >= grey.cols - right;
        };

        const cv::Mat cleared = ClearMargins(grey, top, bottom, left, right);
        const cv::Mat hatched = DrawHatchedMargins(grey, top, bottom, left, right);
        ASSERT_TRUE(SameSize(cleared, grey));
        ASSERT_TRUE(SameSize(hatched, grey));
        for (int y = 0; y < grey.rows; ++y)
            for (int x = 0; x < grey.cols; ++x) {
                const uchar g = grey.at<uchar>(y, x);
                ASSERT_EQ(cleared.at<uchar>(y, x), inBand(x, y) ? 0 : g) << x << ", " << y;
                const uchar h = hatched.at<uchar>(y, x);
                if (inBand(x, y)) {
                    ASSERT_TRUE(h == 0 || h == 255) << x << ", " << y;
                } else {
                    ASSERT_EQ(h, g) << x << ", " << y;
                }
            }
    }
}

TEST(ToolkitFuzz, QueuesAndBoxRelationsKeepTheirContracts)
{
    const FuzzSettings fuzz = FuzzSettingsFromEnvironment(1000);
    for (int i = 0; i < fuzz.iterations; ++i) {
        const unsigned seed = fuzz.seed + static_cast<unsigned>(i);
        SCOPED_TRACE(FuzzCase(seed));
        cv::RNG rng(seed);

        // A queue against a bounded deque: full queues drop, empty ones give -1.
        const int capacity = rng.uniform(-2, 9);
        QueuePtr queue(CreateQueue(capacity));
        std::deque<int> model;
        for (int op = 0; op < 60; ++op) {
            if (rng.uniform(0, 2) == 0) {
                const int value = rng.uniform(0, 1000);
                QueuePush(queue.get(), value);
                if (static_cast<int>(model.size()) < std::max(capacity, 0))
                    model.push_back(value);
            } else {
                const int expected = model.empty() ? -1 : model.front();
                if (!model.empty())
                    model.pop_front();
                ASSERT_EQ(QueuePop(queue.get()), expected) << "capacity " << capacity << " op " << op;
            }
            ASSERT_EQ(QueueIsEmpty(queue.get()), model.empty());
        }

        // Box relations: every displacement of the odd-sized box once, the centre first.
        const int w = rng.uniform(-3, 10), h = rng.uniform(-3, 10);
        AdjRelPtr box(CreateBoxAdjRel(w, h));
        const int bw = std::max(w, 0) | 1, bh = std::max(h, 0) | 1;
        ASSERT_EQ(box->n, bw * bh) << w << " x " << h;
        EXPECT_TRUE(box->dx[0] == 0 && box->dy[0] == 0);
        std::set<std::pair<int, int>> seen;
        for (int k = 0; k < box->n; ++k) {
            EXPECT_LE(std::abs(box->dx[k]), bw / 2);
            EXPECT_LE(std::abs(box->dy[k]), bh / 2);
            seen.insert({box->dx[k], box->dy[k]});
        }
        EXPECT_EQ(static_cast<int>(seen.size()), box->n);
    }
}
