// The register's run on generated flows with known shifts and particles, under a
// running event loop, as the window drives it.

#include "register_test_support.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>

namespace {

using Ints = std::vector<int>;

int CountLines(const QStringList& log, const QString& message) {
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const QString& line) {
        return line.endsWith(QStringLiteral(" >> ") + message);
    }));
}

// Frame `index` counted whole (strip < 0) or the last frame's strip, by a fresh stream
// that keeps no frames, in the order the register stores them (reversed).
std::vector<ParticleMeasure> DirectCount(const WrittenFlow& flow, int index, int method, int strip) {
    CVideoStream stream;
    stream.SetFolder(flow.Folder().toStdString());
    for (const QString& name : flow.names) stream.AddFrame(name.toStdString());
    stream.minArea = 25;
    stream.maxArea = 100;
    stream.PrepareFirstFrame();
    auto records = strip < 0 ? stream.CountParticles(index, method) : stream.CountParticlesInNewRegion(strip, method);
    std::reverse(records.begin(), records.end());
    return records;
}

// Ground truth: [lo, hi] of single, bigger, smaller, and of all records.
struct Bounds {
    int lo[4] = {0, 0, 0, 0};
    int hi[4] = {0, 0, 0, 0};
};

// A particle loses no pixel in a frame-difference mask (it is far darker than either
// neighbouring frame), but a noise pixel beside it may join it (about 0.15 % of
// background pixels differ by 9 grey levels from a neighbour; a particle has some 30
// around it): a measured area is its true area plus 0 to kBand.
constexpr int kBand = 2;

int ClassOf(int area) {
    return area < 25 ? 2 : area > 100 ? 1 : 0;
}

// Expected records of one region (a whole frame, or the strip of the last frame) from
// its ground-truth label image (group k drawn as k). The record of a group measures
// the component found from the centre of the group's window (centroid +- 25, clipped
// to the frame). Only when that centre is strictly nearer (chessboard) to the group
// than to any other one and the window holds all of it is the area the group's;
// otherwise (a fragment at the frame edge, whose clipped window is centred elsewhere)
// the record may fall into any class.
void Tally(const cv::Mat& labels, int groups, cv::Size frame, bool wholeFrame, Bounds& b) {
    for (int g = 1; g <= groups; ++g) {
        const cv::Mat mine = labels == g;
        const cv::Moments m = cv::moments(mine, true);
        const int area = static_cast<int>(m.m00);
        if (area == 0) continue;
        auto window = [&](int slack) {
            const cv::Point c(static_cast<int>(m.m10 / m.m00) + slack, static_cast<int>(m.m01 / m.m00) + slack);
            return cv::Rect(cv::Point(std::max(c.x - 25, 0), std::max(c.y - 25, 0)),
                            cv::Point(std::min(frame.width - 1, c.x + 25) + 1, std::min(frame.height - 1, c.y + 25) + 1));
        };
        // Whole frames drop components outside 10 .. 3 x maxArea pixels; the strip
        // drops windows that reach its right edge or bottom row (a noise pixel may
        // move the centroid by one).
        auto fits = [&](int slack) {
            const cv::Rect w = window(slack);
            return wholeFrame || (w.br().x < labels.cols && w.br().y < labels.rows);
        };
        const bool sure = area >= 10 && (!wholeFrame || area <= 300 - kBand) && fits(1);
        if (area < 10 - kBand || (wholeFrame && area > 300) || !fits(-1)) continue;
        const cv::Rect w = window(0) & cv::Rect(0, 0, labels.cols, labels.rows);
        const cv::Point seed(w.x + w.width / 2, w.y + w.height / 2);
        int mineNearest = 1 << 30, otherNearest = 1 << 30, inWindow = 0;
        for (int y = w.y; y < w.br().y; ++y)
            for (int x = w.x; x < w.br().x; ++x) {
                const int label = labels.at<int>(y, x);
                if (label == 0) continue;
                const int d = std::max(std::abs(x - seed.x), std::abs(y - seed.y));
                if (label == g) ++inWindow;
                int& nearest = label == g ? mineNearest : otherNearest;
                nearest = std::min(nearest, d);
            }
        std::set<int> classes = {0, 1, 2};
        if (mineNearest < otherNearest && inWindow == area) classes = {ClassOf(area), ClassOf(area + kBand)};
        for (int c : classes) b.hi[c] += 1;
        if (sure && classes.size() == 1) b.lo[*classes.begin()] += 1;
        b.hi[3] += 1;
        b.lo[3] += sure;
    }
}

