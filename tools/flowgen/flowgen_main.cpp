// tessel-flowgen: writes a synthetic particle flow with its ground truth.

#include "tools/flowgen/flowgen.h"
#include "tools/flowgen/recording_writer.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const kUsage = R"(Usage: tessel-flowgen [options]

Writes a deterministic sequence of grey frames in which dark particles (discs and
ellipses) on a bright, lightly noisy background are carried by a flow RIGHT (or LEFT,
DOWN, UP with --direction) by a known number of pixels per frame, plus the ground
truth. In a rigid flow (the default) frame t + 1 shows every particle shift[t + 1]
pixels further along the flow than frame t; new particles keep entering at one edge
and leave at the other. Real flows need not be rigid: each particle may move at its
own speed (a velocity profile across the channel, a spread of speeds), the camera may
move across the flow, the illumination may flicker, and dirt may sit on the window.
Same options and seed, same files. docs/synthetic-flows.md explains the model.

Options:
  --out DIR              output folder, created when missing            [flow]
  --size WxH             frame width and height in pixels               [640x480]
  --frames N             number of frames                               [30]
  --seed N               random seed (placement, shapes, noise)          [1]
  --shift PX             constant shift of every frame; may exceed the
                         frame width                                    [160]
  --jitter J             with --shift: each frame's shift is PX x (1 + u),
                         u uniform in [-J, J], rounded                  [0]
  --shifts A,B,C,...     shifts of frames 1, 2, 3, ... taken in turn and
                         repeated; 0 is a frame without motion, a negative one
                         runs back (a flow that reverses: 120,120,-120,-120;
                         one that oscillates: 120,-120)
  --shift-range LO,HI    random shift per frame, uniform in [LO, HI]
  --zero-share P         with --shift or --shift-range: chance of a frame
                         without motion (a still frame)                 [0]
  --direction D          right, left, down or up: the way the flow runs. A
                         vertical flow is the horizontal one of a frame of
                         height x width turned (down: transposed; up:
                         transposed and flipped upside down). Left and up make
                         every shift and offset of the truth negative    [right]

Real flows (the defaults give the rigid flow above, byte for byte):
  --profile W            parabolic velocity profile across the channel: the
                         particles at its centre move by the frame's shift (the
                         shifts give the CENTRE speed), those at the walls (the
                         top and bottom rows of a horizontal flow, the left and
                         right columns of a vertical one) by W times it, 0 to 1
  --shear W              linear profile instead: W times the shift at the top
                         (or left) wall, the full shift at the other, 0 to 1
  --speed-spread S       each particle its own speed factor 1 + u, u uniform in
                         [-S, S], times the profile's (particles at different
                         depths, sedimenting ones), 0 to 0.9              [0]
                         A particle moves round(factor x offset[t]) pixels along
                         the flow from its place in frame 0: whole pixels, so
                         its drawn pixels are the same in every frame
  --static-spots N       N dark spots that never move (dirt on the window):
                         particle-like sizes, shapes and greys, at the same
                         place in every frame; not particles of the flow, so
                         not in the truth (spots.csv lists them)         [0]
  --flicker F            illumination flicker: frame t multiplied by a gain
                         1 + u, u uniform in [-F, F] (shifts.csv: gain)   [0]
  --shake A              the camera shakes across the flow: the whole field
                         (not the spots) moved +A px on frames 1, 5, 9, ...,
                         -A px on frames 3, 7, 11, ..., 0 on even frames  [0]
  --tilt B               the field drifts B px per frame across the flow:
                         round(B x t) in frame t (may be negative)        [0]
  --jolt FRAME,PX        a single jolt: the field moved PX px across the flow
                         from frame FRAME on
                         Camera offsets are in shifts.csv (camera: rows of a
                         horizontal flow, columns of a vertical one, positive
                         down or right); particles are placed over the rows the
                         camera takes in, so the frames stay filled

