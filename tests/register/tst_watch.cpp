// A folder counted while a writer on another thread is still filling it, against a run
// over the finished folder: the same counts in both modes. Then the watch's own ends and
// faults: the idle time, a frame that arrives after frames following it by name, a frame
// never completed, the folder taken away.

#include "register/run_engine.h"
#include "register/run_warnings.h"
#include "register_test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Small frames, few of them: fast, and still several frames of interest.
flowgen::Flow SmallFlow(int frames, int shift, unsigned seed)
{
    flowgen::FlowSettings settings;
    settings.width = 240;
    settings.height = 180;
    settings.frames = frames;
    settings.seed = seed;
    settings.shifts = {shift};
    return flowgen::GenerateFlow(settings);
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes `bytes` as `path`; with `pause`, the first half, a pause, then the rest, as a slow
// camera writer would.
bool WriteFile(const QString& path, const QByteArray& bytes, std::chrono::milliseconds pause = 0ms)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const qsizetype half = pause > 0ms ? bytes.size() / 2 : bytes.size();
    bool written = file.write(bytes.left(half)) == half && file.flush();
    std::this_thread::sleep_for(pause);
    return written && file.write(bytes.mid(half)) == bytes.size() - half;
}

RunSettings WatchSettings(const QString& folder, CountingMode mode, int method, double idleSeconds)
{
    RunSettings settings = Settings(folder, {}, method);
    settings.mode = mode;
    settings.watch = true;
    settings.watchIdleSeconds = idleSeconds;
    return settings;
}

}  // namespace

class TestWatch : public QObject {
    Q_OBJECT

private slots:
    void aFolderBeingWrittenCountsAsTheFinishedFolder_data();
    void aFolderBeingWrittenCountsAsTheFinishedFolder();
    void faultsOfAWatchedFolder_data();
    void faultsOfAWatchedFolder();
};

void TestWatch::aFolderBeingWrittenCountsAsTheFinishedFolder_data()
{
    QTest::addColumn<CountingMode>("mode");
    QTest::addColumn<int>("method");
    QTest::newRow("frames of interest, Frame Diff") << CountingMode::FramesOfInterest << 3;
    QTest::newRow("counting line, Background") << CountingMode::CountingLine << 4;
}

void TestWatch::aFolderBeingWrittenCountsAsTheFinishedFolder()
{
    QFETCH(CountingMode, mode);
    QFETCH(int, method);
    QTemporaryDir source, watched;
    const int frames = 14;
    QVERIFY(WritePngFlow(SmallFlow(frames, 50, 7), source.path()));
    const QStringList names = QDir(source.path()).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    QCOMPARE(names.size(), frames);

    // Every third frame in two halves, the second after a pause shorter than the settle time.
    std::atomic<bool> written{false};
    std::atomic<bool> writeFailed{false};
    std::thread writer([&] {
        for (int t = 0; t < frames; ++t) {
            const auto pause = t % 3 == 1 ? 150ms : 0ms;
            if (!WriteFile(watched.path() + '/' + names[t], ReadAll(source.path() + '/' + names[t]), pause))
                writeFailed = true;
            std::this_thread::sleep_for(40ms);
        }
        written = true;
    });
    CRunEngine engine;
    int cursorWhenWritten = -1;
    int countedWhileWatching = 0;
    const RunResult watchedResult =
        engine.RunToEnd(WatchSettings(watched.path(), mode, method, 1.0), [&](const StepReport&) {
            if (written && cursorWhenWritten < 0)
                cursorWhenWritten = engine.Cursor();
            if (engine.Watching())
                countedWhileWatching = std::max(countedWhileWatching, engine.CountsSoFar().inRange);
        });
    writer.join();
    QVERIFY(!writeFailed);
    RunSettings finishedSettings = Settings(watched.path(), names, method);
    finishedSettings.mode = mode;
    const Run finished(finishedSettings);
    QVERIFY(finished.Finished());

    QCOMPARE(watchedResult.end, RunEnd::Finished);
    // Frames were counted while the writer was still at work.
    QVERIFY2(cursorWhenWritten > 0, qPrintable(QString::number(cursorWhenWritten)));
    QCOMPARE(engine.Settings().frameNames, names);
    QCOMPARE(watchedResult.frameCount, frames);
    QVERIFY(watchedResult.unreadableFrames.empty());
    QVERIFY(watchedResult.lateFrames.isEmpty() && watchedResult.incompleteFrames.isEmpty());
    QCOMPARE(watchedResult.selectedFrames, finished.result.selectedFrames);
    QCOMPARE(watchedResult.records.size(), finished.result.records.size());
    QCOMPARE(watchedResult.countInRange, finished.result.countInRange);
    QCOMPARE(watchedResult.countGreater, finished.result.countGreater);
    QCOMPARE(watchedResult.countSmaller, finished.result.countSmaller);
    QVERIFY(finished.result.countInRange > 0);
    // Counts shown while frames still arrived, never above the final ones.
    QVERIFY2(countedWhileWatching > 0 && countedWhileWatching <= finished.result.countInRange,
             qPrintable(QString::number(countedWhileWatching)));
}

