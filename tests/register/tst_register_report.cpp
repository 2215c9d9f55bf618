// Classes, counters, rendered frames, the full-image window, export and the particle
// table, on hand-made records and frames and on generated flows.

#include "register/particle_csv.h"
#include "register_test_support.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <limits>

Q_DECLARE_METATYPE(ParticleClass)
Q_DECLARE_METATYPE(cv::Scalar)

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

QImage AsImage(const cv::Mat& bgr) {
    return QImage(bgr.data, bgr.cols, bgr.rows, static_cast<qsizetype>(bgr.step), QImage::Format_RGB888).rgbSwapped();
}

// Columns [from, from + count) of `image` equal columns [at, at + count) of `other`
// (black when `other` is null).
bool SameColumns(const QImage& image, int from, const QImage& other, int at, int count) {
    for (int y = 0; y < image.height(); ++y)
        for (int c = 0; c < count; ++c)
            if (image.pixel(from + c, y) != (other.isNull() ? qRgb(0, 0, 0) : other.pixel(at + c, y))) return false;
    return true;
}

// A finished run over 15 frames shifting 160: frames of interest 0, 4, 8, 12, 14, and
// a last strip of 320 columns.
struct FinishedRun {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    CMivoRegisterManager reg;
    bool Run(int frames = 15) {
        return WriteFlow(FlowOf(frames, {160}), flow) && RunToEnd(reg, flow.Folder(), flow.names);
    }
    QImage Rendered(int index) { return AsImage(reg.RenderFoIFrame(index)); }
};

}  // namespace

class TestRegisterReport : public QObject {
    Q_OBJECT

private slots:
    void classification_data();
    void classification();
    void countersFollowTheClasses();
    void renderCirclesInClassColours();
    void countFrame();
    void fullImageWindow();
    void fullImageWindowClampsAndLeavesGapsBlack();
    void exportWritesPairsAndGreysTheLastFrame();
    void exportReportsEveryFileItCouldNotWrite();
    void particleCsv();
};

void TestRegisterReport::classification_data() {
    QTest::addColumn<bool>("inRange");
    QTest::addColumn<int>("area");
    QTest::addColumn<double>("circularity");
    QTest::addColumn<bool>("filter");
    QTest::addColumn<ParticleClass>("kind");
    QTest::addColumn<cv::Scalar>("colour");
    const cv::Scalar green(0, 255, 0), blue(255, 0, 0), red(0, 0, 255), purple(164, 75, 164), magenta(255, 0, 255);
    // Bounds 10 .. 900, threshold 0.5.
    QTest::newRow("in") << true << 50 << 0.1 << false << ParticleClass::Single << green;
    QTest::newRow("in, exactly 0.5") << true << 50 << 0.5 << true << ParticleClass::Single << green;
    QTest::newRow("in, fails") << true << 50 << 0.4 << true << ParticleClass::Filtered << blue;
    QTest::newRow("in, NaN fails") << true << 50 << kNaN << true << ParticleClass::Filtered << blue;
    QTest::newRow("in, NaN unfiltered") << true << 50 << kNaN << false << ParticleClass::Single << green;
    QTest::newRow("small") << false << 5 << 0.9 << false << ParticleClass::Smaller << red;
    QTest::newRow("big") << false << 901 << 0.9 << false << ParticleClass::Bigger << red;
    QTest::newRow("small, passes") << false << 5 << 0.9 << true << ParticleClass::Smaller << purple;
    QTest::newRow("big, passes") << false << 2000 << 0.5 << true << ParticleClass::Bigger << purple;
    QTest::newRow("out, fails") << false << 5 << 0.2 << true << ParticleClass::Filtered << magenta;
    QTest::newRow("stale flag") << false << 50 << 0.9 << false << ParticleClass::Uncounted << red;
}

void TestRegisterReport::classification() {
    QFETCH(bool, inRange);
    QFETCH(int, area);
    QFETCH(double, circularity);
    QFETCH(bool, filter);
    QFETCH(ParticleClass, kind);
    QFETCH(cv::Scalar, colour);
    ParticleClassRules rules;
    rules.circularityFilter = filter;
    const ParticleVerdict verdict = ClassifyParticle(Record(0, 0, 0, area, circularity, inRange), rules);
    QCOMPARE(verdict.kind, kind);
    QCOMPARE(verdict.colour, colour);
}

