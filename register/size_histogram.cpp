#include "register/size_histogram.h"

#include "register/size_statistics.h"
#include "register/whole_file.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

double Edge(int index, int binsPerDecade)
{
    return std::pow(10.0, static_cast<double>(index) / binsPerDecade);
}

// The index of the bin holding a positive ECD, checked against the edges as they are
// computed so that a value on an edge lands in the bin it starts.
int BinIndex(double ecd, int binsPerDecade)
{
    int index = static_cast<int>(std::floor(binsPerDecade * std::log10(ecd)));
    if (ecd < Edge(index, binsPerDecade))
        --index;
    else if (ecd >= Edge(index + 1, binsPerDecade))
        ++index;
    return index;
}

// A size a log axis can show.
bool OnLogAxis(double ecd)
{
    return ecd > 0.0 && std::isfinite(ecd);
}

}  // namespace

SizeHistogram ComputeSizeHistogram(const std::vector<ParticleMeasure>& records, const ParticleClassRules& rules,
                                   double pixelSize, int binsPerDecade, SizeAxis axis)
{
    SizeHistogram histogram;
    histogram.rules = rules;
    histogram.pixelSize = pixelSize;
    histogram.binsPerDecade = std::max(1, binsPerDecade);
    histogram.axis = axis;
    const bool byEcd = axis == SizeAxis::kEcd;
    histogram.minBoundEcdUm = byEcd ? EquivalentCircularDiameterUm(rules.minArea, pixelSize) : 0.0;
    histogram.maxBoundEcdUm = byEcd ? EquivalentCircularDiameterUm(rules.maxArea, pixelSize) : 0.0;
    const int perDecade = histogram.binsPerDecade;

    struct Sized {
        double ecd;
        ParticleClass kind;
    };
    std::vector<Sized> counted;
    for (const ParticleMeasure& record : records) {
        const ParticleClass kind = ClassifyParticle(record, rules).kind;
        if (IsCountedClass(kind))
            counted.push_back(
                {byEcd ? EquivalentCircularDiameterUm(record.area, pixelSize) : record.feretMax * pixelSize, kind});
    }

    std::vector<double> sizes = {histogram.minBoundEcdUm, histogram.maxBoundEcdUm};
    for (const Sized& particle : counted)
        sizes.push_back(particle.ecd);
    bool sized = false;
    int first = 0;
    int last = 0;
    for (double ecd : sizes) {
        if (!OnLogAxis(ecd))
            continue;
        const int index = BinIndex(ecd, perDecade);
        first = sized ? std::min(first, index) : index;
        last = sized ? std::max(last, index) : index;
        sized = true;
    }
    if (!sized)
        return histogram;

    for (int index = first; index <= last; ++index)
        histogram.bins.push_back({Edge(index, perDecade), Edge(index + 1, perDecade)});
    for (const Sized& particle : counted) {
        const int index = OnLogAxis(particle.ecd) ? BinIndex(particle.ecd, perDecade) - first : 0;
        SizeHistogramBin& bin = histogram.bins[static_cast<size_t>(index)];
        if (particle.kind == ParticleClass::Single)
            ++bin.single;
        else if (particle.kind == ParticleClass::Bigger)
            ++bin.bigger;
        else
            ++bin.smaller;
    }
    return histogram;
}

QString SizeHistogramCsv(const SizeHistogram& histogram)
{
    QString text = QStringLiteral("lower_um,upper_um,single,bigger,smaller,total\n");
    for (const SizeHistogramBin& bin : histogram.bins)
        text += QStringLiteral("%1,%2,%3,%4,%5,%6\n")
                    .arg(QString::number(bin.lowerUm, 'g', 6), QString::number(bin.upperUm, 'g', 6))
                    .arg(bin.single)
                    .arg(bin.bigger)
                    .arg(bin.smaller)
                    .arg(bin.Total());
    return text;
}

bool WriteSizeHistogramCsv(const QString& path, const SizeHistogram& histogram)
{
    return WriteWholeFile(path, SizeHistogramCsv(histogram).toUtf8());
}
