// The headless counter as a program: its summary, particle table, exit codes and texts,
// and what it does with bad input.

#include "register/size_statistics.h"
#include "register_test_support.h"
#include "stream/blob_detection.h"
#include "tests/folder_snapshot.h"
#include "tests/hostile_files.h"
#include "tools/flowgen/recording_writer.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <climits>
#include <cmath>
#include <filesystem>
#include <functional>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Outcome {
    int exitCode = -1;
    QString out, err;
    QJsonObject json;
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// How the counter is started besides its arguments.
struct Launch {
    QString program = QStringLiteral(TESSEL_COUNT_PATH);
    std::function<void()> midRun;  // runs once, the counter stopped, at its first progress line
    QString stdoutFile;            // takes its standard output
    rlim_t fileSizeLimit = RLIM_INFINITY;
};

// Every run is held to 1 GiB, so that a frame decoded in full where it should not be
// ends the run: address space in the plain build, resident memory and single
// allocations under AddressSanitizer (whose shadow memory takes terabytes of address space).
constexpr rlim_t kMemoryLimit = rlim_t(1) << 30;

// Runs tessel-count in `dir`, where its log goes.
Outcome Count(const QStringList& arguments, const QString& dir, const Launch& launch = {})
{
    QProcess process;
    process.setWorkingDirectory(dir);
    if (!launch.stdoutFile.isEmpty()) process.setStandardOutputFile(launch.stdoutFile);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (kAddressSanitizer)
        environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") +
                                               ":hard_rss_limit_mb=1024:max_allocation_size_mb=512"
                                               ":allocator_may_return_null=1");
    process.setProcessEnvironment(environment);
    const rlim_t fileSize = launch.fileSizeLimit;
    process.setChildProcessModifier([fileSize] {
        const rlimit memory{kMemoryLimit, kMemoryLimit}, files{fileSize, fileSize};
        if (!kAddressSanitizer) ::setrlimit(RLIMIT_AS, &memory);
        ::signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit fails instead
        ::setrlimit(RLIMIT_FSIZE, &files);
    });
    process.start(launch.program, arguments);
    QByteArray err;
    if (launch.midRun) {
        process.setReadChannel(QProcess::StandardError);
        while (!err.contains("[Process]") && process.waitForReadyRead(120000)) err += process.readAllStandardError();
        ::kill(static_cast<pid_t>(process.processId()), SIGSTOP);
        launch.midRun();
        ::kill(static_cast<pid_t>(process.processId()), SIGCONT);
    }
    Outcome o;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) return o;
    o.exitCode = process.exitCode();
    o.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    o.err = QString::fromLocal8Bit(err + process.readAllStandardError());
    o.json = QJsonDocument::fromJson(o.out.toUtf8()).object();
    o.json.remove("finished_at");  // when, not what
    return o;
}

// The particle rows of a CSV file, of the frames before `frame`, without the file name
// (the one field that may be quoted).
QStringList Rows(const QString& path, int frame = INT_MAX)
{
    static const QRegularExpression name(QStringLiteral("^(\\d+),(\"([^\"]|\"\")*\"|[^,]*),"));
    QStringList rows = ReadText(path).split('\n', Qt::SkipEmptyParts);
    rows.removeIf(
        [frame](const QString& row) { return !row.front().isDigit() || row.section(',', 0, 0).toInt() >= frame; });
    return rows.replaceInStrings(name, QStringLiteral("\\1,"));
}

// A report without its folder: the cases count copies of a folder under other names.
QJsonObject Counted(QJsonObject json)
{
    json.remove("folder");
    return json;
}

// Size statistics of the CSV's counted rows, from their areas alone: a route to size_stats
// that does not pass through the run's records or classes.
SizeStatistics CsvSizes(const QString& path, double pixelSize)
{
    std::vector<ParticleMeasure> counted;
    for (const QString& row : Rows(path))
        if (QStringList{"single", "bigger", "smaller"}.contains(row.section(',', 7, 7))) {
            counted.push_back({0, 0, 0, row.section(',', 3, 3).toInt(), 0.0, 1.0, true});
            counted.back().feretMax = row.section(',', 8, 8).toDouble();
            counted.back().feretMin = row.section(',', 9, 9).toDouble();
        }
    return ComputeSizeStatistics(counted, ParticleClassRules{false, 0.5, 1, 1}, pixelSize);
}

const QString kUnmeasured = "[WARNING] %1 of %2 frame shifts could not be measured and were taken as 0; parts of the "
                            "flow may not be counted";
const QString kUnmeasuredMotions =
    "[WARNING] %1 of 11 frame motions could not be measured and were taken from the neighbouring frames";

// The counting line's counts when no frame shares a particle with another: every whole
// particle the detection (Background) finds, once, classed by its area.
QJsonObject CountsOfSeparateFrames(const QString& folder)
{
    int counts[3] = {0, 0, 0};  // single, bigger, smaller
    for (const QString& name : QDir(folder).entryList({"*.png"}, QDir::Files, QDir::Name))
        for (const ParticleBlob& blob :
             DetectParticlesByMethod(cv::imread((folder + '/' + name).toStdString(), cv::IMREAD_GRAYSCALE), 4))
            if (!blob.touchesBorder) {
                const long area = std::lround(blob.area);
                ++counts[area < 25 ? 2 : area > 100 ? 1 : 0];
            }
    return {{"count_in_range", counts[0]}, {"count_greater", counts[1]}, {"count_smaller", counts[2]}};
}

// Each class within `slack` particles of the other count's.
bool Near(const QJsonObject& counts, const QJsonObject& other, int slack)
{
    for (const char* key : {"count_in_range", "count_greater", "count_smaller"})
        if (std::abs(counts[key].toInt() - other[key].toInt()) > slack) return false;
    return true;
}

// Sets the modification time, in seconds since 1970.
bool Touch(const QString& path, time_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

bool Truncate(const QString& path, double share)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.resize(static_cast<qint64>(file.size() * share));
}

// A bad input, set up in a case folder that holds the small flow in "frames", and what the
// counter must do with it: keep working, name what went wrong on standard error, tell it by
// its exit status, lose nothing it could compute and change nothing in the counted folder.
struct BadInput {
    QStringList arguments = {"--json", "--csv", "p.csv", "frames"};
    Launch launch;
    QString csv = QStringLiteral("p.csv"), referenceCsv;
    QJsonObject reference;
    int exitCode = 0;      // -1: `check` judges the exit status and the messages
    QStringList messages;  // every "[ERRO] ..." and "[WARNING] ..." line, in order
    // Same: the reference's, but for the frames left out; None: nothing; Own: as `check` says.
    enum { Same, None, Own } summary = Same;
    QList<int> leftOut;  // listed as unreadable and logged once each; the table kept up to the frame before
    QString input;       // the counted folder, when it is not the last argument
    std::function<void(const Outcome&)> check;
};

// A bad-input row's case folder: the small flow copied to "frames", and the row's set-up, one
// member function per kind of bad input, which fills in what the counter must do with it.
struct BadInputCase {
    QByteArray tag;
    QString dir;
    BadInput& in;
    const WrittenFlow& small;
    const QTemporaryDir& work;
    const Outcome& smallRun;
    const QJsonObject& smallCrossing;
    int smallLogLines;
    QString frames = dir + "/frames";
    const QString notAnImage = QStringLiteral("not a PNG, JPEG, TIFF or BMP image");

    // The case folder, then the row of `tag`.
    void Prepare();

