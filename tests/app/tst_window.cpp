// The window's commands on a generated flow against the headless counter (tessel-count); the bad-input sweep.

#include "tests/app/window_fixture.h"
#include "tests/dialogs/particle_image.h"

#include "dialogs/crop_dialog.h"
#include "register/frame_listing.h"
#include "register/mivo_register_manager.h"
#include "register/run_engine.h"
#include "tools/flowgen/flowgen.h"

#include <QDoubleSpinBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProgressBar>

#include <opencv2/imgcodecs.hpp>

#include <filesystem>

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

}  // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void badInputs_data();
    void badInputs();
    void commandsOnOneFolder();
    void manualCalibrationTakesTheRange();

private:
    QTemporaryDir work;
    flowgen::Flow flow;  // 12 frames, 640 x 480, in work/flow
    QStringList names;
    Headless reference;  // of work/flow
    QString Case(const QString& name) const { return work.filePath("case/" + name); }
    void CopyFlow(const QString& folder, const QString& prefix = {}) const
    {
        QDir().mkpath(folder);
        for (const QString& name : names) QFile::copy(work.filePath("flow/" + name), folder + "/" + prefix + name);
    }
    // As "Calculate FoI" does, at the default range.
    void StartRegister(CMivoRegisterManager& reg) const
    {
        reg.StartSequence(work.filePath("flow"));
        reg.stream->minArea = 25;
        reg.stream->maxArea = 100;
        for (const QString& name : names) reg.stream->AddFrame(name.toStdString());
    }
};

void TestWindow::initTestCase()
{
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
    QVERIFY(QDir::setCurrent(work.path()));
    std::filesystem::remove_all(QFile::encodeName(Case("")).toStdString());  // also names QDir cannot spell
}

void TestWindow::badInputs_data()
{
    QTest::addColumn<QStringList>("messages");  // every "[WARNING] ..." and "[ERRO] ..." shown, in order
    const QString notRead = "[WARNING] Can not read image frame_0005.png", outOfRange = "[WARNING] Out of range";
    // Not measured: the shift of a frame that cannot be read, mostly also that of the next.
    const QString unmeasured =
        "; %1 of %2 frame shifts could not be measured and were taken as 0; parts of the flow may not be counted";
    const QString lost = "[WARNING] 1 frame could not be read", oneLost = lost + unmeasured.arg(2).arg(11),
                  failed = "[ERRO] %1 exported files could not be written";
    const QStringList unreadable = {oneLost, notRead, notRead, notRead, outOfRange};
    for (const char* tag : {"good flow", "colour and 16-bit frames", "spaces and non-ASCII names", "10,000 frames"})
        QTest::newRow(tag) << QStringList();
    for (const char* tag : {"zero-byte frame", "truncated PNG", "text file named .png"})
        QTest::newRow(tag) << unreadable;
    QTest::newRow("truncated JPEG") << QStringList(unreadable).replaceInStrings(".png", ".jpg");
    QTest::newRow("frame of another size")
        << QStringList{oneLost, "[WARNING] Can not count image frame_0005.png: 320 x 240, frame 0 is 640 x 480"};
    QTest::newRow("name not in UTF-8") << QStringList{"[WARNING] Left out f\uFFFD.png (name not in UTF-8)",
                                                      "[WARNING] 1 frame file left out (name not in UTF-8)" +
                                                          unmeasured.arg(1).arg(10)};
    for (const char* tag : {"frame deleted during the run", "frame spoilt during the run"})  // the last frame
        QTest::newRow(tag) << QStringList{lost + unmeasured.arg(1).arg(11), outOfRange, failed.arg(2)};
    const QString allFailed = failed.arg(2 * reference.Selected());
    QTest::newRow("folder gone after the run") << QStringList{"[ERRO] No images were found", allFailed};
    QTest::newRow("export folders cannot be written")
        << QStringList{allFailed, "[ERRO] Can not write " + Case("data/p.csv")};
    QTest::newRow("log file cannot be written")
        << QStringList{QString("[WARNING] Can not write log_KOV.txt: %1 log lines lost").arg(reference.logLines)};
    // Nothing to measure against; no frame shown, so the frame number reads 0.
    QTest::newRow("frame 0 unreadable") << QStringList{
        outOfRange, "[ERRO] Can not read image frame_0000.png (not a PNG, JPEG, TIFF or BMP image)",
        outOfRange, outOfRange,
        outOfRange, outOfRange};
    QTest::newRow("five frames and a sub-folder") << QStringList{"[ERRO] No images were found"};
}

