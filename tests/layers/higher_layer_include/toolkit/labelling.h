// Breaks the layers: the toolkit uses the stream above it.
#include "stream/video_stream.h"
