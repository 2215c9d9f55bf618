#include "toolkit/labelling.h"

#include "toolkit/adjacency.h"
#include "toolkit/pixel_queue.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Pixel sums of one region. 64 bits: a frame-sized region overflows 32-bit sums.
struct RegionSums {
    std::int64_t sumX = 0;
    std::int64_t sumY = 0;
    std::int64_t count = 0;
};

enum class Neighbourhood { Four, Eight, Other };

// The labels depend only on the set of displacements of a symmetric relation, not on
// their order, so the two usual sets may take the two-pass route below.
Neighbourhood Classify(const AdjRel* adj)
{
    if (adj == nullptr || (adj->n != 5 && adj->n != 9))
        return Neighbourhood::Other;
    bool seen[3][3] = {};
    for (int i = 1; i < adj->n; ++i) {
        const int dx = adj->dx[i];
        const int dy = adj->dy[i];
        if (dx < -1 || dx > 1 || dy < -1 || dy > 1 || (dx == 0 && dy == 0) || seen[dy + 1][dx + 1])
            return Neighbourhood::Other;
        if (adj->n == 5 && dx != 0 && dy != 0)
            return Neighbourhood::Other;
        seen[dy + 1][dx + 1] = true;
    }
    return adj->n == 9 ? Neighbourhood::Eight : Neighbourhood::Four;
}

// Breadth-first walk in relation order, one queue of rows * cols slots; every pixel is
// labelled when queued, so it is queued at most once. Works for any relation.
template <typename T>
int LabelByQueue(const cv::Mat& image, const AdjRel* adj, cv::Mat& labels, std::vector<RegionSums>* sums)
{
    const int rows = image.rows;
    const int cols = image.cols;
    const int n = adj != nullptr ? adj->n : 0;
    QueuePtr queue(CreateQueue(rows * cols));
    int* lab = labels.ptr<int>(0);
    int next = 1;
    for (int y = 0; y < rows; ++y) {
        const T* row = image.ptr<T>(y);
        for (int x = 0; x < cols; ++x) {
            if (row[x] == 0 || lab[y * cols + x] != 0)
                continue;
            const T value = row[x];
            RegionSums region;
            lab[y * cols + x] = next;
            QueuePush(queue.get(), y * cols + x);
            while (!QueueIsEmpty(queue.get())) {
                const int p = QueuePop(queue.get());
                const int px = p % cols;
                const int py = p / cols;
                region.sumX += px;
                region.sumY += py;
                region.count += 1;
                for (int i = 1; i < n; ++i) {
                    const int qx = px + adj->dx[i];
                    const int qy = py + adj->dy[i];
                    if (qx < 0 || qx >= cols || qy < 0 || qy >= rows)
                        continue;
                    const int q = qy * cols + qx;
                    if (lab[q] == 0 && image.ptr<T>(qy)[qx] == value) {
                        lab[q] = next;
                        QueuePush(queue.get(), q);
                    }
                }
            }
            if (sums != nullptr)
                sums->push_back(region);
            ++next;
        }
    }
    return next - 1;
}

// Union-find over provisional labels. Roots are always the smallest label of their
// set, and provisional labels are handed out in raster order, so the root of a region
// is the label of its first pixel.
class Equivalences {
public:
    explicit Equivalences(std::size_t expected)
    {
        parent_.reserve(expected + 1);
        parent_.push_back(0);
    }

    int Add()
    {
        const int label = static_cast<int>(parent_.size());
        parent_.push_back(label);
        return label;
    }

    int Find(int label)
    {
        while (parent_[label] != label) {
            parent_[label] = parent_[parent_[label]];
            label = parent_[label];
        }
        return label;
    }

    void Merge(int a, int b)
    {
        a = Find(a);
        b = Find(b);
        if (a < b)
            parent_[b] = a;
        else if (b < a)
            parent_[a] = b;
    }

    // Replaces every provisional label by its final number 1 .. N, numbered in the
    // order of the roots; returns N.
    int Resolve()
    {
        int count = 0;
        for (std::size_t l = 1; l < parent_.size(); ++l) {
            const int p = parent_[l];
            parent_[l] = p == static_cast<int>(l) ? ++count : parent_[p];
        }
        return count;
    }

    int Final(int label) const { return parent_[label]; }

private:
    std::vector<int> parent_;
};

// First non-zero pixel of row[from .. cols-1], or cols. Frame masks are mostly
// background, so 8-bit rows are skipped a word at a time.
template <typename T> int NextNonZero(const T* row, int from, int cols)
{
    while (from < cols && row[from] == 0)
        ++from;
    return from;
}

