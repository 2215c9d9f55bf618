#pragma once

#include <memory>

// Adjacency relations: ordered lists of pixel displacements. Entry 0 is always the
// centre (0, 0); neighbourhood walks visit entries 1 .. n-1 in index order, so the
// entry order decides the order in which pixels are pushed onto stacks and queues.

struct AdjRel {
    int* dx;  // column displacement of each entry (positive = right)
    int* dy;  // row displacement of each entry (positive = down)
    int n;    // number of entries
};

// n zero-filled ints, released with free(). Out of memory throws std::bad_alloc
// (toolkit/out_of_memory.h). n <= 0 gives a valid, empty allocation (an empty image is
// not a failure).
int* AllocIntArray(int n);

// A relation of n entries, all (0, 0) until the caller fills them (n < 0 counts as 0).
// Out of memory throws std::bad_alloc, as every Create* below; nothing is left allocated.
AdjRel* CreateAdjRel(int n);

// Centre, up, down, left, right, then the four corners (up-left, up-right,
// down-left, down-right).
AdjRel* Create8NeighbourAdjRel();

// Centre, then right, up, left, down (counter-clockwise from the right).
AdjRel* Create4NeighbourAdjRel();

// Every displacement of a width x height box (even sizes grow by one), the centre
// first, then the rest in row-major order from the top-left corner. Negative sizes
// count as 0 (the centre alone).
AdjRel* CreateBoxAdjRel(int width, int height);

// Releases dx, dy, then the record; null is ignored.
void FreeAdjRel(AdjRel* adj);

// Owning handle for relations used inside one operation.
struct AdjRelDeleter {
    void operator()(AdjRel* adj) const { FreeAdjRel(adj); }
};
using AdjRelPtr = std::unique_ptr<AdjRel, AdjRelDeleter>;