cv::Mat GroupLabels(const flowgen::Flow& flow, const std::vector<flowgen::VisibleGroup>& groups, int t) {
    cv::Mat labels = cv::Mat::zeros(flow.settings.height, flow.settings.width, CV_32SC1);
    for (size_t k = 0; k < groups.size(); ++k)
        for (int id : groups[k].ids) {
            const flowgen::Particle& p = flow.particles[static_cast<size_t>(id)];
            cv::Mat mask = cv::Mat::zeros(labels.size(), CV_8UC1);
            flowgen::DrawStamp(mask, p.stamp, p.x0 + flow.offsets[static_cast<size_t>(t)], p.y, 1);
            labels.setTo(static_cast<int>(k) + 1, mask);
        }
    return labels;
}

// Which particles should be counted: every group visible in a whole frame of interest,
// and of the last frame those inside the strip of its first `strip` columns (without
// its last row), whose mask is opened 3 x 3; groups crossing the strip's edge have
// their centroid within a particle radius of it and never qualify.
Bounds GroundTruth(const flowgen::Flow& flow, const Ints& selected, int strip) {
    Bounds b;
    const cv::Size frame(flow.settings.width, flow.settings.height);
    for (size_t p = 0; p < selected.size(); ++p) {
        const int t = selected[p];
        const auto groups = flowgen::GroupsInFrame(flow, t);
        cv::Mat labels = GroupLabels(flow, groups, t);
        const bool last = p + 1 == selected.size();
        if (last) {
            if (strip <= 0) break;
            labels = labels(cv::Rect(0, 0, strip, frame.height - 1)).clone();
            cv::Mat opened;
            cv::morphologyEx(labels != 0, opened, cv::MORPH_OPEN, cv::Mat::ones(3, 3, CV_8UC1), cv::Point(-1, -1), 1,
                             cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
            labels.setTo(0, opened == 0);
        }
        Tally(labels, static_cast<int>(groups.size()), frame, !last, b);
    }
    return b;
}

// Calls `action` between two pipeline steps, as a window command would, once a step
// has shown a status text starting with `prefix` for the `nth` time.
void BetweenSteps(CMivoRegisterManager& reg, const QString& prefix, int nth, std::function<void()> action) {
    auto seen = std::make_shared<int>(0);
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(&reg, &CMivoRegisterManager::signalMReg_showInStatusBar, &reg,
                                   [=, &reg](const QString& text) {
                                       if (!text.startsWith(prefix) || ++*seen < nth) return;
                                       QObject::disconnect(*connection);
                                       QMetaObject::invokeMethod(&reg, action, Qt::QueuedConnection);
                                   });
}

}  // namespace

class TestRegisterPipeline : public QObject {
    Q_OBJECT

private slots:
    void selectsFramesFromTheShiftSum_data();
    void selectsFramesFromTheShiftSum();
    void progressTextsAndLog();
    void recordsEqualDirectCountsOfTheFramesOfInterest_data();
    void recordsEqualDirectCountsOfTheFramesOfInterest();
    void countsAgreeWithGroundTruth_data();
    void countsAgreeWithGroundTruth();

    // Faults the pipeline must survive.
    void unreadableFramesAreLoggedAndReported();
    void noRunWithoutFrameZero();
    void stoppedRunRestartsFromScratch();
    void resetOrNewSequenceStopsARun();
    void runStartedFromTheFinishSignalCompletes();
};

void TestRegisterPipeline::selectsFramesFromTheShiftSum_data() {
    QTest::addColumn<int>("frames");
    QTest::addColumn<Ints>("shifts");
    QTest::addColumn<Ints>("selected");
    QTest::addColumn<int>("strip");
    // 4 x 160 reaches 640 exactly: the frame just measured is taken.
    QTest::newRow("160") << 15 << Ints{160} << Ints{0, 4, 8, 12, 14} << 320;
    // 7 x 100 overshoots by 60: frame 6 is taken and the sum restarts at 0 (with the
    // 60 kept, frame 12 would follow).
    QTest::newRow("100") << 16 << Ints{100} << Ints{0, 6, 13, 15} << 100;
    // Frames 3, 6 and 9 do not move: logged, nothing added.
    QTest::newRow("zero shifts") << 10 << Ints{160, 160, 0} << Ints{0, 5, 9} << 320;
    // The last frame selected in phase 1 stands twice; its strip is empty.
    QTest::newRow("last selected") << 9 << Ints{160} << Ints{0, 4, 8, 8} << 0;
    QTest::newRow("one frame") << 1 << Ints{160} << Ints{0, 0} << 0;
}

