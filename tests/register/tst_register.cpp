// The register's run on generated flows with known shifts and particles, under an event loop
// as the window drives it; its classes, counters, full-image window and export; the listing.

#include "register/foi_selection.h"
#include "register/frame_listing.h"
#include "register/run_numbers.h"
#include "register/run_pictures.h"
#include "register/velocity_profile.h"
#include "register_test_support.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <limits>
#include <memory>

namespace {

using Ints = std::vector<int>;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

ParticleMeasure Record(int frame, int x, int y, int area, double circularity, bool inRange)
{
    return ParticleMeasure{frame, y, x, area, 0.8, circularity, inRange};
}

// A particle loses no pixel in a frame-difference mask (it is far darker than either neighbouring
// frame), but a noise pixel beside it may join it (about 0.15 % of background pixels differ by 9
// grey levels from a neighbour; a particle has some 30 around it): its area plus 0 to kBand.
constexpr int kBand = 2;

int ClassOf(int area)
{
    return area < 25 ? 2 : area > 100 ? 1 : 0;
}

// Fewest and most records of each class (single, bigger, smaller) and in all that whole frames
// of interest may give. A record measures the component found from the centre of its window
// (centroid +- 25, clipped to the frame). Only when that centre is strictly nearer (chessboard)
// to the group than to any other and the window holds all of it is the area the group's;
// otherwise (a fragment at the frame edge, its clipped window centred elsewhere) the record
// may fall into any class. Components outside 10 .. 300 pixels are dropped.
std::array<std::pair<int, int>, 4> GroundTruth(const flowgen::Flow& flow, const Ints& frames)
{
    std::array<std::pair<int, int>, 4> bounds{};
    for (int t : frames) {
        const auto groups = flowgen::GroupsInFrame(flow, t);
        cv::Mat labels = cv::Mat::zeros(480, 640, CV_8UC1);  // group k drawn as k + 1 (some 50 groups)
        for (size_t k = 0; k < groups.size(); ++k)
            for (int id : groups[k].ids) {
                const flowgen::Particle& p = flow.particles[static_cast<size_t>(id)];
                flowgen::DrawStamp(labels, p.stamp, p.x0 + flow.offsets[static_cast<size_t>(t)], p.y,
                                   static_cast<int>(k) + 1);
            }
        for (int g = 1; g <= static_cast<int>(groups.size()); ++g) {
            const cv::Moments m = cv::moments(labels == g, true);
            const int area = static_cast<int>(m.m00);
            if (area < 10 - kBand || area > 300) continue;
            const cv::Point centroid(static_cast<int>(m.m10 / m.m00), static_cast<int>(m.m01 / m.m00));
            const cv::Mat window =
                labels(cv::Rect(centroid - cv::Point(25, 25), cv::Size(51, 51)) & cv::Rect(0, 0, 640, 480));
            cv::Mat toMine, toOther;
            cv::distanceTransform(window != g, toMine, cv::DIST_C, 3);
            cv::distanceTransform((window == 0) | (window == g), toOther, cv::DIST_C, 3);
            const cv::Point seed(window.cols / 2, window.rows / 2);
            const bool own = toMine.at<float>(seed) < toOther.at<float>(seed) && cv::countNonZero(window == g) == area;
            const bool sure = area >= 10 && area <= 300 - kBand;
            for (int c = 0; c < 3; ++c) bounds[c].second += !own || c == ClassOf(area) || c == ClassOf(area + kBand);
            if (sure && own && ClassOf(area) == ClassOf(area + kBand)) bounds[ClassOf(area)].first += 1;
            bounds[3].first += sure;
            bounds[3].second += 1;
        }
    }
    return bounds;
}

// What a run found, as one text: frames of interest, strip, counters, unreadable frames,
// unmeasured shifts and every record.
QString Fingerprint(const Ints& selected, int strip, const std::vector<ParticleMeasure>& records, const Ints& counts,
                    const Ints& unreadable, int unmeasured)
{
    QStringList parts;
    for (const Ints& list : {selected, Ints{strip}, counts, unreadable, Ints{unmeasured}})
        for (int value : list) parts << QString::number(value);
    for (const ParticleMeasure& r : records)
        parts << QString::asprintf("%d:%d,%d:%d:%.17g:%d", r.frame, r.x, r.y, r.area, r.ratio, int(r.inRange));
    return parts.join(' ');
}

QString Fingerprint(const RunResult& r)
{
    return Fingerprint(r.selectedFrames, r.accumulatedShift, r.records,
                       {r.countInRange, r.countGreater, r.countSmaller}, r.unreadableFrames, r.unmeasuredShifts);
}

}  // namespace

