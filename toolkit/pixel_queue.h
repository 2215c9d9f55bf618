#pragma once

#include <memory>

// Circular first-in-first-out queue of pixel indices (y * cols + x) with a fixed
// capacity. The labelling walks size it to rows * cols and queue each pixel at most
// once, so in that use it never fills.

struct Queue {
    int* data;     // ring storage of `capacity` slots
    int head;      // slot of the oldest element
    int tail;      // slot the next element is written to
    int capacity;  // number of slots
    int count;     // number of elements stored
};

// Out of memory throws std::bad_alloc, as AllocIntArray; nothing is left allocated. A
// capacity of 0 (an empty image) is valid: every push is dropped and every pop gives -1.
Queue* CreateQueue(int capacity);

// Appends value; a full queue drops it without a report.
void QueuePush(Queue* queue, int value);

// Takes the oldest value; -1 when the queue is empty.
int QueuePop(Queue* queue);

bool QueueIsEmpty(const Queue* queue);

// Releases data, then the record; null is ignored.
void FreeQueue(Queue* queue);

struct QueueDeleter {
    void operator()(Queue* queue) const { FreeQueue(queue); }
};
using QueuePtr = std::unique_ptr<Queue, QueueDeleter>;
