// Accuracy of both counting modes against the truth of generated flows, run as users run
// them: through the run engine (register/run_engine.h) with the mode set. For every flow
// kind of crossing_flows.h and every seed it writes the flow, counts it with the counting
// line and, with --foi, with the frames of interest, and prints the truth and the counts
// per class with their errors.
//
// Truth: every particle that lies wholly inside at least one frame, classed by its
// drawn area (the generator's `area`) against the range 25 to 100 px: smaller below 25,
// in range 25 to 100, bigger above 100. For the flows that run back part of the time
// (bench::NetsCrossings) the net count of the line's crossings (flowgen::NetCrossingTruth).
//
// With --velocity it also compares the velocity profile: 10 equal bands across the
// channel (from the top or left wall), each band's particles of the truth and their mean
// speed along the flow (flowgen::TruthVelocityProfile) beside the counted records in
// the band (by their row, or column for a vertical flow) and their mean speed, taken
// from the records' velocities (vx, vy) when the records carry them, n/a otherwise.
//
// Goal of the counting-line count on every flow kind (its seeds together): in range and
// bigger within 5 % of the truth (or 3 particles), smaller within 25 % (or 5). Single
// flows off the goal are listed ("off"). With --check the program fails (exit 1) when a
// kind misses the goal; the CTest "crossing_accuracy" runs a reduced matrix so.
//
// Usage: crossing_accuracy_bench [options]
//   --seeds N          seeds per kind                                    [5]
//   --first-seed S     first seed                                        [1]
//   --frames N         frames per flow                                   [30]
//   --kinds A,B        only these kinds (names as printed, e.g. "dense") [all]
//   --probes           the probe kinds beyond the matrix (crossing_flows.h)
//   --method M         segmentation of the counting line, 1 to 4         [4]
//   --foi              also count the frames of interest (method 3)
//   --check            exit 1 when a counting-line count misses the goal
//   --velocity         the velocity profile per kind, truth beside the counted records
//   --verbose          one line per flow
// Each kind also prints its share of ambiguous links (those that could change a count).

#include "bench/crossing_flows.h"
#include "register/run_engine.h"
#include "tools/flowgen/motion_truth.h"
#include "tools/flowgen/truth_blobs.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <type_traits>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr int kMinArea = 25;
constexpr int kMaxArea = 100;
constexpr int kBands = 10;  // of the velocity profile

// Whether the counting line's records carry each particle's velocity (vx, vy).
template <class Record, class = void>
struct HasVelocity : std::false_type {};
template <class Record>
struct HasVelocity<Record, std::void_t<decltype(std::declval<Record>().vx), decltype(std::declval<Record>().vy)>>
    : std::true_type {};

// A record's speed along the flow (positive downstream), NaN when the records carry none.
template <class Record>
double AlongSpeed(const Record& record, bool vertical, int sign)
{
    if constexpr (HasVelocity<Record>::value)
        return sign * (vertical ? record.vy : record.vx);
    else
        return std::numeric_limits<double>::quiet_NaN();
}

// Per band across the channel: particles and the sum of their speeds.
struct Profile {
    int count[kBands] = {};
    double speedSum[kBands] = {};
    int speeds[kBands] = {};  // of them, with a speed
    Profile& operator+=(const Profile& o)
    {
        for (int b = 0; b < kBands; ++b)
            count[b] += o.count[b], speedSum[b] += o.speedSum[b], speeds[b] += o.speeds[b];
        return *this;
    }
    double Mean(int b) const
    {
        return speeds[b] ? speedSum[b] / speeds[b] : std::numeric_limits<double>::quiet_NaN();
    }
};

struct Counts {
    int smaller = 0, inRange = 0, bigger = 0;
    Counts& operator+=(const Counts& o)
    {
        smaller += o.smaller;
        inRange += o.inRange;
        bigger += o.bigger;
        return *this;
    }
};

