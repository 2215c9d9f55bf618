// Loading, frame viewer and crop setting of the main window, on flat frames whose grey tells which file is shown.

#include "window_fixture.h"

#include "dialogs/crop_dialog.h"

#include <QAbstractSpinBox>
#include <QInputDialog>
#include <QMenu>
#include <QSpinBox>

namespace {

// Grey value of the preview where no overlay reaches, at any frame size.
int Grey(Window& w)
{
    const QImage image = PreviewImage(w);
    return qGray(image.pixel(image.width() * 15 / 32, image.height() * 25 / 48));
}

QList<int> ShownOrder(Window& w, int count)
{
    QList<int> greys;
    Child<QAction>(&w, "viewImg_firstAct")->trigger();
    for (int i = 0; i < count; ++i, Child<QAction>(&w, "viewImg_nextAct")->trigger()) greys << Grey(w);
    return greys;
}

// Overlays are tinted cyan, the frames grey; the hatching is black and white.
bool IsOverlay(QRgb p)
{
    return qGreen(p) > qRed(p) + 20;
}
bool IsHatched(QRgb p)
{
    return p == qRgb(0, 0, 0) || p == qRgb(255, 255, 255);
}

// Where the runs of pixels that pass the test start, along a row or a column.
QList<int> RunStarts(Window& w, bool alongRow, int at, bool (*test)(QRgb) = IsOverlay)
{
    const QImage image = PreviewImage(w);
    QList<int> starts;
    for (int i = 0, before = false; i < (alongRow ? image.width() : image.height()); ++i) {
        const bool now = test(alongRow ? image.pixel(i, at) : image.pixel(at, i));
        if (now && !before) starts << i;
        before = now;
    }
    return starts;
}

int HatchedTopRows(Window& w)
{
    return RunStarts(w, false, 600, [](QRgb p) { return !IsHatched(p); }).value(0);
}

}  // namespace

class TestSequence : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup()
    {
        delete window;
        QSettings().clear();
    }
    void startsWithTheLogo();
    void listingOrder();
    void navigationStopsAtTheEnds();
    void gridBars();
    void flowText();
    void doubleClickTogglesNaturalSize();
    void cropMarginsAreHatched();
    void goToFrame();
    void everyControlHasATip();

private:
    QTemporaryDir flat, mixed, settings;  // frame_00.png ... frame_09.png, 640 x 480; six frames of several formats
    Window* window = nullptr;
    void Trigger(const char* action) { Child<QAction>(window, action)->trigger(); }
    QString Shown()
    {  // frame number, grey, status
        return QString("%1 %2 %3")
            .arg(FieldText(*window, "tf_view_IdxInstance"))
            .arg(Grey(*window))
            .arg(StatusText(*window));
    }
};

void TestSequence::initTestCase()
{
    KeepSettingsIn(settings.path());
    for (int i = 0; i < 10; ++i)
        QVERIFY(WriteFrame(flat.filePath(QString::asprintf("frame_%02d.png", i)), FrameGrey(i)));
    // Names in mixed letter case; modification times and sizes in orders of their own.
    const struct {
        const char *name, *format;
        int minutesOld, extraBytes;
    } frames[] = {{"B.png", "PNG", 30, 3}, {"a.PNG", "PNG", 50, 1},  {"c.Jpeg", "JPEG", 10, 6},
                  {"D.bmp", "BMP", 60, 2}, {"e.TIF", "TIFF", 20, 5}, {"F.tiff", "TIFF", 40, 4}};
    for (int i = 0; i < 6; ++i) {
        QFile file(mixed.filePath(frames[i].name));
        QVERIFY(WriteFrame(file.fileName(), FrameGrey(i), frames[i].format, {64, 48}));
        // Bytes after the end of the image are ignored by the readers.
        QVERIFY(file.open(QIODevice::Append) && file.write(QByteArray(frames[i].extraBytes * 20000, 0)) > 0 &&
                file.flush());
        QVERIFY(file.setFileTime(QDateTime(QDate(2021, 3, 4), QTime(10, 0)).addSecs(-60 * frames[i].minutesOld),
                                 QFileDevice::FileModificationTime));
    }
    QVERIFY(WriteFrame(mixed.filePath("g.gif"), 200, "PNG") && QDir(mixed.path()).mkdir("h.png"));
}

