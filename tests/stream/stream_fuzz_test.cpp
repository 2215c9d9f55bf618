// Fuzz and property tests of the stream: small random sequences written to disk (frames
// of 1 x 1, 1 x N, N x 1 and small sizes, other sizes than frame 0, zero-byte, garbage,
// truncated, colour and 16-bit files, missing files) through the transition measure and
// both counts with every method number and random area bounds and margins; and frames
// with placed rectangles, whose particles can be counted by hand.

#include "stream_test_support.h"
#include "tests/fuzz_settings.h"

#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <set>
#include <tuple>
#include <vector>

namespace {

cv::Size RandomFrameSize(cv::RNG& rng) {
    switch (rng.uniform(0, 6)) {
    case 0: return {1, 1};
    case 1: return {rng.uniform(2, 40), 1};
    case 2: return {1, rng.uniform(2, 40)};
    default: return {rng.uniform(2, 48), rng.uniform(2, 40)};
    }
}

cv::Mat RandomFrame(cv::RNG& rng, cv::Size size) {
    cv::Mat frame(size, CV_8UC1);
    rng.fill(frame, cv::RNG::NORMAL, 200, rng.uniform(0, 4));
    for (int k = rng.uniform(0, 6); k > 0; --k) {
        const cv::Rect r(rng.uniform(-3, size.width), rng.uniform(-3, size.height), rng.uniform(1, 9),
                         rng.uniform(1, 9));
        frame(r & cv::Rect(cv::Point(0, 0), size)).setTo(rng.uniform(20, 120));
    }
    return frame;
}

void WriteBytes(const std::string& path, const std::vector<uchar>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

// Writes frame t of a random sequence in one of the ways a folder can hold it.
void WriteRandomFile(cv::RNG& rng, const std::string& path, const cv::Mat& frame) {
    std::vector<uchar> png;
    switch (rng.uniform(0, 14)) {
    case 0: WriteBytes(path, {}); break;                                        // zero bytes
    case 1: std::ofstream(path) << "not an image"; break;                       // text named .png
    case 2:                                                                     // truncated
        cv::imencode(".png", frame, png);
        png.resize(png.size() * static_cast<size_t>(rng.uniform(1, 10)) / 10);
        WriteBytes(path, png);
        break;
    case 3: break;                                                              // missing
    case 4: {                                                                   // colour
        cv::Mat bgr;
        cv::merge(std::vector<cv::Mat>{frame, 255 - frame, frame}, bgr);
        cv::imwrite(path, bgr);
        break;
    }
    case 5: {                                                                   // 16-bit
        cv::Mat deep;
        frame.convertTo(deep, CV_16U, 257.0);
        cv::imwrite(path, deep);
        break;
    }
    case 6: cv::imwrite(path, RandomFrame(rng, RandomFrameSize(rng))); break;   // another size
    default: cv::imwrite(path, frame); break;
    }
}

// What the stream should see: the frame read as grey, when it has frame 0's size.
cv::Mat ReadAsGrey(const std::string& path) {
    try {
        return cv::imread(path, cv::IMREAD_GRAYSCALE);
    } catch (const cv::Exception&) {
        return cv::Mat();
    }
}

// Every record of frame `index` lies in the frame, inside a window of half-size
// minArea, and carries the range flag of its area.
void ExpectSaneRecords(const std::vector<ParticleMeasure>& records, int index, const CVideoStream& stream,
                       int columns) {
    const long long window = 2LL * std::max(stream.minArea, 0) + 1;
    const long long most = std::min<long long>(window, stream.frameWidth) * std::min<long long>(window, stream.frameHeight);
    for (const ParticleMeasure& r : records) {
        EXPECT_EQ(r.frame, index);
        EXPECT_TRUE(r.x >= 0 && r.x < columns && r.y >= 0 && r.y < stream.frameHeight) << r.x << ", " << r.y;
        EXPECT_GE(r.area, 1);
        EXPECT_LE(r.area, most);
        EXPECT_EQ(r.inRange, r.area >= stream.minArea && r.area <= stream.maxArea);
    }
}

const int kAreaBounds[] = {INT_MIN, -3, 0, 1, 5, 10, 25, 45, 46, 100, 900, INT_MAX / 3 + 1, INT_MAX};

}  // namespace

TEST(StreamFuzz, RandomSequencesNeverBreakTheContracts) {
    const FuzzSettings fuzz = FuzzSettingsFromEnvironment(200);
    for (int i = 0; i < fuzz.iterations; ++i) {
        const unsigned seed = fuzz.seed + static_cast<unsigned>(i);
        SCOPED_TRACE(FuzzCase(seed));
        cv::RNG rng(seed);
        const int frames = rng.uniform(1, 7);
        const cv::Size size = RandomFrameSize(rng);
        TempFolder folder;
        CVideoStream stream;
        stream.SetFolder(folder.Path());
        for (int t = 0; t < frames; ++t) {
            const std::string name = "f" + std::to_string(t) + ".png";
            WriteRandomFile(rng, folder.Path() + "/" + name, RandomFrame(rng, size));
            stream.AddFrame(name);
        }
        stream.minArea = kAreaBounds[rng.uniform(0, 13)];
        stream.maxArea = kAreaBounds[rng.uniform(0, 13)];
        stream.marginTop = rng.uniform(-2, size.height + 2);
        stream.marginBottom = rng.uniform(-2, size.height + 2);
        stream.marginLeft = rng.uniform(-2, size.width + 2);
        stream.marginRight = rng.uniform(-2, size.width + 2);
        stream.SetRecentFrameCapacity(rng.uniform(0, 4));
        SCOPED_TRACE(::testing::Message() << frames << " frames of " << size << ", areas " << stream.minArea << " .. "
                                          << stream.maxArea);

        const cv::Mat first = ReadAsGrey(stream.FramePath(0));
        ASSERT_EQ(stream.PrepareFirstFrame(), !first.empty());
        ASSERT_EQ(stream.frameWidth, first.cols);
        ASSERT_EQ(stream.frameHeight, first.rows);
        std::vector<bool> usable;
        for (int t = 0; t < frames; ++t) {
            const cv::Mat grey = ReadAsGrey(stream.FramePath(t));
            usable.push_back(!first.empty() && !grey.empty() && grey.size() == first.size());
        }

        for (int t = 1; t < frames; ++t) {
            bool read = !usable[static_cast<size_t>(t)];
            const FrameShift shift = stream.MeasureTransition(t, &read);
            EXPECT_EQ(read, usable[static_cast<size_t>(t)]) << "frame " << t;
            EXPECT_TRUE(shift.dx >= 0 && shift.dy >= 0 && shift.dy <= 3) << shift.dx << ", " << shift.dy;
            EXPECT_LT(shift.dx, std::max(stream.frameWidth, 1));
        }
        for (int t = -1; t <= frames; ++t) {
            for (int method = 0; method <= 4; ++method) {
                bool read = false;
                const std::vector<ParticleMeasure> records = stream.CountParticles(t, method, &read);
                const bool valid = method >= 1 && method <= 3;
                const bool frameUsable = t >= 0 && t < frames && usable[static_cast<size_t>(t)];
                if (valid) {
                    EXPECT_EQ(read, frameUsable) << "frame " << t << " method " << method;
                }
                if (!valid || !frameUsable) {
                    EXPECT_TRUE(records.empty());
                }
                ExpectSaneRecords(records, t, stream, stream.frameWidth);
            }
        }
        for (int k = 0; k < 4; ++k) {
            const int width = rng.uniform(-3, 2 * size.width + 3);
            const int method = rng.uniform(0, 5);
            bool read = false;
            const std::vector<ParticleMeasure> records = stream.CountParticlesInNewRegion(width, method, &read);
            if (width > 0 && method >= 1 && method <= 3) {
                EXPECT_EQ(read, usable.back());
            }
            if (width <= 0 || method < 1 || method > 3 || !usable.back()) {
                EXPECT_TRUE(records.empty());
            }
            ExpectSaneRecords(records, frames - 1, stream, std::min(std::max(width, 0), stream.frameWidth));
        }
    }
}

namespace {

// Dark rectangles of 5 to 9 pixels a side on a flat background, apart from each other
// and at least `border` pixels from the frame's edges.
std::vector<cv::Rect> PlaceRectangles(cv::RNG& rng, cv::Size size, int border) {
    std::vector<cv::Rect> placed;
    for (int attempt = 0; attempt < 40; ++attempt) {
        const int w = rng.uniform(5, 10), h = rng.uniform(5, 10);
        if (size.width - 2 * border - w <= 0 || size.height - 2 * border - h <= 0) break;
        const cv::Rect r(border + rng.uniform(0, size.width - 2 * border - w),
                         border + rng.uniform(0, size.height - 2 * border - h), w, h);
        const cv::Rect apart(r.x - 2, r.y - 2, r.width + 4, r.height + 4);
        if (std::none_of(placed.begin(), placed.end(), [&](const cv::Rect& p) { return (p & apart).area() > 0; }))
            placed.push_back(r);
    }
    return placed;
}

using Found = std::multiset<std::tuple<int, int, int>>;  // x, y, area

Found FoundOf(const std::vector<ParticleMeasure>& records) {
    Found found;
    for (const ParticleMeasure& r : records) found.insert({r.x, r.y, r.area});
    return found;
}

// The truncated centroid of a rectangle and its area, less `cut` pixels that leave it
// symmetric.
std::tuple<int, int, int> Truth(const cv::Rect& r, int cut) {
    return {r.x + (r.width - 1) / 2, r.y + (r.height - 1) / 2, r.area() - cut};
}

}  // namespace

TEST(StreamFuzz, PlacedRectanglesAreCountedExactly) {
    const FuzzSettings fuzz = FuzzSettingsFromEnvironment(100);
    for (int i = 0; i < fuzz.iterations; ++i) {
        const unsigned seed = fuzz.seed + static_cast<unsigned>(i);
        SCOPED_TRACE(FuzzCase(seed));
        cv::RNG rng(seed);
        const cv::Size size(rng.uniform(24, 160), rng.uniform(24, 120));
        const int minArea = rng.uniform(5, 12);  // the window's half-size: holds every rectangle
        const int maxArea = rng.uniform(28, 90);  // the size filter keeps up to 3 x maxArea
        const std::vector<cv::Rect> rects = PlaceRectangles(rng, size, minArea);
        cv::Mat frame = Blank(size.width, size.height);
        for (const cv::Rect& r : rects) frame(r).setTo(rng.uniform(20, 100));
        SCOPED_TRACE(::testing::Message() << size << " " << rects.size() << " rectangles, areas " << minArea << " .. "
                                          << maxArea);

        TempFolder folder;
        CVideoStream stream;
        WriteFrames(folder, {Blank(size.width, size.height), frame, Blank(size.width, size.height), frame}, stream);
        ASSERT_TRUE(stream.PrepareFirstFrame());
        stream.minArea = minArea;
        stream.maxArea = maxArea;

        // Frame Diff and Mode Value mark the rectangles exactly; Otsu's median filter cuts
        // off their four corners.
        Found exact, otsu;
        for (const cv::Rect& r : rects) {
            exact.insert(Truth(r, 0));
            otsu.insert(Truth(r, 4));
        }
        const std::vector<ParticleMeasure> diff = stream.CountParticles(1, 3);
        EXPECT_EQ(FoundOf(diff), exact);
        EXPECT_EQ(FoundOf(stream.CountParticles(1, 2)), exact);
        EXPECT_EQ(FoundOf(stream.CountParticles(1, 1)), otsu);
        for (const ParticleMeasure& r : diff) EXPECT_EQ(r.inRange, r.area >= minArea && r.area <= maxArea);

        // The strip of the last frame (the frame before it is blank, the one before that
        // is the same frame): the rectangles whose window ends before the strip's last column and last row.
        const int width = rng.uniform(1, size.width + 1);
        Found strip;
        for (const cv::Rect& r : rects) {
            const auto [cx, cy, area] = Truth(r, 0);
            if (r.x + r.width <= width && cx + minArea < width - 1 && cy + minArea < size.height - 2)
                strip.insert({cx, cy, area});
        }
        EXPECT_EQ(FoundOf(stream.CountParticlesInNewRegion(width, 3)), strip) << "strip of " << width;
    }
}
