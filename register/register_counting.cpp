// Counters over the stored particle records, and the count of one whole frame.

#include "register/bgr_image.h"
#include "register/mivo_register_manager.h"

ParticleClassRules CMivoRegisterManager::ClassRules() const
{
    ParticleClassRules rules;
    rules.circularityFilter = circularityFilter;
    rules.minCircularity = minCircularity;
    rules.minArea = stream->minArea;
    rules.maxArea = stream->maxArea;
    return rules;
}

void CMivoRegisterManager::UpdateRangeFlags()
{
    for (ParticleMeasure& record : foiParticles)
        record.inRange = stream->minArea <= record.area && record.area <= stream->maxArea;
}

void CMivoRegisterManager::CountList(const std::vector<ParticleMeasure>& records)
{
    const ParticleCounts counts = CountParticleClasses(records, ClassRules());
    countInRange = counts.inRange;
    countGreater = counts.greater;
    countSmaller = counts.smaller;
}

void CMivoRegisterManager::CountFoIParticles()
{
    CountList(foiParticles);
}

void CMivoRegisterManager::CountFrameParticles()
{
    CountList(frameParticles);
}

QImage CMivoRegisterManager::CountFrame(int index, int method)
{
    frameParticles.clear();
    // The count clips against the size of frame 0. When frame 0 cannot be read, the
    // frame's own size stands in, so that a readable frame is still counted.
    if (!stream->PrepareFirstFrame()) {
        const cv::Mat grey = stream->ReadFrame(index);
        stream->frameHeight = grey.rows;
        stream->frameWidth = grey.cols;
    }
    frameParticles = stream->CountParticles(index, method);
    return BgrToQImage(RenderCountedFrame(index));
}
