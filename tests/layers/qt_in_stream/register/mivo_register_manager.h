#include "stream/video_stream.h"
#include <QThread>
