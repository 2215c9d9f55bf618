#pragma once

#include <opencv2/core.hpp>

// How many bits of a frame's samples carry the picture, and the 8-bit grey picture the
// run works on. Cameras of 10, 12 or 14 bits write their samples right-justified in
// 16-bit PNG or TIFF files: read as 16-bit numbers they fill only the bottom of the
// range, and their high byte alone is nearly black. A sequence is scaled by one depth,
// frame 0's, so that no frame's own brightness changes how it is scaled (and counted).

enum class DepthSource {
    None,          // not known (no frame 0 read yet, or frame 0 unreadable)
    Stored,        // 8-bit samples
    Header,        // the file says: PNG sBIT, TIFF MaxSampleValue
    LargestValue,  // frame 0's largest sample, rounded up to 10, 12, 14 or 16 bits
};

struct SampleDepth {
    int bits = 0;  // 8 for 8-bit samples, 8 .. 16 for 16-bit ones; 0 when not known
    DepthSource source = DepthSource::None;
    int firstFrameLargest = 0;  // frame 0's largest sample
};

// Frame 0's depth: 8 for 8-bit samples. For 16-bit samples the depth the header names
// (`headerBits`, 0 when it names none) when every sample fits it; otherwise (no header,
// or samples above it: a header that follows the PNG rule of samples scaled up to 16
// bits) the largest sample rounded up to 10, 12, 14 or 16 bits.
SampleDepth FirstFrameDepth(const cv::Mat& samples, int headerBits);

// 8-bit grey from CV_8UC1 or CV_16UC1 samples of `bits` bits: the top eight of them
// (sample >> (bits - 8)), samples above the range saturated at 255. 8-bit samples are
// returned as they are (bits 8). Full-range 16-bit samples (bits 16) keep their high
// byte, as OpenCV's own 8-bit reading makes them.
cv::Mat ScaleToEightBit(const cv::Mat& samples, int bits);

// A frame whose largest sample is below 1/16 of the range of `bits` bits: nearly black at
// this depth (a wrong depth, a dark frame).
bool UsesLittleOfRange(int largest, int bits);

// The grey picture of one frame at its sequence's depth.
struct ScaledFrame {
    cv::Mat grey;               // CV_8UC1; empty when the depths disagree
    SampleDepth depth;          // the depth scaled by: the sequence's, or the frame's own
    bool otherDepth = false;    // 8-bit samples in a sequence of 16-bit ones, or the reverse
    bool faint = false;         // UsesLittleOfRange
};

// Scales `samples` (CV_8UC1 or CV_16UC1) by `sequenceDepth`; without one (bits 0) by the
// frame's own depth, as frame 0's is chosen. A frame whose samples are stored in another
// width than the sequence's (8-bit among 16-bit frames or the reverse) is not scaled: its
// depth cannot be told from the sequence's.
ScaledFrame ScaleFrame(const cv::Mat& samples, int headerBits, const SampleDepth& sequenceDepth);
