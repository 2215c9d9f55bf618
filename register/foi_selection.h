#pragma once

// The choice of phase 1: a frame of interest is due each time the horizontal shifts
// measured since the last one add up to a frame width.
struct FoiChoice {
    int selected;          // frame index of the new frame of interest, -1 for none
    int accumulatedShift;  // the sum that goes on: the flow past the last frame of interest
};

// Adds the shift `tx` of frame `measured` (against frame measured - 1) to the sum. Once
// the sum reaches frameWidth, the frame just measured is taken when it overshoots by
// less than 12 columns and the sum starts again at 0; otherwise the frame before it,
// which still overlaps the last frame of interest, and the sum starts again at `tx`,
// the flow that has already passed that frame.
FoiChoice ChooseFrameOfInterest(int accumulatedShift, int tx, int frameWidth, int measured);
