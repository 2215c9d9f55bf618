// The size-distribution chart as files (PNG, SVG) and in its window.

#include "dialogs/size_distribution_chart.h"
#include "dialogs/size_distribution_dialog.h"

#include <QAreaSeries>
#include <QChart>
#include <QComboBox>
#include <QGraphicsScene>
#include <QImage>
#include <QLineSeries>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

using Records = std::vector<ParticleMeasure>;
const ParticleClassRules kRules{false, 0.5, 25, 100};

ParticleMeasure Record(int area)
{
    return ParticleMeasure{0, 10, 10, area, 0.8, 0.9, area >= 25 && area <= 100};
}

// Twelve single particles of 70 pixels and three bigger ones of 441: two bars, the
// ECDs (9.44 and 23.7 um) in the middle of their bins (8.91 .. 10 and 22.4 .. 25.1).
const Records kTwoBars = [] {
    Records records(12, Record(70));
    records.insert(records.end(), 3, Record(441));
    return records;
}();

struct Distribution {
    SizeHistogram histogram;
    SizeStatistics stats;
};

Distribution Of(const Records& records)
{
    return {ComputeSizeHistogram(records, kRules, 1.0), ComputeSizeStatistics(records, kRules, 1.0)};
}

// How many outlined shapes the SVG fills with a colour; -1 when it does not parse. Each
// shape sits in a group that carries its fill.
int FilledShapes(const QString& path, const QString& colour)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return -1;
    QXmlStreamReader svg(&file);
    QString fill;
    int count = 0;
    while (!svg.atEnd()) {
        if (svg.readNext() != QXmlStreamReader::StartElement) continue;
        if (svg.name() == QLatin1String("g")) fill = svg.attributes().value(QStringLiteral("fill")).toString();
        count += fill == colour && (svg.name() == QLatin1String("rect") ||
                                    (svg.name() == QLatin1String("path") && !svg.attributes().value("d").isEmpty()));
    }
    return svg.hasError() ? -1 : count;
}

}  // namespace

class TestSizeDistributionChart : public QObject {
    Q_OBJECT

private slots:
    void filesHoldTheBars();
    void dialogFollowsAnUpdate();
};

void TestSizeDistributionChart::filesHoldTheBars()
{
    QTemporaryDir dir;
    const QSize size(720, 450);
    const Distribution bars = Of(kTwoBars);
    const Distribution empty = Of({});
    for (const QString name : {"bars.png", "bars.svg", "empty.png", "empty.svg"}) {
        const Distribution& d = name.startsWith(QLatin1String("bars")) ? bars : empty;
        QVERIFY2(SaveSizeDistributionChart(dir.filePath(name), d.histogram, d.stats, size), qPrintable(name));
    }
    QVERIFY(!SaveSizeDistributionChart(dir.filePath(QStringLiteral("bars.jpg")), bars.histogram, bars.stats, size));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("bars.jpg"))));

    // The PNG: the requested size, each bar's middle in its class colour.
    const QImage png(dir.filePath(QStringLiteral("bars.png")));
    QCOMPARE(png.size(), size);
    QGraphicsScene scene;  // the chart laid out as the saved one
    QChart* chart = CreateSizeDistributionChart(bars.histogram, bars.stats);
    scene.addItem(chart);
    chart->setGeometry(QRectF(QPointF(0, 0), size));
    const auto middle = [chart](int area, int height) {
        return chart->mapToPosition(QPointF(std::log10(EquivalentCircularDiameterUm(area, 1.0)), height / 2.0))
            .toPoint();
    };
    QCOMPARE(png.pixelColor(middle(70, 12)), QColor(0, 255, 0));
    QCOMPARE(png.pixelColor(middle(441, 3)), QColor(255, 0, 0));
    QCOMPARE(QImage(dir.filePath(QStringLiteral("empty.png"))).pixelColor(middle(70, 12)), QColor(Qt::white));

    // The SVG parses and draws one green and one red shape more than the empty chart
    // (whose legend shows both colours as well).
    for (const QString colour : {"#00ff00", "#ff0000"}) {
        const int legendOnly = FilledShapes(dir.filePath(QStringLiteral("empty.svg")), colour);
        QVERIFY(legendOnly >= 0);
        QCOMPARE(FilledShapes(dir.filePath(QStringLiteral("bars.svg")), colour), legendOnly + 1);
    }
}

void TestSizeDistributionChart::dialogFollowsAnUpdate()
{
    CSizeDistributionDialog dialog;
    const auto bars = [&dialog] {  // area series of some height
        int count = 0;
        for (QAbstractSeries* series : dialog.Chart()->series())
            if (auto* area = qobject_cast<QAreaSeries*>(series))
                count += area->upperSeries()->count() > 0 && area->upperSeries()->at(0).y() > 0;
        return count;
    };
    QVERIFY(dialog.Title().contains(QLatin1String("No particles counted")));
    QCOMPARE(bars(), 0);

    const Distribution d = Of(kTwoBars);
    dialog.SetDistribution(d.histogram, d.stats);
    QVERIFY(dialog.Title().contains(QLatin1String("15 counted particles")));
    QCOMPARE(bars(), 2);

    // By the longest Feret diameter: slim singles (20 px long) and bigger ones 30 px long
    // fall into the bins of 20 and 30 um, and the range's bounds (areas) are not drawn.
    Records slim = kTwoBars;
    for (ParticleMeasure& r : slim) r.feretMax = r.area == 70 ? 20.0 : 30.0, r.feretMin = 4.0;
    const Distribution s = Of(slim);
    const auto lines = [&dialog] {
        int count = 0;
        for (QAbstractSeries* series : dialog.Chart()->series()) count += qobject_cast<QLineSeries*>(series) != nullptr;
        return count;
    };
    const auto xTitle = [&dialog] { return dialog.Chart()->axes(Qt::Horizontal).at(0)->titleText(); };
    dialog.SetDistribution(s.histogram, s.stats, ComputeSizeHistogram(slim, kRules, 1.0, 20, SizeAxis::kFeretMax));
    QVERIFY(xTitle().startsWith(QLatin1String("Equivalent circular diameter")));
    QCOMPARE(lines(), 2);
    auto* choice = dialog.findChild<QComboBox*>(QStringLiteral("comboBox_sizeAxis"));
    QVERIFY(choice);
    choice->setCurrentIndex(1);
    QCOMPARE(dialog.Axis(), SizeAxis::kFeretMax);
    QVERIFY(xTitle().startsWith(QLatin1String("Longest Feret diameter")));
    QCOMPARE(bars(), 2);
    QCOMPARE(lines(), 0);
    std::vector<std::pair<double, int>> filled;  // lower edge, particles
    for (const SizeHistogramBin& bin : dialog.Histogram().bins)
        if (bin.Total() > 0) filled.emplace_back(bin.lowerUm, bin.Total());
    QCOMPARE(filled.size(), 2u);
    QVERIFY(filled[0].first <= 20.0 && 20.0 < filled[0].first * 1.13 && filled[0].second == 12);
    QVERIFY(filled[1].first <= 30.0 && 30.0 < filled[1].first * 1.13 && filled[1].second == 3);
    dialog.SetAxis(SizeAxis::kEcd);
    QCOMPARE(lines(), 2);
}

QTEST_MAIN(TestSizeDistributionChart)
#include "tst_size_distribution_chart.moc"
