#pragma once

#include "register/run_settings.h"

#include <QStringList>

// What a finished run tells the user about the motions it could not measure, one text per
// kind, without the "[WARNING] " tag (the window shows several after one tag); empty when
// every motion was measured. `frames`: the frames of the run, the first having no motion.
// The frames of interest take an unmeasured shift as 0, and name apart the frames taken
// as still although they differ from the frame before (`changedWithoutShift`, among
// `unmeasured`); the counting line takes the motion of the neighbouring frames, and names
// apart the frames that share nothing with the frame before (`flowBreaks`, among
// `unmeasured`).
QStringList UnmeasuredMotionTexts(CountingMode mode, int unmeasured, int flowBreaks, int frames,
                                  int changedWithoutShift = 0);