void TestRegisterPipeline::selectsFramesFromTheShiftSum() {
    QFETCH(int, frames);
    QFETCH(Ints, shifts);
    QFETCH(Ints, selected);
    QFETCH(int, strip);
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(frames, shifts), flow));
    CMivoRegisterManager reg;
    QSignalSpy finished(&reg, &CMivoRegisterManager::signalMReg_finishCounting);
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QCOMPARE(finished.count(), 1);
    QVERIFY(reg.foiReady && !reg.timer->isActive());
    QCOMPARE(reg.selectedFrames, selected);
    QCOMPARE(reg.accumulatedShift, strip);
    QVERIFY(reg.unreadableFrames.empty());
    // One overflow line per frame without a usable shift, with its 1-based number.
    const QStringList overflow = cwd.LogLines().filter(QStringLiteral("[overflow]"));
    QCOMPARE(overflow.size(), QTest::currentDataTag() == QByteArray("zero shifts") ? 3 : 0);
    for (int i = 0; i < overflow.size(); ++i)
        QVERIFY(overflow[i].endsWith(QStringLiteral(" >> [overflow] Img:%1 , Tx:0").arg(3 * i + 4)));
}

void TestRegisterPipeline::progressTextsAndLog() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(15, {160}), flow));
    CMivoRegisterManager reg;
    QSignalSpy status(&reg, &CMivoRegisterManager::signalMReg_showInStatusBar);
    QSignalSpy finished(&reg, &CMivoRegisterManager::signalMReg_finishCounting);
    QVERIFY(StartRun(reg, flow.Folder(), flow.names));
    // foiReady turns true with the finish signal, not before.
    while (finished.isEmpty()) {
        QVERIFY(!reg.foiReady);
        QVERIFY(finished.wait(10000));
    }
    QVERIFY(reg.foiReady);
    // One text per step: 14 measured frames, then the 4 frames of interest chosen by then.
    QStringList texts;
    for (const QList<QVariant>& args : status) texts << args.first().toString();
    QCOMPARE(texts.size(), 14 + 4);
    QCOMPARE(texts[0], QStringLiteral("[Process] Building Full Image ... (6%)"));
    QCOMPARE(texts[13], QStringLiteral("[Process] Building Full Image ... (93%)"));
    QCOMPARE(texts[14], QStringLiteral("[Process] Counting particles ... (25%)"));
    QCOMPARE(texts[17], QStringLiteral("[Process] Counting particles ... (100%)"));

    const QStringList log = cwd.LogLines();
    QCOMPARE(log.size(), 4);
    const QRegularExpression line(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\d_\\d\\d_\\d\\d_\\d\\d\\.\\d{3} >> \\[Counting\\] Selected Frames index : (\\d+)$"));
    for (int i = 0; i < 4; ++i) {
        const QRegularExpressionMatch match = line.match(log[i]);
        QVERIFY2(match.hasMatch(), qPrintable(log[i]));
        QCOMPARE(match.captured(1).toInt(), 4 * i);
    }
    QVERIFY(CMivoRegisterManager::CurrentTimestamp().startsWith(
        QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd_"))));
}

void TestRegisterPipeline::recordsEqualDirectCountsOfTheFramesOfInterest_data() {
    QTest::addColumn<int>("method");
    QTest::addColumn<Ints>("shifts");
    QTest::addColumn<Ints>("selected");
    // Frames 4 and 15 are selected exactly (counted one step later, when the frame
    // after them is read), frame 10 as the frame before an overshoot; a strip of 320.
    const Ints strip = {160, 160, 160, 160, 100, 100, 100, 100, 100, 100, 100, 160, 160, 160, 160, 160, 160};
    // The same, but the last frame is selected exactly and counted whole.
    Ints whole = strip;
    whole.insert(whole.end(), {160, 160});
    for (int method : {1, 2, 3}) {
        QTest::addRow("method %d, strip", method) << method << strip << Ints{0, 4, 10, 15, 17};
        QTest::addRow("method %d, last whole", method) << method << whole << Ints{0, 4, 10, 15, 19, 19};
    }
}

// Frames of interest are counted while phase 1 still holds their neighbours; the
// records must be those of counting every frame of interest afresh from disk.
void TestRegisterPipeline::recordsEqualDirectCountsOfTheFramesOfInterest() {
    QFETCH(int, method);
    QFETCH(Ints, shifts);
    QFETCH(Ints, selected);
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    const int frames = static_cast<int>(shifts.size()) + 1;
    QVERIFY(WriteFlow(FlowOf(frames, shifts), flow));
    CMivoRegisterManager reg;
    reg.segmentationMethod = method;
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QCOMPARE(reg.selectedFrames, selected);
    std::vector<ParticleMeasure> expected;
    for (size_t p = 0; p < selected.size(); ++p) {
        const bool last = p + 1 == selected.size();
        const auto records = DirectCount(flow, selected[p], method, last ? reg.accumulatedShift : -1);
        expected.insert(expected.end(), records.begin(), records.end());
    }
    QVERIFY(expected.size() > 100);
    QCOMPARE(reg.foiParticles.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const ParticleMeasure& a = reg.foiParticles[i];
        const ParticleMeasure& b = expected[i];
        QVERIFY(a.frame == b.frame && a.x == b.x && a.y == b.y && a.area == b.area && a.ratio == b.ratio);
    }
}

void TestRegisterPipeline::countsAgreeWithGroundTruth_data() {
    QTest::addColumn<unsigned>("seed");
    QTest::addColumn<int>("shift");
    QTest::newRow("seed 1, 160") << 1u << 160;
    QTest::newRow("seed 2, 160") << 2u << 160;
    QTest::newRow("seed 3, 100") << 3u << 100;
}

void TestRegisterPipeline::countsAgreeWithGroundTruth() {
    QFETCH(unsigned, seed);
    QFETCH(int, shift);
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(30, {shift}, seed), flow));
    CMivoRegisterManager reg;
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QVERIFY(reg.accumulatedShift > 0);
    const Bounds b = GroundTruth(flow.flow, reg.selectedFrames, reg.accumulatedShift);
    const int records = static_cast<int>(reg.foiParticles.size());
    const int counts[4] = {reg.countInRange, reg.countGreater, reg.countSmaller, records};
    for (int c = 0; c < 4; ++c) {
        QVERIFY2(b.lo[c] <= counts[c] && counts[c] <= b.hi[c],
                 qPrintable(QStringLiteral("%1: %2 not in [%3, %4]").arg(c).arg(counts[c]).arg(b.lo[c]).arg(b.hi[c])));
        // The tolerance stays small: under 5 % of the records.
        QVERIFY(b.hi[c] - b.lo[c] < records / 20);
    }
    QVERIFY(records > 200);
}

