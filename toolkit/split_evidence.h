#pragma once

#include "toolkit/ellipse_union.h"

#include <opencv2/core.hpp>

#include <vector>

// Whether a blob that a union of ellipses explains holds that many particles. A union
// fits the outline of any blob of irregular shape better than one ellipse does (a
// grain, a fragment, a fibre), so a fit alone is no evidence; a blob is split only
// where it shows more than one particle:
// - a neck: the blob narrows where its parts meet, across the line between their
//   centres, to clearly less than the parts are wide there, and the widest disc inside
//   the blob on the cut is narrower than the parts' own;
// - ellipses: the union explains the outline several times better than one ellipse,
//   as well as the outline of a single ellipse is explained, and the blob does not
//   widen where the parts meet;
// - two cores: the parts' contrasts differ clearly (a particle is as dark all over),
//   and the blob narrows a little where they meet.

struct CutEvidence {
    int first = 0, second = 0;  // the two parts (indices of the union's ellipses)
    double neck = 1.0;          // the cut's width across the centre line over the narrower part's width there
    double disc = 1.0;          // widest inscribed disc on the cut over the smaller part's widest
};

struct SplitEvidence {
    double gain = 1.0;      // rms distance of the outline from the union over that from one ellipse
    double unionRms = 0.0;  // rms distance of the outline from the union, pixels
    std::vector<double> contrasts;
    std::vector<CutEvidence> cuts;  // one per pair of touching parts
    // True when every cut of the union shows more than one particle.
    bool Convincing() const;
};

// The evidence of a union of ellipses (2 or 3) refined on a blob's darkness, with their
// contrasts, over the blob's pixels (`mask`, CV_8UC1 0/1, the ellipses in its
// coordinates); `singleRms` and `unionRms`: how far the outline lies from one ellipse
// and from the union.
SplitEvidence WeighSplit(const cv::Mat& mask, const std::vector<Ellipse>& ellipses, const std::vector<double>& contrasts,
                         double singleRms, double unionRms);
