// Classes, counters, rendered frames, the full-image window, export and the particle
// table, on hand-made records and frames and on generated flows.

#include "register/particle_csv.h"
#include "register_test_support.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(ParticleClass)

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A 200 x 100 frame, flat grey 200, written as `name` into `dir`.
QString WriteBlank(const QTemporaryDir& dir, const QString& name) {
    cv::imwrite((dir.path() + QLatin1Char('/') + name).toStdString(), cv::Mat(100, 200, CV_8UC1, cv::Scalar(200)));
    return name;
}

QImage AsImage(const cv::Mat& bgr) {
    const QImage view(bgr.data, bgr.cols, bgr.rows, static_cast<qsizetype>(bgr.step), QImage::Format_RGB888);
    return view.rgbSwapped();
}

// Columns [from, from + count) of `image` equal columns [at, at + count) of `other`.
bool SameColumns(const QImage& image, int from, const QImage& other, int at, int count) {
    for (int y = 0; y < image.height(); ++y)
        for (int c = 0; c < count; ++c)
            if (image.pixel(from + c, y) != other.pixel(at + c, y)) return false;
    return true;
}

bool BlackColumns(const QImage& image, int from, int count) {
    for (int y = 0; y < image.height(); ++y)
        for (int c = 0; c < count; ++c)
            if (image.pixel(from + c, y) != qRgb(0, 0, 0)) return false;
    return true;
}

QStringList Files(const QString& folder) {
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

}  // namespace

class TestRegisterReport : public QObject {
    Q_OBJECT

private slots:
    void classification_data();
    void classification();
    void countersStartFromZeroAndFollowTheBounds();
    void frameCountKeepsItsOwnRangeFlags();
    void renderCirclesTheFramesRecordsInClassColour();
    void countFrameGivesSwappedChannelsAndItsRecords();
    void countFrameWithoutFrameZeroStillCounts();

    void fullImageWindow();
    void fullImageWindowClampsAndLeavesGapsBlack();

    void exportWritesPairsAndGreysTheLastFrame();
    void exportReportsEveryFileItCouldNotWrite();

    void csvRowsAndQuoting();
    void csvWriteFailsOnBadPath();
};

void TestRegisterReport::classification_data() {
    QTest::addColumn<bool>("inRange");
    QTest::addColumn<int>("area");
    QTest::addColumn<double>("circularity");
    QTest::addColumn<bool>("filter");
    QTest::addColumn<ParticleClass>("kind");
    QTest::addColumn<int>("blue");
    QTest::addColumn<int>("green");
    QTest::addColumn<int>("red");
    // Bounds 10 .. 900, threshold 0.5.
    QTest::newRow("in, no filter") << true << 50 << 0.1 << false << ParticleClass::Single << 0 << 255 << 0;
    QTest::newRow("in, passes") << true << 50 << 0.6 << true << ParticleClass::Single << 0 << 255 << 0;
    QTest::newRow("in, exactly 0.5") << true << 50 << 0.5 << true << ParticleClass::Single << 0 << 255 << 0;
    QTest::newRow("in, fails") << true << 50 << 0.4 << true << ParticleClass::Filtered << 255 << 0 << 0;
    QTest::newRow("in, NaN fails") << true << 50 << kNaN << true << ParticleClass::Filtered << 255 << 0 << 0;
    QTest::newRow("in, NaN unfiltered") << true << 50 << kNaN << false << ParticleClass::Single << 0 << 255 << 0;
    QTest::newRow("small, no filter") << false << 5 << 0.9 << false << ParticleClass::Smaller << 0 << 0 << 255;
    QTest::newRow("big, no filter") << false << 901 << 0.9 << false << ParticleClass::Bigger << 0 << 0 << 255;
    QTest::newRow("small, passes") << false << 5 << 0.9 << true << ParticleClass::Smaller << 164 << 75 << 164;
    QTest::newRow("big, passes") << false << 2000 << 0.5 << true << ParticleClass::Bigger << 164 << 75 << 164;
    QTest::newRow("out, fails") << false << 5 << 0.2 << true << ParticleClass::Filtered << 255 << 0 << 255;
    QTest::newRow("stale flag") << false << 50 << 0.9 << false << ParticleClass::Uncounted << 0 << 0 << 255;
    QTest::newRow("stale flag, filter") << false << 50 << 0.9 << true << ParticleClass::Uncounted << 164 << 75 << 164;
}

