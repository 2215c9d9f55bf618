#pragma once

// The flow kinds of the counting-line accuracy benchmark. Each seed draws its own
// variant of a kind (shift, density, blur, noise, ... within the kind's ranges), so that
// a kind is measured on many different flows, not on one tuned case. All kinds place
// their particles at random: they touch and overlap as in a real flow.

#include "tools/flowgen/flowgen.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct FlowCase {
    std::string kind;
    unsigned seed = 0;
    flowgen::FlowSettings settings;
    std::string format = "png";
};

// The rigid flows first (one sheet moving by one shift a frame), then real flows: a
// velocity profile across the channel, each particle its own speed, dirt on the window,
// vertical flows, flicker, camera motion across the flow, and a mix of them; then
// particles of other shapes and focus: irregular polygons (still or turning), fibres,
// hollow particles, each particle its own defocus, and a mix of them.
inline const std::vector<std::string>& FlowKinds()
{
    static const std::vector<std::string> kinds{
        "large shift", "dense",    "jitter+still", "blur+noise", "gradient", "small+noise", "jpeg",
        "1024 wide",   "leftward", "mixed",        "tiny",       "strong blur",
        "profile",     "own speeds", "static spots", "downward", "upward", "flicker", "real mix",
        "shake",       "tilt",     "jolt",
        "polygons",    "turning polygons", "fibres", "hollow", "defocus", "shape mix"};
    return kinds;
}

// Kinds beyond the first ten of the matrix: settings outside their ranges, to find where
// the count breaks on flows nobody tuned it to (`--kinds` names them, `--probes` runs
// them all; "tiny" and "strong blur" joined the matrix once mended).
// "reversal" and "oscillation" run back part of the time: their truth is the net count
// of the crossings (NetsCrossings).
inline const std::vector<std::string>& ProbeKinds()
{
    static const std::vector<std::string> kinds{"slow",        "faint",       "dark ground", "strong noise",
                                                "strong blur", "blur+jpeg60", "odd sizes",   "very dense",
                                                "sparse",      "wide shifts", "left wide",   "ellipses",
                                                "wide radius", "tiny",        "faint+blur",  "tiny+blur",
                                                "shear",       "reversal",    "oscillation", "few corners",
                                                "many corners", "thin fibres", "wide rings",  "strong defocus",
                                                "blurred polygons", "blurred fibres", "blurred hollow", "steep profile",
                                                "flat profile", "wide speeds", "many spots",  "vertical mix",
                                                "slow profile", "fast speeds", "dense speeds", "shake+profile"};
    return kinds;
}

// Kinds whose flow runs back part of the time: a count nets the crossings of the line
// (flowgen::NetCrossingTruth), rather than counting every particle seen once.
inline bool NetsCrossings(const std::string& kind)
{
    return kind == "reversal" || kind == "oscillation";
}

// The random state of a kind's variants. The kinds of the first matrix and probes take
// it straight from the seed, which makes consecutive seeds draw neighbouring variants
// (cv::RNG's first numbers follow its state nearly linearly): kept for them, so that
// their flows stay those measured. Later kinds mix it first, so that every seed lands
// anywhere in the kind's ranges.
inline uint64_t VariantState(const std::string& kind, unsigned seed)
{
    static const std::vector<std::string> first{
        "large shift", "dense",       "jitter+still", "blur+noise",   "gradient",    "small+noise", "jpeg",
        "1024 wide",   "leftward",    "mixed",        "tiny",         "strong blur", "slow",        "faint",
        "dark ground", "strong noise", "blur+jpeg60", "odd sizes",    "very dense",  "sparse",      "wide shifts",
        "left wide",   "ellipses",    "wide radius",  "faint+blur",   "tiny+blur"};
    uint64_t state = 0xACC0000ull + seed * 2654435761ull + std::hash<std::string>()(kind);
    if (std::find(first.begin(), first.end(), kind) != first.end())
        return state;
    // splitmix64
    state += 0x9E3779B97F4A7C15ull;
    state = (state ^ (state >> 30)) * 0xBF58476D1CE4E5B9ull;
    state = (state ^ (state >> 27)) * 0x94D049BB133111EBull;
    return state ^ (state >> 31);
}

