// The window's commands on a generated flow against the headless counter (tessel-count); the bad-input sweep.

#include "tests/app/window_fixture.h"
#include "tests/dialogs/particle_image.h"
#include "tests/folder_snapshot.h"
#include "tests/hostile_files.h"
#include "tools/flowgen/recording_writer.h"

#include "dialogs/crop_dialog.h"
#include "dialogs/size_distribution_dialog.h"
#include "dialogs/velocity_profile_dialog.h"
#include "register/frame_listing.h"
#include "register/run_engine.h"
#include "register/run_numbers.h"
#include "register/run_pictures.h"
#include "register/run_stream.h"
#include "tools/flowgen/flowgen.h"

#include <QDoubleSpinBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QChart>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScreen>
#include <QXYSeries>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstring>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

#if defined(__SANITIZE_ADDRESS__)
// Resident memory says little under the address sanitizer, whose allocator keeps freed memory
// (the 10,000 frames take 700 MiB there). A single allocation above 512 MiB fails instead, as a
// bomb decoded in full would make: the frame is then "out of memory", not what the rows expect.
extern "C" const char* __asan_default_options()
{
    return "max_allocation_size_mb=512:allocator_may_return_null=1";
}
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

namespace {

QByteArray Contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What tessel-count makes of a folder: its summary, particle table and log lines.
struct Headless {
    QJsonObject json;
    QByteArray csv;
    int logLines = 0;
    QString Text(const char* key) const { return QString::number(json[key].toInt()); }
    QStringList Counters() const { return {Text("count_in_range"), Text("count_greater"), Text("count_smaller")}; }
    int Selected() const { return int(json["selected_frames"].toArray().size()); }
};

Headless Count(const QString& folder, QStringList options = {})
{
    QTemporaryDir dir;
    QProcess count;
    count.setWorkingDirectory(dir.path());
    count.start(TESSEL_COUNT_PATH, options << "--json"
                                           << "--csv" << dir.filePath("p.csv") << folder);
    count.waitForFinished(300000);
    return {QJsonDocument::fromJson(count.readAllStandardOutput()).object(), Contents(dir.filePath("p.csv")),
            int(Contents(dir.filePath("log_KOV.txt")).count('\n'))};
}

QPushButton* Button(Window& w, const char* name)
{
    return Child<QPushButton>(&w, name);
}

// "Calculate FoI", then the event loop until the window takes commands again;
// `atSecondStep` runs from within the run's second step.
bool Run(
    Window& w, const std::function<void()>& atSecondStep = [] {})
{
    QEventLoop loop;
    int steps = 0;
    QObject::connect(w.statusBar(), &QStatusBar::messageChanged, &loop, [&](const QString& text) {
        if (text.startsWith("[Process]") && ++steps == 2) atSecondStep();
        if (Button(w, "btn_proc_runVR")->isEnabled()) loop.quit();
    });
    QTimer::singleShot(300000, &loop, &QEventLoop::quit);
    Button(w, "btn_proc_runVR")->click();
    if (!Button(w, "btn_proc_runVR")->isEnabled()) loop.exec();
    return Button(w, "btn_proc_runVR")->isEnabled();
}

void Spoil(const QString& path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a picture") > 0);
}

hostile::Bytes FileBytes(const QString& path)
{
    const QByteArray bytes = Contents(path);
    return hostile::Bytes(bytes.begin(), bytes.end());
}

void Touch(const QString& path, qint64 seconds)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite) &&
            file.setFileTime(QDateTime::fromSecsSinceEpoch(seconds), QFileDevice::FileModificationTime));
}

// Resident memory in KiB: the peak since the last reset ("VmHWM:") or now ("VmRSS:").
qint64 ResidentKiB(const char* key)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0) return std::stoll(line.substr(std::strlen(key)));
    return -1;
}
void ResetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// A bad input in the case folder, and what the window must make of it. The folder holds a
// copy of the flow unless `make` writes it; the hooks spoil it at their moment.
struct BadInput {
    QStringList messages;  // every "[WARNING] ..." and "[ERRO] ..." shown, in order
    QString folder = QStringLiteral("frames");
    int listed = 12;
    bool frameShown = true;      // frame 6 is on screen before the run
    bool sameAsHeadless = true;  // counters, strip, figures and table as tessel-count's on the folder
    QStringList countOptions;    // tessel-count's, for the window's frame order
    int keptBefore = 0;          // else: the table's rows of the frames before this are the reference's
    QString figures = QStringLiteral("figures"), data = QStringLiteral("data/p.csv");  // export targets
    std::function<void(const QString& folder)> make;
    std::function<void(Window&, const QString& folder)> loaded;  // after loading, before the run
    std::function<void(const QString& folder)> midRun;           // from within the run's second step
    std::function<void(Window&, const QString& folder)> ran;     // after the run and its comparison
    std::function<void(const QString& folder)> chosen;           // an export's folder was chosen
    std::function<void(const QString& data)> written;            // the table written
};

// The table's particle rows of the frames before `frame`.
QList<QByteArray> RowsBefore(const QByteArray& csv, int frame)
{
    QList<QByteArray> rows = csv.split('\n').mid(1);
    rows.removeIf([frame](const QByteArray& row) { return row.isEmpty() || row.split(',').value(0).toInt() >= frame; });
    return rows;
}

// On the frame on screen: count it alone, open the crop and the selection dialogs; then step
// around it. The message is cleared first, so that one repeated is seen again. Whatever is
// refused leaves the counters as `counted`.
void StepAroundTheFrame(Window& w, const QStringList& counted)
{
    auto* cropBox = Child<QCheckBox>(&w, "proc_chb_cropImg");
    auto* cropDialog = w.findChild<CTool4CropImg*>();
    for (const char* step : {"btn_proc_countOne", "proc_chb_cropImg", "btn_setting_manualSelection", "viewImg_nextAct",
                             "viewImg_preAct", "viewImg_lastAct"}) {
        w.statusBar()->clearMessage();
        if (auto* action = Child<QAction>(&w, step))
            action->trigger();
        else
            QTest::mouseClick(Child<QAbstractButton>(&w, step), Qt::LeftButton);
        if (qstrcmp(step, "btn_proc_countOne") == 0 && !StatusText(w).startsWith("[IDLE]"))  // nothing counted
            QCOMPARE(Counters(w), counted);
        QCOMPARE(cropDialog->isVisible(), cropBox->isChecked());
        if (cropDialog->isVisible()) QTest::mouseClick(Child<QPushButton>(cropDialog, "btn_Cancel"), Qt::LeftButton);
        Child<QDialog>(&w, "tool4SelectRegion")->hide();
    }
}

}  // namespace

Q_DECLARE_METATYPE(BadInput)

struct BadInputRows;

class TestWindow : public QObject {
    Q_OBJECT
    friend struct BadInputRows;

private slots:
    void initTestCase();
    void cleanup();
    void badInputs_data();
    void badInputs();
    void countCurrent();
    void cancelAndReopen();
    void runsAsTheCounter();
    void recordingsAsSequences();
    void manualCalibrationTakesTheRange();
    void resultsFollowTheCount();
    void settingsOutliveTheWindow();
    void largeFramesShownAtThePreviewsSize();
    void numbersToTrust();
    void layoutWithinTheForm();
    void settingsNotWritable();

private:
    QTemporaryDir work;
    flowgen::Flow flow;  // 12 frames, 640 x 480, in work/flow
    QStringList names;
    Headless reference;                  // of work/flow
    std::unique_ptr<BadInputRows> rows;  // of badInputs
    void RecountsOfTheRun(Window& w);
    void ExportBoth(Window& w, const BadInput& in, const Headless& headless, const QStringList& listing);
    QString Case(const QString& name) const { return work.filePath("case/" + name); }
    void CopyFlow(const QString& folder, const QString& prefix = {}) const
    {
        QDir().mkpath(folder);
        for (const QString& name : names) QFile::copy(work.filePath("flow/" + name), folder + "/" + prefix + name);
    }
    // As "Calculate FoI" takes them, at the default range.
    RunSettings FlowSettings() const
    {
        RunSettings settings;
        settings.folder = work.filePath("flow");
        settings.frameNames = names;
        return settings;
    }
};

void TestWindow::initTestCase()
{
    KeepSettingsIn(work.filePath("settings"));
    flowgen::FlowSettings settings;
    settings.frames = 12;
    settings.seed = 7;
    settings.shifts = flowgen::PatternShifts(12, {160, 100, 120, 160});
    flow = flowgen::GenerateFlow(settings);
    QVERIFY(flowgen::WriteFlow(flow, work.filePath("flow").toStdString(), "png", nullptr));
    for (int t = 0; t < 12; ++t) names << QString::fromStdString(flowgen::FrameFileName(t, 12, "png"));
    reference = Count(work.filePath("flow"));
    QVERIFY(reference.json["particles"].toInt() > 50 && reference.logLines > 0);
}

