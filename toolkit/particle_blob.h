#pragma once

#include <opencv2/core.hpp>

#include <vector>

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
    double contrast = 0.0;       // its own darkness, 1 - grey / local background (0 when not known)
    double areaSd = 0.0;         // standard deviation of `area` that the frame's noise causes (0 when not known)
};

using ParticleBlobs = std::vector<ParticleBlob>;
