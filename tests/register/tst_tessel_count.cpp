// The headless counter as a program: its outputs, its progress and its exit codes.

#include "register_test_support.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <map>
#include <set>

namespace {

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
    QJsonObject Json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
    std::vector<int> Ints(const char* key) const {
        std::vector<int> ints;
        for (const QJsonValue& v : Json()[QLatin1String(key)].toArray()) ints.push_back(v.toInt());
        return ints;
    }
    int Int(const char* key) const { return Json()[QLatin1String(key)].toInt(); }
};

// Runs tessel-count in `workDir` (where its log goes).
Outcome Count(const QStringList& arguments, const QString& workDir) {
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.start(QStringLiteral(TESSEL_COUNT_PATH), arguments);
    Outcome outcome;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) return outcome;
    outcome.exitCode = process.exitCode();
    outcome.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    outcome.err = QString::fromLocal8Bit(process.readAllStandardError());
    return outcome;
}

// Rows of a CSV file, split into fields (no quoted fields in generated flows).
QList<QStringList> CsvRows(const QString& path) {
    QFile file(path);
    QList<QStringList> rows;
    if (!file.open(QIODevice::ReadOnly)) return rows;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        rows << line.split(QLatin1Char(','));
    return rows;
}

const std::vector<int> kSelected = {0, 4, 8, 12, 16, 20, 24, 28, 29};

}  // namespace

class TestTesselCount : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void summaryMatchesTheWindowsRun();
    void csvRowsAgreeWithTheSummary();
    void circularityFilterMovesRowsToFiltered();
    void descendingOrderReversesTheFrames();
    void exportAndUnreadableFrames();
    void badUsageExitsTwo_data();
    void badUsageExitsTwo();
    void uncountableFoldersExitOne();
    void unwritableOutputsExitOne();

private:
    WrittenFlow flow;
    QTemporaryDir work;
    QString Path(const char* name) const { return work.filePath(QLatin1String(name)); }
};

void TestTesselCount::initTestCase() {
    QVERIFY(work.isValid());
    QVERIFY(WriteFlow(FlowOf(30, {160}), flow));
}

void TestTesselCount::summaryMatchesTheWindowsRun() {
    const Outcome json = Count({QStringLiteral("--json"), flow.Folder()}, work.path());
    QCOMPARE(json.exitCode, 0);
    QCOMPARE(json.Json().keys(), QStringList({"accumulated_shift", "count_greater", "count_in_range", "count_smaller",
                                              "frame_height", "frame_width", "frames", "particles", "selected_frames",
                                              "unreadable_frames"}));
    QCOMPARE(json.out.count(QLatin1Char('\n')), 1);
    ScopedWorkingDir cwd;
    CMivoRegisterManager reg;
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QCOMPARE(json.Int("frames"), 30);
    QCOMPARE(json.Int("frame_width"), 640);
    QCOMPARE(json.Int("frame_height"), 480);
    QCOMPARE(json.Ints("selected_frames"), kSelected);
    QCOMPARE(json.Int("accumulated_shift"), 160);
    QCOMPARE(json.Int("count_in_range"), reg.countInRange);
    QCOMPARE(json.Int("count_greater"), reg.countGreater);
    QCOMPARE(json.Int("count_smaller"), reg.countSmaller);
    QCOMPARE(json.Int("particles"), static_cast<int>(reg.foiParticles.size()));
    QVERIFY(json.Ints("unreadable_frames").empty());
    QVERIFY(QFile::exists(Path("log_KOV.txt")));

    // Progress on standard error, each text once; the summary as text.
    const Outcome text = Count({flow.Folder()}, work.path());
    QCOMPARE(text.exitCode, 0);
    const QStringList progress = text.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(progress.size(), 29 + 8);
    QCOMPARE(progress.first(), QStringLiteral("[Process] Building Full Image ... (3%)"));
    QCOMPARE(progress.last(), QStringLiteral("[Process] Counting particles ... (100%)"));
    QVERIFY(text.out.contains(QStringLiteral("Frames of interest: 0 4 8 12 16 20 24 28 29\n")));
    QVERIFY(text.out.contains(QStringLiteral("# Single:           %1 ").arg(reg.countInRange)));
}