void TestWindow::badInputs()
{
    QFETCH(QStringList, messages);
    const QByteArray tag = QTest::currentDataTag();
    const int listed = tag.startsWith("10,000") ? 10000 : tag.startsWith("name") ? 11 : tag.startsWith("five") ? 5 : 12;
    const bool frameShown = !tag.startsWith("frame 0") && !tag.startsWith("five");  // frame 5, before it is spoilt
    const bool sameAsHeadless = frameShown && !tag.contains("deleted");             // counts, strip, figures and table
    const QString folder = Case(tag.startsWith("spaces") ? "Flüsse und Größen" : "frames");
    const QString frame5 = folder + "/frame_0005" + (tag.contains("JPEG") ? ".jpg" : ".png");
    QVERIFY(QDir().mkpath(folder + "/sub.png") && QDir().mkpath(Case("data")) && QDir().mkpath(Case("figures")));
    QVERIFY(QDir::setCurrent(Case("")) &&
            (!tag.startsWith("log") || QDir().mkdir("log_KOV.txt")));  // the log goes here
    if (tag.contains("JPEG"))
        flowgen::WriteFlow(flow, folder.toStdString(), "jpg", nullptr);
    else if (!tag.startsWith("10,000"))
        CopyFlow(folder, tag.startsWith("spaces") ? "Bild ä," : "");
    for (int i = 0; i < (tag.startsWith("10,000") ? listed : 0); ++i)
        cv::imwrite(QString::asprintf("%s/f%05d.png", qPrintable(folder), i).toStdString(),
                    cv::Mat(48, 64, CV_8UC1, 128));
    for (int t = 0; t < 12 && tag.startsWith("colour"); ++t) {  // as colour and as 16-bit files: the same greys
        const std::string path = (folder + "/" + names[t]).toStdString();
        cv::Mat grey = cv::imread(path, cv::IMREAD_GRAYSCALE), file;
        t % 2 ? grey.convertTo(file, CV_16U, 257.0) : cv::merge(std::vector<cv::Mat>{grey, grey, grey}, file);
        cv::imwrite(path, file);
    }
    if (tag.startsWith("name"))
        std::filesystem::rename(QFile::encodeName(frame5).toStdString(),
                                QFile::encodeName(folder).toStdString() + "/f\xe4.png");
    if (tag.startsWith("frame 0")) Spoil(folder + "/frame_0000.png");
    for (const QString& name : tag.startsWith("five") ? names.mid(5) : QStringList())
        QFile::remove(folder + "/" + name);

    Window w;
    QStringList seen;
    connect(w.statusBar(), &QStatusBar::messageChanged, this, [&seen](const QString& text) {
        if (text.startsWith("[WARNING]") || text.startsWith("[ERRO]")) seen << text;
    });
    OpenFolder(w, folder);
    QCOMPARE(FieldText(w, "tf_video_NumImages"), QString::number(listed));
    if (frameShown) Child<QSlider>(&w, "sld_view_FrameSlider")->setValue(6);
    if (tag.startsWith("zero") || tag.startsWith("truncated") || tag.startsWith("text"))
        tag.startsWith("text")
            ? Spoil(frame5)
            : void(QFile::resize(frame5, tag.startsWith("zero") ? 0 : QFileInfo(frame5).size() * 6 / 10));
    if (tag.startsWith("frame of another size")) cv::imwrite(frame5.toStdString(), cv::Mat(240, 320, CV_8UC1, 200));
    QVERIFY(Run(w, [&, last = folder + "/frame_0011.png"] {
        tag.contains("deleted") ? void(QFile::remove(last)) : tag.contains("spoilt") ? Spoil(last) : void();
    }));
    const Headless headless = sameAsHeadless ? Count(folder) : Headless{};
    if (sameAsHeadless) {
        QCOMPARE(Counters(w), headless.Counters());
        QCOMPARE(Child<QSlider>(&w, "sld_vr_line")->maximum(),
                 (headless.Selected() - 2) * headless.json["frame_width"].toInt() +
                     headless.json["accumulated_shift"].toInt());
    }
    if (tag.startsWith("folder gone") && QDir(folder).removeRecursively())
        Child<QComboBox>(&w, "cb_video_order")->setCurrentIndex(1);  // lists it again
    const QStringList counted = Counters(w);

    // On the frame on screen: count it alone, open the crop and the selection dialogs; then
    // step around it. The message is cleared first, so that one repeated is seen again.
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

    // Both exports; only a finished run asks for a folder. When they cannot be written, the
    // chosen folders are made regular files.
    for (const char* kind : {"figures", "data"}) {
        const QString target = Case(kind);
        if (Button(w, "btn_proc_countAll")->isEnabled())
            AnswerFileDialog(target + (kind[0] == 'd' ? "/p.csv" : ""), [target, tag] {
                if (tag.startsWith("export") && QDir(target).removeRecursively())
                    QFile(target).open(QIODevice::WriteOnly);
            });
        Button(w, kind[0] == 'd' ? "pushButton" : "btn_expFoI")->click();
        if (!sameAsHeadless || !StatusText(w).endsWith("successfully... ")) continue;
        if (kind[0] == 'd')
            QCOMPARE(Contents(target + "/p.csv"), headless.csv);
        else  // the pos_ and res_ image of every frame of interest, named after its frame
            QVERIFY(QDir(target).entryList(QDir::Files).size() == 2 * headless.Selected() &&
                    QFile::exists(target + "/res_0_" + ListFrameFiles(folder, QDir::Name).value(0)));
    }
    QCOMPARE(seen, messages);
    QCOMPARE(Counters(w), counted);
    QVERIFY(Button(w, "btn_proc_runVR")->isEnabled() && !Button(w, "btn_proc_stopVR")->isEnabled());
}

