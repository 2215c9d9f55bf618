#include "toolkit/segmentation.h"
