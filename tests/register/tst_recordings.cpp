// Recordings as cameras and acquisition programs write them, counted by the run engine
// against the 8-bit folder of the same generated flow: 10-, 12- and 14-bit samples in
// 16-bit PNG and TIFF files, the flow as a TIFF stack and as lossless videos, a video cut
// short, a stack with odd pages, and a flow too faint for the shift measure.

#include "register/frame_listing.h"
#include "register/run_engine.h"
#include "register_test_support.h"
#include "tools/flowgen/recording_writer.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <zlib.h>

#define TIFF_DISABLE_DEPRECATED
#include <tiffio.h>

namespace {

using Bytes = std::vector<uchar>;

// Samples of `bits` bits from an 8-bit frame as a camera of that depth gives them,
// right-justified: the 8-bit value stretched to the depth's range, with noise of half
// an 8-bit level, so that the top eight bits are not the original's exactly.
cv::Mat Deepen(const cv::Mat& grey, int bits, cv::RNG& rng)
{
    cv::Mat deep(grey.size(), CV_16UC1);
    const double scale = ((1 << bits) - 1) / 255.0, noise = (1 << (bits - 8)) / 2.0;
    for (int r = 0; r < grey.rows; ++r)
        for (int c = 0; c < grey.cols; ++c)
            deep.at<ushort>(r, c) = cv::saturate_cast<ushort>(
                std::min(grey.at<uchar>(r, c) * scale + rng.gaussian(noise), double((1 << bits) - 1)));
    return deep;
}

// The PNG with an sBIT chunk for grey samples of `bits` bits right after its header.
Bytes WithSignificantBits(const Bytes& png, int bits)
{
    const uchar body[] = {'s', 'B', 'I', 'T', uchar(bits)};
    const uLong crc = crc32(0L, body, sizeof body);
    Bytes chunk = {0, 0, 0, 1};
    chunk.insert(chunk.end(), body, body + sizeof body);
    for (int k = 3; k >= 0; --k) chunk.push_back(uchar(crc >> (8 * k)));
    Bytes out(png.begin(), png.begin() + 33);  // signature and IHDR
    out.insert(out.end(), chunk.begin(), chunk.end());
    out.insert(out.end(), png.begin() + 33, png.end());
    return out;
}

// 16-bit grey pages in one TIFF file, with MaxSampleValue when `largest` is not 0.
bool WriteTiff(const std::string& path, const std::vector<cv::Mat>& pages, int largest)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) return false;
    bool written = true;
    for (const cv::Mat& page : pages) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.cols);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.rows);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, page.depth() == CV_16U ? 16 : 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
        if (largest > 0) TIFFSetField(tif, TIFFTAG_MAXSAMPLEVALUE, largest);
        for (int r = 0; r < page.rows && written; ++r)
            written = TIFFWriteScanline(tif, const_cast<uchar*>(page.ptr(r)), uint32_t(r), 0) >= 0;
        written = written && TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    return written;
}

bool WriteBytes(const QString& path, const Bytes& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) == qint64(bytes.size());
}

struct Counts {
    int inRange, greater, smaller;
};

Counts CountsOf(const RunResult& result)
{
    return {result.countInRange, result.countGreater, result.countSmaller};
}

QString Text(const Counts& c)
{
    return QStringLiteral("%1/%2/%3").arg(c.inRange).arg(c.greater).arg(c.smaller);
}

RunResult CountRun(RunSettings settings, CountingMode mode)
{
    settings.mode = mode;
    settings.method = DefaultMethod(mode);
    CRunEngine engine;
    return engine.RunToEnd(settings);
}

// The listed sequence run to its end in `mode` at the default range, method by the mode.
RunResult CountRun(const SequenceListing& listing, CountingMode mode, int threads = 2)
{
    RunSettings settings = Settings(listing.path, listing.frameNames, DefaultMethod(mode), threads);
    settings.sequenceKind = listing.kind;
    return CountRun(settings, mode);
}

RunResult CountRun(const QString& path, CountingMode mode, int threads = 2)
{
    return CountRun(ListSequence(path, QDir::Name), mode, threads);
}

// What decides a count: the frames chosen, the counters, the records' places and sizes.
QString Fingerprint(const RunResult& r)
{
    QString text = QStringLiteral("frames %1 counts %2 selected").arg(r.frameCount).arg(Text(CountsOf(r)));
    for (int t : r.selectedFrames) text += QStringLiteral(" %1").arg(t);
    text += QStringLiteral(" records");
    for (const ParticleMeasure& p : r.records) text += QStringLiteral(" %1:%2,%3,%4").arg(p.frame).arg(p.x).arg(p.y).arg(p.area);
    return text;
}