inline FlowCase MakeFlowCase(const std::string& kind, unsigned seed, int frames)
{
    FlowCase c;
    c.kind = kind;
    c.seed = seed;
    cv::RNG rng(VariantState(kind, seed));
    flowgen::FlowSettings& s = c.settings;
    s.seed = seed;
    s.frames = frames;
    s.randomPlacement = true;
    s.noise = rng.uniform(1.0, 3.0);
    s.density = rng.uniform(1.0, 2.0);
    s.ellipseShare = rng.uniform(0.2, 0.6);
    s.background = rng.uniform(170, 230);
    s.greyMin = rng.uniform(20, 70);
    s.greyMax = s.greyMin + rng.uniform(20, 60);
    int shift = rng.uniform(90, 220);
    double jitter = 0.0, still = 0.0;
    if (kind == "large shift") {
        shift = static_cast<int>(rng.uniform(0.36, 0.45) * s.width);
    } else if (kind == "dense") {
        s.density = rng.uniform(3.3, 3.9);  // about 100 to 120 particles per 640 x 480 frame
    } else if (kind == "jitter+still") {
        jitter = 0.4;
        still = rng.uniform(0.1, 0.25);
    } else if (kind == "blur+noise") {
        s.blurSigma = rng.uniform(0.8, 2.0);
        s.noise = rng.uniform(3.0, 6.0);
    } else if (kind == "gradient") {
        s.gradient = rng.uniform(0.3, 0.8);
        s.gradientAngleDeg = rng.uniform(0.0, 360.0);
        s.blurSigma = rng.uniform(0.0, 1.0);
    } else if (kind == "small+noise") {
        s.radiusMin = rng.uniform(1.6, 2.2);  // from about 8 px
        s.radiusMax = rng.uniform(4.5, 6.0);  // to about 64 to 113 px
        s.noise = rng.uniform(4.0, 7.0);
        s.density = rng.uniform(2.0, 3.0);
    } else if (kind == "jpeg") {
        c.format = "jpg";
        s.jpegQuality = rng.uniform(70, 91);
        s.blurSigma = rng.uniform(0.5, 1.2);
    } else if (kind == "1024 wide") {
        s.width = 1024;
        s.height = rng.uniform(0, 2) ? 1024 : 768;
        shift = rng.uniform(150, 420);
        s.density = rng.uniform(1.2, 2.5);
    } else if (kind == "leftward") {
        s.rightToLeft = true;
        shift = rng.uniform(80, 280);
    } else if (kind == "mixed") {
        s.density = rng.uniform(2.0, 3.2);
        s.blurSigma = rng.uniform(0.6, 1.6);
        s.gradient = rng.uniform(0.2, 0.6);
        s.gradientAngleDeg = rng.uniform(0.0, 360.0);
        s.noise = rng.uniform(2.0, 5.0);
        s.rightToLeft = rng.uniform(0, 2) == 1;
        jitter = 0.3;
        still = 0.1;
        shift = rng.uniform(100, 260);
    } else if (kind == "slow") {
        shift = rng.uniform(3, 31);  // every particle seen in many frames
    } else if (kind == "faint") {
        s.background = 200;
        s.greyMin = 120;
        s.greyMax = 170;
    } else if (kind == "dark ground") {
        s.background = 120;
        s.greyMin = 20;
        s.greyMax = 70;
    } else if (kind == "strong noise") {
        s.noise = rng.uniform(8.0, 12.0);
    } else if (kind == "strong blur") {
        s.blurSigma = rng.uniform(2.5, 3.0);
    } else if (kind == "blur+jpeg60") {
        c.format = "jpg";
        s.jpegQuality = 60;
        s.blurSigma = rng.uniform(1.0, 2.0);
    } else if (kind == "odd sizes") {
        static const int sizes[3][2] = {{800, 600}, {1280, 360}, {333, 500}};
        const int k = rng.uniform(0, 3);
        s.width = sizes[k][0];
        s.height = sizes[k][1];
        shift = static_cast<int>(rng.uniform(0.15, 0.4) * s.width);
    } else if (kind == "very dense") {
        s.density = rng.uniform(4.0, 6.0);
    } else if (kind == "sparse") {
        s.density = 0.2;  // a few particles a frame, some frames without any
    } else if (kind == "ellipses") {
        s.ellipseShare = 1.0;
    } else if (kind == "wide radius") {
        s.radiusMin = 2.0;
        s.radiusMax = 14.0;
    } else if (kind == "tiny") {
        s.radiusMin = 1.5;
        s.radiusMax = 4.0;
    } else if (kind == "faint+blur") {
        s.background = 200;
        s.greyMin = 120;
        s.greyMax = 170;
        s.blurSigma = rng.uniform(1.0, 2.0);
    } else if (kind == "tiny+blur") {
        s.radiusMin = 1.5;
        s.radiusMax = 4.0;
        s.blurSigma = rng.uniform(1.0, 2.0);
        s.noise = rng.uniform(3.0, 5.0);
    } else if (kind == "profile") {
        s.profile = flowgen::Profile::kParabolic;
        s.wallShare = rng.uniform(0.2, 0.7);
    } else if (kind == "steep profile" || kind == "flat profile") {
        // Beyond the matrix's profiles: walls nearly at rest, or nearly as fast as the centre.
        s.profile = flowgen::Profile::kParabolic;
        s.wallShare = kind == "steep profile" ? rng.uniform(0.05, 0.2) : rng.uniform(0.7, 0.95);
    } else if (kind == "wide speeds") {
        s.speedSpread = rng.uniform(0.3, 0.5);
    } else if (kind == "many spots") {
        s.staticSpots = rng.uniform(26, 61);
    } else if (kind == "vertical mix") {
        s.direction = rng.uniform(0, 2) == 1 ? flowgen::Direction::kDown : flowgen::Direction::kUp;
        s.profile = flowgen::Profile::kParabolic;
        s.wallShare = rng.uniform(0.2, 0.8);
        s.speedSpread = rng.uniform(0.0, 0.2);
        s.staticSpots = rng.uniform(0, 21);
    } else if (kind == "slow profile" || kind == "shake+profile") {
        // A slow flow (each particle in many frames) or a shaking camera, across a profile.
        s.profile = flowgen::Profile::kParabolic;
        s.wallShare = rng.uniform(0.1, 0.8);
        if (kind == "slow profile")
            shift = rng.uniform(15, 60);
        else
            s.shake = rng.uniform(2, 6);
    } else if (kind == "fast speeds" || kind == "dense speeds") {
        // Speeds of their own on a fast flow (half the frame a frame), or on a dense one.
        s.speedSpread = rng.uniform(0.15, 0.35);
        if (kind == "fast speeds")
            shift = rng.uniform(220, 320);
        else
            s.density = rng.uniform(3.0, 4.0);
    } else if (kind == "shear") {
        s.profile = flowgen::Profile::kLinear;
        s.wallShare = rng.uniform(0.2, 0.7);
    } else if (kind == "own speeds") {
        s.speedSpread = rng.uniform(0.1, 0.3);
    } else if (kind == "static spots") {
        s.staticSpots = rng.uniform(5, 26);
    } else if (kind == "downward" || kind == "upward") {
        s.direction = kind == "downward" ? flowgen::Direction::kDown : flowgen::Direction::kUp;
        if (rng.uniform(0, 2) == 1)
            std::swap(s.width, s.height);  // 480 x 640: the flow along the longer side
    } else if (kind == "flicker") {
        s.flicker = rng.uniform(0.1, 0.2);
    } else if (kind == "real mix") {
        s.profile = flowgen::Profile::kParabolic;
        s.wallShare = rng.uniform(0.3, 0.6);
        s.staticSpots = rng.uniform(5, 16);
        s.flicker = rng.uniform(0.05, 0.15);
        s.blurSigma = rng.uniform(0.4, 1.2);
        s.rightToLeft = rng.uniform(0, 2) == 1;
        s.defocusMax = rng.uniform(0.5, 2.0);
    } else if (kind == "shake") {
        s.shake = rng.uniform(2, 6);
    } else if (kind == "tilt") {
        s.tilt = rng.uniform(1.0, 4.0) * (rng.uniform(0, 2) == 1 ? 1 : -1);
    } else if (kind == "jolt") {
        s.joltFrame = rng.uniform(frames / 4, 3 * frames / 4 + 1);
        s.jolt = rng.uniform(2, 7) * (rng.uniform(0, 2) == 1 ? 1 : -1);
    } else if (kind == "polygons" || kind == "turning polygons" || kind == "blurred polygons") {
        s.polygonShare = rng.uniform(0.6, 1.0);
        s.cornersMin = rng.uniform(4, 8);
        s.cornersMax = s.cornersMin + rng.uniform(1, 6);
        s.convexShare = rng.uniform(0.2, 0.8);
        if (kind == "turning polygons")
            s.turnMaxDeg = rng.uniform(5.0, 40.0);
    } else if (kind == "fibres" || kind == "blurred fibres") {
        s.fibreShare = rng.uniform(0.5, 1.0);
        s.fibreWidthMin = rng.uniform(1.8, 3.0);
        s.fibreWidthMax = s.fibreWidthMin + rng.uniform(0.8, 2.0);
        s.fibreLengthMin = rng.uniform(3.0, 5.0);
        s.fibreLengthMax = rng.uniform(7.0, 12.0);
        s.turnMaxDeg = rng.uniform(0, 2) == 1 ? rng.uniform(2.0, 20.0) : 0.0;
    } else if (kind == "hollow" || kind == "blurred hollow") {
        s.hollowShare = rng.uniform(0.5, 1.0);
        s.ringMin = rng.uniform(1.0, 2.0);
        s.ringMax = s.ringMin + rng.uniform(0.5, 1.5);
        s.centreMin = rng.uniform(-0.2, 0.2);
        s.centreMax = s.centreMin + rng.uniform(0.1, 0.4);
    } else if (kind == "defocus") {
        s.defocusMax = rng.uniform(1.5, 3.0);
    } else if (kind == "few corners" || kind == "many corners") {
        // The shapes' probes: beyond the ranges of the kinds above, all turning.
        s.polygonShare = 1.0;
        s.cornersMin = kind == "few corners" ? 3 : rng.uniform(10, 13);
        s.cornersMax = kind == "few corners" ? rng.uniform(4, 6) : s.cornersMin + rng.uniform(2, 6);
        s.convexShare = rng.uniform(0.0, 1.0);
        s.turnMaxDeg = rng.uniform(10.0, 50.0);
    } else if (kind == "thin fibres") {
        s.fibreShare = 1.0;
        s.fibreWidthMin = rng.uniform(1.2, 1.8);
        s.fibreWidthMax = s.fibreWidthMin + rng.uniform(0.3, 0.8);
        s.fibreLengthMin = rng.uniform(5.0, 8.0);
        s.fibreLengthMax = rng.uniform(12.0, 18.0);
        s.turnMaxDeg = rng.uniform(0.0, 20.0);
    } else if (kind == "wide rings") {
        s.hollowShare = 1.0;
        s.ringMin = rng.uniform(2.5, 3.5);
        s.ringMax = s.ringMin + rng.uniform(1.0, 2.0);
        s.centreMin = rng.uniform(-0.4, -0.1);
        s.centreMax = s.centreMin + rng.uniform(0.1, 0.5);
    } else if (kind == "strong defocus") {
        s.defocusMin = rng.uniform(0.0, 1.0);
        s.defocusMax = rng.uniform(3.0, 4.5);
    } else if (kind == "shape mix") {
        s.polygonShare = rng.uniform(0.2, 0.3);
        s.fibreShare = rng.uniform(0.1, 0.2);
        s.hollowShare = rng.uniform(0.1, 0.2);
        s.turnMaxDeg = rng.uniform(0.0, 20.0);
        s.defocusMax = rng.uniform(0.5, 2.0);
    } else if (kind == "reversal") {
        // Forward for a while, then back at another speed.
        const int turn = rng.uniform(frames / 3, 2 * frames / 3 + 1);
        const int back = -static_cast<int>(shift * rng.uniform(0.6, 1.2));
        s.shifts.assign(static_cast<size_t>(frames), shift);
        s.shifts[0] = 0;
        for (int t = turn; t < frames; ++t)
            s.shifts[static_cast<size_t>(t)] = back;
    } else if (kind == "oscillation") {
        // Forth and back by turns, back by 60 to 100 % of forth: the flow pulses on slowly.
        s.shifts = flowgen::PatternShifts(frames, {shift, -static_cast<int>(shift * rng.uniform(0.6, 1.0))});
    }
    // The shape kinds drawn sharp, and blurred by 1 to 2 px.
    if (kind.rfind("blurred ", 0) == 0)
        s.blurSigma = rng.uniform(1.0, 2.0);
    // The brightest background stays below white, so that the gradient keeps every
    // particle's relative darkness.
    s.background = std::min(s.background, static_cast<int>(240.0 / (1.0 + 0.5 * s.gradient)));
    if (kind == "wide shifts" || kind == "left wide") {
        s.rightToLeft = kind == "left wide";
        s.shifts = flowgen::RandomShifts(frames, 0, 280, 0.3, seed);
    } else if (NetsCrossings(kind)) {
        // set above
    } else {
        s.shifts = flowgen::JitteredShifts(frames, shift, jitter, still, seed);
    }
    return c;
}

}  // namespace bench
