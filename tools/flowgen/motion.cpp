// How the particles move: the flow's direction, speeds across the channel, the camera,
// and where a particle is in each frame.

#include "tools/flowgen/flowgen_internal.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace flowgen {

Direction DirectionOf(const FlowSettings& settings)
{
    return settings.rightToLeft ? Direction::kLeft : settings.direction;
}

bool IsVertical(const FlowSettings& settings)
{
    const Direction d = DirectionOf(settings);
    return d == Direction::kDown || d == Direction::kUp;
}

int AxisSign(const FlowSettings& settings)
{
    const Direction d = DirectionOf(settings);
    return d == Direction::kLeft || d == Direction::kUp ? -1 : 1;
}

int AlongExtent(const FlowSettings& settings)
{
    return IsVertical(settings) ? settings.height : settings.width;
}

int AcrossExtent(const FlowSettings& settings)
{
    return IsVertical(settings) ? settings.width : settings.height;
}

double ProfileFactor(const FlowSettings& settings, double across)
{
    const double w = settings.wallShare;
    const double extent = AcrossExtent(settings);
    switch (settings.profile) {
    case Profile::kFlat:
        break;
    case Profile::kParabolic: {
        // The walls lie half a pixel outside the first and the last row.
        const double r = std::clamp((across - 0.5 * (extent - 1.0)) / (0.5 * extent), -1.0, 1.0);
        return w + (1.0 - w) * (1.0 - r * r);
    }
    case Profile::kLinear:
        return w + (1.0 - w) * std::clamp((across + 0.5) / extent, 0.0, 1.0);
    }
    return 1.0;
}

bool IsRigid(const Flow& flow)
{
    for (const Particle& p : flow.particles)
        if (p.speedFactor != flow.particles.front().speedFactor || p.turnDeg != 0.0)
            return false;
    return true;
}

int AlongDisplacement(const Flow& flow, const Particle& p, int t)
{
    const int offset = flow.offsets[static_cast<size_t>(t)];
    return p.speedFactor == 1.0 ? offset : static_cast<int>(std::lround(p.speedFactor * offset));
}

cv::Point StampCentre(const Flow& flow, const Particle& p, int t)
{
    const int along = AlongDisplacement(flow, p, t);
    const int across = flow.camera.empty() ? 0 : flow.camera[static_cast<size_t>(t)];
    return IsVertical(flow.settings) ? cv::Point(p.x0 + across, p.y + along) : cv::Point(p.x0 + along, p.y + across);
}

ParticleView ViewInFrame(const Flow& flow, const Particle& p, int t)
{
    ParticleView view;
    view.centre = StampCentre(flow, p, t);
    view.trueArea = p.trueArea;
    const int pose = t - p.firstPose;
    if (pose >= 0 && pose < static_cast<int>(p.poses.size())) {
        const Pose& turned = p.poses[static_cast<size_t>(pose)];
        view.stamp = turned.stamp;
        view.coverage = turned.coverage;
        view.darkness = turned.darkness;
        view.box = detail::StampBox(view.stamp, view.centre);
        view.centroid = cv::Point2d(view.centre.x, view.centre.y) + turned.centroid;
        view.area = cv::countNonZero(view.stamp);
        return view;
    }
    view.stamp = p.stamp;
    view.coverage = p.coverage;
    view.darkness = p.darkness;
    view.box = detail::StampBox(p.stamp, view.centre);
    const cv::Point moved = view.centre - cv::Point(p.x0, p.y);
    view.centroid = p.centroid + cv::Point2d(moved.x, moved.y);
    view.area = p.area;
    return view;
}

double ParticleSpeed(const Flow& flow, const Particle& p)
{
    if (flow.shifts.size() < 2)
        return 0.0;
    double sum = 0.0;
    for (size_t t = 1; t < flow.shifts.size(); ++t)
        sum += flow.shifts[t];
    return p.speedFactor * AxisSign(flow.settings) * sum / static_cast<double>(flow.shifts.size() - 1);
}

namespace detail {

std::vector<int> CameraOffsets(const FlowSettings& s, int frames)
{
    std::vector<int> camera(static_cast<size_t>(frames), 0);
    for (int t = 0; t < frames; ++t) {
        int c = 0;
        if (t % 2 == 1)
            c += (t / 2) % 2 == 0 ? s.shake : -s.shake;
        c += static_cast<int>(std::lround(s.tilt * t));
        if (s.joltFrame >= 0 && t >= s.joltFrame)
            c += s.jolt;
        camera[static_cast<size_t>(t)] = c;
    }
    return camera;
}

std::vector<double> FlickerGains(const FlowSettings& s, int frames)
{
    std::vector<double> gains(static_cast<size_t>(frames), 1.0);
    if (s.flicker <= 0.0)
        return gains;
    cv::RNG rng(0xF11C4000ull + s.seed);
    for (double& gain : gains)
        gain = 1.0 + rng.uniform(-s.flicker, s.flicker);
    return gains;
}

cv::Mat Oriented(const cv::Mat& m, Direction direction)
{
    if (m.empty() || direction == Direction::kRight)
        return m;
    cv::Mat out;
    if (direction == Direction::kLeft || direction == Direction::kUp)
        cv::flip(m, out, 1);  // odd width: the centre column stays
    else
        out = m;
    if (direction == Direction::kDown || direction == Direction::kUp)
        cv::transpose(out, out);
    return out;
}

void OrientFlow(Flow& flow)
{
    const Direction direction = DirectionOf(flow.settings);
    if (direction == Direction::kRight)
        return;
    const bool vertical = direction == Direction::kDown || direction == Direction::kUp;
    const bool back = direction == Direction::kLeft || direction == Direction::kUp;
    const int last = AlongExtent(flow.settings) - 1;
    if (back) {
        for (int& shift : flow.shifts)
            shift = -shift;
        for (int& offset : flow.offsets)
            offset = -offset;
    }
    for (Particle& p : flow.particles) {
        p.coverage = Oriented(p.coverage, direction);
        p.darkness = Oriented(p.darkness, direction);
        for (Pose& pose : p.poses) {
            pose.stamp = Oriented(pose.stamp, direction);
            pose.coverage = Oriented(pose.coverage, direction);
            pose.darkness = Oriented(pose.darkness, direction);
            if (back)
                pose.centroid.x = -pose.centroid.x;
            if (vertical)
                std::swap(pose.centroid.x, pose.centroid.y);
        }
        // Built rightward: x0 runs along the flow, y across it.
        if (back) {
            cv::flip(p.stamp, p.stamp, 1);  // odd width: the centre column stays
            p.x0 = last - p.x0;
            p.centroid.x = last - p.centroid.x;
            p.entryX = last - p.entryX;
            if (p.ellipse)
                p.angleDeg = std::fmod(180.0 - p.angleDeg, 180.0);
        }
        if (!vertical)
            continue;
        // Along becomes the rows, across the columns: the transpose of the (mirrored)
        // flow, which for a flow running back is the upward one.
        cv::transpose(p.stamp, p.stamp);
        std::swap(p.x0, p.y);
        std::swap(p.centroid.x, p.centroid.y);
        p.entryX = p.entryFrame >= 0 ? p.x0 + flow.camera[static_cast<size_t>(p.entryFrame)] : p.x0;
        if (p.ellipse)
            p.angleDeg = std::fmod(90.0 - p.angleDeg + 180.0, 180.0);
    }
}

}  // namespace detail

}  // namespace flowgen