    QString Frame(int t) const { return frames + '/' + small.names[t]; }
    // Not measured: the shift of each frame left out, mostly also that of the next.
    void LeftOut(QList<int> indices, const QStringList& names, const char* reason, int unmeasured = -1)
    {
        in.exitCode = 3;
        in.leftOut = indices;
        for (const QString& name : names) in.messages << QStringLiteral("[WARNING] Left out %1 (%2)").arg(name, reason);
        if (unmeasured < 0) unmeasured = 2 * int(indices.size());
        if (unmeasured > 0) in.messages << kUnmeasured.arg(unmeasured).arg(11);
    }
    void Failed(const QString& message)
    {
        in.exitCode = 1;
        in.summary = BadInput::None;
        in.messages = {message};
    }
    void BadUsage(const QString& message)
    {
        in.exitCode = 2;
        in.summary = BadInput::None;
        in.check = [message, folder = dir](const Outcome& o) {
            QVERIFY(o.err.startsWith("tessel-count: " + message + '\n'));
            QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"frames"});
        };
    }
    // A JPEG flow beside the PNG one, counted whole for the reference.
    void JpegFlow()
    {
        QVERIFY(flowgen::WriteFlow(small.flow, (dir + "/jpeg").toStdString(), "jpg", nullptr));
        in.reference = Count({"--json", "--csv", "whole.csv", "jpeg"}, dir).json;
        in.referenceCsv = dir + "/whole.csv";
        in.arguments.last() = "jpeg";
    }
    // Damaged files that OpenCV still decodes: counted as good before.
    static void Replace(const QString& path, const hostile::Bytes& bytes, bool decodes)
    {
        QVERIFY(hostile::Write(QFile::encodeName(path).toStdString(), bytes));
        QCOMPARE(cv::imread(QFile::encodeName(path).toStdString(), cv::IMREAD_GRAYSCALE).empty(), !decodes);
    }
    static hostile::Bytes FileBytes(const QString& path)
    {
        QFile file(path);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        return hostile::Bytes(bytes.begin(), bytes.end());
    }

    void SpoiltFrame();
    void TruncatedJpeg();
    void NameNotUtf8();
    void LastFrameDeleted();
    void FolderIsAFile();
    void FirstFrameUnreadable();
    void NonAsciiNames();
    void ExportNotWritten();
    void CsvNotWritten();
    void ChartNotWritten();
    void CsvIntoPipe();
    void LogNotWritten();
    void StdoutOnFullDisk();
    void TinyFrames();
    void OddFlow();
    void AreaBoundsAtLimit();
    void FloatFrames();
    void DecompressionBomb();
    void SparseJpeg();
    void CorruptJpeg();
    void BrokenBmp();
    void SymbolicLinks();
    void CsvPathNotUtf8();
    void CsvOntoFrame();
    void ExportIntoCountedFolder();
    void FrameBecomesPipe();
    void NewlineInName();
    void CrossingSeparateFrames();
    void CrossingLeftward();
    void CrossingFramesLeftOut();
    void FormulaNames();
    void OutOfMemory();
    void ReversedFlow();
    void MultiPageTiff();
    void DirtOnTheWindow();
};

void BadInputCase::SpoiltFrame()
{
    QVERIFY(tag == "text file named .png" ? Spoil(Frame(5).toStdString())
                                          : Truncate(Frame(5), tag == "truncated PNG" ? 0.5 : 0.0));
    LeftOut({5}, {small.names[5]},
            tag == "zero-byte frame" ? "empty file"
            : tag == "truncated PNG" ? "cut short"
                                     : qPrintable(notAnImage));
    if (tag == "text file named .png")  // listed in the text summary too
        in.check = [dir = dir](const Outcome&) {
            QVERIFY(Count({"frames"}, dir).out.contains("Unreadable frames:  5\n"));
        };
}

// The decoder would fill the missing rows with grey and only warn.
void BadInputCase::TruncatedJpeg()
{
    JpegFlow();
    QVERIFY(Truncate(dir + "/jpeg/frame_0005.jpg", 0.6));
    LeftOut({5}, {"frame_0005.jpg"}, "cut short");
}

// Left out of the listing: frame 6 becomes frame 5.
void BadInputCase::NameNotUtf8()
{
    const std::string undecodable = QFile::encodeName(frames).toStdString() + "/frame_\xe4_0005.png";
    std::filesystem::rename(QFile::encodeName(Frame(5)).toStdString(), undecodable);
    LeftOut({5}, {"frame_\uFFFD_0005.png"}, "name not in UTF-8");
    in.messages.last() = kUnmeasured.arg(1).arg(10);
    in.summary = BadInput::Own;
    in.check = [undecodable](const Outcome& o) {
        QVERIFY(o.json["frames"] == 11 && o.json["unreadable_frames"] == QJsonArray());
        std::filesystem::remove(undecodable);  // QTemporaryDir cannot name it
    };
}

void BadInputCase::LastFrameDeleted()
{
    in.launch.midRun = [path = Frame(11)] { QFile::remove(path); };
    LeftOut({11}, {small.names[11]}, "missing", 1);
}

void BadInputCase::FolderIsAFile()
{
    in.arguments = {"--json", "frames/" + small.names[0]};  // one frame, not a recording of many
    Failed("[ERRO] Can not read recording " + small.names[0] + " (one image, not a recording)");
}

void BadInputCase::FirstFrameUnreadable()
{
    QVERIFY(Spoil(Frame(0).toStdString()));
    Failed("[ERRO] Can not read image frame_0000.png (" + notAnImage + ")");
    in.leftOut = {0};
}

void BadInputCase::NonAsciiNames()
{
    const QString folder = dir + "/Flüsse und Größen";
    QDir().mkpath(folder);
    for (const QString& name : small.names) QFile::copy(small.Folder() + '/' + name, folder + "/Bild \"ä\"," + name);
    in.csv = "Ergebnis ü.csv";
    in.arguments = {"--json", "--csv", in.csv, "--export", "Bilder ö", "Flüsse und Größen"};
    in.check = [dir = dir](const Outcome&) {
        QVERIFY(ReadText(dir + "/Ergebnis ü.csv").contains("\n0,\"Bild \"\"ä\"\",frame_0000.png\","));
        QVERIFY(QFile::exists(dir + "/Bilder ö/res_0_Bild \"ä\",frame_0000.png"));
    };
}

