// The headless counter as a program: its outputs, its progress and its exit codes.

#include "register_test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <opencv2/imgcodecs.hpp>

#include <climits>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <sys/stat.h>

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

// Runs tessel-count in `workDir` (where its log goes). `atFirstProgress` runs once, with
// the counter stopped, as soon as its first progress line arrives; `stdoutFile`, when
// given, takes its standard output.
Outcome Count(const QStringList& arguments, const QString& workDir, const std::function<void()>& atFirstProgress = {},
              const QString& stdoutFile = {}) {
    QProcess process;
    process.setWorkingDirectory(workDir);
    if (!stdoutFile.isEmpty()) process.setStandardOutputFile(stdoutFile);
    process.start(QStringLiteral(TESSEL_COUNT_PATH), arguments);
    Outcome outcome;
    QByteArray err;
    if (atFirstProgress) {
        process.setReadChannel(QProcess::StandardError);
        while (!err.contains("[Process]") && process.waitForReadyRead(120000)) err += process.readAllStandardError();
        ::kill(static_cast<pid_t>(process.processId()), SIGSTOP);
        atFirstProgress();
        ::kill(static_cast<pid_t>(process.processId()), SIGCONT);
    }
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) return outcome;
    outcome.exitCode = process.exitCode();
    outcome.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    outcome.err = QString::fromLocal8Bit(err + process.readAllStandardError());
    return outcome;
}

// Rows of a CSV file, split into fields (quoted fields may hold commas).
QList<QStringList> CsvRows(const QString& path) {
    QFile file(path);
    QList<QStringList> rows;
    if (!file.open(QIODevice::ReadOnly)) return rows;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QStringList fields(QString{});
        bool quoted = false;
        for (int i = 0; i < line.size(); ++i) {
            const QChar c = line[i];
            if (c == QLatin1Char('"') && quoted && i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                fields.last() += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = !quoted;
            } else if (c == QLatin1Char(',') && !quoted) {
                fields << QString();
            } else {
                fields.last() += c;
            }
        }
        rows << fields;
    }
    return rows;
}

// The rows of frames before `frame`, without the file name.
QList<QStringList> RowsBefore(const QList<QStringList>& rows, int frame) {
    QList<QStringList> before;
    for (int i = 1; i < rows.size(); ++i) {
        if (rows[i][0].toInt() >= frame) continue;
        QStringList fields = rows[i];
        fields.removeAt(1);
        before << fields;
    }
    return before;
}

// The "[ERRO] ..." and "[WARNING] ..." lines of standard error, in order.
QStringList Messages(const QString& err) {
    QStringList messages;
    for (const QString& line : err.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("[ERRO]")) || line.startsWith(QLatin1String("[WARNING]"))) messages << line;
    return messages;
}

bool Truncate(const QString& path, double share) {
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.resize(static_cast<qint64>(file.size() * share));
}

const std::vector<int> kSelected = {0, 4, 8, 12, 16, 20, 24, 28, 29};

}  // namespace

// A bad input for the counter: how to run it and what it must do. The counter keeps
// working, names what went wrong on standard error, tells it by its exit status, and
// loses nothing it could compute.
struct BadInput {
    QStringList arguments;
    QString workDir;                   // where the log goes
    QString stdoutFile;                // standard output goes here when set
    std::function<void()> midRun;      // done with the counter stopped at its first progress line
    int exitCode = 0;
    QStringList messages;              // every "[ERRO] ..." and "[WARNING] ..." line, in order
    // Same: the reference summary; LeftOut: the frame `leftOut` left out; None: no
    // summary; Own: checked by `extra`.
    enum Summary { Same, LeftOut, None, Own } summary = Same;
    int leftOut = -1;                  // set: the rows before the frame before it are kept
    QString csv;                       // compared with the reference rows when set
    QJsonObject referenceJson;
    QList<QStringList> referenceRows;
    std::function<void(const Outcome&)> extra;  // checks of this input alone
};

