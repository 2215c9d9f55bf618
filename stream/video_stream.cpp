#include "stream/video_stream.h"
