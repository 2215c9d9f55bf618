// Main window: "Counter Control" commands, export and the register manager's signals.
// Not written yet (they need the register manager): the slots do nothing so far.

#include "app/mivo_particle_stream_analysis.h"

void CMivoParticleStreamAnalysis::slot_btn_proc_RunVR() {}
void CMivoParticleStreamAnalysis::slot_btn_proc_StopRunVR() {}
void CMivoParticleStreamAnalysis::slot_btn_proc_coutingAll() {}
void CMivoParticleStreamAnalysis::slot_btn_proc_coutingOne() {}
void CMivoParticleStreamAnalysis::slot_btn_exportFoI() {}
void CMivoParticleStreamAnalysis::slot_updateStatusBar(QString /*text*/) {}
void CMivoParticleStreamAnalysis::slot_finishProcVR() {}
