#include "register/particle_csv.h"

#include "register/run_numbers.h"
#include "register/whole_file.h"

#include <QStringList>

namespace {

// A text field that spreadsheet programs read back as text: one that starts like a
// formula (=, +, -, @, a tab or a carriage return) gets a leading apostrophe and
// quotes; one holding a comma, a quote or a line break gets quotes; quotes inside
// are doubled.
QString TextField(const QString& field)
{
    const bool formula = !field.isEmpty() && QStringView(u"=+-@\t\r").contains(field.front());
    const bool special = field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
                         field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r'));
    if (!formula && !special)
        return field;
    QString escaped = formula ? QLatin1Char('\'') + field : field;
    escaped.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QString Real(double value)
{
    return QString::number(value, 'g', 6);
}

}  // namespace

QString ParticleCsvHeader()
{
    return QStringLiteral("frame,file,x,y,area_px,area_um2,ratio,circularity,class,"
                          "feret_max_px,feret_min_px,aspect_ratio,solidity,blur_px");
}

QString ParticleCsvRow(const ParticleMeasure& record, const RunSettings& settings, const ParticleClassRules& rules)
{
    const double pixelSize = settings.pixelSize;
    const QStringList fields = {
        QString::number(record.frame),
        TextField(settings.frameNames.value(record.frame)),
        QString::number(record.x),
        QString::number(record.y),
        QString::number(record.area),
        Real(record.area * pixelSize * pixelSize),
        Real(record.ratio),
        Real(record.circularity),
        QString::fromLatin1(ParticleClassName(ClassifyParticle(record, rules).kind)),
        Real(record.feretMax),
        Real(record.feretMin),
        Real(AspectRatio(record)),
        Real(record.solidity),
        Real(record.blur),
    };
    return fields.join(QLatin1Char(','));
}

bool WriteParticleCsv(const QString& path, const RunSettings& settings, const RunResult& result)
{
    const ParticleClassRules rules = ClassRules(settings);
    QByteArray text = ParticleCsvHeader().toUtf8() + '\n';
    for (const ParticleMeasure& record : result.records)
        text += ParticleCsvRow(record, settings, rules).toUtf8() + '\n';
    return WriteWholeFile(path, text);
}