class TestRegister : public QObject {
    Q_OBJECT

private slots:
    // Each case in a working directory of its own: the register logs there.
    void init() { QVERIFY(QDir::setCurrent((cwd = std::make_unique<QTemporaryDir>())->path())); }
    void selectsFramesFromTheShiftSum_data();
    void selectsFramesFromTheShiftSum();
    void shiftsWiderThanTheFrame();
    void countsOfTheFramesOfInterest_data();
    void countsOfTheFramesOfInterest();
    void classification();
    void countersFollowTheClasses();
    void stripWindow();
    void exportPictures();
    void frameAlone();
    void frameListing();
    void cancelAndFrameDeleted_data();
    void cancelAndFrameDeleted();
    void countingLine_data();
    void countingLine();
    void velocityProfile();

private:
    std::unique_ptr<QTemporaryDir> cwd;
};

void TestRegister::selectsFramesFromTheShiftSum_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<Ints>("shifts");
    QTest::addColumn<Ints>("selected");
    QTest::addColumn<int>("strip");      // the last frame's new columns
    QTest::addColumn<Ints>("overflow");  // 1-based numbers of the frames without a usable shift
    // 4 x 160 reaches 640 exactly: the frame just measured is taken, the last one too.
    QTest::newRow("160 x 12") << 13 << Ints{160} << Ints{0, 4, 8, 12} << 0 << Ints{};
    // 7 x 100 overshoots by 60: frame 6 is taken and the sum restarts at the 100 that
    // frame 7 has moved past it (at 0, frame 13 would follow and 60 columns go unseen).
    QTest::newRow("100 x 20") << 21 << Ints{100} << Ints{0, 6, 12, 18, 20} << 200 << Ints{};
    // An overshoot under 12 columns takes the frame just measured, 12 the one before.
    QTest::newRow("overshoot 11") << 9 << Ints{160, 160, 160, 171} << Ints{0, 4, 8} << 0 << Ints{};
    QTest::newRow("overshoot 12") << 9 << Ints{160, 160, 160, 172} << Ints{0, 3, 6, 8} << 332 << Ints{};
    // Frames 3, 6 and 9 do not move: logged, nothing added.
    QTest::newRow("zero shifts") << 10 << Ints{160, 160, 0} << Ints{0, 5, 9} << 320 << Ints{4, 7, 10};
}

// The last frame closes the list, once.
void TestRegister::selectsFramesFromTheShiftSum()
{
    QFETCH(int, frames);
    QFETCH(Ints, shifts);
    QFETCH(Ints, selected);
    QFETCH(int, strip);
    QFETCH(Ints, overflow);
    WrittenFlow flow;
    QVERIFY(flow.Make(frames, shifts));
    const Run run(Settings(flow.Folder(), flow.names));
    QCOMPARE(run.result.selectedFrames, selected);
    QCOMPARE(run.result.accumulatedShift, strip);
    // Phase 1 logs the frames without a usable shift, phase 2 every frame of interest it counts.
    QStringList expected, logged;
    for (int n : overflow) expected << QStringLiteral("[overflow] Img:%1 , Tx:0").arg(n);
    for (size_t p = 0; p + !run.result.lastFrameCountedWhole < selected.size(); ++p)
        expected << QStringLiteral("[Counting] Selected Frames index : %1").arg(selected[p]);
    const QRegularExpression line(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d\\d_\\d\\d_\\d\\d\\.\\d{3} >> (.*)$"));
    for (const QString& text : ReadText("log_KOV.txt").split('\n', Qt::SkipEmptyParts))
        logged << line.match(text).captured(1);
    QCOMPARE(logged, expected);
}

// No pair of frames measures over 640, but the sum takes it: a jump of 700 takes the frames on both sides.
void TestRegister::shiftsWiderThanTheFrame()
{
    const FoiChoice jump = ChooseFrameOfInterest(200, 700, 640, 3);
    const FoiChoice next = ChooseFrameOfInterest(jump.accumulatedShift, 100, 640, 4);
    QCOMPARE(Ints({jump.selected, jump.accumulatedShift, next.selected, next.accumulatedShift}),
             Ints({2, 700, 3, 100}));
}

void TestRegister::countsOfTheFramesOfInterest_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<Ints>("shifts");
    QTest::addColumn<unsigned>("seed");
    QTest::addColumn<bool>("whole");  // the last frame counted whole, not as a strip
    // Frames 4 and 15 are selected exactly (counted one step later, when the frame after
    // them is read), frame 10 as the frame before an overshoot; then a strip of 320, or
    // the last frame selected exactly and counted whole.
    Ints strip = {160, 160, 160, 160, 100, 100, 100, 100, 100, 100, 100, 160, 160, 120, 100, 160, 160};
    Ints whole = strip;
    whole.insert(whole.end(), {160, 160});
    for (int method : {1, 2, 3}) {
        QTest::addRow("method %d, strip", method) << method << strip << 1u << false;
        QTest::addRow("method %d, last whole", method) << method << whole << 1u << true;
    }
    for (unsigned seed : {2u, 3u}) QTest::addRow("seed %u", seed) << 3 << Ints(28, 160) << seed << true;
}

