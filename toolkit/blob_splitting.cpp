#include "toolkit/blob_splitting.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMaxDepth = 2;        // cuts in a row: up to four pieces
constexpr double kMinShare = 0.15;  // the smaller piece of a cut holds at least this share
constexpr int kMinPiece = 6;        // pixels

std::vector<cv::Point> Outline(const cv::Mat& mask)
{
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(mask.clone(), contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    if (contours.empty())
        return {};
    return *std::max_element(contours.begin(), contours.end(),
                             [](const auto& a, const auto& b) { return a.size() < b.size(); });
}

double DistanceToSegment(cv::Point2d p, cv::Point2d a, cv::Point2d b)
{
    const cv::Point2d ab = b - a;
    const double len2 = ab.dot(ab);
    const double t = len2 > 0.0 ? std::clamp((p - a).dot(ab) / len2, 0.0, 1.0) : 0.0;
    return cv::norm(p - (a + t * ab));
}

void Split(const cv::Mat& mask, std::vector<std::pair<cv::Point, cv::Point>>& cuts, double minDepth, int depth,
           std::vector<SplitPiece>& out)
{
    const int area = cv::countNonZero(mask);
    const std::vector<cv::Point> outline = Outline(mask);
    if (depth < kMaxDepth && area >= 2 * kMinPiece && outline.size() >= 8) {
        std::vector<int> hull;
        cv::convexHull(outline, hull, false, false);
        std::vector<cv::Vec4i> defects;
        if (hull.size() >= 3) {
            // convexityDefects wants the hull indices in the contour's own order.
            std::sort(hull.begin(), hull.end());
            try {
                cv::convexityDefects(outline, hull, defects);
            } catch (const cv::Exception&) {
                defects.clear();
            }
        }
        std::sort(defects.begin(), defects.end(), [](const cv::Vec4i& a, const cv::Vec4i& b) { return a[3] > b[3]; });
        if (defects.size() >= 2 && defects[1][3] / 256.0 >= minDepth) {
            const cv::Point a = outline[static_cast<size_t>(defects[0][2])];
            const cv::Point b = outline[static_cast<size_t>(defects[1][2])];
            cv::Mat cut = mask.clone();
            cv::line(cut, a, b, cv::Scalar(0), 1, cv::LINE_4);
            cv::Mat labels, stats, centres;
            const int n = cv::connectedComponentsWithStats(cut, labels, stats, centres, 8, CV_32S);
            if (n == 3) {
                const int small = std::min(stats.at<int>(1, cv::CC_STAT_AREA), stats.at<int>(2, cv::CC_STAT_AREA));
                if (small >= kMinPiece && small >= kMinShare * area) {
                    cuts.emplace_back(a, b);
                    for (int k = 1; k <= 2; ++k) {
                        cv::Mat piece = labels == k;
                        piece /= 255;
                        Split(piece, cuts, minDepth, depth + 1, out);
                    }
                    return;
                }
            }
        }
    }
    SplitPiece piece;
    piece.mask = mask;
    for (const cv::Point& p : outline) {
        bool alongCut = false;
        for (const auto& c : cuts)
            alongCut = alongCut || DistanceToSegment(p, c.first, c.second) < 1.5;
        if (!alongCut)
            piece.outline.push_back(p);
    }
    out.push_back(piece);
}

}  // namespace

std::vector<SplitPiece> SplitAtNecks(const cv::Mat& blob, double minDepth)
{
    std::vector<SplitPiece> pieces;
    if (blob.empty() || cv::countNonZero(blob) == 0)
        return pieces;
    std::vector<std::pair<cv::Point, cv::Point>> cuts;
    cv::Mat mask = blob != 0;
    mask /= 255;
    Split(mask, cuts, minDepth, 0, pieces);
    // Outline pixels near a later cut belong to it too.
    for (SplitPiece& p : pieces) {
        std::vector<cv::Point> kept;
        for (const cv::Point& q : p.outline) {
            bool alongCut = false;
            for (const auto& c : cuts)
                alongCut = alongCut || DistanceToSegment(q, c.first, c.second) < 1.5;
            if (!alongCut)
                kept.push_back(q);
        }
        p.outline = kept;
    }
    return pieces;
}

cv::Mat HiddenPart(const SplitPiece& piece)
{
    cv::Mat hidden = cv::Mat::zeros(piece.mask.size(), CV_8UC1);
    if (piece.outline.size() < 6)
        return hidden;
    const cv::RotatedRect e = cv::fitEllipseDirect(piece.outline);
    const cv::Rect box = cv::boundingRect(piece.mask);
    const double reach = 1.5 * std::max(box.width, box.height) + 2.0;
    if (!(e.size.width > 0.0f && e.size.height > 0.0f) || e.size.width > 2 * reach || e.size.height > 2 * reach)
        return hidden;
    cv::ellipse(hidden, cv::RotatedRect(e.center, e.size + cv::Size2f(1.0f, 1.0f), e.angle), cv::Scalar(1), cv::FILLED);
    hidden.setTo(0, piece.mask);
    return hidden;
}
