#include "stream/video_stream.h"
#include "toolkit/adjacency.h"
#include "toolkit/labelling.h"

#include <opencv2/imgproc.hpp>

FrameShift CVideoStream::MeasureTransition(int index, bool* frameRead)
{
    // A frame that cannot be compared leaves previousFrame alone, so the next good
    // frame is measured against the last good one.
    cv::Mat grey = previousFrame.empty() ? cv::Mat() : ReadSizedFrame(index);
    if (frameRead)
        *frameRead = !grey.empty();
    if (grey.empty())
        return {0, 0};

    PrepareFrame(grey);
    currentFrame = grey;
    cv::Mat diff;
    cv::absdiff(currentFrame, previousFrame, diff);
    previousFrame = currentFrame.clone();

    cv::Mat strong;
    cv::threshold(diff, strong, 10, 1, cv::THRESH_BINARY);
    cv::threshold(diff, diff, 0, 1, cv::THRESH_BINARY | cv::THRESH_OTSU);
    cv::Mat mask = strong & diff;
    // Drops changed specks narrower than 5 pixels.
    cv::morphologyEx(mask, mask, cv::MORPH_OPEN, kernel5x5, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                     cv::morphologyDefaultBorderValue());

    AdjRel* adj = Create4NeighbourAdjRel();
    const std::vector<cv::Point> centroids = ComputeLabelCentroids(mask, adj);
    FreeAdjRel(adj);
    if (centroids.size() < 10)
        return {0, 0};
    return ConsensusShift(PairNearestCentroids(centroids, frameWidth, frameHeight));
}
