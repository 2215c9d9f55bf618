#include "toolkit/adjacency.h"

#include <cstdlib>
#include <new>

int* AllocIntArray(int n)
{
    // calloc(0) may legitimately return null; one spare slot keeps an empty array
    // (an empty image) from looking like an allocation failure.
    const std::size_t count = n > 0 ? static_cast<std::size_t>(n) : 1;
    int* array = static_cast<int*>(std::calloc(count, sizeof(int)));
    if (array == nullptr)
        throw std::bad_alloc();
    return array;
}

AdjRel* CreateAdjRel(int n)
{
    AdjRel* adj = static_cast<AdjRel*>(std::calloc(1, sizeof(AdjRel)));
    if (adj == nullptr)
        throw std::bad_alloc();
    AdjRelPtr owned(adj);  // released again when an array cannot be had
    adj->n = n > 0 ? n : 0;
    adj->dx = AllocIntArray(adj->n);
    adj->dy = AllocIntArray(adj->n);
    return owned.release();
}

static AdjRel* CreateAdjRelFrom(const int* dx, const int* dy, int n)
{
    AdjRel* adj = CreateAdjRel(n);
    for (int i = 0; i < n; ++i) {
        adj->dx[i] = dx[i];
        adj->dy[i] = dy[i];
    }
    return adj;
}

AdjRel* Create8NeighbourAdjRel()
{
    static const int dx[9] = {0, 0, 0, -1, 1, -1, 1, -1, 1};
    static const int dy[9] = {0, -1, 1, 0, 0, -1, -1, 1, 1};
    return CreateAdjRelFrom(dx, dy, 9);
}

AdjRel* Create4NeighbourAdjRel()
{
    static const int dx[5] = {0, 1, 0, -1, 0};
    static const int dy[5] = {0, 0, -1, 0, 1};
    return CreateAdjRelFrom(dx, dy, 5);
}

AdjRel* CreateBoxAdjRel(int width, int height)
{
    // Negative sizes count as 0, so the smallest box is the centre alone.
    if (width < 0)
        width = 0;
    if (height < 0)
        height = 0;
    if (width % 2 == 0)
        ++width;
    if (height % 2 == 0)
        ++height;

    AdjRel* adj = CreateAdjRel(width * height);
    int i = 1;
    for (int dy = -(height / 2); dy <= height / 2; ++dy) {
        for (int dx = -(width / 2); dx <= width / 2; ++dx) {
            if (dx == 0 && dy == 0)
                continue;
            adj->dx[i] = dx;
            adj->dy[i] = dy;
            ++i;
        }
    }
    adj->dx[0] = 0;
    adj->dy[0] = 0;
    return adj;
}

void FreeAdjRel(AdjRel* adj)
{
    if (adj == nullptr)
        return;
    std::free(adj->dx);
    std::free(adj->dy);
    std::free(adj);
}
