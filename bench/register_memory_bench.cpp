// Peak memory of the headless counter on a long and a short sequence: nothing but the
// particle records may grow with the number of frames. Writes one generated flow of
// FRAMES frames (default 2000, 1024 x 1024 PNG, about 300 particles each, shift 160),
// links its first SHORT frames (default 200) into a second folder, runs tessel-count
// on each as a child process and reads the child's maximum resident set size.
// Target: long / short <= 1.10.
//
// Usage: register_memory_bench [FRAMES [SHORT [SIZE]]]

#include "bench/bench_support.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

// Maximum resident set size of one tessel-count run in kB, or -1.
long PeakKilobytes(const fs::path& folder, const fs::path& workDir)
{
    std::fflush(stdout);  // or the child would print the parent's buffered lines again
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (chdir(workDir.c_str()) != 0)
            _exit(127);
        // Only the peak is wanted: summary and progress are dropped.
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            _exit(127);
        execl(TESSEL_COUNT_PATH, "tessel-count", "--json", folder.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char* argv[])
{
    const int frames = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int shortFrames = argc > 2 ? std::atoi(argv[2]) : 200;
    const int size = argc > 3 ? std::atoi(argv[3]) : 1024;
    if (shortFrames < 6 || frames < shortFrames || size < 64) {
        std::fprintf(stderr, "usage: register_memory_bench [FRAMES [SHORT>=6 [SIZE>=64]]]\n");
        return 2;
    }
    const flowgen::FlowSettings settings = bench::DenseFlow(frames, size);

    const fs::path top = fs::temp_directory_path() / ("tessel_memory_bench_" + std::to_string(getpid()));
    const fs::path longFolder = top / "long";
    const fs::path shortFolder = top / "short";
    const bench::Clock::time_point start = bench::Clock::now();
    std::string error;
    if (!flowgen::WriteFlow(flowgen::GenerateFlow(settings), longFolder.string(), "png", &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    // The short sequence is the beginning of the long one (hard links: the counter
    // lists no symbolic links); its names keep the long sequence's numbering.
    fs::create_directories(shortFolder);
    for (int t = 0; t < shortFrames; ++t) {
        const std::string name = flowgen::FrameFileName(t, frames, "png");
        fs::create_hard_link(longFolder / name, shortFolder / name);
    }
    std::printf("%d frames of %d x %d written in %.0f s\n", frames, size, size, bench::Seconds(start));

    const long shortPeak = PeakKilobytes(shortFolder, top);
    const long longPeak = PeakKilobytes(longFolder, top);
    fs::remove_all(top);
    if (shortPeak <= 0 || longPeak <= 0) {
        std::fprintf(stderr, "tessel-count failed\n");
        return 1;
    }
    std::printf("peak resident memory of tessel-count: %d frames %ld kB | %d frames %ld kB\n", shortFrames, shortPeak,
                frames, longPeak);
    std::printf("ratio %d / %d frames: %.3f (target <= 1.10)\n", frames, shortFrames,
                static_cast<double>(longPeak) / static_cast<double>(shortPeak));
    return 0;
}
