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

// The parts of a mask in raster order of their first pixel; with `fill`, each with its
// holes.
std::vector<FilledPart> Parts(const cv::Mat& mask, bool fill, std::vector<cv::Point>& starts)
{
    CV_Assert(mask.type() == CV_8UC1);
    // Working arrays kept from call to call: a frame asks for thousands of small masks'
    // parts, and allocating them afresh would cost more than the work.
    thread_local struct {
        std::vector<Run> runs;
        std::vector<int> rowStart, parent, partOf;
        std::vector<std::pair<int, int>> later;
        std::vector<char> out;
        std::vector<cv::Vec4i> owned;  // (part, row, first, last) of each run taken
    } scratch;
    // Each row as alternating runs of background and foreground.
    std::vector<Run>& runs = scratch.runs;
    std::vector<int>& rowStart = scratch.rowStart;
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
    // Background reaches the outside through 4-connected background (runs that share a
    // column); the rest (foreground, holes and what they hold) joins into parts through
    // 8-connected neighbours (runs that share a column or touch at a corner, and runs
    // side by side in a row). Index runs.size() stands for the outside.
    const int outside = static_cast<int>(runs.size());
    std::vector<int>& parent = scratch.parent;
    parent.resize(runs.size() + 1);
    std::iota(parent.begin(), parent.end(), 0);
    // Runs of neighbouring rows that touch, at least at a corner, found along both rows at
    // once; foreground joins foreground so, background joins background sharing a column.
    // Pairs left for the holes are kept.
    std::vector<std::pair<int, int>>& later = scratch.later;
    later.clear();
    for (size_t i = 0; i < runs.size(); ++i) {
        const Run& r = runs[i];
        if (!r.foreground && (!fill || r.y == 0 || r.y == mask.rows - 1 || r.first == 0 || r.last == mask.cols - 1))
            Join(parent, static_cast<int>(i), outside);
    }
    for (int y = 1; y < mask.rows; ++y) {
        int j = rowStart[static_cast<size_t>(y - 1)];
        const int aboveEnd = rowStart[static_cast<size_t>(y)];
        for (int i = rowStart[static_cast<size_t>(y)]; i < rowStart[static_cast<size_t>(y) + 1]; ++i) {
            const Run& r = runs[static_cast<size_t>(i)];
            while (j < aboveEnd && runs[static_cast<size_t>(j)].last < r.first - 1)
                ++j;
            for (int a = j; a < aboveEnd && runs[static_cast<size_t>(a)].first <= r.last + 1; ++a) {
                const Run& above = runs[static_cast<size_t>(a)];
                if (above.foreground && r.foreground)
                    Join(parent, i, a);
                else if (!above.foreground && !r.foreground && above.first <= r.last && above.last >= r.first)
                    Join(parent, i, a);
                else if (fill)
                    later.emplace_back(i, a);
            }
        }
    }
    // Holes join the foreground around them; holes never touch the outside's runs.
    const int outsideRoot = Root(parent, outside);
    std::vector<char>& out = scratch.out;
    out.resize(runs.size());
    for (size_t i = 0; i < runs.size(); ++i)
        out[i] = Root(parent, static_cast<int>(i)) == outsideRoot;
    if (fill) {
        for (size_t i = 0; i + 1 < runs.size(); ++i)
            if (runs[i].y == runs[i + 1].y && !out[i] && !out[i + 1])
                Join(parent, static_cast<int>(i), static_cast<int>(i + 1));
        for (const auto& [i, a] : later)
            if (!out[static_cast<size_t>(i)] && !out[static_cast<size_t>(a)])
                Join(parent, i, a);
    }
    std::vector<FilledPart> parts;
    std::vector<int>& partOf = scratch.partOf;
    partOf.assign(runs.size() + 1, -1);
    std::vector<cv::Vec4i>& owned = scratch.owned;
    owned.clear();
    for (size_t i = 0; i < runs.size(); ++i) {
        if (out[i])
            continue;
        const Run& r = runs[i];
        int& p = partOf[static_cast<size_t>(Root(parent, static_cast<int>(i)))];
        if (p < 0) {
            p = static_cast<int>(parts.size());
            parts.emplace_back();
            parts.back().box = cv::Rect(r.first, r.y, 0, 0);
            starts.emplace_back(r.first, r.y);
        }
        FilledPart& part = parts[static_cast<size_t>(p)];
        part.pixels += r.last - r.first + 1;
        part.box |= cv::Rect(r.first, r.y, r.last - r.first + 1, 1);
        // Side by side runs of a part (a hole between its foreground) as one.
        if (!owned.empty() && owned.back()[0] == p && owned.back()[1] == r.y && owned.back()[3] + 1 == r.first)
            owned.back()[3] = r.last;
        else
            owned.emplace_back(p, r.y, r.first, r.last);
    }
    // Each part's runs in one allocation.
    std::vector<int> count(parts.size(), 0);
    for (const cv::Vec4i& o : owned)
        ++count[static_cast<size_t>(o[0])];
    for (size_t i = 0; i < parts.size(); ++i)
        parts[i].runs.reserve(static_cast<size_t>(count[i]));
    for (const cv::Vec4i& o : owned)
        parts[static_cast<size_t>(o[0])].runs.emplace_back(o[1], o[2], o[3]);
    return parts;
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
