#include "../toolkit/labelling.h"
#include "stream/video_stream.h"
#include <opencv2/core.hpp>
// Breaks the layers: beside this file, "../register/run_engine.h" is register/run_engine.h.
#include "../register/run_engine.h"