const CountingMode kModes[] = {CountingMode::FramesOfInterest, CountingMode::CountingLine};

QString ModeName(CountingMode mode)
{
    return mode == CountingMode::CountingLine ? QStringLiteral("crossing") : QStringLiteral("foi");
}

}  // namespace

class TestRecordings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QVERIFY(QDir::setCurrent(cwd.path())); }
    void deepFramesCountAsTheirEightBitOriginals_data();
    void deepFramesCountAsTheirEightBitOriginals();
    void aDeepFrameAmongEightBitOnesIsLeftOut();
    void aFlowTooFaintForTheShiftIsWarnedAbout();
    void folderStackAndVideoCountTheSame_data();
    void folderStackAndVideoCountTheSame();
    void aVideoCutShortEndsWhereItCanBeRead();
    void aStackWithOddPagesLeavesThemOut();
    void recordingsThatCannotBeCounted();

private:
    QTemporaryDir cwd;
    WrittenFlow flow;  // 8-bit PNG frames
    std::vector<cv::Mat> frames;
    std::map<CountingMode, RunResult> original;
};

void TestRecordings::initTestCase()
{
    QVERIFY(flow.Make(20, {100, 140, 120}, 11));
    for (int t = 0; t < 20; ++t) frames.push_back(flowgen::RenderFrame(flow.flow, t));
    for (CountingMode mode : kModes) {
        original[mode] = CountRun(flow.Folder(), mode);
        QCOMPARE(original[mode].sampleDepth.bits, 8);
        QVERIFY(original[mode].countInRange > 50);
    }
}

void TestRecordings::deepFramesCountAsTheirEightBitOriginals_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("header");  // sBIT, MaxSampleValue
    QTest::addColumn<int>("depth");    // expected
    QTest::addColumn<int>("source");
    const int largest = int(DepthSource::LargestValue), named = int(DepthSource::Header);
    for (const char* format : {"png", "tif"})
        for (int bits : {10, 12, 14}) {
            QTest::addRow("%s, %d bits", format, bits) << format << bits << false << bits << largest;
            QTest::addRow("%s, %d bits, named", format, bits) << format << bits << true << bits << named;
        }
    // By the PNG rule samples are scaled up to 16 bits and sBIT names the original depth.
    QTest::addRow("png, 12 bits scaled up to 16") << "png" << 16 << true << 16 << largest;
}

// 10-, 12- and 14-bit samples count as the 8-bit frames they were made from (within
// one particle: the low bits are noise), in both modes, whether the depth is named in
// the file or read from frame 0's largest sample.
void TestRecordings::deepFramesCountAsTheirEightBitOriginals()
{
    QFETCH(QString, format);
    QFETCH(int, bits);
    QFETCH(bool, header);
    QFETCH(int, depth);
    QFETCH(int, source);
    QTemporaryDir dir;
    cv::RNG rng(bits);
    for (int t = 0; t < 20; ++t) {
        const cv::Mat deep = Deepen(frames[size_t(t)], bits, rng);
        const QString path = dir.filePath(QString::asprintf("frame_%04d.%s", t, qPrintable(format)));
        // 16 bits named 12: samples scaled up to the full range with the original's bits repeated below.
        const int named = bits == 16 ? 12 : bits;
        if (format == "tif") {
            QVERIFY(WriteTiff(path.toStdString(), {deep}, header ? (1 << named) - 1 : 0));
        } else {
            Bytes png;
            QVERIFY(cv::imencode(".png", deep, png));
            QVERIFY(WriteBytes(path, header ? WithSignificantBits(png, named) : png));
        }
    }
    for (CountingMode mode : kModes) {
        const RunResult result = CountRun(dir.path(), mode);
        QCOMPARE(result.end, RunEnd::Finished);
        QCOMPARE(result.sampleDepth.bits, depth);
        QCOMPARE(int(result.sampleDepth.source), source);
        QVERIFY(result.unreadableFrames.empty() && result.faintFrames.empty());
        const Counts got = CountsOf(result), want = CountsOf(original[mode]);
        const QString seen = ModeName(mode) + ": " + Text(got) + " against " + Text(want);
        qInfo("%s", qPrintable(QStringLiteral("%1, %2 bits: ").arg(format).arg(bits) + seen));
        QVERIFY2(std::abs(got.inRange - want.inRange) <= 1 && std::abs(got.greater - want.greater) <= 1 &&
                     std::abs(got.smaller - want.smaller) <= 1,
                 qPrintable(seen));
    }
}