void BadInputCase::ExportNotWritten()
{
    const QString figures = tag == "export on a full disk" ? "figures" : "frames/" + small.names[0] + "/figures";
    in.arguments = QStringList{"--export", figures} + in.arguments;
    in.exitCode = 1;
    for (const QJsonValue& v : smallRun.json["selected_frames"].toArray())
        for (const char* kind : {"pos_", "res_"})
            in.messages << QStringLiteral("[ERRO] Can not write %1/%2%3_%4")
                               .arg(figures, kind)
                               .arg(v.toInt())
                               .arg(small.names[v.toInt()]);
    if (tag == "export on a full disk") {
        in.launch.fileSizeLimit = 64 << 10;       // the table and the log fit, no picture does
        in.check = [dir = dir](const Outcome&) {  // not even an empty or partial picture
            QCOMPARE(QDir(dir + "/figures").entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
        };
    }
}

void BadInputCase::CsvNotWritten()
{
    in.csv = "frames/" + small.names[0] + "/p.csv";
    in.arguments = {"--json", "--csv", in.csv, "frames"};
    in.exitCode = 1;
    in.messages = {"[ERRO] Can not write " + in.csv};
}

void BadInputCase::ChartNotWritten()
{
    const QString under = "frames/" + small.names[0];
    in.arguments = {"--json", "--histogram", under + "/c.svg", "--histogram-csv", under + "/b.csv", "frames"};
    in.exitCode = 1;
    in.messages = {"[ERRO] Can not write " + under + "/c.svg", "[ERRO] Can not write " + under + "/b.csv"};
}

// Written into, and still a pipe (a safe replace would put a file there).
void BadInputCase::CsvIntoPipe()
{
    QVERIFY(::mkfifo(QFile::encodeName(dir + "/pipe").constData(), 0600) == 0);
    const int pipe = ::open(QFile::encodeName(dir + "/pipe").constData(), O_RDONLY | O_NONBLOCK);
    in.arguments = {"--json", "--csv", "pipe", "frames"};
    in.check = [this, dir = dir, pipe](const Outcome&) {
        QByteArray piped(1 << 20, '\0');
        piped.truncate(std::max<qsizetype>(::read(pipe, piped.data(), static_cast<size_t>(piped.size())), 0));
        ::close(pipe);
        QVERIFY(!QFileInfo(dir + "/pipe").isFile() && piped.count('\n') == Rows(work.filePath("small.csv")).size() + 1);
    };
}

void BadInputCase::LogNotWritten()
{
    QVERIFY(tag == "log is a folder" ? QDir(dir).mkdir("log_KOV.txt") : QFile::link("/dev/full", dir + "/log_KOV.txt"));
    in.exitCode = 3;
    in.messages = {QStringLiteral("[WARNING] Can not write log_KOV.txt: %1 log lines lost").arg(smallLogLines)};
}

void BadInputCase::StdoutOnFullDisk()
{
    in.launch.stdoutFile = "/dev/full";
    Failed("[ERRO] Can not write the summary to standard output");
}

// Six, the fewest a count takes.
void BadInputCase::TinyFrames()
{
    QVERIFY(QDir(dir).mkdir("tiny"));
    for (int t = 0; t < 6; ++t)
        QVERIFY(cv::imwrite(QStringLiteral("%1/tiny/f%2.png").arg(dir).arg(t).toStdString(),
                            cv::Mat(1, 1, CV_8UC1, cv::Scalar(40 * t))));
    in.arguments = {"--json", "tiny"};
    // One changed pixel is too little; still done. Frame 0 is black.
    in.messages = {kUnmeasured.arg(5).arg(5), "[WARNING] 1 frame uses less than 1/16 of the 8-bit range (f0.png): "
                                              "nearly black at that depth, its particles may go uncounted"};
    in.summary = BadInput::Own;
    in.check = [](const Outcome& o) {
        QVERIFY(o.json["frames"] == 6 && o.json["frame_width"] == 1 && o.json["particles"] == 0);
    };
}

void BadInputCase::OddFlow()
{
    // At 400 a particle's old and new places are seldom each other's nearest; still or empty flows change nowhere.
    QVERIFY(WritePngFlow(GeneratedFlow(12, {0, tag == "still flow" ? 0 : 400}, 1, tag == "empty flow" ? 0.0 : 1.5),
                         dir + "/flow"));
    const int unmeasured = tag.startsWith("shift") ? 11 : 0;
    in.arguments = {"--json", "--method", "1", "flow"};  // Otsu finds a still flow's particles
    in.messages = unmeasured ? QStringList{kUnmeasured.arg(unmeasured).arg(11)} : QStringList();
    in.summary = BadInput::Own;
    in.check = [unmeasured, tag = tag](const Outcome& o) {
        QCOMPARE(o.json["unmeasured_shifts"], unmeasured);
        QVERIFY(tag != "still flow" || o.json["particles"].toInt() > 0);
    };
}

void BadInputCase::AreaBoundsAtLimit()
{
    in.arguments = {"--json", "--min-px", "2147483647", "--max-px", "2147483647", "frames"};
    in.summary = BadInput::Own;
    in.check = [](const Outcome& o) {
        QVERIFY(o.json["particles"].toInt() > 0 && o.json["count_smaller"] == o.json["particles"]);
    };
}

// Decoded near black before.
void BadInputCase::FloatFrames()
{
    std::vector<uchar> pfm, tiff;
    QVERIFY(cv::imencode(".pfm", cv::Mat(480, 640, CV_32FC1, cv::Scalar(0.7)), pfm) &&
            cv::imencode(".tif", cv::Mat(480, 640, CV_32FC1, cv::Scalar(0.7)), tiff));
    Replace(Frame(5), pfm, true);
    Replace(Frame(8), tiff, false);
    in.leftOut = {5, 8};
    in.exitCode = 3;
    in.messages = {"[WARNING] Left out frame_0005.png (" + notAnImage + ")",
                   "[WARNING] Left out frame_0008.png (pixel format not accepted)", kUnmeasured.arg(4).arg(11)};
}

void BadInputCase::DecompressionBomb()
{
    const bool first = tag != "decompression bomb";
    QVERIFY(hostile::Write(Frame(first ? 0 : 5).toStdString(), hostile::BlackPng(32768, 32768)));
    if (tag == "allocation failure") {  // the limit raised: 1 GiB does not fit under the memory limit
        in.arguments = QStringList{"--max-frame-pixels", "2000000000"} + in.arguments;
        Failed("[ERRO] Can not read image frame_0000.png (out of memory)");
        in.leftOut = {0};
    } else if (first) {
        Failed("[ERRO] Can not read image frame_0000.png (32768 x 32768, above the limit of 100000000 pixels)");
        in.leftOut = {0};
    } else {
        LeftOut({5}, {small.names[5]}, "32768 x 32768, frame 0 is 640 x 480");
    }
}

void BadInputCase::SparseJpeg()
{
    std::vector<uchar> jpeg;
    QVERIFY(cv::imencode(".jpg", cv::imread(Frame(5).toStdString()), jpeg));
    jpeg.resize(jpeg.size() / 2);
    QVERIFY(hostile::Write(Frame(5).toStdString(), jpeg) && QFile(Frame(5)).resize(100LL << 30));
    LeftOut({5}, {small.names[5]}, "107374182400 bytes, more than a frame within the pixel limit needs");
}

void BadInputCase::CorruptJpeg()
{
    JpegFlow();
    const QString path = dir + "/jpeg/frame_0005.jpg";
    const bool zeros = tag.startsWith("JPEG cut");
    Replace(path, zeros ? hostile::ZeroSecondHalf(FileBytes(path)) : hostile::FlipBits(FileBytes(path)), true);
    LeftOut({5}, {"frame_0005.jpg"}, zeros ? "cut short" : "corrupt image data");
}

// Decoded partly black before.
void BadInputCase::BrokenBmp()
{
    const cv::Mat grey = cv::imread(Frame(5).toStdString(), cv::IMREAD_GRAYSCALE);
    QVERIFY(QFile::remove(Frame(5)));
    Replace(frames + "/frame_0005.bmp", hostile::ZeroSecondHalf(hostile::RunLengthBmp(grey)), true);
    LeftOut({5}, {"frame_0005.bmp"}, "corrupt image data");
}

// Followed; what leads nowhere or to a pipe is named.
void BadInputCase::SymbolicLinks()
{
    QVERIFY(QDir(dir).mkdir("links"));
    for (int t = 0; t < 12; ++t) QVERIFY(QFile::link(Frame(t), dir + "/links/" + small.names[t]));
    QVERIFY(QFile::link(dir + "/none.png", dir + "/links/frame_0012.png"));
    QVERIFY(::mkfifo(QFile::encodeName(dir + "/links/frame_0013.png").constData(), 0600) == 0);
    in.arguments.last() = "links";
    in.input = "frames";  // where the links lead
    in.exitCode = 3;
    in.messages = {"[WARNING] Left out frame_0012.png (broken link)",
                   "[WARNING] Left out frame_0013.png (not a regular file)"};
}

// Through a shell: QProcess passes arguments as UTF-8.
void BadInputCase::CsvPathNotUtf8()
{
    in.launch.program = "/bin/sh";
    in.arguments = {"-c", "exec \"$0\" --json --csv \"$(printf 'p\\344.csv')\" frames", TESSEL_COUNT_PATH};
    in.input = "frames";
    BadUsage("Argument 3 (p\uFFFD.csv) is not valid UTF-8; paths must be given in UTF-8.");
}

// Named directly, or through a link or a chain of them.
void BadInputCase::CsvOntoFrame()
{
    in.arguments = {"--json", "--csv", "frames/" + small.names[3], "frames"};
    BadUsage("--csv frames/" + small.names[3] + " would be taken as a frame of frames.");
    in.check = [dir = dir, check = in.check, this](const Outcome& o) {
        check(o);
        QVERIFY(QFile::link(dir + "/frames/" + small.names[3], dir + "/link.csv") &&
                QFile::link("link.csv", dir + "/chain.csv"));
        QCOMPARE(Count({"--csv", "link.csv", "frames"}, dir).exitCode, 2);
        QCOMPARE(Count({"--csv", "chain.csv", "frames"}, dir).exitCode, 2);
    };
}

void BadInputCase::ExportIntoCountedFolder()
{
    in.arguments = QStringList{"--export", "frames/none/.."} + in.arguments;  // "frames" once cleaned
    BadUsage("--export frames/none/.. is the counted folder; its pictures would be taken as frames.");
}

// Not waited on.
void BadInputCase::FrameBecomesPipe()
{
    in.launch.midRun = [path = Frame(9)] {
        QFile::remove(path);
        ::mkfifo(QFile::encodeName(path).constData(), 0600);
    };
    LeftOut({9}, {small.names[9]}, "not a regular file");
}

// Escaped: no line of its own.
void BadInputCase::NewlineInName()
{
    const QString forged = frames + "/frame_0005\n[ERRO] forged.png";
    QVERIFY(QFile::rename(Frame(5), forged) && Spoil(forged.toStdString()));
    LeftOut({5}, {"frame_0005\\n[ERRO] forged.png"}, qPrintable(notAnImage));
}

void BadInputCase::CrossingSeparateFrames()
{
    // Every frame alone: what a frame with particles shows is counted there, once.
    const bool beyond = tag.endsWith("frame");
    QVERIFY(WritePngFlow(GeneratedFlow(12, {0, beyond ? 700 : 160}, 1, beyond ? 1.5 : 0.0), dir + "/flow"));
    if (tag.contains("one frame"))
        QVERIFY(QFile::remove(dir + "/flow/frame_0006.png") && QFile::copy(Frame(6), dir + "/flow/frame_0006.png"));
    in.arguments = {"--json", "--mode", "crossing", "flow"};
    // Of the flow beyond the frame, frames 10 and 11 show too few particles to tell; chance
    // agreements of the others' particles (scattered, not along one direction) link none.
    in.messages = {kUnmeasuredMotions.arg(beyond ? 2 : 11)};
    if (beyond)
        in.messages << "[WARNING] 9 of 11 frames show nothing of the frame before (a shift larger than the "
                       "frame?); what passed between them was not counted";
    in.summary = BadInput::Own;
    in.check = [dir = dir, tag = tag](const Outcome& o) {
        QVERIFY(Near(o.json, CountsOfSeparateFrames(dir + "/flow"), 0));
        QCOMPARE(o.json["unmeasured_shifts"], 11);
        QCOMPARE(o.json["links"], 0);
        QCOMPARE(o.json["particles"].toInt() > 0, !tag.contains("no particles"));
    };
}

// The same flow backwards: the same particles.
void BadInputCase::CrossingLeftward()
{
    in.arguments = {"--json", "--mode", "crossing", "--order", "desc", "frames"};
    in.summary = BadInput::Own;
    in.check = [this](const Outcome& o) {
        QVERIFY(Near(o.json, smallCrossing, 2));
        QCOMPARE(o.json["flow_direction"], "left");
        QCOMPARE(smallCrossing["flow_direction"], "right");
    };
}

// Followed across the gaps: hardly a particle lost.
void BadInputCase::CrossingFramesLeftOut()
{
    QVERIFY(Spoil(Frame(3).toStdString()) &&
            cv::imwrite(Frame(8).toStdString(), cv::Mat(240, 320, CV_8UC1, cv::Scalar(200))));
    in.arguments = {"--json", "--mode", "crossing", "frames"};
    in.exitCode = 3;
    in.messages = {"[WARNING] Left out frame_0003.png (" + notAnImage + ")",
                   "[WARNING] Left out frame_0008.png (320 x 240, frame 0 is 640 x 480)"};
    in.summary = BadInput::Own;
    in.check = [this](const Outcome& o) {
        QCOMPARE(o.json["unreadable_frames"], QJsonArray({3, 8}));
        QCOMPARE(o.json["unmeasured_shifts"], 0);
        QVERIFY(Near(o.json, smallCrossing, 3));
    };
}

// Ordered by time, the names quoted as text.
void BadInputCase::FormulaNames()
{
    // Frames of interest 0, 4, 8 and 11 get one start each.
    const auto formula = [this](int t) {
        return QChar::fromLatin1("=+-@"[t / 3]) + QStringLiteral("1+2 ") + small.names[t];
    };
    for (int t = 0; t < 12; ++t) {
        const QString name = frames + '/' + formula(t);
        QVERIFY(QFile::rename(Frame(t), name) && Touch(name, 1000000000 + t));
    }
    in.arguments = QStringList{"--sort", "time"} + in.arguments;
    in.check = [dir = dir, formula](const Outcome&) {
        const QString text = ReadText(dir + "/p.csv");
        for (int t : {0, 4, 8, 11}) QVERIFY(text.contains(QStringLiteral("\n%1,\"'%2\",").arg(t).arg(formula(t))));
    };
}

// Six frames of 9999 x 10000 (within the pixel limit, small files) under the run's 1 GiB:
// where memory runs out depends on the decoding threads, so the counter may leave frames
// out, stop, or (threads decoding one frame at a time) count them all, but says "out of
// memory" for what it leaves out and never aborts.
void BadInputCase::OutOfMemory()
{
    QDir().mkpath(dir + "/huge");
    for (int t = 0; t < 6; ++t)
        QVERIFY(hostile::Write(QStringLiteral("%1/huge/frame_%2.png").arg(dir).arg(t, 4, 10, QChar('0')).toStdString(),
                               hostile::BlackPng(9999, 10000)));
    in.arguments = {"--json", "--mode", tag.endsWith("line") ? "crossing" : "foi", "huge"};
    in.exitCode = -1;
    in.summary = BadInput::Own;
    in.check = [](const Outcome& o) {
        const QStringList errors = o.err.split('\n').filter(QRegularExpression("^\\[ERRO\\]"));
        const QStringList namedLeftOut = o.err.split('\n').filter(QRegularExpression("^\\[WARNING\\] Left out"));
        // Exit 0 when the threads happened to decode few enough frames at once for all to fit.
        QVERIFY2(o.exitCode == 0 || o.exitCode == 1 || o.exitCode == 3,
                 qPrintable(QStringLiteral("exit %1: %2").arg(o.exitCode).arg(o.err.right(400))));
        for (const QString& line : errors + namedLeftOut) QVERIFY2(line.endsWith("(out of memory)"), qPrintable(line));
        if (o.exitCode == 0) {
            QVERIFY(errors.isEmpty() && namedLeftOut.isEmpty());
            QCOMPARE(o.json["frames_counted"], 6);
        } else if (o.exitCode == 1) {
            QCOMPARE(errors.size(), 1);
            QVERIFY(o.out.isEmpty());
        } else {
            QVERIFY(errors.isEmpty());
            QCOMPARE(o.json["frames"], 6);
            QCOMPARE(o.json["unreadable_frames"].toArray().size(), namedLeftOut.size());
            QVERIFY(!namedLeftOut.isEmpty());
        }
    };
}

// A flow that runs back is counted as if it went on by the frames of interest (the shifts are
// distances): counted, but said to be unsound, with the frames from which it ran back.
void BadInputCase::ReversedFlow()
{
    const bool oscillates = tag.contains("oscillates");
    // Reverses: 120 five times, then back. Oscillates: 100 right, 100 left, ...
    const std::vector<int> shifts = oscillates ? std::vector<int>{0, 100, -100, 100, -100, 100, -100, 100, -100, 100}
                                               : std::vector<int>{0, 120, 120, 120, 120, 120, -120};
    const int count = oscillates ? 10 : 12;
    QVERIFY(WritePngFlow(GeneratedFlow(count, shifts, 3), dir + "/flow"));
    in.arguments = {"--json", "flow"};
    in.summary = BadInput::Own;
    const QList<int> changes = oscillates ? QList<int>{2, 3, 4, 5, 6, 7, 8, 9} : QList<int>{6};
    const QString name = QString::fromStdString(flowgen::FrameFileName(changes.front(), count, "png"));
    const QString times = oscillates ? QStringLiteral(", %1 times in all").arg(changes.size()) : QString();
    in.messages = {QStringLiteral("[WARNING] The flow reversed at frame %1 (%2)%3; the frames of interest assume a "
                                  "flow in one direction: particles carried back are counted again, the counts are "
                                  "not sound")
                       .arg(changes.front() + 1)
                       .arg(name, times)};
    in.check = [changes](const Outcome& o) {
        QJsonArray expected;
        for (int frame : changes) expected << frame;
        QCOMPARE(o.json["direction_changes"].toArray(), expected);
    };
}

// A frame file that is a multi-page TIFF (read by content, whatever its name): its first page
// is the frame, counted as the PNG was; the other pages are not read, said once with the file
// and its pages.
void BadInputCase::MultiPageTiff()
{
    const cv::Mat frame = cv::imread(Frame(3).toStdString(), cv::IMREAD_GRAYSCALE);
    const std::string stack = (dir + "/stack.tif").toStdString();
    QVERIFY(cv::imwrite(stack, std::vector<cv::Mat>{frame, 255 - frame, frame}));
    QVERIFY(QFile::remove(Frame(3)) && QFile::rename(QString::fromStdString(stack), Frame(3)));
    in.messages = {"[WARNING] frame_0003.png holds 3 pages; only its first page is read as a frame"};
}

// Dark spots that never move (dirt on the window) are told apart, not counted, and said.
void BadInputCase::DirtOnTheWindow()
{
    for (const QString& name : small.names) {
        cv::Mat frame = cv::imread((frames + '/' + name).toStdString(), cv::IMREAD_GRAYSCALE);
        for (const cv::Point spot : {cv::Point(60, 400), cv::Point(500, 60), cv::Point(560, 420)})
            cv::circle(frame, spot, 6, cv::Scalar(40), cv::FILLED);
        QVERIFY(cv::imwrite((frames + '/' + name).toStdString(), frame));
    }
    in.arguments = {"--json", "--mode", "crossing", "frames"};
    in.summary = BadInput::Own;
    in.messages = {"[WARNING] 3 objects stayed in place and were not counted"};
    in.check = [this](const Outcome& o) {
        QCOMPARE(o.json["static_objects"], 3);
        QVERIFY(Near(o.json, smallCrossing, 2));
    };
}

// The bad inputs, one row each: its name and its set-up.
const std::pair<const char*, void (BadInputCase::*)()> kBadInputs[] = {
    {"zero-byte frame", &BadInputCase::SpoiltFrame},
    {"truncated PNG", &BadInputCase::SpoiltFrame},
    {"truncated JPEG", &BadInputCase::TruncatedJpeg},
    {"text file named .png", &BadInputCase::SpoiltFrame},
    {"name not in UTF-8", &BadInputCase::NameNotUtf8},
    {"last frame deleted during the run", &BadInputCase::LastFrameDeleted},
    {"folder is a file", &BadInputCase::FolderIsAFile},
    {"frame 0 unreadable", &BadInputCase::FirstFrameUnreadable},
    {"spaces and non-ASCII names", &BadInputCase::NonAsciiNames},
    {"export folder cannot be made", &BadInputCase::ExportNotWritten},
    {"CSV cannot be written", &BadInputCase::CsvNotWritten},
    {"chart cannot be written", &BadInputCase::ChartNotWritten},
    {"CSV into a pipe", &BadInputCase::CsvIntoPipe},
    {"log is a folder", &BadInputCase::LogNotWritten},
    {"log on a full disk", &BadInputCase::LogNotWritten},
    {"standard output on a full disk", &BadInputCase::StdoutOnFullDisk},
    {"1 x 1 frames", &BadInputCase::TinyFrames},
    {"shift above half the frame width", &BadInputCase::OddFlow},
    {"still flow", &BadInputCase::OddFlow},
    {"empty flow", &BadInputCase::OddFlow},
    {"area bounds at the int limit", &BadInputCase::AreaBoundsAtLimit},
    {"flow that reverses", &BadInputCase::ReversedFlow},
    {"flow that oscillates", &BadInputCase::ReversedFlow},
    {"multi-page TIFF as a frame", &BadInputCase::MultiPageTiff},
    // hostile inputs, one row per class
    {"float frames named .png", &BadInputCase::FloatFrames},
    {"decompression bomb", &BadInputCase::DecompressionBomb},
    {"decompression bomb as frame 0", &BadInputCase::DecompressionBomb},
    {"allocation failure", &BadInputCase::DecompressionBomb},
    {"sparse 100 GB file that starts like a JPEG", &BadInputCase::SparseJpeg},
    {"JPEG cut short into a preallocated file", &BadInputCase::CorruptJpeg},
    {"JPEG with flipped bits", &BadInputCase::CorruptJpeg},
    {"BMP with a broken run-length stream", &BadInputCase::BrokenBmp},
    {"frames are symbolic links", &BadInputCase::SymbolicLinks},
    {"CSV path not in UTF-8", &BadInputCase::CsvPathNotUtf8},
    {"CSV onto a frame", &BadInputCase::CsvOntoFrame},
    {"export into the counted folder", &BadInputCase::ExportIntoCountedFolder},
    {"export on a full disk", &BadInputCase::ExportNotWritten},
    {"frame replaced by a pipe during the run", &BadInputCase::FrameBecomesPipe},
    {"newline in a frame name", &BadInputCase::NewlineInName},
    {"names that look like formulas", &BadInputCase::FormulaNames},
    // the counting line
    {"crossing: no particles", &BadInputCase::CrossingSeparateFrames},
    {"crossing: one frame with particles", &BadInputCase::CrossingSeparateFrames},
    {"crossing: right to left", &BadInputCase::CrossingLeftward},
    {"crossing: frames left out", &BadInputCase::CrossingFramesLeftOut},
    {"crossing: shift larger than the frame", &BadInputCase::CrossingSeparateFrames},
    {"crossing: dirt on the window", &BadInputCase::DirtOnTheWindow},
    // memory running out
    {"out of memory: frames of interest", &BadInputCase::OutOfMemory},
    {"out of memory: counting line", &BadInputCase::OutOfMemory},
};

void BadInputCase::Prepare()
{
    in.reference = smallRun.json;
    in.referenceCsv = work.filePath("small.csv");
    QDir().mkpath(frames);
    for (const QString& name : small.names) QFile::copy(small.Folder() + '/' + name, frames + '/' + name);
    for (const auto& [name, setUp] : kBadInputs)
        if (tag == name) return (this->*setUp)();
    QFAIL("no such row");
}

}  // namespace

