#pragma once

#include "register/run_result.h"
#include "register/run_settings.h"
#include "stream/video_stream.h"

// The one place a run's settings reach a stream: its folder and frames, the area bounds,
// the margins and the pixel limit. With the run's result the stream also takes the frame
// size the run found, so that it reads and checks frames as the run did (the reason a
// frame was left out, the frames of a picture).
void SetUpStream(CVideoStream& stream, const RunSettings& settings, const RunResult* run = nullptr);
