#include "register/run_numbers.h"

#include <algorithm>

ParticleClassRules ClassRules(const RunSettings& settings)
{
    ParticleClassRules rules;
    rules.circularityFilter = settings.circularityFilter;
    rules.minCircularity = settings.minCircularity;
    rules.minArea = settings.minArea;
    rules.maxArea = settings.maxArea;
    return rules;
}

RunSettings RecountSettings(const RunSettings& run, const RunSettings& now)
{
    RunSettings recount = run;
    recount.minArea = now.minArea;
    recount.maxArea = now.maxArea;
    recount.circularityFilter = now.circularityFilter;
    recount.minCircularity = now.minCircularity;
    recount.pixelSize = now.pixelSize;
    return recount;
}

void Recount(const RunSettings& settings, RunResult& result)
{
    const ParticleClassRules rules = ClassRules(settings);
    for (ParticleMeasure& record : result.records)
        record.inRange = rules.minArea <= record.area && record.area <= rules.maxArea;
    const ParticleCounts counts = CountParticleClasses(result.records, rules);
    result.countInRange = counts.inRange;
    result.countGreater = counts.greater;
    result.countSmaller = counts.smaller;
}

void AddCountsSoFar(const RunSettings& settings, const std::vector<ParticleMeasure>& records, ParticleCounts& counts)
{
    const ParticleClassRules rules = ClassRules(settings);
    for (ParticleMeasure record : records) {
        record.inRange = rules.minArea <= record.area && record.area <= rules.maxArea;
        const ParticleClass kind = ClassifyParticle(record, rules).kind;
        counts.inRange += kind == ParticleClass::Single ? record.netCrossing : 0;
        counts.greater += kind == ParticleClass::Bigger ? record.netCrossing : 0;
        counts.smaller += kind == ParticleClass::Smaller ? record.netCrossing : 0;
    }
}

int FramesCounted(const RunSettings& settings, const RunResult& result)
{
    const int frames = settings.onlyFrame >= 0 ? 1 : result.frameCount;
    return std::max(frames - static_cast<int>(result.unreadableFrames.size()), 0);
}

int MotionsMeasured(const RunResult& result)
{
    return std::max(result.frameCount - 1, 0);
}

SizeStatistics RunSizeStatistics(const RunSettings& settings, const RunResult& result)
{
    return ComputeSizeStatistics(result.records, ClassRules(settings), settings.pixelSize);
}

SizeHistogram RunSizeHistogram(const RunSettings& settings, const RunResult& result, SizeAxis axis)
{
    return ComputeSizeHistogram(result.records, ClassRules(settings), settings.pixelSize, kDefaultBinsPerDecade, axis);
}