template <> int NextNonZero<uchar>(const uchar* row, int from, int cols)
{
    while (from + 8 <= cols) {
        std::uint64_t word;
        std::memcpy(&word, row + from, sizeof word);
        if (word != 0)
            break;
        from += 8;
    }
    while (from < cols && row[from] == 0)
        ++from;
    return from;
}

// Maximal horizontal run of one non-zero value in a row.
template <typename T> struct Run {
    int start;  // first column
    int end;    // last column
    T value;
    int label;  // provisional label
};

// The runs of an image with their final region numbers 1 .. count.
template <typename T> struct LabelledRuns {
    std::vector<Run<T>> runs;
    std::vector<std::size_t> rowBegin;  // runs of row y: rowBegin[y] .. rowBegin[y + 1] - 1
    int count = 0;
};

// Run-based two-pass labelling for the 4- and 8-neighbourhoods with the same-value
// criterion. Gives exactly the labels of the breadth-first walk: provisional labels
// are handed out in raster order of the runs that start a new set, and a set keeps
// its smallest label, which is that of the region's first pixel. Frame masks hold
// far fewer runs than pixels, so the image is read once and the runs carry the rest.
template <typename T> LabelledRuns<T> LabelRuns(const cv::Mat& image, bool eight)
{
    const int rows = image.rows;
    const int cols = image.cols;
    // A run touches a run of the row above when their columns overlap, or (8-neighbourhood)
    // when they meet at a corner.
    const int reach = eight ? 1 : 0;

    LabelledRuns<T> result;
    std::vector<Run<T>>& runs = result.runs;
    runs.reserve(static_cast<std::size_t>(rows) * 4 + 16);
    result.rowBegin.assign(static_cast<std::size_t>(rows) + 1, 0);
    Equivalences eq(static_cast<std::size_t>(rows) * 4);

    for (int y = 0; y < rows; ++y) {
        const T* row = image.ptr<T>(y);
        result.rowBegin[static_cast<std::size_t>(y)] = runs.size();
        const std::size_t upEnd = runs.size();
        std::size_t up = y > 0 ? result.rowBegin[static_cast<std::size_t>(y - 1)] : upEnd;

        for (int x = NextNonZero(row, 0, cols); x < cols; x = NextNonZero(row, x, cols)) {
            const T v = row[x];
            const int start = x++;  // at least one pixel, even for a NaN that equals nothing
            while (x < cols && row[x] == v)
                ++x;
            Run<T> run{start, x - 1, v, 0};

            while (up < upEnd && runs[up].end < run.start - reach)
                ++up;
            for (std::size_t k = up; k < upEnd && runs[k].start <= run.end + reach; ++k) {
                if (runs[k].value != v)
                    continue;
                if (run.label == 0)
                    run.label = runs[k].label;
                else
                    eq.Merge(run.label, runs[k].label);
            }
            if (run.label == 0)
                run.label = eq.Add();
            runs.push_back(run);
        }
    }
    result.rowBegin[static_cast<std::size_t>(rows)] = runs.size();

    result.count = eq.Resolve();
    for (Run<T>& run : runs)
        run.label = eq.Final(run.label);
    return result;
}

// Writes valueOf(run) over every run and `background` between them.
template <typename T, typename Pixel, typename ValueOf>
void PaintRuns(const LabelledRuns<T>& labelled, cv::Mat& out, Pixel background, ValueOf valueOf)
{
    for (int y = 0; y < out.rows; ++y) {
        Pixel* row = out.ptr<Pixel>(y);
        int x = 0;
        const std::size_t last = labelled.rowBegin[static_cast<std::size_t>(y) + 1];
        for (std::size_t k = labelled.rowBegin[static_cast<std::size_t>(y)]; k < last; ++k) {
            const Run<T>& run = labelled.runs[k];
            std::fill(row + x, row + run.start, background);
            std::fill(row + run.start, row + run.end + 1, valueOf(run));
            x = run.end + 1;
        }
        std::fill(row + x, row + out.cols, background);
    }
}

