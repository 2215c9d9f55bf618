#include "toolkit/allocation_failure.h"

#include <cstdio>
#include <cstdlib>

void ExitOnAllocationFailure(const char* primitive)
{
    std::fprintf(stderr, "Error: %s in %s\n", "Cannot allocate memory space", primitive);
    std::exit(-1);
}