void TestWindow::cleanup()
{
    QSettings().clear();
    QVERIFY(QDir::setCurrent(work.path()));
    std::filesystem::remove_all(QFile::encodeName(Case("")).toStdString());  // also names QDir cannot spell
}

// The bad inputs, grouped by when they strike, one row each: the rows share the texts the
// window shows and the ways a folder is made or spoilt.
struct BadInputRows {
    using Rows = std::vector<std::pair<const char*, BadInput>>;
    const TestWindow& test;
    const QString outOfRange = "[WARNING] Out of range", failed = "[ERRO] %1 exported files could not be written";
    // Not measured: the shift of a frame that cannot be read, mostly also that of the next.
    const QString unmeasured =
        "; %1 of %2 frame shifts could not be measured and were taken as 0; parts of the flow may not be counted";
    const QString lost = "[WARNING] 1 frame could not be read", oneLost = lost + unmeasured.arg(2).arg(11);

    QString At(int t) const { return "/" + test.names[t]; }
    // Frame 5 left out: the end of the run says so; counting it alone, cropping and calibrating on
    // it, and stepping back onto it refuse it.
    QStringList Unreadable(const QString& name, const QString& end, const QString& reason) const
    {
        const QString notRead = "[WARNING] Can not read image " + name;
        return QStringList{end, notRead, notRead, notRead, Skipped(name, reason)};
    }
    // Next and Previous step over a frame the reader refuses, naming it with the reason.
    static QString Skipped(const QString& name, const QString& reason)
    {
        return QStringLiteral("[WARNING] Skipped %1 (%2)").arg(name, reason);
    }
    static std::function<void(Window&, const QString&)> AfterLoading(std::function<void(const QString&)> spoil)
    {
        return [spoil](Window&, const QString& folder) { spoil(folder); };
    }
    std::function<void(const QString&)> JpegFlow() const
    {
        return [this](const QString& folder) {
            QVERIFY(flowgen::WriteFlow(test.flow, folder.toStdString(), "jpg", nullptr));
        };
    }
    // Damaged files that OpenCV still decodes, and so counted as good before.
    static void Replace(const QString& path, const hostile::Bytes& bytes)
    {
        QVERIFY(hostile::Write(QFile::encodeName(path).toStdString(), bytes));
        QVERIFY(!cv::imread(QFile::encodeName(path).toStdString(), cv::IMREAD_GRAYSCALE).empty());
    }

    Rows GoodFolders() const;
    Rows SpoiltOnceLoaded() const;
    Rows SpoiltDuringTheRun() const;
    Rows AfterTheRun() const;
    Rows NothingToMeasureAgainst() const;
    Rows HostileFrames() const;
    Rows NamesAndLinks() const;
    Rows RefusedOutputs() const;
};

BadInputRows::Rows BadInputRows::GoodFolders() const
{
    Rows rows;
    BadInput in;
    rows.emplace_back("good flow", in);
    in.make = [this](const QString& folder) {  // as 16-bit grey and colour files: the same greys
        test.CopyFlow(folder);
        for (int t = 0; t < 12; ++t) {
            const std::string path = (folder + "/" + test.names[t]).toStdString();
            cv::Mat grey = cv::imread(path, cv::IMREAD_GRAYSCALE), file;
            grey.convertTo(file, CV_16U, 257.0);
            if (t % 2) cv::merge(std::vector<cv::Mat>{file, file, file}, file);
            cv::imwrite(path, file);
        }
    };
    rows.emplace_back("16-bit grey and colour frames", in);
    in = {};
    in.folder = "Flüsse und Größen";
    in.make = [this](const QString& folder) { test.CopyFlow(folder, "Bild ä,"); };
    rows.emplace_back("spaces and non-ASCII names", in);
    in = {};
    in.listed = 10000;
    in.make = [](const QString& folder) {
        for (int i = 0; i < 10000; ++i)
            cv::imwrite(QString::asprintf("%s/f%05d.png", qPrintable(folder), i).toStdString(),
                        cv::Mat(48, 64, CV_8UC1, 128));
    };
    rows.emplace_back("10,000 frames", in);
    return rows;
}

BadInputRows::Rows BadInputRows::SpoiltOnceLoaded() const
{
    Rows rows;
    BadInput in;
    in.messages = Unreadable("frame_0005.png", oneLost, "empty file");
    in.loaded = AfterLoading([this](const QString& folder) { QFile::resize(folder + At(5), 0); });
    rows.emplace_back("zero-byte frame", in);
    in.messages = Unreadable("frame_0005.png", oneLost, "cut short");
    in.loaded = AfterLoading(
        [this](const QString& folder) { QFile::resize(folder + At(5), QFileInfo(folder + At(5)).size() * 6 / 10); });
    rows.emplace_back("truncated PNG", in);
    in.messages = Unreadable("frame_0005.png", oneLost, "not a PNG, JPEG, TIFF or BMP image");
    in.loaded = AfterLoading([this](const QString& folder) { Spoil(folder + At(5)); });
    rows.emplace_back("text file named .png", in);
    in.messages = Unreadable("frame_0005.jpg", oneLost, "cut short");
    in.make = JpegFlow();
    in.loaded = AfterLoading([](const QString& folder) {
        const QString frame5 = folder + "/frame_0005.jpg";
        QFile::resize(frame5, QFileInfo(frame5).size() * 6 / 10);
    });
    rows.emplace_back("truncated JPEG", in);
    in = {};
    in.messages = QStringList{oneLost, "[WARNING] Can not count image frame_0005.png: 320 x 240, frame 0 is 640 x 480"};
    in.loaded = AfterLoading([this](const QString& folder) {
        cv::imwrite((folder + At(5)).toStdString(), cv::Mat(240, 320, CV_8UC1, 200));
    });
    rows.emplace_back("frame of another size", in);
    in = {};
    // One sample width a sequence: a 16-bit frame among 8-bit ones is left out, not guessed at.
    in.messages = Unreadable(test.names[5], oneLost, "16-bit samples, frame 0 is 8-bit");
    in.loaded = AfterLoading([this](const QString& folder) {
        const std::string path = (folder + At(5)).toStdString();
        cv::Mat file;
        cv::imread(path, cv::IMREAD_GRAYSCALE).convertTo(file, CV_16U, 257.0);
        cv::imwrite(path, file);
    });
    rows.emplace_back("a 16-bit frame among 8-bit ones", in);
    in = {};
    in.listed = 11;
    in.messages = QStringList{"[WARNING] Left out f\uFFFD.png (name not in UTF-8)",
                              "[WARNING] 1 frame file left out (name not in UTF-8)" + unmeasured.arg(1).arg(10)};
    in.make = [this](const QString& folder) {
        test.CopyFlow(folder);
        std::filesystem::rename(QFile::encodeName(folder + At(5)).toStdString(),
                                QFile::encodeName(folder).toStdString() + "/f\xe4.png");
    };
    rows.emplace_back("name not in UTF-8", in);
    return rows;
}

// The last frame, a frame of interest, from within the run: the frames before it keep their rows.
BadInputRows::Rows BadInputRows::SpoiltDuringTheRun() const
{
    Rows rows;
    BadInput in;
    in.sameAsHeadless = false;
    in.keptBefore = 10;
    in.messages = QStringList{lost + unmeasured.arg(1).arg(11), outOfRange, failed.arg(2)};
    in.midRun = [this](const QString& folder) { QFile::remove(folder + At(11)); };
    rows.emplace_back("frame deleted during the run", in);
    in.midRun = [this](const QString& folder) { Spoil(folder + At(11)); };
    rows.emplace_back("frame spoilt during the run", in);
    in.midRun = [this](const QString& folder) {  // never waited on: a wait holds the row until QTest's watchdog ends it
        QFile::remove(folder + At(11));
        QVERIFY(::mkfifo(QFile::encodeName(folder + At(11)).constData(), 0600) == 0);
    };
    rows.emplace_back("frame replaced by a pipe during the run", in);
    return rows;
}