void TestWindow::commandsOnOneFolder()
{
    CopyFlow(Case("frames"));
    Window w;
    OpenFolder(w, Case("frames"));
    Child<QCheckBox>(&w, "chb_video_grid")->setChecked(false);
    // "Count Current" on frame 6 alone: without the crop margins, with them, with another method.
    const auto expected = [this](int marginTop, int method) {
        CMivoRegisterManager reg;
        StartRegister(reg);
        reg.stream->marginTop = marginTop;
        reg.CountFrame(5, method);
        reg.CountFrameParticles();
        return QStringList{QString::number(reg.countInRange), QString::number(reg.countGreater),
                           QString::number(reg.countSmaller)};
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
    Child<QAction>(&w, "segFrameDiffAct")->trigger();

    // "Cancel Process" from within the third step of a run; another folder opened while a
    // run goes (its steps go on under the chooser). Neither leaves a step running.
    int steps = 0;
    connect(w.statusBar(), &QStatusBar::messageChanged, this, [&](const QString& text) {
        if (text.startsWith("[Process]") && ++steps == 3) Button(w, "btn_proc_stopVR")->click();
    });
    Button(w, "btn_proc_runVR")->click();
    QTRY_COMPARE(steps, 3);
    for (const char* status : {"[IDLE] >> Process cancelled", "[IDLE]"}) {
        if (qstrcmp(status, "[IDLE]") == 0) {
            Button(w, "btn_proc_runVR")->click();
            OpenFolder(w, Case("frames"));
        }
        QTest::qWait(300);
        QCOMPARE(StatusText(w), status);
        QVERIFY(Button(w, "btn_proc_runVR")->isEnabled() && Button(w, "btn_proc_countOne")->isEnabled() &&
                !Button(w, "btn_proc_stopVR")->isEnabled() && Child<QProgressBar>(&w, "runProgress")->isHidden());
    }
    QVERIFY(steps > 3);

    // The first run after a menu change counts as tessel-count with that mode and method. A
    // mode, one of two, brings its own method, which the user may change. Frames of interest
    // with Frame Diff last, for the strip below.
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

    // The strip of the frames of interest as the register composes it, below the flow text.
    CMivoRegisterManager reg;
    StartRegister(reg);
    CRunEngine engine;
    reg.AdoptRun(reg.CurrentSettings(), engine.RunToEnd(reg.CurrentSettings()));
    for (int offset : {0, 700, Child<QSlider>(&w, "sld_vr_line")->maximum()}) {
        Child<QSlider>(&w, "sld_vr_line")->setValue(offset);
        QCOMPARE(PreviewImage(w).copy(0, 130, 640, 350).convertToFormat(QImage::Format_RGB888),
                 reg.ComposeFullImageWindow(offset).copy(0, 130, 640, 350));
    }

    // Recounts of the stored records: the circularity filter, then another range with no
    // frame left to read.
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

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
