#include "toolkit/hole_filling.h"

#include "toolkit/adjacency.h"

#include <vector>

cv::Mat InvertMask01(const cv::Mat& mask)
{
    if (mask.empty())
        return cv::Mat();
    return cv::Mat(cv::Scalar(1) - mask);
}

cv::Mat RemoveSmallComponents(const cv::Mat& mask01, const AdjRel* adj)
{
    cv::Mat out = mask01.clone();
    if (mask01.empty())
        return out;
    const int rows = mask01.rows;
    const int cols = mask01.cols;
    const int n = adj != nullptr ? adj->n : 0;
    cv::Mat visited = cv::Mat::zeros(rows, cols, CV_8UC1);
    cv::Mat pushed = cv::Mat::zeros(rows, cols, CV_8UC1);
    const auto isOne = [&](int x, int y) { return mask01.ptr<uchar>(y)[x] == 1; };

    std::vector<cv::Point> stack;
    std::vector<cv::Point> region;
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            if (!isOne(x, y) || visited.at<uchar>(y, x) != 0)
                continue;
            region.clear();
            stack.assign(1, cv::Point(x, y));
            while (!stack.empty()) {
                const cv::Point p = stack.back();
                stack.pop_back();
                uchar& seen = visited.at<uchar>(p);
                if (seen != 0 || !isOne(p.x, p.y)) {
                    seen = 1;
                    continue;
                }
                seen = 1;
                region.push_back(p);
                for (int i = 1; i < n; ++i) {
                    const cv::Point q(p.x + adj->dx[i], p.y + adj->dy[i]);
                    if (q.x < 0 || q.x >= cols || q.y < 0 || q.y >= rows)
                        continue;
                    uchar& queued = pushed.at<uchar>(q);
                    if (queued == 0 && visited.at<uchar>(q) == 0 && isOne(q.x, q.y)) {
                        queued = 1;
                        stack.push_back(q);
                    }
                }
            }
            if (!region.empty() && region.size() <= 50) {
                for (const cv::Point& p : region)
                    out.at<uchar>(p) = 0;
            }
        }
    }
    return out;
}

cv::Mat FillSmallHoles(const cv::Mat& mask)
{
    if (mask.empty())
        return cv::Mat();
    AdjRelPtr adj(Create4NeighbourAdjRel());
    return InvertMask01(RemoveSmallComponents(InvertMask01(mask), adj.get()));
}