void TestRegisterReport::countersFollowTheClasses() {
    CMivoRegisterManager reg;
    reg.foiParticles = {Record(0, 1, 1, 5, 0.9, true),   Record(0, 2, 2, 50, 0.9, false),
                        Record(0, 3, 3, 50, 0.3, false), Record(1, 4, 4, 900, 0.9, false),
                        Record(1, 5, 5, 901, 0.9, true), Record(2, 6, 6, 10, kNaN, false)};
    auto counts = [&] { return std::vector<int>{reg.countInRange, reg.countGreater, reg.countSmaller}; };
    reg.UpdateRangeFlags();  // bounds 10 .. 900: the flags come from the areas
    reg.CountFoIParticles();
    QCOMPARE(counts(), std::vector<int>({4, 1, 1}));
    reg.CountFoIParticles();  // from zero again
    QCOMPARE(counts(), std::vector<int>({4, 1, 1}));
    reg.circularityFilter = true;  // 0.3 and NaN fail
    reg.CountFoIParticles();
    QCOMPARE(counts(), std::vector<int>({2, 1, 1}));
    reg.circularityFilter = false;
    reg.stream->minArea = 50;
    reg.stream->maxArea = 100;
    reg.UpdateRangeFlags();
    reg.CountFoIParticles();
    QCOMPARE(counts(), std::vector<int>({2, 2, 2}));

    // frameParticles keep their own flags: out of range but within the bounds counts nowhere.
    reg.frameParticles = {Record(3, 1, 1, 60, 0.9, false), Record(3, 2, 2, 5, 0.9, false),
                          Record(3, 3, 3, 60, 0.9, true)};
    reg.CountFrameParticles();
    QCOMPARE(counts(), std::vector<int>({1, 0, 1}));
}

void TestRegisterReport::renderCirclesInClassColours() {
    QTemporaryDir dir;
    CMivoRegisterManager reg;
    reg.StartSequence(dir.path());
    for (const char* name : {"a.png", "b.png"}) {
        cv::imwrite((dir.path() + QLatin1Char('/') + QLatin1String(name)).toStdString(),
                    cv::Mat(100, 200, CV_8UC1, cv::Scalar(200)));
        reg.stream->AddFrame(name);
    }
    reg.foiParticles = {Record(0, 40, 50, 50, 0.9, true), Record(0, 140, 50, 5, 0.9, false),
                        Record(1, 100, 50, 50, 0.9, true)};
    const cv::Mat bgr = reg.RenderFoIFrame(0);
    QCOMPARE(bgr.type(), CV_8UC3);
    // Radius 20, thickness 3: the circle passes through the centre +- 20.
    QCOMPARE(bgr.at<cv::Vec3b>(50, 60), cv::Vec3b(0, 255, 0));
    QCOMPARE(bgr.at<cv::Vec3b>(30, 40), cv::Vec3b(0, 255, 0));
    QCOMPARE(bgr.at<cv::Vec3b>(50, 120), cv::Vec3b(0, 0, 255));
    // Inside, and where frame 1's circle would be: the grey frame.
    QCOMPARE(bgr.at<cv::Vec3b>(50, 40), cv::Vec3b(200, 200, 200));
    QCOMPARE(bgr.at<cv::Vec3b>(50, 80), cv::Vec3b(200, 200, 200));
    // RenderCountedFrame draws frameParticles (none).
    QCOMPARE(cv::countNonZero(reg.RenderCountedFrame(0).reshape(1) != 200), 0);
    QVERIFY(Spoil((dir.path() + QStringLiteral("/b.png")).toStdString()));
    QVERIFY(reg.RenderFoIFrame(1).empty());
    QVERIFY(reg.RenderFoIFrame(2).empty());
}

void TestRegisterReport::countFrame() {
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(8, {160}), flow));
    CMivoRegisterManager reg;
    auto restart = [&] {
        reg.StartSequence(flow.Folder());
        reg.stream->minArea = 25;
        reg.stream->maxArea = 100;
        for (const QString& name : flow.names) reg.stream->AddFrame(name.toStdString());
    };
    restart();
    const QImage image = reg.CountFrame(3, 1);
    QCOMPARE(image.format(), QImage::Format_RGB888);
    QCOMPARE(image, AsImage(reg.RenderCountedFrame(3)));
    QVERIFY(reg.frameParticles.size() > 10);
    // Red circles (BGR 0, 0, 255) come out as RGB red.
    bool sawRed = false;
    for (const ParticleMeasure& r : reg.frameParticles) {
        QCOMPARE(r.frame, 3);
        if (!r.inRange && r.x + 20 < 640) sawRed = sawRed || image.pixel(r.x + 20, r.y) == qRgb(255, 0, 0);
    }
    QVERIFY(sawRed);

    // Without frame 0 the frame's own size stands in, and it is still counted.
    const size_t counted = reg.frameParticles.size();
    QVERIFY(Spoil(flow.Path(0)));
    restart();
    QVERIFY(!reg.CountFrame(3, 1).isNull());
    QCOMPARE(reg.frameParticles.size(), counted);
    QVERIFY(reg.CountFrame(0, 1).isNull());
    QVERIFY(reg.CountFrame(99, 1).isNull());
    QVERIFY(reg.frameParticles.empty());
}

