// The headless counter as a program: its outputs, its progress and its exit codes.

#include "register_test_support.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <set>

namespace {

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
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

QJsonObject Json(const Outcome& outcome) {
    return QJsonDocument::fromJson(outcome.out.toUtf8()).object();
}

std::vector<int> Ints(const QJsonValue& value) {
    std::vector<int> ints;
    for (const QJsonValue& v : value.toArray()) ints.push_back(v.toInt());
    return ints;
}

QStringList CsvLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

}  // namespace

class TestTesselCount : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void jsonSummaryMatchesTheWindowsRun();
    void csvRowsAgreeWithTheSummary();
    void circularityFilterMovesRowsToFiltered();
    void frameOrderFollowsSortAndOrder();
    void progressAndTextSummary();
    void exportWritesThePairs();
    void unreadableFrameIsReported();

    void badUsageExitsTwo_data();
    void badUsageExitsTwo();
    void helpExitsZero();
    void uncountableFoldersExitOne();
    void unwritableOutputsExitOne();

private:
    WrittenFlow flow;
    QTemporaryDir work;
};

void TestTesselCount::initTestCase() {
    QVERIFY(work.isValid());
    QVERIFY(WriteFlow(FlowOf(30, {160}), flow));
}

void TestTesselCount::jsonSummaryMatchesTheWindowsRun() {
    const Outcome outcome = Count({QStringLiteral("--json"), flow.Folder()}, work.path());
    QCOMPARE(outcome.exitCode, 0);
    const QJsonObject json = Json(outcome);
    const QStringList keys = {"accumulated_shift", "count_greater", "count_in_range", "count_smaller", "frame_height",
                              "frame_width", "frames", "particles", "selected_frames", "unreadable_frames"};
    QCOMPARE(json.keys(), keys);
    QCOMPARE(outcome.out.count(QLatin1Char('\n')), 1);

    ScopedWorkingDir cwd;
    CMivoRegisterManager reg;
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QCOMPARE(json[QStringLiteral("frames")].toInt(), 30);
    QCOMPARE(json[QStringLiteral("frame_width")].toInt(), 640);
    QCOMPARE(json[QStringLiteral("frame_height")].toInt(), 480);
    QCOMPARE(Ints(json[QStringLiteral("selected_frames")]), std::vector<int>({0, 4, 8, 12, 16, 20, 24, 28, 29}));
    QCOMPARE(json[QStringLiteral("accumulated_shift")].toInt(), 160);
    QCOMPARE(json[QStringLiteral("count_in_range")].toInt(), reg.countInRange);
    QCOMPARE(json[QStringLiteral("count_greater")].toInt(), reg.countGreater);
    QCOMPARE(json[QStringLiteral("count_smaller")].toInt(), reg.countSmaller);
    QCOMPARE(json[QStringLiteral("particles")].toInt(), static_cast<int>(reg.foiParticles.size()));
    QVERIFY(json[QStringLiteral("unreadable_frames")].toArray().isEmpty());
    // The pipeline's log went to the counter's working directory.
    QVERIFY(QFile::exists(work.filePath(QStringLiteral("log_KOV.txt"))));
}

void TestTesselCount::csvRowsAgreeWithTheSummary() {
    const QString csv = work.filePath(QStringLiteral("p.csv"));
    const Outcome outcome =
        Count({QStringLiteral("--json"), QStringLiteral("--pixel-size"), QStringLiteral("2"), QStringLiteral("--csv"),
               csv, QStringLiteral("--min-px"), QStringLiteral("30"), QStringLiteral("--max-px"), QStringLiteral("120"),
               flow.Folder()},
              work.path());
    QCOMPARE(outcome.exitCode, 0);
    const QJsonObject json = Json(outcome);
    const QStringList lines = CsvLines(csv);
    QCOMPARE(lines.first(), QStringLiteral("frame,file,x,y,area_px,area_um2,ratio,circularity,class"));
    QCOMPARE(lines.size() - 1, json[QStringLiteral("particles")].toInt());
    const std::vector<int> selected = Ints(json[QStringLiteral("selected_frames")]);
    const std::set<int> frames(selected.begin(), selected.end());
    int single = 0, bigger = 0, smaller = 0;
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList f = lines[i].split(QLatin1Char(','));
        QCOMPARE(f.size(), 9);
        const int frame = f[0].toInt();
        QVERIFY(frames.count(frame));
        QCOMPARE(f[1], flow.names[frame]);
        const int area = f[4].toInt();
        QCOMPARE(f[5].toDouble(), area * 4.0);
        const QString kind = f[8];
        if (kind == QLatin1String("single")) {
            ++single;
            QVERIFY(area >= 30 && area <= 120);
        } else if (kind == QLatin1String("bigger")) {
            ++bigger;
            QVERIFY(area > 120);
        } else if (kind == QLatin1String("smaller")) {
            ++smaller;
            QVERIFY(area < 30);
        } else {
            QFAIL(qPrintable(QStringLiteral("unexpected class ") + kind));
        }
    }
    QCOMPARE(single, json[QStringLiteral("count_in_range")].toInt());
    QCOMPARE(bigger, json[QStringLiteral("count_greater")].toInt());
    QCOMPARE(smaller, json[QStringLiteral("count_smaller")].toInt());
}

