// Small random sequences holding every kind of bad file, with any method, area bounds up to the
// int limits and margins, through the transition measure and both counts (OpenCV decodes the truth).

#include "stream_test_support.h"
#include "tests/fuzz_settings.h"
#include "toolkit/segmentation.h"

#include <algorithm>
#include <climits>
#include <fstream>
#include <tuple>

TEST(StreamFuzz, RandomSequencesKeepTheContracts)
{
    const int bounds[] = {INT_MIN, -3, 0, 1, 5, 10, 25, 45, 46, 100, 900, INT_MAX / 3 + 1, INT_MAX};
    ForEachFuzzCase(200, [&](cv::RNG& rng) {
        // Frames of 1 x 1, 1 x N, N x 1 or small: noise and dark rectangles.
        const int kind = rng.uniform(0, 6), w = kind == 0 || kind == 2 ? 1 : rng.uniform(2, 48);
        const int h = kind < 2 ? 1 : rng.uniform(2, 40);
        cv::Mat first(h, w, CV_8UC1), colour;
        rng.fill(first, cv::RNG::NORMAL, 200, rng.uniform(0, 4));
        for (int k = rng.uniform(0, 6); k > 0; --k)
            first(cv::Rect(rng.uniform(-3, w), rng.uniform(-3, h), 1 + k, 9 - k) & cv::Rect(0, 0, w, h)).setTo(20 * k);
        Sequence seq({});
        CVideoStream& s = seq.stream;
        std::vector<cv::Mat> grey;  // what the stream should see
        std::vector<bool> deep;     // 16-bit samples: usable only among 16-bit frames
        for (int t = 0, frames = rng.uniform(1, 7); t < frames; ++t) {
            const std::string path = seq.folder + "/" + std::to_string(t) + ".png";
            const cv::Mat frame = t == 0 ? first : cv::Mat(first + rng.uniform(-20, 20));
            deep.push_back(false);
            std::vector<uchar> png;
            cv::imencode(".png", frame, png);
            cv::merge(std::vector<cv::Mat>{frame, 255 - frame, frame}, colour);
            switch (rng.uniform(0, 12)) {  // cut short, text, missing, colour, 16 bits, another size, or as it is
            case 0:
                std::ofstream(path).write(reinterpret_cast<char*>(png.data()), png.size() / 2);
                break;
            case 1:
                std::ofstream(path) << "not an image";
                break;
            case 2:
                break;
            case 3:
                cv::imwrite(path, colour);
                break;
            case 4:
                cv::imwrite(path, cv::Mat(cv::Mat_<ushort>(frame) * 257));
                deep.back() = true;
                break;
            case 5:
                cv::imwrite(path, frame.t());
                break;
            default:
                cv::imwrite(path, frame);
            }
            s.AddFrame(std::to_string(t) + ".png");
            grey.push_back(cv::imread(path, cv::IMREAD_GRAYSCALE));
        }
        const int last = s.frameCount - 1;
        std::tie(s.minArea, s.maxArea) = std::tuple(bounds[rng.uniform(0, 13)], bounds[rng.uniform(0, 13)]);
        std::tie(s.marginTop, s.marginBottom, s.marginLeft, s.marginRight) =
            std::tuple(rng.uniform(-2, 42), rng.uniform(-2, 42), rng.uniform(-2, 50), rng.uniform(-2, 50));
        s.SetRecentFrameCapacity(rng.uniform(0, 4));
        SCOPED_TRACE(::testing::Message() << last + 1 << " x " << first.size() << " " << s.minArea << " " << s.maxArea);
        const auto usable = [&](int t) {
            return t >= 0 && t <= last && !grey[0].empty() && grey[size_t(t)].size() == grey[0].size() &&
                   deep[size_t(t)] == deep[0];
        };
        // Records only from a usable frame and a valid call, inside the frame (the strip).
        const auto check = [&](const std::vector<ParticleMeasure>& found, bool valid, bool* read, int t, int cols) {
            EXPECT_TRUE(*read == (usable(t) || !valid) && (found.empty() || (valid && usable(t)))) << t;
            for (const ParticleMeasure& r : found)
                EXPECT_TRUE(r.frame == t && cv::Rect(0, 0, cols, s.frameHeight).contains({r.x, r.y}) && r.area > 0 &&
                            r.inRange == (r.area >= s.minArea && r.area <= s.maxArea))
                    << r.x << ", " << r.y;
        };
        ASSERT_EQ(s.PrepareFirstFrame(), !grey[0].empty());
        ASSERT_EQ(cv::Size(s.frameWidth, s.frameHeight), grey[0].size());
        for (int t = 1; t <= last; ++t) {
            bool read = !usable(t);
            const FrameShift shift = s.MeasureTransition(t, &read);
            EXPECT_TRUE(read == usable(t) && shift.dx >= 0 && shift.dx < std::max(s.frameWidth, 1) && shift.dy >= 0 &&
                        shift.dy <= 3)
                << t << ": " << shift.dx << ", " << shift.dy;
        }
        for (int t = -1, method = 0; t <= last + 1; t += method == 5, method = (method + 1) % 6) {
            const int width = t * w / 2;  // strips from none to wider than the frame
            const bool valid = method >= kMethodOtsu && method <= kMethodBackground;
            bool read = false, cut = false;
            check(s.CountParticles(t, method, &read), valid, &read, t, s.frameWidth);
            check(s.CountParticlesInNewRegion(width, method, &cut), valid && width > 0, &cut, last,
                  std::min(width, s.frameWidth));
        }
    });
}
