// Size statistics and histogram bins of hand-worked particle lists. A pixel side of
// sqrt(pi) / 2 um makes the ECD of a particle of A pixels exactly sqrt(A) um.

#include "register/size_histogram.h"
#include "register/size_statistics.h"
#include "register_test_support.h"

#include <QTest>

#include <array>
#include <cmath>
#include <limits>

namespace {

using Records = std::vector<ParticleMeasure>;
const double kPi = 3.14159265358979323846;
const double kPixelSize = std::sqrt(kPi) / 2;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Bounds 25 and 100 pixels (ECD 5 and 10 um).
ParticleClassRules Rules(bool filter)
{
    return ParticleClassRules{filter, 0.5, 25, 100};
}

ParticleMeasure Record(int area, double circularity = 0.9)
{
    return ParticleMeasure{0, 10, 10, area, 0.8, circularity, area >= 25 && area <= 100};
}

// ECDs 4 (smaller), 6, 8, 10 (single) and 12 (bigger).
const Records kFive = {Record(16), Record(36), Record(64), Record(100), Record(144)};
// With the filter on: 6 fails the test, a NaN circularity fails it, and a record whose
// flag says out of range but whose area lies within the bounds is uncounted.
const Records kFiltered = [] {
    Records records = kFive;
    records[1].circularity = 0.3;
    records.push_back(Record(49, kNaN));
    records.push_back(Record(50));
    records.back().inRange = false;
    return records;
}();

using Bins = std::vector<std::array<int, 3>>;  // single, bigger, smaller per bin

}  // namespace

class TestSizeDistribution : public QObject {
    Q_OBJECT

private slots:
    void distribution_data();
    void distribution();
    void csvAndJson();
    void significantText();
};

void TestSizeDistribution::distribution_data()
{
    QTest::addColumn<Records>("records");
    QTest::addColumn<bool>("filter");
    QTest::addColumn<int>("counted");
    QTest::addColumn<std::vector<double>>("stats");  // D10, D50, D90, mean ECD, mean area / pi
    // Ten bins per decade: edges 3.98, 5.01, 6.31, 7.94, 10, 12.6, 15.8, 20, 25.1 um. The
    // bounds, 5 and 10 um, alone span 3.98 .. 12.6.
    QTest::addColumn<Bins>("bins");
    const Bins::value_type none = {0, 0, 0};
    QTest::newRow("empty run") << Records{} << false << 0 << std::vector<double>(5, kNaN) << Bins(5, none);
    Bins beyond(8, none);  // 20 um starts the bin 20 .. 25.1
    beyond.back() = {0, 1, 0};
    QTest::newRow("one particle") << Records{Record(400)} << false << 1 << std::vector<double>{20, 20, 20, 20, 100}
                                  << beyond;
    // Ranks 0.4, 2, 3.6 of 4 6 8 10 12; mean area (16 + 36 + 64 + 100 + 144) / 5 x pi / 4.
    // 10 um lies on an edge: it starts the last bin, beside 12 um.
    QTest::newRow("five") << kFive << false << 5 << std::vector<double>{4.8, 8, 11.2, 8, 18}
                          << Bins{{0, 0, 1}, {1, 0, 0}, none, {1, 0, 0}, {1, 1, 0}};
    // 4 8 10 12 left: ranks 0.3, 1.5, 2.7; mean area 324 / 4 x pi / 4.
    QTest::newRow("filtered") << kFiltered << true << 4 << std::vector<double>{5.2, 9, 11.4, 8.5, 20.25}
                              << Bins{{0, 0, 1}, none, none, {1, 0, 0}, {1, 1, 0}};
}

