#pragma once

#include <QString>

class CMivoRegisterManager;
struct CountOptions;

// The outcome of a finished count: one JSON object on one line (keys frames,
// frame_width, frame_height, selected_frames, accumulated_shift, count_in_range,
// count_greater, count_smaller, particles, unreadable_frames), or a short text.
QString SummaryJson(const CMivoRegisterManager& reg);
QString SummaryText(const CMivoRegisterManager& reg, const CountOptions& options);
