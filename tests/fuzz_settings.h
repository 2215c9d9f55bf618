#pragma once

// Seeded fuzz cases: a short fixed run in CI, more or others with TESSEL_FUZZ_ITERATIONS and
// TESSEL_FUZZ_SEED. Case i has the seed `seed + i`; a case with a fatal failure ends the run.

#include <opencv2/core.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

template <typename Body> void ForEachFuzzCase(int iterations, Body body)
{
    const char* count = std::getenv("TESSEL_FUZZ_ITERATIONS");
    const char* first = std::getenv("TESSEL_FUZZ_SEED");
    const unsigned seed = first != nullptr ? static_cast<unsigned>(std::strtoul(first, nullptr, 10)) : 20240611u;
    const int n = count != nullptr ? std::atoi(count) : iterations;
    for (unsigned i = 0; static_cast<int>(i) < n && !::testing::Test::HasFatalFailure(); ++i) {
        SCOPED_TRACE("fuzz case seed " + std::to_string(seed + i) +
                     ": TESSEL_FUZZ_ITERATIONS=1 TESSEL_FUZZ_SEED=" + std::to_string(seed + i) + " repeats it");
        cv::RNG rng(seed + i);
        body(rng);
    }
}
