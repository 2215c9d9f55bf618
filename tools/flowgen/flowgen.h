#pragma once

// Synthetic particle flows with a known truth: dark discs and ellipses on a bright,
// lightly noisy background, carried right, left, down or up by a known shift per frame,
// optionally blurred and unevenly lit. docs/synthetic-flows.md explains the model.
//
// Coordinates: a particle is placed once in "world" coordinates, which are the
// column and row it has in frame 0. In frame t a particle of a rigid flow is drawn
// `offsets[t]` further along the flow's axis (columns for a horizontal flow, rows for a
// vertical one), where offsets[t] is the sum of the shifts of frames 1 .. t (negative
// for a flow running left or up). Particles that appear later therefore lie outside
// frame 0, on the side the flow comes from.
//
// Beyond one rigid sheet: each particle may move at its own share of the flow's speed
// (a velocity profile across the channel, a spread of speeds): it is then
// round(speedFactor x offsets[t]) along the axis from its world place, always a whole
// number of pixels, so that its drawn pixels are the same in every frame. The camera
// may move the whole field across the flow (shake, tilt, a jolt): by camera[t] rows
// (horizontal flows) or columns (vertical ones). StampCentre and ViewInFrame give a
// particle's place in frame t under all of these.

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace flowgen {

enum class Direction { kRight, kLeft, kDown, kUp };

// Speed along the flow across the channel, as a share of the speed at its centre.
enum class Profile {
    kFlat,       // every place at the flow's speed
    kParabolic,  // laminar: the centre at the flow's speed, wallShare of it at both walls
    kLinear,     // shear: wallShare at the top (or left) wall, growing linearly to 1 at the other
};

struct FlowSettings {
    int width = 640;
    int height = 480;
    int frames = 30;
    unsigned seed = 1;
    // shifts[t] is the shift of frame t against frame t - 1 (shifts[0] = 0). An empty
    // list means a constant 160; a shorter list is completed by repeating its last value.
    std::vector<int> shifts;
    double density = 1.5;    // wanted particles per 100 x 100 pixels of flow
    double radiusMin = 2.5;  // equivalent radius sqrt(area / pi), in pixels
    double radiusMax = 9.0;
    double ellipseShare = 0.4;    // share of particles drawn as ellipses
    double touchingShare = 0.06;  // share of particles placed touching a neighbour
    double noise = 2.0;           // standard deviation of the Gaussian noise
    int background = 200;
    int greyMin = 40;  // particle grey levels
    int greyMax = 90;
    // Keeps particles apart so that the transition measure pairs every particle with
    // itself: particles within 6 rows of each other stay more than twice the largest
    // shift apart, and no two particles come near each other's position in the next
    // frame. Without it particles only keep a gap of 3 pixels.
    bool keepApartForShift = true;
    // Anywhere, as in a real flow: particles may touch or overlap (a pixel covered by
    // two takes the darker grey); keepApartForShift is then ignored. Every particle
    // keeps its own truth; those whose drawn pixels touch (8-connected) form one region.
    bool randomPlacement = false;
    bool rightToLeft = false;  // the flow runs to the left: shifts and offsets become negative
    // Gaussian blur of the sharp frame (sigma in pixels, 0: none), before the noise. It
    // spreads each particle's darkness without changing its sum, so `area` stays the
    // pixels drawn.
    double blurSigma = 0.0;
    // Illumination that grows linearly across the frame, multiplying the whole blurred
    // frame: gain 1 - gradient / 2 at one side and 1 + gradient / 2 at the other, the
    // bright side in the direction gradientAngleDeg (0: right, 90: down). A particle's
    // darkness relative to its local background stays the same.
    double gradient = 0.0;
    double gradientAngleDeg = 0.0;
    int jpegQuality = 95;  // for frames written as "jpg"

    // Motion beyond one rigid sheet. The defaults draw the flows above, byte for byte.
    // The way the flow runs; rightToLeft (kept for older callers) means kLeft. A vertical
    // flow is the horizontal one of a frame of height x width turned: down is its
    // transpose, up the transpose flipped upside down.
    Direction direction = Direction::kRight;
    // A particle's speed = the flow's speed (the shifts) x profile(its place across the
    // channel) x its own factor 1 + u, u uniform in [-speedSpread, speedSpread].
    Profile profile = Profile::kFlat;
    double wallShare = 1.0;
    double speedSpread = 0.0;
    // Dark spots that never move (dirt on the window): particle-like sizes, shapes and
    // greys, drawn in every frame at the same place; not particles of the flow, so not
    // part of the truth.
    int staticSpots = 0;
    // Illumination flicker: frame t multiplied by a gain 1 + u, u uniform in [-flicker, flicker].
    double flicker = 0.0;
    // Camera motion across the flow, moving the whole field (particles, not the spots):
    // shake: +shake on frames 1, 5, 9, ..., -shake on frames 3, 7, ..., 0 on even frames;
    // tilt: round(tilt x t) in frame t; jolt: a step of `jolt` from frame joltFrame on.
    int shake = 0;
    double tilt = 0.0;
    int joltFrame = -1;
    int jolt = 0;

    // Shapes beyond discs and ellipses, and focus. These are drawn by pixel shares (each
    // pixel darkened by the share of it the outline covers), so that a particle's summed
    // darkness is its outline's area x its contrast exactly, in any turn; their truth
    // area is the outline's area. Shares of the particles (the rest: discs and ellipses).
    double polygonShare = 0.0;  // irregular polygons (grains, fragments)
    int cornersMin = 6;
    int cornersMax = 10;
    double convexShare = 0.5;  // of the polygons, convex ones; the others may have dents
    double fibreShare = 0.0;   // thin fibres: capsules of width x length
    double fibreWidthMin = 2.4;
    double fibreWidthMax = 4.4;
    double fibreLengthMin = 4.0;  // length as a multiple of the width
    double fibreLengthMax = 10.0;
    double hollowShare = 0.0;  // a dark ring around a brighter centre (bubbles, beads)
    double ringMin = 1.5;      // ring width, pixels (at most 0.6 of the radius)
    double ringMax = 3.0;
    double centreMin = 0.0;  // the centre's darkness as a share of the ring's (negative: brighter than the background)
    double centreMax = 0.4;
    // Polygons and fibres turn by their own rate, uniform in [-turnMaxDeg, turnMaxDeg]
    // degrees per frame (0: they keep their pose).
    double turnMaxDeg = 0.0;
    // Each particle its own defocus: a Gaussian blur of sigma uniform in [defocusMin,
    // defocusMax] pixels, of the particle alone (0, 0: none); blurSigma still blurs the frame.
    double defocusMin = 0.0;
    double defocusMax = 0.0;
};

// True when the settings draw particles by pixel shares (shapes beyond discs and
// ellipses, or each particle its own defocus).
bool DrawsByShares(const FlowSettings& settings);

enum class Shape { kDisc, kEllipse, kPolygon, kFibre, kHollow };
const char* ShapeName(Shape shape);

// A turning particle's drawing in one frame.
struct Pose {
    cv::Mat stamp;         // 0/1: the pixels at least half covered
    cv::Mat coverage;      // CV_32F share of each pixel the outline covers
    cv::Mat darkness;      // CV_32F what is drawn, as a share of the contrast (defocused), or empty
    cv::Point2d centroid;  // darkness-weighted mean pixel of the coverage, relative to the stamp's centre pixel
};

struct Particle {
    int id = 0;
    int x0 = 0;            // world column of the stamp centre (the column in frame 0)
    int y = 0;             // row of the stamp centre
    cv::Mat stamp;         // CV_8UC1 0/1 of odd size, centred on (x0, y)
    int area = 0;          // pixels drawn (non-zero pixels of the stamp)
    cv::Point2d centroid;  // mean column / row of the drawn pixels, world coordinates
    int grey = 0;
    bool ellipse = false;
    double semiMajor = 0.0;
    double semiMinor = 0.0;
    double angleDeg = 0.0;
    // The lowest id among the other particles of its connected region (for a touching
    // pair: the partner), -1 when alone; regions as placed (frame 0's places), which a
    // flow that is not rigid does not keep (see RegionKeysInFrame).
    int touchId = -1;
    int unionArea = 0;    // pixels of its connected region (area when alone)
    int entryFrame = -1;  // first frame that shows at least one of its pixels
    int entryX = 0;       // column of the stamp centre in that frame
    // Its speed along the flow as a share of the flow's shifts (1 in a rigid flow).
    double speedFactor = 1.0;
    // Place of its centroid across the channel (the frame's row for a horizontal flow, its
    // column for a vertical one) without camera motion, from the top (or left) wall.
    double across = 0.0;

    Shape shape = Shape::kDisc;
    // Particles drawn by pixel shares (DrawsByShares): `coverage` (CV_32F, the stamp's
    // size) is the share of each pixel its filled outline covers, and `stamp` the pixels
    // at least half covered; `darkness` (CV_32F, odd size, centred like the stamp) is
    // what is drawn as a share of its contrast where that is not the coverage (a hollow
    // particle's ring, a defocused particle). All empty for a 0/1 stamp drawn as it is.
    cv::Mat coverage;
    cv::Mat darkness;
    // Polygons, fibres, hollow particles: the outline drawn, relative to the stamp's centre
    // pixel, in the flow's own frame (x downstream, y across, before the flow is turned
    // into its direction); a hollow particle's outer one.
    std::vector<cv::Point2d> outline;
    // The truth of its size and shape: area of the filled outline as drawn (the pixels of a
    // 0/1 stamp; the outline's area for shapes drawn by pixel shares, which is also their
    // summed coverage), its longest and shortest caliper diameters (of the outline; 2a and
    // 2b of an ellipse) and area / convex hull area.
    double trueArea = 0.0;
    double feretMax = 0.0;
    double feretMin = 0.0;
    double solidity = 1.0;
    double defocus = 0.0;      // its own blur sigma, pixels
    double turnDeg = 0.0;      // degrees per frame it turns (in the flow's own frame)
    double centreShare = 1.0;  // hollow: the centre's darkness as a share of the ring's
    double ringWidth = 0.0;    // hollow: pixels
    // A turning particle's drawing in frames firstPose, firstPose + 1, ... (those near
    // the frame); in other frames it is drawn as in frame 0.
    std::vector<Pose> poses;
    int firstPose = 0;
};

// A dark spot that never moves (not a particle of the flow).
struct Spot {
    cv::Point centre;  // stamp centre, frame coordinates
    cv::Mat stamp;     // CV_8UC1 0/1 of odd size
    int area = 0;
    int grey = 0;
};

struct Flow {
    FlowSettings settings;
    std::vector<int> shifts;          // one per frame, shifts[0] = 0; negative for a leftward flow
    std::vector<int> offsets;         // offsets[t] = shifts[1] + ... + shifts[t]
    std::vector<Particle> particles;  // ordered by entry frame, then from the leading side back
    // Per frame: the whole field's offset across the flow (rows of a horizontal flow,
    // columns of a vertical one; 0 without camera motion) and the illumination gain.
    std::vector<int> camera;
    std::vector<double> gains;
    std::vector<Spot> spots;
};

Direction DirectionOf(const FlowSettings& settings);  // rightToLeft taken into account
bool IsVertical(const FlowSettings& settings);
// +1 when the flow runs along increasing columns (rows), -1 when it runs back.
int AxisSign(const FlowSettings& settings);
// Frame extent along the flow (width of a horizontal flow, height of a vertical one) and across it.
int AlongExtent(const FlowSettings& settings);
int AcrossExtent(const FlowSettings& settings);

// A particle's speed along the flow as a share of the flow's (centre) speed at `across`,
// before its own factor.
double ProfileFactor(const FlowSettings& settings, double across);

// True when every particle moves with the flow's shifts (one rigid sheet, the camera
// aside): then the particles keep their placement's regions in every frame.
bool IsRigid(const Flow& flow);

// Pixels the particle has moved along the flow's axis in frame t (signed like offsets):
// round(speedFactor x offsets[t]), half away from zero.
int AlongDisplacement(const Flow& flow, const Particle& p, int t);

// The centre pixel of a particle's stamp in frame t.
cv::Point StampCentre(const Flow& flow, const Particle& p, int t);

// A particle as drawn in frame t (clipping at the frame's edge aside).
struct ParticleView {
    cv::Point centre;      // stamp centre, frame coordinates
    cv::Mat stamp;         // the 0/1 stamp drawn (shared with the particle)
    cv::Mat coverage;      // as the particle's: empty for a 0/1 stamp
    cv::Mat darkness;      // as the particle's: empty where the coverage (or the stamp) is drawn
    cv::Rect box;          // bounding box of its drawn pixels (the stamp's), frame coordinates
    cv::Point2d centroid;  // mean column / row of its drawn pixels (weighted by coverage), frame coordinates
    int area = 0;          // pixels of its stamp
    double trueArea = 0.0;  // the particle's
};
ParticleView ViewInFrame(const Flow& flow, const Particle& p, int t);

// The particle's speed along the flow in pixels per frame (positive in the flow's
// direction): speedFactor x the flow's mean speed, the mean of the shifts of frames 1 ..
// T-1 (their absolute value for a flow that runs left or up). Exact when the shifts are
// constant; in frame t the particle moves speedFactor x shifts[t] (rounded to its pixels).
double ParticleSpeed(const Flow& flow, const Particle& p);

// Shift lists for FlowSettings::shifts (frame 0 gets 0 in each).
std::vector<int> ConstantShifts(int frames, int shift);
// Frames 1, 2, 3, ... take the values of the pattern in turn, repeated.
std::vector<int> PatternShifts(int frames, const std::vector<int>& pattern);
// Uniform in [lo, hi]; each frame has no motion at all with probability zeroShare.
std::vector<int> RandomShifts(int frames, int lo, int hi, double zeroShare, unsigned seed);
// shift x (1 + u), u uniform in [-jitter, jitter], rounded and never below 0; each frame
// has no motion at all with probability zeroShare.
std::vector<int> JitteredShifts(int frames, int shift, double jitter, double zeroShare, unsigned seed);

Flow GenerateFlow(const FlowSettings& settings);

// Frame t as an 8-bit grey image.
cv::Mat RenderFrame(const Flow& flow, int t);

// Paints the non-zero pixels of a 0/1 stamp (odd size) with the given grey, its
// centre pixel at (cx, cy), clipped to the image.
void DrawStamp(cv::Mat& image, const cv::Mat& stamp, int cx, int cy, int grey);

// Stamp of an ellipse with semi-axes a >= b, turned by angleDeg, its centre moved by a
// sub-pixel offset (fx, fy) in [-0.5, 0.5) from the stamp's centre pixel.
cv::Mat MakeEllipseStamp(double a, double b, double angleDeg, double fx, double fy);

// The share of each pixel of a (2 half + 1) square stamp that a polygon covers; the
// polygon relative to the stamp's centre pixel (pixel centres at whole numbers). Exact
// (clipped to each pixel), so the shares sum to the polygon's area where it fits.
cv::Mat CoverageStamp(const std::vector<cv::Point2d>& polygon, int half);
// Area of a simple polygon; its longest and shortest caliper diameters; area over the
// area of its convex hull.
double PolygonArea(const std::vector<cv::Point2d>& polygon);
void FeretDiameters(const std::vector<cv::Point2d>& polygon, double& longest, double& shortest);
double Solidity(const std::vector<cv::Point2d>& polygon);

// A particle or a connected region of touching or overlapping ones as it appears in
// one frame.
struct VisibleGroup {
    std::vector<int> ids;  // particle ids (two for a touching pair)
    int area = 0;          // pixels drawn in total (the union for a region)
    int visibleArea = 0;   // of those, pixels inside the frame
    cv::Rect box;          // bounding box of all its pixels, frame coordinates
    cv::Point2d centroid;  // mean column / row of its pixels inside the frame
    bool fullyInside = false;
};

// The lowest id of each particle's connected region (its own id when alone), by id:
// the regions of the placement (frame 0's places), which a rigid flow keeps in every frame.
std::vector<int> RegionKeys(const Flow& flow);
// The same in frame t: the placement's regions for a rigid flow; otherwise the regions
// of the particles that frame t shows (or nearly: within a pixel of it), as they lie there.
std::vector<int> RegionKeysInFrame(const Flow& flow, int t);

// Every group with at least one pixel in frame t.
std::vector<VisibleGroup> GroupsInFrame(const Flow& flow, int t);

// "frame_0000.png" style names; the number has at least 4 digits and enough for the
// whole sequence, so that name order is time order.
std::string FrameFileName(int t, int frames, const std::string& extension);

// Writes the frames and the ground truth ("shifts.csv", "particles.csv", "tracks.csv",
// "spots.csv"; formats in tessel-flowgen --help) into folder, which is created when
// missing. Extension: "png", "bmp", "tif" or "jpg".
bool WriteFlow(const Flow& flow, const std::string& folder, const std::string& extension, std::string* error);

}  // namespace flowgen
