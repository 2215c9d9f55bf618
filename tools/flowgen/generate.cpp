// GenerateFlow: the shifts completed, the particles placed on a rightward flow and turned
// into the flow's direction, the camera, the flicker and the static spots.

#include "tools/flowgen/flowgen_internal.h"

#include <algorithm>

namespace flowgen {

namespace {

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

}  // namespace

Flow GenerateFlow(const FlowSettings& settings)
{
    Flow flow;
    flow.settings = settings;
    const FlowSettings& s = flow.settings;
    // The shifts as given run along the flow, whatever its direction.
    flow.shifts = CompleteShifts(s);
    flow.offsets.assign(flow.shifts.size(), 0);
    for (size_t t = 1; t < flow.shifts.size(); ++t)
        flow.offsets[t] = flow.offsets[t - 1] + flow.shifts[t];
    const int frames = static_cast<int>(flow.shifts.size());
    flow.camera = detail::CameraOffsets(s, frames);
    flow.gains = detail::FlickerGains(s, frames);

    // Placed as a rightward flow on a frame with the flow's axis along its width.
    FlowSettings canonical = s;
    canonical.rightToLeft = false;
    canonical.direction = Direction::kRight;
    canonical.width = AlongExtent(s);
    canonical.height = AcrossExtent(s);
    detail::Travel travel;
    travel.offsets = flow.offsets;
    travel.camera = flow.camera;
    travel.fastest = std::max(1.0, s.wallShare) * (1.0 + std::max(0.0, s.speedSpread));
    flow.particles = detail::PlaceParticles(canonical, flow.shifts, travel);
    if (DrawsByShares(s) || s.turnMaxDeg > 0.0)
        detail::ShadeParticles(flow.particles, canonical, travel);
    detail::OrientFlow(flow);
    flow.spots = detail::MakeSpots(s);
    return flow;
}

}  // namespace flowgen