BadInputRows::Rows BadInputRows::AfterTheRun() const
{
    Rows rows;
    const QString allFailed = failed.arg(2 * test.reference.Selected());
    BadInput in;
    in.messages = QStringList{"[ERRO] No images were found", allFailed};
    in.ran = [](Window& w, const QString& folder) {
        QVERIFY(QDir(folder).removeRecursively());
        Child<QComboBox>(&w, "cb_video_order")->setCurrentIndex(1);  // lists it again
    };
    rows.emplace_back("folder gone after the run", in);
    in = {};
    in.messages = QStringList{allFailed, "[ERRO] Can not write " + test.Case("data/p.csv")};
    in.chosen = [](const QString& folder) {  // the chosen folders made regular files
        QVERIFY(QDir(folder).removeRecursively() && QFile(folder).open(QIODevice::WriteOnly));
    };
    rows.emplace_back("export folders cannot be written", in);
    in = {};
    in.messages =
        QStringList{QString("[WARNING] Can not write log_KOV.txt: %1 log lines lost").arg(test.reference.logLines)};
    in.make = [this](const QString& folder) {
        test.CopyFlow(folder);
        QVERIFY(QDir().mkdir(test.Case("log_KOV.txt")));  // the log goes beside the folder
    };
    rows.emplace_back("log file cannot be written", in);
    return rows;
}

// No frame shown, so the frame number reads 0.
BadInputRows::Rows BadInputRows::NothingToMeasureAgainst() const
{
    Rows rows;
    BadInput in;
    in.frameShown = in.sameAsHeadless = false;
    // Next steps over frame 0 onto frame 1, Previous finds nothing before it but frame 0.
    const QString notImage = "not a PNG, JPEG, TIFF or BMP image",
                  bomb = "32768 x 32768, above the limit of 100000000 pixels";
    in.messages = QStringList{outOfRange,
                              "[ERRO] Can not read image frame_0000.png (" + notImage + ")",
                              outOfRange,
                              outOfRange,
                              outOfRange,
                              Skipped("frame_0000.png", notImage),
                              Skipped("frame_0000.png", notImage)};
    in.make = [this](const QString& folder) {
        test.CopyFlow(folder);
        Spoil(folder + At(0));
    };
    rows.emplace_back("frame 0 unreadable", in);
    in.messages = QStringList{outOfRange,
                              "[ERRO] Can not read image frame_0000.png (" + bomb + ")",
                              outOfRange,
                              outOfRange,
                              outOfRange,
                              Skipped("frame_0000.png", bomb),
                              Skipped("frame_0000.png", bomb)};
    in.make = [this](const QString& folder) {  // not decoded: see the peak memory
        test.CopyFlow(folder);
        QVERIFY(hostile::Write((folder + At(0)).toStdString(), hostile::BlackPng(32768, 32768)));
    };
    rows.emplace_back("decompression bomb as frame 0", in);
    in = {};
    in.frameShown = in.sameAsHeadless = false;
    in.listed = 5;
    in.messages = QStringList{"[ERRO] Only 5 images were found; at least 6 are needed"};
    in.make = [this](const QString& folder) {
        test.CopyFlow(folder);
        for (const QString& name : test.names.mid(5)) QFile::remove(folder + "/" + name);
    };
    rows.emplace_back("five frames and a sub-folder", in);
    return rows;
}

// Frames that cannot be a camera's, put in place of frame 5 while it is on screen: left out before
// they are decoded, or when their decoder warns.
BadInputRows::Rows BadInputRows::HostileFrames() const
{
    Rows rows;
    BadInput in;
    in.messages = Unreadable("frame_0005.png", oneLost, "32768 x 32768, above the limit of 100000000 pixels");
    in.loaded = AfterLoading([this](const QString& folder) {  // not decoded: see the peak memory
        QVERIFY(hostile::Write((folder + At(5)).toStdString(), hostile::BlackPng(32768, 32768)));
    });
    rows.emplace_back("decompression bomb", in);
    in.messages =
        Unreadable("frame_0005.png", oneLost, "107374182400 bytes, more than a frame within the pixel limit needs");
    in.loaded = AfterLoading([this](const QString& folder) {
        std::vector<uchar> jpeg;
        QVERIFY(cv::imencode(".jpg", cv::imread((folder + At(5)).toStdString()), jpeg));
        jpeg.resize(jpeg.size() / 2);
        QVERIFY(hostile::Write((folder + At(5)).toStdString(), jpeg) && QFile(folder + At(5)).resize(100LL << 30));
    });
    rows.emplace_back("sparse 100 GB file that starts like a JPEG", in);
    const QString twoLost = "[WARNING] 2 frames could not be read" + unmeasured.arg(4).arg(11);
    in.messages = Unreadable("frame_0005.png", twoLost, "not a PNG, JPEG, TIFF or BMP image");
    in.loaded = AfterLoading([this](const QString& folder) {  // decoded as colour even when grey is asked for; float
        const cv::Mat colour(480, 640, CV_32FC3, cv::Scalar(0.7, 0.2, 0.5)), grey(480, 640, CV_32FC1, 0.7);
        std::vector<uchar> hdr, tiff;
        QVERIFY(cv::imencode(".hdr", colour, hdr) && cv::imencode(".tif", grey, tiff));
        Replace(folder + At(5), hdr);
        QVERIFY(hostile::Write((folder + At(8)).toStdString(), tiff));
    });
    rows.emplace_back("three-channel HDR and float TIFF named .png", in);
    in.messages = Unreadable("frame_0005.jpg", twoLost, "cut short");
    in.make = JpegFlow();
    // Cut short into a preallocated file; flipped bits. JPEG has no checksum: flips are seen where the decoder
    // meets a code it does not know (frame 7 here), not where they decode to other valid codes (frames 5 and 8).
    in.loaded = AfterLoading([](const QString& folder) {
        Replace(folder + "/frame_0005.jpg", hostile::ZeroSecondHalf(FileBytes(folder + "/frame_0005.jpg")));
        Replace(folder + "/frame_0007.jpg", hostile::FlipBits(FileBytes(folder + "/frame_0007.jpg")));
    });
    rows.emplace_back("corrupt JPEG frames", in);
    in.messages = Unreadable("frame_0005.bmp", oneLost, "corrupt image data");
    in.make = [this](const QString& folder) {  // a sound run-length BMP first
        test.CopyFlow(folder);
        const cv::Mat grey = cv::imread((folder + At(5)).toStdString(), cv::IMREAD_GRAYSCALE);
        QVERIFY(QFile::remove(folder + At(5)));
        Replace(folder + "/frame_0005.bmp", hostile::RunLengthBmp(grey));
    };
    in.loaded = AfterLoading([](const QString& folder) {
        const QString bmp = folder + "/frame_0005.bmp";
        Replace(bmp, hostile::ZeroSecondHalf(FileBytes(bmp)));
    });
    rows.emplace_back("BMP with a broken run-length stream", in);
    in = {};
    in.messages = {"[WARNING] frame_0005.png holds 3 pages; only its first page is read as a frame"};
    in.make = [this](const QString& folder) {  // its first page the frame: counted as the counter counts it
        test.CopyFlow(folder);
        const cv::Mat grey = cv::imread((folder + At(5)).toStdString(), cv::IMREAD_GRAYSCALE);
        const std::string stack = (folder + "/../stack.tif").toStdString();
        QVERIFY(cv::imwrite(stack, std::vector<cv::Mat>{grey, grey / 2, grey}));
        QVERIFY(QFile::remove(folder + At(5)) && QFile::rename(QString::fromStdString(stack), folder + At(5)));
    };
    in.ran = [](Window& w, const QString&) {  // beside the counters until the next run
        QVERIFY(Child<QLabel>(&w, "label_runSummary")->toolTip().endsWith("1 multi-page frame file: first page read only"));
    };
    rows.emplace_back("multi-page TIFF as a frame", in);
    in = {};
    in.messages = {"[WARNING] The flow reversed at frame 9 (frame_0008.png); the frames of interest assume a flow in "
                   "one direction: particles carried back are counted again, the counts are not sound"};
    in.make = [this](const QString& folder) {  // frames 6, 5, 4, 3 again after frame 7: back the way it came
        test.CopyFlow(folder);
        for (int k = 0; k < 4; ++k)
            QVERIFY(QFile::remove(folder + At(8 + k)) && QFile::copy(folder + At(6 - k), folder + At(8 + k)));
    };
    in.ran = [](Window& w, const QString&) {
        QVERIFY(Child<QLabel>(&w, "label_runSummary")->toolTip().endsWith("flow reversed at frame 9: counts not sound"));
    };
    rows.emplace_back("flow that reverses", in);
    return rows;
}

