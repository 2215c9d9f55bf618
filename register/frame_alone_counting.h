#pragma once

#include "register/counting_mode.h"

// One frame counted whole and alone, whatever the mode (the window's "Count Current"): the
// particles the frames of interest would take from it, with the settings' margins, in one
// step. Its neighbours are read only where the method compares with them (Frame Diff).
// Nothing is logged: it chooses no frame of interest and measures no motion.
class CFrameAloneCounting : public CCountingMode {
public:
    explicit CFrameAloneCounting(int frame);

    int KeptFrames() const override { return 0; }
    bool DecodesAhead() const override { return false; }
    void Begin(CRunContext& run) override;
    StepReport Step(CRunContext& run) override;
    int Cursor() const override { return frame; }
    int ProgressPercent(const CRunContext&) const override { return counted ? 100 : 0; }

private:
    const int frame;
    bool counted = false;
};
