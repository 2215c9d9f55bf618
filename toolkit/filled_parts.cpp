#include "toolkit/filled_parts.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>

namespace {

// Neighbours in chain-code order: right, up-right, up, up-left, left, down-left, down,
// down-right (counter-clockwise on screen).
constexpr int kDx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int kDy[8] = {0, -1, -1, -1, 0, 1, 1, 1};

// Outer border of the part whose first pixel in raster order is `start`, as
// cv::findContours follows it: the first neighbour clockwise from the left, then each
// next one counter-clockwise from the pixel before; a point is kept where the direction
// changes.
std::vector<cv::Point> TraceBorder(const cv::Mat& mask, cv::Point start)
{
    const cv::Rect inside(0, 0, mask.cols, mask.rows);
    const auto set = [&](cv::Point p, int s) {
        const cv::Point q(p.x + kDx[s], p.y + kDy[s]);
        return q.inside(inside) && mask.at<uchar>(q) != 0;
    };
    std::vector<cv::Point> border;
    border.reserve(32);
    int s = 4;
    do {
        s = (s - 1) & 7;
    } while (!set(start, s) && s != 4);
    if (s == 4) {  // a single pixel
        border.push_back(start);
        return border;
    }
    const cv::Point first(start.x + kDx[s], start.y + kDy[s]);
    cv::Point here = start;
    int previous = s ^ 4;
    for (;;) {
        const int end = s + 8;
        do
            ++s;
        while (s < end && !set(here, s & 7));
        s &= 7;
        if (s != previous)
            border.push_back(here), previous = s;
        const cv::Point next(here.x + kDx[s], here.y + kDy[s]);
        if (next == start && here == first)
            break;
        here = next;
        s = (s + 4) & 7;
    }
    return border;
}

struct Run {
    int y, first, last;  // columns first to last, both included
    bool foreground;
};

int Root(std::vector<int>& parent, int i)
{
    while (parent[static_cast<size_t>(i)] != i)
        i = parent[static_cast<size_t>(i)] = parent[static_cast<size_t>(parent[static_cast<size_t>(i)])];
    return i;
}

void Join(std::vector<int>& parent, int a, int b)
{
    a = Root(parent, a), b = Root(parent, b);
    parent[static_cast<size_t>(std::max(a, b))] = std::min(a, b);
}

// Working arrays kept from call to call: a frame asks for thousands of small masks'
// parts, and allocating them afresh would cost more than the work.
struct PartScratch {
    std::vector<Run> runs;
    std::vector<int> rowStart, parent, partOf;
    std::vector<std::pair<int, int>> later;
    std::vector<char> out;
    std::vector<cv::Vec4i> owned;  // (part, row, first, last) of each run taken
};

// Each row of the mask as alternating runs of background and foreground; rowStart: the
// first run of each row and one past the last.
void RowRuns(const cv::Mat& mask, std::vector<Run>& runs, std::vector<int>& rowStart)
{
    runs.clear();
    rowStart.assign(static_cast<size_t>(mask.rows) + 1, 0);
    for (int y = 0; y < mask.rows; ++y) {
        rowStart[static_cast<size_t>(y)] = static_cast<int>(runs.size());
        const uchar* m = mask.ptr<uchar>(y);
        for (int x = 0; x < mask.cols;) {
            const bool on = m[x] != 0;
            int last = x + 1;
            if (!on)  // background, eight pixels at a time
                for (uint64_t word = 0; last + 8 <= mask.cols && (std::memcpy(&word, m + last, 8), word == 0);)
                    last += 8;
            while (last < mask.cols && (m[last] != 0) == on)
                ++last;
            runs.push_back({y, x, last - 1, on});
            x = last;
        }
    }
    rowStart[static_cast<size_t>(mask.rows)] = static_cast<int>(runs.size());
}

// Joins the runs into sets: background reaches the outside (index runs.size()) through
// 4-connected background (runs that share a column); foreground joins foreground through
// 8-connected neighbours (runs that share a column or touch at a corner). Runs of
// neighbouring rows that touch are found along both rows at once. With `fill`, background
// on the mask's edge is outside and the pairs of touching runs left unjoined are kept
// in `later`, for the holes.
void JoinRuns(const cv::Mat& mask, bool fill, PartScratch& w)
{
    const std::vector<Run>& runs = w.runs;
    const int outside = static_cast<int>(runs.size());
    w.parent.resize(runs.size() + 1);
    std::iota(w.parent.begin(), w.parent.end(), 0);
    w.later.clear();
    for (size_t i = 0; i < runs.size(); ++i) {
        const Run& r = runs[i];
        if (!r.foreground && (!fill || r.y == 0 || r.y == mask.rows - 1 || r.first == 0 || r.last == mask.cols - 1))
            Join(w.parent, static_cast<int>(i), outside);
    }
    for (int y = 1; y < mask.rows; ++y) {
        int j = w.rowStart[static_cast<size_t>(y - 1)];
        const int aboveEnd = w.rowStart[static_cast<size_t>(y)];
        for (int i = w.rowStart[static_cast<size_t>(y)]; i < w.rowStart[static_cast<size_t>(y) + 1]; ++i) {
            const Run& r = runs[static_cast<size_t>(i)];
            while (j < aboveEnd && runs[static_cast<size_t>(j)].last < r.first - 1)
                ++j;
            for (int a = j; a < aboveEnd && runs[static_cast<size_t>(a)].first <= r.last + 1; ++a) {
                const Run& above = runs[static_cast<size_t>(a)];
                if (above.foreground && r.foreground)
                    Join(w.parent, i, a);
                else if (!above.foreground && !r.foreground && above.first <= r.last && above.last >= r.first)
                    Join(w.parent, i, a);
                else if (fill)
                    w.later.emplace_back(i, a);
            }
        }
    }
}

// Marks the runs that belong to the outside (`out`); with `fill`, the rest (foreground,
// holes and what they hold) joins into parts: holes join the foreground around them,
// through runs side by side in a row and the touching pairs kept. Holes never touch the
// outside's runs.
void JoinHoles(bool fill, PartScratch& w)
{
    const std::vector<Run>& runs = w.runs;
    const int outsideRoot = Root(w.parent, static_cast<int>(runs.size()));
    w.out.resize(runs.size());
    for (size_t i = 0; i < runs.size(); ++i)
        w.out[i] = Root(w.parent, static_cast<int>(i)) == outsideRoot;
    if (!fill)
        return;
    for (size_t i = 0; i + 1 < runs.size(); ++i)
        if (runs[i].y == runs[i + 1].y && !w.out[i] && !w.out[i + 1])
            Join(w.parent, static_cast<int>(i), static_cast<int>(i + 1));
    for (const auto& [i, a] : w.later)
        if (!w.out[static_cast<size_t>(i)] && !w.out[static_cast<size_t>(a)])
            Join(w.parent, i, a);
}

// The parts of the joined runs not outside, in raster order of their first pixel, each
// with its pixels, box and runs (side by side runs of a part as one); the first pixel of
// each in `starts`.
std::vector<FilledPart> CollectParts(PartScratch& w, std::vector<cv::Point>& starts)
{
    const std::vector<Run>& runs = w.runs;
    std::vector<FilledPart> parts;
    w.partOf.assign(runs.size() + 1, -1);
    w.owned.clear();
    for (size_t i = 0; i < runs.size(); ++i) {
        if (w.out[i])
            continue;
        const Run& r = runs[i];
        int& p = w.partOf[static_cast<size_t>(Root(w.parent, static_cast<int>(i)))];
        if (p < 0) {
            p = static_cast<int>(parts.size());
            parts.emplace_back();
            parts.back().box = cv::Rect(r.first, r.y, 0, 0);
            starts.emplace_back(r.first, r.y);
        }
        FilledPart& part = parts[static_cast<size_t>(p)];
        part.pixels += r.last - r.first + 1;
        part.box |= cv::Rect(r.first, r.y, r.last - r.first + 1, 1);
        if (!w.owned.empty() && w.owned.back()[0] == p && w.owned.back()[1] == r.y && w.owned.back()[3] + 1 == r.first)
            w.owned.back()[3] = r.last;
        else
            w.owned.emplace_back(p, r.y, r.first, r.last);
    }
    // Each part's runs in one allocation.
    std::vector<int> count(parts.size(), 0);
    for (const cv::Vec4i& o : w.owned)
        ++count[static_cast<size_t>(o[0])];
    for (size_t i = 0; i < parts.size(); ++i)
        parts[i].runs.reserve(static_cast<size_t>(count[i]));
    for (const cv::Vec4i& o : w.owned)
        parts[static_cast<size_t>(o[0])].runs.emplace_back(o[1], o[2], o[3]);
    return parts;
}

// The parts of a mask in raster order of their first pixel; with `fill`, each with its
// holes.
std::vector<FilledPart> Parts(const cv::Mat& mask, bool fill, std::vector<cv::Point>& starts)
{
    CV_Assert(mask.type() == CV_8UC1);
    thread_local PartScratch scratch;
    RowRuns(mask, scratch.runs, scratch.rowStart);
    JoinRuns(mask, fill, scratch);
    JoinHoles(fill, scratch);
    return CollectParts(scratch, starts);
}

}  // namespace

std::vector<FilledPart> FilledParts(const cv::Mat& mask, bool borders)
{
    // cv::findContours lists the last part found first.
    std::vector<cv::Point> starts;
    std::vector<FilledPart> parts = Parts(mask, true, starts);
    std::reverse(parts.begin(), parts.end());
    std::reverse(starts.begin(), starts.end());
    if (borders)
        for (size_t i = 0; i < parts.size(); ++i)
            parts[i].border = TraceBorder(mask, starts[i]);
    return parts;
}

cv::Mat PartMask(const FilledPart& part, cv::Size size)
{
    cv::Mat out = cv::Mat::zeros(size, CV_8UC1);
    for (const cv::Vec3i& run : part.runs)
        std::fill(out.ptr<uchar>(run[0]) + run[1], out.ptr<uchar>(run[0]) + run[2] + 1, 1);
    return out;
}

std::vector<FilledPart> ConnectedParts(const cv::Mat& mask)
{
    std::vector<cv::Point> starts;
    return Parts(mask, false, starts);
}
