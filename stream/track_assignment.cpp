#include "stream/track_assignment.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <unordered_map>

namespace {

// Union-find over the tracks and blobs that have candidates.
class Components {
public:
    explicit Components(size_t n)
        : parent(n)
    {
        std::iota(parent.begin(), parent.end(), 0);
    }
    size_t Find(size_t i)
    {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    }
    void Join(size_t a, size_t b) { parent[Find(a)] = Find(b); }

private:
    std::vector<size_t> parent;
};

// Least-cost assignment of every row of an n x m matrix (n <= m) to a column of its own;
// the column of each row. The Hungarian method with potentials, O(n^2 m).
std::vector<int> SolveRows(const std::vector<double>& cost, int n, int m)
{
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> u(static_cast<size_t>(n) + 1, 0.0), v(static_cast<size_t>(m) + 1, 0.0);
    std::vector<int> p(static_cast<size_t>(m) + 1, 0), way(static_cast<size_t>(m) + 1, 0);
    const auto a = [&](int i, int j) { return cost[static_cast<size_t>((i - 1) * m + (j - 1))]; };
    for (int i = 1; i <= n; ++i) {
        p[0] = i;
        int j0 = 0;
        std::vector<double> minv(static_cast<size_t>(m) + 1, inf);
        std::vector<char> used(static_cast<size_t>(m) + 1, 0);
        do {
            used[static_cast<size_t>(j0)] = 1;
            const int i0 = p[static_cast<size_t>(j0)];
            double delta = inf;
            int j1 = 0;
            for (int j = 1; j <= m; ++j) {
                if (used[static_cast<size_t>(j)])
                    continue;
                const double cur = a(i0, j) - u[static_cast<size_t>(i0)] - v[static_cast<size_t>(j)];
                if (cur < minv[static_cast<size_t>(j)])
                    minv[static_cast<size_t>(j)] = cur, way[static_cast<size_t>(j)] = j0;
                if (minv[static_cast<size_t>(j)] < delta)
                    delta = minv[static_cast<size_t>(j)], j1 = j;
            }
            for (int j = 0; j <= m; ++j) {
                if (used[static_cast<size_t>(j)]) {
                    u[static_cast<size_t>(p[static_cast<size_t>(j)])] += delta;
                    v[static_cast<size_t>(j)] -= delta;
                } else {
                    minv[static_cast<size_t>(j)] -= delta;
                }
            }
            j0 = j1;
        } while (p[static_cast<size_t>(j0)] != 0);
        do {
            const int j1 = way[static_cast<size_t>(j0)];
            p[static_cast<size_t>(j0)] = p[static_cast<size_t>(j1)];
            j0 = j1;
        } while (j0);
    }
    std::vector<int> column(static_cast<size_t>(n), -1);
    for (int j = 1; j <= m; ++j)
        if (p[static_cast<size_t>(j)] > 0)
            column[static_cast<size_t>(p[static_cast<size_t>(j)] - 1)] = j - 1;
    return column;
}

// Indices 0.. for the distinct values, in order of appearance.
std::vector<int> Dense(const std::vector<int>& ids, std::vector<int>& values)
{
    std::unordered_map<int, int> index;
    std::vector<int> dense;
    for (int id : ids) {
        const auto [it, added] = index.emplace(id, static_cast<int>(values.size()));
        if (added)
            values.push_back(id);
        dense.push_back(it->second);
    }
    return dense;
}

// One component exactly: no link costs 0, a candidate 1 - gain.
std::vector<LinkCandidate> SolveExactly(const std::vector<LinkCandidate>& part)
{
    std::vector<int> trackIds, blobIds, tracks, blobs;
    for (const LinkCandidate& c : part) {
        trackIds.push_back(c.track);
        blobIds.push_back(c.blob);
    }
    const std::vector<int> t = Dense(trackIds, tracks), b = Dense(blobIds, blobs);
    const bool transposed = tracks.size() > blobs.size();
    const int n = static_cast<int>(transposed ? blobs.size() : tracks.size());
    const int m = static_cast<int>(transposed ? tracks.size() : blobs.size());
    std::vector<double> cost(static_cast<size_t>(n) * static_cast<size_t>(m), 0.0);
    for (size_t k = 0; k < part.size(); ++k) {
        const int row = transposed ? b[k] : t[k], col = transposed ? t[k] : b[k];
        double& c = cost[static_cast<size_t>(row * m + col)];
        c = std::min(c, part[k].cost - 1.0);
    }
    const std::vector<int> column = SolveRows(cost, n, m);
    std::vector<LinkCandidate> links;
    for (int row = 0; row < n; ++row) {
        const int col = column[static_cast<size_t>(row)];
        if (col < 0 || cost[static_cast<size_t>(row * m + col)] >= 0.0)
            continue;
        const int track = tracks[static_cast<size_t>(transposed ? col : row)];
        const int blob = blobs[static_cast<size_t>(transposed ? row : col)];
        links.push_back({track, blob, cost[static_cast<size_t>(row * m + col)] + 1.0});
    }
    return links;
}

std::vector<LinkCandidate> SolveGreedily(std::vector<LinkCandidate> part)
{
    std::sort(part.begin(), part.end(), [](const LinkCandidate& a, const LinkCandidate& b) { return a.cost < b.cost; });
    std::unordered_map<int, char> trackUsed, blobUsed;
    std::vector<LinkCandidate> links;
    for (const LinkCandidate& c : part) {
        if (trackUsed[c.track] || blobUsed[c.blob])
            continue;
        trackUsed[c.track] = blobUsed[c.blob] = 1;
        links.push_back(c);
    }
    return links;
}

}  // namespace

std::vector<LinkCandidate> AssignLinks(const std::vector<LinkCandidate>& candidates, int exactLimit)
{
    std::vector<int> trackIds, blobIds, tracks, blobs;
    for (const LinkCandidate& c : candidates) {
        trackIds.push_back(c.track);
        blobIds.push_back(c.blob);
    }
    const std::vector<int> t = Dense(trackIds, tracks), b = Dense(blobIds, blobs);
    Components components(tracks.size() + blobs.size());
    for (size_t k = 0; k < candidates.size(); ++k)
        components.Join(static_cast<size_t>(t[k]), tracks.size() + static_cast<size_t>(b[k]));
    std::unordered_map<size_t, std::vector<LinkCandidate>> parts;
    std::vector<size_t> order;
    for (size_t k = 0; k < candidates.size(); ++k) {
        const size_t root = components.Find(static_cast<size_t>(t[k]));
        auto [it, added] = parts.try_emplace(root);
        if (added)
            order.push_back(root);
        it->second.push_back(candidates[k]);
    }
    std::vector<LinkCandidate> links;
    for (size_t root : order) {
        const std::vector<LinkCandidate>& part = parts[root];
        std::vector<LinkCandidate> solved;
        if (part.size() == 1) {
            solved = part;
        } else {
            std::vector<int> pt, pb;
            for (const LinkCandidate& c : part) {
                pt.push_back(c.track);
                pb.push_back(c.blob);
            }
            std::sort(pt.begin(), pt.end());
            std::sort(pb.begin(), pb.end());
            const long distinct = std::max(std::unique(pt.begin(), pt.end()) - pt.begin(),
                                           std::unique(pb.begin(), pb.end()) - pb.begin());
            solved = distinct <= exactLimit ? SolveExactly(part) : SolveGreedily(part);
        }
        links.insert(links.end(), solved.begin(), solved.end());
    }
    return links;
}
