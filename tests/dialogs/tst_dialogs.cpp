// The mouse-reporting label, the particle selection dialog and the crop dialog.

#include "particle_image.h"

#include "dialogs/crop_dialog.h"
#include "dialogs/myqlabel.h"
#include "dialogs/selection_dialog.h"
#include "dialogs/window_placement.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

namespace {

template <class T> T* Child(QObject* parent, const char* name)
{
    return parent->findChild<T*>(QString::fromLatin1(name));
}

void Click(QWidget* dialog, const char* button)
{
    QTest::mouseClick(Child<QPushButton>(dialog, button), Qt::LeftButton);
}

void Drag(QWidget* label, QPoint from, QPoint to)
{
    QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(label, (from + to) / 2);
    QTest::mouseMove(label, to);
    QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, to);
}

}  // namespace

class TestDialogs : public QObject {
    Q_OBJECT

private slots:
    void labelReportsWhereTheMouseWas();
    void selectionMeasuresTheParticleInTheDrag();
    void cropDialogSendsItsMargins();
    void resultWindowsBesideTheMain_data();
    void resultWindowsBesideTheMain();
};

void TestDialogs::labelReportsWhereTheMouseWas()
{
    myQLabel label;
    label.resize(200, 200);
    QStringList seen;  // the position is kept before the signal goes out
    const auto note = [&](const char* what) {
        return [&seen, &label, what] { seen << QString("%1 %2,%3").arg(what).arg(label.mouseX).arg(label.mouseY); };
    };
    connect(&label, &myQLabel::sigMouse_Pressed, this, note("press"));
    connect(&label, &myQLabel::sigMouse_Pos, this, note("move"));
    connect(&label, &myQLabel::sigMouse_Release, this, note("release"));
    connect(&label, &myQLabel::sigMouse_dblClick, this, note("double"));
    Drag(&label, QPoint(10, 20), QPoint(-5, 300));  // leaves the label: not clamped
    QVERIFY(label.leftPressed);
    QTest::mouseMove(&label, QPoint(60, 80));  // no button held: not reported
    QTest::mousePress(&label, Qt::RightButton, Qt::NoModifier, QPoint(30, 40));
    QVERIFY(!label.leftPressed);
    QTest::mouseDClick(&label, Qt::LeftButton, Qt::NoModifier, QPoint(7, 9));
    QCOMPARE(seen,
             QStringList({"press 10,20", "move 3,160", "move -5,300", "release -5,300", "press 30,40", "double 7,9"}));
}

void TestDialogs::selectionMeasuresTheParticleInTheDrag()
{
    const QImage picture = ParticleFrame();
    const cv::Mat frame(picture.height(), picture.width(), CV_8UC1, const_cast<uchar*>(picture.constBits()),
                        size_t(picture.bytesPerLine()));
    CGui4SelectRegion dialog;
    auto* label = Child<myQLabel>(&dialog, "label");
    const auto fields = [&dialog] {
        return Child<QLineEdit>(&dialog, "tf_areaPxl")->text() + " " + Child<QLineEdit>(&dialog, "tf_areaMu")->text();
    };
    QSignalSpy minimum(&dialog, &CGui4SelectRegion::sigManual_MinPxl),
        maximum(&dialog, &CGui4SelectRegion::sigManual_MaxPxl);
    QStringList boxes;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&boxes] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes << box->text();
            box->accept();
        }
    });
    poll.start(5);
    dialog.show();
    dialog.SetPixelSize(1.5);
    dialog.SetImage(frame, "/frames/particles.png");
    Click(&dialog, "btnOk");  // nothing measured: one pixel times 0.5 and 2.5, truncated
    dialog.show();

    Drag(label, QPoint(50, 30), QPoint(80, 70));  // around the 120-pixel particle
    QCOMPARE(fields(), "120 180");
    Drag(label, QPoint(100, 100), QPoint(109, 112));  // 15 pixels: too short
    Drag(label, QPoint(50, 100), QPoint(-40, 189));   // leaves the image: clamped to its corner
    QCOMPARE(fields(), "33 49.5");
    Click(&dialog, "btnOk");

    dialog.show();  // a frame that could not be read: a notice instead of the picture, nothing to select on
    dialog.SetImage(cv::Mat(), "/frames/broken.png");
    Drag(label, QPoint(50, 30), QPoint(80, 70));
    QCOMPARE(label->text() + " " + fields(), "Can not read image broken.png 33 49.5");
    QVERIFY(label->pixmap().isNull());
    Click(&dialog, "btnCancel");  // sends nothing
    QVERIFY(dialog.isHidden());
    QCOMPARE(boxes, QStringList({"Please, select a larger area."}));
    QCOMPARE(QList<QVariantList>(minimum) + QList<QVariantList>(maximum), QList<QVariantList>({{0}, {16}, {2}, {82}}));
}

