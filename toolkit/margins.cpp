#include "toolkit/margins.h"
