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
// f + s^2 k / 2, fits contrast, shift and blur.
double BlurOfParticle(const DarknessRegion& r, const WeightedObservation& o, double guess);

// Blur of a single particle from all of its darkness: the ellipse its weighted sums give
// at a trial blur, drawn (each pixel covered by its share) and blurred by that blur,
// against the darkness the particle shows; the trial that fits best, searched within
// [lo, hi]. Exact where the edge model's expansion in blur x curvature fails, when the
// blur comes near the radius of the particles' outline; it costs a blurred drawing of
// the particle per trial.
double BlurOfWholeParticle(const DarknessRegion& r, const WeightedObservation& o, double lo, double hi);

// The blur of a frame from its widest single particles alone in their roi (a piece each
// whose outline one ellipse explains); a frame with too few wide ones measures it on
// the widest it has: a guess would bias every size (a blur taken for 1 px on sharp
// particles of 10 to 50 px shrinks each by about 7 px). `particles`: how many it rests
// on (0 when too few, and the blur a default).
double MeasureFrameBlur(const std::vector<DarknessRegion>& regions, const std::vector<std::vector<RegionPiece>>& piecesOf,
                        int& particles);
