#include "stream/sample_depth.h"

#include <algorithm>
#include <cstdint>

namespace {

int Largest(const cv::Mat& samples)
{
    double largest = 0.0;
    cv::minMaxLoc(samples, nullptr, &largest);
    return static_cast<int>(largest);
}

int FullScale(int bits)
{
    return (1 << bits) - 1;
}

}  // namespace

SampleDepth FirstFrameDepth(const cv::Mat& samples, int headerBits)
{
    SampleDepth depth;
    depth.firstFrameLargest = Largest(samples);
    if (samples.depth() == CV_8U) {
        depth.bits = 8;
        depth.source = DepthSource::Stored;
        return depth;
    }
    const int named = std::clamp(headerBits, 0, 16);
    if (named > 0 && depth.firstFrameLargest <= FullScale(std::max(named, 8))) {
        depth.bits = std::max(named, 8);
        depth.source = DepthSource::Header;
        return depth;
    }
    depth.source = DepthSource::LargestValue;
    for (int bits : {10, 12, 14, 16}) {
        depth.bits = bits;
        if (depth.firstFrameLargest <= FullScale(bits))
            break;
    }
    return depth;
}

cv::Mat ScaleToEightBit(const cv::Mat& samples, int bits)
{
    if (samples.depth() == CV_8U)
        return samples;
    const int shift = std::clamp(bits, 8, 16) - 8;
    cv::Mat grey(samples.size(), CV_8UC1);
    for (int r = 0; r < samples.rows; ++r) {
        const std::uint16_t* in = samples.ptr<std::uint16_t>(r);
        uchar* out = grey.ptr<uchar>(r);
        for (int c = 0; c < samples.cols; ++c)
            out[c] = static_cast<uchar>(std::min(in[c] >> shift, 255));
    }
    return grey;
}

bool UsesLittleOfRange(int largest, int bits)
{
    // Below 2^bits / 16: the top four bits of the range are never set.
    return bits > 0 && largest < (1 << bits) / 16;
}

ScaledFrame ScaleFrame(const cv::Mat& samples, int headerBits, const SampleDepth& sequenceDepth)
{
    ScaledFrame frame;
    if (sequenceDepth.bits <= 0) {
        frame.depth = FirstFrameDepth(samples, headerBits);
    } else {
        frame.depth = sequenceDepth;
        frame.otherDepth = (samples.depth() == CV_8U) != (sequenceDepth.bits == 8);
        if (frame.otherDepth)
            return frame;
    }
    frame.grey = ScaleToEightBit(samples, frame.depth.bits);
    const int largest = sequenceDepth.bits <= 0 ? frame.depth.firstFrameLargest : Largest(samples);
    frame.faint = UsesLittleOfRange(largest, frame.depth.bits);
    return frame;
}
