#pragma once

#include <opencv2/core.hpp>

#include <vector>

// A particle that a blob may hold: where, and how big.
struct BlobPart {
    cv::Point2d centroid;
    double area = 0.0;
};

// One particle found in a frame, measured so that it can be followed from frame to
// frame and counted once: where it is, how big it is, and whether the frame shows
// all of it. Produced by the detections of the counting-line run, consumed by its
// motion measure and its counter.
struct ParticleBlob {
    cv::Point2d centroid;        // mean column / row in frame coordinates, sub-pixel
    double area = 0.0;           // estimated pixels of the particle itself
    int maskArea = 0;            // pixels of its segmentation mask
    cv::Rect box;                // bounding box of its mask, frame coordinates
    bool touchesBorder = false;  // its mask reaches the frame's edge: cut, not whole
    double ratio = 0.0;          // shorter / longer side of the minimum-area rectangle
    double circularity = 0.0;    // 4 pi A / P^2, 1 for an ideal circle
    int group = -1;              // blobs split from one connected region share an id; -1 alone
    // Its own darkness, 1 - grey / local background (0 when not known).
    double contrast = 0.0;
    // How far `area` may be off: the standard deviation that the frame's noise causes
    // (first order), or a share of the area for particles split from a merged blob,
    // whose outline leaves more open; 0 when not known. See CombinedArea.
    double areaSd = 0.0;
    // Shape: longest and shortest caliper widths (pixels), area / convex hull area, and
    // the particle's own blur (Gaussian sigma, pixels); 0 when not measured.
    double feretMax = 0.0;
    double feretMin = 0.0;
    double solidity = 0.0;
    double blur = 0.0;
    // A blob the detection kept whole for want of evidence that it holds several
    // particles (a neck, two cores), although a union of ellipses explains its outline:
    // the particles that union would give, for a tracker that sees them apart in
    // another frame to choose. Empty when no split was in view.
    std::vector<BlobPart> possibleParts;
};

using ParticleBlobs = std::vector<ParticleBlob>;

// One area from several views of the same particle, each whole in a frame with noise of
// its own: their mean weighted by 1 / (areaSd / area)^2 (relative, so that a view that
// comes out larger by chance, and states a larger areaSd with it, does not pull the
// mean down). The views' areas are unbiased and their errors independent, so the
// weighted mean is as precise as the views allow; their median wastes a good part of
// it. Views further from the median area than four typical relative spreads and a
// pixel (split wrongly, or merged with a neighbour) are left out; views without an
// areaSd count as the least certain of the others. 0 for no views.
double CombinedArea(const std::vector<ParticleBlob>& views);

// The shape of one particle from several views (feretMax, feretMin, solidity, blur):
// the median of each over the views that measured it (0 when none did); the other
// members are left at their defaults.
ParticleBlob CombinedShape(const std::vector<ParticleBlob>& views);
