// A sequence counted in parts that share their end frames (tessel-count --frames): on the
// counting line the parts' records, and so their counts, add up exactly to the whole run's,
// on generated flows of several hundred frames split at varied places. The frames of
// interest refuse parts, and so does a range outside the sequence.

#include "register/run_engine.h"
#include "register/run_part.h"
#include "register_test_support.h"

#include <QtTest>

#include <tuple>

namespace {

struct PartsCase {
    flowgen::FlowSettings flow;
    std::vector<int> cuts;  // the parts' end frames, from 0 to the last frame
};

RunSettings LineSettings(const WrittenFlow& flow)
{
    RunSettings settings = Settings(flow.Folder(), flow.names, DefaultMethod(CountingMode::CountingLine));
    settings.mode = CountingMode::CountingLine;
    return settings;
}

// What decides a count, record by record: where and when it was counted, how large.
using Key = std::tuple<int, int, int, int>;
std::vector<Key> Keys(const std::vector<ParticleMeasure>& records)
{
    std::vector<Key> keys;
    for (const ParticleMeasure& r : records) keys.emplace_back(r.frame, r.y, r.x, r.area);
    std::sort(keys.begin(), keys.end());
    return keys;
}

}  // namespace

Q_DECLARE_METATYPE(PartsCase)

class TestParts : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(QDir::setCurrent(cwd.path())); }  // the runs' log goes there
    void partsAddUpToTheWhole_data();
    void partsAddUpToTheWhole();
    void partsThatCannotBeCounted();

private:
    QTemporaryDir cwd;
};

void TestParts::partsAddUpToTheWhole_data()
{
    QTest::addColumn<PartsCase>("in");
    const auto flow = [](int frames, std::vector<int> pattern, unsigned seed) {
        flowgen::FlowSettings settings;
        settings.width = 320;
        settings.height = 240;
        settings.frames = frames;
        settings.seed = seed;
        settings.shifts = flowgen::PatternShifts(frames, pattern);
        return settings;
    };
    PartsCase in{flow(300, {24, 31, 28}, 3), {0, 100, 200, 299}};
    QTest::newRow("rigid flow, three even parts") << in;
    in = {flow(360, {22, 35, 27, 30}, 8), {0, 1, 57, 150, 151, 152, 290, 359}};
    QTest::newRow("uneven parts, some of one motion") << in;
    in.flow.profile = flowgen::Profile::kParabolic;
    in.flow.wallShare = 0.5;
    in.flow.speedSpread = 0.1;
    in.cuts = {0, 120, 121, 240, 359};
    QTest::newRow("laminar profile, spread speeds") << in;
    in = {flow(300, {26, 33}, 5), {0, 150, 299}};
    in.flow.rightToLeft = true;
    QTest::newRow("leftward flow") << in;
}

void TestParts::partsAddUpToTheWhole()
{
    QFETCH(PartsCase, in);
    WrittenFlow flow;
    flow.flow = flowgen::GenerateFlow(in.flow);
    for (int t = 0; t < in.flow.frames; ++t)
        flow.names << QString::fromStdString(flowgen::FrameFileName(t, in.flow.frames, "png"));
    QVERIFY(flow.dir.isValid() && WritePngFlow(flow.flow, flow.Folder()));
    const RunSettings settings = LineSettings(flow);
    CRunEngine engine;
    const RunResult whole = engine.RunToEnd(settings);
    QCOMPARE(whole.end, RunEnd::Finished);
    QVERIFY(whole.countInRange + whole.countGreater + whole.countSmaller > 200);

    std::vector<ParticleMeasure> records;
    int inRange = 0, greater = 0, smaller = 0;
    for (size_t k = 1; k < in.cuts.size(); ++k) {
        RunSettings part = settings;
        part.partFirst = in.cuts[k - 1];
        part.partLast = in.cuts[k];
        const RunResult counted = engine.RunToEnd(part);
        QCOMPARE(counted.end, RunEnd::Finished);
        QCOMPARE(counted.frameCount, part.partLast - part.partFirst + 1);
        for (const ParticleMeasure& r : counted.records) {
            QVERIFY(r.frame <= part.partLast && (r.frame > part.partFirst || part.partFirst == 0));
            records.push_back(r);
        }
        inRange += counted.countInRange;
        greater += counted.countGreater;
        smaller += counted.countSmaller;
    }
    QCOMPARE(Keys(records), Keys(whole.records));
    QCOMPARE(std::make_tuple(inRange, greater, smaller),
             std::make_tuple(whole.countInRange, whole.countGreater, whole.countSmaller));
}

void TestParts::partsThatCannotBeCounted()
{
    WrittenFlow flow;
    QVERIFY(flow.Make(12, {100, 140, 120}));
    CRunEngine engine;
    const std::tuple<const char*, CountingMode, int, int> cases[] = {
        {"frames of interest", CountingMode::FramesOfInterest, 0, 5},
        {"past the last frame", CountingMode::CountingLine, 5, 12},
        {"first not below last", CountingMode::CountingLine, 5, 5},
    };
    for (const auto& [what, mode, first, last] : cases) {
        RunSettings settings = LineSettings(flow);
        settings.mode = mode;
        settings.partFirst = first;
        settings.partLast = last;
        const RunResult result = engine.RunToEnd(settings);
        QVERIFY2(result.end == RunEnd::NotStarted && result.error.startsWith("[ERRO] "), what);
        QCOMPARE(result.error, PartProblem(settings));
    }
}

QTEST_GUILESS_MAIN(TestParts)
#include "tst_parts.moc"
