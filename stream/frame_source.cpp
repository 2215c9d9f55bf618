#include "stream/frame_source.h"

#include "toolkit/out_of_memory.h"

#include <algorithm>
#include <utility>

CFrameSource::CFrameSource(const DecoderFactory& makeDecoder, Analysis analyse, int first, int frames, int threads,
                           int window, bool decodeInOrder, bool grows)
    : analysis(std::move(analyse))
    , frameCount(frames)
    , ahead(std::max(window, 1))
    , inOrder(decodeInOrder)
    , nextToDecode(first)
    , nextToTake(first)
    , growing(grows)
{
    const int count = inOrder ? 1 : std::max(threads, 1);
    for (int k = 0; k < count; ++k)
        decoders.push_back(makeDecoder());
    for (int t = 0; t < threads; ++t)
        workers.emplace_back(&CFrameSource::Work, this, t);
}

CFrameSource::~CFrameSource()
{
    Stop();
}

DecodedFrame CFrameSource::Read(Decoder& decoder, int index) const
{
    DecodedFrame frame;
    frame.index = index;
    frame.outOfMemory = RanOutOfMemory([&] { frame.read = decoder(index); });
    if (frame.outOfMemory)
        frame.read = FrameRead();
    return frame;
}

void CFrameSource::Analyse(DecodedFrame& frame) const
{
    if (!analysis || frame.read.grey.empty())
        return;
    frame.outOfMemory = RanOutOfMemory([&] { frame.analysis = analysis(frame.index, frame.read.grey); });
    if (frame.outOfMemory) {
        frame.read.grey.release();
        frame.analysis.reset();
    }
}

DecodedFrame CFrameSource::Decode(Decoder& decoder, int index) const
{
    DecodedFrame frame = Read(decoder, index);
    Analyse(frame);
    return frame;
}

void CFrameSource::Work(int worker)
{
    Decoder& decoder = decoders[inOrder ? 0 : static_cast<size_t>(worker)];
    for (;;) {
        int index = 0;
        {
            std::unique_lock<std::mutex> lock(mutex);
            // A frame is claimed only within `ahead` of the one the run takes next; a
            // growing source's workers wait for the frames still to come.
            const auto claimable = [this] { return std::max(nextToDecode, nextToTake) < frameCount; };
            changed.wait(lock, [&] {
                return stopping || (!claimable() && !growing) || (claimable() && nextToDecode < nextToTake + ahead);
            });
            if (stopping || !claimable())
                return;
            index = std::max(nextToDecode, nextToTake);
            nextToDecode = index + 1;
            const long long claim = claims++;
            // In order: this claim's turn at the shared decoder.
            if (inOrder) {
                changed.wait(lock, [this, claim] { return stopping || decodeTurn == claim; });
                if (stopping)
                    return;
            }
        }
        DecodedFrame frame = Read(decoder, index);
        if (inOrder) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                ++decodeTurn;
            }
            changed.notify_all();
        }
        // Beside the next frame's decoding.
        Analyse(frame);
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
    if (index < 0 || index >= Frames())
        return none;
    if (workers.empty()) {
        if (stopping || index < nextToTake)
            return none;
        nextToTake = index + 1;
        return Decode(decoders.front(), index);
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

int CFrameSource::Frames()
{
    std::lock_guard<std::mutex> lock(mutex);
    return frameCount;
}

void CFrameSource::Grow(int frames)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (growing)
            frameCount = std::max(frameCount, frames);
    }
    changed.notify_all();
}

void CFrameSource::Close()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        growing = false;
    }
    changed.notify_all();
}
