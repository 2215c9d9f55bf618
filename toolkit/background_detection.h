#pragma once

#include "toolkit/particle_blob.h"

#include <opencv2/core.hpp>

// Segmentation method 4, "Background": particles as darkness relative to the plane of
// their surrounding background, so that an illumination gradient cancels, found at
// about half of their own contrast, so that blur neither grows nor shrinks them.
// - Blur: measured on the frame, from the darkness across the edges of its widest
//   single particles; where the particles' readings spread (each its own focus), every
//   single particle's own from its whole darkness (toolkit/particle_blur.h).
// - Size: each single particle's area, contrast and axis ratio from its darkness
//   under two Gaussian weights, an estimator that blur does not bias and that noise
//   spreads within a few percent of the least any estimator can
//   (toolkit/blurred_area.h); with it the spread the noise gives the area (areaSd).
// - Touching and overlapping particles: a blob whose outline one ellipse fits worse
//   than it fits most blobs of the frame is explained by the union of two or three
//   ellipses fitted to its outline and refined on its darkness, each particle sized by
//   its own ellipse, the part its neighbour hides included; a darker particle lying on
//   a lighter one shows by its peak and is split on the darkness alone
//   (toolkit/ellipse_union.h).

struct BackgroundDetectionSettings {
    // Darkness (1 - grey / background, after a Gaussian of 1 pixel) that marks a
    // particle candidate; particles are found at half of their own contrast, so this
    // only has to clear the noise.
    double detectionDarkness = 0.12;
    // Particles whose darkness never reaches it (faint ones, small ones under a strong
    // blur) are candidates from this darkness on, as long as they stand apart from the
    // others; those are not grown by it, so that neighbours do not run together.
    double faintDarkness = 0.08;
    // Blur of the frame (Gaussian standard deviation, pixels); negative: measured on
    // the frame's larger single particles.
    double blurSigma = -1.0;
    // Candidates with fewer pixels are noise.
    int minPixels = 5;
    bool splitOverlaps = true;
    // A blob is looked at for merged particles when the ellipse of its moments fits its
    // outline this many times worse (rms) than it fits the median blob of the frame.
    double splitRmsFactor = 2.5;
};

struct BackgroundDetection {
    ParticleBlobs blobs;
    cv::Mat mask;            // CV_8UC1 0/1: every particle as one 8-connected piece, cut at
                             // half its contrast or lower (down to 0.3 of it) so that its
                             // pixels match its area, holes filled; where split particles
                             // touch, the larger one gives way
    double blurSigma = 0.0;  // the blur used: given or measured
    int blurParticles = 0;   // particles the measured blur rests on (0 when given or too few)
};

// Grey (CV_8UC1) in; an empty image gives no blobs and an empty mask.
BackgroundDetection SegmentParticlesBackground(const cv::Mat& grey, const BackgroundDetectionSettings& settings = {});

// The particles of SegmentParticlesBackground alone.
ParticleBlobs DetectParticlesBackground(const cv::Mat& grey, const BackgroundDetectionSettings& settings = {});

// The mask of SegmentParticlesBackground alone, for the whole-frame counts.
cv::Mat SegmentBackground(const cv::Mat& grey);
