#include "stream/particle_motion.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

struct Point {
    double x, y, area;
};

std::vector<Point> WholeParticles(const ParticleBlobs& blobs)
{
    std::vector<Point> points;
    for (const ParticleBlob& b : blobs)
        if (!b.touchesBorder && b.area > 0.0)
            points.push_back({b.centroid.x, b.centroid.y, b.area});
    std::sort(points.begin(), points.end(), [](const Point& a, const Point& b) { return a.y < b.y; });
    return points;
}

struct Pair {
    double dx, dy;
    int a, b;
};

double Median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

}  // namespace

ParticleMotion MeasureParticleMotion(const ParticleBlobs& earlier, const ParticleBlobs& later, int frameWidth,
                                     const MotionTolerance& tol)
{
    ParticleMotion motion;
    const std::vector<Point> a = WholeParticles(earlier);
    const std::vector<Point> b = WholeParticles(later);
    if (a.empty() || b.empty() || frameWidth < 1)
        return motion;

    // Every pair on nearly the same row with nearly the same area votes for its displacement.
    std::vector<Pair> pairs;
    std::vector<int> votes(static_cast<size_t>(2 * frameWidth + 1), 0);
    size_t first = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        while (first < b.size() && b[first].y < a[i].y - tol.rows)
            ++first;
        for (size_t j = first; j < b.size() && b[j].y <= a[i].y + tol.rows; ++j) {
            const double larger = std::max(a[i].area, b[j].area);
            if (std::abs(a[i].area - b[j].area) > std::max(tol.areaPixels, tol.areaShare * larger))
                continue;
            const double dx = b[j].x - a[i].x;
            const long bin = std::lround(dx) + frameWidth;
            if (bin < 0 || bin >= static_cast<long>(votes.size()))
                continue;
            ++votes[static_cast<size_t>(bin)];
            pairs.push_back({dx, b[j].y - a[i].y, static_cast<int>(i), static_cast<int>(j)});
        }
    }
    if (pairs.empty())
        return motion;

    // The displacement with the most votes within the window, and the best one clearly apart from it.
    const int w = tol.window;
    const int bins = static_cast<int>(votes.size());
    std::vector<int> summed(votes.size(), 0);
    int running = 0;
    for (int k = 0; k < bins + w; ++k) {
        if (k < bins)
            running += votes[static_cast<size_t>(k)];
        if (k - 2 * w - 1 >= 0)
            running -= votes[static_cast<size_t>(k - 2 * w - 1)];
        if (k - w >= 0)
            summed[static_cast<size_t>(k - w)] = running;
    }
    const int peak = static_cast<int>(std::max_element(summed.begin(), summed.end()) - summed.begin());
    int rival = 0;
    for (int k = 0; k < bins; ++k)
        if (std::abs(k - peak) > 2 * w + 1)
            rival = std::max(rival, summed[static_cast<size_t>(k)]);

    // One to one: each particle in at most one pair, the pairs nearest the peak first.
    const double centre = peak - frameWidth;
    std::vector<Pair> near;
    for (const Pair& p : pairs)
        if (std::abs(p.dx - centre) <= w + 0.5)
            near.push_back(p);
    std::sort(near.begin(), near.end(), [&](const Pair& p, const Pair& q) {
        return std::abs(p.dx - centre) + std::abs(p.dy) < std::abs(q.dx - centre) + std::abs(q.dy);
    });
    std::vector<char> usedA(a.size(), 0), usedB(b.size(), 0);
    std::vector<double> dxs, dys;
    for (const Pair& p : near) {
        if (usedA[static_cast<size_t>(p.a)] || usedB[static_cast<size_t>(p.b)])
            continue;
        usedA[static_cast<size_t>(p.a)] = usedB[static_cast<size_t>(p.b)] = 1;
        dxs.push_back(p.dx);
        dys.push_back(p.dy);
    }
    motion.support = static_cast<int>(dxs.size());
    // Chance agreement: pairs spread over all displacements, the window's share of them.
    const double chance = static_cast<double>(pairs.size()) * (2 * w + 1) / bins;
    motion.decided =
        motion.support >= 2 && motion.support > 2 * rival && motion.support >= chance + 4.0 * std::sqrt(chance) + 1.0;
    if (!motion.decided)
        return motion;
    // Refined: the mean of the matched displacements within a pixel of their median.
    const double mx = Median(dxs);
    double sx = 0.0, sy = 0.0;
    int n = 0;
    for (size_t k = 0; k < dxs.size(); ++k) {
        if (std::abs(dxs[k] - mx) > 1.0)
            continue;
        sx += dxs[k];
        sy += dys[k];
        ++n;
    }
    motion.dx = sx / n;
    motion.dy = sy / n;
    return motion;
}