// Every drive gives one result: run to its end decoded by the steps and decoded ahead,
// stepped, and stepped by the register's timer as in the window (begun again from its
// finish signal). Phase 1 counts frames of interest while the stream still holds their
// neighbours: the records are those of counting each afresh, stored in reverse. With
// Frame Diff and whole frames only, the counts agree with the generator's ground truth.
void TestRegister::countsOfTheFramesOfInterest()
{
    QFETCH(int, method);
    QFETCH(Ints, shifts);
    QFETCH(unsigned, seed);
    QFETCH(bool, whole);
    WrittenFlow flow;
    QVERIFY(flow.Make(static_cast<int>(shifts.size()) + 1, shifts, seed));
    const RunSettings settings = Settings(flow.Folder(), flow.names, method);
    CRunEngine engine;
    const QString serial = Fingerprint(engine.RunToEnd(Settings(flow.Folder(), flow.names, method, 0)));
    QCOMPARE(Fingerprint(engine.RunToEnd(settings)), serial);
    QVERIFY(engine.Start(settings));
    while (engine.Running()) engine.Step();
    QCOMPARE(Fingerprint(engine.Result()), serial);
    CMivoRegisterManager reg;
    int runs = 0;
    connect(&reg, &CMivoRegisterManager::signalMReg_finishCounting, this, [&] {
        if (++runs == 1) reg.BeginProcessing(RunSettings(reg.Settings()));
    });
    QVERIFY(reg.BeginProcessing(settings));
    QTRY_COMPARE_WITH_TIMEOUT(runs, 2, 60000);
    const RunResult& result = reg.Result();
    QCOMPARE(Fingerprint(result), serial);
    // Each frame of interest counted alone reads its frames afresh: the run's records are
    // those, each frame's stored in reverse; the last frame's are those of its new strip.
    std::vector<ParticleMeasure> expected;
    const Ints& selected = result.selectedFrames;
    CVideoStream frames;
    SetUpStream(frames, settings, &result);
    for (size_t p = 0; p < selected.size(); ++p) {
        RunSettings alone = settings;
        alone.onlyFrame = selected[p];
        const bool last = p + 1 == selected.size() && !result.lastFrameCountedWhole;
        const auto records =
            last ? frames.CountParticlesInNewRegion(result.accumulatedShift, method) : engine.RunToEnd(alone).records;
        expected.insert(expected.end(), records.rbegin(), records.rend());
    }
    const int records = static_cast<int>(result.records.size());
    QVERIFY(records > 100);
    QCOMPARE(Fingerprint({}, 0, result.records, {}, {}, 0), Fingerprint({}, 0, expected, {}, {}, 0));
    QCOMPARE(result.lastFrameCountedWhole, whole);
    const auto bounds = GroundTruth(flow.flow, selected);
    const int counts[4] = {result.countInRange, result.countGreater, result.countSmaller, records};
    for (size_t c = 0; c < 4 && method == 3 && whole; ++c) {
        const auto [lo, hi] = bounds[c];
        QVERIFY2(lo <= counts[c] && counts[c] <= hi,
                 qPrintable(QStringLiteral("%1 not in [%2, %3]").arg(counts[c]).arg(lo).arg(hi)));
        QVERIFY(hi - lo < records / 20);  // the tolerance stays under 5 % of the records
    }
}

