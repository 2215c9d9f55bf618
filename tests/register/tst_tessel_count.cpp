// The headless counter as a program: its summary, particle table, exit codes and texts,
// and what it does with bad input.

#include "register_test_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <climits>
#include <filesystem>
#include <functional>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Outcome {
    int exitCode = -1;
    QString out, err;
    QJsonObject json;
};

// Runs tessel-count in `dir`, where its log goes. `midRun` runs once, with the counter
// stopped, as soon as its first progress line arrives; `stdoutFile` takes its standard output.
Outcome Count(const QStringList& arguments, const QString& dir, const std::function<void()>& midRun = {},
              const QString& stdoutFile = {})
{
    QProcess process;
    process.setWorkingDirectory(dir);
    if (!stdoutFile.isEmpty()) process.setStandardOutputFile(stdoutFile);
    process.start(QStringLiteral(TESSEL_COUNT_PATH), arguments);
    QByteArray err;
    if (midRun) {
        process.setReadChannel(QProcess::StandardError);
        while (!err.contains("[Process]") && process.waitForReadyRead(120000)) err += process.readAllStandardError();
        ::kill(static_cast<pid_t>(process.processId()), SIGSTOP);
        midRun();
        ::kill(static_cast<pid_t>(process.processId()), SIGCONT);
    }
    Outcome o;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) return o;
    o.exitCode = process.exitCode();
    o.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    o.err = QString::fromLocal8Bit(err + process.readAllStandardError());
    o.json = QJsonDocument::fromJson(o.out.toUtf8()).object();
    return o;
}

// The particle rows of a CSV file, of the frames before `frame`, without the file name
// (the one field that may be quoted).
QStringList Rows(const QString& path, int frame = INT_MAX)
{
    static const QRegularExpression name(QStringLiteral("^(\\d+),(\"([^\"]|\"\")*\"|[^,]*),"));
    QFile file(path);
    QStringList rows = file.open(QIODevice::ReadOnly)
                           ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                           : QStringList();
    rows.removeIf(
        [frame](const QString& row) { return !row.front().isDigit() || row.section(',', 0, 0).toInt() >= frame; });
    return rows.replaceInStrings(name, QStringLiteral("\\1,"));
}

const QString kUnmeasured = "[WARNING] %1 of %2 frame shifts could not be measured and were taken as 0; parts of the "
                            "flow may not be counted";

bool Truncate(const QString& path, double share)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.resize(static_cast<qint64>(file.size() * share));
}

// A bad input, set up in a case folder that holds the small flow in "frames", and what the
// counter must do with it: keep working, name what went wrong on standard error, tell it by
// its exit status and lose nothing it could compute.
struct BadInput {
    QStringList arguments = {"--json", "--csv", "p.csv", "frames"};
    QString stdoutFile, csv = QStringLiteral("p.csv"), referenceCsv;
    QJsonObject reference;
    std::function<void()> midRun;
    int exitCode = 0;
    QStringList messages;  // every "[ERRO] ..." and "[WARNING] ..." line, in order
    // Same: the reference's, but for the frame left out; None: nothing; Own: as `check` says.
    enum { Same, None, Own } summary = Same;
    int leftOut = -1;  // listed as unreadable and logged once; the table kept up to the frame before
    std::function<void(const Outcome&)> check;
};

}  // namespace

class TestTesselCount : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void summaryAndTable();
    void badUsage();
    void badInputs_data();
    void badInputs();

private:
    WrittenFlow flow, small;  // 30 and 12 frames
    QTemporaryDir work;
    Outcome smallRun;  // --json --csv small.csv
    int smallLogLines = 0;
    void Prepare(const QByteArray& tag, const QString& dir, BadInput& in);
};

