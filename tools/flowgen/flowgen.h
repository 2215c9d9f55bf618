#pragma once

// Synthetic particle flows with a known truth: dark discs and ellipses on a bright,
// lightly noisy background, carried to the right (or to the left) by a known shift
// per frame, optionally blurred and unevenly lit.
//
// Coordinates: a particle is placed once in "world" coordinates, which are the
// column and row it has in frame 0. In frame t every particle is drawn `offsets[t]`
// columns further right, where offsets[t] is the sum of the shifts of frames 1 .. t
// (negative for a flow running right to left). Particles that appear later
// therefore lie outside frame 0, on the side the flow comes from.

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace flowgen {

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
    // pair: the partner), -1 when alone.
    int touchId = -1;
    int unionArea = 0;    // pixels of its connected region (area when alone)
    int entryFrame = -1;  // first frame that shows at least one of its pixels
    int entryX = 0;       // column of the stamp centre in that frame
};

struct Flow {
    FlowSettings settings;
    std::vector<int> shifts;          // one per frame, shifts[0] = 0; negative for a leftward flow
    std::vector<int> offsets;         // offsets[t] = shifts[1] + ... + shifts[t]
    std::vector<Particle> particles;  // ordered by entry frame, then from the leading side back
};

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

// The lowest id of each particle's connected region (its own id when alone), by id.
std::vector<int> RegionKeys(const Flow& flow);

// Every group with at least one pixel in frame t.
std::vector<VisibleGroup> GroupsInFrame(const Flow& flow, int t);

// "frame_0000.png" style names; the number has at least 4 digits and enough for the
// whole sequence, so that name order is time order.
std::string FrameFileName(int t, int frames, const std::string& extension);

// Writes the frames and the ground truth ("shifts.csv", "particles.csv") into folder,
// which is created when missing. Extension: "png", "bmp", "tif" or "jpg".
bool WriteFlow(const Flow& flow, const std::string& folder, const std::string& extension, std::string* error);

}  // namespace flowgen
