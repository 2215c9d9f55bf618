#include "window_fixture.h"

#include "dialogs/crop_dialog.h"
#include "dialogs/myqlabel.h"
#include "dialogs/selection_dialog.h"

#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A pixel of the margin hatching: black or white, where the frames are mid grey.
bool HatchPixel(QRgb p)
{
    return p == qRgb(0, 0, 0) || p == qRgb(255, 255, 255);
}

// Rows of the preview, at a column no overlay touches, that belong to the top band.
int HatchedTopRows(const QImage& preview)
{
    int rows = 0;
    while (rows < preview.height() && HatchPixel(preview.pixel(600, rows)))
        ++rows;
    return rows;
}

void WriteBroken(const QString& path)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write("not a picture");
}

} // namespace

class TestCropAndRange : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void checkingOpensTheDialogOnTheShownFrame();
    void okHatchesTheTopTenth();
    void cancelLeavesTheFrameUncropped();
    void uncheckingClearsTheCrop();
    void escapeLeavesTheBoxCheckedWithoutMargins();
    void noSequenceNoDialog();
    void unreadableFrameOpensNoDialog();
    void staleFrameNumberOpensNoDialog();
    void noFrameShownYetOpensNoDialog();
    void rangeControlsAreInert();

private:
    QTemporaryDir* folder = nullptr;
    CMivoParticleStreamAnalysis* window = nullptr;
    CTool4CropImg* dialog = nullptr;

    QCheckBox* CropBox() { return Child<QCheckBox>(window, "proc_chb_cropImg"); }
    void ClickCropBox() { QTest::mouseClick(CropBox(), Qt::LeftButton); }
    void ShowFrameNumber(int n) { Child<QSlider>(window, "sld_view_FrameSlider")->setValue(n); }
    QImage DialogPreview() { return Child<myQLabel>(dialog, "labImage")->pixmap().toImage(); }
    void DialogButton(const char* name)
    {
        QTest::mouseClick(Child<QPushButton>(dialog, name), Qt::LeftButton);
    }
};

void TestCropAndRange::init()
{
    folder = new QTemporaryDir;
    QVERIFY(WriteSequence(QDir(folder->path()), 10));
    window = new CMivoParticleStreamAnalysis;
    dialog = window->findChild<CTool4CropImg*>();
    QVERIFY(dialog && dialog->parent() == window && dialog->isHidden());
    OpenFolder(*window, folder->path());
    // Without the grid only the hatching and the flow text (left of column 300) overlay
    // the frame.
    Child<QCheckBox>(window, "chb_video_grid")->setChecked(false);
}

void TestCropAndRange::cleanup()
{
    delete window;
    delete folder;
}

void TestCropAndRange::checkingOpensTheDialogOnTheShownFrame()
{
    ShowFrameNumber(4);
    ClickCropBox();
    QVERIFY(dialog->isVisible());
    QVERIFY(CropBox()->isChecked());
    QCOMPARE(StatusText(*window), QStringLiteral("[Running] Select region of interesting."));
    // The fourth file, unhatched while all boxes are 0.
    const QImage preview = DialogPreview();
    QVERIFY(!preview.isNull());
    QCOMPARE(qGray(preview.pixel(preview.width() / 2, 0)), FrameGrey(3));
    QCOMPARE(qGray(preview.pixel(preview.width() / 2, preview.height() / 2)), FrameGrey(3));
}

void TestCropAndRange::okHatchesTheTopTenth()
{
    ShowFrameNumber(4);
    ClickCropBox();
    Child<QSpinBox>(dialog, "sb_crop_left")->setValue(10);
    DialogButton("btn_Ok");

    QVERIFY(dialog->isHidden());
    QVERIFY(CropBox()->isChecked());
    QCOMPARE(FieldText(*window, "proc_tf_cropImg"), QStringLiteral("[U-0.1, B-0, L-0, R-0]"));
    QCOMPARE(FieldText(*window, "tf_view_IdxInstance"), QStringLiteral("4"));
    // 0.1 of 480 rows: rows 0 to 47 hatched, the rest is the frame.
    QImage preview = PreviewImage(*window);
    QCOMPARE(HatchedTopRows(preview), 48);
    for (int y = 48; y < 480; y += 29)
        QCOMPARE(qGray(preview.pixel(600, y)), FrameGrey(3));

    // The margins stay with every frame shown.
    Child<QAction>(window, "viewImg_nextAct")->trigger();
    preview = PreviewImage(*window);
    QCOMPARE(HatchedTopRows(preview), 48);
    QCOMPARE(qGray(preview.pixel(600, 48)), FrameGrey(4));
}

