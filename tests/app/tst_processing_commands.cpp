// The processing commands driven through the window on generated flows, checked
// against the headless counter (tessel-count) on the same folder and settings.

#include "dialogs/crop_dialog.h"
#include "register/mivo_register_manager.h"
#include "tests/sequence/window_fixture.h"
#include "tools/flowgen/flowgen.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Window = CMivoParticleStreamAnalysis;

QJsonObject Headless(const QString& folder, QStringList options = {})
{
    QProcess count;
    count.start(QStringLiteral(TESSEL_COUNT_PATH), options << QStringLiteral("--json") << folder);
    count.waitForFinished(120000);
    return QJsonDocument::fromJson(count.readAllStandardOutput()).object();
}

QStringList Counters(const QJsonObject& json)
{
    return {QString::number(json["count_in_range"].toInt()), QString::number(json["count_greater"].toInt()),
            QString::number(json["count_smaller"].toInt())};
}

QStringList Counters(Window& w)
{
    return {FieldText(w, "tf_report_total"), FieldText(w, "tf_report_NGreater"), FieldText(w, "tf_report_NSmaller")};
}

// Counters of the records of a particle table under other bounds, filter off.
QStringList CountersFromCsv(const QString& path, int minArea, int maxArea)
{
    QFile table(path);
    int counts[3] = {0, 0, 0}; // single, bigger, smaller
    if (table.open(QIODevice::ReadOnly))
        for (const QByteArray& row : table.readAll().trimmed().split('\n').mid(1)) {
            const int area = row.split(',').value(4).toInt();
            ++counts[area < minArea ? 2 : area > maxArea ? 1 : 0];
        }
    return {QString::number(counts[0]), QString::number(counts[1]), QString::number(counts[2])};
}

QStringList WriteFlowFrames(const QString& folder, int frames, std::vector<int> shifts)
{
    flowgen::FlowSettings settings;
    settings.frames = frames;
    settings.seed = 7;
    settings.shifts = flowgen::PatternShifts(frames, shifts);
    std::string error;
    flowgen::WriteFlow(flowgen::GenerateFlow(settings), folder.toStdString(), "png", &error);
    QStringList names;
    for (int t = 0; t < frames; ++t)
        names << QString::fromStdString(flowgen::FrameFileName(t, frames, "png"));
    return names;
}

QPushButton* Button(Window& w, const char* name)
{
    return Child<QPushButton>(&w, name);
}

bool RunFinishes(Window& w)
{
    Button(w, "btn_proc_runVR")->click();
    return QTest::qWaitFor([&w] { return Button(w, "btn_proc_runVR")->isEnabled(); }, 60000);
}

// The preview below the flow-direction text, as RGB.
QImage BelowText(const QImage& image)
{
    return image.copy(0, 130, 640, 350).convertToFormat(QImage::Format_RGB888);
}

} // namespace

class TestProcessingCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void wholeRunMatchesHeadlessCount();
    void exportsFiguresAndData();
    void stopsAndFailuresLeaveTheWindowUsable();
    void countCurrentCutsCropMargins();
    void recountUsesStoredRecordsOnly();

private:
    QTemporaryDir work;
    QString flow;
    QStringList names;
    Window window;
};

void TestProcessingCommands::initTestCase()
{
    QLocale::setDefault(QLocale::c());
    QVERIFY(QDir::setCurrent(work.path())); // log_KOV.txt goes here
    flow = work.filePath(QStringLiteral("flow"));
    names = WriteFlowFrames(flow, 24, {160, 100, 120, 160});
    OpenFolder(window, flow);
}

void TestProcessingCommands::wholeRunMatchesHeadlessCount()
{
    Child<QCheckBox>(&window, "chb_video_grid")->setChecked(false);
    auto* progress = Child<QProgressBar>(&window, "runProgress");
    QList<int> seen;
    connect(progress, &QProgressBar::valueChanged, this, [&seen](int v) { seen << v; });
    Button(window, "btn_proc_runVR")->click();
    QVERIFY(!progress->isHidden() && Button(window, "btn_proc_stopVR")->isEnabled());
    QVERIFY(!Button(window, "btn_proc_countOne")->isEnabled());
    QVERIFY(QTest::qWaitFor([&] { return Button(window, "btn_proc_runVR")->isEnabled(); }, 60000));
    QVERIFY(progress->isHidden() && Button(window, "btn_proc_countAll")->isEnabled());
    QVERIFY(seen.size() > 20 && std::is_sorted(seen.begin(), seen.end()) && seen.last() < 100);
    QCOMPARE(StatusText(window), QStringLiteral("[IDLE] >> Counting all frames of interesting"));

    const QJsonObject json = Headless(flow);
    QCOMPARE(Counters(window), Counters(json));
    auto* strip = Child<QSlider>(&window, "sld_vr_line");
    const int selected = int(json["selected_frames"].toArray().size());
    QCOMPARE(strip->maximum(), (selected - 1) * 640 - 640 + json["accumulated_shift"].toInt());
    QVERIFY(strip->isEnabled() && strip->value() == 0 && strip->singleStep() == 20);

    // The strip at offset 0 is frame of interest 0 rendered; the slider scrolls it.
    CMivoRegisterManager reg;
    reg.StartSequence(flow);
    reg.stream->minArea = 25;
    reg.stream->maxArea = 100;
    for (const QString& name : names)
        reg.stream->AddFrame(name.toStdString());
    QSignalSpy finished(&reg, &CMivoRegisterManager::signalMReg_finishCounting);
    QVERIFY(reg.BeginProcessing() && finished.wait(60000));
    const cv::Mat frame0 = reg.RenderFoIFrame(0);
    QCOMPARE(BelowText(PreviewImage(window)),
             BelowText(QImage(frame0.data, 640, 480, int(frame0.step), QImage::Format_BGR888)));
    strip->setValue(strip->maximum());
    QCOMPARE(BelowText(PreviewImage(window)), BelowText(reg.ComposeFullImageWindow(strip->maximum())));
}