void TestTesselCount::circularityFilterMovesRowsToFiltered() {
    const QString plainCsv = work.filePath(QStringLiteral("plain.csv"));
    const QString filteredCsv = work.filePath(QStringLiteral("filtered.csv"));
    const Outcome plain = Count({QStringLiteral("--json"), QStringLiteral("--csv"), plainCsv, flow.Folder()}, work.path());
    const Outcome filtered = Count({QStringLiteral("--json"), QStringLiteral("--circularity"), QStringLiteral("0.85"),
                                    QStringLiteral("--csv"), filteredCsv, flow.Folder()},
                                   work.path());
    QCOMPARE(plain.exitCode, 0);
    QCOMPARE(filtered.exitCode, 0);
    const QStringList a = CsvLines(plainCsv);
    const QStringList b = CsvLines(filteredCsv);
    QCOMPARE(a.size(), b.size());
    int failedInRange = 0, failed = 0;
    for (int i = 1; i < a.size(); ++i) {
        const QStringList fa = a[i].split(QLatin1Char(','));
        const QStringList fb = b[i].split(QLatin1Char(','));
        QCOMPARE(fa.mid(0, 8), fb.mid(0, 8));  // same records, same order
        const bool passes = fa[7].toDouble() >= 0.85;
        QCOMPARE(fb[8], passes ? fa[8] : QStringLiteral("filtered"));
        if (!passes) {
            ++failed;
            if (fa[8] == QLatin1String("single")) ++failedInRange;
        }
    }
    QVERIFY(failedInRange > 0 && failed > failedInRange);
    QCOMPARE(Json(filtered)[QStringLiteral("count_in_range")].toInt(),
             Json(plain)[QStringLiteral("count_in_range")].toInt() - failedInRange);
}

void TestTesselCount::frameOrderFollowsSortAndOrder() {
    const QString csv = work.filePath(QStringLiteral("desc.csv"));
    const Outcome outcome = Count({QStringLiteral("--json"), QStringLiteral("--order"), QStringLiteral("desc"),
                                   QStringLiteral("--csv"), csv, flow.Folder()},
                                  work.path());
    QCOMPARE(outcome.exitCode, 0);
    // Backwards the flow moves left by the same shift: the same selection, with
    // frame index 0 now the last file.
    QCOMPARE(Ints(Json(outcome)[QStringLiteral("selected_frames")]),
             std::vector<int>({0, 4, 8, 12, 16, 20, 24, 28, 29}));
    const QStringList lines = CsvLines(csv);
    bool sawFirst = false;
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList f = lines[i].split(QLatin1Char(','));
        QCOMPARE(f[1], flow.names[29 - f[0].toInt()]);
        sawFirst = sawFirst || f[0] == QLatin1String("0");
    }
    QVERIFY(sawFirst);
    QCOMPARE(Count({QStringLiteral("--sort"), QStringLiteral("size"), flow.Folder()}, work.path()).exitCode, 0);
}

void TestTesselCount::progressAndTextSummary() {
    const Outcome outcome = Count({flow.Folder()}, work.path());
    QCOMPARE(outcome.exitCode, 0);
    const QStringList progress = outcome.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // Every measured frame and every counted frame of interest moves the percentage.
    QCOMPARE(progress.size(), 29 + 8);
    QCOMPARE(progress.first(), QStringLiteral("[Process] Building Full Image ... (3%)"));
    QCOMPARE(progress.last(), QStringLiteral("[Process] Counting particles ... (100%)"));
    for (int i = 1; i < progress.size(); ++i) QVERIFY(progress[i] != progress[i - 1]);
    const QJsonObject json = Json(Count({QStringLiteral("--json"), flow.Folder()}, work.path()));
    QVERIFY(outcome.out.contains(QStringLiteral("Frames of interest: 0 4 8 12 16 20 24 28 29\n")));
    QVERIFY(outcome.out.contains(QStringLiteral("# Single:           %1 ").arg(json[QStringLiteral("count_in_range")].toInt())));
    QVERIFY(outcome.out.contains(QStringLiteral("Unreadable frames:  none\n")));
}

void TestTesselCount::exportWritesThePairs() {
    const QString target = work.filePath(QStringLiteral("figures/run1"));
    const Outcome outcome = Count({QStringLiteral("--export"), target, flow.Folder()}, work.path());
    QCOMPARE(outcome.exitCode, 0);
    const QStringList files = QDir(target).entryList(QDir::Files);
    QCOMPARE(files.size(), 2 * 9);
    QVERIFY(files.contains(QStringLiteral("pos_29_frame_0029.png")));
    QVERIFY(files.contains(QStringLiteral("res_12_frame_0012.png")));
}