void TestCropAndRange::cancelLeavesTheFrameUncropped()
{
    ShowFrameNumber(2);
    ClickCropBox();
    Child<QSpinBox>(dialog, "sb_crop_left")->setValue(20);
    DialogButton("btn_Cancel");
    QVERIFY(dialog->isHidden());
    QVERIFY(!CropBox()->isChecked());
    QVERIFY(FieldText(*window, "proc_tf_cropImg").isEmpty());
    QCOMPARE(HatchedTopRows(PreviewImage(*window)), 0);
    QCOMPARE(PreviewGrey(*window), FrameGrey(1));

    // Opened again: the box kept its value, so the preview shows the band.
    ClickCropBox();
    QVERIFY(dialog->isVisible());
    const QImage preview = DialogPreview();
    QVERIFY(HatchPixel(preview.pixel(preview.width() / 2, 0)));
    QCOMPARE(qGray(preview.pixel(preview.width() / 2, preview.height() - 1)), FrameGrey(1));
}

void TestCropAndRange::uncheckingClearsTheCrop()
{
    ShowFrameNumber(3);
    ClickCropBox();
    Child<QSpinBox>(dialog, "sb_crop_left")->setValue(25);
    DialogButton("btn_Ok");
    QCOMPARE(HatchedTopRows(PreviewImage(*window)), 120);

    ClickCropBox();
    QVERIFY(!CropBox()->isChecked());
    QVERIFY(dialog->isHidden());
    QVERIFY(FieldText(*window, "proc_tf_cropImg").isEmpty());
    QCOMPARE(HatchedTopRows(PreviewImage(*window)), 0);
    QCOMPARE(FieldText(*window, "tf_view_IdxInstance"), QStringLiteral("3"));

    // Checked again and cancelled: the old fractions do not come back.
    ClickCropBox();
    DialogButton("btn_Cancel");
    CropBox()->setChecked(true);  // as after Escape: checked, no result
    Child<QAction>(window, "viewImg_nextAct")->trigger();
    QCOMPARE(HatchedTopRows(PreviewImage(*window)), 0);
}

void TestCropAndRange::escapeLeavesTheBoxCheckedWithoutMargins()
{
    ClickCropBox();
    Child<QSpinBox>(dialog, "sb_crop_left")->setValue(30);
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(dialog->isHidden());
    QVERIFY(CropBox()->isChecked());
    Child<QAction>(window, "viewImg_nextAct")->trigger();
    QCOMPARE(HatchedTopRows(PreviewImage(*window)), 0);
    // The next click unchecks.
    ClickCropBox();
    QVERIFY(!CropBox()->isChecked());
    QVERIFY(dialog->isHidden());
}

void TestCropAndRange::noSequenceNoDialog()
{
    CMivoParticleStreamAnalysis fresh;
    auto* box = Child<QCheckBox>(&fresh, "proc_chb_cropImg");
    // The group is disabled without a sequence; the slot is reached from code.
    box->setChecked(true);
    QVERIFY(QMetaObject::invokeMethod(&fresh, "slot_chb_proc_cropImg"));
    QVERIFY(!box->isChecked());
    QCOMPARE(StatusText(fresh),
             QStringLiteral(
                 "[Running] No image was found, please load images before setting cropping process"));
    QVERIFY(fresh.findChild<CTool4CropImg*>()->isHidden());
}