void TestTesselCount::initTestCase()
{
    QVERIFY(work.isValid() && flow.Make(30, {160}) && small.Make(12, {160}, 2));
    QTemporaryDir logDir;
    smallRun = Count({"--json", "--csv", work.filePath("small.csv"), small.Folder()}, logDir.path());
    QVERIFY(smallRun.exitCode == 0 && Rows(work.filePath("small.csv")).size() > 50);
    QFile log(logDir.filePath("log_KOV.txt"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    smallLogLines = static_cast<int>(log.readAll().count('\n'));
}

// The JSON summary, on one line, is the window's run. The table and the text summary follow
// the options; backwards the flow moves left by the same shift: the same frames of interest,
// frame 0 now being the last file. Each progress text comes once.
void TestTesselCount::summaryAndTable()
{
    QVERIFY(QDir::setCurrent(work.path()));  // for the log
    CMivoRegisterManager reg;
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    const Outcome plain = Count({"--json", flow.Folder()}, work.path());
    QCOMPARE(plain.json, QJsonObject({{"frames", 30},
                                      {"frame_width", 640},
                                      {"frame_height", 480},
                                      {"selected_frames", QJsonArray{0, 4, 8, 12, 16, 20, 24, 28, 29}},
                                      {"accumulated_shift", 160},
                                      {"count_in_range", reg.countInRange},
                                      {"count_greater", reg.countGreater},
                                      {"count_smaller", reg.countSmaller},
                                      {"particles", static_cast<int>(reg.foiParticles.size())},
                                      {"unreadable_frames", QJsonArray{}},
                                      {"unmeasured_shifts", 0}}));
    const Outcome o = Count({"--order", "desc", "--pixel-size", "2", "--min-px", "30", "--max-px", "120",
                             "--circularity", "0.85", "--csv", "options.csv", flow.Folder()},
                            work.path());
    QFile file(work.filePath("options.csv"));
    QVERIFY(plain.out.count('\n') == 1 && o.exitCode == 0 && o.err.count('\n') == 29 + 8 &&
            file.open(QIODevice::ReadOnly));
    QStringList rows = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.takeFirst(), "frame,file,x,y,area_px,area_um2,ratio,circularity,class");
    QMap<QString, int> classes;
    for (const QString& row : rows) {
        const QStringList f = row.split(',');
        const int area = f[4].toInt();
        const char* kind = f[7].toDouble() < 0.85 ? "filtered"
                           : area < 30            ? "smaller"
                           : area > 120           ? "bigger"
                                                  : "single";
        QVERIFY(f[1] == flow.names[29 - f[0].toInt()] && f[5].toDouble() == 4.0 * area && f[8] == kind);
        ++classes[f[8]];
    }
    QVERIFY(classes["filtered"] > 0);
    QCOMPARE(o.out, QStringLiteral("Frames:             30 (640 x 480)\nFrames of interest: 0 4 8 12 16 20 24 28 29\n"
                                   "Last strip:         160 columns\n# Single:           %1 (30 to 120 px)\n"
                                   "# Bigger:           %2\n# Smaller:          %3\nParticle records:   %4\n"
                                   "Unreadable frames:  none\nUnmeasured shifts:  0 of 29\nCircularity filter: 0.85\n")
                        .arg(classes["single"])
                        .arg(classes["bigger"])
                        .arg(classes["smaller"])
                        .arg(rows.size()));
}

// Exit status 2, the reason after "tessel-count: " (empty: the parser's own), the usage.
void TestTesselCount::badUsage()
{
    const QString one = "Exactly one FOLDER is needed.", method = "--method takes 1, 2 or 3.",
                  circularity = "--circularity takes a number from 0 to 1.",
                  area = " takes a whole number of at least 1.";
    const std::pair<QStringList, QString> rows[] = {
        {{}, one},
        {{"a", "b"}, one},
        {{"--colour", "x"}, ""},
        {{"x", "--method"}, ""},
        {{"--method", "0", "x"}, method},
        {{"--method", "4", "x"}, method},
        {{"--method", "two", "x"}, method},
        {{"--min-px", "0", "x"}, "--min-px" + area},
        {{"--max-px", "many", "x"}, "--max-px" + area},
        {{"--min-px", "101", "x"}, "--min-px 101 is above --max-px 100."},
        {{"--pixel-size", "0", "x"}, "--pixel-size takes a positive number."},
        {{"--csv=", "x"}, "--csv needs a file name."},
        {{"--circularity", "2", "x"}, circularity},
        {{"--circularity", "nan", "x"}, circularity},
        {{"--sort", "colour", "x"}, "--sort takes name, time or size."},
        {{"--order", "up", "x"}, "--order takes asc or desc."}};
    for (const auto& [arguments, message] : rows) {
        const Outcome o = Count(arguments, work.path());
        QVERIFY2(o.exitCode == 2 && o.out.isEmpty() && o.err.startsWith("tessel-count: " + message) &&
                     o.err.contains("Usage: tessel-count [options] FOLDER"),
                 qPrintable(arguments.join(' ')));
    }
    const Outcome help = Count({"--help"}, work.path());
    QVERIFY(help.exitCode == 0 && help.out.contains("--circularity <V>"));
}

void TestTesselCount::badInputs_data()
{
    QTest::addColumn<int>("unused");
    for (const char* tag : {"zero-byte frame",
                            "truncated PNG",
                            "truncated JPEG",
                            "text file named .png",
                            "colour and 16-bit frames",
                            "frame of another size",
                            "name not in UTF-8",
                            "frame deleted during the run",
                            "frame spoiled during the run",
                            "missing folder",
                            "folder is a file",
                            "five frames and a sub-folder",
                            "frame 0 unreadable",
                            "spaces and non-ASCII names",
                            "export folder cannot be made",
                            "CSV cannot be written",
                            "CSV into a pipe",
                            "log is a folder",
                            "log on a full disk",
                            "standard output on a full disk",
                            "1 x 1 frames",
                            "shift above half the frame width",
                            "still flow",
                            "empty flow",
                            "area bounds at the int limit"})
        QTest::newRow(tag) << 0;
}

void TestTesselCount::Prepare(const QByteArray& tag, const QString& dir, BadInput& in)
{
    in.reference = smallRun.json;
    in.referenceCsv = work.filePath("small.csv");
    const QString frames = dir + "/frames";
    QDir().mkpath(frames);
    for (const QString& name : small.names) QFile::copy(small.Folder() + '/' + name, frames + '/' + name);
    const auto frame = [&](int t) { return frames + '/' + small.names[t]; };
    // Not measured: the shift of the frame left out, mostly also that of the next.
    const auto leftOut = [&](int index, const QString& name, const char* reason, int unmeasured = 2) {
        in.exitCode = 3;
        in.leftOut = index;
        in.messages = {QStringLiteral("[WARNING] Left out %1 (%2)").arg(name, reason),
                       kUnmeasured.arg(unmeasured).arg(11)};
    };
    const auto failed = [&](const QString& message) {
        in.exitCode = 1;
        in.summary = BadInput::None;
        in.messages = {message};
    };
    if (tag == "zero-byte frame" || tag == "truncated PNG" || tag == "text file named .png") {
        QVERIFY(tag == "text file named .png" ? Spoil(frame(5).toStdString())
                                              : Truncate(frame(5), tag == "truncated PNG" ? 0.5 : 0.0));
        leftOut(5, small.names[5], "can not read image");
        if (tag == "text file named .png")  // listed in the text summary too
            in.check = [dir](const Outcome&) {
                QVERIFY(Count({"frames"}, dir).out.contains("Unreadable frames:  5\n"));
            };
    } else if (tag == "truncated JPEG") {  // the decoder would fill the missing rows with grey and only warn
        QVERIFY(flowgen::WriteFlow(small.flow, (dir + "/jpeg").toStdString(), "jpg", nullptr));
        in.reference = Count({"--json", "--csv", "whole.csv", "jpeg"}, dir).json;
        in.referenceCsv = dir + "/whole.csv";
        in.arguments.last() = "jpeg";
        QVERIFY(Truncate(dir + "/jpeg/frame_0005.jpg", 0.6));
        leftOut(5, "frame_0005.jpg", "can not read image");
    } else if (tag == "colour and 16-bit frames") {  // the same grey values, the same count
        for (int t = 0; t < 12; ++t) {
            cv::Mat grey = cv::imread(frame(t).toStdString(), cv::IMREAD_GRAYSCALE), file;
            t % 2 ? grey.convertTo(file, CV_16U, 257.0) : cv::cvtColor(grey, file, cv::COLOR_GRAY2BGR);
            QVERIFY(cv::imwrite(frame(t).toStdString(), file));
        }
    } else if (tag == "frame of another size") {
        QVERIFY(cv::imwrite(frame(5).toStdString(), cv::Mat(240, 320, CV_8UC1, cv::Scalar(200))));
        leftOut(5, small.names[5], "320 x 240, frame 0 is 640 x 480");
    } else if (tag == "name not in UTF-8") {  // left out of the listing: frame 6 becomes frame 5
        const std::string undecodable = QFile::encodeName(frames).toStdString() + "/frame_\xe4_0005.png";
        std::filesystem::rename(QFile::encodeName(frame(5)).toStdString(), undecodable);
        leftOut(5, "frame_\uFFFD_0005.png", "name not in UTF-8");
        in.messages.last() = kUnmeasured.arg(1).arg(10);
        in.summary = BadInput::Own;
        in.check = [undecodable](const Outcome& o) {
            QVERIFY(o.json["frames"] == 11 && o.json["unreadable_frames"] == QJsonArray());
            std::filesystem::remove(undecodable);  // QTemporaryDir cannot name it
        };
    } else if (tag == "frame deleted during the run" || tag == "frame spoiled during the run") {
        const bool deleted = tag == "frame deleted during the run";  // the last frame, or one near it
        const int index = deleted ? 11 : 9;
        in.midRun = [path = frame(index), deleted] { deleted ? QFile::remove(path) : Spoil(path.toStdString()); };
        leftOut(index, small.names[index], deleted ? "missing" : "can not read image", deleted ? 1 : 2);
    } else if (tag == "missing folder" || tag == "folder is a file") {
        in.arguments = {"--json", tag == "missing folder" ? "absent" : "frames/" + small.names[0]};
        failed("[ERRO] Can not read folder " + in.arguments.last());
    } else if (tag == "five frames and a sub-folder") {
        for (int t = 5; t < 12; ++t) QVERIFY(QFile::remove(frame(t)));
        QVERIFY(QDir(frames).mkdir("sub.png"));
        failed("[ERRO] No images were found");
    } else if (tag == "frame 0 unreadable") {
        QVERIFY(Spoil(frame(0).toStdString()));
        failed("[ERRO] Can not read image frame_0000.png");
        in.leftOut = 0;
    } else if (tag == "spaces and non-ASCII names") {
        const QString folder = dir + "/Flüsse und Größen";
        QDir().mkpath(folder);
        for (const QString& name : small.names)
            QFile::copy(small.Folder() + '/' + name, folder + "/Bild \"ä\"," + name);
        in.csv = "Ergebnis ü.csv";
        in.arguments = {"--json", "--csv", in.csv, "--export", "Bilder ö", "Flüsse und Größen"};
        in.check = [dir](const Outcome&) {
            QFile csv(dir + "/Ergebnis ü.csv");
            QVERIFY(csv.open(QIODevice::ReadOnly) && csv.readAll().contains("\n0,\"Bild \"\"ä\"\",frame_0000.png\","));
            QVERIFY(QFile::exists(dir + "/Bilder ö/res_0_Bild \"ä\",frame_0000.png"));
        };
    } else if (tag == "export folder cannot be made") {
        const QString figures = "frames/" + small.names[0] + "/figures";
        in.arguments = QStringList{"--export", figures} + in.arguments;
        in.exitCode = 1;
        for (const QJsonValue& v : smallRun.json["selected_frames"].toArray())
            for (const char* kind : {"pos_", "res_"})
                in.messages << QStringLiteral("[ERRO] Can not write %1/%2%3_%4")
                                   .arg(figures, kind)
                                   .arg(v.toInt())
                                   .arg(small.names[v.toInt()]);
    } else if (tag == "CSV cannot be written") {
        in.csv = "frames/" + small.names[0] + "/p.csv";
        in.arguments = {"--json", "--csv", in.csv, "frames"};
        in.exitCode = 1;
        in.messages = {"[ERRO] Can not write " + in.csv};
    } else if (tag == "CSV into a pipe") {  // written into, and still a pipe (a safe replace would put a file there)
        QVERIFY(::mkfifo(QFile::encodeName(dir + "/pipe").constData(), 0600) == 0);
        const int pipe = ::open(QFile::encodeName(dir + "/pipe").constData(), O_RDONLY | O_NONBLOCK);
        in.arguments = {"--json", "--csv", "pipe", "frames"};
        in.check = [this, dir, pipe](const Outcome&) {
            QByteArray piped(1 << 20, '\0');
            piped.truncate(std::max<qsizetype>(::read(pipe, piped.data(), static_cast<size_t>(piped.size())), 0));
            ::close(pipe);
            QVERIFY(!QFileInfo(dir + "/pipe").isFile() &&
                    piped.count('\n') == Rows(work.filePath("small.csv")).size() + 1);
        };
    } else if (tag == "log is a folder" || tag == "log on a full disk") {
        QVERIFY(tag == "log is a folder" ? QDir(dir).mkdir("log_KOV.txt")
                                         : QFile::link("/dev/full", dir + "/log_KOV.txt"));
        in.exitCode = 3;
        in.messages = {QStringLiteral("[WARNING] Can not write log_KOV.txt: %1 log lines lost").arg(smallLogLines)};
    } else if (tag == "standard output on a full disk") {
        in.stdoutFile = "/dev/full";
        failed("[ERRO] Can not write the summary to standard output");
    } else if (tag == "1 x 1 frames") {  // six, the fewest a count takes
        QVERIFY(QDir(dir).mkdir("tiny"));
        for (int t = 0; t < 6; ++t)
            QVERIFY(cv::imwrite(QStringLiteral("%1/tiny/f%2.png").arg(dir).arg(t).toStdString(),
                                cv::Mat(1, 1, CV_8UC1, cv::Scalar(40 * t))));
        in.arguments = {"--json", "tiny"};
        in.messages = {kUnmeasured.arg(5).arg(5)};  // one changed pixel is too little; still done
        in.summary = BadInput::Own;
        in.check = [](const Outcome& o) {
            QVERIFY(o.json["frames"] == 6 && o.json["frame_width"] == 1 && o.json["particles"] == 0);
        };
    } else if (tag == "shift above half the frame width" || tag == "still flow" || tag == "empty flow") {
        // At 400 a particle's old and new places are seldom each other's nearest; still or empty flows change nowhere.
        flowgen::FlowSettings settings;
        settings.shifts = flowgen::ConstantShifts(settings.frames = 12, tag == "still flow" ? 0 : 400);
        settings.density = tag == "empty flow" ? 0.0 : 1.5;
        QVERIFY(flowgen::WriteFlow(flowgen::GenerateFlow(settings), (dir + "/flow").toStdString(), "png", nullptr));
        const int unmeasured = tag.startsWith("shift") ? 11 : 0;
        in.arguments = {"--json", "--method", "1", "flow"};  // Otsu finds a still flow's particles
        in.messages = unmeasured ? QStringList{kUnmeasured.arg(unmeasured).arg(11)} : QStringList();
        in.summary = BadInput::Own;
        in.check = [unmeasured, tag](const Outcome& o) {
            QCOMPARE(o.json["unmeasured_shifts"], unmeasured);
            QVERIFY(tag != "still flow" || o.json["particles"].toInt() > 0);
        };
    } else if (tag == "area bounds at the int limit") {
        in.arguments = {"--json", "--min-px", "2147483647", "--max-px", "2147483647", "frames"};
        in.summary = BadInput::Own;
        in.check = [](const Outcome& o) {
            QVERIFY(o.json["particles"].toInt() > 0 && o.json["count_smaller"] == o.json["particles"]);
        };
    }
}

void TestTesselCount::badInputs()
{
    QTemporaryDir dir;
    BadInput in;
    Prepare(QTest::currentDataTag(), dir.path(), in);
    if (QTest::currentTestFailed()) return;
    const Outcome o = Count(in.arguments, dir.path(), in.midRun, in.stdoutFile);
    QCOMPARE(o.exitCode, in.exitCode);
    QCOMPARE(o.err.split('\n').filter(QRegularExpression("^\\[(ERRO|WARNING)\\]")), in.messages);
    if (in.summary == BadInput::Same && in.leftOut < 0) QCOMPARE(o.json, in.reference);
    if (in.summary == BadInput::Same && in.leftOut >= 0)
        QVERIFY(o.json["unreadable_frames"] == QJsonArray{in.leftOut} && o.json["frames"] == in.reference["frames"]);
    if (in.summary == BadInput::None) QVERIFY(o.out.isEmpty());
    // Every particle row of the reference, in order, up to the frame before the one left out
    // (Frame Diff compares that frame with the next).
    const int before = in.leftOut < 0 ? INT_MAX : in.leftOut - 1;
    if (QFile::exists(dir.filePath(in.csv)))
        QCOMPARE(Rows(dir.filePath(in.csv), before), Rows(in.referenceCsv, before));
    if (in.leftOut >= 0 && in.summary != BadInput::Own) {  // logged once, 1-based
        QFile log(dir.filePath("log_KOV.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromLocal8Bit(log.readAll()).split('\n').filter("[unreadable]");
        QVERIFY(lines.size() == 1 && lines[0].endsWith(QStringLiteral(" >> [unreadable] Img:%1").arg(in.leftOut + 1)));
    }
    if (in.check) in.check(o);
}

QTEST_GUILESS_MAIN(TestTesselCount)
#include "tst_tessel_count.moc"
