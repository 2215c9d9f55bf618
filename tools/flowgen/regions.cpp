// Which particles form one region (their drawn pixels touch or overlap), at their places
// of the placement and in a given frame, and what each region shows in a frame.

#include "tools/flowgen/flowgen_internal.h"

#include <algorithm>
#include <map>

namespace flowgen {

namespace detail {

int Root(std::vector<int>& parent, int i)
{
    while (parent[static_cast<size_t>(i)] != i) {
        parent[static_cast<size_t>(i)] = parent[static_cast<size_t>(parent[static_cast<size_t>(i)])];
        i = parent[static_cast<size_t>(i)];
    }
    return i;
}

namespace {

// Joins the regions of stamps at the given places whose pixels touch; `parent` by index
// into the lists, each root the lowest index of its region.
void JoinTouching(const std::vector<const cv::Mat*>& stamps, const std::vector<cv::Point>& centres,
                  std::vector<int>& parent)
{
    const int n = static_cast<int>(stamps.size());
    std::vector<cv::Rect> boxes;
    for (int i = 0; i < n; ++i)
        boxes.push_back(StampBox(*stamps[static_cast<size_t>(i)], centres[static_cast<size_t>(i)]));
    std::vector<int> byLeft(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        byLeft[static_cast<size_t>(i)] = i;
    std::sort(byLeft.begin(), byLeft.end(), [&](int a, int b) { return boxes[size_t(a)].x < boxes[size_t(b)].x; });
    for (size_t k = 0; k < byLeft.size(); ++k) {
        const size_t i = static_cast<size_t>(byLeft[k]);
        const cv::Rect& bi = boxes[i];
        for (size_t m = k + 1; m < byLeft.size() && boxes[size_t(byLeft[m])].x <= bi.x + bi.width; ++m) {
            const size_t j = static_cast<size_t>(byLeft[m]);
            if (PixelsTouch(*stamps[i], centres[i], *stamps[j], centres[j])) {
                const int ri = Root(parent, static_cast<int>(i));
                const int rj = Root(parent, static_cast<int>(j));
                parent[static_cast<size_t>(std::max(ri, rj))] = std::min(ri, rj);
            }
        }
    }
}

}  // namespace

void LinkRegions(std::vector<Particle>& particles)
{
    const int n = static_cast<int>(particles.size());
    std::vector<const cv::Mat*> stamps;
    std::vector<cv::Point> centres;
    for (const Particle& p : particles) {
        stamps.push_back(&p.stamp);
        centres.emplace_back(p.x0, p.y);
    }
    std::vector<int> parent(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        parent[static_cast<size_t>(i)] = i;
    JoinTouching(stamps, centres, parent);
    std::map<int, std::vector<int>> regions;
    for (int i = 0; i < n; ++i)
        regions[Root(parent, i)].push_back(i);  // ascending ids
    for (const auto& [root, ids] : regions) {
        if (ids.size() < 2) {
            particles[static_cast<size_t>(root)].touchId = -1;
            particles[static_cast<size_t>(root)].unionArea = particles[static_cast<size_t>(root)].area;
            continue;
        }
        cv::Rect all = StampBox(particles[size_t(ids[0])].stamp, centres[size_t(ids[0])]);
        for (int id : ids)
            all |= StampBox(particles[size_t(id)].stamp, centres[size_t(id)]);
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

}  // namespace detail

using detail::Root;

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

std::vector<int> RegionKeysInFrame(const Flow& flow, int t)
{
    if (IsRigid(flow))
        return RegionKeys(flow);
    // Particles within a pixel of the frame, as they lie in frame t.
    const cv::Rect near(-1, -1, flow.settings.width + 2, flow.settings.height + 2);
    std::vector<int> ids;
    std::vector<ParticleView> views;
    for (const Particle& p : flow.particles) {
        ParticleView view = ViewInFrame(flow, p, t);
        if ((view.box & near).empty())
            continue;
        ids.push_back(p.id);
        views.push_back(std::move(view));
    }
    std::vector<const cv::Mat*> stamps;
    std::vector<cv::Point> centres;
    for (const ParticleView& view : views) {
        stamps.push_back(&view.stamp);
        centres.push_back(view.centre);
    }
    std::vector<int> parent(ids.size());
    for (size_t i = 0; i < parent.size(); ++i)
        parent[i] = static_cast<int>(i);
    detail::JoinTouching(stamps, centres, parent);
    std::vector<int> keys(flow.particles.size());
    for (size_t i = 0; i < keys.size(); ++i)
        keys[i] = static_cast<int>(i);
    for (size_t i = 0; i < ids.size(); ++i)
        keys[static_cast<size_t>(ids[i])] = ids[static_cast<size_t>(Root(parent, static_cast<int>(i)))];
    return keys;
}

std::vector<VisibleGroup> GroupsInFrame(const Flow& flow, int t)
{
    const FlowSettings& s = flow.settings;
    const std::vector<int> keys = RegionKeysInFrame(flow, t);
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
        std::vector<cv::Point> centres;
        std::vector<cv::Mat> stamps;
        for (const Particle* p : members[g]) {
            const cv::Point c = StampCentre(flow, *p, t);
            const cv::Mat stamp = p->poses.empty() ? p->stamp : ViewInFrame(flow, *p, t).stamp;
            centres.push_back(c);
            stamps.push_back(stamp);
            x0 = std::min(x0, c.x - stamp.cols / 2);
            x1 = std::max(x1, c.x + stamp.cols / 2);
            y0 = std::min(y0, c.y - stamp.rows / 2);
            y1 = std::max(y1, c.y + stamp.rows / 2);
        }
        if (x1 < 0 || x0 >= s.width || y1 < 0 || y0 >= s.height)
            continue;
        cv::Mat canvas = cv::Mat::zeros(y1 - y0 + 1, x1 - x0 + 1, CV_8UC1);
        for (size_t m = 0; m < members[g].size(); ++m)
            DrawStamp(canvas, stamps[m], centres[m].x - x0, centres[m].y - y0, 1);
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

}  // namespace flowgen