void TestRegisterPipeline::unreadableFramesAreLoggedAndReported() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(15, {160}), flow));
    // Frame 6 in phase 1; the last frame is measured in phase 1 and counted in phase 3.
    QVERIFY(Spoil(flow.Path(6)));
    QVERIFY(Spoil(flow.Path(14)));
    CMivoRegisterManager reg;
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QCOMPARE(reg.unreadableFrames, Ints({6, 14}));
    QCOMPARE(reg.selectedFrames.front(), 0);
    QCOMPARE(reg.selectedFrames.back(), 14);
    for (const ParticleMeasure& r : reg.foiParticles) QVERIFY(r.frame != 6 && r.frame != 14);
    const QStringList log = cwd.LogLines();
    QCOMPARE(log.filter(QStringLiteral("[unreadable]")).size(), 2);
    QCOMPARE(CountLines(log, QStringLiteral("[unreadable] Img:7")), 1);
    QCOMPARE(CountLines(log, QStringLiteral("[unreadable] Img:15")), 1);
    QCOMPARE(CountLines(log, QStringLiteral("[overflow] Img:7 , Tx:0")), 1);
}

void TestRegisterPipeline::noRunWithoutFrameZero() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(8, {160}), flow));
    QVERIFY(Spoil(flow.Path(0)));
    CMivoRegisterManager reg;
    QSignalSpy status(&reg, &CMivoRegisterManager::signalMReg_showInStatusBar);
    QSignalSpy finished(&reg, &CMivoRegisterManager::signalMReg_finishCounting);
    QVERIFY(!StartRun(reg, flow.Folder(), flow.names));
    QVERIFY(!StartRun(reg, cwd.Path(), {}));  // an empty stream
    QCOMPARE(status.count(), 2);
    QCOMPARE(status[0].first().toString(), QStringLiteral("[ERRO] Can not read image frame_0000.png"));
    QCOMPARE(status[1].first().toString(), QStringLiteral("[ERRO] No images were found"));
    QVERIFY(!reg.timer->isActive());
    reg.slot_createFullImage();  // a stray tick does nothing either
    QTest::qWait(50);
    QVERIFY(finished.isEmpty() && !reg.foiReady && reg.selectedFrames.empty());
    QCOMPARE(CountLines(cwd.LogLines(), QStringLiteral("[unreadable] Img:1")), 1);
    // Nothing to show, count or export.
    QVERIFY(reg.ComposeFullImageWindow(0).isNull());
    QVERIFY(reg.ExportFramesOfInterest(cwd.Path()).isEmpty());
    QVERIFY(reg.CountFrame(0, 3).isNull());
}

