// Placing the particles of a flow: sizes, shapes, touching pairs, places in the world
// that keep them apart where asked, speed factors, entry frames and ids. Everything here
// works on a rightward flow (the canonical frame); OrientFlow turns it afterwards.

#include "tools/flowgen/flowgen_internal.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <set>

namespace flowgen::detail {

namespace {

constexpr int kGap = 3;           // free pixels kept around every group
constexpr int kEdgeRows = 2;      // free rows kept at the top and bottom of the frame
constexpr int kPairRows = 6;      // rows within which the transition measure may pair two groups
constexpr int kPairSlack = 4;     // columns of slack for truncated centroids
constexpr int kBucketRows = 16;   // placement look-up buckets
constexpr int kCellColumns = 32;  // placement cells along the flow
constexpr int kAttempts = 60;     // places tried for one group before its cell counts as full

// A particle or a touching pair while it is placed; coordinates relative to the
// centre of its first particle.
struct Group {
    std::vector<Particle> members;
    std::vector<cv::Point> offsets;                // centre of each member relative to member 0
    int left = 0, right = 0, top = 0, bottom = 0;  // tight extent of the drawn pixels
    cv::Point2d centroid;
    std::vector<cv::Point2d> blobCentres;  // the whole group's and each member's centroid
    int area = 0;
    // world placement of member 0
    int x = 0, y = 0;
    int Left() const { return x + left; }
    int Right() const { return x + right; }
    int Top() const { return y + top; }
    int Bottom() const { return y + bottom; }
};

// Union of the members' stamps on a canvas with member 0's centre at `origin`.
cv::Mat GroupCanvas(const Group& g, cv::Point& origin)
{
    int reach = 0;
    for (size_t i = 0; i < g.members.size(); ++i) {
        reach = std::max(reach, std::abs(g.offsets[i].x) + g.members[i].stamp.cols / 2);
        reach = std::max(reach, std::abs(g.offsets[i].y) + g.members[i].stamp.rows / 2);
    }
    cv::Mat canvas = cv::Mat::zeros(2 * reach + 1, 2 * reach + 1, CV_8UC1);
    origin = cv::Point(reach, reach);
    for (size_t i = 0; i < g.members.size(); ++i)
        DrawStamp(canvas, g.members[i].stamp, reach + g.offsets[i].x, reach + g.offsets[i].y, 1);
    return canvas;
}

void MeasureGroup(Group& g)
{
    cv::Point origin;
    const cv::Mat canvas = GroupCanvas(g, origin);
    const cv::Rect box = cv::boundingRect(canvas);
    g.left = box.x - origin.x;
    g.right = box.x + box.width - 1 - origin.x;
    g.top = box.y - origin.y;
    g.bottom = box.y + box.height - 1 - origin.y;
    const cv::Moments m = cv::moments(canvas, true);
    g.area = static_cast<int>(m.m00);
    g.centroid = cv::Point2d(m.m10 / m.m00 - origin.x, m.m01 / m.m00 - origin.y);
    g.blobCentres.assign(1, g.centroid);
    if (g.members.size() < 2)
        return;
    for (size_t i = 0; i < g.members.size(); ++i) {
        const cv::Mat& stamp = g.members[i].stamp;
        const cv::Moments mi = cv::moments(stamp, true);
        g.blobCentres.emplace_back(g.offsets[i].x - stamp.cols / 2 + mi.m10 / mi.m00,
                                   g.offsets[i].y - stamp.rows / 2 + mi.m01 / mi.m00);
    }
}

// Particle sizes follow a golden-ratio sequence rather than independent draws: the
// particles are made in flow order, so every stretch of the flow gets a balanced mix
// of small and large ones.
struct SizeSequence {
    double u;
    double Next()
    {
        u += 0.6180339887498949;
        u -= std::floor(u);
        return u;
    }
};

bool FourConnected(const cv::Mat& canvas)
{
    cv::Mat labels;
    return cv::connectedComponents(canvas, labels, 4, CV_32S) == 2;
}

// A second particle is moved up from below until the two touch along an edge. Stacked
// across the flow, the halves of a pair that an opening splits in a difference image
// lie on different rows, so the transition measure does not pair them with each other.
Group MakeGroup(const FlowSettings& s, cv::RNG& rng, SizeSequence& sizes)
{
    Group g;
    g.members.push_back(MakeParticle(s, rng, sizes.Next()));
    g.offsets.push_back(cv::Point(0, 0));
    const double pairShare = s.touchingShare / (2.0 - s.touchingShare);
    if (rng.uniform(0.0, 1.0) < pairShare) {
        g.members.push_back(MakeParticle(s, rng, sizes.Next()));
        const int dx = rng.uniform(-2, 3);
        int dy = g.members[0].stamp.rows / 2 + g.members[1].stamp.rows / 2 + 2;
        for (; dy > 0; --dy) {
            g.offsets.assign({cv::Point(0, 0), cv::Point(dx, dy)});
            cv::Point origin;
            if (FourConnected(GroupCanvas(g, origin)))
                break;
        }
    }
    MeasureGroup(g);
    return g;
}

bool NearIntervals(int a0, int a1, int b0, int b1, int gap)
{
    return a0 - gap <= b1 && b0 - gap <= a1;
}

bool Conflict(const Group& a, const Group& b, const FlowSettings& s, const std::vector<int>& movingShifts, int maxShift)
{
    if (!NearIntervals(a.Top(), a.Bottom(), b.Top(), b.Bottom(), kGap)) {
        // Far apart in rows: only the pairing band could matter, and it is narrower.
        return false;
    }
    if (NearIntervals(a.Left(), a.Right(), b.Left(), b.Right(), kGap))
        return true;
    if (!s.keepApartForShift)
        return false;
    // The measure pairs centroids within 3 rows by the nearest column: another group
    // in that band must be farther than the shift from both of a group's blobs (a
    // touching pair may show as one blob or as two).
    for (const cv::Point2d& ca : a.blobCentres)
        for (const cv::Point2d& cb : b.blobCentres)
            if (std::abs(ca.y + a.y - cb.y - b.y) <= kPairRows &&
                std::abs(ca.x + a.x - cb.x - b.x) <= 2.0 * maxShift + kPairSlack)
                return true;
    // Where a group was and where the other one arrives must not touch in the
    // difference of two frames.
    for (int shift : movingShifts) {
        if (NearIntervals(a.Left(), a.Right(), b.Left() + shift, b.Right() + shift, kGap) ||
            NearIntervals(a.Left(), a.Right(), b.Left() - shift, b.Right() - shift, kGap))
            return true;
    }
    return false;
}

// The first frame that shows a pixel of a particle placed at world column x0 with drawn
// columns [left, right] and rows [top, bottom]; -1 for none.
int EntryFrame(const FlowSettings& s, const Travel& travel, const Particle& p, int left, int right, int top,
               int bottom)
{
    for (size_t t = 0; t < travel.offsets.size(); ++t) {
        const int along = static_cast<int>(std::lround(p.speedFactor * travel.offsets[t]));
        const int across = travel.camera[t];
        if (right + along >= 0 && left + along <= s.width - 1 && bottom + across >= 0 &&
            top + across <= s.height - 1)
            return static_cast<int>(t);
    }
    return -1;
}

}  // namespace

Particle MakeParticle(const FlowSettings& s, cv::RNG& rng, double u)
{
    if (s.polygonShare > 0.0 || s.fibreShare > 0.0 || s.hollowShare > 0.0) {
        const double pick = rng.uniform(0.0, 1.0);
        if (pick < s.polygonShare)
            return MakeShapedParticle(s, rng, u, Shape::kPolygon);
        if (pick < s.polygonShare + s.fibreShare)
            return MakeShapedParticle(s, rng, u, Shape::kFibre);
        if (pick < s.polygonShare + s.fibreShare + s.hollowShare)
            return MakeShapedParticle(s, rng, u, Shape::kHollow);
    }
    Particle p;
    // Log-uniform area: as many small as large particles on a log scale.
    const double aMin = kPi * s.radiusMin * s.radiusMin;
    const double aMax = kPi * s.radiusMax * s.radiusMax;
    const double area = std::exp(std::log(aMin) + u * (std::log(aMax) - std::log(aMin)));
    const double r = std::sqrt(area / kPi);
    p.ellipse = rng.uniform(0.0, 1.0) < s.ellipseShare;
    const double q = p.ellipse ? rng.uniform(0.45, 0.85) : 1.0;  // minor / major
    p.semiMajor = r / std::sqrt(q);
    p.semiMinor = r * std::sqrt(q);
    p.angleDeg = p.ellipse ? rng.uniform(0.0, 180.0) : 0.0;
    const double fx = rng.uniform(-0.5, 0.5);
    const double fy = rng.uniform(-0.5, 0.5);
    p.stamp = MakeEllipseStamp(p.semiMajor, p.semiMinor, p.angleDeg, fx, fy);
    p.area = cv::countNonZero(p.stamp);
    p.grey = rng.uniform(s.greyMin, s.greyMax + 1);
    p.shape = p.ellipse ? Shape::kEllipse : Shape::kDisc;
    p.trueArea = p.area;
    p.feretMax = 2.0 * p.semiMajor;
    p.feretMin = 2.0 * p.semiMinor;
    return p;
}

std::vector<Spot> MakeSpots(const FlowSettings& s)
{
    cv::RNG rng(0x5B075000ull + s.seed);
    std::vector<Spot> spots;
    for (int i = 0; i < s.staticSpots; ++i) {
        const Particle p = MakeParticle(s, rng, rng.uniform(0.0, 1.0));
        Spot spot;
        spot.stamp = p.stamp;
        spot.area = p.area;
        spot.grey = p.grey;
        spot.centre = cv::Point(rng.uniform(0, s.width), rng.uniform(0, s.height));
        spots.push_back(spot);
    }
    return spots;
}

std::vector<Particle> PlaceParticles(const FlowSettings& s, const std::vector<int>& shifts, const Travel& travel)
{
    // How far upstream (and, for a flow that runs back, downstream) particles must start
    // to come into view, and how far the camera takes the field across.
    const int maxOffset = *std::max_element(travel.offsets.begin(), travel.offsets.end());
    const int minOffset = *std::min_element(travel.offsets.begin(), travel.offsets.end());
    const int upstream = static_cast<int>(std::ceil(travel.fastest * maxOffset));
    const int downstream = static_cast<int>(std::ceil(-travel.fastest * minOffset));
    const int cameraMin = std::min(0, *std::min_element(travel.camera.begin(), travel.camera.end()));
    const int cameraMax = std::max(0, *std::max_element(travel.camera.begin(), travel.camera.end()));
    const int acrossExtent = s.height + cameraMax - cameraMin;

    std::set<int> moving;
    for (int shift : shifts)
        if (shift != 0)
            moving.insert(std::abs(shift));
    const std::vector<int> movingShifts(moving.begin(), moving.end());
    const int maxShift = moving.empty() ? 0 : *moving.rbegin();

    cv::RNG rng(0xF10A0000ull + s.seed);
    std::vector<Group> placed;
    std::vector<std::vector<int>> buckets(static_cast<size_t>(acrossExtent / kBucketRows + 1));
    auto bucketOf = [&](int y) {
        return std::clamp((y + cameraMax) / kBucketRows, 0, static_cast<int>(buckets.size()) - 1);
    };
    // Rows from a group's edge to the centre of any group it could clash with.
    const int reach =
        2 * (static_cast<int>(std::ceil(s.radiusMax / std::sqrt(0.45))) + 4) + kGap + kPairRows + kBucketRows;
    auto fits = [&](const Group& g) {
        if (s.randomPlacement)
            return true;
        const int b0 = std::max(0, (g.Top() - reach + cameraMax) / kBucketRows);
        const int b1 = std::min(static_cast<int>(buckets.size()) - 1, (g.Bottom() + reach + cameraMax) / kBucketRows);
        for (int b = b0; b <= b1; ++b)
            for (int other : buckets[static_cast<size_t>(b)])
                if (Conflict(g, placed[static_cast<size_t>(other)], s, movingShifts, maxShift))
                    return false;
        return true;
    };

    // The flow is filled cell by cell, each narrow column cell with its share of the
    // particles: every stretch of the flow then holds nearly the same number, so the
    // particles entering and leaving a frame stay a steady share of all of them.
    const int maxReach = static_cast<int>(std::ceil(s.radiusMax / std::sqrt(0.45))) * 2 + 4;
    const int worldLeft = -upstream - maxReach;
    const int worldRight = s.width - 1 + maxReach + downstream;
    const double perCell = s.density * kCellColumns * acrossExtent / 1.0e4;
    double due = 0.0;
    int particles = 0;
    SizeSequence sizes{rng.uniform(0.0, 1.0)};
    for (int cell = worldLeft; cell <= worldRight; cell += kCellColumns) {
        due += perCell;
        while (particles + 0.5 < due) {
            Group g = MakeGroup(s, rng, sizes);
            const int yLo = kEdgeRows - g.top - cameraMax;
            const int yHi = s.height - 1 - kEdgeRows - g.bottom - cameraMin;
            // Visible in at least one frame: within [-travel - right, width - 1 - left].
            const int xLo = std::max(cell, -upstream - g.right);
            const int xHi = std::min(cell + kCellColumns - 1, s.width - 1 - g.left + downstream);
            bool done = false;
            for (int attempt = 0; attempt < kAttempts && yLo <= yHi && xLo <= xHi; ++attempt) {
                g.x = rng.uniform(xLo, xHi + 1);
                g.y = rng.uniform(yLo, yHi + 1);
                if (fits(g)) {
                    done = true;
                    break;
                }
            }
            // A full cell keeps what it has; its shortfall is not carried on.
            particles += static_cast<int>(g.members.size());
            if (!done)
                continue;
            buckets[static_cast<size_t>(bucketOf(g.y))].push_back(static_cast<int>(placed.size()));
            placed.push_back(std::move(g));
        }
    }

    // Flatten, give speeds, work out entry frames, order and number. The speeds have
    // their own random numbers, so that the places do not depend on them.
    cv::RNG speeds(0x5BEED000ull + s.seed);
    cv::RNG focus(0xDEF0C000ull + s.seed);
    struct Item {
        Particle p;
        int group;
        int partner;  // index in items, -1 for none
    };
    std::vector<Item> items;
    for (size_t gi = 0; gi < placed.size(); ++gi) {
        const Group& g = placed[gi];
        const int first = static_cast<int>(items.size());
        for (size_t m = 0; m < g.members.size(); ++m) {
            Item it{g.members[m], static_cast<int>(gi), -1};
            it.p.x0 = g.x + g.offsets[m].x;
            it.p.y = g.y + g.offsets[m].y;
            const cv::Moments mo = it.p.coverage.empty() ? cv::moments(it.p.stamp, true) : cv::moments(it.p.coverage);
            it.p.centroid = cv::Point2d(it.p.x0 - it.p.stamp.cols / 2 + mo.m10 / mo.m00,
                                        it.p.y - it.p.stamp.rows / 2 + mo.m01 / mo.m00);
            it.p.unionArea = g.area;
            it.p.across = it.p.centroid.y;
            it.p.speedFactor = ProfileFactor(s, it.p.across);
            if (s.speedSpread > 0.0)
                it.p.speedFactor *= 1.0 + speeds.uniform(-s.speedSpread, s.speedSpread);
            if (s.defocusMax > 0.0)
                it.p.defocus = focus.uniform(s.defocusMin, s.defocusMax);
            const cv::Rect box = StampBox(it.p.stamp, cv::Point(it.p.x0, it.p.y));
            it.p.entryFrame = EntryFrame(s, travel, it.p, box.x, box.br().x - 1, box.y, box.br().y - 1);
            if (it.p.entryFrame >= 0)
                it.p.entryX = it.p.x0 + static_cast<int>(std::lround(
                                            it.p.speedFactor * travel.offsets[static_cast<size_t>(it.p.entryFrame)]));
            items.push_back(it);
        }
        if (g.members.size() == 2) {
            items[static_cast<size_t>(first)].partner = first + 1;
            items[static_cast<size_t>(first) + 1].partner = first;
        }
    }
    std::vector<int> order(items.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const Particle& pa = items[static_cast<size_t>(a)].p;
        const Particle& pb = items[static_cast<size_t>(b)].p;
        const int ea = pa.entryFrame < 0 ? 1 << 30 : pa.entryFrame;
        const int eb = pb.entryFrame < 0 ? 1 << 30 : pb.entryFrame;
        if (ea != eb)
            return ea < eb;
        if (pa.x0 != pb.x0)
            return pa.x0 > pb.x0;
        return pa.y < pb.y;
    });
    std::vector<int> idOf(items.size());
    for (size_t k = 0; k < order.size(); ++k)
        idOf[static_cast<size_t>(order[k])] = static_cast<int>(k);
    std::vector<Particle> result;
    result.reserve(items.size());
    for (size_t k = 0; k < order.size(); ++k) {
        const Item& it = items[static_cast<size_t>(order[k])];
        Particle p = it.p;
        p.id = static_cast<int>(k);
        p.touchId = it.partner < 0 ? -1 : idOf[static_cast<size_t>(it.partner)];
        result.push_back(std::move(p));
    }
    if (s.randomPlacement)
        LinkRegions(result);
    return result;
}

}  // namespace flowgen::detail