BadInputRows::Rows BadInputRows::NamesAndLinks() const
{
    Rows rows;
    BadInput in;
    in.folder = "links";
    in.messages = QStringList{"[WARNING] Left out 2 frame files (frame_0012.png: broken link, ...)"};
    in.make = [this](const QString& folder) {  // followed; what leads nowhere or to a pipe is named
        test.CopyFlow(test.Case("targets"));
        QDir().mkpath(folder);
        for (const QString& name : test.names) QVERIFY(QFile::link(test.Case("targets/") + name, folder + "/" + name));
        QVERIFY(QFile::link(test.Case("none.png"), folder + "/frame_0012.png"));
        QVERIFY(::mkfifo(QFile::encodeName(folder + "/frame_0013.png").constData(), 0600) == 0);
    };
    rows.emplace_back("frames are symbolic links", in);
    in = {};
    in.countOptions = QStringList{"--sort", "time", "--order", "desc"};
    in.make = [this](const QString& folder) {
        test.CopyFlow(folder);
        for (const QString& name : test.names) Touch(folder + "/" + name, 1000000000);
    };
    in.loaded = [](Window& w, const QString&) {
        Child<QComboBox>(&w, "cb_video_sortby")->setCurrentIndex(1);  // by time, newest first
        Child<QComboBox>(&w, "cb_video_order")->setCurrentIndex(1);
    };
    in.ran = [this](Window& w, const QString&) {
        QCOMPARE(Counters(w), test.reference.Counters());  // in name order
    };
    rows.emplace_back("equal modification times", in);
    in = {};
    const QString forged = "frame_0005\n[ERRO] forged.png";
    in.messages = Unreadable("frame_0005\\n[ERRO] forged.png", oneLost,
                             "not a PNG, JPEG, TIFF or BMP image");  // escaped: no line of its own
    in.make = [this, forged](const QString& folder) {
        test.CopyFlow(folder);
        QVERIFY(QFile::rename(folder + At(5), folder + "/" + forged));
    };
    in.loaded = AfterLoading([forged](const QString& folder) { Spoil(folder + "/" + forged); });
    rows.emplace_back("newline in a frame name", in);
    in = {};
    in.countOptions = QStringList{"--sort", "time"};
    const auto formula = [this](int t) {
        return QChar::fromLatin1("=+-@"[t / 3]) + QStringLiteral("1+2 ") + test.names[t];
    };
    in.make = [this, formula](const QString& folder) {  // ordered by time, so that each start leads a frame of interest
        test.CopyFlow(folder);
        for (int t = 0; t < 12; ++t) {
            QVERIFY(QFile::rename(folder + At(t), folder + "/" + formula(t)));
            Touch(folder + "/" + formula(t), 1000000000 + t);
        }
    };
    in.loaded = [](Window& w, const QString&) { Child<QComboBox>(&w, "cb_video_sortby")->setCurrentIndex(1); };
    in.written = [formula](const QString& data) {  // the names quoted as text
        const QByteArray csv = Contents(data);
        for (int t : {0, 4, 8, 11})
            QVERIFY(csv.contains(QStringLiteral("\n%1,\"'%2\",").arg(t).arg(formula(t)).toUtf8()));
    };
    rows.emplace_back("names that look like formulas", in);
    return rows;
}

// Outputs that would overwrite a frame or add frames, refused before anything is written.
BadInputRows::Rows BadInputRows::RefusedOutputs() const
{
    Rows rows;
    BadInput in;
    in.figures = "frames";
    in.data = "frames" + At(3);
    in.messages = QStringList{"[WARNING] Can not export into " + test.Case("frames") +
                                  ": it is the counted folder, its pictures would be taken as frames",
                              "[WARNING] Can not write " + test.Case("frames") + At(3) +
                                  ": it would be taken as a frame of " + test.Case("frames")};
    rows.emplace_back("exports into the counted folder", in);
    in.figures = "link to frames";
    in.data = "data/pipe.csv";  // opening it would wait for a reader
    in.messages = QStringList{"[WARNING] Can not export into " + test.Case("link to frames") +
                                  ": it is the counted folder, its pictures would be taken as frames",
                              "[WARNING] Can not write " + test.Case("data/pipe.csv") + ": not a regular file"};
    in.make = [this](const QString& folder) {
        test.CopyFlow(folder);
        QVERIFY(QFile::link(folder, test.Case("link to frames")));
        QVERIFY(::mkfifo(QFile::encodeName(test.Case("data/pipe.csv")).constData(), 0600) == 0);
    };
    rows.emplace_back("exports through a link and onto a pipe", in);
    in = {};
    in.messages = QStringList{"[ERRO] 1 exported file could not be written"};
    in.make = [this](const QString& folder) {  // the write would follow it and replace frame 3
        test.CopyFlow(folder);
        QVERIFY(QFile::link(folder + At(3), test.Case("figures/pos_0_") + test.names[0]));
    };
    rows.emplace_back("a picture's name taken by a link to a frame", in);
    return rows;
}

void TestWindow::badInputs_data()
{
    QTest::addColumn<BadInput>("in");
    // The rows' functions run later, with the rows' shared texts and ways.
    rows = std::make_unique<BadInputRows>(BadInputRows{*this});
    for (auto group : {&BadInputRows::GoodFolders, &BadInputRows::SpoiltOnceLoaded, &BadInputRows::SpoiltDuringTheRun,
                       &BadInputRows::AfterTheRun, &BadInputRows::NothingToMeasureAgainst, &BadInputRows::HostileFrames,
                       &BadInputRows::NamesAndLinks, &BadInputRows::RefusedOutputs})
        for (const auto& [tag, in] : (rows.get()->*group)()) QTest::newRow(tag) << in;
}

// Both exports; only a finished run asks for a target. The table and the report as tessel-count's
// on the folder (`headless`), the pictures named after the frames of interest in `listing`.
void TestWindow::ExportBoth(Window& w, const BadInput& in, const Headless& headless, const QStringList& listing)
{
    const QString figures = Case(in.figures), data = Case(in.data);
    for (const QString& target : {figures, data}) {
        const bool table = target == data;
        if (Button(w, "btn_proc_countAll")->isEnabled())
            AnswerFileDialog(target, [&in, target, table] {
                if (in.chosen) in.chosen(table ? QFileInfo(target).path() : target);
            });
        Button(w, table ? "pushButton" : "btn_expFoI")->click();
        if (!StatusText(w).endsWith("successfully... ")) continue;
        if (table && in.sameAsHeadless) {
            QCOMPARE(Contents(data), headless.csv);
            // The run report beside it: tessel-count's, but for the time it finished.
            QJsonObject report = QJsonDocument::fromJson(Contents(Case("data/p.json"))).object(),
                        expected = headless.json;
            QVERIFY(report.take("finished_at").isString());
            expected.remove("finished_at");
            QCOMPARE(report, expected);
        }
        if (table && in.keptBefore)
            QCOMPARE(RowsBefore(Contents(data), in.keptBefore), RowsBefore(reference.csv, in.keptBefore));
        if (table && in.written) in.written(data);
        if (table || !in.sameAsHeadless) continue;
        QStringList pictures;  // the pos_ and res_ picture of every frame of interest, named after its frame
        for (const QJsonValue& index : headless.json["selected_frames"].toArray())
            for (const char* kind : {"pos_", "res_"})
                pictures << QStringLiteral("%1%2_%3").arg(kind).arg(index.toInt()).arg(listing.value(index.toInt()));
        pictures.sort();
        QCOMPARE(QDir(target).entryList(QDir::Files, QDir::Name), pictures);
    }
}

void TestWindow::badInputs()
{
    QFETCH(BadInput, in);
    const QString folder = Case(in.folder);
    QVERIFY(QDir().mkpath(folder + "/sub.png") && QDir().mkpath(Case("data")) && QDir().mkpath(Case("figures")));
    QVERIFY(QDir::setCurrent(Case("")));  // the log goes here
    in.make ? in.make(folder) : CopyFlow(folder);
    if (QTest::currentTestFailed()) return;
    ResetPeakMemory();
    const qint64 residentBefore = ResidentKiB("VmRSS:");
    QVERIFY(residentBefore > 0);

    Window w;
    QStringList seen;
    connect(w.statusBar(), &QStatusBar::messageChanged, this, [&seen](const QString& text) {
        if (text.startsWith("[WARNING]") || text.startsWith("[ERRO]")) seen << text;
    });
    OpenFolder(w, folder);
    QCOMPARE(FieldText(w, "tf_video_NumImages"), QString::number(in.listed));
    if (in.frameShown) Child<QSlider>(&w, "sld_view_FrameSlider")->setValue(6);
    if (in.loaded) in.loaded(w, folder);
    // The input as the row left it: from here on, nothing the window does may change it.
    const QStringList inputs = {folder, Case("targets")};
    const auto input = [&inputs] { return QList{Snapshot(inputs[0]), Snapshot(inputs[1])}; };
    auto before = input();
    QVERIFY(Run(w, [&] {
        if (!in.midRun) return;
        in.midRun(folder);
        before = input();
    }));
    const QDir::SortFlags order = FrameSortFlags(Child<QComboBox>(&w, "cb_video_sortby")->currentData().toString(),
                                                 Child<QComboBox>(&w, "cb_video_order")->currentData().toString());
    const QStringList listing = ListFrameFiles(folder, order);
    const Headless headless = in.sameAsHeadless ? Count(folder, in.countOptions) : Headless{};
    if (in.sameAsHeadless) {
        QCOMPARE(Counters(w), headless.Counters());
        QCOMPARE(Child<QSlider>(&w, "sld_vr_line")->maximum(),
                 (headless.Selected() - 2) * headless.json["frame_width"].toInt() +
                     headless.json["accumulated_shift"].toInt());
    }
    if (in.ran) {
        in.ran(w, folder);
        before = input();
    }
    const QStringList counted = Counters(w);

    StepAroundTheFrame(w, counted);
    if (QTest::currentTestFailed()) return;
    ExportBoth(w, in, headless, listing);
    if (QTest::currentTestFailed()) return;
    QCOMPARE(seen.join('\n'), in.messages.join('\n'));
    Button(w, "btn_proc_countAll")->click();  // the run's records, whatever was counted since
    QCOMPARE(Counters(w), counted);
    QVERIFY(Button(w, "btn_proc_runVR")->isEnabled() && !Button(w, "btn_proc_stopVR")->isEnabled());
    QCOMPARE(input(), before);
    // A bomb decoded where only its header should have been read takes 1 GiB; a row needs tens of MiB.
    if (!kAddressSanitizer) QCOMPARE_LT(ResidentKiB("VmHWM:") - residentBefore, 512 << 10);
}