void TestRegister::classification()
{
    const cv::Scalar green(0, 255, 0), blue(255, 0, 0), red(0, 0, 255), purple(164, 75, 164), magenta(255, 0, 255);
    // In range, area, circularity, filter on (bounds 25 .. 100, threshold 0.5): class, colour.
    const struct {
        bool inRange;
        int area;
        double circularity;
        bool filter;
        const char* kind;
        cv::Scalar colour;
    } rows[] = {
        {true, 50, 0.1, false, "single", green},    {true, 50, 0.5, true, "single", green},
        {true, 50, 0.4, true, "filtered", blue},    {true, 50, kNaN, true, "filtered", blue},
        {true, 50, kNaN, false, "single", green},   {false, 5, 0.9, false, "smaller", red},
        {false, 901, 0.9, false, "bigger", red},    {false, 5, 0.9, true, "smaller", purple},
        {false, 2000, 0.5, true, "bigger", purple}, {false, 5, 0.2, true, "filtered", magenta},
        {false, 50, 0.9, false, "uncounted", red},  // a stale flag: out of range within the bounds
    };
    for (const auto& row : rows) {
        ParticleClassRules rules;
        rules.circularityFilter = row.filter;
        const ParticleVerdict verdict =
            ClassifyParticle(Record(0, 0, 0, row.area, row.circularity, row.inRange), rules);
        QCOMPARE(ParticleClassName(verdict.kind), row.kind);
        QCOMPARE(verdict.colour, row.colour);
    }
}

void TestRegister::countersFollowTheClasses()
{
    RunSettings settings;
    settings.minArea = 10;
    settings.maxArea = 900;
    RunResult result;
    result.records = {Record(0, 1, 1, 5, 0.9, true),   Record(0, 2, 2, 50, 0.9, false),
                      Record(0, 3, 3, 50, 0.3, false), Record(1, 4, 4, 900, 0.9, false),
                      Record(1, 5, 5, 901, 0.9, true), Record(2, 6, 6, 10, kNaN, false)};
    auto counts = [&] { return Ints{result.countInRange, result.countGreater, result.countSmaller}; };
    Recount(settings, result);  // the flags come from the areas, bounds included
    Recount(settings, result);  // from 0 again
    QCOMPARE(counts(), Ints({4, 1, 1}));
    settings.circularityFilter = true;  // 0.3 and NaN fail
    Recount(settings, result);
    QCOMPARE(counts(), Ints({2, 1, 1}));
    // Records keep their own flags until recounted: out of range but within the bounds counts nowhere.
    const ParticleCounts stale = CountParticleClasses(
        {Record(3, 1, 1, 60, 0.9, false), Record(3, 2, 2, 5, 0.9, false), Record(3, 3, 3, 60, 0.9, true)},
        ClassRules(settings));
    QCOMPARE(Ints({stale.inRange, stale.greater, stale.smaller}), Ints({1, 0, 1}));
}

namespace {

// 15 frames shifting 160: frames of interest 0, 4, 8, 12, 14, a last strip of 320 columns.
struct FifteenFrames {
    WrittenFlow flow;
    std::unique_ptr<Run> run;
    bool Make()
    {
        if (!flow.Make(15, {160})) return false;
        run = std::make_unique<Run>(Settings(flow.Folder(), flow.names));
        return run->Finished();
    }
    QImage Frame(int t) const
    {
        return QImage(flow.Folder() + '/' + flow.names[t]).convertToFormat(QImage::Format_RGB888);
    }
};

QImage Rendered(const Run& run, int index)
{
    const cv::Mat bgr = RenderRunFrame(run.frames, run.settings, run.result, index);
    return QImage(bgr.data, bgr.cols, bgr.rows, static_cast<qsizetype>(bgr.step), QImage::Format_RGB888).rgbSwapped();
}

// Seams, the counting line and circles are in colour.
bool IsGrey(QRgb pixel)
{
    return qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel);
}

QImage Window(const Run& run, int offset)
{
    return ComposeStripWindow(run.frames, run.settings, run.result, offset);
}

}  // namespace

