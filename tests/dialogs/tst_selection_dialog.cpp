#include "dialog_helpers.h"
#include "dialogs/myqlabel.h"
#include "dialogs/selection_dialog.h"
#include "particle_image.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool IsMagenta(QRgb p)
{
    return qRed(p) > qGreen(p) + 40 && qBlue(p) > qGreen(p) + 40;
}

bool IsYellow(QRgb p)
{
    return qRed(p) > qBlue(p) + 20 && qGreen(p) > qBlue(p) + 20;
}

// Bounding box and number of the pixels that pass the test.
QRect Bounds(const QImage& image, bool (*test)(QRgb), int* count)
{
    QRect box;
    *count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (test(image.pixel(x, y))) {
                box |= QRect(x, y, 1, 1);
                ++*count;
            }
    return box;
}

} // namespace

class TestSelectionDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void measuresTheFirstParticleAndSendsTheRange();
    void shortDragsDrawOrWarn();
    void dragLeavingTheImageIsClamped();
    void unreadableImageIsNotMeasured();

private:
    QTemporaryDir folder;
    CGui4SelectRegion* dialog = nullptr;
    QString framePath;

    myQLabel* Label() { return Child<myQLabel>(dialog, "label"); }
    QString Field(const char* name) { return Child<QLineEdit>(dialog, name)->text(); }
    QRect Painted(bool (*test)(QRgb), int* count)
    {
        return Bounds(Label()->pixmap().toImage(), test, count);
    }
    void Click(const char* button)
    {
        QTest::mouseClick(Child<QPushButton>(dialog, button), Qt::LeftButton);
    }
    void Drag(QPoint from, QPoint to, bool release = true)
    {
        QTest::mousePress(Label(), Qt::LeftButton, Qt::NoModifier, from);
        QTest::mouseMove(Label(), (from + to) / 2);
        QTest::mouseMove(Label(), to);
        if (release)
            QTest::mouseRelease(Label(), Qt::LeftButton, Qt::NoModifier, to);
    }
};

void TestSelectionDialog::init()
{
    framePath = folder.filePath(QStringLiteral("particles.png"));
    QVERIFY(ParticleFrame().save(framePath));
    dialog = new CGui4SelectRegion;
    dialog->show();
    dialog->SetPixelSize(1.5);
    dialog->SetImage(framePath);
}

void TestSelectionDialog::cleanup()
{
    delete dialog;
}

void TestSelectionDialog::measuresTheFirstParticleAndSendsTheRange()
{
    QSignalSpy minimum(dialog, &CGui4SelectRegion::sigManual_MinPxl);
    QSignalSpy maximum(dialog, &CGui4SelectRegion::sigManual_MaxPxl);
    // "Ok" before any measurement: one pixel times the factors, truncated.
    Click("btnOk");
    QVERIFY(dialog->isHidden());
    dialog->show();

    // The box around the 120-pixel particle (60..71 x 40..51). The check box changes
    // nothing.
    Child<QCheckBox>(dialog, "chb_darkBackGround")->setChecked(true);
    QCOMPARE(Label()->size(), QSize(kParticleFrameWidth, kParticleFrameHeight));
    Drag(QPoint(50, 30), QPoint(80, 70));
    for (const char* field : {"tf_areaPxl", "tf_areaPxl_2", "tf_areaPxl_3"})
        QCOMPARE(Field(field), QStringLiteral("120"));
    QCOMPARE(Field("tf_areaMu"), QStringLiteral("180"));
    // Its pixels are tinted yellow (one pixel off the drawing at most, see
    // particle_image.h); the rubber band is gone.
    int count = 0;
    QVERIFY(QRect(59, 39, 14, 14).contains(Painted(IsYellow, &count)));
    QCOMPARE(count, 120);
    Painted(IsMagenta, &count);
    QCOMPARE(count, 0);

    Click("btnOk");
    Child<QDoubleSpinBox>(dialog, "sbMin")->setValue(0.35);
    Child<QDoubleSpinBox>(dialog, "sbMax")->setValue(7.5);
    Click("btnOk");
    // "Cancel" sends nothing and keeps the measurement.
    Click("btnCancel");
    QVERIFY(dialog->isHidden());
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("120"));

    QCOMPARE(minimum.count(), 3);
    const QList<int> expected[] = {{0, 2}, {60, 300}, {42, 900}};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(minimum.at(i).at(0).toInt(), expected[i][0]);
        QCOMPARE(maximum.at(i).at(0).toInt(), expected[i][1]);
    }
}

