#pragma once

#include "register/counting_mode.h"

#include <cstddef>
#include <vector>

// The frames-of-interest count. Frame 0 is the first frame of interest. Phase 1
// measures the shift of every frame against the one before, adds the shifts up and
// takes a frame of interest each time they reach a frame width (foi_selection.h);
// it also counts each frame of interest as soon as the frames its count reads have
// been measured, while they are still decoded. Phase 2 stores those counts, one
// frame of interest per step. Phase 3 counts the strip of the last frame that the
// flow brought in since the last frame of interest.
class CFoiCounting : public CCountingMode {
public:
    int KeptFrames() const override;
    void Begin(CRunContext& run) override;
    StepReport Step(CRunContext& run) override;
    int Cursor() const override { return cursor; }
    int FrameWanted() const override { return phase == RunPhase::MeasuringShifts ? cursor + 1 : INT_MAX; }
    void VisitPendingRecords(const std::function<void(const std::vector<ParticleMeasure>&)>& visit) const override;
    int ProgressPercent(const CRunContext& run) const override;

private:
    // A frame of interest counted during phase 1.
    struct EarlyCount {
        int frame;
        bool frameRead;
        std::vector<ParticleMeasure> records;
        bool outOfMemory = false;
    };

    StepReport MeasureStep(CRunContext& run);
    StepReport CountStep(CRunContext& run);
    StepReport LastFrameStep(CRunContext& run);
    void CountEarly(CRunContext& run, int measured);
    int LastFrameReadByCount(const CRunContext& run, int index) const;
    const EarlyCount* FindEarlyCount(int index) const;

    RunPhase phase = RunPhase::MeasuringShifts;
    int cursor = 0;  // frame measured last in phase 1, position in the frames of interest in phase 2
    std::vector<EarlyCount> earlyCounts;
    size_t nextEarlyCount = 0;  // first frame of interest not yet counted early
    int flowSign = 0;           // the way the flow moved at the last decided shift: +1 right, -1 left
};