// The strip of the frames of interest, the window onto it at an offset, its last offset.
void TestRegister::stripWindow()
{
    FifteenFrames fifteen;
    QVERIFY(fifteen.Make());
    Run& run = *fifteen.run;
    // Below the frame numbers, the frames as rendered; a faint cyan seam where two meet.
    constexpr int top = kStripLabelRows, rows = 480 - kStripLabelRows;
    QVERIFY(Window(run, 0) != Rendered(run, 0) && Window(run, -50) == Window(run, 0));
    QCOMPARE(Window(run, 0).copy(0, top, 640, rows), Rendered(run, 0).copy(0, top, 640, rows));
    QCOMPARE(Window(run, 1 << 30), Window(run, 4 * 640 - 1));
    QCOMPARE(StripLastOffset(run.settings, run.result, 640), 4 * 640 + 320 - 640);  // 5 frames, the last a strip
    // Into the last frame of interest: its columns start 12 + 320 further left.
    const QImage last = Window(run, 3 * 640 + 100);
    QCOMPARE(last.copy(101, top, 539, rows), Rendered(run, 12).copy(1, top, 539, rows));
    QCOMPARE(last.copy(0, top, 100, rows), Rendered(run, 14).copy(540 - 12 - 320, top, 100, rows));
    for (int y = top; y < 480; ++y)
        QVERIFY(!IsGrey(last.pixel(100, y)));
    // Where the window is: the frames (1-based) and how far along the strip.
    QCOMPARE(StripPositionText(run.settings, run.result, -50), "frame 1, 0 % of the run");
    QCOMPARE(StripPositionText(run.settings, run.result, 3 * 640 + 100), "frames 13 and 15, 90 % of the run");
    // Frames 0 .. 12: phase 1 takes the last frame, shown whole at the strip's end.
    const Run whole(Settings(fifteen.flow.Folder(), fifteen.flow.names.mid(0, 13)));
    QCOMPARE(Window(whole, 1 << 30).copy(0, top, 640, rows), Rendered(whole, 12).copy(0, top, 640, rows));
    // Circles of radius 20 in the class colour, only of the frame's own records.
    RunResult two = run.result;
    two.records = {Record(8, 100, 100, 50, 0.9, true), Record(0, 300, 100, 50, 0.9, true)};
    const cv::Mat circled = RenderRunFrame(run.frames, run.settings, two, 8);
    const uchar grey = static_cast<uchar>(qGray(fifteen.Frame(8).pixel(320, 100)));
    QVERIFY(circled.at<cv::Vec3b>(100, 120) == cv::Vec3b(0, 255, 0) &&
            circled.at<cv::Vec3b>(100, 320) == cv::Vec3b(grey, grey, grey));
    // A frame that cannot be read: black in the window.
    QVERIFY(Spoil(fifteen.flow.Path(4)));
    QImage black(640, rows, QImage::Format_RGB888);
    black.fill(Qt::black);
    QCOMPARE(Window(run, 640).copy(0, top, 640, rows), black);
}

// pos_ is the frame as read, res_ the frame with the particles counted in it circled.
void TestRegister::exportPictures()
{
    FifteenFrames fifteen;
    QVERIFY(fifteen.Make());
    const Run& run = *fifteen.run;
    QTemporaryDir target;
    QVERIFY(ExportRunPictures(run.settings, run.result, target.path()).isEmpty());
    QCOMPARE(
        QDir(target.path()).entryList(QDir::Files, QDir::Name),
        QStringList({"pos_0_frame_0000.png", "pos_12_frame_0012.png", "pos_14_frame_0014.png", "pos_4_frame_0004.png",
                     "pos_8_frame_0008.png", "res_0_frame_0000.png", "res_12_frame_0012.png", "res_14_frame_0014.png",
                     "res_4_frame_0004.png", "res_8_frame_0008.png"}));
    auto image = [&](const QString& name) {
        return QImage(target.filePath(name)).convertToFormat(QImage::Format_RGB888);
    };
    QCOMPARE(image("pos_4_frame_0004.png"), fifteen.Frame(4));
    // The last frame's strip (all rows but the last) outlined, circles in it only: every
    // coloured pixel within reach of a record counted in the strip (radius 20, 3 wide, smoothed),
    // every such record circled.
    const QImage pos14 = image("pos_14_frame_0014.png"), res14 = image("res_14_frame_0014.png"),
                 right = fifteen.Frame(14).copy(320, 0, 320, 480);
    QVERIFY(pos14.pixel(0, 100) == qRgb(0, 0, 0) && pos14.pixel(319, 100) == qRgb(0, 0, 0) &&
            pos14.pixel(150, 478) == qRgb(0, 0, 0));
    QVERIFY(pos14.copy(320, 0, 320, 480) == right && res14.copy(320, 0, 320, 480) == right);
    std::vector<cv::Point> strip;
    for (const ParticleMeasure& r : run.result.records)
        if (r.frame == 14) strip.emplace_back(r.x, r.y);
    QVERIFY(strip.size() > 5);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 320; ++x) {
            const QRgb pixel = res14.pixel(x, y);
            if (qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel)) continue;
            QVERIFY2(std::any_of(strip.begin(), strip.end(),
                                 [x, y](cv::Point c) { return std::hypot(c.x - x, c.y - y) < 25; }),
                     qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
        }
    for (const cv::Point& c : strip) {
        const QRgb ring = res14.pixel(std::min(c.x + 20, 319), c.y);
        QVERIFY(c.x + 20 > 319 || qRed(ring) != qGreen(ring) || qGreen(ring) != qBlue(ring));
    }
    // Frames 0 .. 12: phase 1 takes the last frame, exported with all its circles.
    const Run whole(Settings(fifteen.flow.Folder(), fifteen.flow.names.mid(0, 13)));
    QTemporaryDir wholeTarget;
    QVERIFY(whole.Finished() && ExportRunPictures(whole.settings, whole.result, wholeTarget.path()).isEmpty());
    QVERIFY(QImage(wholeTarget.filePath("res_12_frame_0012.png"))
                .convertToFormat(QImage::Format_RGB888)
                .copy(320, 0, 320, 480) != fifteen.Frame(12).copy(320, 0, 320, 480));
    // A frame that cannot be read, a folder in the way: those files missing, named.
    QVERIFY(Spoil(fifteen.flow.Path(4)));
    const QString more = target.filePath("more");
    QVERIFY(QDir().mkpath(more + "/res_0_frame_0000.png"));
    QCOMPARE(
        ExportRunPictures(run.settings, run.result, more),
        QStringList({more + "/res_0_frame_0000.png", more + "/pos_4_frame_0004.png", more + "/res_4_frame_0004.png"}));
}

