#pragma once

// Hand-made flows for the counting line's tracker: discs as blob lists with positions
// known exactly (no detection in between), each at its own rate along any direction, a
// camera that moves the whole field, dirt that never moves. What a perfect detection of
// such frames gives, and the truth of counting them.

#include "stream/crossing_counter.h"
#include "toolkit/particle_blob.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

struct HandDisc {
    cv::Point2d at;      // place in frame 0 (before the camera's offset)
    double radius = 4.0;
    double rate = 1.0;   // share of the flow's motion it follows (0: dirt, on the camera's window)
    double drift = 0.0;  // pixels a frame across the flow, its own (sinking, rising)
    int stopFrom = -1;   // it stands still in frames stopFrom .. stopFrom + stopFrames - 1
    int stopFrames = 0;
};

struct HandFlow {
    cv::Size frame{640, 480};
    cv::Point2d direction{1.0, 0.0};  // unit vector along the flow
    std::vector<double> shifts;       // per frame along the direction; shifts[0] = 0
    std::vector<cv::Point2d> camera;  // per frame, the whole field's offset (empty: none); dirt stays
    std::vector<HandDisc> discs;

    int Frames() const { return static_cast<int>(shifts.size()); }
    double Offset(int t) const
    {
        double sum = 0.0;
        for (int k = 1; k <= t; ++k) sum += shifts[static_cast<size_t>(k)];
        return sum;
    }
    cv::Point2d Place(const HandDisc& d, int t) const
    {
        const cv::Point2d across(-direction.y, direction.x);
        if (d.rate == 0.0) return d.at;
        const cv::Point2d cam = camera.empty() ? cv::Point2d() : camera[static_cast<size_t>(t)];
        double moved = Offset(t);
        if (d.stopFrom >= 0 && t >= d.stopFrom)
            moved -= Offset(std::min(t, d.stopFrom + d.stopFrames - 1)) - Offset(d.stopFrom - 1);
        return d.at + d.rate * moved * direction + d.drift * t * across + cam;
    }
    cv::Rect Box(const HandDisc& d, int t) const
    {
        const cv::Point2d p = Place(d, t);
        const int x0 = static_cast<int>(std::floor(p.x - d.radius)), y0 = static_cast<int>(std::floor(p.y - d.radius));
        const int x1 = static_cast<int>(std::ceil(p.x + d.radius)), y1 = static_cast<int>(std::ceil(p.y + d.radius));
        return cv::Rect(x0, y0, x1 - x0 + 1, y1 - y0 + 1);
    }
    bool Whole(const HandDisc& d, int t) const
    {
        const cv::Rect b = Box(d, t);
        return b.x >= 1 && b.y >= 1 && b.x + b.width <= frame.width - 1 && b.y + b.height <= frame.height - 1;
    }
    bool WholeSomewhere(const HandDisc& d) const
    {
        for (int t = 0; t < Frames(); ++t)
            if (Whole(d, t)) return true;
        return false;
    }
    // Every disc with a pixel in frame t; one cut by the edge shows the visible part of its box.
    ParticleBlobs Blobs(int t) const
    {
        ParticleBlobs blobs;
        const cv::Rect inside(0, 0, frame.width, frame.height);
        for (const HandDisc& d : discs) {
            const cv::Rect box = Box(d, t);
            const cv::Rect seen = box & inside;
            if (seen.empty()) continue;
            ParticleBlob b;
            b.box = seen;
            b.touchesBorder = !Whole(d, t);
            b.area = CV_PI * d.radius * d.radius * seen.area() / box.area();
            b.centroid = b.touchesBorder ? cv::Point2d(seen.x + 0.5 * (seen.width - 1), seen.y + 0.5 * (seen.height - 1))
                                         : Place(d, t);
            b.ratio = 1.0;
            b.circularity = 1.0;
            blobs.push_back(b);
        }
        return blobs;
    }
};

struct HandCount {
    std::vector<ParticleMeasure> records;
    TrackingSummary summary;
    FlowDirection direction = FlowDirection::kUnknown;
    int net = 0;  // the records' net crossings, turned to the flow's direction
};

// Counts the frames given, in that order (frame numbers as listed).
inline HandCount CountHandFlow(const HandFlow& flow, std::vector<int> order = {})
{
    if (order.empty())
        for (int t = 0; t < flow.Frames(); ++t) order.push_back(t);
    CrossingSettings settings;
    settings.frameWidth = flow.frame.width;
    settings.frameHeight = flow.frame.height;
    CrossingCounter counter(settings);
    HandCount count;
    for (size_t k = 0; k < order.size(); ++k) {
        const std::vector<ParticleMeasure> r = counter.AddFrame(static_cast<int>(k), flow.Blobs(order[k]));
        count.records.insert(count.records.end(), r.begin(), r.end());
    }
    const std::vector<ParticleMeasure> r = counter.Finish();
    count.records.insert(count.records.end(), r.begin(), r.end());
    for (ParticleMeasure& m : count.records) {
        m.netCrossing *= counter.RecordSense();
        count.net += m.netCrossing;
    }
    count.summary = counter.Summary();
    count.direction = counter.Direction();
    return count;
}

// The frame's point `along` pixels from its upstream edge and `across` from its wall on
// the flow's left (of the frame's corners, the lowest along and across the flow).
inline cv::Point2d FlowPoint(cv::Size frame, const cv::Point2d& u, double along, double across)
{
    const cv::Point2d w(-u.y, u.x);
    double s0 = 0.0, q0 = 0.0;
    for (const cv::Point2d c : {cv::Point2d(0, 0), cv::Point2d(frame.width, 0), cv::Point2d(0, frame.height),
                                cv::Point2d(frame.width, frame.height)}) {
        s0 = std::min(s0, c.dot(u));
        q0 = std::min(q0, c.dot(w));
    }
    return (along + s0) * u + (across + q0) * w;
}

inline double AcrossExtent(cv::Size frame, const cv::Point2d& u)
{
    return std::abs(frame.width * u.y) + std::abs(frame.height * u.x);
}

// Discs at random places across the channel (30 px from its walls) and along the flow's
// way in (pixels from the upstream edge, negative: not in view yet), radius 3 to 7;
// `rate` gives each its rate from its place across (0 to 1 of the channel) and a draw.
template <class Rate>
std::vector<HandDisc> RandomDiscs(cv::RNG& rng, const HandFlow& flow, int n, double alongFrom, double alongTo, Rate rate)
{
    const double extent = AcrossExtent(flow.frame, flow.direction);
    std::vector<HandDisc> discs;
    for (int i = 0; i < n; ++i) {
        HandDisc d;
        const double a = rng.uniform(alongFrom, alongTo), q = rng.uniform(30.0, extent - 30.0);
        d.at = FlowPoint(flow.frame, flow.direction, a, q);
        d.radius = rng.uniform(3.0, 7.0);
        d.rate = rate(q / extent, rng);
        discs.push_back(d);
    }
    return discs;
}
