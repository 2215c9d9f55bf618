#include "stream/frame_shift.h"
