#pragma once

#include <opencv2/core.hpp>

#include <vector>

// Touching and overlapping particles merge into one blob whose outline is that of the
// union of their shapes. Fitting the union of one, two or three ellipses to the
// outline alone (sub-pixel points where the darkness crosses a level) recovers each
// particle, the part its neighbour hides included: a point of the outline lies on one
// ellipse and outside the others, so its distance to the union is the least of its
// signed distances to the ellipses.

struct Ellipse {
    cv::Point2d centre;
    double a = 1.0;      // semi-axis along `angle`
    double b = 1.0;      // semi-axis across it
    double angle = 0.0;  // radians

    double Area() const { return CV_PI * a * b; }
};

// Signed distance from an ellipse's outline, negative inside: exact on the outline,
// first order near it, and between -b and -a at the centre. Holds what every distance
// needs, computed once.
class EllipseDistance {
public:
    explicit EllipseDistance(const Ellipse& e);
    double operator()(const cv::Point2d& p) const;
    // Curvature of the outline at the point of the same elliptic angle as p.
    double Curvature(const cv::Point2d& p) const;

    cv::Point2d centre;
    double a, b, c, s;  // semi-axes, cosine and sine of the angle
    double A, B;        // 1 / a^2, 1 / b^2
};

// The ellipse with the area and second moments of a set of points spread evenly over it.
Ellipse MomentEllipse(const std::vector<cv::Point2d>& points);

struct EllipseUnion {
    std::vector<Ellipse> ellipses;
    double rms = 0.0;          // root mean square distance of the outline points from the union
    double cost = 0.0;         // what the fit minimised: squared distances, overlap included
    std::vector<int> support;  // outline points nearest to each ellipse's own outline
};

// Least-squares fit (damped Gauss-Newton) of the union of the start's ellipses to the
// outline points. Axes stay within [minAxis, maxAxis]. The outline says nothing of
// where particles overlap inside the blob; of the unions that fit it, the one whose
// ellipses overlap least is the likeliest, so each interior point inside two or more
// ellipses adds overlapWeight x its depth in the second to the residuals.
EllipseUnion FitEllipseUnion(const std::vector<cv::Point2d>& outline, std::vector<Ellipse> start, double minAxis,
                             double maxAxis, const std::vector<cv::Point2d>& interior = {}, double overlapWeight = 0.0,
                             int iterations = 40);

struct UnionSettings {
    int maxEllipses = 3;
    double singleRms = 0.2;       // a blob whose outline one ellipse fits this well is one particle
    double gain = 0.55;           // one more ellipse must cut the rms at least to this share
    double minSupport = 0.12;     // share of the outline each ellipse must carry
    double minArea = 8.0;         // pixels of each ellipse
    double minAxisRatio = 0.3;    // b / a of each ellipse
    double overlapWeight = 0.15;  // FitEllipseUnion
};

// One ellipse fitted to a blob's outline points, starting from the ellipse of the
// blob's moments; `mask` (CV_8UC1 0/1, the points in its coordinates) holds the blob's
// pixels. With no iterations: the moment ellipse and how well it fits, a cheap first
// look that tells most single particles from merged ones.
EllipseUnion FitSingleEllipse(const std::vector<cv::Point2d>& outline, const cv::Mat& mask, int iterations = 12);

// The ellipses that explain a blob: one unless more fit its outline markedly better and
// each of them is a plausible particle.
EllipseUnion ExplainOutline(const std::vector<cv::Point2d>& outline, const cv::Mat& mask,
                            const UnionSettings& settings = {});

// Sub-pixel points where `value` (CV_32FC1) crosses `level` between the 4-neighbours of
// the pixels of `mask` (CV_8UC1 0/1, same size) and pixels outside it.
std::vector<cv::Point2d> LevelCrossings(const cv::Mat& value, const cv::Mat& mask, double level);

// Refines a union of one to three ellipses fitted to an outline on the darkness itself
// (CV_32FC1, the ellipses in its coordinates), over the pixels where `region` (CV_8UC1) is set:
// each particle is an ellipse of its own contrast (where two overlap, the darker one
// shows) seen through a Gaussian blur of standard deviation `blur`. Moves each
// ellipse's centre and scales it (its axis ratio and angle stay) by Gauss-Newton steps
// on the squared difference. The outline is cut at one level for all particles of a
// blob, which lies further inside a lighter one, and blur rounds off what sticks out;
// the darkness shows each particle's own edge. Returns the contrasts.
// `cost`: the sum of squared differences that remains. `contrasts`: a first guess of
// each ellipse's contrast (which one shows where they overlap), all alike when empty.
std::vector<double> RefineUnionOnDarkness(const cv::Mat& darkness, const cv::Mat& region, double blur,
                                          std::vector<Ellipse>& ellipses, int iterations = 2, double* cost = nullptr,
                                          std::vector<double> contrasts = {});