void TestTesselCount::unreadableFrameIsReported() {
    WrittenFlow spoiled;
    QVERIFY(WriteFlow(FlowOf(12, {160}), spoiled));
    QVERIFY(Spoil(spoiled.Path(5)));
    const Outcome json = Count({QStringLiteral("--json"), spoiled.Folder()}, work.path());
    QCOMPARE(json.exitCode, 0);
    QCOMPARE(Ints(Json(json)[QStringLiteral("unreadable_frames")]), std::vector<int>({5}));
    const Outcome text = Count({spoiled.Folder()}, work.path());
    QVERIFY(text.out.contains(QStringLiteral("Unreadable frames:  5\n")));
}

void TestTesselCount::badUsageExitsTwo_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no folder") << QStringList();
    QTest::newRow("two folders") << QStringList({"a", "b"});
    QTest::newRow("unknown option") << QStringList({"--colour", "x"});
    QTest::newRow("value missing") << QStringList({"x", "--method"});
    for (const char* method : {"0", "4", "two"})
        QTest::addRow("method %s", method) << QStringList({"--method", method, "x"});
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
    QVERIFY(outcome.err.contains(QStringLiteral("Usage: ")));
    QVERIFY(outcome.err.contains(QStringLiteral("--circularity <V>")));
    QVERIFY(outcome.out.isEmpty());
}

void TestTesselCount::helpExitsZero() {
    const Outcome outcome = Count({QStringLiteral("--help")}, work.path());
    QCOMPARE(outcome.exitCode, 0);
    QVERIFY(outcome.out.contains(QStringLiteral("Usage: ")));
    QVERIFY(outcome.out.contains(QStringLiteral("FOLDER")));
}

void TestTesselCount::uncountableFoldersExitOne() {
    QTemporaryDir five;
    for (int t = 0; t < 5; ++t) QVERIFY(QFile::copy(QString::fromStdString(flow.Path(t)), five.filePath(flow.names[t])));
    QDir(five.path()).mkdir(QStringLiteral("sub.png"));
    for (const QString& folder : {five.path(), work.filePath(QStringLiteral("absent"))}) {
        const Outcome outcome = Count({QStringLiteral("--json"), folder}, work.path());
        QCOMPARE(outcome.exitCode, 1);
        QCOMPARE(outcome.err, QStringLiteral("[ERRO] No images were found\n"));
        QVERIFY(outcome.out.isEmpty());
    }
    // With a sixth frame the folder is counted.
    QVERIFY(QFile::copy(QString::fromStdString(flow.Path(5)), five.filePath(flow.names[5])));
    QCOMPARE(Count({five.path()}, work.path()).exitCode, 0);

    // Frame 0 unreadable: nothing can be measured.
    WrittenFlow spoiled;
    QVERIFY(WriteFlow(FlowOf(8, {160}), spoiled));
    QVERIFY(Spoil(spoiled.Path(0)));
    const Outcome outcome = Count({spoiled.Folder()}, work.path());
    QCOMPARE(outcome.exitCode, 1);
    QCOMPARE(outcome.err, QStringLiteral("[ERRO] Can not read image frame_0000.png\n"));
    QVERIFY(outcome.out.isEmpty());
}

void TestTesselCount::unwritableOutputsExitOne() {
    // A regular file where a folder is needed.
    const QString blocker = work.filePath(QStringLiteral("blocker"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    const Outcome csv = Count({QStringLiteral("--csv"), blocker + QStringLiteral("/p.csv"), flow.Folder()}, work.path());
    QCOMPARE(csv.exitCode, 1);
    QVERIFY(csv.err.contains(QStringLiteral("[ERRO] Can not write ") + blocker + QStringLiteral("/p.csv\n")));

    const Outcome figures =
        Count({QStringLiteral("--json"), QStringLiteral("--export"), blocker + QStringLiteral("/figures"), flow.Folder()},
              work.path());
    QCOMPARE(figures.exitCode, 1);
    const QStringList errors = figures.err.split(QLatin1Char('\n')).filter(QStringLiteral("[ERRO]"));
    QCOMPARE(errors.size(), 2 * 9);
    QVERIFY(errors.contains(QStringLiteral("[ERRO] Can not write ") + blocker + QStringLiteral("/figures/pos_0_frame_0000.png")));
    QVERIFY(errors.contains(QStringLiteral("[ERRO] Can not write ") + blocker + QStringLiteral("/figures/res_29_frame_0029.png")));
    // The count itself is done and still summarised.
    QCOMPARE(Json(figures)[QStringLiteral("frames")].toInt(), 30);
}

QTEST_GUILESS_MAIN(TestTesselCount)
#include "tst_tessel_count.moc"
