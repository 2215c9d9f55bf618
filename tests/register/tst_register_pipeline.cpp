// The register's run on generated flows with known shifts and particles, under a
// running event loop, as the window drives it.

#include "register_test_support.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>

namespace {

std::vector<int> Ints(std::initializer_list<int> values) {
    return std::vector<int>(values);
}

int CountLines(const QStringList& lines, const QString& message) {
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const QString& line) {
        return line.endsWith(QStringLiteral(" >> ") + message);
    }));
}

// Records the register stores for frame `index` counted whole (or the strip of the
// last frame), by a fresh stream that keeps no frames: AppendParticles reverses them.
std::vector<ParticleMeasure> DirectCount(const WrittenFlow& flow, int index, int method, int strip) {
    CVideoStream stream;
    stream.SetFolder(flow.Folder().toStdString());
    for (const QString& name : flow.names) stream.AddFrame(name.toStdString());
    stream.minArea = 25;
    stream.maxArea = 100;
    stream.PrepareFirstFrame();
    std::vector<ParticleMeasure> records =
        strip < 0 ? stream.CountParticles(index, method) : stream.CountParticlesInNewRegion(strip, method);
    std::reverse(records.begin(), records.end());
    return records;
}

bool SameRecord(const ParticleMeasure& a, const ParticleMeasure& b) {
    return a.frame == b.frame && a.x == b.x && a.y == b.y && a.area == b.area && a.inRange == b.inRange &&
           (a.circularity == b.circularity || (a.circularity != a.circularity && b.circularity != b.circularity));
}

// What the ground truth allows for each count: [lo, hi] of single, bigger, smaller and
// of all records.
struct Bounds {
    int lo[3] = {0, 0, 0};
    int hi[3] = {0, 0, 0};
    int recordsLo = 0;
    int recordsHi = 0;
};

enum { kSingle = 0, kBigger = 1, kSmaller = 2 };

// Particles are far darker than any frame they are compared with, so none of their
// pixels is lost from a frame-difference mask; but a noise pixel next to a particle
// (about 0.15 % of background pixels differ by 9 grey levels from a neighbouring
// frame, and a particle has some 30 pixels around it) may join it. A measured area
// is therefore its true area plus 0 to kBand pixels.
constexpr int kBand = 2;
constexpr int kMinArea = 25;
constexpr int kMaxArea = 100;

std::set<int> ClassesBetween(int lo, int hi) {
    std::set<int> classes;
    for (int a = lo; a <= hi; ++a) classes.insert(a < kMinArea ? kSmaller : a > kMaxArea ? kBigger : kSingle);
    return classes;
}

void Tally(const std::set<int>& classes, bool sure, bool maybe, Bounds& bounds) {
    if (!maybe) return;
    for (int c : classes) bounds.hi[c] += 1;
    if (sure && classes.size() == 1) bounds.lo[*classes.begin()] += 1;
    bounds.recordsHi += 1;
    if (sure) bounds.recordsLo += 1;
}

// The measuring window: centroid +- kMinArea, clipped to the frame.
cv::Rect Window(cv::Point c, int width, int height) {
    return cv::Rect(cv::Point(std::max(c.x - kMinArea, 0), std::max(c.y - kMinArea, 0)),
                    cv::Point(std::min(width - 1, c.x + kMinArea) + 1, std::min(height - 1, c.y + kMinArea) + 1));
}

// Label image of frame t drawn from the flow's stamps: group k of `groups` is k + 1.
cv::Mat GroupLabels(const flowgen::Flow& flow, const std::vector<flowgen::VisibleGroup>& groups, int t) {
    cv::Mat labels = cv::Mat::zeros(flow.settings.height, flow.settings.width, CV_32SC1);
    const int offset = flow.offsets[static_cast<size_t>(t)];
    for (size_t k = 0; k < groups.size(); ++k) {
        for (int id : groups[k].ids) {
            const flowgen::Particle& p = flow.particles[static_cast<size_t>(id)];
            const int cx = p.x0 + offset - p.stamp.cols / 2;
            const int cy = p.y - p.stamp.rows / 2;
            for (int r = 0; r < p.stamp.rows; ++r)
                for (int c = 0; c < p.stamp.cols; ++c)
                    if (p.stamp.at<uchar>(r, c) && cv::Rect(0, 0, labels.cols, labels.rows).contains({cx + c, cy + r}))
                        labels.at<int>(cy + r, cx + c) = static_cast<int>(k) + 1;
        }
    }
    return labels;
}

