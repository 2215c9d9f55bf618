// Fuzz and property tests of the toolkit: random masks and grey images of degenerate and
// small sizes, views and several depths, against OpenCV's connected components and
// thresholds; under the sanitizers the same run checks every access.

#include "tests/fuzz_settings.h"
#include "toolkit/adjacency.h"
#include "toolkit/filled_parts.h"
#include "toolkit/hole_filling.h"
#include "toolkit/labelling.h"
#include "toolkit/margins.h"
#include "toolkit/particle_measure.h"
#include "toolkit/segmentation.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

// 1 x 1, 1 x N, N x 1 and small sizes.
cv::Size RandomSize(cv::RNG& rng)
{
    const int kind = rng.uniform(0, 7), w = rng.uniform(2, 90), h = rng.uniform(2, 70);
    return kind == 0 ? cv::Size(1, 1) : kind == 1 ? cv::Size(w, 1) : kind == 2 ? cv::Size(1, h) : cv::Size(w, h);
}

// The image converted to `depth`, a third of the time as a view into a larger image
// (rows not contiguous).
cv::Mat Variant(cv::RNG& rng, const cv::Mat& image, int depth)
{
    cv::Mat frame(image.rows + 4, image.cols + 5, CV_MAKETYPE(depth, 1), cv::Scalar::all(7));
    cv::Mat view = frame(cv::Rect(rng.uniform(0, 6), rng.uniform(0, 5), image.cols, image.rows));
    image.convertTo(view, depth);
    return rng.uniform(0, 3) == 0 ? view : view.clone();
}

// Blobs of every shape (blurred noise above a random level) of value 1, or of 1, 2 and 255.
cv::Mat RandomMask(cv::RNG& rng, cv::Size size, bool manyValues)
{
    cv::Mat mask = cv::Mat::zeros(size, CV_8UC1), noise(size, CV_32F), values(size, CV_8UC1);
    rng.fill(noise, cv::RNG::UNIFORM, 0.0, 1.0);
    if (rng.uniform(0, 2) == 0) cv::blur(noise, noise, cv::Size(3, 3));
    rng.fill(values, cv::RNG::UNIFORM, 1, manyValues ? 4 : 2);
    values.setTo(255, values == 3);
    values.copyTo(mask, noise > 1.0 - rng.uniform(0.0, 1.0));
    return mask;
}

// Dark blobs on a bright background of some noise, or noise over the whole range.
cv::Mat RandomGrey(cv::RNG& rng, cv::Size size)
{
    cv::Mat grey(size, CV_8UC1);
    rng.fill(grey, cv::RNG::NORMAL, rng.uniform(120, 230), rng.uniform(0, 3) ? rng.uniform(0, 8) : 100);
    grey.setTo(rng.uniform(0, 100), RandomMask(rng, size, false));
    return grey;
}

bool SameImage(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

// What ours must give: OpenCV's regions of each value, numbered 1 .. N in raster order
// of their first pixel; each pixel's region area; the truncated centroids in label order.
struct Reference {
    cv::Mat labels, area;
    std::vector<cv::Point> centroids;
};

Reference ReferenceRegions(const cv::Mat& mask8, int connectivity)
{
    Reference ref{cv::Mat::zeros(mask8.size(), CV_32S), cv::Mat::zeros(mask8.size(), CV_32S), {}};
    std::vector<cv::Point3d> region{{}};  // centroid and area of each region, by OpenCV's label plus offset
    for (int value : {1, 2, 255}) {       // regions of different values never merge
        cv::Mat labels, stats, c;
        cv::connectedComponentsWithStats(mask8 == value, labels, stats, c, connectivity, CV_32S, cv::CCL_SAUF);
        cv::add(ref.labels, labels + static_cast<int>(region.size()) - 1, ref.labels, mask8 == value);
        for (int l = 1; l < stats.rows; ++l)
            region.emplace_back(c.at<double>(l, 0), c.at<double>(l, 1), stats.at<int>(l, cv::CC_STAT_AREA));
    }
    std::vector<int> number(region.size(), 0);
    for (int y = 0; y < mask8.rows; ++y)
        for (int x = 0; x < mask8.cols; ++x) {
            int& l = ref.labels.at<int>(y, x);
            ref.area.at<int>(y, x) = static_cast<int>(region[size_t(l)].z);
            if (l != 0 && number[size_t(l)] == 0) {
                number[size_t(l)] = static_cast<int>(ref.centroids.size()) + 1;
                ref.centroids.emplace_back(int(float(region[size_t(l)].x)), int(float(region[size_t(l)].y)));
            }
            l = number[size_t(l)];
        }
    return ref;
}

// The 4- or 8-neighbourhood; walked, with the centre listed once more at the end, which
// sends the same regions through the queue walk instead of the run-based route.
AdjRel* Relation(int connectivity, bool walked)
{
    AdjRelPtr base(connectivity == 4 ? Create4NeighbourAdjRel() : Create8NeighbourAdjRel());
    AdjRel* adj = CreateAdjRel(base->n + (walked ? 1 : 0));  // the extra entry stays (0, 0)
    std::copy(base->dx, base->dx + base->n, adj->dx);
    std::copy(base->dy, base->dy + base->n, adj->dy);
    return adj;
}

}  // namespace

