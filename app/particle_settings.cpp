// Main window: segmentation method, pixel size, particle size range and circularity
// filter. Not written yet: the slots are connected and do nothing so far.

#include "app/mivo_particle_stream_analysis.h"

void CMivoParticleStreamAnalysis::slot_segOtsu_updateSegMethod() {}
void CMivoParticleStreamAnalysis::slot_segMode_updateSegMethod() {}
void CMivoParticleStreamAnalysis::slot_segMDiff_updateSegMethod() {}
void CMivoParticleStreamAnalysis::slot_tf_pxlSize_editFinish() {}
void CMivoParticleStreamAnalysis::slot_tf_minMu_editFinish() {}
void CMivoParticleStreamAnalysis::slot_tf_maxMu_editFinish() {}
void CMivoParticleStreamAnalysis::slot_tf_minPxl_editFinish() {}
void CMivoParticleStreamAnalysis::slot_tf_maxPxl_editFinish() {}
void CMivoParticleStreamAnalysis::slot_btn_manualSelection() {}
void CMivoParticleStreamAnalysis::slot_manual_minPixel(int /*mmin*/) {}
void CMivoParticleStreamAnalysis::slot_manual_maxPixel(int /*mmax*/) {}
void CMivoParticleStreamAnalysis::slot_chb_report_filterByCircChecked(int /*state*/) {}
void CMivoParticleStreamAnalysis::slot_sbD_report_valueCirc(double /*value*/) {}
