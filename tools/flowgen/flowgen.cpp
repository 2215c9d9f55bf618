#include "tools/flowgen/flowgen.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace flowgen {

namespace {

constexpr double kPi = 3.14159265358979323846;
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

Particle MakeParticle(const FlowSettings& s, cv::RNG& rng, SizeSequence& sizes)
{
    Particle p;
    // Log-uniform area: as many small as large particles on a log scale.
    const double aMin = kPi * s.radiusMin * s.radiusMin;
    const double aMax = kPi * s.radiusMax * s.radiusMax;
    const double area = std::exp(std::log(aMin) + sizes.Next() * (std::log(aMax) - std::log(aMin)));
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
    return p;
}

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
    g.members.push_back(MakeParticle(s, rng, sizes));
    g.offsets.push_back(cv::Point(0, 0));
    const double pairShare = s.touchingShare / (2.0 - s.touchingShare);
    if (rng.uniform(0.0, 1.0) < pairShare) {
        g.members.push_back(MakeParticle(s, rng, sizes));
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

std::vector<int> CompleteShifts(const FlowSettings& s)
{
    std::vector<int> shifts = s.shifts;
    if (shifts.empty())
        shifts = ConstantShifts(s.frames, 160);
    const int last = shifts.size() > 1 ? shifts.back() : 160;
    shifts.resize(static_cast<size_t>(std::max(s.frames, 1)), last);
    shifts[0] = 0;
    return shifts;
}

cv::Rect WorldBox(const Particle& p)
{
    const cv::Rect box = cv::boundingRect(p.stamp);
    return cv::Rect(p.x0 - p.stamp.cols / 2 + box.x, p.y - p.stamp.rows / 2 + box.y, box.width, box.height);
}

// Paints a stamp where it is darker than what is there already: where particles
// overlap, the darker one shows.
void DrawStampDarker(cv::Mat& image, const cv::Mat& stamp, int cx, int cy, int grey)
{
    const uchar value = cv::saturate_cast<uchar>(grey);
    for (int r = 0; r < stamp.rows; ++r) {
        const int y = cy - stamp.rows / 2 + r;
        if (y < 0 || y >= image.rows)
            continue;
        const uchar* sp = stamp.ptr<uchar>(r);
        uchar* ip = image.ptr<uchar>(y);
        for (int k = 0; k < stamp.cols; ++k) {
            const int x = cx - stamp.cols / 2 + k;
            if (sp[k] && x >= 0 && x < image.cols)
                ip[x] = std::min(ip[x], value);
        }
    }
}

// Union-find root with path halving.
int Root(std::vector<int>& parent, int i)
{
    while (parent[static_cast<size_t>(i)] != i) {
        parent[static_cast<size_t>(i)] = parent[static_cast<size_t>(parent[static_cast<size_t>(i)])];
        i = parent[static_cast<size_t>(i)];
    }
    return i;
}

// True when the drawn pixels of a and b touch or overlap (8-connected).
bool PixelsTouch(const Particle& a, const Particle& b)
{
    const cv::Rect ba = WorldBox(a);
    const cv::Rect bb = WorldBox(b);
    const cv::Rect grown(ba.x - 1, ba.y - 1, ba.width + 2, ba.height + 2);
    const cv::Rect common = grown & bb;
    if (common.empty())
        return false;
    const cv::Rect all = grown | bb;
    cv::Mat ma = cv::Mat::zeros(all.size(), CV_8UC1);
    cv::Mat mb = cv::Mat::zeros(all.size(), CV_8UC1);
    DrawStamp(ma, a.stamp, a.x0 - all.x, a.y - all.y, 1);
    DrawStamp(mb, b.stamp, b.x0 - all.x, b.y - all.y, 1);
    cv::dilate(ma, ma, cv::Mat::ones(3, 3, CV_8UC1));
    return cv::countNonZero(ma & mb) > 0;
}

// Regions of randomly placed particles: touchId = the lowest other id of the region,
// unionArea = the region's pixels.
void LinkRegions(std::vector<Particle>& particles)
{
    const int n = static_cast<int>(particles.size());
    std::vector<int> byLeft(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        byLeft[static_cast<size_t>(i)] = i;
    std::vector<cv::Rect> boxes;
    for (const Particle& p : particles)
        boxes.push_back(WorldBox(p));
    std::sort(byLeft.begin(), byLeft.end(), [&](int a, int b) { return boxes[size_t(a)].x < boxes[size_t(b)].x; });
    std::vector<int> parent(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        parent[static_cast<size_t>(i)] = i;
    for (size_t k = 0; k < byLeft.size(); ++k) {
        const int i = byLeft[k];
        const cv::Rect& bi = boxes[static_cast<size_t>(i)];
        for (size_t m = k + 1; m < byLeft.size() && boxes[size_t(byLeft[m])].x <= bi.x + bi.width; ++m) {
            const int j = byLeft[m];
            if (PixelsTouch(particles[static_cast<size_t>(i)], particles[static_cast<size_t>(j)])) {
                const int ri = Root(parent, i);
                const int rj = Root(parent, j);
                parent[static_cast<size_t>(std::max(ri, rj))] = std::min(ri, rj);
            }
        }
    }
    std::map<int, std::vector<int>> regions;
    for (int i = 0; i < n; ++i)
        regions[Root(parent, i)].push_back(i);  // ascending ids
    for (const auto& [root, ids] : regions) {
        if (ids.size() < 2) {
            particles[static_cast<size_t>(root)].touchId = -1;
            particles[static_cast<size_t>(root)].unionArea = particles[static_cast<size_t>(root)].area;
            continue;
        }
        cv::Rect all = boxes[static_cast<size_t>(ids[0])];
        for (int id : ids)
            all |= boxes[static_cast<size_t>(id)];
        cv::Mat canvas = cv::Mat::zeros(all.size(), CV_8UC1);
        for (int id : ids)
            DrawStamp(canvas, particles[size_t(id)].stamp, particles[size_t(id)].x0 - all.x,
                      particles[size_t(id)].y - all.y, 1);
        const int unionArea = cv::countNonZero(canvas);
        for (int id : ids) {
            Particle& p = particles[static_cast<size_t>(id)];
            p.touchId = id == ids[0] ? ids[1] : ids[0];
            p.unionArea = unionArea;
        }
    }
}

// The same flow seen in a mirror: it runs right to left.
void MirrorFlow(Flow& flow)
{
    const int last = flow.settings.width - 1;
    for (int& shift : flow.shifts)
        shift = -shift;
    for (int& offset : flow.offsets)
        offset = -offset;
    for (Particle& p : flow.particles) {
        cv::flip(p.stamp, p.stamp, 1);  // odd width: the centre column stays
        p.x0 = last - p.x0;
        p.centroid.x = last - p.centroid.x;
        p.entryX = last - p.entryX;
        if (p.ellipse)
            p.angleDeg = std::fmod(180.0 - p.angleDeg, 180.0);
    }
}

}  // namespace

std::vector<int> ConstantShifts(int frames, int shift)
{
    std::vector<int> shifts(static_cast<size_t>(std::max(frames, 1)), shift);
    shifts[0] = 0;
    return shifts;
}

std::vector<int> PatternShifts(int frames, const std::vector<int>& pattern)
{
    std::vector<int> shifts(static_cast<size_t>(std::max(frames, 1)), 0);
    if (pattern.empty())
        return shifts;
    for (size_t t = 1; t < shifts.size(); ++t)
        shifts[t] = pattern[(t - 1) % pattern.size()];
    return shifts;
}

std::vector<int> RandomShifts(int frames, int lo, int hi, double zeroShare, unsigned seed)
{
    cv::RNG rng(0x5EED5EEDull ^ (static_cast<uint64_t>(seed) << 20));
    std::vector<int> shifts(static_cast<size_t>(std::max(frames, 1)), 0);
    for (size_t t = 1; t < shifts.size(); ++t) {
        const bool still = rng.uniform(0.0, 1.0) < zeroShare;
        const int shift = rng.uniform(lo, hi + 1);
        shifts[t] = still ? 0 : shift;
    }
    return shifts;
}

std::vector<int> JitteredShifts(int frames, int shift, double jitter, double zeroShare, unsigned seed)
{
    cv::RNG rng(0x717E4000ull ^ (static_cast<uint64_t>(seed) << 20));
    std::vector<int> shifts(static_cast<size_t>(std::max(frames, 1)), 0);
    for (size_t t = 1; t < shifts.size(); ++t) {
        const bool still = rng.uniform(0.0, 1.0) < zeroShare;
        const double u = rng.uniform(-jitter, jitter);
        shifts[t] = still ? 0 : std::max(0, static_cast<int>(std::lround(shift * (1.0 + u))));
    }
    return shifts;
}

cv::Mat MakeEllipseStamp(double a, double b, double angleDeg, double fx, double fy)
{
    const int h = static_cast<int>(std::ceil(std::max(a, b))) + 1;
    cv::Mat stamp = cv::Mat::zeros(2 * h + 1, 2 * h + 1, CV_8UC1);
    const double c = std::cos(angleDeg * kPi / 180.0);
    const double sn = std::sin(angleDeg * kPi / 180.0);
    for (int r = 0; r < stamp.rows; ++r) {
        for (int k = 0; k < stamp.cols; ++k) {
            const double dx = k - h - fx;
            const double dy = r - h - fy;
            const double u = (dx * c + dy * sn) / a;
            const double v = (-dx * sn + dy * c) / b;
            if (u * u + v * v <= 1.0)
                stamp.at<uchar>(r, k) = 1;
        }
    }
    stamp.at<uchar>(h, h) = 1;  // never empty
    return stamp;
}

Flow GenerateFlow(const FlowSettings& settings)
{
    Flow flow;
    flow.settings = settings;
    const FlowSettings& s = flow.settings;
    flow.shifts = CompleteShifts(s);
    flow.offsets.assign(flow.shifts.size(), 0);
    for (size_t t = 1; t < flow.shifts.size(); ++t)
        flow.offsets[t] = flow.offsets[t - 1] + flow.shifts[t];
    const int travel = flow.offsets.back();

    std::set<int> moving;
    for (int shift : flow.shifts)
        if (shift != 0)
            moving.insert(shift);
    const std::vector<int> movingShifts(moving.begin(), moving.end());
    const int maxShift = moving.empty() ? 0 : *moving.rbegin();

    cv::RNG rng(0xF10A0000ull + settings.seed);
    std::vector<Group> placed;
    std::vector<std::vector<int>> buckets(static_cast<size_t>(s.height / kBucketRows + 1));
    // Rows from a group's edge to the centre of any group it could clash with.
    const int reach =
        2 * (static_cast<int>(std::ceil(s.radiusMax / std::sqrt(0.45))) + 4) + kGap + kPairRows + kBucketRows;
    auto fits = [&](const Group& g) {
        if (s.randomPlacement)
            return true;
        const int b0 = std::max(0, (g.Top() - reach) / kBucketRows);
        const int b1 = std::min(static_cast<int>(buckets.size()) - 1, (g.Bottom() + reach) / kBucketRows);
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
    const int worldLeft = -travel - maxReach;
    const int worldRight = s.width - 1 + maxReach;
    const double perCell = s.density * kCellColumns * s.height / 1.0e4;
    double due = 0.0;
    int particles = 0;
    SizeSequence sizes{rng.uniform(0.0, 1.0)};
    for (int cell = worldLeft; cell <= worldRight; cell += kCellColumns) {
        due += perCell;
        while (particles + 0.5 < due) {
            Group g = MakeGroup(s, rng, sizes);
            const int yLo = kEdgeRows - g.top;
            const int yHi = s.height - 1 - kEdgeRows - g.bottom;
            // Visible in at least one frame: within [-travel - right, width - 1 - left].
            const int xLo = std::max(cell, -travel - g.right);
            const int xHi = std::min(cell + kCellColumns - 1, s.width - 1 - g.left);
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
            buckets[static_cast<size_t>(std::clamp(g.y / kBucketRows, 0, static_cast<int>(buckets.size()) - 1))]
                .push_back(static_cast<int>(placed.size()));
            placed.push_back(std::move(g));
        }
    }

    // Flatten, work out entry frames, order and number.
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
            const cv::Moments mo = cv::moments(it.p.stamp, true);
            it.p.centroid = cv::Point2d(it.p.x0 - it.p.stamp.cols / 2 + mo.m10 / mo.m00,
                                        it.p.y - it.p.stamp.rows / 2 + mo.m01 / mo.m00);
            it.p.unionArea = g.area;
            const cv::Rect box = cv::boundingRect(it.p.stamp);
            const int left = it.p.x0 - it.p.stamp.cols / 2 + box.x;
            const int right = left + box.width - 1;
            for (size_t t = 0; t < flow.offsets.size(); ++t) {
                if (right + flow.offsets[t] >= 0 && left + flow.offsets[t] <= s.width - 1) {
                    it.p.entryFrame = static_cast<int>(t);
                    it.p.entryX = it.p.x0 + flow.offsets[t];
                    break;
                }
            }
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
    for (size_t k = 0; k < order.size(); ++k) {
        const Item& it = items[static_cast<size_t>(order[k])];
        Particle p = it.p;
        p.id = static_cast<int>(k);
        p.touchId = it.partner < 0 ? -1 : idOf[static_cast<size_t>(it.partner)];
        flow.particles.push_back(std::move(p));
    }
    if (s.randomPlacement)
        LinkRegions(flow.particles);
    if (s.rightToLeft)
        MirrorFlow(flow);
    return flow;
}

void DrawStamp(cv::Mat& image, const cv::Mat& stamp, int cx, int cy, int grey)
{
    const int h = stamp.rows / 2;
    const int w = stamp.cols / 2;
    const uchar value = cv::saturate_cast<uchar>(grey);
    for (int r = 0; r < stamp.rows; ++r) {
        const int y = cy - h + r;
        if (y < 0 || y >= image.rows)
            continue;
        const uchar* sp = stamp.ptr<uchar>(r);
        uchar* ip = image.ptr<uchar>(y);
        for (int k = 0; k < stamp.cols; ++k) {
            const int x = cx - w + k;
            if (sp[k] && x >= 0 && x < image.cols)
                ip[x] = value;
        }
    }
}

cv::Mat RenderFrame(const Flow& flow, int t)
{
    const FlowSettings& s = flow.settings;
    // The sharp frame with a margin wide enough for the blur to bring in the darkness
    // of particles just outside the frame.
    const int pad = s.blurSigma > 0.0 ? static_cast<int>(std::ceil(4.0 * s.blurSigma)) + 1 : 0;
    cv::Mat sharp(s.height + 2 * pad, s.width + 2 * pad, CV_8UC1, cv::Scalar(s.background));
    const int offset = flow.offsets[static_cast<size_t>(t)];
    for (const Particle& p : flow.particles) {
        const int cx = p.x0 + offset;
        if (cx + p.stamp.cols / 2 < -pad || cx - p.stamp.cols / 2 >= s.width + pad)
            continue;
        DrawStampDarker(sharp, p.stamp, cx + pad, p.y + pad, p.grey);
    }
    const cv::Rect frameRect(pad, pad, s.width, s.height);
    if (s.noise <= 0.0 && pad == 0 && s.gradient == 0.0)
        return sharp;
    cv::Mat sum;
    sharp.convertTo(sum, CV_32F);
    if (pad > 0)
        cv::GaussianBlur(sum, sum, cv::Size(0, 0), s.blurSigma, s.blurSigma, cv::BORDER_REPLICATE);
    sum = sum(frameRect).clone();
    if (s.gradient != 0.0) {
        const double c = std::cos(s.gradientAngleDeg * kPi / 180.0);
        const double sn = std::sin(s.gradientAngleDeg * kPi / 180.0);
        const double extent = std::max(1.0, std::abs((s.width - 1) * c) + std::abs((s.height - 1) * sn));
        for (int y = 0; y < sum.rows; ++y) {
            float* row = sum.ptr<float>(y);
            for (int x = 0; x < sum.cols; ++x) {
                const double along = ((x - 0.5 * (s.width - 1)) * c + (y - 0.5 * (s.height - 1)) * sn) / extent;
                row[x] = static_cast<float>(row[x] * (1.0 + s.gradient * along));
            }
        }
    }
    if (s.noise > 0.0) {
        cv::RNG rng(0x4015E000ull + static_cast<uint64_t>(s.seed) * 7919u + static_cast<uint64_t>(t));
        cv::Mat noise(s.height, s.width, CV_32F);
        rng.fill(noise, cv::RNG::NORMAL, 0.0, s.noise);
        sum += noise;
    }
    cv::Mat frame;
    sum.convertTo(frame, CV_8U);  // rounds and saturates
    return frame;
}

std::vector<int> RegionKeys(const Flow& flow)
{
    // A region is held together by its touchId links.
    std::vector<int> parent(flow.particles.size());
    for (size_t i = 0; i < parent.size(); ++i)
        parent[i] = static_cast<int>(i);
    for (const Particle& p : flow.particles) {
        if (p.touchId < 0)
            continue;
        const int a = Root(parent, p.id);
        const int b = Root(parent, p.touchId);
        parent[static_cast<size_t>(std::max(a, b))] = std::min(a, b);
    }
    for (size_t i = 0; i < parent.size(); ++i)
        parent[i] = Root(parent, static_cast<int>(i));
    return parent;
}

std::vector<VisibleGroup> GroupsInFrame(const Flow& flow, int t)
{
    const FlowSettings& s = flow.settings;
    const int offset = flow.offsets[static_cast<size_t>(t)];
    const std::vector<int> keys = RegionKeys(flow);
    std::map<int, int> slot;  // lowest id of a group -> index in result
    std::vector<VisibleGroup> groups;
    std::vector<std::vector<const Particle*>> members;
    for (const Particle& p : flow.particles) {
        const int key = keys[static_cast<size_t>(p.id)];
        auto it = slot.find(key);
        if (it == slot.end()) {
            it = slot.emplace(key, static_cast<int>(groups.size())).first;
            groups.emplace_back();
            members.emplace_back();
        }
        members[static_cast<size_t>(it->second)].push_back(&p);
    }
    std::vector<VisibleGroup> visible;
    for (size_t g = 0; g < groups.size(); ++g) {
        int x0 = 1 << 30, y0 = 1 << 30, x1 = -(1 << 30), y1 = -(1 << 30);
        for (const Particle* p : members[g]) {
            x0 = std::min(x0, p->x0 + offset - p->stamp.cols / 2);
            x1 = std::max(x1, p->x0 + offset + p->stamp.cols / 2);
            y0 = std::min(y0, p->y - p->stamp.rows / 2);
            y1 = std::max(y1, p->y + p->stamp.rows / 2);
        }
        if (x1 < 0 || x0 >= s.width)
            continue;
        cv::Mat canvas = cv::Mat::zeros(y1 - y0 + 1, x1 - x0 + 1, CV_8UC1);
        for (const Particle* p : members[g])
            DrawStamp(canvas, p->stamp, p->x0 + offset - x0, p->y - y0, 1);
        VisibleGroup vg;
        double sx = 0.0, sy = 0.0;
        int bx0 = 1 << 30, by0 = 1 << 30, bx1 = -(1 << 30), by1 = -(1 << 30);
        for (int r = 0; r < canvas.rows; ++r) {
            for (int c = 0; c < canvas.cols; ++c) {
                if (!canvas.at<uchar>(r, c))
                    continue;
                const int x = x0 + c;
                const int y = y0 + r;
                ++vg.area;
                bx0 = std::min(bx0, x);
                bx1 = std::max(bx1, x);
                by0 = std::min(by0, y);
                by1 = std::max(by1, y);
                if (x < 0 || x >= s.width || y < 0 || y >= s.height)
                    continue;
                ++vg.visibleArea;
                sx += x;
                sy += y;
            }
        }
        if (vg.visibleArea == 0)
            continue;
        for (const Particle* p : members[g])
            vg.ids.push_back(p->id);
        vg.box = cv::Rect(bx0, by0, bx1 - bx0 + 1, by1 - by0 + 1);
        vg.centroid = cv::Point2d(sx / vg.visibleArea, sy / vg.visibleArea);
        vg.fullyInside = vg.visibleArea == vg.area;
        visible.push_back(vg);
    }
    return visible;
}

std::string FrameFileName(int t, int frames, const std::string& extension)
{
    int digits = 4;
    for (int n = 10000; n < frames && digits < 9; n *= 10)
        ++digits;
    char name[64];
    std::snprintf(name, sizeof name, "frame_%0*d.%s", digits, t, extension.c_str());
    return name;
}

bool WriteFlow(const Flow& flow, const std::string& folder, const std::string& extension, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        return fail("cannot create " + folder + ": " + ec.message());
    const int frames = static_cast<int>(flow.shifts.size());
    std::vector<int> params;
    if (extension == "jpg" || extension == "jpeg")
        params = {cv::IMWRITE_JPEG_QUALITY, flow.settings.jpegQuality};
    for (int t = 0; t < frames; ++t) {
        const std::string path = folder + "/" + FrameFileName(t, frames, extension);
        bool written = false;
        try {
            written = cv::imwrite(path, RenderFrame(flow, t), params);
        } catch (const cv::Exception& e) {
            return fail("cannot write " + path + ": " + e.what());
        }
        if (!written)
            return fail("cannot write " + path);
    }

    std::ofstream shifts(folder + "/shifts.csv");
    shifts << "frame,file,shift,offset\n";
    for (int t = 0; t < frames; ++t)
        shifts << t << ',' << FrameFileName(t, frames, extension) << ',' << flow.shifts[static_cast<size_t>(t)] << ','
               << flow.offsets[static_cast<size_t>(t)] << '\n';
    if (!shifts)
        return fail("cannot write shifts.csv");

    std::ofstream parts(folder + "/particles.csv");
    parts << "id,x0,y,entry_frame,entry_x,area,cx0,cy,x_min,x_max,y_min,y_max,"
             "touch_id,union_area,shape,semi_major,semi_minor,angle_deg,grey\n";
    char line[512];
    for (const Particle& p : flow.particles) {
        const cv::Rect box = cv::boundingRect(p.stamp);
        const int left = p.x0 - p.stamp.cols / 2 + box.x;
        const int top = p.y - p.stamp.rows / 2 + box.y;
        std::snprintf(line, sizeof line, "%d,%d,%d,%d,%d,%d,%.3f,%.3f,%d,%d,%d,%d,%d,%d,%s,%.3f,%.3f,%.1f,%d\n", p.id,
                      p.x0, p.y, p.entryFrame, p.entryX, p.area, p.centroid.x, p.centroid.y, left, left + box.width - 1,
                      top, top + box.height - 1, p.touchId, p.unionArea, p.ellipse ? "ellipse" : "disc", p.semiMajor,
                      p.semiMinor, p.angleDeg, p.grey);
        parts << line;
    }
    if (!parts)
        return fail("cannot write particles.csv");
    return true;
}

}  // namespace flowgen