void TestDialogs::cropDialogSendsItsMargins()
{
    CTool4CropImg dialog;
    // The button pictures are compiled in; the test runs where no picture files lie.
    QVERIFY(!Child<QPushButton>(&dialog, "btn_Ok")->icon().isNull());
    QVERIFY(!Child<QPushButton>(&dialog, "btn_Cancel")->icon().isNull());
    QSignalSpy result(&dialog, &CTool4CropImg::sigCrop_dataToolCropping);
    dialog.show();
    // The boxes are named after other edges than the ones they sit at.
    Child<QSpinBox>(&dialog, "sb_crop_left")->setValue(10);    // top
    Child<QSpinBox>(&dialog, "sb_crop_up")->setValue(5);       // left
    Child<QSpinBox>(&dialog, "sb_crop_bottom")->setValue(20);  // right
    Click(&dialog, "btn_Ok");
    QVERIFY(dialog.isHidden());
    dialog.show();
    Click(&dialog, "btn_Cancel");
    QCOMPARE(QList<QVariantList>(result),
             QList<QVariantList>(
                 {{0.1, 0.0, 0.05, 0.2, true, "[U-0.1, B-0, L-0.05, R-0.2]"}, {0.0, 0.0, 0.0, 0.0, false, QString()}}));
}

// A result window of 984 x 664 (at least 360 x 440) beside a main window of 893 x 693.
void TestDialogs::resultWindowsBesideTheMain_data()
{
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QPoint>("main");
    QTest::addColumn<QRect>("expected");
    const QRect screen(0, 0, 1280, 1024);
    QTest::newRow("main on the left: the right band, its width") << screen << QPoint(0, 0) << QRect(893, 0, 387, 664);
    QTest::newRow("main on the right: the left band") << screen << QPoint(387, 40) << QRect(0, 40, 387, 664);
    QTest::newRow("a wide screen: whole, level with main")
        << QRect(0, 0, 2560, 1440) << QPoint(100, 200) << QRect(993, 200, 984, 664);
    QTest::newRow("a second screen's coordinates")
        << QRect(1920, 0, 1280, 1024) << QPoint(1920, 300) << QRect(2813, 300, 387, 664);
    QTest::newRow("room only below") << QRect(0, 0, 1000, 1200) << QPoint(50, 0) << QRect(16, 693, 984, 507);
    // Centred: 193 px each side, 165 above and below; the least size against the edge that covers least.
    QTest::newRow("no room: the least, least over main") << screen << QPoint(193, 165) << QRect(920, 165, 360, 440);
}

void TestDialogs::resultWindowsBesideTheMain()
{
    QFETCH(QRect, screen);
    QFETCH(QPoint, main);
    QFETCH(QRect, expected);
    const QRect mainFrame(main, QSize(893, 693));
    const QRect placed = PlaceBeside(mainFrame, QSize(984, 664), QSize(360, 440), screen);
    QCOMPARE(placed, expected);
    QVERIFY(screen.contains(placed));
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
