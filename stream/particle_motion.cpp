#include "stream/particle_motion.h"

#include <algorithm>
#include <cmath>

namespace {

// Displacements this small (pixels, against the reference) are at rest.
constexpr double kRestZone = 2.5;

// A particle in the vote's axes: p along the flow, q across it (x and y while the axis is
// unknown).
struct Point {
    double p, q, area, rate;
};

// A pair's vote: displacement along the flow divided by the earlier particle's rate, and
// across it; a and b index the earlier and the later particle.
struct Pair {
    double p, q;
    int a, b;
};

struct Axes {
    cv::Point2d u, w;  // along, across
    bool known = false;
    double halfP = 0.0, halfQ = 0.0;  // largest displacements voted for
    double bin = 1.0;                 // pixels per bin of the vote
};

// Counts of the pairs' votes on a grid of bins, summed over windows by an integral image.
class VoteGrid {
public:
    VoteGrid(const std::vector<Pair>& pairs, const Axes& axes)
        : bin(axes.bin)
        , halfP(axes.halfP)
        , halfQ(axes.halfQ)
        , np(static_cast<int>(std::ceil(2.0 * halfP / bin)) + 1)
        , nq(static_cast<int>(std::ceil(2.0 * halfQ / bin)) + 1)
        , sums(static_cast<size_t>(np + 1) * static_cast<size_t>(nq + 1), 0)
    {
        for (const Pair& pair : pairs)
            ++At(BinP(pair.p) + 1, BinQ(pair.q) + 1);
        for (int i = 1; i <= np; ++i)
            for (int j = 1; j <= nq; ++j)
                At(i, j) += At(i - 1, j) + At(i, j - 1) - At(i - 1, j - 1);
    }
    int BinP(double p) const { return std::clamp(static_cast<int>(std::lround((p + halfP) / bin)), 0, np - 1); }
    int BinQ(double q) const { return std::clamp(static_cast<int>(std::lround((q + halfQ) / bin)), 0, nq - 1); }
    double P(int ip) const { return ip * bin - halfP; }
    double Q(int iq) const { return iq * bin - halfQ; }
    // Votes in the bins within hp and hq of bin (ip, iq).
    int Window(int ip, int iq, int hp, int hq) const
    {
        const int p0 = std::max(ip - hp, 0), p1 = std::min(ip + hp, np - 1) + 1;
        const int q0 = std::max(iq - hq, 0), q1 = std::min(iq + hq, nq - 1) + 1;
        return At(p1, q1) - At(p0, q1) - At(p1, q0) + At(p0, q0);
    }
    double Cells() const { return static_cast<double>(np) * nq; }

private:
    int& At(int i, int j) { return sums[static_cast<size_t>(i) * static_cast<size_t>(nq + 1) + static_cast<size_t>(j)]; }
    int At(int i, int j) const
    {
        return sums[static_cast<size_t>(i) * static_cast<size_t>(nq + 1) + static_cast<size_t>(j)];
    }

    double bin, halfP, halfQ;
    int np, nq;
    std::vector<int> sums;
};

double Median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

Axes VoteAxes(const MotionPrior& prior, cv::Size frame)
{
    Axes axes;
    axes.known = cv::norm(prior.axis) > 0.5;
    axes.u = axes.known ? prior.axis / cv::norm(prior.axis) : cv::Point2d(1.0, 0.0);
    axes.w = cv::Point2d(-axes.u.y, axes.u.x);
    const double alongExtent = std::abs(frame.width * axes.u.x) + std::abs(frame.height * axes.u.y);
    const double acrossExtent = std::abs(frame.width * axes.w.x) + std::abs(frame.height * axes.w.y);
    axes.halfP = alongExtent;
    axes.halfQ = axes.known ? prior.across : acrossExtent;
    // Any displacement in the frame votes while the axis is unknown: coarser bins keep the
    // grid small.
    axes.bin = axes.known ? 1.0 : 4.0;
    return axes;
}

// Whole particles in the vote's axes, sorted across the flow; rate 0 for those that do not vote.
std::vector<Point> VotingPoints(const ParticleBlobs& blobs, const Axes& axes, const std::vector<double>* rates)
{
    std::vector<Point> points;
    for (size_t i = 0; i < blobs.size(); ++i) {
        const ParticleBlob& b = blobs[i];
        if (b.touchesBorder || b.area <= 0.0)
            continue;
        const double rate = rates && i < rates->size() ? (*rates)[i] : 1.0;
        points.push_back({b.centroid.dot(axes.u), b.centroid.dot(axes.w), b.area, rate});
    }
    std::sort(points.begin(), points.end(), [](const Point& a, const Point& b) { return a.q < b.q; });
    return points;
}

bool AtRest(const Pair& pair, const Axes& axes)
{
    return std::abs(pair.p) <= kRestZone && (axes.known || std::abs(pair.q) <= kRestZone);
}

// Every pair of nearly the same area within reach, split into moving pairs and pairs at rest.
void CollectPairs(const std::vector<Point>& a, const std::vector<Point>& b, const Axes& axes,
                  std::vector<Pair>& moving, std::vector<Pair>& rest)
{
    size_t first = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].rate < 0.05)
            continue;
        while (first < b.size() && b[first].q < a[i].q - axes.halfQ)
            ++first;
        for (size_t j = first; j < b.size() && b[j].q <= a[i].q + axes.halfQ; ++j) {
            if (!SimilarParticleArea(a[i].area, b[j].area))
                continue;
            const Pair pair{(b[j].p - a[i].p) / a[i].rate, b[j].q - a[i].q, static_cast<int>(i), static_cast<int>(j)};
            if (std::abs(pair.p) > axes.halfP)
                continue;
            (AtRest(pair, axes) ? rest : moving).push_back(pair);
        }
    }
}