Shapes and focus (drawn by pixel shares: each pixel darkened by the share of it the
outline covers, computed exactly, so that a particle's summed darkness is its
outline's area x its contrast in any pose; the truth area of such a particle is the
area of its filled outline, the same in every frame even while it turns):
  --polygons P           share of irregular polygons (grains, fragments): K
                         corners about evenly spaced, at radii 0.65 to 1.35,
                         stretched 1 to 1.8 times, areas as the discs'       [0]
  --corners LO,HI        corners of a polygon                           [6,10]
  --convex P             share of the polygons that are convex; the others
                         may have dents                                  [0.5]
  --fibres P             share of thin fibres: capsules (a bar between two
                         half discs)                                        [0]
  --fibre-width LO,HI    their width in pixels                      [2.4,4.4]
  --fibre-length LO,HI   their length as a multiple of the width        [4,10]
  --turn DEG             polygons and fibres turn from frame to frame, each
                         by its own rate uniform in [-DEG, DEG] degrees a
                         frame, about its centroid                          [0]
  --hollow P             share of hollow particles: a dark ring around a
                         brighter centre (bubbles, transparent beads); their
                         truth is the whole disc (the filled outline)       [0]
  --ring LO,HI           ring width in pixels (at most 0.6 of the radius)
                                                                     [1.5,3]
  --hollow-centre LO,HI  the centre's darkness as a share of the ring's;
                         negative: brighter than the background       [0,0.4]
  --defocus LO,HI        each particle its own blur, sigma uniform in
                         [LO, HI] pixels (a deep flow cell): the particle's
                         darkness is spread, its sum kept; --blur still
                         blurs the whole frame                            [0,0]
  Shares of polygons, fibres and hollow particles add up to at most 1; the
  rest are discs and ellipses (--ellipses).
  --density D            wanted particles per 100 x 100 pixels of flow   [1.5]
  --radius LO,HI         equivalent radius sqrt(area / pi) in pixels; areas are
                         log-uniform between, i.e. about 20 to 254 px by default,
                         below, within and above an area range of 25 to 100  [2.5,9]
  --ellipses P           share of ellipses (axis ratio 0.45 to 0.85)     [0.4]
  --touching P           share of particles placed touching a neighbour  [0.06]
  --noise SIGMA          standard deviation of the Gaussian noise        [2]
  --blur SIGMA           Gaussian blur of the sharp frame, before the noise;
                         it spreads a particle's darkness without changing
                         its sum, so the truth area stays the pixels drawn [0]
  --gradient G[,ANGLE]   illumination that multiplies the frame, from
                         1 - G/2 to 1 + G/2 across it, brightest towards
                         ANGLE degrees (0 right, 90 down)                [0,0]
  --background G         background grey level                          [200]
  --grey LO,HI           particle grey levels                           [40,90]
  --placement MODE       exact: particles kept apart so that the transition
                         measure finds the true shift (see below); free: only
                         a gap of 3 pixels between particles; random: anywhere,
                         so particles may touch or overlap (a pixel covered by
                         two takes the darker grey), as in a real flow   [exact]
  --format EXT           png, bmp, tif or jpg                           [png]
  --jpeg-quality Q       quality of jpg frames, 1 to 100                [95]
  --stack FILE.tif       also write the frames as one multi-page TIFF
  --video FILE           also write them as a grey video at 25 frames a second:
                         .avi or .mkv lossless (FFV1), .mp4 H.264 (lossy)
  --help                 this text

Exact shifts: with --placement exact (the default) particles within 6 rows of
each other are kept more than twice the largest shift apart, no particle comes
within 3 pixels of the place another one moves to, and the flow is filled evenly
(cell by cell, sizes well mixed) so that the share of particles entering and
leaving a frame stays steady. On 640 x 480 frames with the default radius and
noise and densities of 0.8 to 4 (default 1.5, about 45 particles per frame), the
transition measure then returns the true shift exactly for every moving frame
with shifts of 100 and 160 (also in patterns such as --shifts 100,100,0,120,160),
and (0, 0) for frames without motion. Much denser flows fill up (at shift 160
about 110 particles fit in a frame) and the measure may then fail. Shifts
smaller than a particle's diameter are not measured exactly (its old and new
places overlap).