void TestSequence::init()
{
    window = new Window;
    OpenFolder(*window, flat.path());
}

void TestSequence::startsWithTheLogo()
{
    // Compiled in: the test runs where no picture files lie.
    Window fresh;
    QCOMPARE(PreviewImage(fresh).size(), QSize(512, 512));
    QVERIFY(!fresh.windowIcon().isNull());
}

void TestSequence::listingOrder()
{
    OpenFolder(*window, mixed.path());
    QCOMPARE(FieldText(*window, "tf_video_NumImages") + " " + FieldText(*window, "tf_video_Size"), "6 48x64");
    const struct {
        int key, order;
        QList<int> greys;
    } orders[] = {{0, 0, {20, 50, 70, 30, 40, 60}}, {0, 1, {60, 40, 30, 70, 50, 20}},   // by name, upper case first
                  {1, 1, {40, 60, 20, 70, 30, 50}}, {1, 0, {50, 30, 70, 20, 60, 40}},   // by time, newest first
                  {2, 0, {30, 50, 20, 70, 60, 40}}, {2, 1, {40, 60, 70, 20, 50, 30}}};  // by size, smallest first
    for (const auto& o : orders) {  // some rows change the key alone, some the order alone
        Child<QComboBox>(window, "cb_video_sortby")->setCurrentIndex(o.key);
        Child<QComboBox>(window, "cb_video_order")->setCurrentIndex(o.order);
        QCOMPARE(ShownOrder(*window, 6) << o.key << o.order, QList<int>(o.greys) << o.key << o.order);
    }
}

void TestSequence::navigationStopsAtTheEnds()
{
    auto* slider = Child<QSlider>(window, "sld_view_FrameSlider");
    Trigger("viewImg_preAct");
    QCOMPARE(Shown(), "1 20 [IDLE]");
    slider->setValue(7);
    QCOMPARE(Shown(), "7 80 [IDLE]");
    Trigger("viewImg_nextAct");
    QCOMPARE(slider->value(), 8);
    Trigger("viewImg_lastAct");
    Trigger("viewImg_nextAct");
    QCOMPARE(Shown(), "10 110 [IDLE]");
    slider->setValue(2);  // still connected after the actions moved it
    QCOMPARE(Shown(), "2 30 [IDLE]");
    // Numbers outside the sequence (from a stale index field) change nothing.
    for (int value : {0, 11}) {
        QVERIFY(QMetaObject::invokeMethod(window, "slot_sld_view_eventValueChanged", Q_ARG(int, value)));
        QCOMPARE(Shown(), "2 30 [WARNING] Out of range");
    }
}

void TestSequence::gridBars()
{
    QCOMPARE(RunStarts(*window, true, 400), QList<int>({213, 426}));
    QCOMPARE(RunStarts(*window, false, 600), QList<int>({160, 320}));
    QCOMPARE(RunStarts(*window, false, 600, [](QRgb p) { return !IsOverlay(p); }),
             QList<int>({0, 163, 323}));  // 3 rows
    Child<QCheckBox>(window, "chb_video_grid")->setChecked(false);
    QCOMPARE(RunStarts(*window, true, 470), QList<int>());
    Child<QComboBox>(window, "cb_viewtool_sizeGrid")->setCurrentIndex(1);  // kept while off
    Child<QCheckBox>(window, "chb_video_grid")->setChecked(true);
    QCOMPARE(RunStarts(*window, true, 470), QList<int>({160, 320, 480}));
}

void TestSequence::flowText()
{
    // ">>>>" for the flow to the right: its bounds start at the baseline's left end (100, 100).
    Child<QCheckBox>(window, "chb_video_grid")->setChecked(false);
    QRect text;
    const QImage image = PreviewImage(*window);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) text |= IsOverlay(image.pixel(x, y)) ? QRect(x, y, 1, 1) : QRect();
    QVERIFY2((text.bottomLeft() - QPoint(100, 100)).manhattanLength() <= 8 && text.width() > 3 * text.height(),
             qPrintable(
                 QString("%1, %2, %3 x %4").arg(text.left()).arg(text.bottom()).arg(text.width()).arg(text.height())));
}

