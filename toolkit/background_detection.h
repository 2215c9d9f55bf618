#pragma once

#include "toolkit/particle_blob.h"

#include <opencv2/core.hpp>

// Segmentation method 4, "Background": particles as darkness relative to a smooth
// background, so that an illumination gradient cancels, cut at half of each
// particle's own contrast, so that blur neither grows nor shrinks them, and sized by
// their summed darkness, which blur does not change (toolkit/blurred_area.h).
// Touching and overlapping particles are split (toolkit/blob_splitting.h).

struct BackgroundDetectionSettings {
    // Darkness (1 - grey / background, after a Gaussian of 1 pixel) that marks a
    // particle candidate; particles are found at half of their own contrast, so this
    // only has to clear the noise.
    double detectionDarkness = 0.12;
    // Blur of the frame (Gaussian standard deviation, pixels); negative: measured on
    // the frame's larger single particles.
    double blurSigma = -1.0;
    // Candidates with fewer pixels are noise.
    int minPixels = 5;
    bool splitOverlaps = true;
    // A blob is split when one ellipse fits its outline this many times worse (rms) than
    // it fits the median blob of the frame.
    double splitRmsFactor = 2.5;
};

struct BackgroundDetection {
    ParticleBlobs blobs;
    cv::Mat mask;            // CV_8UC1 0/1: every particle at half its contrast, holes
                             // filled, the pixels between split particles cleared
    double blurSigma = 0.0;  // the blur used: given or measured
    int blurParticles = 0;   // particles the measured blur rests on (0 when given or too few)
};

// Grey (CV_8UC1) in; an empty image gives no blobs and an empty mask.
BackgroundDetection SegmentParticlesBackground(const cv::Mat& grey, const BackgroundDetectionSettings& settings = {});

// The particles of SegmentParticlesBackground alone.
ParticleBlobs DetectParticlesBackground(const cv::Mat& grey, const BackgroundDetectionSettings& settings = {});

// The mask of SegmentParticlesBackground alone, for the whole-frame counts.
cv::Mat SegmentBackground(const cv::Mat& grey);
