#pragma once

// A region of a frame's candidate pixels read against its local background: its
// darkness, the noise of a pixel, and its pieces (each a particle, or particles merged
// into one blob) cut at about half its peak with the outline they show. The second
// stage of the background detection (toolkit/background_detection.h).

#include "toolkit/ellipse_union.h"
#include "toolkit/filled_parts.h"

#include <opencv2/core.hpp>

#include <vector>

class CandidateRuns;
class NearCandidates;

// Pixels around a candidate that its blur may reach, and further ones whose background
// fits the local plane.
constexpr int kWideMargin = 6;
constexpr int kPlaneMargin = 16;
// Outlines are cut at this share of a region's peak darkness: half, a little less so
// that a lighter particle merged with a darker one keeps more of its own outline.
constexpr double kOutlineLevel = 0.45;

// A connected region of candidate pixels with its darkness against the local background.
struct DarknessRegion {
    int label = 0;
    cv::Rect roi;        // its box grown by kWideMargin, clipped to the frame
    cv::Mat dark;        // CV_32F darkness in roi
    cv::Mat smoothDark;  // CV_32F darkness of the smoothed frame in roi
    cv::Mat others;      // CV_8U 0/1 in roi: other regions' candidate pixels (empty when none)
    float peak = 0.0f;   // largest smoothed darkness on its candidate pixels
    double noise = 0.0;  // standard deviation of the darkness of a pixel
    bool atEdge = false;
};

// A particle or a blob of merged particles inside a region: its pixels at the outline
// level of the region's peak and the ellipses that explain their outline.
struct RegionPiece {
    cv::Mat mask;  // CV_8U 0/1 in roi
    std::vector<cv::Point2d> outline;
    EllipseUnion shape;
    double singleRms = 0.0;  // how far the outline lies from the moment ellipse (shape's own rms until explained)
    float hollowRim = 0.0f;  // a hollow particle's rim darkness (toolkit/hollow_particle.h), 0 when solid
    bool elliptic = true;    // its outline lies as near its moment ellipse as single ellipses' of the frame do
    bool fibres = false;     // its ellipses (shape) are crossing or touching fibres
};

// Region `label` of the candidates: its darkness against the plane fitted to the
// background around it (the block background where too little is free), and its
// pieces of at least three pixels, each with its outline, whether it is hollow and,
// when `lookAtShapes`, how well its moment ellipse fits the outline (otherwise one
// ellipse, unfitted).
void ReadRegion(const cv::Mat& grey, const cv::Mat& smooth, const cv::Mat& grid, const CandidateRuns& runs,
                const NearCandidates& excluded, int label, bool lookAtShapes, DarknessRegion& region,
                std::vector<RegionPiece>& pieces);

// The largest 8-connected part of a 0/1 mask with its holes filled and its outer border
// (no pixels when the mask has none).
FilledPart LargestPart(const cv::Mat& mask);

// Pixels of the region's roi that each piece owns (CV_32S, 1 + piece index, 0 for none):
// those nearer to its mask than to any other piece's or another region's pixels.
cv::Mat Ownership(const DarknessRegion& r, const std::vector<RegionPiece>& pieces);

// The level that cuts a particle's mask: half its contrast, or lower, down to 0.3 of
// it, where the darkest pixels as many as its area reach. Blur rounds a small
// particle's outline inward at half contrast; this keeps its mask at its size. A small
// particle under a blur wider than itself may not reach 0.3 of its contrast anywhere:
// its mask is then cut at the outline's share of its own peak, so that it keeps one.
double MaskLevel(const cv::Mat& dark, const cv::Mat& owner, int id, double area, double contrast);