void TestRegisterPipeline::stoppedRunRestartsFromScratch() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(15, {160}), flow));
    CMivoRegisterManager reference;
    QVERIFY(RunToEnd(reference, flow.Folder(), flow.names));

    // Stopped in phase 1 (frames 0 and 4 selected), then started again the window's way.
    CMivoRegisterManager reg;
    QSignalSpy finished(&reg, &CMivoRegisterManager::signalMReg_finishCounting);
    BetweenSteps(reg, QStringLiteral("[Process] Building"), 6, [&] { reg.timer->stop(); });
    QVERIFY(StartRun(reg, flow.Folder(), flow.names));
    QTRY_VERIFY(!reg.timer->isActive());
    QVERIFY(reg.building && !reg.foiReady);
    QCOMPARE(reg.selectedFrames, Ints({0, 4}));
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QCOMPARE(reg.selectedFrames, reference.selectedFrames);
    QCOMPARE(reg.foiParticles.size(), reference.foiParticles.size());

    // Stopped in phase 2 and begun again on the same stream: from frame 1 again.
    BetweenSteps(reg, QStringLiteral("[Process] Counting"), 2, [&] { reg.timer->stop(); });
    QVERIFY(StartRun(reg, flow.Folder(), flow.names));
    QTRY_VERIFY(!reg.timer->isActive());
    QVERIFY(!reg.building && !reg.foiReady && reg.cursor >= 2);
    QVERIFY(reg.BeginProcessing());
    QTRY_COMPARE(finished.count(), 2);
    QCOMPARE(reg.selectedFrames, reference.selectedFrames);
    QCOMPARE(reg.foiParticles.size(), reference.foiParticles.size());
}

void TestRegisterPipeline::resetOrNewSequenceStopsARun() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(12, {160}), flow));
    CMivoRegisterManager reg;
    QSignalSpy finished(&reg, &CMivoRegisterManager::signalMReg_finishCounting);
    for (bool newSequence : {false, true}) {
        bool done = false;
        BetweenSteps(reg, QStringLiteral("[Process]"), 3, [&] {
            if (newSequence)
                reg.StartSequence(flow.Folder());
            else
                reg.ResetRegister();
            done = true;
        });
        QVERIFY(StartRun(reg, flow.Folder(), flow.names));
        QTRY_VERIFY(done);
        QVERIFY(!reg.timer->isActive());
        QTest::qWait(100);
        QVERIFY(finished.isEmpty() && !reg.foiReady);
    }
}

void TestRegisterPipeline::runStartedFromTheFinishSignalCompletes() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(9, {160}), flow));
    CMivoRegisterManager reg;
    QSignalSpy finished(&reg, &CMivoRegisterManager::signalMReg_finishCounting);
    bool restarted = false;
    connect(&reg, &CMivoRegisterManager::signalMReg_finishCounting, this, [&] {
        if (!restarted) restarted = StartRun(reg, flow.Folder(), flow.names);
    });
    QVERIFY(StartRun(reg, flow.Folder(), flow.names));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 20000);
    QVERIFY(restarted);
    QCOMPARE(reg.selectedFrames, Ints({0, 4, 8, 8}));
}

QTEST_GUILESS_MAIN(TestRegisterPipeline)
#include "tst_register_pipeline.moc"