void TestProcessingCommands::exportsFiguresAndData()
{
    const QString figures = work.filePath(QStringLiteral("figures"));
    QVERIFY(QDir().mkpath(figures));
    AnswerFolderChooser(figures);
    Button(window, "btn_expFoI")->click();
    QCOMPARE(StatusText(window), QStringLiteral("[Running] Frames of interesting were exported successfully... "));
    QStringList pairs;
    for (const QJsonValue f : Headless(flow)["selected_frames"].toArray())
        for (const char* kind : {"pos", "res"})
            pairs << QStringLiteral("%1_%2_%3").arg(kind).arg(f.toInt()).arg(names[f.toInt()]);
    pairs.removeDuplicates();
    pairs.sort();
    QCOMPARE(QDir(figures).entryList(QDir::Files), pairs);

    // Names taken by folders cannot be written, even by root.
    const QString blocked = work.filePath(QStringLiteral("blocked"));
    for (const QString& name : pairs.mid(0, 3))
        QVERIFY(QDir().mkpath(blocked + QLatin1Char('/') + name));
    AnswerFolderChooser(blocked);
    Button(window, "btn_expFoI")->click();
    QCOMPARE(StatusText(window), QStringLiteral("[ERRO] 3 exported files could not be written"));

    // The particle table of the headless counter, byte for byte.
    const QString csv = work.filePath(QStringLiteral("window.csv"));
    QTimer::singleShot(50, [csv] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        // selectFile leaves the focused name field as it is.
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(csv);
        static_cast<QDialog*>(dialog)->accept();
    });
    Button(window, "pushButton")->click();
    QCOMPARE(StatusText(window), QStringLiteral("[Running] Particle data were exported successfully... "));
    Headless(flow, {QStringLiteral("--csv"), work.filePath(QStringLiteral("headless.csv"))});
    QFile mine(csv), theirs(work.filePath(QStringLiteral("headless.csv")));
    QVERIFY(mine.open(QIODevice::ReadOnly) && theirs.open(QIODevice::ReadOnly));
    QCOMPARE(mine.readAll(), theirs.readAll());

    Window fresh;
    for (const char* button : {"btn_expFoI", "pushButton"}) {
        Button(fresh, button)->click();
        QCOMPARE(StatusText(fresh), QStringLiteral("[Running] There are not FoI generated! :("));
    }
}

