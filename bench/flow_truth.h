#pragma once

// The generated truth of one frame beside what a detection found in it: every particle
// with its drawn pixels and the region of touching particles it belongs to, and each
// particle's blob by mutual nearest centroids.

#include "toolkit/particle_blob.h"
#include "tools/flowgen/flowgen.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <vector>

namespace bench {

struct TruthParticle {
    int id = 0;
    cv::Point2d centroid;  // frame coordinates
    double area = 0.0;     // drawn area (the generator's trueArea)
    cv::Rect box;          // of the drawn pixels, frame coordinates
    int regionSize = 1;    // particles of its connected region (1 alone)
    bool whole = false;    // its whole region lies inside the frame, `margin` pixels from the edge
};

inline std::vector<TruthParticle> TruthInFrame(const flowgen::Flow& flow, int t, int margin)
{
    const cv::Rect inner(margin, margin, flow.settings.width - 2 * margin, flow.settings.height - 2 * margin);
    std::vector<TruthParticle> truth;
    for (const flowgen::VisibleGroup& g : flowgen::GroupsInFrame(flow, t))
        for (int id : g.ids) {
            const flowgen::ParticleView view = flowgen::ViewInFrame(flow, flow.particles[static_cast<size_t>(id)], t);
            TruthParticle tp;
            tp.id = id;
            tp.centroid = view.centroid;
            tp.area = view.trueArea;
            tp.box = view.box;
            tp.regionSize = static_cast<int>(g.ids.size());
            tp.whole = (g.box & inner) == g.box;
            truth.push_back(tp);
        }
    return truth;
}

// Index of each truth particle's blob, -1 for none: the blob nearest to it within half
// its equivalent radius (at least 2 pixels) whose nearest particle it is in turn.
inline std::vector<int> MatchBlobs(const std::vector<TruthParticle>& truth, const ParticleBlobs& blobs)
{
    std::vector<int> match(truth.size(), -1);
    for (size_t i = 0; i < truth.size(); ++i) {
        double best = std::max(2.0, 0.5 * std::sqrt(truth[i].area / CV_PI));
        for (size_t b = 0; b < blobs.size(); ++b) {
            const double d = cv::norm(blobs[b].centroid - truth[i].centroid);
            if (d < best)
                best = d, match[i] = static_cast<int>(b);
        }
        if (match[i] < 0)
            continue;
        const cv::Point2d at = blobs[static_cast<size_t>(match[i])].centroid;
        for (size_t j = 0; j < truth.size(); ++j)
            if (j != i && cv::norm(truth[j].centroid - at) < cv::norm(truth[i].centroid - at))
                match[i] = -1;
    }
    return match;
}

}  // namespace bench
