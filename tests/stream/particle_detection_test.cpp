#include "stream_test_support.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <tuple>

// Each single particle (38 to 200 pixels) inside a generated frame is found once, at its
// centroid, with its area (method 3 marks the drawn pixels and the odd noise pixel next to
// them; median and threshold of methods 1, 2 move the outline a pixel; method 4 cuts at
// the particle's size); pairs as one or two.
TEST(ParticleDetection, GeneratedFramesMatchTheGroundTruthWithEveryMethod)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        flowgen::FlowSettings settings;
        std::tie(settings.seed, settings.frames, settings.radiusMin, settings.radiusMax) = std::tuple(seed, 5, 3.5, 8);
        const flowgen::Flow flow = flowgen::GenerateFlow(settings);
        const std::vector<flowgen::VisibleGroup> truth = flowgen::GroupsInFrame(flow, 2);
        size_t inside = 0, pieces = 0;
        for (const flowgen::VisibleGroup& g : truth) inside += g.fullyInside, pieces += g.ids.size();
        Sequence seq(Render(flow));
        seq.stream.minArea = 15;  // windows of 31 x 31 hold the largest particle
        for (int method : {1, 2, 3, 4}) {
            const std::vector<ParticleMeasure> found = seq.stream.CountParticles(2, method);
            EXPECT_TRUE(inside > 30 && found.size() >= inside && found.size() <= pieces) << seed << ", " << method;
            for (const flowgen::VisibleGroup& g : truth) {
                const auto match = [&](const ParticleMeasure& r) {
                    const int extra = r.area - g.area;
                    return std::abs(r.x - g.centroid.x) < 1.5 && std::abs(r.y - g.centroid.y) < 1.5 && r.frame == 2 &&
                           (method == 3   ? extra >= 0 && extra <= 3
                            : method == 4 ? std::abs(extra) <= 0.05 * g.area + 1
                                          : std::abs(extra) <= 0.25 * g.area);
                };
                EXPECT_TRUE(!g.fullyInside || g.ids.size() > 1 || std::count_if(found.begin(), found.end(), match) == 1)
                    << seed << ", " << method << ": " << g.centroid;
            }
        }
    }
}

// Method 3, minArea 10 (windows of 21 x 21) unless given; `strip`: the first columns of the
// last frame less its last row, where windows reaching its last column or row do not count.
TEST(ParticleDetection, FrameDiffOnHandMadeFrames)
{
    cv::Mat sizes = Frame({{160, 120, 14}});      // larger than its window
    sizes(cv::Rect(196, 150, 3, 3)).setTo(50);    // 9 pixels, their window holds more
    sizes(cv::Rect(60, 20, 2, 5)).setTo(50);      // 10 pixels
    sizes(cv::Rect(200, 150, 45, 60)).setTo(50);  // 2700 pixels, 3 x maxArea
    sizes(cv::Rect(260, 150, 37, 73)).setTo(50);  // 2701 pixels
    cv::Mat lined = Blank(), strip = Frame({{188, 40, 4}, {189, 100, 4}, {60, 227, 4}, {120, 228, 4}, {260, 120, 4}});
    lined(cv::Rect(74, 114, 12, 12)).setTo(50);  // a square
    lined(cv::Rect(200, 40, 1, 20)).setTo(50);   // a line one pixel wide, gone in an opening
    strip(cv::Rect(60, 60, 1, 20)).setTo(50);    // a strip's mask is always opened
    const cv::Mat bands = Frame({{160, 10, 5}, {5, 120, 4}, {300, 120, 5}, {160, 236, 3}, {160, 120, 5}});
    const cv::Mat disc = Frame({{100, 100, 6}}), blank = Blank();
    const struct {
        std::vector<cv::Mat> frames;
        int index, minArea, strip;
        cv::Vec4i margins;                       // top, bottom, left, right
        std::set<std::pair<int, int>> expected;  // (x, y) of the records
    } cases[] = {
        {{blank, sizes, blank}, 1, 10, 0, {}, {{60, 22}, {160, 120}, {222, 179}}},
        {{blank, lined, blank}, 1, 45, 0, {}, {{79, 119}, {200, 49}}},  // opened only above 45
        {{blank, lined, blank}, 1, 46, 0, {}, {{79, 119}}},
        {{blank, bands, blank}, 1, 10, 0, {20, 8, 0, 0}, {{5, 120}, {300, 120}, {160, 120}}},    // margins clear
        {{blank, bands, blank}, 1, 10, 0, {0, 0, 12, 30}, {{160, 10}, {160, 236}, {160, 120}}},  // their bands
        {{disc, disc, blank, disc, disc}, 0, 10, 0, {}, {{100, 100}}},  // the ends: the two nearest frames
        {{disc, disc, blank, disc, disc}, 4, 10, 0, {}, {{100, 100}}},
        {{disc, disc, blank, disc, disc}, 4, 10, 200, {}, {{100, 100}}},
        {{blank, blank, strip}, 2, 10, 200, {}, {{188, 40}, {60, 227}}},  // windows to column 198, row 237
        {{blank, blank, strip}, 2, 10, 10000, {}, {{188, 40}, {189, 100}, {60, 227}, {260, 120}}},
    };
    for (const auto& c : cases) {
        Sequence seq(c.frames);
        CVideoStream& s = seq.stream;
        s.minArea = c.minArea;
        std::tie(s.marginTop, s.marginBottom, s.marginLeft, s.marginRight) =
            std::tuple(c.margins[0], c.margins[1], c.margins[2], c.margins[3]);
        std::set<std::pair<int, int>> spots;
        for (const auto& r : c.strip ? s.CountParticlesInNewRegion(c.strip, 3) : s.CountParticles(c.index, 3))
            spots.insert({r.frame == c.index ? r.x : -1, r.y});  // the frame counted
        EXPECT_EQ(spots, c.expected) << "case " << &c - cases;
    }

    // Methods 1 and 2 always open; Otsu's median takes the square's corners. A neighbour
    // that is missing or of another size adds nothing.
    Sequence seq({blank, lined, blank});
    const std::vector<ParticleMeasure> otsu = seq.stream.CountParticles(1, 1), mode = seq.stream.CountParticles(1, 2);
    EXPECT_TRUE(otsu.size() == 1 && mode.size() == 1 && otsu[0].area == 140 && mode[0].area == 144);
    std::filesystem::remove(seq.stream.FramePath(2));
    bool read = false, missing = true;
    EXPECT_TRUE(seq.stream.CountParticles(1, 3, &read).size() == 2 && read);
    EXPECT_TRUE(seq.stream.CountParticles(2, 3, &missing).empty() && !missing);
    cv::imwrite(seq.stream.FramePath(0), Blank(321, 240));
    EXPECT_TRUE(seq.stream.CountParticles(1, 3).empty());
}
