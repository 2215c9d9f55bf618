#include "stream/frame_source.h"

#include "toolkit/out_of_memory.h"

#include <algorithm>
#include <utility>

CFrameSource::CFrameSource(Decoder decode, Analysis analyse, int first, int frames, int threads, int window)
    : decoder(std::move(decode))
    , analysis(std::move(analyse))
    , frameCount(frames)
    , ahead(std::max(window, 1))
    , nextToDecode(first)
    , nextToTake(first)
{
    for (int t = 0; t < threads; ++t)
        workers.emplace_back(&CFrameSource::Work, this);
}

CFrameSource::~CFrameSource()
{
    Stop();
}

DecodedFrame CFrameSource::Decode(int index) const
{
    DecodedFrame frame;
    frame.index = index;
    frame.outOfMemory = RanOutOfMemory([&] {
        frame.grey = decoder(index);
        if (analysis && !frame.grey.empty())
            frame.analysis = analysis(index, frame.grey);
    });
    if (frame.outOfMemory) {
        frame.grey.release();
        frame.analysis.reset();
    }
    return frame;
}

void CFrameSource::Work()
{
    for (;;) {
        int index = 0;
        {
            std::unique_lock<std::mutex> lock(mutex);
            // A frame is claimed only within `ahead` of the one the run takes next.
            changed.wait(
                lock, [this] { return stopping || nextToDecode >= frameCount || nextToDecode < nextToTake + ahead; });
            if (stopping || nextToDecode >= frameCount)
                return;
            index = std::max(nextToDecode, nextToTake);
            nextToDecode = index + 1;
        }
        DecodedFrame frame = Decode(index);
        std::lock_guard<std::mutex> lock(mutex);
        // Dropped when the run has moved past it or stopped meanwhile.
        if (!stopping && index >= nextToTake)
            ready.emplace(index, std::move(frame));
        changed.notify_all();
    }
}

DecodedFrame CFrameSource::Take(int index)
{
    DecodedFrame none;
    none.index = index;
    if (index < 0 || index >= frameCount)
        return none;
    if (workers.empty()) {
        if (stopping || index < nextToTake)
            return none;
        nextToTake = index + 1;
        return Decode(index);
    }
    std::unique_lock<std::mutex> lock(mutex);
    if (stopping || index < nextToTake)
        return none;
    // Frames skipped over are not wanted any more, and the window moves on.
    ready.erase(ready.begin(), ready.lower_bound(index));
    nextToTake = index;
    changed.notify_all();
    changed.wait(lock, [this, index] { return stopping || ready.count(index) > 0; });
    if (stopping)
        return none;
    DecodedFrame frame = std::move(ready.at(index));
    ready.erase(index);
    nextToTake = index + 1;
    changed.notify_all();
    return frame;
}

void CFrameSource::Stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        ready.clear();
    }
    changed.notify_all();
    for (std::thread& worker : workers) {
        if (worker.joinable())
            worker.join();
    }
}