void TestRegisterReport::fullImageWindow() {
    FinishedRun run;
    QVERIFY(run.Run());
    CMivoRegisterManager& reg = run.reg;
    QCOMPARE(reg.selectedFrames, std::vector<int>({0, 4, 8, 12, 14}));
    QCOMPARE(reg.ComposeFullImageWindow(0), run.Rendered(0));
    QCOMPARE(reg.ComposeFullImageWindow(640), run.Rendered(4));
    // Frame 0 slides out to the right, frame 4 comes in from the left.
    const QImage at160 = reg.ComposeFullImageWindow(160);
    QVERIFY(SameColumns(at160, 160, run.Rendered(0), 0, 480));
    QVERIFY(SameColumns(at160, 0, run.Rendered(4), 480, 160));
    // Into the last frame of interest: its columns start 12 + 320 further left.
    const QImage last = reg.ComposeFullImageWindow(3 * 640 + 100);
    QVERIFY(SameColumns(last, 100, run.Rendered(12), 0, 540));
    QVERIFY(SameColumns(last, 0, run.Rendered(14), 540 - 12 - 320, 100));
}

void TestRegisterReport::fullImageWindowClampsAndLeavesGapsBlack() {
    FinishedRun run;
    QVERIFY(run.Run());
    CMivoRegisterManager& reg = run.reg;
    QCOMPARE(reg.ComposeFullImageWindow(-50), reg.ComposeFullImageWindow(0));
    // The strip ends one column before the last frame of interest would stand alone.
    const QImage end = reg.ComposeFullImageWindow(4 * 640 - 1);
    QCOMPARE(reg.ComposeFullImageWindow(1 << 30), end);
    QVERIFY(SameColumns(end, 639, run.Rendered(12), 0, 1));
    QVERIFY(SameColumns(end, 0, run.Rendered(14), 0, 639));
    // A frame that cannot be read leaves its columns black.
    QVERIFY(Spoil(run.flow.Path(4)));
    const QImage gap = reg.ComposeFullImageWindow(160);
    QVERIFY(SameColumns(gap, 0, QImage(), 0, 160));
    QVERIFY(SameColumns(gap, 160, run.Rendered(0), 0, 480));
    // Fewer than two frames of interest: the one there is, or nothing.
    reg.selectedFrames = {0};
    QCOMPARE(reg.ComposeFullImageWindow(300), run.Rendered(0));
    reg.selectedFrames.clear();
    const QImage none = reg.ComposeFullImageWindow(300);
    QCOMPARE(none.size(), QSize(640, 480));
    QVERIFY(SameColumns(none, 0, QImage(), 0, 640));
}

void TestRegisterReport::exportWritesPairsAndGreysTheLastFrame() {
    FinishedRun run;
    QVERIFY(run.Run());
    CMivoRegisterManager& reg = run.reg;
    QTemporaryDir target;
    QVERIFY(reg.ExportFramesOfInterest(target.path()).isEmpty());
    // Export counts the whole last frame last: that count is now frameParticles.
    QVERIFY(!reg.frameParticles.empty());
    for (const ParticleMeasure& r : reg.frameParticles) QCOMPARE(r.frame, 14);

    QStringList expected;
    for (int f : {0, 4, 8, 12, 14})
        for (const char* kind : {"pos_", "res_"})
            expected << QStringLiteral("%1%2_frame_%3.png").arg(QLatin1String(kind)).arg(f).arg(f, 4, 10, QLatin1Char('0'));
    expected.sort();
    QCOMPARE(QDir(target.path()).entryList(QDir::Files, QDir::Name), expected);
    auto read = [&](const char* name) { return cv::imread(target.filePath(QLatin1String(name)).toStdString(), cv::IMREAD_UNCHANGED); };

    // pos_ is the frame as read, res_ the frame counted and circled.
    const cv::Mat frame4 = cv::imread(run.flow.Path(4), cv::IMREAD_GRAYSCALE);
    const cv::Mat pos4 = read("pos_4_frame_0004.png");
    QCOMPARE(pos4.type(), CV_8UC1);
    QCOMPARE(cv::norm(pos4, frame4, cv::NORM_INF), 0.0);
    QCOMPARE(QImage(target.filePath(QStringLiteral("res_4_frame_0004.png"))).convertToFormat(QImage::Format_RGB888),
             reg.CountFrame(4, reg.segmentationMethod));

    // The last frame: its new strip (320 columns, all rows but the last) outlined in
    // black; from column 320 on the frame as read, grey and without circles.
    const cv::Mat frame14 = cv::imread(run.flow.Path(14), cv::IMREAD_GRAYSCALE);
    const cv::Mat pos14 = read("pos_14_frame_0014.png");
    for (cv::Point p : {cv::Point(0, 100), cv::Point(319, 100), cv::Point(150, 0), cv::Point(150, 478)})
        QCOMPARE(int(pos14.at<uchar>(p)), 0);
    QCOMPARE(pos14.at<uchar>(479, 150), frame14.at<uchar>(479, 150));
    QCOMPARE(cv::norm(pos14.colRange(320, 640), frame14.colRange(320, 640), cv::NORM_INF), 0.0);
    cv::Mat res14 = read("res_14_frame_0014.png");
    QCOMPARE(res14.type(), CV_8UC3);
    cv::Mat greyRight;
    cv::cvtColor(frame14.colRange(320, 640), greyRight, cv::COLOR_GRAY2BGR);
    QCOMPARE(cv::norm(res14.colRange(320, 640), greyRight, cv::NORM_INF), 0.0);
    cv::Mat greyLeft;
    cv::cvtColor(frame14.colRange(0, 320), greyLeft, cv::COLOR_GRAY2BGR);
    QVERIFY(cv::norm(res14.colRange(0, 320), greyLeft, cv::NORM_INF) > 0.0);  // circles in the strip
}