void TestRegisterReport::classification() {
    QFETCH(bool, inRange);
    QFETCH(int, area);
    QFETCH(double, circularity);
    QFETCH(bool, filter);
    QFETCH(ParticleClass, kind);
    QFETCH(int, blue);
    QFETCH(int, green);
    QFETCH(int, red);
    ParticleClassRules rules;
    rules.circularityFilter = filter;
    const ParticleVerdict verdict = ClassifyParticle(Record(0, 0, 0, area, circularity, inRange), rules);
    QCOMPARE(verdict.kind, kind);
    QCOMPARE(verdict.colour, cv::Scalar(blue, green, red));
}

void TestRegisterReport::countersStartFromZeroAndFollowTheBounds() {
    CMivoRegisterManager reg;
    reg.foiParticles = {Record(0, 1, 1, 5, 0.9, true),    Record(0, 2, 2, 50, 0.9, false),
                        Record(0, 3, 3, 50, 0.3, false),  Record(1, 4, 4, 900, 0.9, false),
                        Record(1, 5, 5, 901, 0.9, true),  Record(2, 6, 6, 10, kNaN, false)};
    reg.UpdateRangeFlags();  // bounds 10 .. 900: the flags come from the areas
    reg.CountFoIParticles();
    QCOMPARE(reg.countInRange, 4);
    QCOMPARE(reg.countGreater, 1);
    QCOMPARE(reg.countSmaller, 1);
    reg.CountFoIParticles();
    QCOMPARE(reg.countInRange + reg.countGreater + reg.countSmaller, 6);

    reg.circularityFilter = true;
    reg.CountFoIParticles();
    QCOMPARE(reg.countInRange, 2);  // 0.3 and NaN fail
    QCOMPARE(reg.countGreater, 1);
    QCOMPARE(reg.countSmaller, 1);

    reg.circularityFilter = false;
    reg.stream->minArea = 50;
    reg.stream->maxArea = 100;
    reg.UpdateRangeFlags();
    reg.CountFoIParticles();
    QCOMPARE(reg.countInRange, 2);
    QCOMPARE(reg.countGreater, 2);
    QCOMPARE(reg.countSmaller, 2);
}

void TestRegisterReport::frameCountKeepsItsOwnRangeFlags() {
    CMivoRegisterManager reg;
    reg.foiParticles = {Record(0, 1, 1, 50, 0.9, true)};
    // A record whose flag is out of range while its area lies within the bounds
    // counts nowhere; UpdateRangeFlags does not touch frameParticles.
    reg.frameParticles = {Record(3, 1, 1, 50, 0.9, false), Record(3, 2, 2, 5, 0.9, false),
                          Record(3, 3, 3, 60, 0.9, true)};
    reg.UpdateRangeFlags();
    reg.CountFrameParticles();
    QCOMPARE(reg.countInRange, 1);
    QCOMPARE(reg.countSmaller, 1);
    QCOMPARE(reg.countGreater, 0);
}

void TestRegisterReport::renderCirclesTheFramesRecordsInClassColour() {
    QTemporaryDir dir;
    CMivoRegisterManager reg;
    reg.StartSequence(dir.path());
    reg.stream->AddFrame(WriteBlank(dir, QStringLiteral("a.png")).toStdString());
    reg.stream->AddFrame(WriteBlank(dir, QStringLiteral("b.png")).toStdString());
    reg.foiParticles = {Record(0, 40, 50, 50, 0.9, true), Record(0, 140, 50, 5, 0.9, false),
                        Record(1, 100, 50, 50, 0.9, true)};
    const cv::Mat bgr = reg.RenderFoIFrame(0);
    QCOMPARE(bgr.type(), CV_8UC3);
    QCOMPARE(bgr.cols, 200);
    // Radius 20, thickness 3: the circle passes through the centre +- 20 on each axis.
    QCOMPARE(bgr.at<cv::Vec3b>(50, 60), cv::Vec3b(0, 255, 0));
    QCOMPARE(bgr.at<cv::Vec3b>(30, 40), cv::Vec3b(0, 255, 0));
    QCOMPARE(bgr.at<cv::Vec3b>(50, 120), cv::Vec3b(0, 0, 255));
    // Inside, and where frame 1's circle would be: the grey frame.
    QCOMPARE(bgr.at<cv::Vec3b>(50, 40), cv::Vec3b(200, 200, 200));
    QCOMPARE(bgr.at<cv::Vec3b>(50, 80), cv::Vec3b(200, 200, 200));
    // frameParticles are drawn only by RenderCountedFrame.
    const cv::Mat counted = reg.RenderCountedFrame(0);
    QCOMPARE(cv::countNonZero(counted.reshape(1) != 200), 0);
    QVERIFY(reg.RenderFoIFrame(2).empty());
    QVERIFY(Spoil((dir.path() + QStringLiteral("/b.png")).toStdString()));
    QVERIFY(reg.RenderFoIFrame(1).empty());
}