class TestTesselCount : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void summaryMatchesTheWindowsRun();
    void csvRowsAgreeWithTheSummary();
    void circularityFilterMovesRowsToFiltered();
    void descendingOrderReversesTheFrames();
    void exportWritesEveryPair();
    void badUsageExitsTwo_data();
    void badUsageExitsTwo();
    void badInputs_data();
    void badInputs();

private:
    WrittenFlow flow;   // 30 frames
    WrittenFlow small;  // 12 frames
    QTemporaryDir work;
    // Reference runs of both flows: summary, particle rows and log lines.
    Outcome flowRun;
    QJsonObject flowJson, smallJson;
    QList<QStringList> flowRows, smallRows;
    int smallLogLines = 0;
    std::unique_ptr<QTemporaryDir> caseDir;
    QString Path(const char* name) const { return work.filePath(QLatin1String(name)); }
    BadInput Prepare(const QByteArray& tag);
};

void TestTesselCount::initTestCase() {
    QVERIFY(work.isValid());
    QVERIFY(WriteFlow(FlowOf(30, {160}), flow));
    QVERIFY(WriteFlow(FlowOf(12, {160}, 2), small));
    flowRun = Count({QStringLiteral("--json"), QStringLiteral("--csv"), Path("flow.csv"), flow.Folder()}, work.path());
    QTemporaryDir logDir;
    const Outcome smallRun = Count({QStringLiteral("--json"), QStringLiteral("--csv"), Path("small.csv"), small.Folder()},
                                   logDir.path());
    QVERIFY(flowRun.exitCode == 0 && smallRun.exitCode == 0);
    flowJson = flowRun.Json();
    smallJson = smallRun.Json();
    flowRows = CsvRows(Path("flow.csv"));
    smallRows = CsvRows(Path("small.csv"));
    QVERIFY(flowRows.size() > 100 && smallRows.size() > 50);
    QFile log(logDir.filePath(QStringLiteral("log_KOV.txt")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    smallLogLines = log.readAll().count('\n');
    QVERIFY(smallLogLines > 0);
}

void TestTesselCount::summaryMatchesTheWindowsRun() {
    const Outcome& json = flowRun;  // with --json and --csv
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

void TestTesselCount::exportWritesEveryPair() {
    const QString target = Path("figures/run1");
    QCOMPARE(Count({QStringLiteral("--export"), target, flow.Folder()}, work.path()).exitCode, 0);
    const QStringList files = QDir(target).entryList(QDir::Files);
    QCOMPARE(files.size(), 2 * 9);
    QVERIFY(files.contains(QStringLiteral("pos_29_frame_0029.png")) && files.contains(QStringLiteral("res_12_frame_0012.png")));
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

void TestTesselCount::badInputs_data() {
    QTest::addColumn<int>("unused");
    for (const char* tag :
         {"zero-byte frame", "truncated PNG", "truncated JPEG", "text file named .png", "colour and 16-bit frames",
          "frame of another size", "name not in UTF-8", "frame deleted during the run", "frame spoiled during the run", "missing folder",
          "folder is a file", "five frames and a sub-folder", "frame 0 unreadable", "spaces and non-ASCII names",
          "export folder cannot be made", "CSV cannot be written", "CSV into a pipe", "log is a folder",
          "log on a full disk", "standard output on a full disk", "1 x 1 frames", "area bounds at the int limit"})
        QTest::newRow(tag) << 0;
}

BadInput TestTesselCount::Prepare(const QByteArray& tag) {
    caseDir = std::make_unique<QTemporaryDir>();
    const QString dir = caseDir->path();
    const auto at = [&](const QString& name) { return dir + QLatin1Char('/') + name; };
    const auto copy = [](const WrittenFlow& from, const QString& folder, int frames, const QString& prefix) {
        QDir().mkpath(folder);
        for (int t = 0; t < frames; ++t)
            QFile::copy(from.Folder() + QLatin1Char('/') + from.names[t], folder + QLatin1Char('/') + prefix + from.names[t]);
    };
    const QString frames = at(QStringLiteral("frames"));
    const auto frame = [&](const WrittenFlow& of, int t) { return frames + QLatin1Char('/') + of.names[t]; };
    const auto blocker = [&] {
        QFile file(at(QStringLiteral("blocker")));
        file.open(QIODevice::WriteOnly);
        return file.fileName();
    };

    BadInput in;
    in.workDir = dir;
    in.csv = at(QStringLiteral("p.csv"));
    in.referenceJson = smallJson;
    in.referenceRows = smallRows;
    const QStringList json = {QStringLiteral("--json"), QStringLiteral("--csv"), in.csv};
    in.arguments = json + QStringList{frames};
    const auto leftOut = [&](int index, const QString& name, const QString& reason) {
        in.exitCode = 3;
        in.summary = BadInput::LeftOut;
        in.leftOut = index;
        in.messages = {QStringLiteral("[WARNING] Left out %1 (%2)").arg(name, reason)};
    };
    const auto failed = [&](const QString& message) {
        in.exitCode = 1;
        in.summary = BadInput::None;
        in.messages = {message};
        in.csv.clear();
    };

    if (tag == "zero-byte frame" || tag == "truncated PNG" || tag == "text file named .png") {
        copy(small, frames, 12, {});
        if (tag == "text file named .png") {
            Spoil(frame(small, 5).toStdString());
            in.extra = [frames, dir](const Outcome&) {
                QVERIFY(Count({frames}, dir).out.contains(QStringLiteral("Unreadable frames:  5\n")));
            };
        } else {
            Truncate(frame(small, 5), tag == "zero-byte frame" ? 0.0 : 0.5);
        }
        leftOut(5, small.names[5], QStringLiteral("can not read image"));
    } else if (tag == "truncated JPEG") {
        // The decoder would fill the missing rows with grey and only warn.
        flowgen::WriteFlow(small.flow, frames.toStdString(), "jpg", nullptr);
        const Outcome whole = Count(in.arguments, dir);
        in.referenceJson = whole.Json();
        in.referenceRows = CsvRows(in.csv);
        Truncate(frames + QStringLiteral("/frame_0005.jpg"), 0.6);
        leftOut(5, QStringLiteral("frame_0005.jpg"), QStringLiteral("can not read image"));
    } else if (tag == "colour and 16-bit frames") {
        // The same grey values, as colour and as 16-bit files: the same count.
        QDir().mkpath(frames);
        for (int t = 0; t < 12; ++t) {
            const cv::Mat grey = cv::imread(small.Path(t), cv::IMREAD_GRAYSCALE);
            cv::Mat file;
            if (t % 2 == 0) cv::merge(std::vector<cv::Mat>{grey, grey, grey}, file);
            else grey.convertTo(file, CV_16U, 257.0);
            cv::imwrite(frame(small, t).toStdString(), file);
        }
    } else if (tag == "frame of another size") {
        copy(small, frames, 12, {});
        cv::imwrite(frame(small, 5).toStdString(), cv::Mat(240, 320, CV_8UC1, cv::Scalar(200)));
        leftOut(5, small.names[5], QStringLiteral("320 x 240, frame 0 is 640 x 480"));
    } else if (tag == "name not in UTF-8") {
        // Left out of the listing: frame 6 becomes frame 5.
        copy(small, frames, 12, {});
        std::filesystem::rename(QFile::encodeName(frame(small, 5)).toStdString(),
                                QFile::encodeName(frames).toStdString() + "/frame_\xe4_0005.png");
        in.exitCode = 3;
        in.messages = {QStringLiteral("[WARNING] Left out frame_\uFFFD_0005.png (name not in UTF-8)")};
        in.summary = BadInput::Own;
        in.leftOut = 5;
        in.extra = [](const Outcome& outcome) {
            QCOMPARE(outcome.Int("frames"), 11);
            QVERIFY(outcome.Ints("unreadable_frames").empty());
        };
    } else if (tag == "frame deleted during the run" || tag == "frame spoiled during the run") {
        // Frames near the end of the 30, well after the first progress line.
        copy(flow, frames, 30, {});
        in.referenceJson = flowJson;
        in.referenceRows = flowRows;
        if (tag == "frame deleted during the run") {
            in.midRun = [path = frame(flow, 29)] { QFile::remove(path); };
            leftOut(29, flow.names[29], QStringLiteral("missing"));
        } else {
            in.midRun = [path = frame(flow, 27)] { Spoil(path.toStdString()); };
            leftOut(27, flow.names[27], QStringLiteral("can not read image"));
        }
    } else if (tag == "missing folder") {
        in.arguments = QStringList{QStringLiteral("--json"), at(QStringLiteral("absent"))};
        failed(QStringLiteral("[ERRO] Can not read folder ") + at(QStringLiteral("absent")));
    } else if (tag == "folder is a file") {
        in.arguments = QStringList{QStringLiteral("--json"), blocker()};
        failed(QStringLiteral("[ERRO] Can not read folder ") + at(QStringLiteral("blocker")));
    } else if (tag == "five frames and a sub-folder") {
        copy(small, frames, 5, {});
        QDir(frames).mkdir(QStringLiteral("sub.png"));
        failed(QStringLiteral("[ERRO] No images were found"));
    } else if (tag == "frame 0 unreadable") {
        copy(small, frames, 12, {});
        Spoil(frame(small, 0).toStdString());
        failed(QStringLiteral("[ERRO] Can not read image frame_0000.png"));
    } else if (tag == "spaces and non-ASCII names") {
        const QString folder = at(QStringLiteral("Flüsse und Größen"));
        const QString figures = at(QStringLiteral("Bilder ö"));
        copy(small, folder, 12, QStringLiteral("Bild ä,"));
        in.csv = at(QStringLiteral("Ergebnis ü.csv"));
        in.arguments = {QStringLiteral("--json"), QStringLiteral("--csv"), in.csv, QStringLiteral("--export"), figures, folder};
        in.extra = [this, csv = in.csv, figures](const Outcome&) {
            const QList<QStringList> rows = CsvRows(csv);
            for (int i = 1; i < rows.size(); ++i) QCOMPARE(rows[i][1], QStringLiteral("Bild ä,") + small.names[rows[i][0].toInt()]);
            QCOMPARE(QDir(figures).entryList(QDir::Files).size(), 2 * smallJson[QLatin1String("selected_frames")].toArray().size());
            QVERIFY(QFile::exists(figures + QStringLiteral("/res_0_Bild ä,frame_0000.png")));
        };
    } else if (tag == "export folder cannot be made") {
        copy(small, frames, 12, {});
        const QString figures = blocker() + QStringLiteral("/figures");
        in.arguments = json + QStringList{QStringLiteral("--export"), figures, frames};
        in.exitCode = 1;
        for (const QJsonValue& v : smallJson[QLatin1String("selected_frames")].toArray())
            for (const char* kind : {"pos_", "res_"})
                in.messages << QStringLiteral("[ERRO] Can not write %1/%2%3_%4").arg(figures, QLatin1String(kind)).arg(v.toInt()).arg(small.names[v.toInt()]);
    } else if (tag == "CSV cannot be written") {
        in.arguments = {QStringLiteral("--json"), QStringLiteral("--csv"), blocker() + QStringLiteral("/p.csv"), small.Folder()};
        in.exitCode = 1;
        in.messages = {QStringLiteral("[ERRO] Can not write %1/p.csv").arg(at(QStringLiteral("blocker")))};
        in.csv.clear();
    } else if (tag == "CSV into a pipe") {
        // Written into the pipe, which stays a pipe (a safe replace would put a file there).
        const QString pipe = at(QStringLiteral("pipe"));
        mkfifo(QFile::encodeName(pipe).constData(), 0600);
        auto piped = std::make_shared<QByteArray>();
        auto reader = std::make_shared<std::thread>([pipe, piped] {
            QFile file(pipe);
            if (file.open(QIODevice::ReadOnly)) *piped = file.readAll();
        });
        in.arguments = {QStringLiteral("--json"), QStringLiteral("--csv"), pipe, small.Folder()};
        in.csv.clear();
        in.extra = [this, pipe, piped, reader](const Outcome&) {
            struct stat info {};
            if (::stat(QFile::encodeName(pipe).constData(), &info) != 0 || !S_ISFIFO(info.st_mode)) {
                reader->detach();  // waits on a pipe that is gone
                QFAIL("the pipe was replaced");
            }
            // Lets the reader end should the counter never have opened the pipe.
            const int writer = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) ::close(writer);
            reader->join();
            QCOMPARE(piped->count('\n'), smallRows.size());
        };
    } else if (tag == "log is a folder" || tag == "log on a full disk") {
        if (tag == "log is a folder") QDir(dir).mkdir(QStringLiteral("log_KOV.txt"));
        else QFile::link(QStringLiteral("/dev/full"), at(QStringLiteral("log_KOV.txt")));
        in.arguments = json + QStringList{small.Folder()};
        in.exitCode = 3;
        in.messages = {QStringLiteral("[WARNING] Can not write log_KOV.txt: %1 log lines lost").arg(smallLogLines)};
    } else if (tag == "standard output on a full disk") {
        in.arguments = json + QStringList{small.Folder()};
        in.stdoutFile = QStringLiteral("/dev/full");
        in.exitCode = 1;
        in.summary = BadInput::None;
        in.messages = {QStringLiteral("[ERRO] Can not write the summary to standard output")};
    } else if (tag == "1 x 1 frames") {
        QDir().mkpath(frames);
        for (int t = 0; t < 6; ++t)
            cv::imwrite((frames + QStringLiteral("/f%1.png").arg(t)).toStdString(), cv::Mat(1, 1, CV_8UC1, cv::Scalar(40 * t)));
        in.arguments = {QStringLiteral("--json"), frames};
        in.csv.clear();
        in.summary = BadInput::Own;
        in.extra = [](const Outcome& outcome) {
            QCOMPARE(outcome.Int("frames"), 6);
            QCOMPARE(outcome.Int("frame_width"), 1);
            QCOMPARE(outcome.Int("particles"), 0);
        };
    } else if (tag == "area bounds at the int limit") {
        in.arguments = {QStringLiteral("--json"), QStringLiteral("--min-px"), QStringLiteral("2147483647"),
                        QStringLiteral("--max-px"), QStringLiteral("2147483647"), small.Folder()};
        in.csv.clear();
        in.summary = BadInput::Own;
        in.extra = [](const Outcome& outcome) {
            QVERIFY(outcome.Int("particles") > 0);
            QCOMPARE(outcome.Int("count_smaller"), outcome.Int("particles"));
        };
    }
    return in;
}

void TestTesselCount::badInputs() {
    const BadInput in = Prepare(QTest::currentDataTag());
    const Outcome outcome = Count(in.arguments, in.workDir, in.midRun, in.stdoutFile);
    QCOMPARE(outcome.exitCode, in.exitCode);
    QCOMPARE(Messages(outcome.err), in.messages);
    switch (in.summary) {
    case BadInput::Same:
        QCOMPARE(outcome.Json(), in.referenceJson);
        break;
    case BadInput::LeftOut:
        QCOMPARE(outcome.Ints("unreadable_frames"), std::vector<int>({in.leftOut}));
        QCOMPARE(outcome.Int("frames"), in.referenceJson[QLatin1String("frames")].toInt());
        break;
    case BadInput::None:
        QVERIFY(outcome.out.isEmpty());
        break;
    case BadInput::Own:
        break;
    }
    // Nothing computed is lost: every particle row of the reference is there, in the same
    // order, up to the frame before the one left out (Frame Diff compares that frame with
    // the next).
    if (!in.csv.isEmpty()) {
        const int before = in.leftOut >= 0 ? in.leftOut - 1 : INT_MAX;
        const QList<QStringList> rows = RowsBefore(CsvRows(in.csv), before);
        QVERIFY(!rows.isEmpty());
        QCOMPARE(rows, RowsBefore(in.referenceRows, before));
    }
    if (in.extra) in.extra(outcome);
}

QTEST_GUILESS_MAIN(TestTesselCount)
#include "tst_tessel_count.moc"