void TestRegisterReport::exportReportsEveryFileItCouldNotWrite() {
    FinishedRun run;
    QVERIFY(run.Run(9));
    QCOMPARE(run.reg.selectedFrames, std::vector<int>({0, 4, 8, 8}));
    // A frame that cannot be read loses both of its files.
    QVERIFY(Spoil(run.flow.Path(4)));
    QTemporaryDir target;
    const QString missing = target.filePath(QStringLiteral("absent"));
    const QStringList all = run.reg.ExportFramesOfInterest(missing);
    QCOMPARE(all.size(), 8);
    QVERIFY(all.contains(missing + QStringLiteral("/pos_0_frame_0000.png")));
    // A folder in the way of one file.
    QVERIFY(QDir(target.path()).mkdir(QStringLiteral("res_0_frame_0000.png")));
    const QStringList failed = run.reg.ExportFramesOfInterest(target.path());
    QCOMPARE(failed, QStringList({target.filePath(QStringLiteral("res_0_frame_0000.png")),
                                  target.filePath(QStringLiteral("pos_4_frame_0004.png")),
                                  target.filePath(QStringLiteral("res_4_frame_0004.png"))}));
    QVERIFY(QFile::exists(target.filePath(QStringLiteral("res_8_frame_0008.png"))));
}

void TestRegisterReport::particleCsv() {
    CVideoStream stream;
    stream.AddFrame("plain.png");
    stream.AddFrame("with,comma \"and quote\".png");
    ParticleClassRules rules;
    rules.minArea = 25;
    rules.maxArea = 100;
    rules.circularityFilter = true;
    const std::vector<ParticleMeasure> records = {
        {0, 12, 34, 40, 0.75, 0.8125, true}, {1, 7, 8, 200, 0.5, 0.9, false}, {0, 1, 2, 20, 0.5, 0.9, false},
        {0, 3, 4, 60, 0.5, 0.25, true},      {1, 5, 6, 60, 0.5, kNaN, false},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("particles.csv"));
    QVERIFY(WriteParticleCsv(path, records, stream, rules, 1.5));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString quoted = QStringLiteral("\"with,comma \"\"and quote\"\".png\"");
    QCOMPARE(QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')),
             QStringList({QStringLiteral("frame,file,x,y,area_px,area_um2,ratio,circularity,class"),
                          QStringLiteral("0,plain.png,34,12,40,90,0.75,0.8125,single"),
                          QStringLiteral("1,%1,8,7,200,450,0.5,0.9,bigger").arg(quoted),
                          QStringLiteral("0,plain.png,2,1,20,45,0.5,0.9,smaller"),
                          QStringLiteral("0,plain.png,4,3,60,135,0.5,0.25,filtered"),
                          QStringLiteral("1,%1,6,5,60,135,0.5,nan,filtered").arg(quoted), QString()}));
    rules.circularityFilter = false;
    QVERIFY(ParticleCsvRow(records[4], stream, rules, 2.0).endsWith(QStringLiteral(",240,0.5,nan,uncounted")));
    QVERIFY(!WriteParticleCsv(dir.filePath(QStringLiteral("no/such/p.csv")), records, stream, rules, 1.5));
    QVERIFY(!WriteParticleCsv(dir.path(), records, stream, rules, 1.5));
}

QTEST_GUILESS_MAIN(TestRegisterReport)
#include "tst_register_report.moc"
