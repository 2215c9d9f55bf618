#include "register/motion_warnings.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

QString Text(const char* text)
{
    return QCoreApplication::translate("CMivoRegisterManager", text);
}

}  // namespace

QStringList UnmeasuredMotionTexts(CountingMode mode, int unmeasured, int flowBreaks, int frames,
                                  int changedWithoutShift)
{
    const int motions = std::max(frames - 1, 0);
    QStringList texts;
    if (mode == CountingMode::FramesOfInterest) {
        // Shifts taken as 0 place the frames of interest too close: flow between them is
        // never seen.
        if (unmeasured > changedWithoutShift)
            texts << Text("%1 of %2 frame shifts could not be measured and were taken as 0; parts of the flow may "
                          "not be counted")
                         .arg(unmeasured - changedWithoutShift)
                         .arg(motions);
        // What looks still may be a flow too faint for the measure (16-bit frames read at
        // a wrong depth, a dim recording).
        if (changedWithoutShift > 0)
            texts << Text(changedWithoutShift == 1
                              ? "%1 frame differs from the frame before but no shift was measured; it was taken as "
                                "still, and parts of the flow may not be counted (too faint a flow?)"
                              : "%1 frames differ from the frame before but no shift was measured; they were taken "
                                "as still, and parts of the flow may not be counted (too faint a flow?)")
                         .arg(changedWithoutShift);
        return texts;
    }
    if (unmeasured > flowBreaks)
        texts << Text("%1 of %2 frame motions could not be measured and were taken from the neighbouring frames")
                     .arg(unmeasured - flowBreaks)
                     .arg(motions);
    // Nothing overlaps: what passed between the two frames was never in view.
    if (flowBreaks > 0)
        texts << Text("%1 of %2 frames show nothing of the frame before (a shift larger than the frame?); what "
                      "passed between them was not counted")
                     .arg(flowBreaks)
                     .arg(motions);
    return texts;
}