void TestTesselCount::csvRowsAgreeWithTheSummary() {
    const Outcome outcome = Count({QStringLiteral("--json"), QStringLiteral("--pixel-size"), QStringLiteral("2"),
                                   QStringLiteral("--csv"), Path("p.csv"), QStringLiteral("--min-px"),
                                   QStringLiteral("30"), QStringLiteral("--max-px"), QStringLiteral("120"), flow.Folder()},
                                  work.path());
    QCOMPARE(outcome.exitCode, 0);
    const QList<QStringList> rows = CsvRows(Path("p.csv"));
    QCOMPARE(rows.first().join(QLatin1Char(',')), QStringLiteral("frame,file,x,y,area_px,area_um2,ratio,circularity,class"));
    QCOMPARE(rows.size() - 1, outcome.Int("particles"));
    const std::set<int> frames(kSelected.begin(), kSelected.end());
    std::map<QString, int> classes;
    for (int i = 1; i < rows.size(); ++i) {
        const QStringList& f = rows[i];
        const int frame = f[0].toInt();
        const int area = f[4].toInt();
        QVERIFY(f.size() == 9 && frames.count(frame) && f[1] == flow.names[frame]);
        QCOMPARE(f[5].toDouble(), area * 4.0);
        const QString expected = area < 30 ? QStringLiteral("smaller") : area > 120 ? QStringLiteral("bigger")
                                                                                    : QStringLiteral("single");
        QCOMPARE(f[8], expected);
        ++classes[f[8]];
    }
    QCOMPARE(classes[QStringLiteral("single")], outcome.Int("count_in_range"));
    QCOMPARE(classes[QStringLiteral("bigger")], outcome.Int("count_greater"));
    QCOMPARE(classes[QStringLiteral("smaller")], outcome.Int("count_smaller"));
}

void TestTesselCount::circularityFilterMovesRowsToFiltered() {
    const Outcome plain = Count({QStringLiteral("--json"), QStringLiteral("--csv"), Path("a.csv"), flow.Folder()}, work.path());
    const Outcome filtered = Count({QStringLiteral("--json"), QStringLiteral("--circularity"), QStringLiteral("0.85"),
                                    QStringLiteral("--csv"), Path("b.csv"), flow.Folder()},
                                   work.path());
    QVERIFY(plain.exitCode == 0 && filtered.exitCode == 0);
    const QList<QStringList> a = CsvRows(Path("a.csv"));
    const QList<QStringList> b = CsvRows(Path("b.csv"));
    QCOMPARE(a.size(), b.size());
    int failedSingles = 0, failed = 0;
    for (int i = 1; i < a.size(); ++i) {
        QCOMPARE(a[i].mid(0, 8), b[i].mid(0, 8));  // the same records in the same order
        const bool passes = a[i][7].toDouble() >= 0.85;
        QCOMPARE(b[i][8], passes ? a[i][8] : QStringLiteral("filtered"));
        failed += !passes;
        failedSingles += !passes && a[i][8] == QLatin1String("single");
    }
    QVERIFY(failedSingles > 0 && failed > failedSingles);
    QCOMPARE(filtered.Int("count_in_range"), plain.Int("count_in_range") - failedSingles);
}

void TestTesselCount::descendingOrderReversesTheFrames() {
    const Outcome outcome = Count({QStringLiteral("--json"), QStringLiteral("--order"), QStringLiteral("desc"),
                                   QStringLiteral("--csv"), Path("desc.csv"), flow.Folder()},
                                  work.path());
    QCOMPARE(outcome.exitCode, 0);
    // Backwards the flow moves left by the same shift: the same selection, frame 0
    // now being the last file.
    QCOMPARE(outcome.Ints("selected_frames"), kSelected);
    const QList<QStringList> rows = CsvRows(Path("desc.csv"));
    for (int i = 1; i < rows.size(); ++i) QCOMPARE(rows[i][1], flow.names[29 - rows[i][0].toInt()]);
}

void TestTesselCount::exportAndUnreadableFrames() {
    const QString target = Path("figures/run1");
    QCOMPARE(Count({QStringLiteral("--export"), target, flow.Folder()}, work.path()).exitCode, 0);
    const QStringList files = QDir(target).entryList(QDir::Files);
    QCOMPARE(files.size(), 2 * 9);
    QVERIFY(files.contains(QStringLiteral("pos_29_frame_0029.png")) && files.contains(QStringLiteral("res_12_frame_0012.png")));

    WrittenFlow spoiled;
    QVERIFY(WriteFlow(FlowOf(12, {160}), spoiled));
    QVERIFY(Spoil(spoiled.Path(5)));
    const Outcome json = Count({QStringLiteral("--json"), spoiled.Folder()}, work.path());
    QCOMPARE(json.exitCode, 0);
    QCOMPARE(json.Ints("unreadable_frames"), std::vector<int>({5}));
    QVERIFY(Count({spoiled.Folder()}, work.path()).out.contains(QStringLiteral("Unreadable frames:  5\n")));
}

