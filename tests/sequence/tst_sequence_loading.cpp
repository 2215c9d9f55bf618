#include "window_fixture.h"

#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

namespace {

// Grey values of all frames in display order, read by stepping through the preview.
std::vector<int> ShownOrder(CMivoParticleStreamAnalysis& window, int count)
{
    std::vector<int> greys;
    Child<QAction>(&window, "viewImg_firstAct")->trigger();
    for (int i = 0; i < count; ++i) {
        greys.push_back(PreviewGrey(window));
        Child<QAction>(&window, "viewImg_nextAct")->trigger();
    }
    return greys;
}

bool AppendBytes(const QString& path, int bytes)
{
    QFile file(path);
    return file.open(QIODevice::Append) && file.write(QByteArray(bytes, '\0')) == bytes;
}

} // namespace

class TestSequenceLoading : public QObject
{
    Q_OBJECT

private slots:
    void fiveFilesAreNotASequence();
    void sixFilesLoadAndShowTheFirstFrame();
    void cancelledChooserKeepsTheSequence();
    void patternsMatchInAnyLetterCaseAndSkipFolders();
    void nameOrderIsCaseSensitive();
    void timeAndSizeOrdersReListTheFolder();
    void newFolderResetsTheOrderBoxes();
    void orderChangeWithoutSequenceIsRefused();
};

void TestSequenceLoading::fiveFilesAreNotASequence()
{
    QTemporaryDir tmp;
    QVERIFY(WriteSequence(QDir(tmp.path()), 5));
    CMivoParticleStreamAnalysis window;
    const QSize logoSize = PreviewImage(window).size();

    OpenFolder(window, tmp.path());

    QCOMPARE(StatusText(window), QStringLiteral("[ERRO] No images were found"));
    QCOMPARE(FieldText(window, "tf_video_NumImages"), QStringLiteral("5"));
    QCOMPARE(FieldText(window, "tf_video_InputPath"), tmp.path());
    QCOMPARE(FieldText(window, "tf_video_Size"), QStringLiteral("0"));
    QCOMPARE(FieldText(window, "tf_view_IdxInstance"), QStringLiteral("0"));
    QCOMPARE(PreviewImage(window).size(), logoSize);
    // The controls are switched on anyway; the commands check for a sequence themselves.
    QVERIFY(Child<QGroupBox>(&window, "gb_proc")->isEnabled());
    // Navigation stays inert.
    Child<QAction>(&window, "viewImg_lastAct")->trigger();
    QCOMPARE(FieldText(window, "tf_view_IdxInstance"), QStringLiteral("0"));
}

void TestSequenceLoading::sixFilesLoadAndShowTheFirstFrame()
{
    QTemporaryDir tmp;
    QVERIFY(WriteSequence(QDir(tmp.path()), 6));
    CMivoParticleStreamAnalysis window;

    OpenFolder(window, tmp.path());

    QCOMPARE(StatusText(window), QStringLiteral("[IDLE]"));
    QCOMPARE(FieldText(window, "tf_video_NumImages"), QStringLiteral("6"));
    QCOMPARE(FieldText(window, "tf_video_Size"), QStringLiteral("480x640"));
    QCOMPARE(FieldText(window, "tf_view_IdxInstance"), QStringLiteral("1"));
    auto* slider = Child<QSlider>(&window, "sld_view_FrameSlider");
    QCOMPARE(slider->minimum(), 1);
    QCOMPARE(slider->maximum(), 6);
    QCOMPARE(slider->value(), 1);
    QCOMPARE(PreviewGrey(window), FrameGrey(0));

    QVERIFY(Child<QGroupBox>(&window, "gb_proc")->isEnabled());
    QVERIFY(Child<QGroupBox>(&window, "gb_particleSetting")->isEnabled());
    QVERIFY(Child<QGroupBox>(&window, "gb_Foi")->isEnabled());
    QVERIFY(Child<QPushButton>(&window, "btn_proc_runVR")->isEnabled());
    QVERIFY(Child<QPushButton>(&window, "btn_proc_countOne")->isEnabled());
    QVERIFY(Child<QPushButton>(&window, "btn_setting_manualSelection")->isEnabled());
    QVERIFY(!Child<QPushButton>(&window, "btn_proc_stopVR")->isEnabled());
    QVERIFY(!Child<QPushButton>(&window, "btn_proc_countAll")->isEnabled());
}

void TestSequenceLoading::cancelledChooserKeepsTheSequence()
{
    QTemporaryDir tmp;
    QVERIFY(WriteSequence(QDir(tmp.path()), 7));
    CMivoParticleStreamAnalysis window;
    OpenFolder(window, tmp.path());
    Child<QAction>(&window, "viewImg_lastAct")->trigger();

    OpenFolder(window, QString());

    QCOMPARE(StatusText(window), QStringLiteral("[IDLE]"));
    QCOMPARE(FieldText(window, "tf_video_InputPath"), tmp.path());
    QCOMPARE(FieldText(window, "tf_view_IdxInstance"), QStringLiteral("7"));
    QCOMPARE(PreviewGrey(window), FrameGrey(6));
    Child<QAction>(&window, "viewImg_firstAct")->trigger();
    QCOMPARE(PreviewGrey(window), FrameGrey(0));
}