class TestTesselCount : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void summaryAndTable();
    void badUsage();
    void severalFolders();
    void badInputs_data();
    void badInputs();
    void recordings();
    void depthsAndFaintFlows();
    void partsAndTheirMerge();
    void crossingVelocities();

private:
    WrittenFlow flow, small;  // 30 and 12 frames
    QTemporaryDir work;
    Outcome smallRun;           // --json --csv small.csv
    QJsonObject smallCrossing;  // --json --mode crossing
    int smallLogLines = 0;
};

void TestTesselCount::initTestCase()
{
    QVERIFY(work.isValid() && flow.Make(30, {160}) && small.Make(12, {160}, 2));
    QTemporaryDir logDir;
    smallRun = Count({"--json", "--csv", work.filePath("small.csv"), small.Folder()}, logDir.path());
    QVERIFY(smallRun.exitCode == 0 && Rows(work.filePath("small.csv")).size() > 50);
    smallLogLines = static_cast<int>(ReadText(logDir.filePath("log_KOV.txt")).count('\n'));
    smallCrossing = Count({"--json", "--mode", "crossing", small.Folder()}, logDir.path()).json;
    QVERIFY(smallCrossing["particles"].toInt() > 50);
}

// The JSON summary, on one line, is the window's run. The table and the text summary follow
// the options; backwards the flow moves left by the same shift: the same frames of interest,
// frame 0 now being the last file. Each progress text comes once.
void TestTesselCount::summaryAndTable()
{
    QVERIFY(QDir::setCurrent(work.path()));  // for the log
    const Run run(Settings(flow.Folder(), flow.names));
    QVERIFY(run.Finished());
    const QDateTime started = QDateTime::currentDateTime().addSecs(-1);  // the report keeps whole seconds
    const Outcome plain = Count({"--json", "--csv", "plain.csv", flow.Folder()}, work.path());
    QJsonObject json = plain.json;
    const QDateTime finished =
        QDateTime::fromString(QJsonDocument::fromJson(plain.out.toUtf8())["finished_at"].toString(), Qt::ISODate);
    QVERIFY(started <= finished && finished <= QDateTime::currentDateTime());
    const SizeStatistics stats = CsvSizes(work.filePath("plain.csv"), 1.5);
    QJsonObject sizes = json.take("size_stats").toObject();
    QCOMPARE(sizes.take("counted"), stats.counted);
    for (const auto& [key, value] : {std::pair{"d10_um", stats.d10Um},
                                     {"d50_um", stats.d50Um},
                                     {"d90_um", stats.d90Um},
                                     {"mean_ecd_um", stats.meanEcdUm},
                                     {"mean_area_um2", stats.meanAreaUm2},
                                     {"mean_aspect_ratio", stats.meanAspectRatio}})
        QVERIFY2(std::abs(sizes.take(key).toDouble() - value) <= 1e-5 * value, key);
    QVERIFY(sizes.isEmpty());
    static const QRegularExpression key("\"(\\w+)\":");
    QStringList keys;
    for (const QRegularExpressionMatch& m : key.globalMatch(plain.out)) keys << m.captured(1);
    QCOMPARE(keys.join(' '), "mode frames frame_width frame_height selected_frames accumulated_shift count_in_range "
                             "count_greater count_smaller particles unreadable_frames unmeasured_shifts folder method "
                             "min_px max_px pixel_size_um circularity frames_counted finished_at size_stats counted "
                             "d10_um d50_um d90_um mean_ecd_um mean_area_um2 mean_aspect_ratio bit_depth "
                             "direction_changes detected_min_px detected_max_px");
    QCOMPARE(json, QJsonObject({{"mode", "foi"},
                                {"frames", 30},
                                {"frame_width", 640},
                                {"frame_height", 480},
                                {"selected_frames", QJsonArray{0, 4, 8, 12, 16, 20, 24, 28, 29}},
                                {"accumulated_shift", 160},
                                {"count_in_range", run.result.countInRange},
                                {"count_greater", run.result.countGreater},
                                {"count_smaller", run.result.countSmaller},
                                {"particles", static_cast<int>(run.result.records.size())},
                                {"unreadable_frames", QJsonArray{}},
                                {"unmeasured_shifts", 0},
                                {"folder", flow.Folder()},
                                {"method", 3},
                                {"min_px", 25},
                                {"max_px", 100},
                                {"pixel_size_um", 1.5},
                                {"circularity", QJsonValue::Null},
                                {"frames_counted", 30},
                                {"bit_depth", 8},
                                {"direction_changes", QJsonArray{}},
                                {"detected_min_px", 25},
                                {"detected_max_px", 100}}));
    const Outcome o = Count({"--order", "desc", "--pixel-size", "2", "--min-px", "30", "--max-px", "120",
                             "--circularity", "0.85", "--csv", "options.csv", flow.Folder()},
                            work.path());
    QVERIFY(plain.out.count('\n') == 1 && o.exitCode == 0 && o.err.count('\n') == 29 + 8);
    QStringList rows = ReadText(work.filePath("options.csv")).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.takeFirst(), "frame,file,x,y,area_px,area_um2,ratio,circularity,class,feret_max_px,feret_min_px,"
                               "aspect_ratio,solidity,blur_px,vx_px,vy_px");
    QMap<QString, int> classes;
    for (const QString& row : rows) {
        const QStringList f = row.split(',');
        const int area = f[4].toInt();
        const char* kind = f[7].toDouble() < 0.85 ? "filtered"
                           : area < 30            ? "smaller"
                           : area > 120           ? "bigger"
                                                  : "single";
        QVERIFY(f[1] == flow.names[29 - f[0].toInt()] && f[5].toDouble() == 4.0 * area && f[8] == kind);
        // A particle's calipers: the shortest no longer than the longest, which spans at
        // least the diameter of a disc of its area; its hull holds it.
        const double feretMax = f[9].toDouble(), feretMin = f[10].toDouble(), solidity = f[12].toDouble();
        QVERIFY2(feretMin > 0.0 && feretMin <= feretMax && feretMax >= 0.9 * 2.0 * std::sqrt(area / M_PI),
                 qPrintable(row));
        QVERIFY2(std::abs(f[11].toDouble() - feretMax / feretMin) <= 1e-4 * f[11].toDouble(), qPrintable(row));
        QVERIFY2(solidity > 0.0 && solidity <= 1.0, qPrintable(row));
        QVERIFY(f.size() == 16 && f[14].isEmpty() && f[15].isEmpty());  // frames of interest: not followed
        ++classes[f[8]];
    }
    QVERIFY(classes["filtered"] > 0);
    const SizeStatistics options = CsvSizes(work.filePath("options.csv"), 2.0);
    QCOMPARE(
        QString(o.out).remove(QRegularExpression("Finished:           \\S+\n$")),
        QStringLiteral("Folder:             %1\nMode:               frames of interest\n"
                       "Method:             3 (Frame Diff)\nFrames:             30 (640 x 480)\n"
                       "Frames of interest: 0 4 8 12 16 20 24 28 29\nLast strip:         160 columns\n"
                       "# Single:           %2 (30 to 120 px)\n# Bigger:           %3\n# Smaller:          %4\n"
                       "Particle records:   %5\nUnreadable frames:  none\nUnmeasured shifts:  0 of 29\n"
                       "Circularity filter: 0.85\nPixel size:         2 um\n"
                       "Sizes:              %6 counted; ECD D10 %7, D50 %8, D90 %9, mean %10 um; mean area %11 um2\n"
                       "Bit depth:          8\n")
            .arg(flow.Folder())
            .arg(classes["single"])
            .arg(classes["bigger"])
            .arg(classes["smaller"])
            .arg(rows.size())
            .arg(options.counted)
            .arg(SignificantText(options.d10Um), SignificantText(options.d50Um), SignificantText(options.d90Um),
                 SignificantText(options.meanEcdUm), SignificantText(options.meanAreaUm2)));
}

