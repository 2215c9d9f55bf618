#pragma once

#include "register/counting_mode.h"
#include "stream/crossing_counter.h"

#include <opencv2/core.hpp>

#include <memory>

// The counting-line count: every frame in turn, its particles detected (on the decoding
// workers, except for Frame Diff, which needs the neighbouring frames and runs in the
// step from the frames it keeps), followed from frame to frame by the crossing counter
// (stream/crossing_counter.h) and counted once, in the frame where they cross a line
// across the middle of the flow. Records arrive when their tracks end; the last step
// takes the rest and fills in what the front ends show: the frames that counted, the
// motions that could not be measured, the flow's direction and the band each frame
// swept.
class CCrossingCounting : public CCountingMode {
public:
    explicit CCrossingCounting(int method);

    int KeptFrames() const override;
    CFrameSource::Analysis FrameAnalysis() const override;
    void Begin(CRunContext& run) override;
    StepReport Step(CRunContext& run) override;
    int Cursor() const override { return taken > 0 ? taken - 1 : 0; }  // the frame taken last
    int FrameWanted() const override { return phase == RunPhase::Done ? INT_MAX : taken; }
    int ProgressPercent(const CRunContext& run) const override;

private:
    // Frame Diff: frame `index` is detected once the frame after it is taken.
    void AddDifferenceFrame(CRunContext& run, int index, const cv::Mat& next);
    void Add(CRunContext& run, int index, const ParticleBlobs& blobs);
    void Finish(CRunContext& run);

    const int method;
    std::unique_ptr<CrossingCounter> counter;
    RunPhase phase = RunPhase::MeasuringShifts;
    int taken = 0;  // frames taken so far
    // Frame Diff: the two frames before the one taken last (empty when unreadable).
    cv::Mat beforePrevious, previous;
};
