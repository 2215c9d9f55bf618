#pragma once

#include <vector>

// Links the particles of two frames all at once: each track to at most one blob and each
// blob to at most one track, so that the links together gain the most. A candidate link
// costs from 0 (exactly where predicted) to 1 (at the edge of its gate) and gains 1 - cost:
// a track takes a blob whenever one is in its gate, and when two tracks want one blob the
// pairing that fits all of them best wins, not the one that was looked at first.
//
// Sparse: only candidates within the gates are given. The candidate graph falls apart into
// small connected components, each solved exactly (Hungarian method with potentials);
// components larger than `exactLimit` tracks or blobs are solved greedily, cheapest first.
struct LinkCandidate {
    int track = 0;
    int blob = 0;
    double cost = 0.0;  // in [0, 1)
};

std::vector<LinkCandidate> AssignLinks(const std::vector<LinkCandidate>& candidates, int exactLimit = 150);