void TestSequenceLoading::patternsMatchInAnyLetterCaseAndSkipFolders()
{
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    // Six frames in six patterns; the name order gives the grey values 20, 30, ...
    const std::pair<const char*, const char*> frames[] = {
        {"a.PNG", "PNG"}, {"b.Jpeg", "JPEG"}, {"c.TIF", "TIFF"},
        {"d.bmp", "BMP"}, {"e.JPG", "JPEG"}, {"f.Tiff", "TIFF"}};
    int i = 0;
    for (const auto& [name, format] : frames)
        QVERIFY(WriteFrame(dir.filePath(QString::fromLatin1(name)), FrameGrey(i++), 640, 480, format));
    QVERIFY(WriteFrame(dir.filePath("g.gif.txt"), 200, 640, 480, "PNG"));
    QVERIFY(dir.mkdir("h.png"));
    QVERIFY(WriteSequence(QDir(dir.filePath("h.png")), 3));

    CMivoParticleStreamAnalysis window;
    OpenFolder(window, tmp.path());

    QCOMPARE(FieldText(window, "tf_video_NumImages"), QStringLiteral("6"));
    QCOMPARE(StatusText(window), QStringLiteral("[IDLE]"));
    // JPEG frames are lossy but a flat grey survives exactly.
    QCOMPARE(ShownOrder(window, 6), std::vector<int>({20, 30, 40, 50, 60, 70}));
}

void TestSequenceLoading::nameOrderIsCaseSensitive()
{
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    const char* names[] = {"a.png", "B.png", "c.png", "D.png", "e.png", "F.png"};
    for (int i = 0; i < 6; ++i)
        QVERIFY(WriteFrame(dir.filePath(QString::fromLatin1(names[i])), FrameGrey(i)));

    CMivoParticleStreamAnalysis window;
    OpenFolder(window, tmp.path());

    // Upper case first: B, D, F, a, c, e.
    QCOMPARE(ShownOrder(window, 6), std::vector<int>({30, 50, 70, 20, 40, 60}));
    Child<QComboBox>(&window, "cb_video_order")->setCurrentIndex(1);
    QCOMPARE(ShownOrder(window, 6), std::vector<int>({60, 40, 20, 70, 50, 30}));
}

void TestSequenceLoading::timeAndSizeOrdersReListTheFolder()
{
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    QVERIFY(WriteSequence(dir, 6));
    // Modification times and sizes in orders of their own, both unlike the names.
    const int minutesOld[] = {30, 50, 10, 60, 20, 40};
    const int extraBytes[] = {3000, 1000, 6000, 2000, 5000, 4000};
    const QDateTime base(QDate(2021, 3, 4), QTime(10, 0), Qt::UTC);
    const QStringList names = dir.entryList({"*.png"}, QDir::Files, QDir::Name);
    QCOMPARE(names.size(), 6);
    for (int i = 0; i < 6; ++i) {
        // Bytes after the end of a PNG are ignored by the readers.
        QVERIFY(AppendBytes(dir.filePath(names[i]), extraBytes[i]));
        QFile file(dir.filePath(names[i]));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(base.addSecs(-60 * minutesOld[i]), QFileDevice::FileModificationTime));
    }

    CMivoParticleStreamAnalysis window;
    OpenFolder(window, tmp.path());
    auto* key = Child<QComboBox>(&window, "cb_video_sortby");
    auto* order = Child<QComboBox>(&window, "cb_video_order");

    key->setCurrentIndex(1); // Time, ascending: oldest first.
    QCOMPARE(FieldText(window, "tf_view_IdxInstance"), QStringLiteral("1"));
    QCOMPARE(ShownOrder(window, 6), std::vector<int>({50, 30, 70, 20, 60, 40}));
    order->setCurrentIndex(1); // Time, descending.
    QCOMPARE(ShownOrder(window, 6), std::vector<int>({40, 60, 20, 70, 30, 50}));
    key->setCurrentIndex(2); // Size, descending: largest first.
    QCOMPARE(ShownOrder(window, 6), std::vector<int>({40, 60, 70, 20, 50, 30}));
    order->setCurrentIndex(0); // Size, ascending.
    QCOMPARE(ShownOrder(window, 6), std::vector<int>({30, 50, 20, 70, 60, 40}));

    // The folder is listed again from disk.
    QVERIFY(WriteFrame(dir.filePath("frame_99.png"), 250));
    order->setCurrentIndex(1);
    QCOMPARE(FieldText(window, "tf_video_NumImages"), QStringLiteral("7"));
}

void TestSequenceLoading::newFolderResetsTheOrderBoxes()
{
    QTemporaryDir first;
    QTemporaryDir second;
    QVERIFY(WriteSequence(QDir(first.path()), 6));
    QVERIFY(WriteSequence(QDir(second.path()), 8));
    CMivoParticleStreamAnalysis window;
    OpenFolder(window, first.path());
    auto* key = Child<QComboBox>(&window, "cb_video_sortby");
    auto* order = Child<QComboBox>(&window, "cb_video_order");
    key->setCurrentIndex(2);
    order->setCurrentIndex(1);

    OpenFolder(window, second.path());

    QCOMPARE(key->currentIndex(), 0);
    QCOMPARE(order->currentIndex(), 0);
    QCOMPARE(FieldText(window, "tf_video_NumImages"), QStringLiteral("8"));
    QCOMPARE(Child<QSlider>(&window, "sld_view_FrameSlider")->maximum(), 8);
    QCOMPARE(ShownOrder(window, 8), std::vector<int>({20, 30, 40, 50, 60, 70, 80, 90}));
}

void TestSequenceLoading::orderChangeWithoutSequenceIsRefused()
{
    CMivoParticleStreamAnalysis window;
    Child<QComboBox>(&window, "cb_video_sortby")->setCurrentIndex(1);
    QCOMPARE(StatusText(window), QStringLiteral("[IDLE] The input file does not contain images"));
    QCOMPARE(FieldText(window, "tf_video_NumImages"), QStringLiteral("0"));
    QCOMPARE(FieldText(window, "tf_view_IdxInstance"), QStringLiteral("0"));
}

QTEST_MAIN(TestSequenceLoading)
#include "tst_sequence_loading.moc"