// Exit status 2, the reason after "tessel-count: " (empty: the parser's own), the usage.
void TestTesselCount::badUsage()
{
    const QString one = "At least one FOLDER is needed.", method = "--method takes 1, 2, 3 or 4.",
                  circularity = "--circularity takes a number from 0 to 1.",
                  area = " takes a whole number of at least 1.";
    const std::pair<QStringList, QString> rows[] = {
        {{}, one},
        {{"--colour", "x"}, ""},
        {{"x", "--method"}, ""},
        {{"--method", "0", "x"}, method},
        {{"--method", "5", "x"}, method},
        {{"--mode", "line", "x"}, "--mode takes foi or crossing."},
        {{"--method", "two", "x"}, method},
        {{"--min-px", "0", "x"}, "--min-px" + area},
        {{"--max-px", "many", "x"}, "--max-px" + area},
        {{"--min-px", "101", "x"}, "--min-px 101 is above --max-px 100."},
        {{"--pixel-size", "0", "x"}, "--pixel-size takes a positive number."},
        {{"--csv=", "x"}, "--csv needs a file name."},
        {{"--circularity", "2", "x"}, circularity},
        {{"--circularity", "nan", "x"}, circularity},
        {{"--sort", "colour", "x"}, "--sort takes name, time or size."},
        {{"--order", "up", "x"}, "--order takes asc or desc."},
        {{"--histogram", "chart.jpg", "x"}, "--histogram takes a .png or .svg file."},
        {{"--histogram", "c.png", "--histogram-format", "svg", "x"}, "--histogram c.png does not end in .svg."},
        {{"--histogram-format", "gif", "x", "y"}, "--histogram-format takes png or svg."},
        {{"--csv", "small.csv", "x", "y"}, "--csv small.csv is a file; with several folders it names a folder."},
        // One folder's chart would become a frame of the other.
        {{"--histogram", small.Folder(), flow.Folder(), small.Folder()},
         "--histogram " + small.Folder() + "/1_" + QFileInfo(flow.Folder()).fileName() +
             ".png would be taken as a frame of " + small.Folder() + "."}};
    for (const auto& [arguments, message] : rows) {
        const Outcome o = Count(arguments, work.path());
        QVERIFY2(o.exitCode == 2 && o.out.isEmpty() && o.err.startsWith("tessel-count: " + message) &&
                     o.err.contains("Usage: tessel-count [options] FOLDER"),
                 qPrintable(arguments.join(' ')));
    }
    const Outcome help = Count({"--help"}, work.path());
    QVERIFY(help.exitCode == 0 && help.out.contains("--circularity <V>"));
}