// "Count Current": one frame, counted whole by the engine, as the stream counts it; without
// frame 0, at its own size.
void TestRegister::frameAlone()
{
    WrittenFlow flow;
    QVERIFY(flow.Make(15, {160}));
    RunSettings alone = Settings(flow.Folder(), flow.names);
    alone.onlyFrame = 8;
    CRunEngine engine;
    const RunResult counted = engine.RunToEnd(alone);
    CVideoStream stream;
    SetUpStream(stream, alone);
    QVERIFY(stream.PrepareFirstFrame());
    QCOMPARE(Fingerprint({}, 0, counted.records, {}, {}, 0),
             Fingerprint({}, 0, stream.CountParticles(8, alone.method), {}, {}, 0));
    QVERIFY(counted.records.size() > 5 && counted.selectedFrames == Ints{8} && Spoil(flow.Path(0)));
    const RunResult withoutFrame0 = engine.RunToEnd(alone);
    QVERIFY(withoutFrame0.end == RunEnd::Finished && withoutFrame0.records.size() == counted.records.size());
    QVERIFY(Spoil(flow.Path(8)));
    QCOMPARE(engine.RunToEnd(alone).end, RunEnd::NotStarted);  // neither frame 0 nor the frame itself
}

void TestRegister::cancelAndFrameDeleted_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("decoded by the steps") << 0;
    QTest::newRow("decoded ahead") << 2;
}

// Cancelled after the third step: frame 0 alone chosen (3 x 160 < 640). A frame deleted after
// the second step, ahead of what is decoded, is left out.
void TestRegister::cancelAndFrameDeleted()
{
    QFETCH(int, threads);
    WrittenFlow flow;
    QVERIFY(flow.Make(20, {160}));
    CRunEngine engine;
    std::atomic<bool> cancel{false};
    int steps = 0;
    const RunResult cancelled = engine.RunToEnd(
        Settings(flow.Folder(), flow.names, 3, threads), [&](const StepReport&) { cancel = ++steps == 3; }, &cancel);
    QCOMPARE(cancelled.end, RunEnd::Cancelled);
    QCOMPARE(cancelled.selectedFrames, Ints{0});
    QCOMPARE(steps, 3);
    const RunResult deleted = engine.RunToEnd(Settings(flow.Folder(), flow.names, 3, threads), [&](const StepReport&) {
        if (engine.Cursor() == 2) QFile::remove(QString::fromStdString(flow.Path(15)));
    });
    QCOMPARE(deleted.end, RunEnd::Finished);
    QCOMPARE(deleted.unreadableFrames, Ints{15});
}

void TestRegister::countingLine_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("leftward");
    QTest::addColumn<bool>("down");
    QTest::newRow("Background") << 4 << false << false;
    QTest::newRow("Background, right to left") << 4 << true << false;
    QTest::newRow("Frame Diff, in the step") << 3 << false << false;
    QTest::newRow("Background, top to bottom") << 4 << false << true;
}