Files written to the output folder:
  frame_0000.png ...     the frames, zero padded (at least 4 digits), so name
                         order is time order
  shifts.csv             frame,file,shift,offset,camera,gain
                         shift: true shift of the frame against the previous one
                         (0 for frame 0), along the flow's axis (columns of a
                         horizontal flow, rows of a vertical one; negative to
                         the left or up): the speed at the channel's centre;
                         offset: sum of the shifts so far, i.e. how far the
                         flow's centre moved since frame 0; camera: the field's
                         offset across the flow; gain: the flicker's gain
  particles.csv          id,x0,y,entry_frame,entry_x,area,cx0,cy,x_min,x_max,
                         y_min,y_max,touch_id,union_area,shape,semi_major,
                         semi_minor,angle_deg,grey,speed_factor,speed,across,
                         true_area,feret_max,feret_min,solidity,defocus,
                         turn_deg,ring_width,centre_share
                         x0, y: centre pixel in world coordinates, which are the
                         coordinates of frame 0; in frame t a particle of a
                         horizontal flow is at column x0 + round(speed_factor x
                         offset[t]) and row y + camera[t] (a vertical one: column
                         x0 + camera[t], row y + round(speed_factor x
                         offset[t])); x0 (y) lies outside frame 0 for particles
                         that enter later; tracks.csv has every place
                         entry_frame: first frame showing one of its pixels (-1:
                         never shown); entry_x: its centre column there
                         area: pixels drawn (as a 0/1 mask sees it, whole
                         particle, before any clipping at the frame edge; for a
                         shape drawn by pixel shares: the pixels at least half
                         covered, in frame 0)
                         shape: disc, ellipse, polygon, fibre or hollow; for the
                         last three semi_major and semi_minor are half the
                         Feret diameters and angle_deg the outline's turn
                         cx0, cy: mean column / row of the drawn pixels (world)
                         x_min .. y_max: bounding box of the drawn pixels (world)
                         touch_id: the lowest id among the other particles
                         of its connected region (its partner in a touching
                         pair; -1 alone); particles whose drawn pixels touch
                         or overlap (8-connected) form one region of
                         union_area pixels; every particle keeps its own row,
                         also where another one covers part of it. Regions as
                         placed: in a flow that is not rigid particles meet and
                         part, and the regions of each frame are those its
                         drawn pixels show
                         speed_factor: its speed over the flow's (centre) speed:
                         profile x own factor (1 in a rigid flow)
                         speed: px per frame along the flow, speed_factor x the
                         mean of the shifts of frames 1 and on (exact for
                         constant shifts; in frame t it moves speed_factor x
                         shift[t], rounded to whole pixels)
                         across: its centroid's place across the channel, from
                         the top (horizontal flow) or left (vertical) wall,
                         without camera motion; the velocity profile's truth
                         (10 equal bands of the frame's height or width, the
                         count and mean speed of the particles that some frame
                         shows whole) comes from speed and across
                         true_area: the truth of its size, the area of its
                         filled outline as drawn (area for discs and ellipses,
                         the outline's area for shapes drawn by pixel shares);
                         the count's classes go by it
                         feret_max, feret_min: longest and shortest caliper
                         diameters of the outline (2a and 2b of an ellipse);
                         solidity: true_area over its convex hull's area
                         defocus: its own blur sigma; turn_deg: degrees a frame
                         it turns; ring_width, centre_share: hollow particles
  tracks.csv             frame,id,x,y,cx,cy,x_min,x_max,y_min,y_max
                         each particle in each frame that shows a pixel of it:
                         stamp centre, centroid and box of its drawn pixels
  spots.csv              id,x,y,area,x_min,x_max,y_min,y_max,grey
                         the static spots (not particles of the flow)
)";