struct Options {
    int seeds = 5;
    unsigned firstSeed = 1;
    int frames = 30;
    std::vector<std::string> kinds = bench::FlowKinds();
    int method = 4;
    bool foi = false;
    bool check = false;
    bool verbose = false;
    bool velocity = false;
};

struct Run {
    Counts counts;
    Profile profile;  // the counted records by band
    int bandsExact = 0;  // inner bands as wide as the true shift: the motion measured within half a pixel
    int bands = 0;
    int unmeasured = 0;
    int links = 0, ambiguous = 0, staticObjects = 0;
    bool against = false;  // the flow's net direction measured against the one it was drawn in
};

// The direction a flow was drawn in, as the counting line names it.
FlowDirection DrawnDirection(const flowgen::FlowSettings& settings)
{
    switch (flowgen::DirectionOf(settings)) {
    case flowgen::Direction::kLeft:
        return FlowDirection::kRightToLeft;
    case flowgen::Direction::kDown:
        return FlowDirection::kTopToBottom;
    case flowgen::Direction::kUp:
        return FlowDirection::kBottomToTop;
    case flowgen::Direction::kRight:
        break;
    }
    return FlowDirection::kLeftToRight;
}

bool Opposite(FlowDirection a, FlowDirection b)
{
    const auto turned = [](FlowDirection d) {
        switch (d) {
        case FlowDirection::kLeftToRight:
            return FlowDirection::kRightToLeft;
        case FlowDirection::kRightToLeft:
            return FlowDirection::kLeftToRight;
        case FlowDirection::kTopToBottom:
            return FlowDirection::kBottomToTop;
        case FlowDirection::kBottomToTop:
            return FlowDirection::kTopToBottom;
        case FlowDirection::kUnknown:
            break;
        }
        return FlowDirection::kUnknown;
    };
    return a != FlowDirection::kUnknown && turned(a) == b;
}

// One count of the written flow as the headless counter runs it.
Run Count(const std::string& folder, const bench::FlowCase& c, const flowgen::Flow& flow, CountingMode mode, int method)
{
    RunSettings settings;
    settings.folder = QString::fromStdString(folder);
    for (int t = 0; t < c.settings.frames; ++t)
        settings.frameNames << QString::fromStdString(flowgen::FrameFileName(t, c.settings.frames, c.format));
    settings.mode = mode;
    settings.method = method;
    settings.minArea = kMinArea;
    settings.maxArea = kMaxArea;
    CRunEngine engine;
    const RunResult result = engine.RunToEnd(settings);
    Run run;
    run.counts = Counts{result.countSmaller, result.countInRange, result.countGreater};
    const bool vertical = flowgen::IsVertical(flow.settings);
    const int extent = flowgen::AcrossExtent(flow.settings);
    for (const ParticleMeasure& record : result.records) {
        const int across = vertical ? record.x : record.y;
        const int b = std::clamp(across * kBands / std::max(1, extent), 0, kBands - 1);
        ++run.profile.count[b];
        const double speed = AlongSpeed(record, vertical, flowgen::AxisSign(flow.settings));
        if (!std::isnan(speed))
            run.profile.speedSum[b] += speed, ++run.profile.speeds[b];
    }
    run.unmeasured = result.unmeasuredShifts;
    run.links = result.links;
    run.ambiguous = result.ambiguousLinks;
    run.staticObjects = result.staticObjects;
    run.against = Opposite(result.flowDirection, DrawnDirection(flow.settings));
    // The first and the last band reach the frame's edge; the others span one motion each.
    for (size_t k = 1; k + 1 < result.sweptBands.size(); ++k) {
        const SweptBand& band = result.sweptBands[k];
        ++run.bands;
        run.bandsExact += band.end - band.begin == std::abs(flow.shifts[static_cast<size_t>(band.frame)]);
    }
    return run;
}