// "Open Recording..." takes a stack or a video as the sequence: the input field names the
// file, the frames are its pages or frames, the sort boxes do not apply, and the counts are
// the folder's. "Count Current" reads the recording's frame as the viewer shows it.
void TestWindow::recordingsAsSequences()
{
    QVERIFY(QDir().mkpath(Case("")) && QDir::setCurrent(Case("")));
    const QString stack = Case("flow.tif"), video = Case("flow.mkv");
    QVERIFY(flowgen::WriteStack(flow, stack.toStdString(), nullptr));
    QVERIFY(flowgen::WriteVideo(flow, video.toStdString(), nullptr));
    Window w;
    for (const QString& recording : {stack, video}) {
        AnswerFileDialog(recording);
        Child<QAction>(&w, "file_openRecordingAct")->trigger();
        QCOMPARE(FieldText(w, "tf_video_InputPath"), recording);
        QCOMPARE(FieldText(w, "tf_video_NumImages"), "12");
        QVERIFY(!Child<QComboBox>(&w, "cb_video_sortby")->isEnabled());
        QVERIFY(!Child<QComboBox>(&w, "cb_video_order")->isEnabled());
        QVERIFY(Run(w));
        QCOMPARE(Counters(w), reference.Counters());
        QCOMPARE(StatusText(w), "[IDLE] >> Counting all frames of interesting");
        Child<QSlider>(&w, "sld_view_FrameSlider")->setValue(6);
        Button(w, "btn_proc_countOne")->click();
        QCOMPARE(StatusText(w), "[IDLE] >> Counting current frame");
    }
    OpenFolder(w, work.filePath("flow"));
    QVERIFY(Child<QComboBox>(&w, "cb_video_sortby")->isEnabled() && Child<QComboBox>(&w, "cb_video_order")->isEnabled());
}

// "Count Current" on frame 6 alone: without the crop margins, with them, with another method;
// as the stream counts that frame.
void TestWindow::countCurrent()
{
    CopyFlow(Case("frames"));
    Window w;
    OpenFolder(w, Case("frames"));
    const auto expected = [this](int marginTop, int method) {
        RunSettings settings = FlowSettings();
        settings.marginTop = marginTop;
        CVideoStream stream;
        SetUpStream(stream, settings);
        stream.PrepareFirstFrame();
        const ParticleCounts counts = CountParticleClasses(stream.CountParticles(5, method), ClassRules(settings));
        return QStringList{QString::number(counts.inRange), QString::number(counts.greater),
                           QString::number(counts.smaller)};
    };
    QVERIFY(expected(0, 3) != expected(48, 3) && expected(48, 3) != expected(48, 1));
    Child<QSlider>(&w, "sld_view_FrameSlider")->setValue(6);
    Button(w, "btn_proc_countOne")->click();
    QCOMPARE(Counters(w), expected(0, 3));
    QCOMPARE(StatusText(w), "[IDLE] >> Counting current frame");
    emit w.findChild<CTool4CropImg*>()->sigCrop_dataToolCropping(0.1, 0, 0, 0, true, QString());
    Button(w, "btn_proc_countOne")->click();
    QCOMPARE(Counters(w), expected(48, 3));  // 0.1 of 480 rows
    Child<QAction>(&w, "segOtsuAct")->trigger();
    Button(w, "btn_proc_countOne")->click();
    QCOMPARE(Counters(w), expected(48, 1));
}

// "Cancel Process" from within the report of the third step of a run; another folder opened
// while a run goes (its steps go on under the chooser). Neither leaves a step running.
void TestWindow::cancelAndReopen()
{
    CopyFlow(Case("frames"));
    Window w;
    OpenFolder(w, Case("frames"));
    int steps = 0;
    connect(w.statusBar(), &QStatusBar::messageChanged, this, [&](const QString& text) {
        if (text.startsWith("[Process]") && ++steps == 3) Button(w, "btn_proc_stopVR")->click();
    });
    Button(w, "btn_proc_runVR")->click();
    QTRY_COMPARE(steps, 3);
    for (const char* status : {"[IDLE] >> Process cancelled", "[IDLE]"}) {
        if (qstrcmp(status, "[IDLE]") == 0) {
            Button(w, "btn_proc_runVR")->click();
            QTRY_VERIFY(steps > 3);  // under way
            OpenFolder(w, Case("frames"));
        }
        QTest::qWait(300);
        QCOMPARE(StatusText(w), status);
        QVERIFY(Button(w, "btn_proc_runVR")->isEnabled() && Button(w, "btn_proc_countOne")->isEnabled() &&
                !Button(w, "btn_proc_stopVR")->isEnabled() && Child<QProgressBar>(&w, "runProgress")->isHidden());
    }
}

// The first run after a menu change counts as tessel-count with that mode and method. A mode,
// one of two, brings its own method, which the user may change. Frames of interest with Frame
// Diff last: its strip as the engine's run composes it, below the flow text; its recounts.
void TestWindow::runsAsTheCounter()
{
    CopyFlow(Case("frames"));
    Window w;
    OpenFolder(w, Case("frames"));
    Child<QCheckBox>(&w, "chb_video_grid")->setChecked(false);
    auto* progress = Child<QProgressBar>(&w, "runProgress");
    const struct {
        const char* action;
        const char* method;  // checked then
        QStringList options;
    } runs[] = {{"segOtsuAct", "segOtsuAct", {"--method", "1"}},
                {"segModeAct", "segModeAct", {"--method", "2"}},
                {"countLineAct", "segBackgroundAct", {"--mode", "crossing"}},
                {"segOtsuAct", "segOtsuAct", {"--mode", "crossing", "--method", "1"}},
                {"countFoiAct", "segFrameDiffAct", {}}};
    for (const auto& run : runs) {
        Child<QAction>(&w, run.action)->trigger();
        QVERIFY(Child<QAction>(&w, run.method)->isChecked());
        QCOMPARE(Child<QAction>(&w, "countLineAct")->isChecked(), run.options.contains("crossing"));
        QCOMPARE(Child<QAction>(&w, "countFoiAct")->isChecked(), !run.options.contains("crossing"));
        bool running = false;  // the bar and "Cancel Process" on, "Count Current" off
        QVERIFY(Run(w, [&] { running = !progress->isHidden() && !Button(w, "btn_proc_countOne")->isEnabled(); }));
        QVERIFY(running && progress->isHidden() && Button(w, "btn_proc_countAll")->isEnabled());
        QCOMPARE(Counters(w), Count(Case("frames"), run.options).Counters());
    }
    CRunEngine engine;
    const RunResult run = engine.RunToEnd(FlowSettings());
    CVideoStream frames;
    SetUpStream(frames, FlowSettings(), &run);
    for (int offset : {0, 700, Child<QSlider>(&w, "sld_vr_line")->maximum()}) {
        Child<QSlider>(&w, "sld_vr_line")->setValue(offset);
        QCOMPARE(Child<QLabel>(&w, "label_stripPosition")->text(), StripPositionText(FlowSettings(), run, offset));
        QCOMPARE(PreviewImage(w).copy(0, 130, 640, 350).convertToFormat(QImage::Format_RGB888),
                 ComposeStripWindow(frames, FlowSettings(), run, offset).copy(0, 130, 640, 350));
    }
    RecountsOfTheRun(w);
}

