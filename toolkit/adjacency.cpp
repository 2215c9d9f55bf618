#include "toolkit/adjacency.h"