template <typename T> int LabelByRuns(const cv::Mat& image, bool eight, cv::Mat* labels, std::vector<RegionSums>* sums)
{
    const LabelledRuns<T> labelled = LabelRuns<T>(image, eight);
    if (labels != nullptr)
        PaintRuns(labelled, *labels, 0, [](const Run<T>& run) { return run.label; });
    if (sums != nullptr) {
        sums->assign(static_cast<std::size_t>(labelled.count), RegionSums());
        for (int y = 0; y < image.rows; ++y) {
            const std::size_t last = labelled.rowBegin[static_cast<std::size_t>(y) + 1];
            for (std::size_t k = labelled.rowBegin[static_cast<std::size_t>(y)]; k < last; ++k) {
                const Run<T>& run = labelled.runs[k];
                const std::int64_t length = run.end - run.start + 1;
                RegionSums& region = (*sums)[static_cast<std::size_t>(run.label - 1)];
                region.sumX += (static_cast<std::int64_t>(run.start) + run.end) * length / 2;
                region.sumY += static_cast<std::int64_t>(y) * length;
                region.count += length;
            }
        }
    }
    return labelled.count;
}

template <typename T>
int LabelTyped(const cv::Mat& image, const AdjRel* adj, cv::Mat* labels, std::vector<RegionSums>* sums)
{
    switch (Classify(adj)) {
    case Neighbourhood::Four:
        return LabelByRuns<T>(image, false, labels, sums);
    case Neighbourhood::Eight:
        return LabelByRuns<T>(image, true, labels, sums);
    case Neighbourhood::Other:
        break;
    }
    // The walk needs a label image of its own even when only the sums are wanted.
    cv::Mat walked = cv::Mat::zeros(image.rows, image.cols, CV_32SC1);
    const int count = LabelByQueue<T>(image, adj, walked, sums);
    if (labels != nullptr)
        *labels = walked;
    return count;
}

// Labels regions of equal non-zero value into *labels (when given) and their pixel
// sums into *sums (when given); returns their number. Single-channel images of any
// depth; other images come back unlabelled.
int LabelRegions(const cv::Mat& image, const AdjRel* adj, cv::Mat* labels, std::vector<RegionSums>* sums)
{
    if (labels != nullptr)
        labels->create(image.rows, image.cols, CV_32SC1);
    if (image.empty() || image.channels() != 1) {
        if (labels != nullptr)
            labels->setTo(0);
        return 0;
    }
    switch (image.depth()) {
    case CV_8U:
        return LabelTyped<uchar>(image, adj, labels, sums);
    case CV_8S:
        return LabelTyped<schar>(image, adj, labels, sums);
    case CV_16U:
        return LabelTyped<ushort>(image, adj, labels, sums);
    case CV_16S:
        return LabelTyped<short>(image, adj, labels, sums);
    case CV_32S:
        return LabelTyped<int>(image, adj, labels, sums);
    case CV_32F:
        return LabelTyped<float>(image, adj, labels, sums);
    case CV_64F:
        return LabelTyped<double>(image, adj, labels, sums);
    default:
        return 0;
    }
}

// Nearest non-zero pixel to (x, y) in chessboard distance, ties to the upper row and
// then the left column: the first hit of growing boxes 3 x 3, 5 x 5, ... scanned in
// row-major order. The inside of each box was searched by the smaller boxes, so only
// its outer ring is scanned. The search ends at the box covering the whole image.
bool FindSeed(const cv::Mat& work, int x, int y, cv::Point& seed)
{
    const int rows = work.rows;
    const int cols = work.cols;
    const auto hit = [&](int qx, int qy) {
        return qx >= 0 && qx < cols && qy >= 0 && qy < rows && work.at<uchar>(qy, qx) != 0;
    };
    if (hit(x, y)) {
        seed = cv::Point(x, y);
        return true;
    }
    const int maxRadius =
        std::max(std::max(std::abs(x), std::abs(cols - 1 - x)), std::max(std::abs(y), std::abs(rows - 1 - y)));
    for (int r = 1; r <= maxRadius; ++r) {
        for (int dy = -r; dy <= r; ++dy) {
            const int qy = y + dy;
            if (qy < 0 || qy >= rows)
                continue;
            const int step = (dy == -r || dy == r) ? 1 : 2 * r;
            for (int dx = -r; dx <= r; dx += step) {
                if (hit(x + dx, qy)) {
                    seed = cv::Point(x + dx, qy);
                    return true;
                }
            }
        }
    }
    return false;
}

}  // namespace