// Expected records of one region (a whole frame, or the strip of the last frame) from
// its label image. Each group is one component; its record measures the component
// found from the centre of its window. When that centre is strictly nearer (in
// chessboard distance) to the group than to any other one and the window holds all
// of the group, the record's area is the group's; otherwise the window may measure a
// part or a neighbour (a fragment at the frame edge, whose clipped window is centred
// elsewhere), and the record may fall into any class.
void TallyRegion(const cv::Mat& labels, int groups, int frameWidth, int frameHeight, bool wholeFrame,
                 Bounds& bounds) {
    for (int g = 1; g <= groups; ++g) {
        const cv::Mat mine = labels == g;
        const int area = cv::countNonZero(mine);
        if (area == 0) continue;
        const cv::Moments m = cv::moments(mine, true);
        const cv::Point c(static_cast<int>(m.m10 / m.m00), static_cast<int>(m.m01 / m.m00));
        const cv::Rect window = Window(c, frameWidth, frameHeight);
        bool sure = area >= 10;
        bool maybe = area >= 10 - kBand;
        if (wholeFrame) {
            // Components of more than 3 x maxArea pixels are dropped.
            sure = sure && area <= 3 * kMaxArea - kBand;
            maybe = maybe && area <= 3 * kMaxArea;
        } else {
            // The window must end before the strip's right edge and bottom row; a
            // noise pixel may move the centroid by one.
            auto inside = [&](int slack) {
                const cv::Rect w = Window(c + cv::Point(slack, slack), frameWidth, frameHeight);
                return w.br().x < labels.cols && w.br().y < labels.rows;
            };
            sure = sure && inside(1);
            maybe = maybe && inside(-1);
        }
        if (!maybe) continue;
        const cv::Point seed(window.x + window.width / 2, window.y + window.height / 2);
        int nearestMine = 1 << 30;
        int nearestOther = 1 << 30;
        int inWindow = 0;
        const cv::Rect seen = window & cv::Rect(0, 0, labels.cols, labels.rows);
        for (int y = seen.y; y < seen.y + seen.height; ++y) {
            for (int x = seen.x; x < seen.x + seen.width; ++x) {
                const int label = labels.at<int>(y, x);
                if (label == 0) continue;
                const int d = std::max(std::abs(x - seed.x), std::abs(y - seed.y));
                if (label == g) {
                    nearestMine = std::min(nearestMine, d);
                    ++inWindow;
                } else {
                    nearestOther = std::min(nearestOther, d);
                }
            }
        }
        const bool clean = nearestMine < nearestOther && inWindow == area;
        Tally(clean ? ClassesBetween(area, area + kBand) : ClassesBetween(0, 1000), sure, maybe, bounds);
    }
}

// Which particles should be counted: every group visible in a whole frame of interest
// (components of 10 to 3 x maxArea pixels, measured as the frame shows them), and of
// the last frame those in the strip of its first `strip` columns (without the frame's
// last row) whose measuring window ends at least one pixel before the strip's right
// edge and bottom row. The strip's mask is opened (3 x 3), and so is the reference;
// groups crossing the strip's edge have their centroid within a particle radius of
// it and never qualify.
Bounds GroundTruthBounds(const WrittenFlow& flow, const std::vector<int>& selected, int strip) {
    Bounds bounds;
    const int width = flow.flow.settings.width;
    const int height = flow.flow.settings.height;
    for (size_t p = 0; p + 1 < selected.size(); ++p) {
        const std::vector<flowgen::VisibleGroup> groups = flowgen::GroupsInFrame(flow.flow, selected[p]);
        TallyRegion(GroupLabels(flow.flow, groups, selected[p]), static_cast<int>(groups.size()), width, height,
                    true, bounds);
    }
    const int last = selected.back();
    const cv::Rect region(0, 0, std::min(strip, width), height - 1);
    if (region.empty()) return bounds;
    const std::vector<flowgen::VisibleGroup> groups = flowgen::GroupsInFrame(flow.flow, last);
    cv::Mat labels = GroupLabels(flow.flow, groups, last)(region).clone();
    cv::Mat opened = labels != 0;
    cv::morphologyEx(opened, opened, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)),
                     cv::Point(-1, -1), 1, cv::BORDER_CONSTANT, cv::morphologyDefaultBorderValue());
    labels.setTo(0, opened == 0);
    TallyRegion(labels, static_cast<int>(groups.size()), width, height, false, bounds);
    return bounds;
}

