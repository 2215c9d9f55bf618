#pragma once

// Seeded random cases for the fuzz and property tests. The default is a short, fixed
// run for CI; TESSEL_FUZZ_ITERATIONS and TESSEL_FUZZ_SEED run more or other cases by
// hand. Case i uses the seed `seed + i`, which every failure prints; the first case
// with a fatal failure ends the run.

#include <opencv2/core.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

template <typename Body>
void ForEachFuzzCase(int iterations, Body body)
{
    unsigned first = 20240611u;
    if (const char* text = std::getenv("TESSEL_FUZZ_ITERATIONS"))
        iterations = std::max(0, std::atoi(text));
    if (const char* text = std::getenv("TESSEL_FUZZ_SEED"))
        first = static_cast<unsigned>(std::strtoul(text, nullptr, 10));
    for (int i = 0; i < iterations && !::testing::Test::HasFatalFailure(); ++i) {
        const std::string seed = std::to_string(first + static_cast<unsigned>(i));
        SCOPED_TRACE("fuzz case seed " + seed + " (TESSEL_FUZZ_SEED=" + seed + " TESSEL_FUZZ_ITERATIONS=1 repeats it)");
        cv::RNG rng(first + static_cast<unsigned>(i));
        body(rng);
    }
}

// The stream's fuzz tests still use these two.
struct FuzzSettings {
    unsigned seed = 20240611u;
    int iterations = 0;
};

inline FuzzSettings FuzzSettingsFromEnvironment(int defaultIterations)
{
    FuzzSettings settings;
    settings.iterations = defaultIterations;
    if (const char* text = std::getenv("TESSEL_FUZZ_ITERATIONS"))
        settings.iterations = std::max(0, std::atoi(text));
    if (const char* text = std::getenv("TESSEL_FUZZ_SEED"))
        settings.seed = static_cast<unsigned>(std::strtoul(text, nullptr, 10));
    return settings;
}

inline std::string FuzzCase(unsigned seed)
{
    return "fuzz case seed " + std::to_string(seed) + " (TESSEL_FUZZ_SEED=" + std::to_string(seed) +
           " TESSEL_FUZZ_ITERATIONS=1 repeats it)";
}
