#include "dialog_helpers.h"
#include "dialogs/myqlabel.h"
#include "dialogs/selection_dialog.h"
#include "particle_image.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
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

int CountPixels(const QImage& image, bool (*test)(QRgb))
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += test(image.pixel(x, y)) ? 1 : 0;
    return n;
}

QRect Bounds(const QImage& image, bool (*test)(QRgb))
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (test(image.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

class TestSelectionDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void opensWindowModalWithoutCloseButton();
    void measuresTheFirstParticleAndSendsTheRange();
    void factorsAndDarkBackground();
    void shortDragsDrawOrWarn();
    void dragLeavingTheImageIsClamped();
    void emptySelectionAndEarlyOk();
    void cancelSendsNothingAndKeepsTheValues();
    void unreadableImageIsNotMeasured();

private:
    QTemporaryDir* folder = nullptr;
    CGui4SelectRegion* dialog = nullptr;
    QString framePath;

    myQLabel* Label() { return Child<myQLabel>(dialog, "label"); }
    QString Field(const char* name) { return Child<QLineEdit>(dialog, name)->text(); }
    QImage Shown() { return Label()->pixmap().toImage(); }
    void Drag(QPoint from, QPoint to, bool release = true)
    {
        QTest::mousePress(Label(), Qt::LeftButton, Qt::NoModifier, from);
        QTest::mouseMove(Label(), (from + to) / 2);
        QTest::mouseMove(Label(), to);
        if (release)
            QTest::mouseRelease(Label(), Qt::LeftButton, Qt::NoModifier, to);
    }
    // Around the 120-pixel particle (box 60..71 x 40..51).
    void SelectParticle120() { Drag(QPoint(50, 30), QPoint(80, 70)); }
};

void TestSelectionDialog::init()
{
    folder = new QTemporaryDir;
    framePath = folder->filePath(QStringLiteral("particles.png"));
    QVERIFY(ParticleFrame().save(framePath));
    dialog = new CGui4SelectRegion;
    dialog->show();
    dialog->SetPixelSize(1.5);
    dialog->SetImage(framePath);
}

void TestSelectionDialog::cleanup()
{
    delete dialog;
    delete folder;
}

void TestSelectionDialog::opensWindowModalWithoutCloseButton()
{
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    QVERIFY(dialog->isModal());
    const Qt::WindowFlags flags = dialog->windowFlags();
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint) && flags.testFlag(Qt::WindowTitleHint));
    QVERIFY(!flags.testFlag(Qt::WindowCloseButtonHint));
    QCOMPARE(dialog->minimumSize(), QSize(602, 422));
    QCOMPARE(dialog->maximumSize(), QSize(602, 422));
    QCOMPARE(dialog->windowTitle(),
             QStringLiteral("[VOSK] Toos for selecting interesting particle"));
    QCOMPARE(Field("tf_PixelSize"), QStringLiteral("1.5"));

    // Shown pixel for pixel: label coordinates are image coordinates.
    QCOMPARE(Label()->size(), QSize(kParticleFrameWidth, kParticleFrameHeight));
    QVERIFY(!Label()->hasScaledContents());
    QCOMPARE(Shown().pixel(63, 50), qRgb(50, 50, 50));
}

void TestSelectionDialog::measuresTheFirstParticleAndSendsTheRange()
{
    QSignalSpy minimum(dialog, &CGui4SelectRegion::sigManual_MinPxl);
    QSignalSpy maximum(dialog, &CGui4SelectRegion::sigManual_MaxPxl);
    QStringList order;
    connect(dialog, &CGui4SelectRegion::sigManual_MinPxl, this, [&] { order << "min"; });
    connect(dialog, &CGui4SelectRegion::sigManual_MaxPxl, this, [&] { order << "max"; });

    SelectParticle120();
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("120"));
    QCOMPARE(Field("tf_areaPxl_2"), QStringLiteral("120"));
    QCOMPARE(Field("tf_areaPxl_3"), QStringLiteral("120"));
    QCOMPARE(Field("tf_areaMu"), QStringLiteral("180"));

    // The particle's pixels are tinted yellow (the mask may sit a pixel off the drawn
    // particle, see particle_image.h); the rubber band is gone.
    const QImage shown = Shown();
    QCOMPARE(CountPixels(shown, IsYellow), 120);
    QVERIFY(QRect(59, 39, 14, 14).contains(Bounds(shown, IsYellow)));
    QCOMPARE(CountPixels(shown, IsMagenta), 0);
    QCOMPARE(shown.pixel(55, 35), qRgb(200, 200, 200));

    QTest::mouseClick(Child<QPushButton>(dialog, "btnOk"), Qt::LeftButton);
    QCOMPARE(minimum.count(), 1);
    QCOMPARE(minimum.at(0).at(0).toInt(), 60);
    QCOMPARE(maximum.at(0).at(0).toInt(), 300);
    QCOMPARE(order, QStringList({"min", "max"}));
    QVERIFY(dialog->isHidden());
}

