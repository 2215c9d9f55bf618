#pragma once

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

// Points bucketed in square cells, so that the points in a box are found without looking
// at every point: the tracker's gates and boxes are small beside the frame.
class PointGrid {
public:
    PointGrid(const std::vector<cv::Point2d>& points, double cellSize)
        : cell(cellSize)
    {
        if (points.empty())
            return;
        cv::Point2d low = points.front(), high = points.front();
        for (const cv::Point2d& p : points) {
            low = {std::min(low.x, p.x), std::min(low.y, p.y)};
            high = {std::max(high.x, p.x), std::max(high.y, p.y)};
        }
        origin = low;
        cols = Cell(high.x - low.x) + 1;
        rows = Cell(high.y - low.y) + 1;
        // One array of indices ordered by cell, and where each cell's begin.
        start.assign(static_cast<size_t>(cols) * static_cast<size_t>(rows) + 1, 0);
        std::vector<size_t> of(points.size());
        for (size_t i = 0; i < points.size(); ++i) {
            of[i] = Index(Cell(points[i].x - origin.x), Cell(points[i].y - origin.y));
            ++start[of[i] + 1];
        }
        for (size_t c = 1; c < start.size(); ++c)
            start[c] += start[c - 1];
        items.resize(points.size());
        std::vector<int> next(start.begin(), start.end() - 1);
        for (size_t i = 0; i < points.size(); ++i)
            items[static_cast<size_t>(next[of[i]]++)] = static_cast<int>(i);
    }

    // Indices, ascending, of the points in the cells that `box` touches: all those in it and some near it.
    std::vector<int> Near(const cv::Rect2d& box) const
    {
        std::vector<int> found;
        if (items.empty())
            return found;
        const int c0 = std::max(Cell(box.x - origin.x), 0), c1 = std::min(Cell(box.x + box.width - origin.x), cols - 1);
        const int r0 = std::max(Cell(box.y - origin.y), 0), r1 = std::min(Cell(box.y + box.height - origin.y), rows - 1);
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c) {
                const size_t k = Index(c, r);
                found.insert(found.end(), items.begin() + start[k], items.begin() + start[k + 1]);
            }
        std::sort(found.begin(), found.end());
        return found;
    }

private:
    int Cell(double offset) const { return static_cast<int>(std::floor(offset / cell)); }
    size_t Index(int c, int r) const { return static_cast<size_t>(r) * static_cast<size_t>(cols) + static_cast<size_t>(c); }

    double cell;
    cv::Point2d origin;
    int cols = 0, rows = 0;
    std::vector<int> start, items;
};