cv::Mat ExtractComponentAt(const cv::Mat& mask, int x, int y)
{
    cv::Mat out = cv::Mat::zeros(mask.rows, mask.cols, CV_8UC1);
    if (mask.empty() || mask.channels() != 1)
        return out;
    cv::Mat work = mask.type() == CV_8UC1 ? mask.clone() : cv::Mat(mask != 0);

    cv::Point seed;
    if (!FindSeed(work, x, y, seed))
        return out;

    AdjRelPtr adj(Create8NeighbourAdjRel());
    std::vector<cv::Point> stack{seed};
    work.at<uchar>(seed) = 0;
    while (!stack.empty()) {
        const cv::Point p = stack.back();
        stack.pop_back();
        out.at<uchar>(p) = 1;
        for (int i = 1; i < adj->n; ++i) {
            const cv::Point q(p.x + adj->dx[i], p.y + adj->dy[i]);
            if (q.x < 0 || q.x >= work.cols || q.y < 0 || q.y >= work.rows)
                continue;
            uchar& w = work.at<uchar>(q);
            if (w != 0) {
                w = 0;
                stack.push_back(q);
            }
        }
    }
    return out;
}

cv::Mat LabelComponents(const cv::Mat& image, const AdjRel* adj)
{
    cv::Mat labels;
    LabelRegions(image, adj, &labels, nullptr);
    return labels;
}

std::vector<cv::Point> ComputeLabelCentroids(const cv::Mat& image, const AdjRel* adj)
{
    std::vector<RegionSums> sums;
    LabelRegions(image, adj, nullptr, &sums);

    std::vector<cv::Point> centroids;
    centroids.reserve(sums.size());
    for (const RegionSums& region : sums) {
        // Means in double, kept as float, then truncated: the float step is part of
        // the result (it can round a mean up to the next integer).
        const float cx = static_cast<float>(static_cast<double>(region.sumX) / region.count);
        const float cy = static_cast<float>(static_cast<double>(region.sumY) / region.count);
        centroids.emplace_back(static_cast<int>(cx), static_cast<int>(cy));
    }
    return centroids;
}

std::vector<cv::Point> ComputeLabelCentroids8(const cv::Mat& image)
{
    AdjRelPtr adj(Create8NeighbourAdjRel());
    return ComputeLabelCentroids(image, adj.get());
}

int MaxLabel(const cv::Mat& labels)
{
    int largest = -20000;
    if (labels.empty())
        return largest;
    cv::Mat asInt = labels;
    if (labels.depth() != CV_32S)
        labels.convertTo(asInt, CV_32S);
    double maxValue = 0.0;
    cv::minMaxLoc(asInt.reshape(1), nullptr, &maxValue);
    return std::max(largest, static_cast<int>(maxValue));
}

cv::Mat FilterComponentsBySize(const cv::Mat& mask, int minArea, int maxArea)
{
    if (mask.empty())
        return cv::Mat(mask.rows, mask.cols, CV_8UC1);
    // The background's count is 0, so it maps to 1 only when the range admits 0.
    const auto inRange = [&](std::int64_t area) -> uchar { return area >= minArea && area <= maxArea ? 1 : 0; };
    cv::Mat out(mask.rows, mask.cols, CV_8UC1);

    if (mask.type() == CV_8UC1) {
        // Frame masks: areas counted on the runs and the result painted from them,
        // without a label image.
        const LabelledRuns<uchar> labelled = LabelRuns<uchar>(mask, false);
        std::vector<std::int64_t> area(static_cast<std::size_t>(labelled.count) + 1, 0);
        for (const Run<uchar>& run : labelled.runs)
            area[static_cast<std::size_t>(run.label)] += run.end - run.start + 1;
        std::vector<uchar> keep(area.size());
        for (std::size_t l = 1; l < area.size(); ++l)
            keep[l] = inRange(area[l]);
        PaintRuns(labelled, out, inRange(0),
                  [&](const Run<uchar>& run) { return keep[static_cast<std::size_t>(run.label)]; });
        return out;
    }

    AdjRelPtr adj(Create4NeighbourAdjRel());
    const cv::Mat labels = LabelComponents(mask, adj.get());
    std::vector<std::int64_t> area(static_cast<std::size_t>(MaxLabel(labels)) + 1, 0);
    for (int y = 0; y < labels.rows; ++y) {
        const int* lab = labels.ptr<int>(y);
        for (int x = 0; x < labels.cols; ++x)
            area[static_cast<std::size_t>(lab[x])] += 1;
    }
    area[0] = 0;
    std::vector<uchar> keep(area.size());
    for (std::size_t l = 0; l < area.size(); ++l)
        keep[l] = inRange(area[l]);
    for (int y = 0; y < labels.rows; ++y) {
        const int* lab = labels.ptr<int>(y);
        uchar* dst = out.ptr<uchar>(y);
        for (int x = 0; x < labels.cols; ++x)
            dst[x] = keep[static_cast<std::size_t>(lab[x])];
    }
    return out;
}