void TestSelectionDialog::factorsAndDarkBackground()
{
    QSignalSpy minimum(dialog, &CGui4SelectRegion::sigManual_MinPxl);
    QSignalSpy maximum(dialog, &CGui4SelectRegion::sigManual_MaxPxl);
    // The check box is shown but changes nothing.
    Child<QCheckBox>(dialog, "chb_darkBackGround")->setChecked(true);
    SelectParticle120();
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("120"));

    // Products truncated toward zero: 0.35 x 120 = 42, 7.5 x 120 = 900; then the ends
    // of both ranges.
    Child<QDoubleSpinBox>(dialog, "sbMin")->setValue(0.35);
    Child<QDoubleSpinBox>(dialog, "sbMax")->setValue(7.5);
    QTest::mouseClick(Child<QPushButton>(dialog, "btnOk"), Qt::LeftButton);
    Child<QDoubleSpinBox>(dialog, "sbMin")->setValue(0.01);
    Child<QDoubleSpinBox>(dialog, "sbMax")->setValue(25.0);
    QTest::mouseClick(Child<QPushButton>(dialog, "btnOk"), Qt::LeftButton);
    QCOMPARE(minimum.count(), 2);
    QCOMPARE(minimum.at(0).at(0).toInt(), 42);
    QCOMPARE(maximum.at(0).at(0).toInt(), 900);
    QCOMPARE(minimum.at(1).at(0).toInt(), 12);
    QCOMPARE(maximum.at(1).at(0).toInt(), 2400);
}

void TestSelectionDialog::shortDragsDrawOrWarn()
{
    MessageBoxWatcher boxes;
    const QImage clean = Shown();

    // 4 pixels: no rubber band yet.
    Drag(QPoint(100, 100), QPoint(104, 100), false);
    QCOMPARE(Shown(), clean);
    // 15 pixels (9, 12): the band covers columns 100..108 and rows 100..111.
    QTest::mouseMove(Label(), QPoint(109, 112));
    QImage shown = Shown();
    QCOMPARE(CountPixels(shown, IsMagenta), 9 * 12);
    QVERIFY(IsMagenta(shown.pixel(100, 100)) && IsMagenta(shown.pixel(108, 111)));
    QVERIFY(!IsMagenta(shown.pixel(109, 112)));

    // Released there: too small to measure.
    QTest::mouseRelease(Label(), Qt::LeftButton, Qt::NoModifier, QPoint(109, 112));
    QCOMPARE(boxes.Texts(), QStringList({"Please, select a larger area."}));
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("0"));
    QCOMPARE(Field("tf_areaMu"), QStringLiteral("0.0"));
    QCOMPARE(CountPixels(Shown(), IsMagenta), 9 * 12);

    // A band drawn in any direction; the next one replaces it.
    Drag(QPoint(150, 120), QPoint(120, 100), false);
    shown = Shown();
    QCOMPARE(CountPixels(shown, IsMagenta), 30 * 20);
    QVERIFY(IsMagenta(shown.pixel(120, 100)) && !IsMagenta(shown.pixel(150, 120)));
    QTest::mouseRelease(Label(), Qt::LeftButton, Qt::NoModifier, QPoint(120, 100));
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("0"));
    QCOMPARE(boxes.Texts().size(), 1);
}

