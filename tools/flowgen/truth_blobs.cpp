#include "tools/flowgen/truth_blobs.h"

#include "toolkit/particle_measure.h"

#include <opencv2/imgproc.hpp>

#include <map>

namespace flowgen {

namespace {

// Frame box of a particle's drawn pixels in frame t.
cv::Rect FrameBox(const Particle& p, int offset)
{
    const cv::Rect box = cv::boundingRect(p.stamp);
    return cv::Rect(p.x0 + offset - p.stamp.cols / 2 + box.x, p.y - p.stamp.rows / 2 + box.y, box.width, box.height);
}

ParticleBlob BlobOf(const std::vector<const Particle*>& members, int offset, const cv::Rect& frame)
{
    cv::Rect all = FrameBox(*members[0], offset);
    for (const Particle* p : members)
        all |= FrameBox(*p, offset);
    const cv::Rect visible = all & frame;
    cv::Mat mask = cv::Mat::zeros(visible.size(), CV_8UC1);
    for (const Particle* p : members)
        DrawStamp(mask, p->stamp, p->x0 + offset - visible.x, p->y - visible.y, 1);
    ParticleBlob blob;
    const cv::Moments m = cv::moments(mask, true);
    blob.maskArea = static_cast<int>(m.m00);
    blob.area = blob.maskArea;
    blob.centroid = cv::Point2d(visible.x + m.m10 / m.m00, visible.y + m.m01 / m.m00);
    blob.box = cv::boundingRect(mask) + visible.tl();
    blob.touchesBorder =
        blob.box.x == 0 || blob.box.y == 0 || blob.box.br().x == frame.width || blob.box.br().y == frame.height;
    ComputeShapeFactors(mask, blob.ratio, blob.circularity);
    return blob;
}

}  // namespace

ParticleBlobs TruthBlobs(const Flow& flow, int t, TruthSplit split)
{
    const int offset = flow.offsets[static_cast<size_t>(t)];
    const cv::Rect frame(0, 0, flow.settings.width, flow.settings.height);
    const std::vector<int> keys = RegionKeys(flow);
    std::map<int, std::vector<const Particle*>> regions;  // by lowest id
    for (const Particle& p : flow.particles)
        if (!(FrameBox(p, offset) & frame).empty())
            regions[keys[static_cast<size_t>(p.id)]].push_back(&p);
    ParticleBlobs blobs;
    for (const auto& [key, members] : regions) {
        if (split == TruthSplit::kMerged) {
            blobs.push_back(BlobOf(members, offset, frame));
            continue;
        }
        for (const Particle* p : members) {
            blobs.push_back(BlobOf({p}, offset, frame));
            blobs.back().group = members.size() > 1 ? key : -1;
        }
    }
    return blobs;
}

bool WhollyInsideSomeFrame(const Flow& flow, const Particle& particle, int margin)
{
    const cv::Rect frame(margin, margin, flow.settings.width - 2 * margin, flow.settings.height - 2 * margin);
    for (int offset : flow.offsets) {
        const cv::Rect box = FrameBox(particle, offset);
        if ((box & frame) == box)
            return true;
    }
    return false;
}

TruthCounts CountTruth(const Flow& flow, int minArea, int maxArea, int margin)
{
    TruthCounts counts;
    for (const Particle& p : flow.particles) {
        if (!WhollyInsideSomeFrame(flow, p, margin))
            continue;
        if (p.area < minArea)
            ++counts.smaller;
        else if (p.area > maxArea)
            ++counts.bigger;
        else
            ++counts.inRange;
    }
    return counts;
}

}  // namespace flowgen
