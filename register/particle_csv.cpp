#include "register/particle_csv.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
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
    return QStringLiteral("frame,file,x,y,area_px,area_um2,ratio,circularity,class");
}

QString ParticleCsvRow(const ParticleMeasure& record, const CVideoStream& stream, const ParticleClassRules& rules,
                       double pixelSize)
{
    const QStringList fields = {
        QString::number(record.frame),
        TextField(QString::fromStdString(stream.FrameName(record.frame))),
        QString::number(record.x),
        QString::number(record.y),
        QString::number(record.area),
        Real(record.area * pixelSize * pixelSize),
        Real(record.ratio),
        Real(record.circularity),
        QString::fromLatin1(ParticleClassName(ClassifyParticle(record, rules).kind)),
    };
    return fields.join(QLatin1Char(','));
}

bool WriteParticleCsv(const QString& path, const std::vector<ParticleMeasure>& records, const CVideoStream& stream,
                      const ParticleClassRules& rules, double pixelSize)
{
    QByteArray text = ParticleCsvHeader().toUtf8() + '\n';
    for (const ParticleMeasure& record : records)
        text += ParticleCsvRow(record, stream, rules, pixelSize).toUtf8() + '\n';

    // A device or a pipe (/dev/stdout, /dev/null, a FIFO) is written to directly: the
    // safe replace would put a regular file in its place.
    const QFileInfo target(path);
    if (target.exists() && !target.isFile() && !target.isDir()) {
        QFile device(path);
        return device.open(QIODevice::WriteOnly) && device.write(text) == text.size() && device.flush();
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    if (file.write(text) != text.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
