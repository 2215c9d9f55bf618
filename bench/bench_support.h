#pragma once

// Timing and the generated flow shared by the benchmarks.

#include "tools/flowgen/flowgen.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <functional>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// CPU time of the calling thread, in milliseconds: less disturbed than the wall clock by
// other work on the machine.
inline double CpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return 1000.0 * static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_nsec);
}

// Median of `runs` timings of `work`, in milliseconds.
inline double MedianMs(const std::function<void()>& work, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const Clock::time_point start = Clock::now();
        work();
        times.push_back(1000.0 * Seconds(start));
    }
    return Median(times);
}

// Square frames with about 300 particles per 1024 x 1024 frame, moving 160 columns per frame.
inline flowgen::FlowSettings DenseFlow(int frames, int size)
{
    flowgen::FlowSettings settings;
    settings.width = size;
    settings.height = size;
    settings.frames = frames;
    settings.seed = 3;
    settings.density = 2.9;
    settings.shifts = flowgen::ConstantShifts(frames, 160);
    return settings;
}

}  // namespace bench