TEST(ToolkitFuzz, RegionsAgreeWithOpenCvConnectedComponents)
{
    ForEachFuzzCase(1000, [](cv::RNG& rng) {
        const cv::Size size = RandomSize(rng);
        const cv::Mat mask8 = RandomMask(rng, size, rng.uniform(0, 2) == 0);
        const int depth = std::vector<int>{CV_8U, CV_8U, CV_16U, CV_32S, CV_32F}[size_t(rng.uniform(0, 5))];
        const cv::Mat mask = Variant(rng, mask8, depth), before = mask.clone();
        const int lo = rng.uniform(-3, 40), hi = rng.uniform(-3, 120);
        const int x = rng.uniform(-4, size.width + 4), y = rng.uniform(-4, size.height + 4);
        SCOPED_TRACE(::testing::Message() << size << " depth " << depth << " range " << lo << " .. " << hi);
        for (int connectivity : {4, 8}) {
            const Reference ref = ReferenceRegions(mask8, connectivity);
            for (bool walked : {false, true}) {
                AdjRelPtr adj(Relation(connectivity, walked));
                ASSERT_TRUE(SameImage(LabelComponents(mask, adj.get()), ref.labels)) << connectivity << walked;
                ASSERT_EQ(ComputeLabelCentroids(mask, adj.get()), ref.centroids) << connectivity << walked;
                if (depth != CV_8U) continue;
                // Regions of value 1 of at most 50 pixels go; every other value stays.
                cv::Mat kept = mask8.clone();
                kept.setTo(0, (mask8 == 1) & (ref.area <= 50));
                ASSERT_TRUE(SameImage(RemoveSmallComponents(mask, adj.get()), kept)) << connectivity << walked;
            }
        }
        const cv::Mat area4 = ReferenceRegions(mask8, 4).area;
        ASSERT_TRUE(SameImage(FilterComponentsBySize(mask, lo, hi), (area4 >= lo) & (area4 <= hi) & 1));
        if (depth == CV_8U) {  // 4-connected zero regions of at most 50 pixels become 1
            const cv::Mat holes = ReferenceRegions((mask8 == 0) & 1, 4).area;
            ASSERT_TRUE(SameImage(FillSmallHoles(mask), ((mask8 != 0) | ((holes > 0) & (holes <= 50))) & 1));
        }

        // The 8-connected region of the first pixel in raster order nearest to (x, y).
        std::vector<cv::Point> on;
        cv::findNonZero(mask8, on);
        const auto nearest = std::min_element(on.begin(), on.end(), [&](cv::Point a, cv::Point b) {
            return std::max(std::abs(a.x - x), std::abs(a.y - y)) < std::max(std::abs(b.x - x), std::abs(b.y - y));
        });
        const cv::Mat labels8 = ReferenceRegions(mask8 != 0, 8).labels;
        ASSERT_TRUE(SameImage(ExtractComponentAt(mask, x, y),
                              cv::Mat(on.empty() ? labels8 < 0 : labels8 == labels8.at<int>(*nearest)) & 1));
        const int area = cv::countNonZero(ExtractComponentAt(mask, size.width / 2, size.height / 2));  // measured there
        const ParticleMeasure measured = MeasureParticle(mask, 0, y, x, lo, hi);
        EXPECT_EQ(measured.area, area);
        EXPECT_EQ(measured.inRange, area >= lo && area <= hi);
        ASSERT_TRUE(SameImage(mask, before));
    });
}

