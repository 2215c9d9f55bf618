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

// Rows of the top band in an image, read down a column no other overlay touches: the
// hatching is black and white, the frames mid grey.
int HatchedTopRows(const QImage& image, int column = 600)
{
    int rows = 0;
    while (rows < image.height() && (image.pixel(column, rows) == qRgb(0, 0, 0) ||
                                     image.pixel(column, rows) == qRgb(255, 255, 255)))
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
    void dialogOpensOnTheShownFrameAndItsOkHatches();
    void cancelUncheckAndEscapeLeaveNoMargins();
    void noSequenceNoDialog();
    void unreadableFrameOpensNoDialog();
    void noFrameShownOpensNoDialog();

private:
    QTemporaryDir* folder = nullptr;
    CMivoParticleStreamAnalysis* window = nullptr;
    CTool4CropImg* dialog = nullptr;

    QCheckBox* CropBox() { return Child<QCheckBox>(window, "proc_chb_cropImg"); }
    void ClickCropBox() { QTest::mouseClick(CropBox(), Qt::LeftButton); }
    void ShowFrameNumber(int n) { Child<QSlider>(window, "sld_view_FrameSlider")->setValue(n); }
    int WindowBand() { return HatchedTopRows(PreviewImage(*window)); }
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
    Child<QCheckBox>(window, "chb_video_grid")->setChecked(false);
}

void TestCropAndRange::cleanup()
{
    delete window;
    delete folder;
}

void TestCropAndRange::dialogOpensOnTheShownFrameAndItsOkHatches()
{
    ShowFrameNumber(4);
    ClickCropBox();
    QVERIFY(dialog->isVisible() && CropBox()->isChecked());
    QCOMPARE(StatusText(*window), QStringLiteral("[Running] Select region of interesting."));
    // The fourth file.
    const QImage preview = Child<myQLabel>(dialog, "labImage")->pixmap().toImage();
    QCOMPARE(qGray(preview.pixel(preview.width() / 2, preview.height() / 2)), FrameGrey(3));

    Child<QSpinBox>(dialog, "sb_crop_left")->setValue(10);
    DialogButton("btn_Ok");
    QVERIFY(dialog->isHidden() && CropBox()->isChecked());
    QCOMPARE(FieldText(*window, "proc_tf_cropImg"), QStringLiteral("[U-0.1, B-0, L-0, R-0]"));
    // 0.1 of 480 rows: rows 0 to 47 hatched, on this frame and the next one shown.
    QCOMPARE(WindowBand(), 48);
    QCOMPARE(PreviewGrey(*window), FrameGrey(3));
    Child<QAction>(window, "viewImg_nextAct")->trigger();
    QCOMPARE(WindowBand(), 48);
    QCOMPARE(PreviewGrey(*window), FrameGrey(4));
}

void TestCropAndRange::cancelUncheckAndEscapeLeaveNoMargins()
{
    ShowFrameNumber(2);
    ClickCropBox();
    Child<QSpinBox>(dialog, "sb_crop_left")->setValue(25);
    DialogButton("btn_Cancel");
    QVERIFY(dialog->isHidden() && !CropBox()->isChecked());
    QVERIFY(FieldText(*window, "proc_tf_cropImg").isEmpty());
    QCOMPARE(WindowBand(), 0);

    // Accepted, then unchecked: text, fractions and hatching go.
    ClickCropBox();
    DialogButton("btn_Ok");
    QCOMPARE(WindowBand(), 120);
    ClickCropBox();
    QVERIFY(!CropBox()->isChecked() && dialog->isHidden());
    QVERIFY(FieldText(*window, "proc_tf_cropImg").isEmpty());
    QCOMPARE(WindowBand(), 0);
    QCOMPARE(PreviewGrey(*window), FrameGrey(1));

    // Escape: the box stays checked with no margins until the next click.
    ClickCropBox();
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(dialog->isHidden() && CropBox()->isChecked());
    Child<QAction>(window, "viewImg_nextAct")->trigger();
    QCOMPARE(WindowBand(), 0);
    ClickCropBox();
    QVERIFY(!CropBox()->isChecked() && dialog->isHidden());
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
    QVERIFY(dialog->isHidden() && !CropBox()->isChecked());
    QCOMPARE(StatusText(*window), QStringLiteral("[WARNING] Can not read image frame_02.png"));
}

void TestCropAndRange::noFrameShownOpensNoDialog()
{
    // A sequence whose first frame cannot be shown: the frame number reads 0.
    QTemporaryDir other;
    QVERIFY(WriteSequence(QDir(other.path()), 6));
    WriteBroken(QDir(other.path()).filePath("a_broken.png"));
    CMivoParticleStreamAnalysis fresh;
    OpenFolder(fresh, other.path());
    QCOMPARE(FieldText(fresh, "tf_view_IdxInstance"), QStringLiteral("0"));

    auto* box = Child<QCheckBox>(&fresh, "proc_chb_cropImg");
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(!box->isChecked() && fresh.findChild<CTool4CropImg*>()->isHidden());
    QCOMPARE(StatusText(fresh), QStringLiteral("[WARNING] Out of range"));
    // Unchecking with that number still clears the crop.
    box->setChecked(true);
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(!box->isChecked());
    // The manual calibration needs a frame as well.
    QTest::mouseClick(Child<QPushButton>(&fresh, "btn_setting_manualSelection"), Qt::LeftButton);
    QVERIFY(fresh.findChild<CGui4SelectRegion*>()->isHidden());
    QCOMPARE(StatusText(fresh), QStringLiteral("[WARNING] Out of range"));
}

QTEST_MAIN(TestCropAndRange)
#include "tst_crop_and_range.moc"