// Frames of one sequence share one sample width: a 16-bit frame among 8-bit ones (and an
// 8-bit one among 16-bit ones) is left out with the reason, never scaled by a guess of
// its own; a frame nearly black at the run's depth is counted and named as faint.
void TestRecordings::aDeepFrameAmongEightBitOnesIsLeftOut()
{
    QTemporaryDir dir;
    cv::RNG rng(3);
    for (int t = 0; t < 12; ++t) {
        const std::string path = dir.filePath(QString::asprintf("frame_%04d.png", t)).toStdString();
        if (t == 4)
            QVERIFY(cv::imwrite(path, Deepen(frames[size_t(t)], 12, rng)));
        else if (t == 7)
            QVERIFY(cv::imwrite(path, cv::Mat(frames[size_t(t)] / 20)));
        else
            QVERIFY(cv::imwrite(path, frames[size_t(t)]));
    }
    const SequenceListing listing = ListSequence(dir.path(), QDir::Name);
    RunSettings settings = Settings(listing.path, listing.frameNames, 3);
    CRunEngine engine;
    const RunResult result = engine.RunToEnd(settings);
    QCOMPARE(result.unreadableFrames, std::vector<int>{4});
    QCOMPARE(result.faintFrames, std::vector<int>{7});
    CVideoStream check;
    check.SetFolder(dir.path().toStdString());
    for (const QString& name : listing.frameNames) check.AddFrame(name.toStdString());
    QVERIFY(check.PrepareFirstFrame());
    QCOMPARE(QString::fromStdString(FrameReadReason(check.ReadRunFrame(4), check.RunFrameLimits())),
             QStringLiteral("16-bit samples, frame 0 is 8-bit"));
}

// The high byte of 12-bit samples (what reading them as 8-bit gave) leaves a flow too
// faint for the shift measure's threshold: it looked still. Now such frames are told
// apart from frames that do not change, and counted among the unmeasured shifts.
void TestRecordings::aFlowTooFaintForTheShiftIsWarnedAbout()
{
    QTemporaryDir faint, still;
    for (int t = 0; t < 12; ++t) {
        const std::string name = QString::asprintf("/frame_%04d.png", t).toStdString();
        QVERIFY(cv::imwrite(faint.path().toStdString() + name, cv::Mat(frames[size_t(t)] / 16)));
        // The same frame over and over with fresh noise: nothing moves.
        cv::Mat noisy = frames[0].clone();
        cv::randn(noisy, 0, 3);
        QVERIFY(cv::imwrite(still.path().toStdString() + name, cv::Mat(frames[0] + noisy)));
    }
    const RunResult faintRun = CountRun(faint.path(), CountingMode::FramesOfInterest);
    QCOMPARE(faintRun.changedWithoutShift, 11);
    QCOMPARE(faintRun.unmeasuredShifts, 11);
    const RunResult stillRun = CountRun(still.path(), CountingMode::FramesOfInterest);
    QCOMPARE(stillRun.changedWithoutShift, 0);
    QCOMPARE(original[CountingMode::FramesOfInterest].changedWithoutShift, 0);
}

void TestRecordings::folderStackAndVideoCountTheSame_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("stack") << "flow.tif";
    QTest::newRow("video, AVI") << "flow.avi";
    QTest::newRow("video, MKV") << "flow.mkv";
}

// A folder, its stack and its lossless video are one sequence: the same frames chosen,
// the same records, in both modes, decoded ahead on workers or by the steps.
void TestRecordings::folderStackAndVideoCountTheSame()
{
    QFETCH(QString, file);
    QTemporaryDir dir;
    const QString path = dir.filePath(file);
    std::string error;
    QVERIFY2(file.endsWith(".tif") ? flowgen::WriteStack(flow.flow, path.toStdString(), &error)
                                   : flowgen::WriteVideo(flow.flow, path.toStdString(), &error),
             error.c_str());
    const SequenceListing listing = ListSequence(path, QDir::Name | QDir::Reversed);
    QVERIFY2(listing.error.isEmpty(), qPrintable(listing.error));
    QCOMPARE(listing.kind, file.endsWith(".tif") ? SequenceKind::Stack : SequenceKind::Video);
    QCOMPARE(listing.frameNames.size(), 20);
    QCOMPARE(listing.frameNames[17], "frame 17 of " + file);
    for (CountingMode mode : kModes)
        for (int threads : {0, 2}) {
            const RunResult result = CountRun(listing, mode, threads);
            QCOMPARE(Fingerprint(result), Fingerprint(original[mode]));
            QVERIFY(result.unreadableFrames.empty() && result.framesDeclared == 0);
            QCOMPARE(result.sampleDepth.bits, 8);
        }
}