bool ParseInts(const std::string& text, std::vector<int>& values)
{
    values.clear();
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        char* end = nullptr;
        const long v = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0')
            return false;
        values.push_back(static_cast<int>(v));
    }
    return !values.empty();
}

bool ParseDoubles(const std::string& text, std::vector<double>& values)
{
    values.clear();
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        char* end = nullptr;
        const double v = std::strtod(item.c_str(), &end);
        if (item.empty() || *end != '\0')
            return false;
        values.push_back(v);
    }
    return !values.empty();
}

int Fail(const std::string& why)
{
    std::fprintf(stderr, "tessel-flowgen: %s (see --help)\n", why.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    flowgen::FlowSettings s;
    std::string out = "flow";
    std::string format = "png";
    int constantShift = 160;
    std::vector<int> pattern;
    std::vector<int> range;
    double zeroShare = 0.0;
    double jitter = 0.0;
    std::string stackPath, videoPath;

    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc)
            return Fail("missing value after " + opt);
        const std::string val = argv[++i];
        std::vector<int> ints;
        std::vector<double> reals;
        if (opt == "--out") {
            out = val;
        } else if (opt == "--size") {
            int w = 0, h = 0;
            if (std::sscanf(val.c_str(), "%dx%d", &w, &h) != 2 || w < 8 || h < 8)
                return Fail("bad --size " + val);
            s.width = w;
            s.height = h;
        } else if (opt == "--frames") {
            if (!ParseInts(val, ints) || ints.size() != 1 || ints[0] < 1)
                return Fail("bad --frames");
            s.frames = ints[0];
        } else if (opt == "--seed") {
            if (!ParseInts(val, ints) || ints.size() != 1 || ints[0] < 0)
                return Fail("bad --seed");
            s.seed = static_cast<unsigned>(ints[0]);
        } else if (opt == "--shift") {
            if (!ParseInts(val, ints) || ints.size() != 1 || ints[0] < 0)
                return Fail("bad --shift");
            constantShift = ints[0];
        } else if (opt == "--shifts") {
            if (!ParseInts(val, pattern))
                return Fail("bad --shifts");
        } else if (opt == "--shift-range") {
            if (!ParseInts(val, range) || range.size() != 2 || range[0] < 0 || range[1] < range[0])
                return Fail("bad --shift-range");
        } else if (opt == "--jitter") {
            if (!ParseDoubles(val, reals) || reals.size() != 1 || reals[0] < 0 || reals[0] > 1)
                return Fail("bad --jitter");
            jitter = reals[0];
        } else if (opt == "--direction") {
            if (val == "right")
                s.direction = flowgen::Direction::kRight;
            else if (val == "left")
                s.direction = flowgen::Direction::kLeft;
            else if (val == "down")
                s.direction = flowgen::Direction::kDown;
            else if (val == "up")
                s.direction = flowgen::Direction::kUp;
            else
                return Fail("bad --direction " + val);
        } else if (opt == "--profile" || opt == "--shear") {
            if (!ParseDoubles(val, reals) || reals.size() != 1 || reals[0] < 0 || reals[0] > 1)
                return Fail("bad " + opt);
            s.profile = opt == "--profile" ? flowgen::Profile::kParabolic : flowgen::Profile::kLinear;
            s.wallShare = reals[0];
        } else if (opt == "--speed-spread") {
            if (!ParseDoubles(val, reals) || reals.size() != 1 || reals[0] < 0 || reals[0] > 0.9)
                return Fail("bad --speed-spread");
            s.speedSpread = reals[0];
        } else if (opt == "--polygons" || opt == "--fibres" || opt == "--hollow" || opt == "--convex") {
            if (!ParseDoubles(val, reals) || reals.size() != 1 || reals[0] < 0 || reals[0] > 1)
                return Fail("bad " + opt);
            (opt == "--polygons" ? s.polygonShare
             : opt == "--fibres" ? s.fibreShare
             : opt == "--hollow" ? s.hollowShare
                                 : s.convexShare) = reals[0];
        } else if (opt == "--corners") {
            if (!ParseInts(val, ints) || ints.size() != 2 || ints[0] < 3 || ints[1] < ints[0])
                return Fail("bad --corners");
            s.cornersMin = ints[0];
            s.cornersMax = ints[1];
        } else if (opt == "--fibre-width" || opt == "--fibre-length" || opt == "--ring" || opt == "--defocus") {
            if (!ParseDoubles(val, reals) || reals.size() != 2 || reals[0] < 0 || reals[1] < reals[0] ||
                (opt != "--defocus" && reals[0] <= 0))
                return Fail("bad " + opt);
            double& lo = opt == "--fibre-width" ? s.fibreWidthMin
                         : opt == "--fibre-length" ? s.fibreLengthMin
                         : opt == "--ring" ? s.ringMin
                                           : s.defocusMin;
            double& hi = opt == "--fibre-width" ? s.fibreWidthMax
                         : opt == "--fibre-length" ? s.fibreLengthMax
                         : opt == "--ring" ? s.ringMax
                                           : s.defocusMax;
            lo = reals[0];
            hi = reals[1];
        } else if (opt == "--hollow-centre") {
            if (!ParseDoubles(val, reals) || reals.size() != 2 || reals[0] < -1 || reals[1] < reals[0] || reals[1] > 1)
                return Fail("bad --hollow-centre");
            s.centreMin = reals[0];
            s.centreMax = reals[1];
        } else if (opt == "--turn") {
            if (!ParseDoubles(val, reals) || reals.size() != 1 || reals[0] < 0)
                return Fail("bad --turn");
            s.turnMaxDeg = reals[0];
        } else if (opt == "--static-spots") {
            if (!ParseInts(val, ints) || ints.size() != 1 || ints[0] < 0)
                return Fail("bad --static-spots");
            s.staticSpots = ints[0];
        } else if (opt == "--flicker") {
            if (!ParseDoubles(val, reals) || reals.size() != 1 || reals[0] < 0 || reals[0] > 0.5)
                return Fail("bad --flicker");
            s.flicker = reals[0];
        } else if (opt == "--shake") {
            if (!ParseInts(val, ints) || ints.size() != 1 || ints[0] < 0)
                return Fail("bad --shake");
            s.shake = ints[0];
        } else if (opt == "--tilt") {
            if (!ParseDoubles(val, reals) || reals.size() != 1)
                return Fail("bad --tilt");
            s.tilt = reals[0];
        } else if (opt == "--jolt") {
            if (!ParseInts(val, ints) || ints.size() != 2 || ints[0] < 1)
                return Fail("bad --jolt");
            s.joltFrame = ints[0];
            s.jolt = ints[1];
        } else if (opt == "--blur") {
            if (!ParseDoubles(val, reals) || reals.size() != 1 || reals[0] < 0 || reals[0] > 20)
                return Fail("bad --blur");
            s.blurSigma = reals[0];
        } else if (opt == "--gradient") {
            if (!ParseDoubles(val, reals) || reals.size() > 2 || reals[0] < 0 || reals[0] >= 2)
                return Fail("bad --gradient");
            s.gradient = reals[0];
            s.gradientAngleDeg = reals.size() > 1 ? reals[1] : 0.0;
        } else if (opt == "--jpeg-quality") {
            if (!ParseInts(val, ints) || ints.size() != 1 || ints[0] < 1 || ints[0] > 100)
                return Fail("bad --jpeg-quality");
            s.jpegQuality = ints[0];
        } else if (opt == "--zero-share") {
            if (!ParseDoubles(val, reals) || reals.size() != 1 || reals[0] < 0 || reals[0] > 1)
                return Fail("bad --zero-share");
            zeroShare = reals[0];
        } else if (opt == "--density") {
            if (!ParseDoubles(val, reals) || reals.size() != 1 || reals[0] < 0)
                return Fail("bad --density");
            s.density = reals[0];
        } else if (opt == "--radius") {
            if (!ParseDoubles(val, reals) || reals.size() != 2 || reals[0] < 0.5 || reals[1] < reals[0])
                return Fail("bad --radius");
            s.radiusMin = reals[0];
            s.radiusMax = reals[1];
        } else if (opt == "--ellipses" || opt == "--touching") {
            if (!ParseDoubles(val, reals) || reals.size() != 1 || reals[0] < 0 || reals[0] > 1)
                return Fail("bad " + opt);
            (opt == "--ellipses" ? s.ellipseShare : s.touchingShare) = reals[0];
        } else if (opt == "--noise") {
            if (!ParseDoubles(val, reals) || reals.size() != 1 || reals[0] < 0)
                return Fail("bad --noise");
            s.noise = reals[0];
        } else if (opt == "--background") {
            if (!ParseInts(val, ints) || ints.size() != 1 || ints[0] < 0 || ints[0] > 255)
                return Fail("bad --background");
            s.background = ints[0];
        } else if (opt == "--grey") {
            if (!ParseInts(val, ints) || ints.size() != 2 || ints[0] < 0 || ints[1] > 255 || ints[1] < ints[0])
                return Fail("bad --grey");
            s.greyMin = ints[0];
            s.greyMax = ints[1];
        } else if (opt == "--placement") {
            if (val != "exact" && val != "free" && val != "random")
                return Fail("bad --placement " + val);
            s.keepApartForShift = val == "exact";
            s.randomPlacement = val == "random";
        } else if (opt == "--stack") {
            stackPath = val;
        } else if (opt == "--video") {
            if (flowgen::VideoCodecFor(val) == 0)
                return Fail("bad --video " + val + " (.avi, .mkv or .mp4)");
            videoPath = val;
        } else if (opt == "--format") {
            if (val != "png" && val != "bmp" && val != "tif" && val != "jpg")
                return Fail("bad --format " + val);
            format = val;
        } else {
            return Fail("unknown option " + opt);
        }
    }

    if (s.polygonShare + s.fibreShare + s.hollowShare > 1.0)
        return Fail("--polygons, --fibres and --hollow add up to more than 1");
    if (!range.empty())
        s.shifts = flowgen::RandomShifts(s.frames, range[0], range[1], zeroShare, s.seed);
    else if (!pattern.empty())
        s.shifts = flowgen::PatternShifts(s.frames, pattern);
    else if (jitter > 0.0 || zeroShare > 0.0)
        s.shifts = flowgen::JitteredShifts(s.frames, constantShift, jitter, zeroShare, s.seed);
    else
        s.shifts = flowgen::ConstantShifts(s.frames, constantShift);

    const flowgen::Flow flow = flowgen::GenerateFlow(s);
    std::string error;
    if (!flowgen::WriteFlow(flow, out, format, &error)) {
        std::fprintf(stderr, "tessel-flowgen: %s\n", error.c_str());
        return 1;
    }
    if ((!stackPath.empty() && !flowgen::WriteStack(flow, stackPath, &error)) ||
        (!videoPath.empty() && !flowgen::WriteVideo(flow, videoPath, &error))) {
        std::fprintf(stderr, "tessel-flowgen: %s\n", error.c_str());
        return 1;
    }
    int touching = 0;
    for (const flowgen::Particle& p : flow.particles)
        if (p.touchId >= 0)
            ++touching;
    double perFrame = 0.0;
    for (int t = 0; t < s.frames; ++t)
        perFrame += static_cast<double>(flowgen::GroupsInFrame(flow, t).size());
    std::printf("%d frames of %d x %d in %s: %zu particles (%d touching), %.1f regions per frame\n", s.frames, s.width,
                s.height, out.c_str(), flow.particles.size(), touching, perFrame / s.frames);
    return 0;
}
