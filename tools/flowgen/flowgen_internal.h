#pragma once

// Helpers shared by the generator's sources; not part of its interface.

#include "tools/flowgen/flowgen.h"

#include <opencv2/core.hpp>

#include <vector>

namespace flowgen::detail {

constexpr double kPi = 3.14159265358979323846;

// Union-find root with path halving.
int Root(std::vector<int>& parent, int i);

// Bounding box of a stamp's drawn pixels with its centre pixel at `centre`.
cv::Rect StampBox(const cv::Mat& stamp, cv::Point centre);

// Paints a stamp where it is darker than what is there already: where particles
// overlap, the darker one shows.
void DrawStampDarker(cv::Mat& image, const cv::Mat& stamp, int cx, int cy, int grey);

// True when two stamps' drawn pixels touch or overlap (8-connected).
bool PixelsTouch(const cv::Mat& a, cv::Point ca, const cv::Mat& b, cv::Point cb);

// Regions of placed particles (world places): touchId = the lowest other id of the
// region, unionArea = the region's pixels.
void LinkRegions(std::vector<Particle>& particles);

// What the placement needs of the motion, along and across the flow as it is placed
// (a rightward flow of the canonical frame: width along, height across).
struct Travel {
    std::vector<int> offsets;  // the flow's offsets along it (positive downstream)
    std::vector<int> camera;   // the field's offsets across it
    double fastest = 1.0;      // largest speed factor a particle may get
};

// The particles of a rightward flow on a frame of canonical.width (along) x
// canonical.height (across), placed, given their speed factors, entry frames and ids.
std::vector<Particle> PlaceParticles(const FlowSettings& canonical, const std::vector<int>& shifts,
                                     const Travel& travel);

// Turns a flow built rightward on the canonical frame into the settings' direction.
void OrientFlow(Flow& flow);

// Camera offsets and illumination gains per frame, static spots.
std::vector<int> CameraOffsets(const FlowSettings& settings, int frames);
std::vector<double> FlickerGains(const FlowSettings& settings, int frames);
std::vector<Spot> MakeSpots(const FlowSettings& settings);

// A particle of the settings' shapes and sizes (log-uniform area from `u` in [0, 1)):
// a disc or an ellipse, or with the shares of DrawsByShares a polygon, fibre or hollow one.
Particle MakeParticle(const FlowSettings& s, cv::RNG& rng, double u);
Particle MakeShapedParticle(const FlowSettings& s, cv::RNG& rng, double u, Shape shape);

// A shaped particle (with an outline) drawn turned by turnDeg about its centroid, on a
// stamp of (2 half + 1) pixels square; its darkness before any defocus.
Pose DrawShape(const Particle& p, double turnDeg, int half);
// Pixel shares blurred by a Gaussian of sigma, on a stamp grown to hold the blur.
cv::Mat Defocused(const cv::Mat& shares, double sigma);
// Each particle's defocused darkness, and the poses of turning ones in the frames that
// come near them; on the canonical frame, before OrientFlow.
void ShadeParticles(std::vector<Particle>& particles, const FlowSettings& canonical, const Travel& travel);

// The same mat as seen in a flow turned into `direction` (mirrored, transposed).
cv::Mat Oriented(const cv::Mat& m, Direction direction);

}  // namespace flowgen::detail