struct Peak {
    int ip = 0, iq = 0;
    int votes = 0;
};

// Whether (p, q) lies on the ray from no motion through (P, Q), within `reach` of it:
// the same motion at another speed.
bool OnRay(double p, double q, double P, double Q, double reach)
{
    const double length = std::hypot(P, Q);
    return length > 0.0 && p * P + q * Q > 0.0 && std::abs(p * Q - q * P) / length <= reach;
}

// The window with the most votes, centred on a bin that holds a pair; with `apart`, only
// its rivals: windows clear of it and off its ray (particles at other speeds in the same
// direction, as a velocity profile has them, are no rival motion).
Peak BestWindow(const VoteGrid& grid, const std::vector<Pair>& pairs, int hp, int hq, const Peak* apart = nullptr)
{
    Peak best;
    const double reach = (2 * hq + 1) * (grid.Q(1) - grid.Q(0));
    for (const Pair& pair : pairs) {
        const int ip = grid.BinP(pair.p), iq = grid.BinQ(pair.q);
        if (apart && ((std::abs(ip - apart->ip) <= 2 * hp + 1 && std::abs(iq - apart->iq) <= 2 * hq + 1) ||
                      OnRay(grid.P(ip), grid.Q(iq), grid.P(apart->ip), grid.Q(apart->iq), reach)))
            continue;
        const int votes = grid.Window(ip, iq, hp, hq);
        if (votes > best.votes)
            best = {ip, iq, votes};
    }
    return best;
}

// The pairs near a centre, one to one, nearest first; their displacement refined: in a
// narrow window the mean of those within a pixel of their median, in a wide one the median.
ParticleMotion Refine(const std::vector<Pair>& pairs, double cp, double cq, double reachP, double reachQ, bool narrow,
                      size_t earlier, size_t later)
{
    std::vector<Pair> near;
    for (const Pair& pair : pairs)
        if (std::abs(pair.p - cp) <= reachP && std::abs(pair.q - cq) <= reachQ)
            near.push_back(pair);
    std::sort(near.begin(), near.end(), [&](const Pair& x, const Pair& y) {
        return std::abs(x.p - cp) / reachP + std::abs(x.q - cq) / reachQ <
               std::abs(y.p - cp) / reachP + std::abs(y.q - cq) / reachQ;
    });
    std::vector<char> usedA(earlier, 0), usedB(later, 0);
    std::vector<double> ps, qs;
    for (const Pair& pair : near) {
        if (usedA[static_cast<size_t>(pair.a)] || usedB[static_cast<size_t>(pair.b)])
            continue;
        usedA[static_cast<size_t>(pair.a)] = usedB[static_cast<size_t>(pair.b)] = 1;
        ps.push_back(pair.p);
        qs.push_back(pair.q);
    }
    ParticleMotion motion;
    motion.support = static_cast<int>(ps.size());
    if (ps.empty())
        return motion;
    const double mp = Median(ps);
    if (!narrow) {
        motion.dx = mp;
        motion.dy = Median(qs);
        return motion;
    }
    double sp = 0.0, sq = 0.0;
    int n = 0;
    for (size_t k = 0; k < ps.size(); ++k)
        if (std::abs(ps[k] - mp) <= 1.0)
            sp += ps[k], sq += qs[k], ++n;
    motion.dx = sp / n;
    motion.dy = sq / n;
    return motion;
}