std::string Error(int count, int truth)
{
    char text[64];
    std::snprintf(text, sizeof text, "%5d %+5d %+6.1f%%", count, count - truth,
                  truth ? 100.0 * (count - truth) / truth : 0.0);
    return text;
}

bool WithinGoal(int count, int truth, double share, int particles)
{
    return std::abs(count - truth) <= std::max(share * truth, static_cast<double>(particles));
}

bool MeetsGoal(const Counts& count, const Counts& truth)
{
    return WithinGoal(count.inRange, truth.inRange, 0.05, 3) && WithinGoal(count.bigger, truth.bigger, 0.05, 3) &&
           WithinGoal(count.smaller, truth.smaller, 0.25, 5);
}

std::string Row(const char* label, const Counts& c, const Counts& truth)
{
    return std::string(label) + " | " + Error(c.smaller, truth.smaller) + " | " + Error(c.inRange, truth.inRange) +
           " | " + Error(c.bigger, truth.bigger);
}

// Per band: true count and mean speed, counted count and mean speed, the speed's error.
void PrintProfile(const Profile& truth, const Profile& counted)
{
    std::printf("              velocity profile (band: truth count, mean px/frame | counted count, mean, err%%):\n");
    double worst = 0.0;
    for (int b = 0; b < kBands; ++b) {
        const double t = truth.Mean(b), c = counted.Mean(b);
        const double err = 100.0 * (c - t) / t;
        if (!std::isnan(err))
            worst = std::max(worst, std::abs(err));
        if (std::isnan(c))
            std::printf("              %2d: %5d %7.2f | %5d     n/a\n", b, truth.count[b], t, counted.count[b]);
        else
            std::printf("              %2d: %5d %7.2f | %5d %7.2f %+6.1f%%\n", b, truth.count[b], t, counted.count[b],
                        c, err);
    }
    std::printf("              worst band speed error %.1f%%%s\n", worst,
                HasVelocity<ParticleMeasure>::value ? "" : " (the records carry no velocities)");
}

