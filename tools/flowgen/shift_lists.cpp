#include "tools/flowgen/flowgen.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace flowgen {

std::vector<int> ConstantShifts(int frames, int shift)
{
    std::vector<int> shifts(static_cast<size_t>(std::max(frames, 1)), shift);
    shifts[0] = 0;
    return shifts;
}

std::vector<int> PatternShifts(int frames, const std::vector<int>& pattern)
{
    std::vector<int> shifts(static_cast<size_t>(std::max(frames, 1)), 0);
    if (pattern.empty())
        return shifts;
    for (size_t t = 1; t < shifts.size(); ++t)
        shifts[t] = pattern[(t - 1) % pattern.size()];
    return shifts;
}

std::vector<int> RandomShifts(int frames, int lo, int hi, double zeroShare, unsigned seed)
{
    cv::RNG rng(0x5EED5EEDull ^ (static_cast<uint64_t>(seed) << 20));
    std::vector<int> shifts(static_cast<size_t>(std::max(frames, 1)), 0);
    for (size_t t = 1; t < shifts.size(); ++t) {
        const bool still = rng.uniform(0.0, 1.0) < zeroShare;
        const int shift = rng.uniform(lo, hi + 1);
        shifts[t] = still ? 0 : shift;
    }
    return shifts;
}

std::vector<int> JitteredShifts(int frames, int shift, double jitter, double zeroShare, unsigned seed)
{
    cv::RNG rng(0x717E4000ull ^ (static_cast<uint64_t>(seed) << 20));
    std::vector<int> shifts(static_cast<size_t>(std::max(frames, 1)), 0);
    for (size_t t = 1; t < shifts.size(); ++t) {
        const bool still = rng.uniform(0.0, 1.0) < zeroShare;
        const double u = rng.uniform(-jitter, jitter);
        shifts[t] = still ? 0 : std::max(0, static_cast<int>(std::lround(shift * (1.0 + u))));
    }
    return shifts;
}

}  // namespace flowgen
