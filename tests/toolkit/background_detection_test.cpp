#include "bench/particle_field.h"
#include "toolkit/background_detection.h"
#include "toolkit/blurred_area.h"

#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

#include <cmath>

TEST(BlurredArea, GaussianMassAndAreaOfADisc)
{
    // Disc of radius r under a centred Gaussian s: 1 - exp(-r^2 / 2 s^2).
    EXPECT_NEAR(GaussianMassInEllipse(3.0, 3.0, 1.5), 1.0 - std::exp(-2.0), 1e-9);
    EXPECT_EQ(GaussianMassInEllipse(3.0, 1.0, 0.0), 1.0);
    // An ellipse holds less of the Gaussian than the disc of its area.
    EXPECT_LT(GaussianMassInEllipse(6.0, 1.5, 2.0), GaussianMassInEllipse(3.0, 3.0, 2.0));

    // Area 50, contrast 0.6, blur 1.2, weight 1: sum 30, centre value 0.6 x mass.
    const double r = std::sqrt(50.0 / M_PI), s = std::hypot(1.2, 1.0);
    const BlurredArea a = AreaFromDarkness(30.0, 0.6 * (1.0 - std::exp(-r * r / (2 * s * s))), 1.0, 1.2, 1.0);
    EXPECT_NEAR(a.area, 50.0, 0.01);
    EXPECT_NEAR(a.contrast, 0.6, 1e-4);
    EXPECT_EQ(AreaFromDarkness(0.0, 0.5, 1.0, 1.0, 1.0).area, 0.0);
}

// Single particles of 20 to 254 pixels, blurred, with and without a gradient: each is
// found once, the areas are unbiased and nearly all within 5 % of the drawn pixels,
// and the blur is measured.
TEST(DetectParticlesBackground, AreasOfBlurredParticlesMatchTheDrawnPixels)
{
    for (double blur : {0.0, 1.0, 1.5})
        for (double gradient : {0.0, 0.3}) {
            int found = 0, within = 0, drawn = 0;
            double error = 0.0;
            double sigma = 0.0;
            for (unsigned seed : {1u, 2u}) {
                bench::FieldSettings fs;
                fs.blur = blur, fs.noise = 2.0, fs.gradient = gradient, fs.seed = seed, fs.particles = 50;
                const bench::Field field = bench::DrawField(fs);
                const BackgroundDetection det = SegmentParticlesBackground(field.grey);
                sigma += det.blurSigma / 2;
                EXPECT_EQ(det.blobs.size(), field.particles.size()) << blur << ", " << gradient;
                for (const bench::DrawnParticle& p : field.particles) {
                    ++drawn;
                    for (const ParticleBlob& b : det.blobs) {
                        if (cv::norm(b.centroid - p.centroid) > 0.5) continue;
                        ++found;
                        error += b.area - p.area;
                        within += std::abs(b.area - p.area) <= 0.05 * p.area;
                    }
                }
            }
            EXPECT_EQ(found, drawn) << blur << ", " << gradient;
            EXPECT_LT(std::abs(error / found), 0.5) << blur << ", " << gradient;
            EXPECT_GE(within, 0.95 * drawn) << blur << ", " << gradient;
            EXPECT_NEAR(sigma, blur, 0.05) << gradient;
        }
}

// Two discs overlapping by a quarter of their width and a lone ellipse: the pair comes
// apart into two particles of one group, each near its drawn size; the mask keeps
// them apart under 8-connectivity and is 0/1.
TEST(DetectParticlesBackground, SplitsOverlappingDiscs)
{
    cv::Mat clean(120, 160, CV_8UC1, cv::Scalar(200));
    const cv::Mat disc = flowgen::MakeEllipseStamp(7.0, 7.0, 0.0, 0.0, 0.0);
    const cv::Mat ellipse = flowgen::MakeEllipseStamp(8.0, 4.0, 30.0, 0.0, 0.0);
    flowgen::DrawStamp(clean, disc, 50, 60, 60);
    flowgen::DrawStamp(clean, disc, 61, 62, 80);
    flowgen::DrawStamp(clean, ellipse, 120, 60, 70);
    cv::Mat grey;
    cv::GaussianBlur(clean, grey, cv::Size(0, 0), 0.8);
    BackgroundDetectionSettings settings;
    settings.blurSigma = 0.8;
    const BackgroundDetection det = SegmentParticlesBackground(grey, settings);
    ASSERT_EQ(det.blobs.size(), 3u);
    int grouped = 0;
    for (const ParticleBlob& b : det.blobs) {
        const bool lone = b.centroid.x > 100;
        EXPECT_EQ(b.group >= 0, !lone);
        grouped += b.group >= 0;
        const int truth = cv::countNonZero(lone ? ellipse : disc);
        EXPECT_NEAR(b.area, truth, 0.1 * truth) << b.centroid;
    }
    EXPECT_EQ(grouped, 2);
    cv::Mat labels;
    EXPECT_EQ(cv::connectedComponents(det.mask, labels, 8), 4);  // background and three particles
    EXPECT_EQ(cv::countNonZero(det.mask > 1), 0);
    EXPECT_EQ(SegmentBackground(cv::Mat()).empty(), true);
}