void TestSelectionDialog::dragLeavingTheImageIsClamped()
{
    MessageBoxWatcher boxes;
    const int lastRow = kParticleFrameHeight - 1;

    // From (10, lastRow - 9) to the left of and below the image: the far corner becomes
    // (0, lastRow), 13.5 pixels away, so the band stays inside and nothing is measured.
    Drag(QPoint(10, lastRow - 9), QPoint(-30, lastRow + 40));
    QImage shown = Shown();
    QCOMPARE(CountPixels(shown, IsMagenta), 10 * 9);
    QVERIFY(IsMagenta(shown.pixel(0, lastRow - 9)) && IsMagenta(shown.pixel(9, lastRow - 1)));
    QVERIFY(!IsMagenta(shown.pixel(0, lastRow)));
    QCOMPARE(boxes.Texts(), QStringList({"Please, select a larger area."}));

    // A larger drag the same way measures the 33-pixel particle in the corner.
    Drag(QPoint(50, lastRow - 49), QPoint(-40, lastRow + 40));
    QCOMPARE(boxes.Texts().size(), 1);
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("33"));
    QCOMPARE(Field("tf_areaMu"), QStringLiteral("49.5"));
    QCOMPARE(CountPixels(Shown(), IsYellow), 33);

    // Up and to the right of the image as well.
    Drag(QPoint(40, 60), QPoint(500, -20));
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("120"));
}

void TestSelectionDialog::emptySelectionAndEarlyOk()
{
    QSignalSpy minimum(dialog, &CGui4SelectRegion::sigManual_MinPxl);
    QSignalSpy maximum(dialog, &CGui4SelectRegion::sigManual_MaxPxl);
    // Before any measurement the base is one pixel: trunc(0.5) and trunc(2.5).
    QTest::mouseClick(Child<QPushButton>(dialog, "btnOk"), Qt::LeftButton);
    dialog->show();
    // Background only.
    Drag(QPoint(110, 20), QPoint(190, 100));
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("0"));
    QCOMPARE(Field("tf_areaPxl_3"), QStringLiteral("0"));
    QCOMPARE(Field("tf_areaMu"), QStringLiteral("0"));
    QTest::mouseClick(Child<QPushButton>(dialog, "btnOk"), Qt::LeftButton);

    QCOMPARE(minimum.count(), 2);
    QCOMPARE(minimum.at(0).at(0).toInt(), 0);
    QCOMPARE(maximum.at(0).at(0).toInt(), 2);
    QCOMPARE(minimum.at(1).at(0).toInt(), 0);
    QCOMPARE(maximum.at(1).at(0).toInt(), 0);
}

void TestSelectionDialog::cancelSendsNothingAndKeepsTheValues()
{
    QSignalSpy minimum(dialog, &CGui4SelectRegion::sigManual_MinPxl);
    SelectParticle120();
    QTest::mouseClick(Child<QPushButton>(dialog, "btnCancel"), Qt::LeftButton);
    QVERIFY(dialog->isHidden());
    QCOMPARE(minimum.count(), 0);

    // Opened again: the last measurement is still the base.
    dialog->show();
    dialog->SetImage(framePath);
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("120"));
    QTest::mouseClick(Child<QPushButton>(dialog, "btnOk"), Qt::LeftButton);
    QCOMPARE(minimum.count(), 1);
    QCOMPARE(minimum.at(0).at(0).toInt(), 60);
}

void TestSelectionDialog::unreadableImageIsNotMeasured()
{
    MessageBoxWatcher boxes;
    SelectParticle120();
    const QString broken = folder->filePath(QStringLiteral("broken.png"));
    QFile file(broken);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a picture");
    file.close();

    dialog->SetImage(broken);
    // The earlier picture is no longer offered for selecting.
    QVERIFY(Label()->pixmap().isNull());
    QCOMPARE(Label()->text(), QStringLiteral("Can not read image broken.png"));

    Drag(QPoint(50, 30), QPoint(80, 70));
    Drag(QPoint(5, 5), QPoint(8, 8));
    QVERIFY(boxes.Texts().isEmpty());
    QVERIFY(Label()->pixmap().isNull());
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("120"));
    QCOMPARE(Field("tf_areaMu"), QStringLiteral("180"));

    // A readable image afterwards is shown and measured again.
    dialog->SetImage(framePath);
    QCOMPARE(Label()->size(), QSize(kParticleFrameWidth, kParticleFrameHeight));
    Drag(QPoint(50, 100), QPoint(0, 149));
    QCOMPARE(Field("tf_areaPxl"), QStringLiteral("33"));
}

QTEST_MAIN(TestSelectionDialog)
#include "tst_selection_dialog.moc"
