#include "register/velocity_profile.h"

#include "register/whole_file.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

bool Vertical(FlowDirection direction)
{
    return direction == FlowDirection::kTopToBottom || direction == FlowDirection::kBottomToTop;
}

QString Real(double value)
{
    return QString::number(value, 'g', 6);
}

// The band's three speeds as texts, `none` where a speed is not known.
QStringList SpeedTexts(const VelocityBand& band, const RunSettings& settings, const QString& none)
{
    QStringList texts;
    for (SpeedUnit unit : {SpeedUnit::kPxPerFrame, SpeedUnit::kUmPerFrame, SpeedUnit::kUmPerSecond}) {
        const double speed = BandSpeed(band, settings, unit);
        texts << (std::isnan(speed) ? none : Real(speed));
    }
    return texts;
}

}  // namespace

double BandSpeed(const VelocityBand& band, const RunSettings& settings, SpeedUnit unit)
{
    constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();
    if (band.followed == 0)
        return kUnknown;
    switch (unit) {
    case SpeedUnit::kPxPerFrame:
        return band.meanSpeedPx;
    case SpeedUnit::kUmPerFrame:
        return band.meanSpeedPx * settings.pixelSize;
    case SpeedUnit::kUmPerSecond:
        return settings.frameRate > 0.0 ? band.meanSpeedPx * settings.pixelSize * settings.frameRate : kUnknown;
    }
    return kUnknown;
}

std::vector<VelocityBand> RunVelocityProfile(const RunResult& result)
{
    std::vector<VelocityBand> bands(kVelocityBands);
    const bool vertical = Vertical(result.flowDirection);
    const int width = vertical ? result.frameWidth : result.frameHeight;
    if (width <= 0)
        return bands;
    std::vector<double> sums(kVelocityBands, 0.0);
    for (const ParticleMeasure& record : result.records) {
        const int across = vertical ? record.x : record.y;
        const int band = std::clamp(across * kVelocityBands / width, 0, kVelocityBands - 1);
        ++bands[static_cast<size_t>(band)].count;
        const double along = vertical ? record.vy : record.vx;
        if (std::isnan(along))
            continue;
        ++bands[static_cast<size_t>(band)].followed;
        sums[static_cast<size_t>(band)] += std::abs(along);
    }
    for (size_t b = 0; b < bands.size(); ++b)
        if (bands[b].followed > 0)
            bands[b].meanSpeedPx = sums[b] / bands[b].followed;
    return bands;
}

QString VelocityProfileJson(const RunSettings& settings, const RunResult& result)
{
    QStringList objects;
    for (const VelocityBand& band : RunVelocityProfile(result)) {
        const QStringList speeds = SpeedTexts(band, settings, QStringLiteral("null"));
        objects << QStringLiteral("{\"count\":%1,\"mean_speed_px\":%2,\"mean_speed_um\":%3,\"mean_speed_um_s\":%4,"
                                  "\"followed\":%5}")
                       .arg(band.count)
                       .arg(speeds[0], speeds[1], speeds[2])
                       .arg(band.followed);
    }
    return QLatin1Char('[') + objects.join(QLatin1Char(',')) + QLatin1Char(']');
}

QString VelocityProfileCsv(const RunSettings& settings, const RunResult& result)
{
    QString text = QStringLiteral("band,from,to,count,mean_speed_px,mean_speed_um,mean_speed_um_s\n");
    const std::vector<VelocityBand> bands = RunVelocityProfile(result);
    for (int b = 0; b < kVelocityBands; ++b) {
        const VelocityBand& band = bands[static_cast<size_t>(b)];
        text += QStringList{QString::number(b + 1), Real(static_cast<double>(b) / kVelocityBands),
                            Real(static_cast<double>(b + 1) / kVelocityBands), QString::number(band.count)}
                    .join(QLatin1Char(','));
        text += QLatin1Char(',') + SpeedTexts(band, settings, QString()).join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return text;
}

bool WriteVelocityProfileCsv(const QString& path, const RunSettings& settings, const RunResult& result)
{
    return WriteWholeFile(path, VelocityProfileCsv(settings, result).toUtf8());
}
