#include "toolkit/split_evidence.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Ellipses: the union's fit this many times better than one ellipse's, with the blob no
// wider at the cut than (this share of) its narrower part; or far better and the blob
// narrowing at most a little.
constexpr double kEllipsesGain = 0.3;
constexpr double kEllipsesNeck = 0.85;
constexpr double kClearGain = 0.18;
constexpr double kClearGainNeck = 1.1;
// A neck: the cut this share of the narrower part's width at most, and the widest disc
// on it narrower than the smaller part's.
constexpr double kNeck = 0.72;
constexpr double kNeckDisc = 0.95;
// Two cores: contrasts this far apart (share of the darker), the blob narrowing a little.
constexpr double kContrastStep = 0.15;
constexpr double kContrastNeck = 0.9;

// Extent of points along a direction, a pixel wide at least.
struct Extent {
    double lo = std::numeric_limits<double>::max(), hi = std::numeric_limits<double>::lowest();
    void Add(double t) { lo = std::min(lo, t), hi = std::max(hi, t); }
    double Width() const { return hi >= lo ? hi - lo + 1.0 : 0.0; }
};

// Whether parts a and b of the labels touch, diagonals included.
bool Touching(const cv::Mat& part, schar a, schar b)
{
    for (int y = 0; y + 1 < part.rows; ++y)
        for (int x = 0; x + 1 < part.cols; ++x) {
            const schar v = part.at<schar>(y, x), right = part.at<schar>(y, x + 1), below = part.at<schar>(y + 1, x),
                        diagonal = part.at<schar>(y + 1, x + 1);
            if ((v == a && diagonal == b) || (v == b && diagonal == a) || (right == a && below == b) ||
                (right == b && below == a))
                return true;
        }
    return false;
}

}  // namespace

bool SplitEvidence::Convincing() const
{
    if (cuts.empty())
        return false;
    for (const CutEvidence& c : cuts) {
        const bool ellipses = (gain < kEllipsesGain && c.neck < kEllipsesNeck && c.disc < 1.0) ||
                              (gain < kClearGain && c.neck < kClearGainNeck);
        const bool neck = c.neck < kNeck && c.disc < kNeckDisc;
        const double darker = std::max(contrasts[static_cast<size_t>(c.first)], contrasts[static_cast<size_t>(c.second)]);
        const double step =
            darker > 0.0 ? std::abs(contrasts[static_cast<size_t>(c.first)] - contrasts[static_cast<size_t>(c.second)]) / darker
                         : 0.0;
        const bool cores = step > kContrastStep && c.neck < kContrastNeck && c.disc < kNeckDisc;
        if (!ellipses && !neck && !cores)
            return false;
    }
    return true;
}

SplitEvidence WeighSplit(const cv::Mat& mask, const std::vector<Ellipse>& ellipses, const std::vector<double>& contrasts,
                         double singleRms, double unionRms)
{
    SplitEvidence evidence;
    evidence.gain = singleRms > 0.0 ? unionRms / singleRms : 1.0;
    evidence.unionRms = unionRms;
    evidence.contrasts = contrasts;
    const size_t k = ellipses.size();
    if (k < 2 || contrasts.size() != k)
        return evidence;
    // The blob's box, a pixel wider, so that the distances to its outside hold at its edge.
    const cv::Rect box = (cv::boundingRect(mask) + cv::Size(2, 2) - cv::Point(1, 1)) & cv::Rect(cv::Point(), mask.size());
    const cv::Rect padded = cv::boundingRect(mask) + cv::Size(2, 2) - cv::Point(1, 1);
    cv::Mat inside = cv::Mat::zeros(padded.size(), CV_8UC1);
    mask(box).copyTo(inside(box - padded.tl()));
    // Each pixel's part: the ellipse nearest to it (least signed distance).
    const std::vector<EllipseDistance> distances(ellipses.begin(), ellipses.end());
    cv::Mat part = cv::Mat::zeros(padded.size(), CV_8SC1);
    for (int y = 0; y < part.rows; ++y)
        for (int x = 0; x < part.cols; ++x) {
            if (!inside.at<uchar>(y, x))
                continue;
            const cv::Point2d p(x + padded.x, y + padded.y);
            double best = std::numeric_limits<double>::max();
            for (size_t i = 0; i < k; ++i)
                if (const double f = distances[i](p); f < best)
                    best = f, part.at<schar>(y, x) = static_cast<schar>(i + 1);
        }
    cv::Mat disc;
    cv::distanceTransform(inside, disc, cv::DIST_L2, cv::DIST_MASK_5);
    for (size_t i = 0; i < k; ++i)
        for (size_t j = i + 1; j < k; ++j) {
            cv::Point2d across = ellipses[j].centre - ellipses[i].centre;
            const double length = cv::norm(across);
            across = length > 1e-9 ? cv::Point2d(-across.y / length, across.x / length) : cv::Point2d(1, 0);
            Extent cut, first, second;
            float saddle = 0.0f, firstDisc = 0.0f, secondDisc = 0.0f;
            const schar a = static_cast<schar>(i + 1), b = static_cast<schar>(j + 1);
            for (int y = 0; y < part.rows; ++y)
                for (int x = 0; x < part.cols; ++x) {
                    const schar v = part.at<schar>(y, x);
                    if (v != a && v != b)
                        continue;
                    const double t = x * across.x + y * across.y;
                    const float d = disc.at<float>(y, x);
                    (v == a ? first : second).Add(t);
                    (v == a ? firstDisc : secondDisc) = std::max(v == a ? firstDisc : secondDisc, d);
                    // A cut between this pixel and its neighbour to the right or below.
                    for (const cv::Point& step : {cv::Point(1, 0), cv::Point(0, 1)}) {
                        const cv::Point q(x + step.x, y + step.y);
                        if (q.x >= part.cols || q.y >= part.rows)
                            continue;
                        const schar w = part.at<schar>(q);
                        if ((v == a && w == b) || (v == b && w == a)) {
                            cut.Add(t + 0.5 * (step.x * across.x + step.y * across.y));
                            saddle = std::max({saddle, d, disc.at<float>(q)});
                        }
                    }
                }
            CutEvidence c;
            c.first = static_cast<int>(i), c.second = static_cast<int>(j);
            if (cut.Width() <= 0.0) {  // the parts touch at a corner at most: a neck of nothing
                if (first.Width() > 0.0 && second.Width() > 0.0 && Touching(part, a, b))
                    c.neck = c.disc = 0.0, evidence.cuts.push_back(c);
                continue;
            }
            c.neck = cut.Width() / std::max(1.0, std::min(first.Width(), second.Width()));
            c.disc = saddle / std::max(0.5f, std::min(firstDisc, secondDisc));
            evidence.cuts.push_back(c);
        }
    return evidence;
}