// Calls `action` between two pipeline steps, as a window command would, once the
// status text of a step starts with `prefix` for the `nth` time.
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
    void progressTextsAndCountingLog();
    void zeroShiftFrameWritesOverflowLine();
    void lastFrameSelectedInPhaseOneStandsTwice();
    void singleFrameGoesStraightToTheLastStep();
    void recordsEqualDirectCountsOfTheFramesOfInterest_data();
    void recordsEqualDirectCountsOfTheFramesOfInterest();
    void countsAgreeWithGroundTruth_data();
    void countsAgreeWithGroundTruth();
    void logLineFormat();

    // Faults the pipeline must survive.
    void unreadableFrameIsLoggedAndReported();
    void unreadableFrameOfInterestIsReportedOnce();
    void unreadableFirstFrameStartsNoRun();
    void emptyStreamStartsNoRun();
    void stoppedRunRestartsFromScratch();
    void resetDuringRunStopsIt();
    void runStartedFromTheFinishSignalCompletes();
};

void TestRegisterPipeline::selectsFramesFromTheShiftSum_data() {
    QTest::addColumn<int>("frames");
    QTest::addColumn<std::vector<int>>("shifts");
    QTest::addColumn<std::vector<int>>("selected");
    QTest::addColumn<int>("strip");
    // 4 x 160 reaches 640 exactly: the frame just measured is taken.
    QTest::newRow("160 on 640") << 15 << Ints({160}) << Ints({0, 4, 8, 12, 14}) << 320;
    // 7 x 100 = 700 overshoots by 60: frame 6 is taken and the sum restarts at 0, so
    // the next selection needs 7 more frames (it would come at 13 with the 60 kept).
    QTest::newRow("100 on 640") << 14 << Ints({100}) << Ints({0, 6, 13}) << 600;
    QTest::newRow("100, sum restarts") << 16 << Ints({100}) << Ints({0, 6, 13, 15}) << 100;
}

void TestRegisterPipeline::selectsFramesFromTheShiftSum() {
    QFETCH(int, frames);
    QFETCH(std::vector<int>, shifts);
    QFETCH(std::vector<int>, selected);
    QFETCH(int, strip);
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(frames, shifts), flow));
    CMivoRegisterManager reg;
    QSignalSpy finished(&reg, &CMivoRegisterManager::signalMReg_finishCounting);
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QCOMPARE(finished.count(), 1);
    QVERIFY(reg.foiReady);
    QVERIFY(!reg.timer->isActive());
    QCOMPARE(reg.selectedFrames, selected);
    QCOMPARE(reg.selectedFrames.front(), 0);
    QCOMPARE(reg.selectedFrames.back(), frames - 1);
    QCOMPARE(reg.accumulatedShift, strip);
    QCOMPARE(reg.frameWidth, 640);
    QCOMPARE(reg.frameHeight, 480);
    QVERIFY(reg.unreadableFrames.empty());
}

void TestRegisterPipeline::progressTextsAndCountingLog() {
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

    QStringList texts;
    for (const QList<QVariant>& args : status) texts << args.first().toString();
    // One text per step: 14 measured frames, then the 4 frames of interest chosen by then.
    QCOMPARE(texts.size(), 14 + 4);
    QCOMPARE(texts.first(), QStringLiteral("[Process] Building Full Image ... (6%)"));
    QCOMPARE(texts[13], QStringLiteral("[Process] Building Full Image ... (93%)"));
    QCOMPARE(texts[14], QStringLiteral("[Process] Counting particles ... (25%)"));
    QCOMPARE(texts.last(), QStringLiteral("[Process] Counting particles ... (100%)"));

    const QStringList log = cwd.LogLines();
    QCOMPARE(log.size(), 4);
    const char* expected[] = {"0", "4", "8", "12"};
    for (int i = 0; i < 4; ++i)
        QVERIFY2(log[i].endsWith(QStringLiteral(" >> [Counting] Selected Frames index : ") + expected[i]),
                 qPrintable(log[i]));
}

