#include "dialogs/size_distribution_chart.h"

#include "dialogs/chart_panel.h"
#include "register/whole_file.h"

#include <QAreaSeries>
#include <QBuffer>
#include <QCategoryAxis>
#include <QChart>
#include <QFileInfo>
#include <QGraphicsScene>
#include <QImage>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QSvgGenerator>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

const QString kMicro = QStringLiteral("\u00b5m");
const QString kSquareMicro = QStringLiteral("\u00b5m\u00b2");

// The circle colour of a class, taken from the rule that colours the circles, applied
// to a record of that class (circularity 1 passes any threshold).
QColor CircleColour(ParticleClass kind, const ParticleClassRules& rules)
{
    ParticleMeasure record{0, 0, 0, 0, 1.0, 1.0, kind == ParticleClass::Single};
    record.area = kind == ParticleClass::Smaller ? rules.minArea - 1 : rules.maxArea + 1;
    const cv::Scalar bgr = ClassifyParticle(record, rules).colour;
    return QColor(static_cast<int>(bgr[2]), static_cast<int>(bgr[1]), static_cast<int>(bgr[0]));
}

QAreaSeries* Area(const QColor& colour)
{
    auto* upper = new QLineSeries;
    auto* lower = new QLineSeries;
    auto* bar = new QAreaSeries(upper, lower);
    upper->setParent(bar);
    lower->setParent(bar);
    bar->setBrush(colour);
    bar->setPen(QPen(colour.darker(170), 1.0));
    return bar;
}

// One bar from `base` to `top` particles over [left, right] (log10 of micrometres).
QAreaSeries* Bar(double left, double right, int base, int top, const QColor& colour)
{
    QAreaSeries* bar = Area(colour);
    bar->upperSeries()->append({QPointF(left, top), QPointF(right, top)});
    bar->lowerSeries()->append({QPointF(left, base), QPointF(right, base)});
    return bar;
}

QLineSeries* VerticalLine(double x, double height, const QPen& pen)
{
    auto* line = new QLineSeries;
    line->append(x, 0.0);
    line->append(x, height);
    line->setPen(pen);
    return line;
}

// Tick values for a log axis from lo to hi micrometres: the sparsest of the usual
// mantissa series that gives at least six ticks, so that half a decade is labelled as
// readably as five decades.
std::vector<double> LogTicks(double lo, double hi)
{
    static const std::vector<std::vector<double>> series = {
        {1}, {1, 2, 5}, {1, 2, 3, 5, 7}, {1, 1.5, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 1.2, 1.5, 2, 2.5, 3, 4, 5, 6, 7, 8, 9}};
    std::vector<double> ticks;
    for (const std::vector<double>& mantissas : series) {
        ticks.clear();
        for (int decade = static_cast<int>(std::floor(std::log10(lo))); decade <= std::ceil(std::log10(hi)); ++decade)
            for (double mantissa : mantissas) {
                const double value = mantissa * std::pow(10.0, decade);
                if (value >= lo && value <= hi)
                    ticks.push_back(value);
            }
        if (ticks.size() >= 6)
            break;
    }
    return ticks;
}

QString BoundsLabel(const SizeHistogram& histogram)
{
    return QStringLiteral("Size range %1\u2013%2 px (%3\u2013%4 %5)")
        .arg(histogram.rules.minArea)
        .arg(histogram.rules.maxArea)
        .arg(SignificantText(histogram.minBoundEcdUm), SignificantText(histogram.maxBoundEcdUm), kMicro);
}

}  // namespace

QString SizeAxisName(SizeAxis axis)
{
    return axis == SizeAxis::kFeretMax ? QStringLiteral("Longest Feret diameter")
                                       : QStringLiteral("Equivalent circular diameter");
}

QString SizeDistributionTitle(const SizeHistogram& histogram, const SizeStatistics& stats)
{
    QString title = stats.counted == 0 ? QStringLiteral("<b>No particles counted</b>")
                                       : QStringLiteral("<b>Size distribution of %1 counted particle%2</b>")
                                             .arg(stats.counted)
                                             .arg(stats.counted == 1 ? QString() : QStringLiteral("s"));
    if (stats.counted > 0)
        title += QStringLiteral("<br>D10 %1 %6 &nbsp; D50 %2 %6 &nbsp; D90 %3 %6 &nbsp; mean ECD %4 %6 &nbsp; "
                                "mean area %5 %7")
                     .arg(SignificantText(stats.d10Um), SignificantText(stats.d50Um), SignificantText(stats.d90Um),
                          SignificantText(stats.meanEcdUm), SignificantText(stats.meanAreaUm2), kMicro, kSquareMicro);
    if (histogram.rules.circularityFilter)
        title += QStringLiteral("<br>circularity filter: at least %1").arg(histogram.rules.minCircularity, 0, 'g', 3);
    return QStringLiteral("<div align=\"center\">") + title + QStringLiteral("</div>");
}