void TestRegisterReport::countFrameGivesSwappedChannelsAndItsRecords() {
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(8, {160}), flow));
    CMivoRegisterManager reg;
    reg.StartSequence(flow.Folder());
    reg.stream->minArea = 25;
    reg.stream->maxArea = 100;
    for (const QString& name : flow.names) reg.stream->AddFrame(name.toStdString());
    reg.frameParticles = {Record(0, 1, 1, 50, 0.9, true)};
    const QImage image = reg.CountFrame(3, 3);
    QCOMPARE(image.format(), QImage::Format_RGB888);
    QCOMPARE(image.size(), QSize(640, 480));
    QVERIFY(!reg.frameParticles.empty());
    for (const ParticleMeasure& r : reg.frameParticles) QCOMPARE(r.frame, 3);
    QCOMPARE(image, AsImage(reg.RenderCountedFrame(3)));
    // Find a circle of each colour where the renderer put it: green stays green, red
    // (BGR 0, 0, 255) comes out as RGB red.
    bool sawGreen = false, sawRed = false;
    for (const ParticleMeasure& r : reg.frameParticles) {
        if (r.x + 20 >= 640 || r.x - 20 < 0 || r.y - 20 < 0) continue;
        const QRgb right = image.pixel(r.x + 20, r.y);
        if (r.inRange && right == qRgb(0, 255, 0)) sawGreen = true;
        if (!r.inRange && right == qRgb(255, 0, 0)) sawRed = true;
    }
    QVERIFY(sawGreen && sawRed);
    QVERIFY(reg.CountFrame(99, 3).isNull());
    QVERIFY(reg.frameParticles.empty());
}

void TestRegisterReport::countFrameWithoutFrameZeroStillCounts() {
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(8, {160}), flow));
    CMivoRegisterManager reg;
    reg.StartSequence(flow.Folder());
    for (const QString& name : flow.names) reg.stream->AddFrame(name.toStdString());
    reg.CountFrame(3, 1);
    const size_t withFrameZero = reg.frameParticles.size();
    QVERIFY(withFrameZero > 10);
    QVERIFY(Spoil(flow.Path(0)));
    reg.StartSequence(flow.Folder());
    for (const QString& name : flow.names) reg.stream->AddFrame(name.toStdString());
    QVERIFY(!reg.CountFrame(3, 1).isNull());
    QCOMPARE(reg.frameParticles.size(), withFrameZero);
    QVERIFY(reg.CountFrame(0, 1).isNull());
}

void TestRegisterReport::fullImageWindow() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(15, {160}), flow));
    CMivoRegisterManager reg;
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QCOMPARE(reg.selectedFrames, std::vector<int>({0, 4, 8, 12, 14}));
    QCOMPARE(reg.accumulatedShift, 320);
    const QImage f0 = AsImage(reg.RenderFoIFrame(0));
    const QImage f4 = AsImage(reg.RenderFoIFrame(4));
    const QImage f12 = AsImage(reg.RenderFoIFrame(12));
    const QImage f14 = AsImage(reg.RenderFoIFrame(14));

    const QImage at0 = reg.ComposeFullImageWindow(0);
    QCOMPARE(at0.format(), QImage::Format_RGB888);
    QCOMPARE(at0, f0);
    // Frame 0 slides out to the right, frame 4 comes in from the left.
    const QImage at160 = reg.ComposeFullImageWindow(160);
    QVERIFY(SameColumns(at160, 160, f0, 0, 480));
    QVERIFY(SameColumns(at160, 0, f4, 480, 160));
    QCOMPARE(reg.ComposeFullImageWindow(640), f4);
    // Into the last frame of interest: its columns start 12 + 320 further left.
    const QImage last = reg.ComposeFullImageWindow(3 * 640 + 100);
    QVERIFY(SameColumns(last, 100, f12, 0, 540));
    QVERIFY(SameColumns(last, 0, f14, 540 - 12 - 320, 100));
}

