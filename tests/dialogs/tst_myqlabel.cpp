#include "dialogs/myqlabel.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// Parent that counts the mouse events reaching it.
class CountingParent : public QWidget
{
public:
    int mouseEvents = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++mouseEvents; }
    void mouseReleaseEvent(QMouseEvent*) override { ++mouseEvents; }
    void mouseMoveEvent(QMouseEvent*) override { ++mouseEvents; }
    void mouseDoubleClickEvent(QMouseEvent*) override { ++mouseEvents; }
};

} // namespace

class TestMyQLabel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void dragOutsideReportsUnclampedPositions();
    void rightButtonPressIsReported();
    void moveWithoutButtonIsNotReported();
    void doubleClickIsReportedInDeliveryOrder();
    void eventsDoNotReachTheParent();

private:
    CountingParent* parent = nullptr;
    myQLabel* label = nullptr;
};

void TestMyQLabel::init()
{
    parent = new CountingParent;
    parent->resize(300, 300);
    label = new myQLabel(parent);
    label->setGeometry(50, 50, 200, 200);
    parent->show();
    QVERIFY(QTest::qWaitForWindowExposed(parent));
}

void TestMyQLabel::cleanup()
{
    delete parent;
    parent = nullptr;
    label = nullptr;
}

void TestMyQLabel::dragOutsideReportsUnclampedPositions()
{
    QSignalSpy pressed(label, &myQLabel::sigMouse_Pressed);
    QSignalSpy moved(label, &myQLabel::sigMouse_Pos);
    QSignalSpy released(label, &myQLabel::sigMouse_Release);
    QSignalSpy doubled(label, &myQLabel::sigMouse_dblClick);
    // The fields must hold the new position when the signal arrives.
    QList<QPoint> seenAtMove;
    connect(label, &myQLabel::sigMouse_Pos, this,
            [&] { seenAtMove.append(QPoint(label->mouseX, label->mouseY)); });

    QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(10, 20));
    QCOMPARE(label->mouseX, 10);
    QCOMPARE(label->mouseY, 20);
    QVERIFY(label->leftPressed);
    QTest::mouseMove(label, QPoint(40, 90));
    QTest::mouseMove(label, QPoint(-5, 300));
    QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(-5, 300));

    QCOMPARE(pressed.count(), 1);
    QCOMPARE(moved.count(), 2);
    QCOMPARE(released.count(), 1);
    QCOMPARE(doubled.count(), 0);
    QCOMPARE(seenAtMove, QList<QPoint>({QPoint(40, 90), QPoint(-5, 300)}));
    QCOMPARE(label->mouseX, -5);
    QCOMPARE(label->mouseY, 300);
}

void TestMyQLabel::rightButtonPressIsReported()
{
    QSignalSpy pressed(label, &myQLabel::sigMouse_Pressed);
    QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QVERIFY(label->leftPressed);

    QTest::mousePress(label, Qt::RightButton, Qt::NoModifier, QPoint(30, 40));
    QCOMPARE(pressed.count(), 2);
    QVERIFY(!label->leftPressed);
    QCOMPARE(label->mouseX, 30);
    QCOMPARE(label->mouseY, 40);
    QTest::mouseRelease(label, Qt::RightButton, Qt::NoModifier, QPoint(30, 40));
}

void TestMyQLabel::moveWithoutButtonIsNotReported()
{
    QVERIFY(!label->hasMouseTracking());
    QSignalSpy moved(label, &myQLabel::sigMouse_Pos);
    QTest::mouseMove(label, QPoint(20, 20));
    QTest::mouseMove(label, QPoint(60, 80));
    QCOMPARE(moved.count(), 0);
}

void TestMyQLabel::doubleClickIsReportedInDeliveryOrder()
{
    QStringList order;
    connect(label, &myQLabel::sigMouse_Pressed, this, [&] { order << "press"; });
    connect(label, &myQLabel::sigMouse_Release, this, [&] { order << "release"; });
    connect(label, &myQLabel::sigMouse_dblClick, this, [&] { order << "double"; });

    // Through the window, as the platform delivers it: the second press becomes the
    // double click.
    QTest::mouseDClick(parent->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                       label->mapTo(parent, QPoint(70, 80)));

    QCOMPARE(order, QStringList({"press", "release", "double", "release"}));
    QCOMPARE(label->mouseX, 70);
    QCOMPARE(label->mouseY, 80);
}

void TestMyQLabel::eventsDoNotReachTheParent()
{
    // A plain label passes an unused press on to its parent; this one keeps it.
    QLabel plain(parent);
    plain.setGeometry(0, 0, 40, 40);
    plain.show();
    QTest::mousePress(&plain, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QTest::mouseRelease(&plain, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    const int passedOn = parent->mouseEvents;
    QVERIFY(passedOn > 0);

    QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QTest::mouseMove(label, QPoint(9, 9));
    QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(9, 9));
    QTest::mouseDClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(9, 9));
    QCOMPARE(parent->mouseEvents, passedOn);
}

QTEST_MAIN(TestMyQLabel)
#include "tst_myqlabel.moc"
