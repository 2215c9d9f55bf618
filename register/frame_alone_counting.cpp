#include "register/frame_alone_counting.h"

#include "toolkit/out_of_memory.h"

CFrameAloneCounting::CFrameAloneCounting(int index)
    : frame(index)
{
}

void CFrameAloneCounting::Begin(CRunContext& run)
{
    run.result.selectedFrames = {frame};
}

StepReport CFrameAloneCounting::Step(CRunContext& run)
{
    bool read = true;
    // In the order found, as the frame is drawn: there is no strip of frames of interest
    // whose order it would have to follow.
    if (RanOutOfMemory([&] { run.result.records = run.Stream().CountParticles(frame, run.settings.method, &read); })) {
        read = false;
        run.result.outOfMemoryFrames = {frame};
    }
    if (!read)
        run.result.unreadableFrames = {frame};
    counted = true;
    StepReport report;
    report.finished = true;
    return report;
}