// Three folders counted one after the other, and handed one each to xargs -P and to the Slurm
// script (its array index set by hand): the same reports, but for the time, one line per
// folder in list order; the charts as files, one per folder though two share a name.
void TestTesselCount::severalFolders()
{
    QTemporaryDir dir;
    QStringList folders;
    for (const char* name : {"a", "one/flow", "two/flow"}) {
        folders << dir.filePath(name);
        QVERIFY(WritePngFlow(GeneratedFlow(8, {}, static_cast<unsigned>(folders.size() + 19)), folders.back()));
    }
    QFile list(dir.filePath("folders.txt"));
    QVERIFY(list.open(QIODevice::WriteOnly) && list.write((folders.join('\n') + '\n').toUtf8()) > 0);
    list.close();
    const auto reports = [](QString out) {
        return out.remove(QRegularExpression(",\"finished_at\":\"[^\"]*\"")).split('\n', Qt::SkipEmptyParts);
    };
    const Outcome several = Count(
        QStringList{"--json", "--circularity", "0.5", "--histogram", "charts", "--histogram-csv", "bins"} + folders,
        dir.path());
    QCOMPARE(several.exitCode, 0);
    const QStringList lines = reports(several.out);
    QCOMPARE(lines.size(), 3);
    for (int i = 0; i < 3; ++i) QCOMPARE(QJsonDocument::fromJson(lines[i].toUtf8())["folder"], folders[i]);
    QCOMPARE(QJsonDocument::fromJson(lines[0].toUtf8())["circularity"], 0.5);
    Launch sh;
    sh.program = "/bin/sh";
    const QString path = "PATH=" + QFileInfo(TESSEL_COUNT_PATH).path() + ":$PATH; ";
    const Outcome xargs = Count({"-c", path + "mkdir -p json && xargs -d '\\n' -P 3 -n 1 sh -c 'tessel-count --json "
                                              "--circularity 0.5 \"$1\" > \"json/$(printf %s \"$1\" | tr / _).json\"' "
                                              "sh < folders.txt && cat json/*.json"},
                                dir.path(), sh);
    QCOMPARE(reports(xargs.out), lines);
    const Outcome slurm = Count({"-c", path + "for i in 1 2 3; do SLURM_ARRAY_TASK_ID=$i bash " TESSEL_SLURM_SCRIPT
                                              " folders.txt slurm --circularity 0.5 || exit; done; cat slurm/*.json"},
                                dir.path(), sh);
    QCOMPARE(reports(slurm.out), lines);

    for (const char* name : {"1_a", "2_flow", "3_flow"})
        QCOMPARE(QImage(dir.filePath(QStringLiteral("charts/%1.png").arg(name))).size(), QSize(960, 600));
    int binned = 0;
    for (const QString& row : ReadText(dir.filePath("bins/1_a_bins.csv")).split('\n').mid(1))
        binned += row.section(',', 5, 5).toInt();
    QCOMPARE(binned, QJsonDocument::fromJson(lines[0].toUtf8())["size_stats"]["counted"].toInt());
    QCOMPARE(Count({"--histogram", "chart.svg", folders[0]}, dir.path()).exitCode, 0);
    QVERIFY(ReadText(dir.filePath("chart.svg")).contains("<svg"));  // drawn as the suffix says

    // The worst of the folders: not counted (1) over frames left out (3) over done (0).
    QVERIFY(QDir(dir.path()).mkdir("five") && QDir(dir.path()).mkdir("spoiled"));
    for (const QString& name : QDir(folders[0]).entryList(QDir::Files)) {
        QVERIFY(QFile::copy(folders[0] + '/' + name, dir.filePath("spoiled/" + name)));
        if (name < "frame_0005") QVERIFY(QFile::copy(folders[0] + '/' + name, dir.filePath("five/" + name)));
    }
    QVERIFY(Spoil(dir.filePath("spoiled/frame_0003.png").toStdString()));
    const Outcome left = Count({"--json", "spoiled", "a"}, dir.path());
    QCOMPARE(left.exitCode, 3);
    const Outcome failed = Count({"--json", "five", "spoiled", "a"}, dir.path());
    QCOMPARE(failed.exitCode, 1);
    // The folder not counted gets a line that says why, in its place.
    QStringList failedLines = reports(failed.out);
    QVERIFY(!failedLines.isEmpty());
    const QJsonObject notCounted = QJsonDocument::fromJson(failedLines.takeFirst().toUtf8()).object();
    QCOMPARE(notCounted,
             QJsonObject({{"folder", "five"}, {"error", "[ERRO] Only 5 images were found; at least 6 are needed"}}));
    QCOMPARE(failedLines, reports(left.out));
    QVERIFY(failed.err.contains("[Running] five (1 of 3)\n[ERRO] Only 5 images were found; at least 6 are needed\n"));
}

