#include "toolkit/pixel_queue.h"