void TestSizeDistribution::distribution()
{
    QFETCH(Records, records);
    QFETCH(bool, filter);
    QFETCH(int, counted);
    QFETCH(std::vector<double>, stats);
    QFETCH(Bins, bins);
    const SizeStatistics computed = ComputeSizeStatistics(records, Rules(filter), kPixelSize);
    QCOMPARE(computed.counted, counted);
    const double seen[] = {computed.d10Um, computed.d50Um, computed.d90Um, computed.meanEcdUm,
                           computed.meanAreaUm2 / kPi};
    for (size_t i = 0; i < stats.size(); ++i)
        QVERIFY2(std::isnan(stats[i]) ? std::isnan(seen[i]) : std::fabs(seen[i] - stats[i]) < 1e-9,
                 qPrintable(QString::number(i)));

    const SizeHistogram histogram = ComputeSizeHistogram(records, Rules(filter), kPixelSize, 10);
    QCOMPARE(histogram.minBoundEcdUm, 5.0);
    QCOMPARE(histogram.maxBoundEcdUm, 10.0);
    QCOMPARE(histogram.bins.size(), bins.size());
    QCOMPARE(histogram.bins.front().lowerUm, std::pow(10.0, 0.6));  // the edges: see csvAndJson
    for (size_t i = 0; i < bins.size(); ++i)
        QCOMPARE((Bins::value_type{histogram.bins[i].single, histogram.bins[i].bigger, histogram.bins[i].smaller}),
                 bins[i]);
}

void TestSizeDistribution::csvAndJson()
{
    const SizeHistogram histogram = ComputeSizeHistogram(kFive, Rules(false), kPixelSize, 10);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bins.csv"));
    QVERIFY(WriteSizeHistogramCsv(path, histogram));
    QCOMPARE(ReadText(path), QStringLiteral("lower_um,upper_um,single,bigger,smaller,total\n"
                                            "3.98107,5.01187,0,0,1,1\n"
                                            "5.01187,6.30957,1,0,0,1\n"
                                            "6.30957,7.94328,0,0,0,0\n"
                                            "7.94328,10,1,0,0,1\n"
                                            "10,12.5893,1,1,0,2\n"));
    QVERIFY(!WriteSizeHistogramCsv(dir.filePath(QStringLiteral("missing/bins.csv")), histogram));

    QCOMPARE(SizeStatisticsJson(ComputeSizeStatistics({}, Rules(false), kPixelSize)),
             QStringLiteral("{\"counted\":0,\"d10_um\":null,\"d50_um\":null,\"d90_um\":null,\"mean_ecd_um\":null,"
                            "\"mean_area_um2\":null,\"mean_aspect_ratio\":null}"));
    QCOMPARE(SizeStatisticsJson(ComputeSizeStatistics(kFive, Rules(false), kPixelSize)),
             QStringLiteral("{\"counted\":5,\"d10_um\":4.8,\"d50_um\":8,\"d90_um\":11.2,\"mean_ecd_um\":8,"
                            "\"mean_area_um2\":56.5487,\"mean_aspect_ratio\":null}"));

    // The mean aspect ratio of the counted particles whose calipers were measured: 2 and 4
    // (the filtered one of 8 and the unmeasured ones left out).
    Records shaped = kFiltered;
    const auto calipers = [](ParticleMeasure& r, double longest, double shortest) {
        r.feretMax = longest, r.feretMin = shortest;
    };
    calipers(shaped[0], 6.0, 3.0);
    calipers(shaped[1], 8.0, 1.0);
    calipers(shaped[2], 12.0, 3.0);
    const SizeStatistics stats = ComputeSizeStatistics(shaped, Rules(true), kPixelSize);
    QCOMPARE(stats.meanAspectRatio, 3.0);
    QVERIFY(SizeStatisticsJson(stats).endsWith(QStringLiteral(",\"mean_aspect_ratio\":3}")));
}

void TestSizeDistribution::significantText()
{
    const std::vector<std::pair<double, QString>> cases = {{8.123, "8.12"},      {150.3, "150"},  {9.996, "10.0"},
                                                           {0.012345, "0.0123"}, {-2.5, "-2.50"}, {kNaN, "n/a"}};
    for (const auto& [value, text] : cases) QCOMPARE(SignificantText(value), text);
}

QTEST_GUILESS_MAIN(TestSizeDistribution)
#include "tst_size_distribution.moc"
