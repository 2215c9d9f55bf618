#pragma once

#include <opencv2/core.hpp>

#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>
#include <utility>

// Running out of memory is the one failure that leaves the toolkit's and the stream's
// functions as an exception: std::bad_alloc from our own allocations and the standard
// library's, cv::Exception with code cv::Error::StsNoMem from OpenCV's. Our code throws
// nothing else and never ends the process for it. A caller that can go on without the
// result (a run leaves the frame out, a window keeps running) runs the work through
// RanOutOfMemory.

// OpenCV's parallel loops start their worker threads when first needed; with too little
// address space left for a thread's stack, the thread library throws: std::system_error
// from std::thread, std::runtime_error "pthread_create has failed" from TBB. That too is
// memory running out.
inline bool ThreadStartFailed(const std::runtime_error& e)
{
    if (const auto* system = dynamic_cast<const std::system_error*>(&e))
        return system->code() == std::errc::resource_unavailable_try_again ||
               system->code() == std::errc::not_enough_memory;
    return std::strstr(e.what(), "pthread_create") != nullptr;
}

// Runs work(); true when it ran out of memory part-way (what it changed by then stays
// changed), false when it completed. Other exceptions pass through.
template <typename Work>
bool RanOutOfMemory(Work&& work)
{
    try {
        std::forward<Work>(work)();
    } catch (const std::bad_alloc&) {
        return true;
    } catch (const cv::Exception& e) {
        if (e.code != cv::Error::StsNoMem)
            throw;
        return true;
    } catch (const std::runtime_error& e) {
        if (!ThreadStartFailed(e))
            throw;
        return true;
    }
    return false;
}
