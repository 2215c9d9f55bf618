#include "tools/flowgen/truth_blobs.h"

#include "toolkit/particle_measure.h"

#include <opencv2/imgproc.hpp>

#include <map>

namespace flowgen {

namespace {

ParticleBlob BlobOf(const std::vector<ParticleView>& members, const cv::Rect& frame)
{
    cv::Rect all = members[0].box;
    for (const ParticleView& v : members)
        all |= v.box;
    const cv::Rect visible = all & frame;
    cv::Mat mask = cv::Mat::zeros(visible.size(), CV_8UC1);
    for (const ParticleView& v : members)
        DrawStamp(mask, v.stamp, v.centre.x - visible.x, v.centre.y - visible.y, 1);
    ParticleBlob blob;
    const cv::Moments m = cv::moments(mask, true);
    blob.maskArea = static_cast<int>(m.m00);
    blob.area = blob.maskArea;
    blob.centroid = cv::Point2d(visible.x + m.m10 / m.m00, visible.y + m.m01 / m.m00);
    blob.box = cv::boundingRect(mask) + visible.tl();
    blob.touchesBorder =
        blob.box.x == 0 || blob.box.y == 0 || blob.box.br().x == frame.width || blob.box.br().y == frame.height;
    ComputeShapeFactors(mask, blob.ratio, blob.circularity);
    bool shares = false;
    for (const ParticleView& v : members)
        shares = shares || !v.coverage.empty();
    if (!shares)
        return blob;
    // Drawn by pixel shares: the area is the covered shares of the visible pixels (where
    // particles overlap, the larger share), the centroid weighted by them.
    cv::Rect reach;
    for (const ParticleView& v : members)
        reach |= cv::Rect(v.centre.x - v.stamp.cols / 2, v.centre.y - v.stamp.rows / 2, v.stamp.cols, v.stamp.rows);
    reach &= frame;
    cv::Mat cover = cv::Mat::zeros(reach.size(), CV_32F);
    cv::Mat binary;
    for (const ParticleView& v : members) {
        if (v.coverage.empty())
            v.stamp.convertTo(binary, CV_32F);
        const cv::Mat& shares32 = v.coverage.empty() ? binary : v.coverage;
        const cv::Rect at(v.centre.x - v.stamp.cols / 2, v.centre.y - v.stamp.rows / 2, v.stamp.cols, v.stamp.rows);
        const cv::Rect common = at & reach;
        cv::Mat target = cover(common - reach.tl());
        cv::max(target, shares32(common - at.tl()), target);
    }
    const cv::Moments c = cv::moments(cover);
    blob.area = c.m00;
    blob.centroid = cv::Point2d(reach.x + c.m10 / c.m00, reach.y + c.m01 / c.m00);
    return blob;
}

}  // namespace

ParticleBlobs TruthBlobs(const Flow& flow, int t, TruthSplit split)
{
    const cv::Rect frame(0, 0, flow.settings.width, flow.settings.height);
    const std::vector<int> keys = RegionKeysInFrame(flow, t);
    std::map<int, std::vector<ParticleView>> regions;  // by lowest id
    for (const Particle& p : flow.particles) {
        ParticleView view = ViewInFrame(flow, p, t);
        if (!(view.box & frame).empty())
            regions[keys[static_cast<size_t>(p.id)]].push_back(std::move(view));
    }
    ParticleBlobs blobs;
    for (const auto& [key, members] : regions) {
        if (split == TruthSplit::kMerged) {
            blobs.push_back(BlobOf(members, frame));
            continue;
        }
        for (const ParticleView& v : members) {
            blobs.push_back(BlobOf({v}, frame));
            blobs.back().group = members.size() > 1 ? key : -1;
        }
    }
    return blobs;
}

bool WhollyInsideSomeFrame(const Flow& flow, const Particle& particle, int margin)
{
    const cv::Rect frame(margin, margin, flow.settings.width - 2 * margin, flow.settings.height - 2 * margin);
    const cv::Rect drawn = cv::boundingRect(particle.stamp) -
                           cv::Point(particle.stamp.cols / 2, particle.stamp.rows / 2);  // around the centre
    for (int t = 0; t < static_cast<int>(flow.offsets.size()); ++t) {
        // A turning particle's stamp changes with its pose.
        const cv::Rect box =
            particle.poses.empty() ? drawn + StampCentre(flow, particle, t) : ViewInFrame(flow, particle, t).box;
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
        if (p.trueArea < minArea)
            ++counts.smaller;
        else if (p.trueArea > maxArea)
            ++counts.bigger;
        else
            ++counts.inRange;
    }
    return counts;
}

}  // namespace flowgen