void TestTesselCount::badInputs_data()
{
    QTest::addColumn<int>("unused");
    for (const auto& [tag, setUp] : kBadInputs)
        // Plain builds only: AddressSanitizer handles failed allocations itself.
        if (!kAddressSanitizer || !QByteArray(tag).startsWith("out of memory")) QTest::newRow(tag) << 0;
}

void TestTesselCount::badInputs()
{
    QTemporaryDir dir;
    BadInput in;
    BadInputCase row{QTest::currentDataTag(), dir.path(), in, small, work, smallRun, smallCrossing, smallLogLines};
    row.Prepare();
    if (QTest::currentTestFailed()) return;
    const QString input = dir.filePath(in.input.isEmpty() ? in.arguments.last() : in.input);
    QMap<QByteArray, QByteArray> before = Snapshot(input);
    if (in.launch.midRun)
        in.launch.midRun = [&, midRun = in.launch.midRun] {
            midRun();
            before = Snapshot(input);
        };
    const Outcome o = Count(in.arguments, dir.path(), in.launch);
    if (in.exitCode >= 0) {
        QCOMPARE(o.exitCode, in.exitCode);
        QCOMPARE(o.err.split('\n').filter(QRegularExpression("^\\[(ERRO|WARNING)\\]")), in.messages);
    }
    if (in.summary == BadInput::Same && in.leftOut.isEmpty()) QCOMPARE(Counted(o.json), Counted(in.reference));
    if (in.summary == BadInput::Same && !in.leftOut.isEmpty()) {
        QJsonArray unreadable;
        for (int index : in.leftOut) unreadable << index;
        QCOMPARE(o.json["unreadable_frames"].toArray(), unreadable);
        QCOMPARE(o.json["frames"], in.reference["frames"]);
    }
    if (in.summary == BadInput::None) QVERIFY(o.out.isEmpty());
    // Every particle row of the reference, in order, up to the frame before the first one left
    // out (Frame Diff compares that frame with the next).
    const int first = in.leftOut.isEmpty() ? INT_MAX : in.leftOut.front() - 1;
    if (QFile::exists(dir.filePath(in.csv))) QCOMPARE(Rows(dir.filePath(in.csv), first), Rows(in.referenceCsv, first));
    if (!in.leftOut.isEmpty() && in.summary != BadInput::Own) {  // logged once each, 1-based
        QStringList logged;
        for (const QString& line : ReadText(dir.filePath("log_KOV.txt")).split('\n').filter("[unreadable]"))
            logged << line.section(" >> ", 1);
        QStringList expected;
        for (int index : in.leftOut) expected << QStringLiteral("[unreadable] Img:%1").arg(index + 1);
        QCOMPARE(logged, expected);
    }
    QCOMPARE(Snapshot(input), before);  // the counted folder as it was
    if (in.check) in.check(o);
}

// A stack and a lossless video of a folder count as the folder does, in both modes; their
// frames are named by their index in the table and the pictures. A video cut short is
// counted as far as it can be read (exit 3); a file that is no recording is refused, and
// so is an output that would replace the recording.
void TestTesselCount::recordings()
{
    QTemporaryDir dir;
    const QString stack = dir.filePath("small.tif"), video = dir.filePath("small.avi"), cut = dir.filePath("cut.avi");
    QVERIFY(flowgen::WriteStack(small.flow, stack.toStdString(), nullptr));
    QVERIFY(flowgen::WriteVideo(small.flow, video.toStdString(), nullptr));
    const auto withoutFolder = [](QJsonObject json) {
        json.remove("folder");
        return json;
    };
    for (const QString& recording : {stack, video}) {
        const Outcome foi = Count({"--json", "--csv", "rows.csv", "--export", "figures", recording}, dir.path());
        QCOMPARE(foi.exitCode, 0);
        QCOMPARE(withoutFolder(foi.json), withoutFolder(smallRun.json));
        QCOMPARE(foi.json["folder"].toString(), recording);
        QCOMPARE(withoutFolder(Count({"--json", "--mode", "crossing", recording}, dir.path()).json),
                 withoutFolder(smallCrossing));
        const QString name = QFileInfo(recording).fileName();
        const QStringList rows = ReadText(dir.filePath("rows.csv")).split('\n', Qt::SkipEmptyParts).mid(1);
        QVERIFY(!rows.isEmpty());
        for (const QString& row : rows)
            QCOMPARE(row.section(',', 1, 1), QStringLiteral("frame %1 of %2").arg(row.section(',', 0, 0), name));
        QStringList pictures;
        for (const QJsonValue& index : foi.json["selected_frames"].toArray())
            for (const char* kind : {"pos_", "res_"}) pictures << QString::asprintf("%s%06d.png", kind, index.toInt());
        pictures.sort();
        QCOMPARE(QDir(dir.filePath("figures")).entryList(QDir::Files, QDir::Name), pictures);
        QVERIFY(QDir(dir.filePath("figures")).removeRecursively());
    }
    QVERIFY(Truncate(video, 0.6) && QFile::rename(video, cut));
    const Outcome shortened = Count({"--json", cut}, dir.path());
    QCOMPARE(shortened.exitCode, 3);
    const int read = shortened.json["frames"].toInt();
    QVERIFY2(read >= 4 && read < 9, qPrintable(shortened.err));
    QVERIFY2(shortened.err.contains(QStringLiteral("[WARNING] cut.avi could not be read past frame %1; %2 of its 12 "
                                                   "frames were counted\n")
                                        .arg(read - 1)
                                        .arg(read)),
             qPrintable(shortened.err));
    QFile text(dir.filePath("notes.avi"));
    QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not a video") > 0);
    text.close();
    const Outcome notes = Count({text.fileName()}, dir.path());
    QCOMPARE(notes.exitCode, 1);
    QCOMPARE(notes.err, "[ERRO] Can not read recording notes.avi (not a TIFF stack or a video file)\n");
    const Outcome over = Count({"--csv", stack, stack}, dir.path());
    QCOMPARE(over.exitCode, 2);
    QVERIFY(over.err.startsWith(QStringLiteral("tessel-count: --csv %1 would replace the recording %1.").arg(stack)));
}

// 12-bit frames report their depth; a flow too faint for the shift measure, and a frame
// nearly black at the run's depth, are warned about without changing the exit status.
void TestTesselCount::depthsAndFaintFlows()
{
    QTemporaryDir deep, faint, dark;
    for (int t = 0; t < 12; ++t) {
        const cv::Mat grey = cv::imread(small.Path(t), cv::IMREAD_GRAYSCALE);
        cv::Mat twelve;
        grey.convertTo(twelve, CV_16U, 16.0);
        QVERIFY(cv::imwrite(deep.filePath(small.names[t]).toStdString(), twelve));
        QVERIFY(cv::imwrite(faint.filePath(small.names[t]).toStdString(), cv::Mat(grey / 16 + 100)));
        QVERIFY(cv::imwrite(dark.filePath(small.names[t]).toStdString(), t == 7 ? cv::Mat(grey / 40) : grey));
    }
    const Outcome twelveBits = Count({"--json", deep.path()}, deep.path());
    QCOMPARE(twelveBits.exitCode, 0);
    QCOMPARE(twelveBits.json["bit_depth"].toInt(), 12);
    QCOMPARE(twelveBits.json["count_in_range"], smallRun.json["count_in_range"]);
    QVERIFY(Count({deep.path()}, deep.path())
                .out.contains(QRegularExpression("\\nBit depth:          12 \\(frame 0's largest sample \\d+\\)\\n")));
    const Outcome dim = Count({"--json", faint.path()}, faint.path());
    QCOMPARE(dim.exitCode, 0);
    QCOMPARE(dim.json["unmeasured_shifts"].toInt(), 11);
    QVERIFY2(dim.err.contains("[WARNING] 11 frames differ from the frame before but no shift was measured; they were "
                              "taken as still, and parts of the flow may not be counted (too faint a flow?)\n") &&
                 !dim.err.contains("frame shifts could not be measured"),
             qPrintable(dim.err));
    const Outcome black = Count({"--json", dark.path()}, dark.path());
    QCOMPARE(black.exitCode, 0);
    QVERIFY2(black.err.contains("[WARNING] 1 frame uses less than 1/16 of the 8-bit range (frame_0007.png): nearly "
                                "black at that depth, its particles may go uncounted\n"),
             qPrintable(black.err));
}