// Recounts of the stored records of the run in `w`: the circularity filter, then another range
// with no frame left to read; a minimum above the maximum refused.
void TestWindow::RecountsOfTheRun(Window& w)
{
    auto* filter = Child<QCheckBox>(&w, "chb_report_FilterByCirc");
    filter->setChecked(true);
    QCOMPARE(Counters(w), Count(Case("frames"), {"--circularity", "0.5"}).Counters());
    Child<QDoubleSpinBox>(&w, "sb_report_thCirc")->setValue(0.8);
    QCOMPARE(Counters(w), Count(Case("frames"), {"--circularity", "0.8"}).Counters());
    filter->setChecked(false);
    int counts[3] = {0, 0, 0};  // single, bigger, smaller
    for (const QByteArray& row : reference.csv.trimmed().split('\n').mid(1)) {
        const int area = row.split(',').value(4).toInt();
        ++counts[area < 40 ? 2 : area > 150 ? 1 : 0];
    }
    QVERIFY(QDir(Case("frames")).removeRecursively());
    Child<QLineEdit>(&w, "tf_setting_minPxl")->setText("40");
    Child<QLineEdit>(&w, "tf_setting_maxPxl")->setText("150");
    Button(w, "btn_proc_countAll")->click();
    QCOMPARE(Counters(w),
             QStringList({QString::number(counts[0]), QString::number(counts[1]), QString::number(counts[2])}));
    QVERIFY(Counters(w) != reference.Counters());
    QCOMPARE(StatusText(w), "[IDLE] >> Counting all frames of interesting");

    // A minimum above the maximum: the commands that count refuse and change nothing.
    const QStringList counted = Counters(w);
    Child<QLineEdit>(&w, "tf_setting_minPxl")->setText("151");
    for (const char* command : {"btn_proc_countAll", "btn_proc_countOne", "btn_proc_runVR"}) {
        w.statusBar()->clearMessage();
        Button(w, command)->click();
        QCOMPARE(StatusText(w), "[WARNING] The minimum size is above the maximum");
        QCOMPARE(Counters(w), counted);
    }
}

void TestWindow::manualCalibrationTakesTheRange()
{
    for (int i = 0; i < 6; ++i)  // only the third frame with particles: the frame on screen is the one measured
        QVERIFY(QDir().mkpath(Case("")) && (i == 2 ? ParticleFrame().save(Case("f2.png"))
                                                   : WriteFrame(Case("f%1.png").arg(i), 200, nullptr, {200, 150})));
    Window w;
    OpenFolder(w, Case(""));
    Child<QSlider>(&w, "sld_view_FrameSlider")->setValue(3);
    Button(w, "btn_setting_manualSelection")->click();
    auto* dialog = Child<QDialog>(&w, "tool4SelectRegion");
    auto* label = Child<QWidget>(dialog, "label");
    QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(50, 30));  // around the 120-pixel particle
    QTest::mouseMove(label, QPoint(80, 70));
    QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(80, 70));
    QCOMPARE(Child<QLineEdit>(dialog, "tf_areaMu")->text(), "270");  // 120 pixels of 1.5 x 1.5 um
    QTest::mouseClick(Child<QPushButton>(dialog, "btnOk"), Qt::LeftButton);
    const auto range = [&w] {
        return QStringList{FieldText(w, "tf_setting_minPxl"), FieldText(w, "tf_setting_maxPxl"),
                           FieldText(w, "tf_setting_minMu"), FieldText(w, "tf_setting_maxMu")};
    };
    QCOMPARE(range(), QStringList({"60", "300", "135", "675"}));  // x 0.5 and x 2.5; x 1.5 x 1.5 um2
    // Another pixel size: the um2 range stays, the pixel range follows, rounded half up.
    auto* pixelSize = Child<QLineEdit>(&w, "tf_setting_PixelSize");
    pixelSize->setText("2");
    emit pixelSize->editingFinished();
    QCOMPARE(range(), QStringList({"34", "169", "135", "675"}));
}

void TestWindow::resultsFollowTheCount()
{
    CopyFlow(Case("frames"));
    CopyFlow(Case("other"));
    Window w;
    // The summary whole (the label elides it); a greyed one names the settings changed.
    const auto summary = [&w] { return Child<QLabel>(&w, "label_runSummary")->toolTip(); };
    // The second line: what to know about the numbers.
    const auto stale = [&summary] {
        const QString notes = summary().section('\n', 1);
        return notes.startsWith("Settings changed since this count (") ? notes.section('(', 1).section(')', 0, 0) : "";
    };
    const auto counted = [&w] {
        int sum = 0;
        for (const QString& counter : Counters(w)) sum += counter.toInt();
        return sum;
    };
    OpenFolder(w, Case("frames"));
    QCOMPARE(summary(), "No count yet");
    QVERIFY(Run(w));
    QVERIFY2(summary().startsWith(Case("frames") + " | Frames of interest, 12 frames counted | Frame Diff | 25 to 100 "
                                                   "px at 1.5 um | no circularity filter | "),
             qPrintable(summary()));

    // The chart and the statistics follow every recount: tessel-count's size_stats with the same settings.
    Child<QAction>(&w, "results_sizeDistributionAct")->trigger();
    auto* chart = w.findChild<CSizeDistributionDialog*>();
    QVERIFY(chart->isVisible());
    for (double threshold : {0.0, 0.5, 0.8}) {
        Child<QCheckBox>(&w, "chb_report_FilterByCirc")->setChecked(threshold > 0);
        Child<QDoubleSpinBox>(&w, "sb_report_thCirc")->setValue(std::max(threshold, 0.5));
        const QStringList options =
            threshold > 0 ? QStringList{"--circularity", QString::number(threshold)} : QStringList{};
        const QJsonObject stats = Count(Case("frames"), options).json["size_stats"].toObject();
        int charted = 0;
        for (const SizeHistogramBin& bin : chart->Histogram().bins) charted += bin.Total();
        QCOMPARE(charted, stats["counted"].toInt());
        QCOMPARE(counted(), stats["counted"].toInt());
        QCOMPARE(QString::number(chart->Statistics().d50Um, 'g', 6),
                 QString::number(stats["d50_um"].toDouble(), 'g', 6));
        QVERIFY(Child<QLabel>(&w, "label_sizeStats")->text().startsWith(QString("%1 counted |").arg(counted())));
    }
    Child<QCheckBox>(&w, "chb_report_FilterByCirc")->setChecked(false);
    // The frames of interest follow no particle: no velocity profile, and said so.
    auto* profile = w.findChild<CVelocityProfileDialog*>();
    QVERIFY(!profile->Chart() && profile->Notice().startsWith("The frames-of-interest count follows no particle"));

    // Each setting the counts depend on greys them until a count takes it in; undone, it greys nothing.
    auto* cropDialog = w.findChild<CTool4CropImg*>();
    const auto act = [&w](const char* name) { return [&w, name] { Child<QAction>(&w, name)->trigger(); }; };
    const auto type = [&w](const char* field, const char* text) {
        return [&w, field, text] { Child<QLineEdit>(&w, field)->setText(text); };
    };
    const auto order = [&w](int i) { return [&w, i] { Child<QComboBox>(&w, "cb_video_order")->setCurrentIndex(i); }; };
    const auto uncrop = [&w] { QTest::mouseClick(Child<QCheckBox>(&w, "proc_chb_cropImg"), Qt::LeftButton); };
    const auto crop = [cropDialog] { emit cropDialog->sigCrop_dataToolCropping(0.1, 0, 0, 0, true, QString()); };
    const struct {
        std::function<void()> change, undo;
        QString changed, afterRecount;  // "Count all FoI" recounts the records, it does not segment again
    } changes[] = {
        {act("segOtsuAct"), act("segFrameDiffAct"), "method", "method"},
        {act("countLineAct"), act("countFoiAct"), "mode, method", "mode, method"},
        {type("tf_setting_maxPxl", "90"), type("tf_setting_maxPxl", "100"), "size range", ""},
        {type("tf_setting_PixelSize", "2"), type("tf_setting_PixelSize", "1.5"), "pixel size", ""},
        {order(1), order(0), "frames", "frames"},
        {crop, uncrop, "", ""},  // a run counts whole frames
    };
    for (const auto& c : changes) {
        c.change();
        QCOMPARE(stale(), c.changed);
        Button(w, "btn_proc_countAll")->click();
        QCOMPARE(stale(), c.afterRecount);
        c.undo();
        Button(w, "btn_proc_countAll")->click();
        QCOMPARE(stale(), "");
    }

    // "Count Current": the frame alone, the chart with it; its crop counts.
    Child<QSlider>(&w, "sld_view_FrameSlider")->setValue(6);
    crop();
    Button(w, "btn_proc_countOne")->click();
    QVERIFY2(summary().contains(" | frame 6 (frame_0005.png) alone | Frame Diff | "), qPrintable(summary()));
    QCOMPARE(chart->Statistics().counted, counted());
    uncrop();
    QCOMPARE(stale(), "crop");

    // Another folder: nothing of the last count stays.
    OpenFolder(w, Case("other"));
    QCOMPARE(Counters(w), QStringList({"0", "0", "0"}));
    QCOMPARE(summary(), "No count yet");
    QCOMPARE(Child<QLabel>(&w, "label_sizeStats")->text(), "");
    QCOMPARE(chart->Statistics().counted, 0);
    QVERIFY(!Child<QSlider>(&w, "sld_vr_line")->isEnabled());
    QVERIFY(profile->Notice().startsWith("No run has finished yet"));
}

