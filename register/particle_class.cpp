#include "register/particle_class.h"

namespace {

const cv::Scalar kGreen(0, 255, 0);
const cv::Scalar kBlue(255, 0, 0);
const cv::Scalar kRed(0, 0, 255);
const cv::Scalar kPurple(164, 75, 164);
const cv::Scalar kMagenta(255, 0, 255);

}  // namespace

ParticleVerdict ClassifyParticle(const ParticleMeasure& record, const ParticleClassRules& rules)
{
    // Written as ">=" so that NaN fails.
    const bool passes = !rules.circularityFilter || record.circularity >= rules.minCircularity;
    if (record.inRange)
        return passes ? ParticleVerdict{ParticleClass::Single, kGreen}
                      : ParticleVerdict{ParticleClass::Filtered, kBlue};
    if (!passes)
        return {ParticleClass::Filtered, kMagenta};
    const cv::Scalar colour = rules.circularityFilter ? kPurple : kRed;
    if (record.area < rules.minArea)
        return {ParticleClass::Smaller, colour};
    if (record.area > rules.maxArea)
        return {ParticleClass::Bigger, colour};
    return {ParticleClass::Uncounted, colour};
}

const char* ParticleClassName(ParticleClass kind)
{
    switch (kind) {
    case ParticleClass::Single:
        return "single";
    case ParticleClass::Bigger:
        return "bigger";
    case ParticleClass::Smaller:
        return "smaller";
    case ParticleClass::Filtered:
        return "filtered";
    case ParticleClass::Uncounted:
        return "uncounted";
    }
    return "uncounted";
}

ParticleCounts CountParticleClasses(const std::vector<ParticleMeasure>& records, const ParticleClassRules& rules)
{
    ParticleCounts counts;
    for (const ParticleMeasure& record : records) {
        switch (ClassifyParticle(record, rules).kind) {
        case ParticleClass::Single:
            counts.inRange += record.netCrossing;
            break;
        case ParticleClass::Bigger:
            counts.greater += record.netCrossing;
            break;
        case ParticleClass::Smaller:
            counts.smaller += record.netCrossing;
            break;
        case ParticleClass::Filtered:
        case ParticleClass::Uncounted:
            break;
        }
    }
    return counts;
}
