#include "toolkit/hole_filling.h"
