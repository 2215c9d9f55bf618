#include "toolkit/particle_measure.h"