void TestWindow::settingsOutliveTheWindow()
{
    CopyFlow(Case("frames"));
    QVERIFY(QDir().mkpath(Case("data")) && QDir().mkpath(Case("figures")));
    const QStringList fields = {"tf_setting_PixelSize", "tf_setting_minMu", "tf_setting_maxMu", "tf_setting_minPxl"},
                      typed = {"2", "100", "400", "30"};
    const QStringList actions = {"countLineAct", "segModeAct"};
    // The counting line's velocity profile in um/s at the frame rate set in the first window, as tessel-count's.
    const Headless headless = Count(Case("frames"), {"--mode", "crossing", "--method", "2", "--min-px", "30",
                                                     "--circularity", "0.65", "--pixel-size", "2", "--frame-rate", "25"});
    const auto speedsPerSecond = [](const QByteArray& csv) {
        const QList<QByteArray> lines = csv.trimmed().split('\n');
        const qsizetype column = lines.value(0).split(',').indexOf("speed_um_s");
        QList<QByteArray> speeds;
        for (const QByteArray& line : lines) speeds << line.split(',').value(column);
        return speeds;
    };
    {
        Window w;
        OpenFolder(w, Case("frames"));
        Child<QComboBox>(&w, "cb_video_sortby")->setCurrentIndex(2);
        Child<QComboBox>(&w, "cb_video_order")->setCurrentIndex(1);
        for (int i = 0; i < fields.size(); ++i) Child<QLineEdit>(&w, qPrintable(fields[i]))->setText(typed[i]);
        for (const QString& action : actions) Child<QAction>(&w, qPrintable(action))->trigger();
        Child<QCheckBox>(&w, "chb_report_FilterByCirc")->setChecked(true);
        Child<QDoubleSpinBox>(&w, "sb_report_thCirc")->setValue(0.65);
        QVERIFY(Run(w));
        Child<QDoubleSpinBox>(&w, "sb_frameRate")->setValue(25);
        AnswerFileDialog(Case("data/p.csv"));
        Button(w, "pushButton")->click();
        AnswerFileDialog(Case("figures"));
        Button(w, "btn_expFoI")->click();
    }
    Window w;
    for (int i = 0; i < fields.size(); ++i) QCOMPARE(FieldText(w, qPrintable(fields[i])), typed[i]);
    for (const QString& action : actions)
        QVERIFY2(Child<QAction>(&w, qPrintable(action))->isChecked(), qPrintable(action));
    // The choosers start where the last ones were left.
    const auto startsIn = [&w](const char* button, const QString& answer) {
        QString folder;
        AnswerFileDialog(answer, {}, &folder);
        if (auto* action = Child<QAction>(&w, button))
            action->trigger();
        else
            Button(w, button)->click();
        return folder;
    };
    // The boxes come back as they were left; a folder opened is listed by name, ascending, all the same.
    QCOMPARE(Child<QComboBox>(&w, "cb_video_sortby")->currentIndex(), 2);
    QCOMPARE(Child<QComboBox>(&w, "cb_video_order")->currentIndex(), 1);
    QCOMPARE(startsIn("file_openFolderAct", Case("frames")), Case("frames"));
    QCOMPARE(Child<QComboBox>(&w, "cb_video_sortby")->currentIndex(), 0);
    QCOMPARE(Child<QComboBox>(&w, "cb_video_order")->currentIndex(), 0);
    // The run counts with the rest of them (filter) as tessel-count does with the same options.
    QVERIFY(Run(w));
    QCOMPARE(Counters(w), headless.Counters());
    // The chart: a point in the middle of each band with a followed particle, at its speed.
    auto* profile = w.findChild<CVelocityProfileDialog*>();
    QCOMPARE(profile->FrameRate(), 25.0);
    profile->SetUnit(SpeedUnit::kUmPerSecond);
    QList<QPointF> expected;
    const QJsonArray bands = headless.json["velocity_profile"].toArray();
    for (int b = 0; b < bands.size(); ++b)
        if (bands[b]["followed"].toInt() > 0) expected << QPointF(10 * b + 5, bands[b]["mean_speed_um_s"].toDouble());
    QVERIFY(expected.size() >= 5);
    QList<QPointF> charted;
    for (QAbstractSeries* series : profile->Chart()->series())
        if (series->type() == QAbstractSeries::SeriesTypeLine) charted = static_cast<QXYSeries*>(series)->points();
    QCOMPARE(charted.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)  // the JSON's six significant digits
        QVERIFY2(std::abs(charted[i].y() / expected[i].y() - 1) < 1e-5 && charted[i].x() == expected[i].x(),
                 qPrintable(QString("%1 %2").arg(charted[i].y()).arg(expected[i].y())));
    QCOMPARE(startsIn("pushButton", Case("data/p.csv")), Case("data"));
    // Exported with the frame rate remembered.
    QCOMPARE(QJsonDocument::fromJson(Contents(Case("data/p.json")))["velocity_profile"],
             headless.json["velocity_profile"]);
    QCOMPARE(speedsPerSecond(Contents(Case("data/p.csv"))), speedsPerSecond(headless.csv));
    QVERIFY(speedsPerSecond(headless.csv).value(1).toDouble() > 0);
    QCOMPARE(startsIn("btn_expFoI", Case("figures")), Case("figures"));
}

// Frames of 9999 x 10000 (within the pixel limit): the preview decodes them at its own
// resolution, so that looking costs less than counting; natural size shows every pixel.
void TestWindow::largeFramesShownAtThePreviewsSize()
{
    const QString folder = Case("huge");
    QDir().mkpath(folder);
    for (int t = 0; t < 6; ++t)
        QVERIFY(hostile::Write(QStringLiteral("%1/frame_%2.png").arg(folder).arg(t, 4, 10, QChar('0')).toStdString(),
                               hostile::BlackPng(9999, 10000)));
    Window w;
    w.show();
    OpenFolder(w, folder);
    auto* preview = Child<QLabel>(&w, "labImage");
    ResetPeakMemory();
    const qint64 residentBefore = ResidentKiB("VmRSS:");
    Child<QAction>(&w, "viewImg_nextAct")->trigger();
    QCOMPARE(FieldText(w, "tf_view_IdxInstance"), "2");
    const QSize shown = preview->pixmap().size();
    QVERIFY2(shown.width() < 9999 && shown.width() >= preview->width() && shown.height() >= preview->height(),
             qPrintable(QStringLiteral("%1 x %2 in %3 x %4")
                            .arg(shown.width())
                            .arg(shown.height())
                            .arg(preview->width())
                            .arg(preview->height())));
    // The frame decoded once (95 MiB) and reduced; never a colour copy of it (380 MiB each).
    if (!kAddressSanitizer) QCOMPARE_LT(ResidentKiB("VmHWM:") - residentBefore, 200 << 10);
    QTest::mouseDClick(preview, Qt::LeftButton);
    QCOMPARE(preview->pixmap().size(), QSize(9999, 10000));
    QTest::mouseDClick(preview, Qt::LeftButton);
    Child<QAction>(&w, "viewImg_nextAct")->trigger();
    QCOMPARE(preview->pixmap().size(), shown);
}

