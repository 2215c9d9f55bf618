#include "window_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace {

// Overlay pixels are tinted cyan: more green than red. The frames are grey.
bool IsOverlay(QRgb pixel)
{
    return qGreen(pixel) > qRed(pixel) + 20;
}

// Bounding box of the overlay pixels of the preview.
QRect OverlayBounds(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (IsOverlay(image.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

// Starts of the runs of overlay pixels along one row or column.
QList<int> BarStarts(const QImage& image, bool alongRow, int at)
{
    QList<int> starts;
    const int length = alongRow ? image.width() : image.height();
    bool inside = false;
    for (int i = 0; i < length; ++i) {
        const bool overlay = IsOverlay(alongRow ? image.pixel(i, at) : image.pixel(at, i));
        if (overlay && !inside)
            starts.append(i);
        inside = overlay;
    }
    return starts;
}

void Invoke(CMivoParticleStreamAnalysis& window, const char* slot)
{
    QVERIFY(QMetaObject::invokeMethod(&window, slot));
}

} // namespace

class TestFrameViewer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void navigationStopsAtBothEnds();
    void sliderAndActionsAgree();
    void greyFramesKeepTheirValues();
    void gridBarsSplitTheFrame();
    void gridFollowsCheckAndSize();
    void flowTextMarksTheDirection();
    void doubleClickTogglesNaturalSize();
    void frameDeletedAfterLoadingIsReported();
    void indicesOutsideTheSequenceAreRefused();
    void unreadableFirstFrameLeavesNothingToReshow();
    void viewerIgnoresInputWithoutSequence();
    void cropWithoutMarginsHatchesNothing();

private:
    QTemporaryDir* folder = nullptr;
    CMivoParticleStreamAnalysis* window = nullptr;
    void Trigger(const char* action) { Child<QAction>(window, action)->trigger(); }
    QString Index() { return FieldText(*window, "tf_view_IdxInstance"); }
};

void TestFrameViewer::init()
{
    folder = new QTemporaryDir;
    QVERIFY(WriteSequence(QDir(folder->path()), 10));
    window = new CMivoParticleStreamAnalysis;
    OpenFolder(*window, folder->path());
    QCOMPARE(Index(), QStringLiteral("1"));
}

void TestFrameViewer::cleanup()
{
    delete window;
    delete folder;
}

void TestFrameViewer::navigationStopsAtBothEnds()
{
    Trigger("viewImg_preAct");
    QCOMPARE(Index(), QStringLiteral("1"));
    QCOMPARE(PreviewGrey(*window), FrameGrey(0));

    Trigger("viewImg_lastAct");
    QCOMPARE(Index(), QStringLiteral("10"));
    Trigger("viewImg_nextAct");
    QCOMPARE(Index(), QStringLiteral("10"));
    QCOMPARE(PreviewGrey(*window), FrameGrey(9));

    Trigger("viewImg_firstAct");
    Trigger("viewImg_nextAct");
    Trigger("viewImg_nextAct");
    QCOMPARE(Index(), QStringLiteral("3"));
    Trigger("viewImg_preAct");
    QCOMPARE(Index(), QStringLiteral("2"));
    QCOMPARE(PreviewGrey(*window), FrameGrey(1));
}

void TestFrameViewer::sliderAndActionsAgree()
{
    auto* slider = Child<QSlider>(window, "sld_view_FrameSlider");
    slider->setValue(7);
    QCOMPARE(Index(), QStringLiteral("7"));
    QCOMPARE(PreviewGrey(*window), FrameGrey(6));

    Trigger("viewImg_nextAct");
    QCOMPARE(slider->value(), 8);
    QCOMPARE(PreviewGrey(*window), FrameGrey(7));

    // The slider stays connected after the actions moved it.
    slider->setValue(2);
    QCOMPARE(Index(), QStringLiteral("2"));
    QCOMPARE(PreviewGrey(*window), FrameGrey(1));

    // The keyboard shortcuts reach the actions.
    QCOMPARE(Child<QAction>(window, "viewImg_nextAct")->shortcut(), QKeySequence(Qt::Key_Right));
    QCOMPARE(Child<QAction>(window, "viewImg_lastAct")->shortcut(),
             QKeySequence(Qt::CTRL | Qt::Key_Right));
}

void TestFrameViewer::greyFramesKeepTheirValues()
{
    // A gradient frame: every grey level must come out as the same grey.
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    cv::Mat ramp(480, 640, CV_8UC1);
    for (int y = 0; y < ramp.rows; ++y)
        for (int x = 0; x < ramp.cols; ++x)
            ramp.at<uchar>(y, x) = uchar((x + y) % 256);
    for (int i = 0; i < 6; ++i)
        QVERIFY(cv::imwrite(dir.filePath(QStringLiteral("r%1.png").arg(i)).toStdString(), ramp));
    OpenFolder(*window, tmp.path());

    const QImage image = PreviewImage(*window);
    QCOMPARE(image.size(), QSize(640, 480));
    for (int x = 450; x < 640; x += 7) {
        const int y = 400 + x % 60;
        QCOMPARE(image.pixel(x, y), qRgb((x + y) % 256, (x + y) % 256, (x + y) % 256));
    }
}

void TestFrameViewer::gridBarsSplitTheFrame()
{
    const QImage image = PreviewImage(*window);
    QCOMPARE(image.size(), QSize(640, 480));
    QCOMPARE(BarStarts(image, true, 400), QList<int>({213, 426}));
    QCOMPARE(BarStarts(image, false, 600), QList<int>({160, 320}));
    // Bars are three pixels wide.
    QVERIFY(IsOverlay(image.pixel(215, 400)));
    QVERIFY(!IsOverlay(image.pixel(216, 400)));
    QVERIFY(IsOverlay(image.pixel(600, 322)));
    QVERIFY(!IsOverlay(image.pixel(600, 323)));
    // Half-transparent cyan over the grey of frame 0, twice where two bars cross.
    const QRgb bar = image.pixel(214, 400);
    QVERIFY(qRed(bar) < FrameGrey(0) && qGreen(bar) > 120 && qBlue(bar) > 120);
    QVERIFY(qGreen(image.pixel(214, 161)) > qGreen(bar));
}

void TestFrameViewer::gridFollowsCheckAndSize()
{
    Trigger("viewImg_nextAct");
    auto* size = Child<QComboBox>(window, "cb_viewtool_sizeGrid");
    size->setCurrentIndex(2);
    QImage image = PreviewImage(*window);
    QCOMPARE(BarStarts(image, true, 470), QList<int>({128, 256, 384, 512}));
    QCOMPARE(BarStarts(image, false, 620), QList<int>({96, 192, 288, 384}));
    QCOMPARE(Index(), QStringLiteral("2"));

    Child<QCheckBox>(window, "chb_video_grid")->setChecked(false);
    image = PreviewImage(*window);
    QVERIFY(BarStarts(image, true, 470).isEmpty());
    QVERIFY(BarStarts(image, false, 620).isEmpty());
    QCOMPARE(PreviewGrey(*window), FrameGrey(1));

    // The grid size is kept while the grid is off and applies again when it is on.
    size->setCurrentIndex(1);
    QVERIFY(BarStarts(PreviewImage(*window), true, 470).isEmpty());
    Child<QCheckBox>(window, "chb_video_grid")->setChecked(true);
    QCOMPARE(BarStarts(PreviewImage(*window), true, 470), QList<int>({160, 320, 480}));
}

void TestFrameViewer::flowTextMarksTheDirection()
{
    Child<QCheckBox>(window, "chb_video_grid")->setChecked(false);

    // Right: ">>>>" written along the baseline that starts at (100, 100).
    QRect text = OverlayBounds(PreviewImage(*window));
    QVERIFY2(!text.isEmpty(), "no flow text");
    QVERIFY(text.left() >= 100 && text.left() < 110);
    QVERIFY(text.bottom() <= 101 && text.top() > 50);
    QVERIFY(text.width() > 2 * text.height());
    QVERIFY(Child<QPushButton>(window, "btn_flow_right")->isChecked());

    // Up: "<<<<" turned 90 degrees clockwise about (100, 280), running down the frame
    // on the right of its anchor. Only reachable from code; the button is disabled.
    Invoke(*window, "slot_btn_flow_up");
    text = OverlayBounds(PreviewImage(*window));
    QVERIFY(text.top() >= 280 && text.top() < 290);
    QVERIFY(text.left() >= 99 && text.right() < 150);
    QVERIFY(text.height() > 2 * text.width());
    QVERIFY(Child<QPushButton>(window, "btn_flow_up")->isChecked());
    QVERIFY(!Child<QPushButton>(window, "btn_flow_right")->isChecked());

    // Down: turned 270 degrees about (100, 200), running up the frame.
    Invoke(*window, "slot_btn_flow_down");
    text = OverlayBounds(PreviewImage(*window));
    QVERIFY(text.bottom() <= 200 && text.bottom() > 190);
    QVERIFY(text.right() <= 101 && text.left() > 50);
    QVERIFY(Child<QPushButton>(window, "btn_flow_down")->isChecked());

    // Left: at (imageWidth - 200, 100).
    Invoke(*window, "slot_btn_flow_left");
    text = OverlayBounds(PreviewImage(*window));
    QVERIFY(text.left() >= 440 && text.left() < 450);
    QVERIFY(text.bottom() <= 101);

    // Back to the right with the button itself.
    QTest::mouseClick(Child<QPushButton>(window, "btn_flow_right"), Qt::LeftButton);
    text = OverlayBounds(PreviewImage(*window));
    QVERIFY(text.left() >= 100 && text.left() < 110);
    QVERIFY(Child<QPushButton>(window, "btn_flow_right")->isChecked());
    QVERIFY(!Child<QPushButton>(window, "btn_flow_left")->isChecked());
    QCOMPARE(Index(), QStringLiteral("1"));
}

void TestFrameViewer::doubleClickTogglesNaturalSize()
{
    auto* preview = Child<QLabel>(window, "labImage");
    QVERIFY(preview->hasScaledContents());

    QTest::mouseDClick(preview, Qt::LeftButton);
    QVERIFY(!preview->hasScaledContents());
    QCOMPARE(preview->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(preview->sizeHint(), QSize(640, 480));

    QTest::mouseDClick(preview, Qt::LeftButton);
    QVERIFY(preview->hasScaledContents());
    QCOMPARE(preview->sizePolicy().horizontalPolicy(), QSizePolicy::Ignored);

    // Showing another frame returns to fit mode.
    QTest::mouseDClick(preview, Qt::LeftButton);
    QVERIFY(!preview->hasScaledContents());
    Trigger("viewImg_nextAct");
    QVERIFY(preview->hasScaledContents());
    QCOMPARE(preview->sizePolicy().verticalPolicy(), QSizePolicy::Ignored);
}

void TestFrameViewer::frameDeletedAfterLoadingIsReported()
{
    QVERIFY(QFile::remove(QDir(folder->path()).filePath("frame_01.png")));
    Trigger("viewImg_nextAct");
    QCOMPARE(StatusText(*window), QStringLiteral("[WARNING] Out of range"));
    QCOMPARE(Index(), QStringLiteral("1"));
    QCOMPARE(Child<QSlider>(window, "sld_view_FrameSlider")->value(), 1);
    QCOMPARE(PreviewGrey(*window), FrameGrey(0));

    // The frame after it is still reachable through the slider.
    Child<QSlider>(window, "sld_view_FrameSlider")->setValue(3);
    QCOMPARE(StatusText(*window), QStringLiteral("[IDLE]"));
    QCOMPARE(PreviewGrey(*window), FrameGrey(2));
}

void TestFrameViewer::indicesOutsideTheSequenceAreRefused()
{
    Trigger("viewImg_lastAct");
    for (int value : {0, -3, 11, 1000}) {
        QVERIFY(QMetaObject::invokeMethod(window, "slot_sld_view_eventValueChanged",
                                          Q_ARG(int, value)));
        QCOMPARE(StatusText(*window), QStringLiteral("[WARNING] Out of range"));
        QCOMPARE(Index(), QStringLiteral("10"));
        QCOMPARE(PreviewGrey(*window), FrameGrey(9));
    }
}

void TestFrameViewer::unreadableFirstFrameLeavesNothingToReshow()
{
    // Seven files, the first by name not an image: the sequence loads but frame 0
    // cannot be shown, so the index field stays 0.
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    QVERIFY(WriteSequence(dir, 6));
    QFile broken(dir.filePath("a_broken.png"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("not a picture");
    broken.close();
    CMivoParticleStreamAnalysis fresh;

    OpenFolder(fresh, tmp.path());
    QCOMPARE(FieldText(fresh, "tf_video_NumImages"), QStringLiteral("7"));
    QCOMPARE(FieldText(fresh, "tf_video_Size"), QStringLiteral("0x0"));
    QCOMPARE(FieldText(fresh, "tf_view_IdxInstance"), QStringLiteral("0"));
    QCOMPARE(StatusText(fresh), QStringLiteral("[WARNING] Out of range"));
    const QImage logo = PreviewImage(fresh);

    // Grid, grid size and direction re-show "the current frame": there is none.
    Child<QCheckBox>(&fresh, "chb_video_grid")->setChecked(false);
    Child<QComboBox>(&fresh, "cb_viewtool_sizeGrid")->setCurrentIndex(1);
    QTest::mouseClick(Child<QPushButton>(&fresh, "btn_flow_right"), Qt::LeftButton);
    QCOMPARE(FieldText(fresh, "tf_view_IdxInstance"), QStringLiteral("0"));
    QCOMPARE(PreviewImage(fresh), logo);

    // Stepping on from there shows the next readable frame.
    Child<QAction>(&fresh, "viewImg_lastAct")->trigger();
    QCOMPARE(FieldText(fresh, "tf_view_IdxInstance"), QStringLiteral("7"));
    QCOMPARE(PreviewGrey(fresh), FrameGrey(5));
}

void TestFrameViewer::viewerIgnoresInputWithoutSequence()
{
    CMivoParticleStreamAnalysis fresh;
    const QImage logo = PreviewImage(fresh);
    Child<QAction>(&fresh, "viewImg_nextAct")->trigger();
    Child<QAction>(&fresh, "viewImg_lastAct")->trigger();
    QTest::mouseDClick(Child<QLabel>(&fresh, "labImage"), Qt::LeftButton);
    Child<QComboBox>(&fresh, "cb_viewtool_sizeGrid")->setCurrentIndex(2);
    QCOMPARE(FieldText(fresh, "tf_view_IdxInstance"), QStringLiteral("0"));
    QCOMPARE(PreviewImage(fresh), logo);
    QVERIFY(Child<QLabel>(&fresh, "labImage")->hasScaledContents());
    QVERIFY(StatusText(fresh).isEmpty());
}

void TestFrameViewer::cropWithoutMarginsHatchesNothing()
{
    // Checked before the crop dialog gave any margins: all four are still 0.
    const QImage before = PreviewImage(*window);
    QTest::mouseClick(Child<QCheckBox>(window, "proc_chb_cropImg"), Qt::LeftButton);
    QVERIFY(Child<QCheckBox>(window, "proc_chb_cropImg")->isChecked());
    Trigger("viewImg_nextAct");
    Trigger("viewImg_preAct");
    QCOMPARE(PreviewImage(*window), before);
}

QTEST_MAIN(TestFrameViewer)
#include "tst_frame_viewer.moc"
