#include "toolkit/labelling.h"
