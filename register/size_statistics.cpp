#include "register/size_statistics.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = 3.14159265358979323846;

QString JsonNumber(double value)
{
    return std::isfinite(value) ? QString::number(value, 'g', 6) : QStringLiteral("null");
}

}  // namespace

double EquivalentCircularDiameterUm(double areaPx, double pixelSize)
{
    return 2.0 * std::sqrt(areaPx * pixelSize * pixelSize / kPi);
}

bool IsCountedClass(ParticleClass kind)
{
    return kind == ParticleClass::Single || kind == ParticleClass::Bigger || kind == ParticleClass::Smaller;
}

double NumberPercentile(const std::vector<double>& ascending, double p)
{
    if (ascending.empty())
        return kNaN;
    const double rank = std::clamp(p, 0.0, 100.0) / 100.0 * static_cast<double>(ascending.size() - 1);
    const size_t below = static_cast<size_t>(std::floor(rank));
    if (below + 1 >= ascending.size())
        return ascending.back();
    return ascending[below] + (rank - static_cast<double>(below)) * (ascending[below + 1] - ascending[below]);
}

SizeStatistics ComputeSizeStatistics(const std::vector<ParticleMeasure>& records, const ParticleClassRules& rules,
                                     double pixelSize)
{
    std::vector<double> ecds;
    double areaSum = 0.0;
    double aspectSum = 0.0;
    int aspects = 0;
    for (const ParticleMeasure& record : records) {
        if (!IsCountedClass(ClassifyParticle(record, rules).kind))
            continue;
        ecds.push_back(EquivalentCircularDiameterUm(record.area, pixelSize));
        areaSum += record.area * pixelSize * pixelSize;
        const double aspect = AspectRatio(record);
        if (aspect > 0.0)
            aspectSum += aspect, ++aspects;
    }
    std::sort(ecds.begin(), ecds.end());

    SizeStatistics stats;
    stats.counted = static_cast<int>(ecds.size());
    stats.d10Um = NumberPercentile(ecds, 10);
    stats.d50Um = NumberPercentile(ecds, 50);
    stats.d90Um = NumberPercentile(ecds, 90);
    const double n = static_cast<double>(ecds.size());
    stats.meanEcdUm = ecds.empty() ? kNaN : std::accumulate(ecds.begin(), ecds.end(), 0.0) / n;
    stats.meanAreaUm2 = ecds.empty() ? kNaN : areaSum / n;
    stats.meanAspectRatio = aspects == 0 ? kNaN : aspectSum / aspects;
    return stats;
}

QString SizeStatisticsJson(const SizeStatistics& stats)
{
    const QStringList fields = {
        QStringLiteral("\"counted\":%1").arg(stats.counted),
        QStringLiteral("\"d10_um\":") + JsonNumber(stats.d10Um),
        QStringLiteral("\"d50_um\":") + JsonNumber(stats.d50Um),
        QStringLiteral("\"d90_um\":") + JsonNumber(stats.d90Um),
        QStringLiteral("\"mean_ecd_um\":") + JsonNumber(stats.meanEcdUm),
        QStringLiteral("\"mean_area_um2\":") + JsonNumber(stats.meanAreaUm2),
        QStringLiteral("\"mean_aspect_ratio\":") + JsonNumber(stats.meanAspectRatio),
    };
    return QLatin1Char('{') + fields.join(QLatin1Char(',')) + QLatin1Char('}');
}

QString SignificantText(double value, int digits)
{
    if (std::isnan(value))
        return QStringLiteral("n/a");
    if (value == 0.0 || !std::isfinite(value))
        return QString::number(value);
    // Round first, so that 9.996 reads "10.0" and not "10.00".
    const double magnitude = std::floor(std::log10(std::fabs(value)));
    const double scale = std::pow(10.0, digits - 1 - magnitude);
    const double rounded = std::round(value * scale) / scale;
    const int decimals = std::max(0, digits - 1 - static_cast<int>(std::floor(std::log10(std::fabs(rounded)))));
    return QString::number(rounded, 'f', decimals);
}