void TestProcessingCommands::stopsAndFailuresLeaveTheWindowUsable()
{
    const QString shortFlow = work.filePath(QStringLiteral("short"));
    const QStringList shortNames = WriteFlowFrames(shortFlow, 8, {50});
    Window w;
    OpenFolder(w, flow);
    auto stoppedAfterAWhile = [&w](const QString& status) {
        QTest::qWait(300); // a step still running would show "[Process] ..."
        return StatusText(w) == status && Button(w, "btn_proc_runVR")->isEnabled() &&
               Button(w, "btn_proc_countOne")->isEnabled() && !Button(w, "btn_proc_stopVR")->isEnabled() &&
               !Button(w, "btn_proc_countAll")->isEnabled() && Child<QProgressBar>(&w, "runProgress")->isHidden();
    };
    // Cancelled from within its third step.
    int steps = 0;
    bool cancel = true;
    connect(w.statusBar(), &QStatusBar::messageChanged, w.statusBar(), [&](const QString& text) {
        if (text.startsWith(QStringLiteral("[Process]")) && ++steps == 3 && cancel)
            Button(w, "btn_proc_stopVR")->click();
    });
    Button(w, "btn_proc_runVR")->click();
    QTRY_COMPARE(steps, 3);
    QVERIFY(stoppedAfterAWhile(QStringLiteral("[Running]")));
    // A folder opened while a run goes: its steps go on while the chooser is open.
    QFile(shortFlow + QLatin1Char('/') + shortNames[3]).resize(10);
    steps = 0;
    cancel = false;
    Button(w, "btn_proc_runVR")->click();
    OpenFolder(w, shortFlow);
    QVERIFY(steps > 0);
    QVERIFY(stoppedAfterAWhile(QStringLiteral("[IDLE]")));

    // Frame 3 unreadable; one frame of interest and the last frame's strip.
    QVERIFY(RunFinishes(w));
    QCOMPARE(StatusText(w), QStringLiteral("[WARNING] 1 frame could not be read"));
    const QJsonObject json = Headless(shortFlow);
    QCOMPARE(Counters(w), Counters(json));
    auto* strip = Child<QSlider>(&w, "sld_vr_line");
    QCOMPARE(strip->maximum(), json["accumulated_shift"].toInt());
    strip->setValue(strip->maximum());
    QCOMPARE(PreviewImage(w).size(), QSize(640, 480));

    // Without frame 0 nothing can be measured: the register's reason, and no run.
    QFile(shortFlow + QLatin1Char('/') + shortNames[0]).resize(10);
    Button(w, "btn_proc_runVR")->click();
    QCOMPARE(StatusText(w), QStringLiteral("[ERRO] Can not read image ") + shortNames[0]);
    QVERIFY(Button(w, "btn_proc_runVR")->isEnabled() && !Button(w, "btn_proc_stopVR")->isEnabled());
    QVERIFY(Child<QProgressBar>(&w, "runProgress")->isHidden());
    // "Count Current" on it keeps the counters.
    Button(w, "btn_proc_countOne")->click();
    QCOMPARE(StatusText(w), QStringLiteral("[WARNING] Can not read image ") + shortNames[0]);
    QCOMPARE(Counters(w), Counters(json));
}

void TestProcessingCommands::countCurrentCutsCropMargins()
{
    Window w;
    OpenFolder(w, flow);
    Child<QSlider>(&w, "sld_view_FrameSlider")->setValue(6);
    auto expected = [this](int marginTop) {
        CMivoRegisterManager reg;
        reg.StartSequence(flow);
        reg.stream->minArea = 25;
        reg.stream->maxArea = 100;
        for (const QString& name : names)
            reg.stream->AddFrame(name.toStdString());
        reg.stream->marginTop = marginTop;
        reg.CountFrame(5, 3);
        reg.CountFrameParticles();
        return QStringList{QString::number(reg.countInRange), QString::number(reg.countGreater),
                           QString::number(reg.countSmaller)};
    };
    QVERIFY(expected(0) != expected(48));
    Button(w, "btn_proc_countOne")->click();
    QCOMPARE(Counters(w), expected(0));
    QCOMPARE(StatusText(w), QStringLiteral("[IDLE] >> Counting current frame"));
    emit Child<CTool4CropImg>(&w, "tool4CropImg")->sigCrop_dataToolCropping(0.1, 0, 0, 0, true, "");
    Button(w, "btn_proc_countOne")->click();
    QCOMPARE(Counters(w), expected(48)); // 0.1 of 480 rows
}

void TestProcessingCommands::recountUsesStoredRecordsOnly()
{
    Child<QCheckBox>(&window, "chb_report_FilterByCirc")->setChecked(true);
    QCOMPARE(Counters(window), Counters(Headless(flow, {"--circularity", "0.5"})));
    Child<QDoubleSpinBox>(&window, "sb_report_thCirc")->setValue(0.8);
    QCOMPARE(Counters(window), Counters(Headless(flow, {"--circularity", "0.8"})));
    Child<QCheckBox>(&window, "chb_report_FilterByCirc")->setChecked(false);

    // The records stored by the run, classed anew: a new run with other bounds would
    // segment differently.
    const QString table = work.filePath(QStringLiteral("headless.csv"));
    QCOMPARE(CountersFromCsv(table, 25, 100), Counters(window));
    const QStringList wider = CountersFromCsv(table, 40, 150);
    QVERIFY(wider != Counters(window));
    for (const QString& name : names)
        QVERIFY(QFile::remove(flow + QLatin1Char('/') + name));
    Child<QLineEdit>(&window, "tf_setting_minPxl")->setText(QStringLiteral("40"));
    Child<QLineEdit>(&window, "tf_setting_maxPxl")->setText(QStringLiteral("150"));
    Button(window, "btn_proc_countAll")->click();
    QCOMPARE(Counters(window), wider);
    QCOMPARE(StatusText(window), QStringLiteral("[IDLE] >> Counting all frames of interesting"));
}

QTEST_MAIN(TestProcessingCommands)
#include "tst_processing_commands.moc"