// The counting line: every drive gives one result. Its mosaic lays the flow out once: as
// wide as a frame plus the flow's travel, and the window at the offset the flow had
// reached in frame t shows frame t (noise, circles and frame numbers aside; a band one
// column off would show particle edges), with its counting line where frame t has it; a flow down is shown turned a quarter counter-clockwise, so that it runs to the
// right. The export writes the frames that counted.
void TestRegister::countingLine()
{
    QFETCH(int, method);
    QFETCH(bool, leftward);
    QFETCH(bool, down);
    WrittenFlow flow;
    QVERIFY(flow.Make(14, {100, 140, 120}, 5));
    if (down) {
        flowgen::FlowSettings vertical = flow.flow.settings;
        vertical.direction = flowgen::Direction::kDown;
        flow.flow = flowgen::GenerateFlow(vertical);
        QVERIFY(WritePngFlow(flow.flow, flow.Folder()));
    }
    QStringList names = flow.names;
    if (leftward) std::reverse(names.begin(), names.end());
    RunSettings settings = Settings(flow.Folder(), names, method);
    settings.mode = CountingMode::CountingLine;
    CRunEngine engine;
    settings.decodeThreads = 0;
    const QString serial = Fingerprint(engine.RunToEnd(settings));
    settings.decodeThreads = 2;
    QCOMPARE(Fingerprint(engine.RunToEnd(settings)), serial);
    CMivoRegisterManager reg;
    QSignalSpy finished(&reg, &CMivoRegisterManager::signalMReg_finishCounting);
    QVERIFY(reg.BeginProcessing(settings));
    QVERIFY(finished.wait(60000));
    const RunResult& result = reg.Result();
    QCOMPARE(Fingerprint(result), serial);
    QVERIFY(result.records.size() > 100);

    const int travel = flow.flow.offsets.back();
    QCOMPARE(result.flowDirection, down ? FlowDirection::kTopToBottom : leftward ? FlowDirection::kRightToLeft
                                                                             : FlowDirection::kLeftToRight);
    QCOMPARE(StripLastOffset(settings, result, 640), travel);
    CVideoStream frames;
    SetUpStream(frames, settings, &result);
    for (int t : {0, 6, 13}) {
        const QImage window = ComposeStripWindow(frames, settings, result,
                                                 leftward ? travel - flow.flow.offsets[t] : flow.flow.offsets[t]);
        const QImage frame = QImage(QString::fromStdString(flow.Path(t))).convertToFormat(QImage::Format_Grayscale8);
        int grey = 0, apart = 0;
        QCOMPARE(window.size(), down ? QSize(480, 640) : QSize(640, 480));
        // The line's cyan; a seam's tint between its dashes, but in the flow's last band, which
        // holds the line and what was not yet at it.
        const bool lastBand = t == (leftward ? 0 : 13);
        int dashes = 0;
        for (int y = kStripLabelRows; y < window.height(); ++y) {
            const QRgb pixel = window.pixel(window.width() / 2, y);
            dashes += pixel == qRgb(0, 255, 255);
            QVERIFY(lastBand || !IsGrey(pixel));
        }
        QVERIFY2(dashes > window.height() / 3, qPrintable(QString::number(dashes)));
        for (int y = kStripLabelRows; y < window.height(); ++y)
            for (int x = 0; x < window.width(); ++x) {
                const QRgb pixel = window.pixel(x, y);
                if (qRed(pixel) != qGreen(pixel) || qGreen(pixel) != qBlue(pixel)) continue;  // a circle
                ++grey;
                const QPoint at = down ? QPoint(639 - y, x) : QPoint(x, y);
                apart += std::abs(qRed(pixel) - qGray(frame.pixel(at))) > 30;
            }
        QVERIFY2(grey > 200000 && apart < grey / 2000, qPrintable(QStringLiteral("%1 of %2").arg(apart).arg(grey)));
    }
    QVERIFY(StripPositionText(settings, result, -1).startsWith("frames 1 to "));
    QVERIFY(StripPositionText(settings, result, -1).endsWith(", 0 % of the run"));
    QVERIFY(StripPositionText(settings, result, travel).endsWith(" to 14, 100 % of the run"));
    QTemporaryDir target;
    QVERIFY(ExportRunPictures(settings, result, target.path()).isEmpty());
    QCOMPARE(QDir(target.path()).entryList(QDir::Files).size(), 2 * static_cast<int>(result.selectedFrames.size()));
    // Each res_ picture shows the counting line across the flow: cyan dashes along the middle
    // column (the middle row for a flow down), nowhere else.
    for (const QString& name : QDir(target.path()).entryList({"res_*"}, QDir::Files)) {
        const QImage res(target.filePath(name));
        const auto cyan = [&res, down](int line) {
            int count = 0;
            for (int i = 0; i < (down ? res.width() : res.height()); ++i)
                count += (down ? res.pixel(i, line) : res.pixel(line, i)) == qRgb(0, 255, 255);
            return count;
        };
        const int middle = down ? res.height() / 2 : res.width() / 2, across = down ? res.width() : res.height();
        QVERIFY2(cyan(middle) >= across / 2 - 8 && cyan(middle - 1) == 0 && cyan(middle + 1) == 0, qPrintable(name));
    }
}