void TestRegisterReport::fullImageWindowClampsAndLeavesGapsBlack() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(15, {160}), flow));
    CMivoRegisterManager reg;
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QCOMPARE(reg.ComposeFullImageWindow(-50), reg.ComposeFullImageWindow(0));
    // The strip ends one column before the last frame of interest would stand alone.
    const QImage end = reg.ComposeFullImageWindow(4 * 640 - 1);
    QCOMPARE(reg.ComposeFullImageWindow(1 << 30), end);
    QVERIFY(SameColumns(end, 639, AsImage(reg.RenderFoIFrame(12)), 0, 1));
    QVERIFY(SameColumns(end, 0, AsImage(reg.RenderFoIFrame(14)), 0, 639));

    // A frame that cannot be read leaves its columns black.
    QVERIFY(Spoil(flow.Path(4)));
    const QImage gap = reg.ComposeFullImageWindow(160);
    QVERIFY(BlackColumns(gap, 0, 160));
    QVERIFY(SameColumns(gap, 160, AsImage(reg.RenderFoIFrame(0)), 0, 480));

    // Fewer than two frames of interest: the one there is, or nothing.
    reg.selectedFrames = {0};
    QCOMPARE(reg.ComposeFullImageWindow(300), AsImage(reg.RenderFoIFrame(0)));
    reg.selectedFrames.clear();
    const QImage none = reg.ComposeFullImageWindow(300);
    QCOMPARE(none.size(), QSize(640, 480));
    QVERIFY(BlackColumns(none, 0, 640));
}

void TestRegisterReport::exportWritesPairsAndGreysTheLastFrame() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(15, {160}), flow));
    CMivoRegisterManager reg;
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QTemporaryDir target;
    QVERIFY(reg.ExportFramesOfInterest(target.path()).isEmpty());
    // The whole last frame was counted, and that count is now frameParticles.
    QVERIFY(!reg.frameParticles.empty());
    for (const ParticleMeasure& r : reg.frameParticles) QCOMPARE(r.frame, 14);

    QStringList expected;
    for (int f : {0, 4, 8, 12, 14})
        for (const char* kind : {"pos_", "res_"})
            expected << QStringLiteral("%1%2_frame_%3.png").arg(QLatin1String(kind)).arg(f).arg(f, 4, 10, QLatin1Char('0'));
    expected.sort();
    QCOMPARE(Files(target.path()), expected);

    // pos_ is the frame as read, res_ the frame counted and circled.
    const cv::Mat frame4 = cv::imread(flow.Path(4), cv::IMREAD_GRAYSCALE);
    const cv::Mat pos4 = cv::imread(target.filePath(QStringLiteral("pos_4_frame_0004.png")).toStdString(),
                                    cv::IMREAD_UNCHANGED);
    QCOMPARE(pos4.type(), CV_8UC1);
    QCOMPARE(cv::norm(pos4, frame4, cv::NORM_INF), 0.0);
    const QImage res4(target.filePath(QStringLiteral("res_4_frame_0004.png")));
    QCOMPARE(res4.convertToFormat(QImage::Format_RGB888), reg.CountFrame(4, reg.segmentationMethod));

    // The last frame: its new strip (320 columns) outlined in black, grey from there on.
    const cv::Mat frame14 = cv::imread(flow.Path(14), cv::IMREAD_GRAYSCALE);
    const cv::Mat pos14 = cv::imread(target.filePath(QStringLiteral("pos_14_frame_0014.png")).toStdString(),
                                     cv::IMREAD_GRAYSCALE);
    for (int y : {0, 100, 478}) {
        QCOMPARE(int(pos14.at<uchar>(y, 0)), 0);
        QCOMPARE(int(pos14.at<uchar>(y, 319)), 0);
        QCOMPARE(pos14.at<uchar>(y, 320), frame14.at<uchar>(y, 320));
    }
    QCOMPARE(int(pos14.at<uchar>(0, 150)), 0);
    QCOMPARE(int(pos14.at<uchar>(478, 150)), 0);
    QCOMPARE(pos14.at<uchar>(479, 150), frame14.at<uchar>(479, 150));
    QCOMPARE(cv::norm(pos14.colRange(320, 640), frame14.colRange(320, 640), cv::NORM_INF), 0.0);

    const QImage res14 = QImage(target.filePath(QStringLiteral("res_14_frame_0014.png"))).convertToFormat(QImage::Format_RGB888);
    bool circledInStrip = false;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const QRgb p = res14.pixel(x, y);
            const bool grey = qRed(p) == qGreen(p) && qGreen(p) == qBlue(p);
            if (x >= 320) {
                const int g = frame14.at<uchar>(y, x);
                QVERIFY2(p == qRgb(g, g, g), qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
            } else if (!grey) {
                circledInStrip = true;
            }
        }
    }
    QVERIFY(circledInStrip);
}