bool Parse(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--foi") {
            o.foi = true;
        } else if (a == "--probes") {
            o.kinds = bench::ProbeKinds();
        } else if (a == "--check") {
            o.check = true;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (a == "--velocity") {
            o.velocity = true;
        } else if (v && a == "--seeds") {
            o.seeds = std::atoi(v), ++i;
        } else if (v && a == "--first-seed") {
            o.firstSeed = static_cast<unsigned>(std::atoi(v)), ++i;
        } else if (v && a == "--frames") {
            o.frames = std::atoi(v), ++i;
        } else if (v && a == "--method") {
            o.method = std::atoi(v), ++i;
        } else if (v && a == "--kinds") {
            o.kinds.clear();
            std::stringstream in(v);
            for (std::string k; std::getline(in, k, ',');)
                o.kinds.push_back(k);
            ++i;
        } else {
            return false;
        }
    }
    return o.seeds > 0 && o.frames >= 6 && o.method >= 1 && o.method <= 4;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: see the head of crossing_accuracy_bench.cpp\n");
        return 2;
    }
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tessel_crossing_bench_" + std::to_string(getpid()));
    // The runs write their log into the working directory; keep it out of the caller's.
    const std::filesystem::path caller = std::filesystem::current_path();
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);

    std::printf("counting line: method %d; %d seeds from %u, %d frames each\n", o.method, o.seeds, o.firstSeed,
                o.frames);
    std::printf("%-13s %-9s | smaller count  err    err%% | in range count err   err%% | bigger count  err    err%%\n",
                "kind", "");
    int missed = 0, bandsExact = 0, bands = 0, unmeasured = 0;
    for (const std::string& kind : o.kinds) {
        Counts truth, crossing, foi;
        Profile truthProfile, countedProfile;
        int kindMissed = 0, links = 0, ambiguous = 0;
        for (int k = 0; k < o.seeds; ++k) {
            const bench::FlowCase c = bench::MakeFlowCase(kind, o.firstSeed + static_cast<unsigned>(k), o.frames);
            const flowgen::Flow flow = flowgen::GenerateFlow(c.settings);
            const std::string flowFolder = (folder / "flow").string();
            std::string error;
            if (!flowgen::WriteFlow(flow, flowFolder, c.format, &error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return 1;
            }
            const Run r = Count(flowFolder, c, flow, CountingMode::CountingLine, o.method);
            // A flow that runs back nets its crossings along the direction its count found.
            const flowgen::TruthCounts t =
                bench::NetsCrossings(kind) ? flowgen::NetCrossingTruth(flow, kMinArea, kMaxArea, 0, 0.5, r.against).net
                                           : flowgen::CountTruth(flow, kMinArea, kMaxArea);
            const Counts flowTruth{t.smaller, t.inRange, t.bigger};
            const std::vector<flowgen::VelocityBand> velocity = flowgen::TruthVelocityProfile(flow, kBands);
            for (int b = 0; b < kBands; ++b) {
                const flowgen::VelocityBand& band = velocity[static_cast<size_t>(b)];
                truthProfile.count[b] += band.count;
                if (band.count > 0)
                    truthProfile.speedSum[b] += band.meanSpeed * band.count, truthProfile.speeds[b] += band.count;
            }
            const bool met = MeetsGoal(r.counts, flowTruth);
            kindMissed += !met;
            truth += flowTruth;
            crossing += r.counts;
            countedProfile += r.profile;
            bandsExact += r.bandsExact;
            bands += r.bands;
            unmeasured += r.unmeasured;
            links += r.links;
            ambiguous += r.ambiguous;
            Counts flowFoi;
            if (o.foi) {
                flowFoi = Count(flowFolder, c, flow, CountingMode::FramesOfInterest, kMethodFrameDiff).counts;
                foi += flowFoi;
            }
            if (o.verbose || !met) {
                char label[64];
                std::snprintf(label, sizeof label, "  seed %-5u %s", c.seed, met ? "" : "off   ");
                std::printf("%s\n", Row(label, r.counts, flowTruth).c_str());
                std::printf("  truth %d / %d / %d, bands exact %d of %d, unmeasured %d, static %d, ambiguous %d of %d%s\n",
                            flowTruth.smaller, flowTruth.inRange, flowTruth.bigger, r.bandsExact, r.bands,
                            r.unmeasured, r.staticObjects, r.ambiguous, r.links,
                            o.foi ? (" | foi " + Row("", flowFoi, flowTruth)).c_str() : "");
            }
            std::filesystem::remove_all(flowFolder);
        }
        const bool kindMet = MeetsGoal(crossing, truth);
        missed += !kindMet;
        char name[64];
        std::snprintf(name, sizeof name, "%-13s truth    ", kind.c_str());
        std::printf("%s | %5d             | %5d             | %5d\n", name, truth.smaller, truth.inRange, truth.bigger);
        std::printf("%s   %s (%d of %d flows off it alone)\n", Row("              crossing ", crossing, truth).c_str(),
                    kindMet ? "goal met" : "GOAL MISSED", kindMissed, o.seeds);
        if (o.foi)
            std::printf("%s\n", Row("              foi      ", foi, truth).c_str());
        std::printf("              ambiguous links %d of %d (%.1f %%)\n", ambiguous, links,
                    links ? 100.0 * ambiguous / links : 0.0);
        if (o.velocity)
            PrintProfile(truthProfile, countedProfile);
        std::fflush(stdout);
    }
    std::printf("motion: %d of %d inner bands as wide as the true shift; %d unmeasured\n", bandsExact, bands,
                unmeasured);
    std::printf("kinds missing the goal: %d of %zu\n", missed, o.kinds.size());
    std::filesystem::current_path(caller);
    std::filesystem::remove_all(folder);
    return o.check && missed > 0 ? 1 : 0;
}