void TestRegisterPipeline::zeroShiftFrameWritesOverflowLine() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    // Frames 3, 6 and 9 do not move.
    QVERIFY(WriteFlow(FlowOf(10, {160, 160, 0}), flow));
    CMivoRegisterManager reg;
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QCOMPARE(reg.selectedFrames, Ints({0, 5, 9}));
    QCOMPARE(reg.accumulatedShift, 320);
    const QStringList log = cwd.LogLines();
    for (const char* number : {"4", "7", "10"})
        QCOMPARE(CountLines(log, QStringLiteral("[overflow] Img:%1 , Tx:0").arg(QLatin1String(number))), 1);
    QCOMPARE(log.filter(QStringLiteral("[overflow]")).size(), 3);
    QVERIFY(log.filter(QStringLiteral("[unreadable]")).isEmpty());
}

void TestRegisterPipeline::lastFrameSelectedInPhaseOneStandsTwice() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(9, {160}), flow));
    CMivoRegisterManager reg;
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QCOMPARE(reg.selectedFrames, Ints({0, 4, 8, 8}));
    QCOMPARE(reg.accumulatedShift, 0);
    // Frame 8 is counted whole once; its empty strip adds nothing.
    const std::vector<ParticleMeasure> direct = DirectCount(flow, 8, 3, -1);
    const auto ofLast = std::count_if(reg.foiParticles.begin(), reg.foiParticles.end(),
                                      [](const ParticleMeasure& r) { return r.frame == 8; });
    QVERIFY(!direct.empty());
    QCOMPARE(static_cast<size_t>(ofLast), direct.size());
}

void TestRegisterPipeline::singleFrameGoesStraightToTheLastStep() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(1, {160}), flow));
    CMivoRegisterManager reg;
    QSignalSpy status(&reg, &CMivoRegisterManager::signalMReg_showInStatusBar);
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QCOMPARE(reg.selectedFrames, Ints({0, 0}));
    QVERIFY(reg.foiParticles.empty());
    QVERIFY(status.isEmpty());
}

void TestRegisterPipeline::recordsEqualDirectCountsOfTheFramesOfInterest_data() {
    QTest::addColumn<int>("method");
    QTest::addColumn<std::vector<int>>("shifts");
    QTest::addColumn<std::vector<int>>("selected");
    // Frames 4 and 15 are selected exactly (counted one step later, when their next
    // frame is read), frame 10 as the frame before an overshoot; then a strip of 320.
    const std::vector<int> strip = {160, 160, 160, 160, 100, 100, 100, 100, 100, 100, 100,
                                    160, 160, 160, 160, 160, 160};
    // The same, but the last frame is selected exactly and counted whole.
    std::vector<int> whole = strip;
    whole.insert(whole.end(), {160, 160});
    for (int method : {1, 2, 3}) {
        QTest::addRow("method %d, strip", method) << method << strip << Ints({0, 4, 10, 15, 17});
        QTest::addRow("method %d, last whole", method) << method << whole << Ints({0, 4, 10, 15, 19, 19});
    }
}