TEST(ToolkitFuzz, SegmentationsAndMarginsOfGreyImages)
{
    ForEachFuzzCase(1000, [](cv::RNG& rng) {
        const cv::Size size = RandomSize(rng);
        const cv::Mat grey = Variant(rng, RandomGrey(rng, size), CV_8U), before = grey.clone();
        const cv::Mat other = RandomGrey(rng, rng.uniform(0, 2) ? size : RandomSize(rng));
        const cv::Point c1(rng.uniform(-5, size.width + 5), rng.uniform(-5, size.height + 5));
        const cv::Point c2(rng.uniform(-5, size.width + 5), rng.uniform(-5, size.height + 5));
        const int top = rng.uniform(-3, size.height + 4), bottom = rng.uniform(-3, size.height + 4);
        const int left = rng.uniform(-3, size.width + 4), right = rng.uniform(-3, size.width + 4);
        SCOPED_TRACE(::testing::Message() << size << other.size() << " " << cv::Scalar(top, bottom, left, right));
        // Each segmentation marks, as 1, every pixel at or below some level and none above.
        const auto isLowerSet = [](const cv::Mat& values, const cv::Mat& mask) {
            double level = -1.0;
            if (cv::countNonZero(mask) > 0) cv::minMaxLoc(values, nullptr, &level, nullptr, nullptr, mask);
            return SameImage(mask, (values <= level) & 1);
        };
        cv::Mat median;
        cv::medianBlur(grey, median, 3);
        EXPECT_TRUE(isLowerSet(median, SegmentOtsu(grey)));
        const cv::Mat mode = SegmentModeValue(grey);
        EXPECT_TRUE(isLowerSet(grey, mode));
        EXPECT_EQ(cv::countNonZero((grey <= 50) & (mode == 0)), 0);  // never below 50
        EXPECT_EQ(cv::countNonZero(SegmentSelection(grey) > 1), 0);
        const SelectedParticle picked = MeasureSelectedParticle(grey, c1, c2);  // clipped into the image
        for (const cv::Point& p : picked.pixels)
            ASSERT_TRUE(cv::Rect(cv::Point(), size).contains(p + picked.corner)) << p;

        // Darker than `other` by at least 9 where `other` covers the image.
        cv::Mat darker = cv::Mat::zeros(size, CV_8UC1);
        const cv::Rect both = cv::Rect(cv::Point(), size) & cv::Rect(cv::Point(), other.size());
        darker(both).setTo(1, cv::Mat(other(both) - grey(both)) >= 9);
        ASSERT_TRUE(SameImage(FrameDiffMask(grey, other), darker));

        // Margins: bands limited to the image; cleared to 0, or hatched in black and white.
        cv::Mat band(size, CV_8UC1, cv::Scalar(255)), cleared = grey.clone();
        band(cv::Rect(left, top, size.width - left - right, size.height - top - bottom) & cv::Rect(cv::Point(), size))
            .setTo(0);
        cleared.setTo(0, band);
        ASSERT_TRUE(SameImage(ClearMargins(grey, top, bottom, left, right), cleared));
        const cv::Mat hatched = DrawHatchedMargins(grey, top, bottom, left, right);
        EXPECT_EQ(cv::countNonZero((hatched != grey) & ~band), 0);
        EXPECT_EQ(cv::countNonZero((hatched != 0) & (hatched != 255) & band), 0);
        ASSERT_TRUE(SameImage(grey, before));
    });
}

TEST(ToolkitFuzz, EmptyImagesGiveEmptyResults)
{
    AdjRelPtr walked(Relation(8, true));
    for (const cv::Mat& empty : {cv::Mat(), cv::Mat(0, 4, CV_8UC1), cv::Mat(3, 0, CV_8UC1)}) {
        EXPECT_TRUE(LabelComponents(empty, walked.get()).empty() && ComputeLabelCentroids8(empty).empty() &&
                    FilterComponentsBySize(empty, 0, 9).empty() && FillSmallHoles(empty).empty() &&
                    ExtractComponentAt(empty, 0, 0).empty() && MeasureParticle(empty, 0, 0, 0, 0, 9).area == 0);
        EXPECT_TRUE(SegmentOtsu(empty).empty() && SegmentModeValue(empty).empty() && SegmentSelection(empty).empty() &&
                    FrameDiffMask(empty, empty).empty() && MeasureSelectedParticle(empty, {}, {3, 3}).pixels.empty() &&
                    FrameDiffMask(cv::Mat(2, 3, CV_8UC1, cv::Scalar(0)), empty).size() == cv::Size(3, 2) &&
                    ClearMargins(empty, 1, 1, 1, 1).empty() && DrawHatchedMargins(empty, 1, 1, 1, 1).empty());
    }
}

// Parts, fills and borders as OpenCV traces and fills the outer contours, and the parts
// as they are as OpenCV labels them, on masks of every shape (holes, blobs in holes,
// lines, single pixels), also as views.
TEST(ToolkitFuzz, FilledPartsAgreeWithOpenCvContours)
{
    ForEachFuzzCase(1000, [](cv::RNG& rng) {
        const cv::Mat mask = Variant(rng, RandomMask(rng, RandomSize(rng), true), CV_8U);
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
        const std::vector<FilledPart> parts = FilledParts(mask, true);
        ASSERT_EQ(parts.size(), contours.size());
        for (size_t i = 0; i < parts.size(); ++i) {
            SCOPED_TRACE(::testing::Message() << "part " << i << " of " << parts.size() << ", " << mask.size());
            cv::Mat filled = cv::Mat::zeros(mask.size(), CV_8UC1);
            cv::drawContours(filled, contours, static_cast<int>(i), cv::Scalar(255), cv::FILLED);
            EXPECT_EQ(parts[i].border, contours[i]);
            EXPECT_TRUE(SameImage(filled, PartMask(parts[i], mask.size()) * 255));
            EXPECT_EQ(parts[i].pixels, cv::countNonZero(filled));
            std::vector<cv::Point> pixels;
            cv::findNonZero(filled, pixels);
            EXPECT_EQ(parts[i].box, cv::boundingRect(pixels));
        }
        cv::Mat labels;
        const int n = cv::connectedComponents(mask != 0, labels, 8, CV_32S);
        const std::vector<FilledPart> connected = ConnectedParts(mask);
        ASSERT_EQ(static_cast<int>(connected.size()), n - 1);
        for (const FilledPart& part : connected) {
            const int label = labels.at<int>(part.runs[0][0], part.runs[0][1]);
            EXPECT_TRUE(SameImage(PartMask(part, mask.size()) * 255, labels == label));
        }
    });
}