void TestSelectionDialog::shortDragsDrawOrWarn()
{
    MessageBoxWatcher boxes;
    int count = 0;
    // 4 pixels: no rubber band yet; 15 pixels (9, 12): a band of 9 x 12.
    Drag(QPoint(100, 100), QPoint(104, 100), false);
    Painted(IsMagenta, &count);
    QCOMPARE(count, 0);
    QTest::mouseMove(Label(), QPoint(109, 112));
    QCOMPARE(Painted(IsMagenta, &count), QRect(100, 100, 9, 12));
    QCOMPARE(count, 9 * 12);

    // Released there: too small to measure; the band stays.
    QTest::mouseRelease(Label(), Qt::LeftButton, Qt::NoModifier, QPoint(109, 112));
    QCOMPARE(boxes.Texts(), QStringList({"Please, select a larger area."}));
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("0"));
    QCOMPARE(Field("tf_areaMu"), QStringLiteral("0.0"));
    QCOMPARE(Painted(IsMagenta, &count), QRect(100, 100, 9, 12));

    // Dragged up and left; a larger selection of background measures 0.
    Drag(QPoint(150, 120), QPoint(120, 100));
    QCOMPARE(boxes.Texts().size(), 1);
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("0"));
    QCOMPARE(Field("tf_areaMu"), QStringLiteral("0"));
}

void TestSelectionDialog::dragLeavingTheImageIsClamped()
{
    MessageBoxWatcher boxes;
    const int lastRow = kParticleFrameHeight - 1;
    int count = 0;

    // From (10, lastRow - 9) to the left of and below the image: the far corner becomes
    // (0, lastRow), 13.5 pixels away, so the band stays inside and nothing is measured.
    Drag(QPoint(10, lastRow - 9), QPoint(-30, lastRow + 40));
    QCOMPARE(Painted(IsMagenta, &count), QRect(0, lastRow - 9, 10, 9));
    QCOMPARE(boxes.Texts(), QStringList({"Please, select a larger area."}));

    // A larger drag the same way measures the 33-pixel particle in that corner.
    Drag(QPoint(50, lastRow - 49), QPoint(-40, lastRow + 40));
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("33"));
    QCOMPARE(Field("tf_areaMu"), QStringLiteral("49.5"));
    // Up and to the right of the image as well.
    Drag(QPoint(40, 60), QPoint(500, -20));
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("120"));
    QCOMPARE(boxes.Texts().size(), 1);
}

void TestSelectionDialog::unreadableImageIsNotMeasured()
{
    MessageBoxWatcher boxes;
    Drag(QPoint(50, 30), QPoint(80, 70));
    const QString broken = folder.filePath(QStringLiteral("broken.png"));
    QFile file(broken);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a picture") > 0);
    file.close();

    // The earlier picture is no longer offered for selecting, nor measured.
    dialog->SetImage(broken);
    QVERIFY(Label()->pixmap().isNull());
    QCOMPARE(Label()->text(), QStringLiteral("Can not read image broken.png"));
    Drag(QPoint(50, 30), QPoint(80, 70));
    Drag(QPoint(5, 5), QPoint(8, 8));
    QVERIFY(boxes.Texts().isEmpty());
    QVERIFY(Label()->pixmap().isNull());
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("120"));

    // A readable image afterwards is shown and measured again.
    dialog->SetImage(framePath);
    Drag(QPoint(50, 100), QPoint(0, 149));
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("33"));
}

QTEST_MAIN(TestSelectionDialog)
#include "tst_selection_dialog.moc"
