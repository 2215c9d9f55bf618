#pragma once

#include <opencv2/core.hpp>

#include <vector>

// Touching and overlapping particles merge into one blob whose outline has a neck on
// each side where they meet. A blob is cut along the line between the two deepest
// dents of its outline while both are deep enough, and the pieces are cut again, so
// that up to four particles come apart. A single ellipse has no dents deeper than its
// outline's raggedness.

struct SplitPiece {
    cv::Mat mask;                    // CV_8UC1 0/1, the blob's size
    std::vector<cv::Point> outline;  // its own outline pixels, without those along a cut
};

// Pieces of a 0/1 blob mask (one 8-connected region); the blob itself, whole, when it
// has no neck. minDepth: the shallowest dent that counts as a neck, in pixels.
std::vector<SplitPiece> SplitAtNecks(const cv::Mat& blob, double minDepth = 1.0);

// The part of the ellipse fitted to a piece's outline that lies outside the piece:
// the pixels of the particle hidden under its neighbour. The outline lies on the
// piece's edge pixels, half a pixel inside its edge; the ellipse is grown by that.
// Empty when the outline is too short to fit or the fit runs away.
cv::Mat HiddenPart(const SplitPiece& piece);