// The numbers say where they come from and what the run doubted, until the next run; a folder
// refused leaves nothing of the last one; margins that leave nothing are refused.
void TestWindow::numbersToTrust()
{
    CopyFlow(Case("frames"));
    QVERIFY(QDir().mkpath(Case("data")));
    QFile::resize(Case("frames/") + names[5], 0);
    Window w;
    const auto notes = [&w] { return Child<QLabel>(&w, "label_runSummary")->toolTip().section('\n', 1); };
    OpenFolder(w, Case("frames"));
    QVERIFY(Run(w));
    const QStringList counted = Counters(w);
    // The run's doubts stay beside the counters whatever the status bar shows next.
    const QString doubts = "1 frame not read: counts incomplete; 2 of 11 shifts not measured: counts incomplete";
    Child<QAction>(&w, "viewImg_firstAct")->trigger();
    QCOMPARE(StatusText(w), "[IDLE]");
    QCOMPARE(notes(), doubts);
    QVERIFY(Child<QLineEdit>(&w, "tf_report_total")->toolTip().endsWith('\n' + QString(doubts).replace("; ", "\n")));

    // A recount at another range says which range the particles were detected with; the report too.
    Child<QLineEdit>(&w, "tf_setting_minPxl")->setText("30");
    Button(w, "btn_proc_countAll")->click();
    QCOMPARE(notes(), "recounted from a run at 25 to 100 px; " + doubts);
    AnswerFileDialog(Case("data/p.csv"));
    Button(w, "pushButton")->click();
    const QJsonObject report = QJsonDocument::fromJson(Contents(Case("data/p.json"))).object();
    QCOMPARE(report["min_px"], 30);
    QCOMPARE(report["detected_min_px"], 25);
    QCOMPARE(report["detected_max_px"], 100);
    Child<QLineEdit>(&w, "tf_setting_minPxl")->setText("25");
    Button(w, "btn_proc_countAll")->click();
    QCOMPARE(notes(), doubts);
    QCOMPARE(Counters(w), counted);

    // Pictures exported again into the same folder go beside the earlier ones, which stay.
    QVERIFY(QDir().mkpath(Case("figures")));
    AnswerFileDialog(Case("figures"));
    Button(w, "btn_expFoI")->click();
    const QMap<QByteArray, QByteArray> first = Snapshot(Case("figures"));
    AnswerFileDialog(Case("figures"));
    Button(w, "btn_expFoI")->click();
    QCOMPARE(StatusText(w), QStringLiteral("[WARNING] %1 holds the pictures of an earlier export; exported into %2")
                                .arg(Case("figures"), Case("figures/export_2")));
    QCOMPARE(QDir(Case("figures/export_2")).entryList(QDir::Files), QDir(Case("figures")).entryList(QDir::Files));
    QDir(Case("figures/export_2")).removeRecursively();
    QCOMPARE(Snapshot(Case("figures")), first);

    // Margins that meet leave no pixel: refused, said, the crop off.
    auto* cropDialog = w.findChild<CTool4CropImg*>();
    emit cropDialog->sigCrop_dataToolCropping(0.6, 0.5, 0, 0, true, QStringLiteral("T 0.6 B 0.5"));
    QCOMPARE(StatusText(w), "[WARNING] The crop margins leave nothing of the frame; not applied");
    QVERIFY(!Child<QCheckBox>(&w, "proc_chb_cropImg")->isChecked());
    QCOMPARE(FieldText(w, "proc_tf_cropImg"), "");

    // A folder refused: no frame, strip, counts or chart of the one before.
    QVERIFY(QDir().mkpath(Case("five")));
    for (const QString& name : names.mid(0, 5)) QFile::copy(Case("frames/") + name, Case("five/") + name);
    OpenFolder(w, Case("five"));
    QCOMPARE(StatusText(w), "[ERRO] Only 5 images were found; at least 6 are needed");
    QVERIFY(PreviewImage(w).isNull());
    QCOMPARE(Counters(w), QStringList({"0", "0", "0"}));
    QCOMPARE(Child<QLabel>(&w, "label_runSummary")->toolTip(), "No count yet");
    QCOMPARE(FieldText(w, "tf_video_Size"), "0");
    QVERIFY(!Child<QSlider>(&w, "sld_vr_line")->isEnabled());
    QCOMPARE(w.findChild<CSizeDistributionDialog*>()->Statistics().counted, 0);
}

// Settings that cannot be written are said once, at start.
void TestWindow::settingsNotWritable()
{
    // The organisation's folder the settings file goes in is a file (tests may run as root,
    // whom permissions do not stop).
    const QString folder = Case("blocked");
    QVERIFY(QDir().mkpath(folder));
    KeepSettingsIn(folder);
    QFile blocker(folder + "/" + QCoreApplication::organizationName());
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    {
        Window w;
        QVERIFY2(StatusText(w).startsWith("[WARNING] Can not save the settings in " + folder),
                 qPrintable(StatusText(w)));
        QVERIFY(StatusText(w).endsWith(": they will not be remembered"));
    }
    KeepSettingsIn(work.filePath("settings"));
    Window w;
    QVERIFY(!StatusText(w).startsWith("[WARNING]"));
}

// The window at the form's size with everything inside it; the summary keeps its names whole
// on a long folder; the boxes that only show take no focus; the chart beside the window.
void TestWindow::layoutWithinTheForm()
{
    const QString folder = Case(QString(120, 'f'));
    CopyFlow(folder);
    Window w;
    w.show();
    QCOMPARE(w.size(), QSize(893, 693));
    const QWidget* central = w.centralWidget();
    for (const QWidget* child : central->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        QVERIFY2(central->rect().contains(child->geometry()), qPrintable(child->objectName()));
    OpenFolder(w, folder);
    QVERIFY(Run(w));
    auto* summary = Child<QLabel>(&w, "label_runSummary");
    // Two lines of it, broken between its parts.
    const QStringList lines = summary->text().split('\n');
    QCOMPARE(lines.size(), 3);
    const QString shown = lines[0] + " | " + lines[1];
    QVERIFY2(shown.contains(" | Frames of interest, 12 frames counted | Frame Diff | 25 to 100 px at 1.5 um | "
                            "no circularity filter | "),
             qPrintable(shown));
    for (const QString& line : lines)
        QVERIFY2(QFontMetrics(summary->font()).horizontalAdvance(line) <= summary->width(), qPrintable(line));
    // A counting-line run shows the direction it measured: a leftward flow checks the left arrow.
    const QString leftward = Case("leftward");
    QVERIFY(QDir().mkpath(leftward));
    for (int t = 0; t < 12; ++t) {  // with dirt on the window
        cv::Mat frame = cv::imread((folder + "/" + names[t]).toStdString(), cv::IMREAD_GRAYSCALE);
        for (const cv::Point spot : {cv::Point(60, 400), cv::Point(500, 60)})
            cv::circle(frame, spot, 6, cv::Scalar(40), cv::FILLED);
        QVERIFY(cv::imwrite((leftward + "/" + names[11 - t]).toStdString(), frame));
    }
    OpenFolder(w, leftward);
    Child<QAction>(&w, "countLineAct")->trigger();
    QVERIFY(Run(w));
    // The counting line across the preview: cyan dashes down its middle column.
    Child<QAction>(&w, "viewImg_firstAct")->trigger();
    const QImage preview = PreviewImage(w).convertToFormat(QImage::Format_RGB888);
    int dashes = 0;
    for (int y = 0; y < preview.height(); ++y) dashes += preview.pixel(preview.width() / 2, y) == qRgb(0, 255, 255);
    QVERIFY2(dashes > preview.height() / 3, qPrintable(QString::number(dashes)));
    // The dirt left out is said beside the counters; where the strip is, beside its slider.
    QVERIFY2(summary->toolTip().endsWith("\n2 static objects not counted"), qPrintable(summary->toolTip()));
    QVERIFY(Child<QLabel>(&w, "label_stripPosition")->text().startsWith("frames 1 to "));
    QVERIFY(Child<QPushButton>(&w, "btn_flow_left")->isChecked());
    QVERIFY(!Child<QPushButton>(&w, "btn_flow_right")->isChecked());
    // The result windows open beside the window on the screen, their titles and legends whole.
    QCOMPARE(w.screen()->availableGeometry(), QRect(0, 0, 1280, 1024));
    for (const char* name : {"sizeDistributionDialog", "velocityProfileDialog"}) {
        Child<QAction>(&w, name[0] == 's' ? "results_sizeDistributionAct" : "results_velocityProfileAct")->trigger();
        auto* result = Child<QDialog>(&w, name);
        QVERIFY2(result->isVisible(), name);
        QVERIFY2(!result->frameGeometry().intersects(w.frameGeometry()), name);
        QVERIFY2(w.screen()->availableGeometry().contains(result->frameGeometry()), name);
        const QList<QLabel*> texts = result->findChildren<QLabel*>(QRegularExpression("label_chart(Title|Legend)"));
        QCOMPARE(texts.size(), 2);
        for (const QLabel* text : texts)
            QVERIFY2(!text->text().isEmpty() && text->heightForWidth(text->width()) <= text->height(), name);
    }
    for (const char* counter : {"tf_report_total", "tf_report_NGreater", "tf_report_NSmaller", "tf_video_NumImages"})
        QCOMPARE(Child<QLineEdit>(&w, counter)->focusPolicy(), Qt::NoFocus);
    for (const char* field : {"tf_setting_minPxl", "tf_setting_PixelSize", "tf_view_IdxInstance"})
        QVERIFY(Child<QLineEdit>(&w, field)->focusPolicy() != Qt::NoFocus);
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
