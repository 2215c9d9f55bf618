#include "toolkit/pixel_queue.h"

#include "toolkit/adjacency.h"

#include <cstdlib>
#include <new>

Queue* CreateQueue(int capacity)
{
    Queue* queue = static_cast<Queue*>(std::calloc(1, sizeof(Queue)));
    if (queue == nullptr)
        throw std::bad_alloc();
    QueuePtr owned(queue);  // released again when the ring cannot be had
    // A zero capacity (an empty image) is a valid queue that drops every push.
    queue->capacity = capacity > 0 ? capacity : 0;
    queue->count = 0;
    queue->head = 0;
    queue->tail = 0;
    queue->data = AllocIntArray(queue->capacity);
    return owned.release();
}

void QueuePush(Queue* queue, int value)
{
    if (queue->count >= queue->capacity)
        return;
    queue->count += 1;
    queue->data[queue->tail] = value;
    queue->tail = (queue->tail + 1) % queue->capacity;
}

int QueuePop(Queue* queue)
{
    if (queue->count == 0)
        return -1;
    const int value = queue->data[queue->head];
    queue->head = (queue->head + 1) % queue->capacity;
    queue->count -= 1;
    return value;
}

bool QueueIsEmpty(const Queue* queue)
{
    return queue->count == 0;
}

void FreeQueue(Queue* queue)
{
    if (queue == nullptr)
        return;
    std::free(queue->data);
    std::free(queue);
}