// Frame files of differing name, age and size, beside what is no frame: other types, a
// sub-folder named like an image. A link to a frame is listed with its target's time and
// size, a tie broken by name in both directions.
void TestRegister::frameListing()
{
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    const struct {
        const char* name;
        int bytes;
        int minutesOld;
    } files[] = {{"a.PNG", 300, 10}, {"B.jpeg", 100, 40}, {"b.Jpg", 1000, 0}, {"c10.tif", 10, 25}, {"c9.TIFF", 50, 30},
                 {"d.bmp", 500, 5},  {"x.txt", 20, 0},    {"y.gif", 20, 0},   {"z.png.bak", 20, 0}};
    for (const auto& f : files) {
        QFile file(dir.filePath(f.name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(f.bytes, 'x')) == f.bytes && file.flush());
        QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-60 * f.minutesOld),
                                 QFileDevice::FileModificationTime));
    }
    QVERIFY(dir.mkdir("s.png") && QFile::link(dir.filePath("a.PNG"), dir.filePath("l.png")));
    // Names ascend case-sensitively, digit by digit; times oldest first, sizes smallest first.
    // An unknown key sorts by name, an unknown order ascends.
    std::vector<std::pair<const char*, QStringList>> orders = {
        {"byName", {"B.jpeg", "a.PNG", "b.Jpg", "c10.tif", "c9.TIFF", "d.bmp", "l.png"}},
        {"byTime", {"B.jpeg", "c9.TIFF", "c10.tif", "a.PNG", "l.png", "d.bmp", "b.Jpg"}},
        {"bySize", {"c10.tif", "c9.TIFF", "B.jpeg", "a.PNG", "l.png", "d.bmp", "b.Jpg"}}};
    orders.emplace_back("byColour", orders[0].second);
    for (auto [key, names] : orders) {
        for (const char* order : {"orderAscendant", "sideways"})
            QCOMPARE(ListFrameFiles(tmp.path(), FrameSortFlags(key, order)), names);
        std::reverse(names.begin(), names.end());
        if (names.indexOf("a.PNG") == names.indexOf("l.png") + 1)  // the tie
            names.swapItemsAt(names.indexOf("a.PNG"), names.indexOf("l.png"));
        QCOMPARE(ListFrameFiles(tmp.path(), FrameSortFlags(key, "orderDescendant")), names);
    }
    QVERIFY(ListFrameFiles(dir.filePath("absent"), QDir::Name).isEmpty());
}

// The bands lie across the flow: rows for a flow across the frame, columns for one up or
// down; a record not followed counts in its band but not in its speed, whose sign is the
// flow's.
void TestRegister::velocityProfile()
{
    RunResult result;
    result.frameWidth = 200;
    result.frameHeight = 100;
    const auto record = [](int x, int y, double vx, double vy) {
        ParticleMeasure r{};
        r.x = x, r.y = y, r.vx = vx, r.vy = vy;
        return r;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    result.records = {record(5, 5, 10, 0), record(150, 8, 14, 1), record(40, 99, -3, 0), record(60, 95, nan, nan)};
    result.flowDirection = FlowDirection::kLeftToRight;
    std::vector<VelocityBand> bands = RunVelocityProfile(result);
    QCOMPARE(bands.size(), size_t(kVelocityBands));
    QCOMPARE(bands[0].count, 2);
    QCOMPARE(bands[0].meanSpeedPx, 12.0);
    QCOMPARE(bands[9].count, 2);
    QCOMPARE(bands[9].followed, 1);
    QCOMPARE(bands[9].meanSpeedPx, 3.0);
    result.flowDirection = FlowDirection::kBottomToTop;
    bands = RunVelocityProfile(result);
    QCOMPARE(bands[0].count, 1);  // column 5 of 200
    QCOMPARE(bands[0].meanSpeedPx, 0.0);
    QCOMPARE(bands[7].count, 1);  // column 150
    QCOMPARE(bands[7].meanSpeedPx, 1.0);
    RunSettings settings;
    settings.pixelSize = 2.0;
    settings.frameRate = 10.0;
    const QString json = VelocityProfileJson(settings, result);
    QVERIFY(json.startsWith(
        "[{\"count\":1,\"mean_speed_px\":0,\"mean_speed_um\":0,\"mean_speed_um_s\":0,\"followed\":1},"
        "{\"count\":0,\"mean_speed_px\":null,"));
    const QStringList rows = VelocityProfileCsv(settings, result).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 11);
    QCOMPARE(rows[8], "8,0.7,0.8,1,1,2,20");
    QCOMPARE(rows[2], "2,0.1,0.2,0,,,");
}

QTEST_GUILESS_MAIN(TestRegister)
#include "tst_register.moc"