// --frames counts a part on the counting line; --merge sums the parts' summaries into the
// whole run's counts. Parts of other settings, parts that do not meet and whole summaries
// are refused; parts that leave frames out are merged with a warning; a part outside the
// sequence, or of the frames of interest, is bad usage.
void TestTesselCount::partsAndTheirMerge()
{
    QTemporaryDir dir;
    const auto part = [&](const QString& file, const QString& frames, const QStringList& more = {}) {
        const Outcome o = Count(QStringList{"--json", "--mode", "crossing", "--frames", frames} + more + QStringList{small.Folder()},
                                dir.path());
        QFile out(dir.filePath(file));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(o.out.toUtf8()) > 0);
        QCOMPARE(o.exitCode, 0);
        QCOMPARE(o.json["part"].toArray(), QJsonArray({frames.section(':', 0, 0).toInt(), frames.section(':', 1).toInt()}));
        QCOMPARE(o.json["sequence_frames"], 12);
    };
    part("a.json", "0:5");
    part("b.json", "5:11");
    part("c.json", "5:11", {"--min-px", "30"});
    part("d.json", "6:11");
    const Outcome merged = Count({"--merge", "b.json", "a.json"}, dir.path());
    QCOMPARE(merged.exitCode, 0);
    for (const char* key : {"count_in_range", "count_greater", "count_smaller", "particles", "frames", "frames_counted",
                            "selected_frames", "unreadable_frames", "mode", "method", "bit_depth", "folder",
                            "direction_changes"})
        QCOMPARE(merged.json[key], smallCrossing[key]);
    QVERIFY(!merged.json.contains("links") && !merged.json.contains("crossings_forward"));
    const QJsonArray mergedBands = merged.json["velocity_profile"].toArray(),
                     wholeBands = smallCrossing["velocity_profile"].toArray();
    QCOMPARE(mergedBands.size(), wholeBands.size());
    for (qsizetype b = 0; b < wholeBands.size(); ++b) {
        QCOMPARE(mergedBands[b]["count"], wholeBands[b]["count"]);
        QVERIFY(qAbs(mergedBands[b]["mean_speed_px"].toDouble() - wholeBands[b]["mean_speed_px"].toDouble()) < 1e-3);
    }
    QCOMPARE(merged.json["parts"], 2);
    // The cluster recipe in its chunked form, tasks run one after the other here.
    Launch sh;
    sh.program = "/bin/sh";
    const Outcome slurm = Count({"-c", "PATH=" + QFileInfo(TESSEL_COUNT_PATH).path() +
                                           ":$PATH; for i in 1 2 3; do SLURM_ARRAY_TASK_ID=$i bash " TESSEL_SLURM_SCRIPT
                                           " --parts 3 " + small.Folder() +
                                           " chunks || exit; done; tessel-count --merge chunks/*.json"},
                                dir.path(), sh);
    QCOMPARE(slurm.exitCode, 0);
    QCOMPARE(slurm.json["parts"], 3);
    QCOMPARE(slurm.json["part"], QJsonArray({0, 11}));
    for (const char* key : {"count_in_range", "count_greater", "count_smaller", "particles", "selected_frames"})
        QCOMPARE(slurm.json[key], smallCrossing[key]);
    const QJsonObject sizes = merged.json["size_stats"].toObject(), wholeSizes = smallCrossing["size_stats"].toObject();
    QCOMPARE(sizes["counted"], wholeSizes["counted"]);
    // The parts' means as written, to six significant digits.
    QVERIFY(qAbs(sizes["mean_area_um2"].toDouble() / wholeSizes["mean_area_um2"].toDouble() - 1) < 1e-5);

    const std::tuple<QStringList, int, QString> refused[] = {
        {{"a.json", "c.json"}, 1,
         "[ERRO] The parts were counted with different settings: min_px 25 in a.json, 30 in c.json\n"},
        {{"a.json", "d.json"}, 1,
         "[ERRO] Parts 0:5 (a.json) and 6:11 (d.json) do not meet end to end; the next part begins with the frame the "
         "one before ends with\n"},
        {{"a.json"}, 3, "[WARNING] The parts cover frames 0 to 5 of the 12 frames (0 to 11)\n"},
    };
    for (const auto& [files, exitCode, err] : refused) {
        const Outcome o = Count(QStringList{"--merge"} + files, dir.path());
        QCOMPARE(o.exitCode, exitCode);
        QCOMPARE(o.err, err);
    }
    QFile whole(dir.filePath("whole.json"));
    QVERIFY(whole.open(QIODevice::WriteOnly) &&
            whole.write(QJsonDocument(smallCrossing).toJson(QJsonDocument::Compact)) > 0);
    whole.close();
    QCOMPARE(Count({"--merge", "a.json", "whole.json"}, dir.path()).err,
             "[ERRO] whole.json holds the summary of a whole sequence, not of a part (--frames)\n");
    const Outcome outside = Count({"--mode", "crossing", "--frames", "5:12", small.Folder()}, dir.path());
    QCOMPARE(outside.exitCode, 2);
    QCOMPARE(outside.err, "tessel-count: Frames 5:12 are not a part of the 12 frames (0:11)\n");
    const Outcome foi = Count({"--frames", "0:5", small.Folder()}, dir.path());
    QCOMPARE(foi.exitCode, 2);
    QVERIFY(foi.err.startsWith("tessel-count: --frames needs --mode crossing"));
}

// The counting line's velocities, on a rigid flow moving 160 columns a frame: each record's
// velocity in the table (and its speed per second with a frame rate), the profile's bands
// in the summary and in their own table, the tracking numbers.
void TestTesselCount::crossingVelocities()
{
    const Outcome o = Count({"--json", "--mode", "crossing", "--pixel-size", "2", "--frame-rate", "50", "--csv",
                             "velocity_records.csv", "--velocity-csv", "velocity.csv", small.Folder()},
                            work.path());
    QCOMPARE(o.exitCode, 0);
    const int particles = o.json["particles"].toInt();
    QCOMPARE(particles, smallCrossing["particles"].toInt());
    QCOMPARE(o.json["static_objects"], 0);
    QVERIFY(o.json["ambiguous_links"].toInt() * 50 <= o.json["links"].toInt());
    QCOMPARE(o.json["crossings_forward"].toInt() - o.json["crossings_backward"].toInt(), particles);
    QCOMPARE(o.json["direction_changes"], QJsonArray{});
    const QJsonArray bands = o.json["velocity_profile"].toArray();
    QCOMPARE(bands.size(), 10);
    int inBands = 0;
    for (const QJsonValue& band : bands) {
        inBands += band["count"].toInt();
        if (band["count"].toInt() == 0)
            continue;
        QVERIFY(std::abs(band["mean_speed_px"].toDouble() - 160.0) < 0.5);
        // Six significant digits each.
        QVERIFY(std::abs(band["mean_speed_um"].toDouble() - 2.0 * band["mean_speed_px"].toDouble()) < 0.01);
        QVERIFY(std::abs(band["mean_speed_um_s"].toDouble() - 100.0 * band["mean_speed_px"].toDouble()) < 0.1);
    }
    QCOMPARE(inBands, particles);
    QStringList rows = ReadText(work.filePath("velocity_records.csv")).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.takeFirst(), "frame,file,x,y,area_px,area_um2,ratio,circularity,class,feret_max_px,feret_min_px,"
                               "aspect_ratio,solidity,blur_px,vx_px,vy_px,speed_um_s");
    QCOMPARE(rows.size(), particles);
    // A particle seen in one frame alone (the first, at its far edge) has no velocity.
    int unfollowed = 0;
    for (const QString& row : rows) {
        const QStringList f = row.split(',');
        QCOMPARE(f.size(), 17);
        if (f[14].isEmpty()) {
            QVERIFY(f[15].isEmpty() && f[16].isEmpty());
            ++unfollowed;
            continue;
        }
        // Its own displacement between its first and last whole views: within 2 %.
        QVERIFY2(std::abs(f[14].toDouble() - 160.0) < 3.2 && std::abs(f[15].toDouble()) < 1.0, qPrintable(row));
        QVERIFY(std::abs(f[16].toDouble() - 100.0 * std::hypot(f[14].toDouble(), f[15].toDouble())) < 0.1);
    }
    QVERIFY(unfollowed * 10 < particles);
    const QStringList profile = ReadText(work.filePath("velocity.csv")).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(profile.size(), 11);
    QCOMPARE(profile.first(), "band,from,to,count,mean_speed_px,mean_speed_um,mean_speed_um_s");
    QVERIFY(profile[1].startsWith("1,0,0.1,"));
    // The text summary says what was left out as dirt and the crossings each way.
    const Outcome text = Count({"--mode", "crossing", small.Folder()}, work.path());
    QVERIFY(text.out.contains("Static objects:     0 (never counted)\n"));
    QVERIFY(text.out.contains(QStringLiteral("Line crossings:     %1 along the flow, 0 against it\n").arg(particles)));
}

QTEST_GUILESS_MAIN(TestTesselCount)
#include "tst_tessel_count.moc"