// A video that cannot be decoded past some frame ends there: the count is that of the
// frames it gave (the folder of those frames counts the same), and the frames it
// declared are told. The frame decoded last before the damage is left out with it (it
// may be made up from partial data).
void TestRecordings::aVideoCutShortEndsWhereItCanBeRead()
{
    QTemporaryDir dir;
    const QString whole = dir.filePath("whole.avi"), cut = dir.filePath("cut.avi");
    QVERIFY(flowgen::WriteVideo(flow.flow, whole.toStdString(), nullptr));
    QFile in(whole);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    QFile out(cut);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes.left(bytes.size() * 6 / 10)) > 0);
    out.close();
    const SequenceListing listing = ListSequence(cut, QDir::Name);
    QCOMPARE(listing.frameNames.size(), 20);  // as declared
    for (CountingMode mode : kModes) {
        const RunResult result = CountRun(listing, mode);
        QCOMPARE(result.end, RunEnd::Finished);
        QCOMPARE(result.framesDeclared, 20);
        QVERIFY2(result.frameCount >= 8 && result.frameCount < 12, qPrintable(QString::number(result.frameCount)));
        QVERIFY(result.unreadableFrames.empty());
        const RunResult head = CountRun(Settings(flow.Folder(), flow.names.mid(0, result.frameCount)), mode);
        QCOMPARE(Fingerprint(result), Fingerprint(head));
    }
}

// Pages of another size or sample width than page 0 are left out and named, as frames
// of a folder are; the others count.
void TestRecordings::aStackWithOddPagesLeavesThemOut()
{
    QTemporaryDir dir;
    std::vector<cv::Mat> pages;
    cv::RNG rng(5);
    for (int t = 0; t < 12; ++t) {
        cv::Mat page;
        frames[size_t(t)].convertTo(page, CV_16U, 16.0);
        if (t == 3) cv::resize(page, page, cv::Size(320, 240));
        if (t == 5) page = frames[size_t(t)];
        pages.push_back(page);
    }
    const QString path = dir.filePath("odd.tif");
    QVERIFY(WriteTiff(path.toStdString(), pages, 0));
    const SequenceListing listing = ListSequence(path, QDir::Name);
    QCOMPARE(listing.frameNames.size(), 12);
    RunSettings settings = Settings(listing.path, listing.frameNames, 3);
    settings.sequenceKind = listing.kind;
    CRunEngine engine;
    const RunResult result = engine.RunToEnd(settings);
    QCOMPARE(result.unreadableFrames, (std::vector<int>{3, 5}));
    QCOMPARE(result.sampleDepth.bits, 12);
    CVideoStream stream;
    stream.SetRecording(path.toStdString(), SequenceKind::Stack);
    for (const QString& name : listing.frameNames) stream.AddFrame(name.toStdString());
    QVERIFY(stream.PrepareFirstFrame());
    QCOMPARE(QString::fromStdString(FrameReadReason(stream.ReadRunFrame(3), stream.RunFrameLimits())),
             "320 x 240, frame 0 is 640 x 480");
    QCOMPARE(QString::fromStdString(FrameReadReason(stream.ReadRunFrame(5), stream.RunFrameLimits())),
             "8-bit samples, frame 0 is 16-bit");
}

// Files that are no recording (one frame's file among them: FFmpeg would take it for a video
// of one frame), and recordings too short to count, are refused with the reason.
void TestRecordings::recordingsThatCannotBeCounted()
{
    QTemporaryDir dir;
    const QString text = dir.filePath("notes.avi"), shortStack = dir.filePath("short.tif");
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a video") > 0);
    file.close();
    QVERIFY(cv::imwritemulti(shortStack.toStdString(), std::vector<cv::Mat>(frames.begin(), frames.begin() + 4)));
    QCOMPARE(ListSequence(text, QDir::Name).error,
             "[ERRO] Can not read recording notes.avi (not a TIFF stack or a video file)");
    QCOMPARE(ListSequence(flow.dir.filePath(flow.names[0]), QDir::Name).error,
             "[ERRO] Can not read recording " + flow.names[0] + " (one image, not a recording)");
    QCOMPARE(ListSequence(shortStack, QDir::Name).error,
             "[ERRO] Only 4 frames were found in short.tif; at least 6 are needed");
}

QTEST_GUILESS_MAIN(TestRecordings)
#include "tst_recordings.moc"