void TestRegisterReport::exportReportsEveryFileItCouldNotWrite() {
    ScopedWorkingDir cwd;
    WrittenFlow flow;
    QVERIFY(WriteFlow(FlowOf(9, {160}), flow));
    CMivoRegisterManager reg;
    QVERIFY(RunToEnd(reg, flow.Folder(), flow.names));
    QCOMPARE(reg.selectedFrames, std::vector<int>({0, 4, 8, 8}));

    // A frame that cannot be read loses both of its files.
    QVERIFY(Spoil(flow.Path(4)));
    QTemporaryDir target;
    const QString missing = target.filePath(QStringLiteral("absent"));
    const QStringList all = reg.ExportFramesOfInterest(missing);
    QCOMPARE(all.size(), 8);
    QVERIFY(all.contains(missing + QStringLiteral("/pos_0_frame_0000.png")));
    QVERIFY(all.contains(missing + QStringLiteral("/res_8_frame_0008.png")));

    // A folder in the way of one file.
    QVERIFY(QDir(target.path()).mkdir(QStringLiteral("res_0_frame_0000.png")));
    const QStringList failed = reg.ExportFramesOfInterest(target.path());
    QCOMPARE(failed, QStringList({target.filePath(QStringLiteral("res_0_frame_0000.png")),
                                  target.filePath(QStringLiteral("pos_4_frame_0004.png")),
                                  target.filePath(QStringLiteral("res_4_frame_0004.png"))}));
    QVERIFY(QFile::exists(target.filePath(QStringLiteral("pos_0_frame_0000.png"))));
    QVERIFY(QFile::exists(target.filePath(QStringLiteral("res_8_frame_0008.png"))));
}

void TestRegisterReport::csvRowsAndQuoting() {
    CVideoStream stream;
    stream.SetFolder("/nowhere");
    stream.AddFrame("plain.png");
    stream.AddFrame("with,comma \"and quote\".png");
    stream.minArea = 25;
    stream.maxArea = 100;
    ParticleClassRules rules;
    rules.minArea = 25;
    rules.maxArea = 100;
    rules.circularityFilter = true;
    rules.minCircularity = 0.5;
    const std::vector<ParticleMeasure> records = {
        {0, 12, 34, 40, 0.75, 0.8125, true},  {1, 7, 8, 200, 0.5, 0.9, false},
        {0, 1, 2, 20, 0.5, 0.9, false},       {0, 3, 4, 60, 0.5, 0.25, true},
        {1, 5, 6, 60, 0.5, kNaN, false},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("particles.csv"));
    QVERIFY(WriteParticleCsv(path, records, stream, rules, 1.5));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines, QStringList({
                        QStringLiteral("frame,file,x,y,area_px,area_um2,ratio,circularity,class"),
                        QStringLiteral("0,plain.png,34,12,40,90,0.75,0.8125,single"),
                        QStringLiteral("1,\"with,comma \"\"and quote\"\".png\",8,7,200,450,0.5,0.9,bigger"),
                        QStringLiteral("0,plain.png,2,1,20,45,0.5,0.9,smaller"),
                        QStringLiteral("0,plain.png,4,3,60,135,0.5,0.25,filtered"),
                        QStringLiteral("1,\"with,comma \"\"and quote\"\".png\",6,5,60,135,0.5,nan,filtered"),
                        QString(),
                    }));
    // The class column follows the same rule as the counters.
    rules.circularityFilter = false;
    QCOMPARE(ParticleCsvRow(records[4], stream, rules, 2.0).section(QLatin1Char(','), -4),
             QStringLiteral("240,0.5,nan,uncounted"));
}

void TestRegisterReport::csvWriteFailsOnBadPath() {
    CVideoStream stream;
    QTemporaryDir dir;
    QVERIFY(!WriteParticleCsv(dir.filePath(QStringLiteral("no/such/folder/p.csv")), {}, stream, {}, 1.5));
    QVERIFY(!WriteParticleCsv(dir.path(), {}, stream, {}, 1.5));
    QVERIFY(WriteParticleCsv(dir.filePath(QStringLiteral("empty.csv")), {}, stream, {}, 1.5));
}

QTEST_GUILESS_MAIN(TestRegisterReport)
#include "tst_register_report.moc"
