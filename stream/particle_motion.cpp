#include "stream/particle_motion.h"

#include <algorithm>
#include <cmath>

namespace {

// Displacements this small (pixels, against the reference) are at rest.
constexpr double kRestZone = 2.5;
// Pixels across the ray of a wide window's motion that particles at speeds of their own
// stay within (centroid noise, a camera that shakes a few pixels).
constexpr double kRayReach = 4.0;

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

// A wide window of an unknown direction gathers particles at speeds of their own: their
// displacements differ along the flow, hardly across it, so they lie on the ray from no
// motion through the window's median. Pairs scattered across that ray agree by chance
// (frames that share nothing): only the pairs on it support the motion.
ParticleMotion OnRaySupport(const std::vector<Pair>& moving, const ParticleMotion& wide, double wp, double wq,
                            size_t earlier, size_t later)
{
    std::vector<Pair> onRay;
    for (const Pair& pair : moving)
        if (std::abs(pair.p - wide.dx) <= wp && std::abs(pair.q - wide.dy) <= wq &&
            OnRay(pair.p, pair.q, wide.dx, wide.dy, kRayReach))
            onRay.push_back(pair);
    return Refine(onRay, wide.dx, wide.dy, wp, wq, false, earlier, later);
}

// Pairs that chance would put in a window of (2 wp) x (2 wq) pixels about the displacement
// (p, q): two particles anywhere in the frame are displaced by little more often than by
// much (the density of their difference falls linearly to the frame's extent).
double ChanceVotes(size_t pairs, const Axes& axes, double p, double q, double wp, double wq)
{
    const double along = std::max(axes.halfP - std::abs(p), 0.0) / (axes.halfP * axes.halfP);
    const double across = axes.known ? 1.0 / (2.0 * axes.halfQ)
                                     : std::max(axes.halfQ - std::abs(q), 0.0) / (axes.halfQ * axes.halfQ);
    return static_cast<double>(pairs) * along * across * (2.0 * wp) * (2.0 * wq);
}

// Fewest votes in one of `windows` windows that chance gives less than once in a hundred
// searches, when it puts `chance` votes in each: the tail of their Poisson distribution.
int SignificantVotes(double chance, double windows)
{
    double term = std::exp(-chance), below = 0.0;
    int k = 0;
    for (; k < 200 && windows * (1.0 - below) > 0.01; ++k) {
        below += term;
        term *= chance / (k + 1);
    }
    return std::max(k, 2);
}

// The flow's direction alone, from the directions of the moving pairs (a degree wide):
// particles at speeds of their own agree on it when no displacement wins. (0, 0) when no
// direction stands out beyond chance and beyond any other.
cv::Point2d VoteDirection(const std::vector<Pair>& moving)
{
    constexpr int kBins = 720, kHalf = 1;
    constexpr double kShortest = 10.0;  // pixels: shorter displacements tell no direction
    std::vector<int> votes(kBins, 0);
    int counted = 0;
    const auto binOf = [](const Pair& pair) {
        return static_cast<int>((std::atan2(pair.q, pair.p) + CV_PI) / (2.0 * CV_PI) * kBins) % kBins;
    };
    for (const Pair& pair : moving)
        if (std::hypot(pair.p, pair.q) >= kShortest)
            ++votes[static_cast<size_t>(binOf(pair))], ++counted;
    const auto window = [&](int centre) {
        int sum = 0;
        for (int k = -kHalf; k <= kHalf; ++k)
            sum += votes[static_cast<size_t>((centre + k + kBins) % kBins)];
        return sum;
    };
    int peak = 0, peakVotes = 0, rivalVotes = 0;
    for (int b = 0; b < kBins; ++b)
        if (window(b) > peakVotes)
            peak = b, peakVotes = window(b);
    for (int b = 0; b < kBins; ++b) {
        const int apart = std::abs(b - peak);
        if (std::min(apart, kBins - apart) > 2 * kHalf + 1)
            rivalVotes = std::max(rivalVotes, window(b));
    }
    const double windows = static_cast<double>(kBins) / (2 * kHalf + 1);
    const int needed = SignificantVotes(counted / windows, windows);
    if (peakVotes < needed || (rivalVotes >= needed && peakVotes <= 2 * rivalVotes))
        return {};
    cv::Point2d sum;
    for (const Pair& pair : moving) {
        const int apart = std::abs(binOf(pair) - peak);
        if (std::hypot(pair.p, pair.q) >= kShortest && std::min(apart, kBins - apart) <= kHalf)
            sum += cv::Point2d(pair.p, pair.q) / std::hypot(pair.p, pair.q);
    }
    return sum / cv::norm(sum);
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
    // As many windows as fit the displacements searched, each a chance to agree by chance.
    const auto windowsIn = [&](double wp, double wq) {
        return std::max(axes.halfP / wp, 1.0) * std::max(axes.halfQ / wq, 1.0);
    };
    int movingExcess = 0;  // most pairs one to one in any moving window beyond its chance agreement
    motion.agreement = -1;
    for (size_t k = 0; k < windows.size() && !moving.empty(); ++k) {
        const int hp = static_cast<int>(windows[k].x / axes.bin), hq = static_cast<int>(windows[k].y / axes.bin);
        const double wp = (hp + 0.5) * axes.bin, wq = (hq + 0.5) * axes.bin;
        const Peak peak = BestWindow(grid, moving, hp, hq);
        const Peak rival = BestWindow(grid, moving, hp, hq, &peak);
        const double searched = windowsIn(wp, wq);
        const int needed =
            SignificantVotes(ChanceVotes(pairs, axes, grid.P(peak.ip), grid.Q(peak.iq), wp, wq), searched);
        const int rivalNeeded =
            SignificantVotes(ChanceVotes(pairs, axes, grid.P(rival.ip), grid.Q(rival.iq), wp, wq), searched);
        ParticleMotion m = Refine(moving, grid.P(peak.ip), grid.Q(peak.iq), wp, wq, k == 0, a.size(), b.size());
        if (!axes.known && k > 0 && m.support > 0)
            m = OnRaySupport(moving, m, wp, wq, a.size(), b.size());
        movingExcess = std::max(movingExcess, m.support - needed + 2);
        motion.support = std::max(motion.support, m.support);
        motion.agreement = std::max(motion.agreement, m.support - needed);
        // Enough pairs agree, more than chance would gather in any window, and clearly more
        // than in any rival window that holds more than chance itself.
        if (m.support < needed || (rival.votes >= rivalNeeded && m.support <= 2 * rival.votes))
            continue;
        m.decided = true;
        m.spread = k > 0;
        m.agreement = motion.agreement;
        const cv::Point2d d = m.dx * axes.u + m.dy * axes.w;
        m.dx = d.x;
        m.dy = d.y;
        return m;
    }
    // No displacement wins while the axis is unknown: perhaps the direction does, the
    // particles' speeds being their own.
    if (!axes.known) {
        MotionPrior guided = prior;
        guided.axis = VoteDirection(moving);
        if (guided.axis != cv::Point2d()) {
            const ParticleMotion m = MeasureParticleMotion(earlier, later, frame, guided);
            if (m.decided && !m.still)
                return m;
            motion.agreement = std::max(motion.agreement, m.agreement);
        }
    }
    // Nothing moves together: the flow stands still if the pairs at rest agree well
    // beyond chance and beyond what any moving window holds beyond chance.
    if (rest.empty())
        return motion;
    const double restAcross = axes.known ? axes.halfQ : kRestZone;
    ParticleMotion m = Refine(rest, 0.0, 0.0, kRestZone, restAcross, false, a.size(), b.size());
    const int needed = SignificantVotes(ChanceVotes(pairs, axes, 0.0, 0.0, kRestZone, restAcross), 1.0);
    motion.support = std::max(motion.support, m.support);
    motion.agreement = std::max(motion.agreement, m.support - needed);
    if (m.support < needed || m.support <= 2 * movingExcess)
        return motion;
    m.decided = true;
    m.still = true;
    m.agreement = motion.agreement;
    const cv::Point2d d = m.dx * axes.u + m.dy * axes.w;
    m.dx = d.x;
    m.dy = d.y;
    return m;
}
