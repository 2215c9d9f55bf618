#include "register/foi_selection.h"

#include <cstdlib>

namespace {

// An overshoot below this many columns is close enough to one frame width to take
// the frame just measured.
constexpr int kOvershootTolerance = 12;

}  // namespace

FoiChoice ChooseFrameOfInterest(int accumulatedShift, int tx, int frameWidth, int measured)
{
    const int sum = accumulatedShift + tx;
    if (sum < frameWidth)
        return {-1, sum};
    if (std::abs(sum - frameWidth) < kOvershootTolerance)
        return {measured, 0};
    return {measured - 1, tx};
}