// Frames of interest are counted while phase 1 still holds their neighbours; the
// records must be those of counting every frame of interest afresh from disk.
void TestRegisterPipeline::recordsEqualDirectCountsOfTheFramesOfInterest() {
    QFETCH(int, method);
    QFETCH(std::vector<int>, shifts);
    QFETCH(std::vector<int>, selected);
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    const int frames = static_cast<int>(shifts.size()) + 1;
    QVERIFY(WriteFlow(FlowOf(frames, shifts), flow));
    CMivoRegisterManager reg;
    reg.segmentationMethod = method;
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QCOMPARE(reg.selectedFrames, selected);

    std::vector<ParticleMeasure> expected;
    for (size_t p = 0; p + 1 < reg.selectedFrames.size(); ++p) {
        const std::vector<ParticleMeasure> records = DirectCount(flow, reg.selectedFrames[p], method, -1);
        expected.insert(expected.end(), records.begin(), records.end());
    }
    const std::vector<ParticleMeasure> strip = DirectCount(flow, frames - 1, method, reg.accumulatedShift);
    expected.insert(expected.end(), strip.begin(), strip.end());
    QVERIFY(expected.size() > 100);
    QCOMPARE(reg.foiParticles.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        QVERIFY2(SameRecord(reg.foiParticles[i], expected[i]), qPrintable(QString::number(i)));
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
    const Bounds b = GroundTruthBounds(flow, reg.selectedFrames, reg.accumulatedShift);
    const int counts[3] = {reg.countInRange, reg.countGreater, reg.countSmaller};
    for (int c = 0; c < 3; ++c) {
        QVERIFY2(b.lo[c] <= counts[c] && counts[c] <= b.hi[c],
                 qPrintable(QStringLiteral("class %1: %2 not in [%3, %4]").arg(c).arg(counts[c]).arg(b.lo[c]).arg(b.hi[c])));
    }
    // The tolerance stays small: under 5 % of the records per class.
    const int records = static_cast<int>(reg.foiParticles.size());
    for (int c = 0; c < 3; ++c) QVERIFY(b.hi[c] - b.lo[c] < records / 20);
    QVERIFY(b.recordsHi - b.recordsLo <= 3);
    QVERIFY2(b.recordsLo <= records && records <= b.recordsHi,
             qPrintable(QStringLiteral("%1 records not in [%2, %3]").arg(records).arg(b.recordsLo).arg(b.recordsHi)));
    QVERIFY(records > 200);
}

void TestRegisterPipeline::logLineFormat() {
    ScopedWorkingDir cwd;
    CMivoRegisterManager reg;
    const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}_\\d{2}_\\d{2}_\\d{2}\\.\\d{3}$"));
    const QString now = CMivoRegisterManager::CurrentTimestamp();
    QVERIFY2(stamp.match(now).hasMatch(), qPrintable(now));
    QVERIFY(now.startsWith(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd_"))));
    reg.AppendLogLine(QStringLiteral("[Counting] Selected Frames index : 7"));
    reg.AppendLogLine(QStringLiteral("second"));
    const QStringList log = cwd.LogLines();
    QCOMPARE(log.size(), 2);
    const QRegularExpression line(QStringLiteral(
        "^\\d{4}-\\d{2}-\\d{2}_\\d{2}_\\d{2}_\\d{2}\\.\\d{3} >> \\[Counting\\] Selected Frames index : 7$"));
    QVERIFY2(line.match(log[0]).hasMatch(), qPrintable(log[0]));
    QVERIFY(log[1].endsWith(QStringLiteral(" >> second")));
}

void TestRegisterPipeline::unreadableFrameIsLoggedAndReported() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(15, {160}), flow));
    QVERIFY(Spoil(flow.Path(6)));
    CMivoRegisterManager reg;
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QCOMPARE(reg.unreadableFrames, Ints({6}));
    QCOMPARE(reg.selectedFrames.front(), 0);
    QCOMPARE(reg.selectedFrames.back(), 14);
    for (const ParticleMeasure& r : reg.foiParticles) QVERIFY(r.frame != 6);
    const QStringList log = cwd.LogLines();
    QCOMPARE(CountLines(log, QStringLiteral("[unreadable] Img:7")), 1);
    QCOMPARE(CountLines(log, QStringLiteral("[overflow] Img:7 , Tx:0")), 1);
    QCOMPARE(log.filter(QStringLiteral("[unreadable]")).size(), 1);
}

void TestRegisterPipeline::unreadableFrameOfInterestIsReportedOnce() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(15, {160}), flow));
    // The last frame is always a frame of interest: measured in phase 1, counted in phase 3.
    QVERIFY(Spoil(flow.Path(14)));
    CMivoRegisterManager reg;
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QCOMPARE(reg.selectedFrames, Ints({0, 4, 8, 12, 14}));
    QCOMPARE(reg.accumulatedShift, 160);
    QCOMPARE(reg.unreadableFrames, Ints({14}));
    QCOMPARE(CountLines(cwd.LogLines(), QStringLiteral("[unreadable] Img:15")), 1);
    for (const ParticleMeasure& r : reg.foiParticles) QVERIFY(r.frame != 14);
}

