#include "dialogs/velocity_profile_chart.h"

#include "dialogs/chart_panel.h"

#include <QAreaSeries>
#include <QChart>
#include <QLegend>
#include <QLineSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kBandPercent = 100.0 / kVelocityBands;

bool Vertical(FlowDirection direction)
{
    return direction == FlowDirection::kTopToBottom || direction == FlowDirection::kBottomToTop;
}

QString DirectionText(FlowDirection direction)
{
    switch (direction) {
    case FlowDirection::kLeftToRight:
        return QStringLiteral("flow to the right");
    case FlowDirection::kRightToLeft:
        return QStringLiteral("flow to the left");
    case FlowDirection::kTopToBottom:
        return QStringLiteral("flow downwards");
    case FlowDirection::kBottomToTop:
        return QStringLiteral("flow upwards");
    case FlowDirection::kUnknown:
        break;
    }
    return QStringLiteral("no flow measured");
}

// Decimals that show `step` and the values of its size whole, never as an exponent.
int Decimals(double step)
{
    return std::clamp(static_cast<int>(-std::floor(std::log10(step))), 0, 6);
}

// An axis from 0 to at least `top` in five steps or more of a round size.
QValueAxis* ZeroBasedAxis(double top, const QString& title)
{
    const double step = NiceStep(std::max(top, 1e-9) / 5.0);
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setRange(0.0, std::max(5.0, std::ceil(top * 1.05 / step)) * step);
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0.0);
    axis->setTickInterval(step);
    axis->setLabelFormat(QStringLiteral("%.%1f").arg(Decimals(step)));
    return axis;
}

// Three significant digits, without an exponent.
QString Number(double value)
{
    return QString::number(value, 'f', value > 0.0 ? Decimals(value / 100.0) : 0);
}

}  // namespace

QString SpeedUnitText(SpeedUnit unit)
{
    switch (unit) {
    case SpeedUnit::kPxPerFrame:
        return QStringLiteral("px/frame");
    case SpeedUnit::kUmPerFrame:
        return QStringLiteral("\u00b5m/frame");
    case SpeedUnit::kUmPerSecond:
        return QStringLiteral("\u00b5m/s");
    }
    return {};
}

QChart* CreateVelocityProfileChart(const RunSettings& settings, const RunResult& result, SpeedUnit unit)
{
    const std::vector<VelocityBand> bands = RunVelocityProfile(result);
    int counted = 0;
    int followed = 0;
    int fullest = 0;
    std::vector<double> speeds;  // of the bands with a speed
    for (const VelocityBand& band : bands) {
        counted += band.count;
        followed += band.followed;
        fullest = std::max(fullest, band.count);
        const double speed = BandSpeed(band, settings, unit);
        if (!std::isnan(speed))
            speeds.push_back(speed);
    }
    const QString unitText = SpeedUnitText(unit);
    auto* chart = new QChart;
    chart->setBackgroundRoundness(0);
    chart->legend()->setAlignment(Qt::AlignBottom);
    QString title = QStringLiteral("<b>Velocity profile of %1 counted particle%2, %3 followed</b><br>%4")
                        .arg(counted)
                        .arg(counted == 1 ? QString() : QStringLiteral("s"))
                        .arg(followed)
                        .arg(DirectionText(result.flowDirection));
    if (!speeds.empty()) {
        const auto [slowest, fastest] = std::minmax_element(speeds.begin(), speeds.end());
        title += QStringLiteral("; band means from %1 to <nobr>%2 %3</nobr>")
                     .arg(Number(*slowest), Number(*fastest), unitText);
    }
    chart->setTitle(QStringLiteral("<div align=\"center\">") + title + QStringLiteral("</div>"));

    auto* xAxis = new QValueAxis;
    xAxis->setTitleText(QStringLiteral("From the %1 wall (%)")
                            .arg(Vertical(result.flowDirection) ? QStringLiteral("left") : QStringLiteral("top")));
    xAxis->setRange(0.0, 100.0);
    xAxis->setTickCount(6);  // every other band's edge: readable in a narrow window
    xAxis->setLabelFormat(QStringLiteral("%d"));
    const double fastest = speeds.empty() ? 1.0 : *std::max_element(speeds.begin(), speeds.end());
    QValueAxis* speedAxis = ZeroBasedAxis(fastest, QStringLiteral("Mean speed along the flow (%1)").arg(unitText));
    QValueAxis* countAxis = ZeroBasedAxis(fullest, QStringLiteral("Counted particles"));
    chart->addAxis(xAxis, Qt::AlignBottom);
    chart->addAxis(speedAxis, Qt::AlignLeft);
    chart->addAxis(countAxis, Qt::AlignRight);

    // The counts as bars under the line, in a grey that leaves the line readable.
    const QColor grey(200, 200, 200);
    auto* upper = new QLineSeries;
    auto* lower = new QLineSeries;
    for (int b = 0; b < kVelocityBands; ++b) {
        const double left = b * kBandPercent + kBandPercent * 0.1;
        const double right = (b + 1) * kBandPercent - kBandPercent * 0.1;
        const int count = bands[static_cast<size_t>(b)].count;
        upper->append({QPointF(left, 0), QPointF(left, count), QPointF(right, count), QPointF(right, 0)});
        lower->append({QPointF(left, 0), QPointF(right, 0)});
    }
    auto* bars = new QAreaSeries(upper, lower);
    upper->setParent(bars);
    lower->setParent(bars);
    bars->setBrush(grey);
    bars->setPen(QPen(grey.darker(130), 1.0));
    bars->setName(QStringLiteral("Counted particles in the band"));
    chart->addSeries(bars);
    bars->attachAxis(xAxis);
    bars->attachAxis(countAxis);

    auto* line = new QLineSeries;
    for (int b = 0; b < kVelocityBands; ++b) {
        const double speed = BandSpeed(bands[static_cast<size_t>(b)], settings, unit);
        if (!std::isnan(speed))
            line->append((b + 0.5) * kBandPercent, speed);
    }
    line->setPen(QPen(QColor(0, 90, 200), 2.5));
    line->setPointsVisible(true);
    line->setName(QStringLiteral("Mean speed of the band's followed particles"));
    chart->addSeries(line);
    line->attachAxis(xAxis);
    line->attachAxis(speedAxis);
    return chart;
}