void TestCropAndRange::unreadableFrameOpensNoDialog()
{
    ShowFrameNumber(3);
    WriteBroken(QDir(folder->path()).filePath("frame_02.png"));
    ClickCropBox();
    QVERIFY(dialog->isHidden());
    QVERIFY(!CropBox()->isChecked());
    QCOMPARE(StatusText(*window), QStringLiteral("[WARNING] Can not read image frame_02.png"));

    // Removed altogether: the same.
    QVERIFY(QFile::remove(QDir(folder->path()).filePath("frame_02.png")));
    ClickCropBox();
    QVERIFY(dialog->isHidden());
    QVERIFY(!CropBox()->isChecked());
    QCOMPARE(StatusText(*window), QStringLiteral("[WARNING] Can not read image frame_02.png"));
}

void TestCropAndRange::staleFrameNumberOpensNoDialog()
{
    // Frame 10 of this sequence is on screen. The next folder has six files; neither its
    // first one nor its sixth (where the slider lands) can be shown, so the frame number
    // 10 stays, beyond the new list.
    Child<QAction>(window, "viewImg_lastAct")->trigger();
    QTemporaryDir other;
    QVERIFY(WriteSequence(QDir(other.path()), 4));
    WriteBroken(QDir(other.path()).filePath("a_broken.png"));
    WriteBroken(QDir(other.path()).filePath("z_broken.png"));
    OpenFolder(*window, other.path());
    QCOMPARE(FieldText(*window, "tf_video_NumImages"), QStringLiteral("6"));
    QCOMPARE(FieldText(*window, "tf_view_IdxInstance"), QStringLiteral("10"));

    ClickCropBox();
    QVERIFY(dialog->isHidden());
    QVERIFY(!CropBox()->isChecked());
    QCOMPARE(StatusText(*window), QStringLiteral("[WARNING] Out of range"));

    // Unchecking with that number shows no frame and still clears the crop.
    CropBox()->setChecked(true);
    ClickCropBox();
    QVERIFY(!CropBox()->isChecked());
    QVERIFY(FieldText(*window, "proc_tf_cropImg").isEmpty());

    // The manual calibration has the same need of a frame.
    QTest::mouseClick(Child<QPushButton>(window, "btn_setting_manualSelection"), Qt::LeftButton);
    QVERIFY(window->findChild<CGui4SelectRegion*>()->isHidden());
    QCOMPARE(StatusText(*window), QStringLiteral("[WARNING] Out of range"));
}

void TestCropAndRange::noFrameShownYetOpensNoDialog()
{
    // A first sequence whose first frame cannot be shown: the frame number reads 0.
    QTemporaryDir other;
    QVERIFY(WriteSequence(QDir(other.path()), 6));
    WriteBroken(QDir(other.path()).filePath("a_broken.png"));
    CMivoParticleStreamAnalysis fresh;
    OpenFolder(fresh, other.path());
    QCOMPARE(FieldText(fresh, "tf_view_IdxInstance"), QStringLiteral("0"));

    QTest::mouseClick(Child<QCheckBox>(&fresh, "proc_chb_cropImg"), Qt::LeftButton);
    QVERIFY(!Child<QCheckBox>(&fresh, "proc_chb_cropImg")->isChecked());
    QVERIFY(fresh.findChild<CTool4CropImg*>()->isHidden());
    QCOMPARE(StatusText(fresh), QStringLiteral("[WARNING] Out of range"));
    QTest::mouseClick(Child<QPushButton>(&fresh, "btn_setting_manualSelection"), Qt::LeftButton);
    QVERIFY(fresh.findChild<CGui4SelectRegion*>()->isHidden());
    QCOMPARE(StatusText(fresh), QStringLiteral("[WARNING] Out of range"));
}

void TestCropAndRange::rangeControlsAreInert()
{
    auto* allFrames = Child<QCheckBox>(window, "proc_chb_AllFrames");
    QVERIFY(!allFrames->isEnabled() && allFrames->isChecked());
    QVERIFY(QMetaObject::invokeMethod(window, "slot_chb_proc_setRange"));
    QCOMPARE(StatusText(*window), QStringLiteral("[Running] Select region of interesting."));
    QVERIFY(allFrames->isChecked());
    QCOMPARE(FieldText(*window, "proc_tf_Range4Process"), QStringLiteral("Process from 0 --> 1"));
}

QTEST_MAIN(TestCropAndRange)
#include "tst_crop_and_range.moc"