void TestRegisterPipeline::unreadableFirstFrameStartsNoRun() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(8, {160}), flow));
    QVERIFY(Spoil(flow.Path(0)));
    CMivoRegisterManager reg;
    QSignalSpy status(&reg, &CMivoRegisterManager::signalMReg_showInStatusBar);
    QSignalSpy finished(&reg, &CMivoRegisterManager::signalMReg_finishCounting);
    QVERIFY(!StartRun(reg, flow.Folder(), flow.names));
    QVERIFY(!reg.timer->isActive());
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.first().first().toString(), QStringLiteral("[ERRO] Can not read image frame_0000.png"));
    QTest::qWait(50);
    QVERIFY(finished.isEmpty());
    QVERIFY(!reg.foiReady);
    QVERIFY(reg.selectedFrames.empty());
    QCOMPARE(reg.unreadableFrames, Ints({0}));
    QCOMPARE(CountLines(cwd.LogLines(), QStringLiteral("[unreadable] Img:1")), 1);
    // A stray tick does nothing either.
    reg.slot_createFullImage();
    QVERIFY(reg.selectedFrames.empty() && !reg.foiReady);
}

void TestRegisterPipeline::emptyStreamStartsNoRun() {
    ScopedWorkingDir cwd;
    CMivoRegisterManager reg;
    QSignalSpy status(&reg, &CMivoRegisterManager::signalMReg_showInStatusBar);
    QVERIFY(!StartRun(reg, cwd.Path(), {}));
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.first().first().toString(), QStringLiteral("[ERRO] No images were found"));
    reg.slot_createFullImage();
    QVERIFY(!reg.foiReady && reg.selectedFrames.empty() && reg.unreadableFrames.empty());
    // Nothing to show, count or export.
    QVERIFY(reg.ComposeFullImageWindow(0).isNull());
    QVERIFY(reg.ExportFramesOfInterest(cwd.Path()).isEmpty());
    QVERIFY(reg.CountFrame(0, 3).isNull());
    reg.CountFoIParticles();
    QCOMPARE(reg.countInRange + reg.countGreater + reg.countSmaller, 0);
    // A fresh register ticked without a run stays idle.
    CMivoRegisterManager fresh;
    fresh.slot_createFullImage();
    QVERIFY(!fresh.foiReady && fresh.selectedFrames.empty());
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
    QVERIFY(!reg.foiParticles.empty());
    QVERIFY(reg.BeginProcessing());
    QTRY_COMPARE(finished.count(), 2);
    reg.UpdateRangeFlags();
    reg.CountFoIParticles();
    QCOMPARE(reg.selectedFrames, reference.selectedFrames);
    QCOMPARE(reg.foiParticles.size(), reference.foiParticles.size());
    QCOMPARE(reg.countInRange, reference.countInRange);
}

void TestRegisterPipeline::resetDuringRunStopsIt() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(12, {160}), flow));
    CMivoRegisterManager reg;
    QSignalSpy finished(&reg, &CMivoRegisterManager::signalMReg_finishCounting);
    bool reset = false;
    BetweenSteps(reg, QStringLiteral("[Process]"), 3, [&] {
        reg.ResetRegister();
        reset = true;
    });
    QVERIFY(StartRun(reg, flow.Folder(), flow.names));
    QTRY_VERIFY(reset);
    QVERIFY(!reg.timer->isActive());
    QTest::qWait(100);
    QVERIFY(finished.isEmpty());
    QVERIFY(reg.selectedFrames.empty() && reg.foiParticles.empty() && !reg.foiReady);

    // Likewise a new sequence during a run.
    bool replaced = false;
    BetweenSteps(reg, QStringLiteral("[Process]"), 3, [&] {
        reg.StartSequence(flow.Folder());
        replaced = true;
    });
    QVERIFY(StartRun(reg, flow.Folder(), flow.names));
    QTRY_VERIFY(replaced);
    QVERIFY(!reg.timer->isActive());
    QTest::qWait(100);
    QVERIFY(finished.isEmpty());
    QCOMPARE(reg.stream->frameCount, 0);
}

void TestRegisterPipeline::runStartedFromTheFinishSignalCompletes() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(9, {160}), flow));
    CMivoRegisterManager reg;
    QSignalSpy finished(&reg, &CMivoRegisterManager::signalMReg_finishCounting);
    bool restarted = false;
    connect(&reg, &CMivoRegisterManager::signalMReg_finishCounting, this, [&] {
        if (restarted) return;
        restarted = true;
        QVERIFY(StartRun(reg, flow.Folder(), flow.names));
    });
    QVERIFY(StartRun(reg, flow.Folder(), flow.names));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 20000);
    QCOMPARE(reg.selectedFrames, Ints({0, 4, 8, 8}));
}

QTEST_GUILESS_MAIN(TestRegisterPipeline)
#include "tst_register_pipeline.moc"
