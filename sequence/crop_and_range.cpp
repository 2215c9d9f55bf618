// Main window: crop margins and the (inert) processing range. Not written yet (they
// need the crop dialog): the slots do nothing so far.

#include "app/mivo_particle_stream_analysis.h"

void CMivoParticleStreamAnalysis::slot_t4Crop_SetCroppingEnded(double /*top*/, double /*bottom*/,
                                                               double /*left*/, double /*right*/,
                                                               bool /*ok*/, QString /*text*/)
{
}
void CMivoParticleStreamAnalysis::slot_chb_proc_cropImg() {}
void CMivoParticleStreamAnalysis::slot_chb_proc_setRange() {}