void TestWatch::faultsOfAWatchedFolder_data()
{
    QTest::addColumn<bool>("removeFolder");
    QTest::newRow("late and never complete frames, idle end") << false;
    QTest::newRow("the folder taken away") << true;
}

void TestWatch::faultsOfAWatchedFolder()
{
    QFETCH(bool, removeFolder);
    auto watched = std::make_unique<QTemporaryDir>();
    const QString folder = watched->path();
    const int frames = 8;
    QVERIFY(WritePngFlow(SmallFlow(frames, 50, 8), folder));
    // A frame that sorts last and is never written: it never completes.
    QVERIFY(WriteFile(folder + QStringLiteral("/frame_9999.png"), QByteArray()));
    const QString late = QStringLiteral("frame_0003a.png");
    const QByteArray lateBytes = ReadAll(folder + QStringLiteral("/frame_0003.png"));

    CRunEngine engine;
    const double idle = 0.6;
    const auto begun = std::chrono::steady_clock::now();
    const RunResult result = engine.RunToEnd(
        WatchSettings(folder, CountingMode::CountingLine, 4, idle), [&](const StepReport&) {
            // Once the frames are taken: a frame whose name sorts among them, or no folder.
            if (engine.Result().frameCount < frames || !watched)
                return;
            if (removeFolder)
                watched.reset();
            else if (!QFile::exists(folder + '/' + late))
                QVERIFY(WriteFile(folder + '/' + late, lateBytes));
        });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();

    QCOMPARE(result.end, RunEnd::Finished);
    QCOMPARE(result.frameCount, frames);
    QCOMPARE(result.folderGone, removeFolder);
    const QStringList texts = WatchLossTexts(engine.Settings(), result);
    if (removeFolder) {
        QVERIFY(result.lateFrames.isEmpty() && result.incompleteFrames.isEmpty());
        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts[0].contains(QStringLiteral("vanished")), qPrintable(texts[0]));
        return;
    }
    // Ended by itself after the idle time, and not much later.
    QVERIFY2(seconds >= idle && seconds < idle + 5, qPrintable(QString::number(seconds)));
    QCOMPARE(result.lateFrames, QStringList{late});
    QCOMPARE(result.incompleteFrames, QStringList{QStringLiteral("frame_9999.png")});
    QCOMPARE(texts,
             QStringList({LeftOutText(late, QStringLiteral("arrived after frames that follow it by name")),
                          LeftOutText(QStringLiteral("frame_9999.png"),
                                      QStringLiteral("still being written when the watch ended"))}));
    // The counts are those of the frames taken.
    QStringList names = engine.Settings().frameNames;
    QCOMPARE(names.size(), frames);
    RunSettings taken = Settings(folder, names, 4);
    taken.mode = CountingMode::CountingLine;
    const Run finished(taken);
    QCOMPARE(result.countInRange, finished.result.countInRange);
}

QTEST_GUILESS_MAIN(TestWatch)
#include "tst_watch.moc"
