#include "stream/blob_detection.h"

#include "toolkit/background_detection.h"
#include "toolkit/particle_measure.h"
#include "toolkit/segmentation.h"

#include <opencv2/imgproc.hpp>

ParticleBlobs BlobsFromMask(const cv::Mat& mask, int minPixels)
{
    ParticleBlobs blobs;
    if (mask.empty())
        return blobs;
    cv::Mat labels, stats, centroids;
    const int n = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S);
    for (int i = 1; i < n; ++i) {
        const int area = stats.at<int>(i, cv::CC_STAT_AREA);
        if (area < minPixels)
            continue;
        ParticleBlob b;
        b.box = cv::Rect(stats.at<int>(i, cv::CC_STAT_LEFT), stats.at<int>(i, cv::CC_STAT_TOP),
                         stats.at<int>(i, cv::CC_STAT_WIDTH), stats.at<int>(i, cv::CC_STAT_HEIGHT));
        b.centroid = cv::Point2d(centroids.at<double>(i, 0), centroids.at<double>(i, 1));
        b.area = area;
        b.maskArea = area;
        b.touchesBorder =
            b.box.x == 0 || b.box.y == 0 || b.box.x + b.box.width == mask.cols || b.box.y + b.box.height == mask.rows;
        const cv::Mat own = labels(b.box) == i;
        ShapeMeasures shape;
        ComputeShapeFactors(own, b.ratio, b.circularity, &shape);
        b.feretMax = shape.feretMax, b.feretMin = shape.feretMin, b.solidity = shape.solidity;
        blobs.push_back(b);
    }
    return blobs;
}

ParticleBlobs DetectParticlesByMethod(const cv::Mat& grey, int method, const cv::Mat& previous, const cv::Mat& next)
{
    cv::Mat mask;
    switch (method) {
    case kMethodOtsu:
        mask = SegmentOtsu(grey);
        break;
    case kMethodModeValue:
        mask = SegmentModeValue(grey);
        break;
    case kMethodBackground:
        return DetectParticlesBackground(grey);
    case kMethodFrameDiff:
        mask = cv::Mat::zeros(grey.size(), CV_8UC1);
        for (const cv::Mat* other : {&previous, &next})
            if (other->size() == grey.size())
                mask |= FrameDiffMask(grey, *other);
        break;
    default:
        return {};
    }
    if (mask.empty())
        return {};
    if (method != kMethodOtsu)  // its median filter has dropped the specks already
        cv::morphologyEx(mask, mask, cv::MORPH_OPEN, cv::Mat::ones(3, 3, CV_8UC1), cv::Point(-1, -1), 1,
                         cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
    return BlobsFromMask(mask);
}