void TestSequence::doubleClickTogglesNaturalSize()
{
    auto* preview = Child<QLabel>(window, "labImage");
    QTest::mouseDClick(preview, Qt::LeftButton);
    QVERIFY(!preview->hasScaledContents() && preview->sizeHint() == QSize(640, 480));
    QTest::mouseDClick(preview, Qt::LeftButton);
    QVERIFY(preview->hasScaledContents());
    QTest::mouseDClick(preview, Qt::LeftButton);
    Trigger("viewImg_nextAct");  // another frame is fitted again
    QVERIFY(preview->hasScaledContents() && preview->sizePolicy().verticalPolicy() == QSizePolicy::Ignored);
}

void TestSequence::cropMarginsAreHatched()
{
    auto* box = Child<QCheckBox>(window, "proc_chb_cropImg");
    auto* dialog = window->findChild<CTool4CropImg*>();
    const auto click = [](QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); };
    Child<QCheckBox>(window, "chb_video_grid")->setChecked(false);
    Child<QSlider>(window, "sld_view_FrameSlider")->setValue(4);
    click(box);
    QVERIFY(dialog->isVisible() && box->isChecked());
    const QImage shown = Child<QLabel>(dialog, "labImage")->pixmap().toImage();  // the fourth file
    QCOMPARE(qGray(shown.pixel(shown.width() / 2, shown.height() / 2)), FrameGrey(3));
    Child<QSpinBox>(dialog, "sb_crop_left")->setValue(11);  // the top edge's box
    click(Child<QPushButton>(dialog, "btn_Ok"));
    QCOMPARE(FieldText(*window, "proc_tf_cropImg"), "[U-0.11, B-0, L-0, R-0]");
    QCOMPARE(HatchedTopRows(*window), 52);  // 0.11 of 480 rows, truncated, on every frame shown
    Trigger("viewImg_nextAct");
    QCOMPARE(HatchedTopRows(*window) * 1000 + Grey(*window), 52 * 1000 + FrameGrey(4));

    click(box);  // unchecked: no text, no margins
    QVERIFY(FieldText(*window, "proc_tf_cropImg").isEmpty() && HatchedTopRows(*window) == 0);
    click(box);
    click(Child<QPushButton>(dialog, "btn_Cancel"));
    QVERIFY(!box->isChecked() && FieldText(*window, "proc_tf_cropImg").isEmpty() && HatchedTopRows(*window) == 0);
}

void TestSequence::goToFrame()
{
    // Numbers outside the sequence are refused as the index field's are.
    const struct {
        int number;
        const char* shown;
    } rows[] = {{7, "7 80 [IDLE]"},
                {10, "10 110 [IDLE]"},
                {0, "10 110 [WARNING] Out of range"},
                {11, "10 110 [WARNING] Out of range"},
                {1, "1 20 [IDLE]"}};
    for (const auto& row : rows) {
        QTimer poll;
        connect(&poll, &QTimer::timeout, &poll, [&poll, &row] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            poll.stop();
            dialog->setIntValue(row.number);
            dialog->accept();
        });
        poll.start(10);
        Trigger("viewImg_gotoAct");
        QCOMPARE(Shown(), row.shown);
    }
}

void TestSequence::everyControlHasATip()
{
    QStringList bare;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
                             qobject_cast<QComboBox*>(widget) || qobject_cast<QSlider*>(widget) ||
                             qobject_cast<QAbstractSpinBox*>(widget) || widget->objectName() == "labImage";
        // The editor inside a spin box or a combo box shows its owner's tip.
        const QWidget* owner = widget->parentWidget();
        const bool inner = qobject_cast<const QAbstractSpinBox*>(owner) || qobject_cast<const QComboBox*>(owner) ||
                           widget->objectName().startsWith("qt_");  // Qt's own, such as the menu bar's overflow
        if (control && !inner && widget->toolTip().isEmpty() && widget->statusTip().isEmpty())
            bare << widget->metaObject()->className() + QString(" ") + widget->objectName();
    }
    for (QAction* action : window->findChildren<QAction*>()) {
        // An action without a tip of its own shows its text as one.
        if (!action->isSeparator() && !action->menu() && action->statusTip().isEmpty() &&
            action->toolTip() == QString(action->text()).remove('&'))
            bare << "QAction " + action->objectName();
    }
    QVERIFY2(bare.isEmpty(), qPrintable(bare.join(", ")));
}

QTEST_MAIN(TestSequence)
#include "tst_sequence.moc"