// Enough pairs agree, clearly more than by chance and than in any other window (a single
// pair elsewhere tells nothing: some pair always agrees on something).
bool Decisive(int support, int rival, double chance)
{
    return support >= 2 && (rival <= 1 || support > 2 * rival) && support >= chance + 4.0 * std::sqrt(chance) + 1.0;
}

}  // namespace

bool SimilarParticleArea(double a, double b)
{
    return std::abs(a - b) <= std::max(3.0, 0.3 * std::max(a, b));
}

ParticleMotion MeasureParticleMotion(const ParticleBlobs& earlier, const ParticleBlobs& later, cv::Size frame,
                                     const MotionPrior& prior)
{
    ParticleMotion motion;
    const Axes axes = VoteAxes(prior, frame);
    const std::vector<Point> a = VotingPoints(earlier, axes, prior.rates.empty() ? nullptr : &prior.rates);
    const std::vector<Point> b = VotingPoints(later, axes, nullptr);
    if (a.empty() || b.empty() || frame.width < 1 || frame.height < 1)
        return motion;
    std::vector<Pair> moving, rest;
    CollectPairs(a, b, axes, moving, rest);
    const size_t pairs = moving.size() + rest.size();
    if (pairs == 0)
        return motion;

    // Along the flow a narrow window first, then wider ones for particles at speeds of
    // their own; across it narrow while the axis is known.
    const VoteGrid grid(moving, axes);
    const std::vector<cv::Point2d> windows =
        axes.known ? std::vector<cv::Point2d>{{2.0, 2.0}, {8.0, 2.0}, {24.0, 2.0}}
                   : std::vector<cv::Point2d>{{6.0, 6.0}, {14.0, 14.0}, {34.0, 34.0}};
    double movingExcess = 0.0;  // most pairs one to one beyond chance in any moving window
    for (size_t k = 0; k < windows.size() && !moving.empty(); ++k) {
        const int hp = static_cast<int>(windows[k].x / axes.bin), hq = static_cast<int>(windows[k].y / axes.bin);
        const Peak peak = BestWindow(grid, moving, hp, hq);
        const Peak rival = BestWindow(grid, moving, hp, hq, &peak);
        const double chance = static_cast<double>(pairs) * (2 * hp + 1) * (2 * hq + 1) / grid.Cells();
        ParticleMotion m = Refine(moving, grid.P(peak.ip), grid.Q(peak.iq), (hp + 0.5) * axes.bin,
                                  (hq + 0.5) * axes.bin, k == 0, a.size(), b.size());
        movingExcess = std::max(movingExcess, m.support - chance);
        motion.support = std::max(motion.support, m.support);
        motion.agreement = std::max(motion.agreement, m.support - rival.votes);
        if (!Decisive(m.support, rival.votes, chance))
            continue;
        m.decided = true;
        m.spread = k > 0;
        m.agreement = motion.agreement;
        const cv::Point2d d = m.dx * axes.u + m.dy * axes.w;
        m.dx = d.x;
        m.dy = d.y;
        return m;
    }
    // Nothing moves together: the flow stands still if the pairs at rest agree well
    // beyond chance and beyond what any moving window holds beyond chance.
    if (rest.empty())
        return motion;
    const double restCells = (2.0 * kRestZone + 1.0) * (axes.known ? 2.0 * axes.halfQ + 1.0 : 2.0 * kRestZone + 1.0);
    const double chance = static_cast<double>(pairs) * restCells / (4.0 * axes.halfP * axes.halfQ);
    ParticleMotion m = Refine(rest, 0.0, 0.0, kRestZone, axes.known ? axes.halfQ : kRestZone, false, a.size(), b.size());
    motion.support = std::max(motion.support, m.support);
    motion.agreement = std::max(motion.agreement, m.support - static_cast<int>(std::ceil(movingExcess)));
    if (!Decisive(m.support, static_cast<int>(std::ceil(movingExcess)), chance))
        return motion;
    m.decided = true;
    m.still = true;
    m.agreement = motion.agreement;
    const cv::Point2d d = m.dx * axes.u + m.dy * axes.w;
    m.dx = d.x;
    m.dy = d.y;
    return m;
}
