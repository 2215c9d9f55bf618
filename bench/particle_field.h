#pragma once

// Frames of blurred particles with their drawn truth, for the background detection's
// accuracy and speed figures: discs and ellipses drawn with the flow generator's
// stamps, then a Gaussian blur, an illumination gradient and noise.

#include "tools/flowgen/flowgen.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <vector>

namespace bench {

struct FieldSettings {
    cv::Size size{640, 480};
    int particles = 60;
    double blur = 1.0;      // Gaussian standard deviation, pixels
    double noise = 2.0;     // standard deviation, grey levels
    double gradient = 0.0;  // gain falls by this share from the brightest corner to the darkest
    bool overlap = false;   // placed at random (touching and overlapping) rather than apart
    double areaMin = 20.0, areaMax = 254.0;
    unsigned seed = 1;
};

struct DrawnParticle {
    cv::Point2d centroid;  // of the drawn pixels
    int area = 0;          // pixels drawn
    int grey = 0;
    cv::Rect box;   // of the stamp, frame coordinates
    cv::Mat stamp;  // 0/1, the size of box
};

struct Field {
    cv::Mat grey;
    std::vector<DrawnParticle> particles;  // in drawing order: later ones cover earlier ones
};

inline Field DrawField(const FieldSettings& s)
{
    cv::RNG rng(0xB16B00B5ull + s.seed * 7919ull);
    Field field;
    cv::Mat clean(s.size, CV_8UC1, cv::Scalar(200));
    cv::Mat taken = cv::Mat::zeros(s.size, CV_8UC1);
    for (int i = 0, attempts = 0; i < s.particles && attempts < 50 * s.particles; ++attempts) {
        const double area = std::exp(rng.uniform(std::log(s.areaMin), std::log(s.areaMax)));
        const bool ellipse = rng.uniform(0.0, 1.0) < 0.4;
        const double q = ellipse ? rng.uniform(0.45, 0.85) : 1.0;
        const double r = std::sqrt(area / CV_PI);
        const cv::Mat stamp = flowgen::MakeEllipseStamp(r / std::sqrt(q), r * std::sqrt(q), rng.uniform(0.0, 180.0),
                                                        rng.uniform(-0.5, 0.5), rng.uniform(-0.5, 0.5));
        const int h = stamp.rows / 2;
        const int edge = 8;  // whole particles, blur included
        const int cx = rng.uniform(h + edge, s.size.width - h - edge),
                  cy = rng.uniform(h + edge, s.size.height - h - edge);
        const cv::Rect box(cx - h, cy - h, stamp.cols, stamp.rows);
        if (!s.overlap) {
            // Apart by 3 sigma of blur on each side plus a pixel.
            const int gap = static_cast<int>(std::ceil(3.0 * s.blur)) + 2;
            const cv::Rect grown =
                (box + cv::Size(2 * gap, 2 * gap) - cv::Point(gap, gap)) & cv::Rect(cv::Point(), s.size);
            if (cv::countNonZero(taken(grown)))
                continue;
            taken(grown).setTo(1);
        }
        flowgen::DrawStamp(clean, stamp, cx, cy, 0);
        const int grey = rng.uniform(40, 91);
        flowgen::DrawStamp(clean, stamp, cx, cy, grey);
        const cv::Moments m = cv::moments(stamp, true);
        DrawnParticle p;
        p.area = static_cast<int>(m.m00);
        p.centroid = cv::Point2d(box.x + m.m10 / m.m00, box.y + m.m01 / m.m00);
        p.grey = grey;
        p.box = box;
        p.stamp = stamp;
        field.particles.push_back(p);
        ++i;
    }
    cv::Mat f;
    clean.convertTo(f, CV_32F);
    if (s.blur > 0.0)
        cv::GaussianBlur(f, f, cv::Size(0, 0), s.blur);
    if (s.gradient > 0.0) {
        // A tilted plane times a vignette: linear and curved parts together.
        for (int y = 0; y < f.rows; ++y)
            for (int x = 0; x < f.cols; ++x) {
                const double u = static_cast<double>(x) / f.cols, v = static_cast<double>(y) / f.rows;
                const double r2 = (u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5);
                f.at<float>(y, x) *= static_cast<float>(1.0 - s.gradient * (0.6 * (0.6 * u + 0.4 * v) + 0.8 * r2));
            }
    }
    if (s.noise > 0.0) {
        cv::Mat n(f.size(), CV_32F);
        rng.fill(n, cv::RNG::NORMAL, 0.0, s.noise);
        f += n;
    }
    f.convertTo(field.grey, CV_8U);
    return field;
}

}  // namespace bench
