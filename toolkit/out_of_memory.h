#pragma once

#include <opencv2/core.hpp>

#include <new>
#include <utility>

// Running out of memory is the one failure that leaves the toolkit's and the stream's
// functions as an exception: std::bad_alloc from our own allocations and the standard
// library's, cv::Exception with code cv::Error::StsNoMem from OpenCV's. Our code throws
// nothing else and never ends the process for it. A caller that can go on without the
// result (a run leaves the frame out, a window keeps running) runs the work through
// RanOutOfMemory.

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
    }
    return false;
}
