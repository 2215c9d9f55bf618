#pragma once

#include <algorithm>
#include <vector>

// The median of values: the middle one, or the mean of the two middle ones for an even
// number. NaN-free input; 0 values is the caller's to rule out.
inline double MedianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}
