#pragma once

// The blur of a frame and of its particles (Gaussian standard deviation, pixels), read
// from the darkness the particles show: across their edges, or over their whole
// darkness where the blur comes near their size.

#include "toolkit/darkness_region.h"
#include "toolkit/weighted_observation.h"

#include <vector>

// Blur of a single particle wide enough to show its edge, from the darkness across its
// outline. The particle's ellipse (from its weighted sums at the blur guessed) gives
// every pixel's signed distance f from the outline and the outline's curvature k there.
// Across a curved edge blurred by s the darkness falls as
//   c (Phi(-z) + e^2 z phi(z)),  z = (f + s^2 k / 2 - shift) / s,  e = s k / 2,
// to second order in e (the outline bends away from a pixel outside it, so less of the
// particle is near it; the e^2 term widens the edge). The darkness, binned by
// f + s^2 k / 2, fits contrast, shift and blur. Over the pixels `owner` gives `id` (all
// near it when empty).
struct BlurFit {
    double sigma = -1.0;    // negative when the fit failed
    double sd = 0.0;        // its spread that the noise causes
    double contrast = 0.0;  // the edge's contrast
};
BlurFit BlurOfParticle(const DarknessRegion& r, const WeightedObservation& o, double guess, const cv::Mat& owner = {},
                       int id = 1);

// The same of a particle of any shape: the signed distances from its piece's outline
// (the points where its smoothed darkness crosses the outline level), each pixel's
// from the outline point nearest it along that point's normal, the curvature from the
// outline points around it. `contrast` starts the fit.
BlurFit BlurOfOutline(const DarknessRegion& r, const RegionPiece& piece, double guess, double contrast, const cv::Mat& owner,
                      int id);

// Blur of a single particle from all of its darkness: the ellipse its weighted sums give
// at a trial blur, drawn (each pixel covered by its share) and blurred by that blur,
// against the darkness the particle shows; the trial that fits best, searched within
// [lo, hi]. Exact where the edge model's expansion in blur x curvature fails, when the
// blur comes near the radius of the particles' outline; it costs a blurred drawing of
// the particle per trial.
double BlurOfWholeParticle(const DarknessRegion& r, const WeightedObservation& o, double lo, double hi);

// A particle's own blur the same way over the pixels `owner` gives `id`, searched
// from nought to `hi` (scanned, then refined), with its spread from how sharply the
// misfit rises: each particle its own focus, read true however far it lies from the
// frame's and however small the particle (the edge model fails where the blur comes
// near the particle's radius).
BlurFit OwnBlurOfWholeParticle(const DarknessRegion& r, const WeightedObservation& o, const cv::Mat& owner, int id, double hi);

// The blur of a frame from its widest single particles alone in their roi (a piece each
// whose outline one ellipse explains); a frame with too few wide ones measures it on
// the widest it has: a guess would bias every size (a blur taken for 1 px on sharp
// particles of 10 to 50 px shrinks each by about 7 px). `particles`: how many it rests
// on (0 when too few, and the blur a default).
struct FrameBlur {
    double sigma = 1.0;
    int particles = 0;
    // The particles' readings spread further than their noise and the edge model's
    // bias explain: each particle has its own focus, and one that shows its own blur is
    // sized at it.
    bool varied = false;
};
FrameBlur MeasureFrameBlur(const std::vector<DarknessRegion>& regions, const std::vector<std::vector<RegionPiece>>& piecesOf);

// The same from the edges of a frame's widest solid pieces of any outline (grains,
// fragments; BlurOfOutline), for frames whose particles are no ellipses. Particles 0
// when too few.
FrameBlur MeasureIrregularFrameBlur(const std::vector<DarknessRegion>& regions,
                                    const std::vector<std::vector<RegionPiece>>& piecesOf);

// The same from the profiles across a frame's widest thin pieces (fibres; toolkit/
// fibre_profile.h), for frames of thin particles alone.
FrameBlur MeasureFibreFrameBlur(const std::vector<DarknessRegion>& regions, const std::vector<std::vector<RegionPiece>>& piecesOf);