void TestTesselCount::badUsageExitsTwo_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no folder") << QStringList();
    QTest::newRow("two folders") << QStringList({"a", "b"});
    QTest::newRow("unknown option") << QStringList({"--colour", "x"});
    QTest::newRow("value missing") << QStringList({"x", "--method"});
    for (const char* method : {"0", "4", "two"}) QTest::addRow("method %s", method) << QStringList({"--method", method, "x"});
    QTest::newRow("min-px 0") << QStringList({"--min-px", "0", "x"});
    QTest::newRow("max-px text") << QStringList({"--max-px", "many", "x"});
    QTest::newRow("pixel-size 0") << QStringList({"--pixel-size", "0", "x"});
    QTest::newRow("circularity 2") << QStringList({"--circularity", "2", "x"});
    QTest::newRow("circularity nan") << QStringList({"--circularity", "nan", "x"});
    QTest::newRow("sort colour") << QStringList({"--sort", "colour", "x"});
    QTest::newRow("order up") << QStringList({"--order", "up", "x"});
    QTest::newRow("csv empty") << QStringList({"--csv=", "x"});
}

void TestTesselCount::badUsageExitsTwo() {
    QFETCH(QStringList, arguments);
    const Outcome outcome = Count(arguments, work.path());
    QCOMPARE(outcome.exitCode, 2);
    QVERIFY(outcome.err.contains(QStringLiteral("Usage: tessel-count [options] FOLDER")));
    QVERIFY(outcome.out.isEmpty());
    if (QTest::currentDataTag() != QByteArray("no folder")) return;
    const Outcome help = Count({QStringLiteral("--help")}, work.path());
    QVERIFY(help.exitCode == 0 && help.out.contains(QStringLiteral("--circularity <V>")));
}

void TestTesselCount::uncountableFoldersExitOne() {
    QTemporaryDir five;
    for (int t = 0; t < 5; ++t) QVERIFY(QFile::copy(QString::fromStdString(flow.Path(t)), five.filePath(flow.names[t])));
    QVERIFY(QDir(five.path()).mkdir(QStringLiteral("sub.png")));
    for (const QString& folder : {five.path(), Path("absent")}) {
        const Outcome outcome = Count({QStringLiteral("--json"), folder}, work.path());
        QCOMPARE(outcome.exitCode, 1);
        QCOMPARE(outcome.err, QStringLiteral("[ERRO] No images were found\n"));
        QVERIFY(outcome.out.isEmpty());
    }
    QVERIFY(QFile::copy(QString::fromStdString(flow.Path(5)), five.filePath(flow.names[5])));
    QCOMPARE(Count({five.path()}, work.path()).exitCode, 0);

    // Frame 0 unreadable: nothing can be measured.
    QVERIFY(Spoil((five.path() + QStringLiteral("/frame_0000.png")).toStdString()));
    const Outcome outcome = Count({five.path()}, work.path());
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.err, QStringLiteral("[ERRO] Can not read image frame_0000.png\n"));
    QVERIFY(outcome.out.isEmpty());
}

void TestTesselCount::unwritableOutputsExitOne() {
    // A regular file where a folder is needed.
    const QString blocker = Path("blocker");
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const Outcome csv = Count({QStringLiteral("--csv"), blocker + QStringLiteral("/p.csv"), flow.Folder()}, work.path());
    QCOMPARE(csv.exitCode, 1);
    QVERIFY(csv.err.contains(QStringLiteral("[ERRO] Can not write %1/p.csv\n").arg(blocker)));

    const Outcome figures = Count(
        {QStringLiteral("--json"), QStringLiteral("--export"), blocker + QStringLiteral("/figures"), flow.Folder()}, work.path());
    QCOMPARE(figures.exitCode, 1);
    const QStringList errors = figures.err.split(QLatin1Char('\n')).filter(QStringLiteral("[ERRO] Can not write "));
    QCOMPARE(errors.size(), 2 * 9);
    QVERIFY(errors.contains(QStringLiteral("[ERRO] Can not write %1/figures/res_29_frame_0029.png").arg(blocker)));
    QCOMPARE(figures.Int("frames"), 30);  // the count itself is still summarised
}

QTEST_GUILESS_MAIN(TestTesselCount)
#include "tst_tessel_count.moc"