QChart* CreateSizeDistributionChart(const SizeHistogram& histogram, const SizeStatistics& stats)
{
    auto* chart = new QChart;
    chart->setTitle(SizeDistributionTitle(histogram, stats));
    chart->setBackgroundRoundness(0);
    chart->legend()->setAlignment(Qt::AlignBottom);

    // Bars live in log10 coordinates; the x axis labels them in micrometres.
    int tallest = 0;
    for (const SizeHistogramBin& bin : histogram.bins)
        tallest = std::max(tallest, bin.Total());
    const double yStep = NiceStep(std::max(1.0, tallest / 6.0));
    const double yTop = std::max(5.0, std::ceil(tallest * 1.05 / yStep)) * yStep;  // five steps at least

    double lo = 1.0;  // a decade around 10 um when nothing has a size
    double hi = 100.0;
    if (!histogram.bins.empty()) {
        const double margin = std::log10(histogram.bins.front().upperUm / histogram.bins.front().lowerUm) / 2;
        lo = std::pow(10.0, std::log10(histogram.bins.front().lowerUm) - margin);
        hi = std::pow(10.0, std::log10(histogram.bins.back().upperUm) + margin);
    }

    auto* xAxis = new QCategoryAxis;
    xAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    xAxis->setTitleText(QStringLiteral("%1 (%2, log scale)").arg(SizeAxisName(histogram.axis), kMicro));
    xAxis->setRange(std::log10(lo), std::log10(hi));
    xAxis->setStartValue(std::log10(lo));
    for (double tick : LogTicks(lo, hi))
        xAxis->append(QString::number(tick, 'g', 6), std::log10(tick));
    auto* yAxis = new QValueAxis;
    yAxis->setTitleText(QStringLiteral("Particles per bin (%1 bins per decade)").arg(histogram.binsPerDecade));
    yAxis->setRange(0.0, yTop);
    yAxis->setTickType(QValueAxis::TicksDynamic);
    yAxis->setTickAnchor(0.0);
    yAxis->setTickInterval(yStep);
    yAxis->setLabelFormat(QStringLiteral("%d"));
    chart->addAxis(xAxis, Qt::AlignBottom);
    chart->addAxis(yAxis, Qt::AlignLeft);

    const auto add = [&](QAbstractSeries* series, const QString& legend) {
        chart->addSeries(series);
        series->attachAxis(xAxis);
        series->attachAxis(yAxis);
        series->setName(legend);
        for (QLegendMarker* marker : chart->legend()->markers(series))
            marker->setVisible(!legend.isEmpty());
    };
    // Single at the foot of each bar, bigger and smaller (one colour, as their circles)
    // on top. The first bar of a class carries its legend entry; an area without points
    // stands in when the class has no particle, so the legend always explains both colours.
    const auto addBars = [&](ParticleClass kind, const QString& legend) {
        const QColor colour = CircleColour(kind, histogram.rules);
        bool named = false;
        for (const SizeHistogramBin& bin : histogram.bins) {
            const int base = kind == ParticleClass::Single ? 0 : bin.single;
            const int top = kind == ParticleClass::Single ? bin.single : bin.Total();
            if (top == base)
                continue;
            add(Bar(std::log10(bin.lowerUm), std::log10(bin.upperUm), base, top, colour), named ? QString() : legend);
            named = true;
        }
        if (!named)
            add(Area(colour), legend);
    };
    addBars(ParticleClass::Single, QStringLiteral("Single (in range)"));
    addBars(ParticleClass::Bigger, QStringLiteral("Bigger or smaller (out of range)"));

    QPen boundPen(QColor(40, 40, 40), 2.0, Qt::DashLine);
    bool boundNamed = false;
    for (double bound : {histogram.minBoundEcdUm, histogram.maxBoundEcdUm}) {
        if (!(bound > 0.0))
            continue;
        QLineSeries* line = VerticalLine(std::log10(bound), yTop, boundPen);
        add(line, boundNamed ? QString() : BoundsLabel(histogram));
        for (QLegendMarker* marker : chart->legend()->markers(line))
            marker->setShape(QLegend::MarkerShapeFromSeries);  // a dashed line, as drawn
        boundNamed = true;
    }
    return chart;
}

bool SaveSizeDistributionChart(const QString& path, const SizeHistogram& histogram, const SizeStatistics& stats,
                               QSize size)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("png") && suffix != QLatin1String("svg"))
        return false;

    QGraphicsScene scene;  // owns the chart
    QChart* chart = CreateSizeDistributionChart(histogram, stats);
    scene.addItem(chart);
    chart->setGeometry(QRectF(QPointF(0, 0), size));
    const QRectF area(QPointF(0, 0), size);

    QBuffer bytes;
    bytes.open(QIODevice::WriteOnly);
    if (suffix == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setOutputDevice(&bytes);
        svg.setSize(size);
        svg.setViewBox(area);
        svg.setTitle(QStringLiteral("Size distribution"));
        svg.setDescription(QStringLiteral("Particles per bin over the ") + SizeAxisName(histogram.axis).toLower());
        QPainter painter(&svg);
        scene.render(&painter, area, area);
    } else {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            scene.render(&painter, area, area);
        }
        if (!image.save(&bytes, "PNG"))
            return false;
    }
    bytes.close();
    return WriteWholeFile(path, bytes.data());
}
