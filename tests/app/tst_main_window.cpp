#include "app/mivo_particle_stream_analysis.h"
#include "dialogs/crop_dialog.h"
#include "dialogs/myqlabel.h"
#include "dialogs/selection_dialog.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QValidator>

namespace {

template <class T>
T* Child(QObject* window, const char* name)
{
    T* child = window->findChild<T*>(QString::fromLatin1(name));
    if (!child)
        qWarning("no %s named %s", T::staticMetaObject.className(), name);
    return child;
}

QValidator::State Check(QLineEdit* edit, QString text)
{
    int pos = 0;
    return edit->validator()->validate(text, pos);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void titleAndFixedSize();
    void iconsComeFromTheResources();
    void frameDiffIsTheExclusiveDefault();
    void settingDefaults();
    void validatorsRefuseOutOfRangeText_data();
    void validatorsRefuseOutOfRangeText();
    void refusedTextFinishesNoEdit();
    void controlsStateAtStart();
    void previewShowsTheLogoFromTheWorkingFolder();
    void existingSendersAreWired();

private:
    std::unique_ptr<CMivoParticleStreamAnalysis> window;
};

void TestMainWindow::initTestCase()
{
    // The validators read numbers in the default locale; the defaults are "1.5" etc.
    QLocale::setDefault(QLocale::c());
    window = std::make_unique<CMivoParticleStreamAnalysis>();
}

void TestMainWindow::titleAndFixedSize()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("[KOV 1.7.5] MIVO Tessel"));
    QCOMPARE(window->size(), QSize(893, 693));
    QCOMPARE(window->minimumSize(), QSize(893, 693));
    QCOMPARE(window->maximumSize(), QSize(893, 693));
}

void TestMainWindow::iconsComeFromTheResources()
{
    const char* paths[] = {
        ":/File/Resources/folder-documents.png", ":/sequential/Resources/go-next.png",
        ":/sequential/Resources/go-previous.png", ":/sequential/Resources/go-last.png",
        ":/sequential/Resources/go-first.png", ":/sequential/Resources/draw-arrow-down.png",
        ":/sequential/Resources/draw-arrow-up.png", ":/sequential/Resources/draw-arrow-back.png",
        ":/sequential/Resources/draw-arrow-forward.png", ":/process/Resources/select.png",
        ":/process/Resources/start-here.png", ":/process/Resources/arrow-right.png",
        ":/process/Resources/arrow-right-double.png", ":/process/Resources/document-export.png",
        ":/Dialog/Resources/dialog-cancel.png", ":/zoom/Resources/layer-visible-on.png"};
    for (const char* path : paths)
        QVERIFY2(!QImage(QString::fromLatin1(path)).isNull(), path);

    for (const char* action : {"file_openFolderAct", "viewImg_nextAct", "viewImg_firstAct"})
        QVERIFY2(!Child<QAction>(window.get(), action)->icon().isNull(), action);
    for (const char* button : {"btn_proc_runVR", "btn_flow_right", "btn_expFoI", "pushButton"})
        QVERIFY2(!Child<QPushButton>(window.get(), button)->icon().isNull(), button);
    QVERIFY(Child<QAction>(window.get(), "segOtsuAct")->icon().isNull());
}

void TestMainWindow::frameDiffIsTheExclusiveDefault()
{
    CMivoParticleStreamAnalysis fresh;
    auto* otsu = Child<QAction>(&fresh, "segOtsuAct");
    auto* mode = Child<QAction>(&fresh, "segModeAct");
    auto* diff = Child<QAction>(&fresh, "segFrameDiffAct");
    QVERIFY(diff->isChecked() && !otsu->isChecked() && !mode->isChecked());
    QVERIFY(otsu->actionGroup() && otsu->actionGroup() == diff->actionGroup());
    QVERIFY(otsu->actionGroup()->isExclusive());
    QCOMPARE(otsu->actionGroup()->parent(), &fresh);

    otsu->trigger();
    QVERIFY(otsu->isChecked() && !diff->isChecked() && !mode->isChecked());
    mode->trigger();
    QVERIFY(mode->isChecked() && !otsu->isChecked());
}

void TestMainWindow::settingDefaults()
{
    auto text = [this](const char* name) { return Child<QLineEdit>(window.get(), name)->text(); };
    QCOMPARE(text("tf_setting_PixelSize"), QStringLiteral("1.5"));
    QCOMPARE(text("tf_setting_minMu"), QStringLiteral("56.25"));
    QCOMPARE(text("tf_setting_maxMu"), QStringLiteral("225"));
    QCOMPARE(text("tf_setting_minPxl"), QStringLiteral("25"));
    QCOMPARE(text("tf_setting_maxPxl"), QStringLiteral("100"));

    auto* circularity = Child<QDoubleSpinBox>(window.get(), "sb_report_thCirc");
    QCOMPARE(circularity->value(), 0.5);
    QCOMPARE(circularity->text(), QStringLiteral("0.50"));
    QVERIFY(!circularity->isEnabled());
    auto* filter = Child<QCheckBox>(window.get(), "chb_report_FilterByCirc");
    QVERIFY(filter->isEnabled() && !filter->isChecked());
}

void TestMainWindow::validatorsRefuseOutOfRangeText_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("good");
    QTest::addColumn<QStringList>("bad");
    QTest::newRow("pixel size") << "tf_setting_PixelSize" << "100"
                                << QStringList({"0.5", "100.5", "1.234", "abc", "-2"});
    QTest::newRow("min um2") << "tf_setting_minMu" << "25000"
                             << QStringList({"0", "25000.01", "12.345"});
    QTest::newRow("max um2") << "tf_setting_maxMu" << "49999.99"
                             << QStringList({"0.99", "50000.5", "1.001"});
    QTest::newRow("min px") << "tf_setting_minPxl" << "5000"
                            << QStringList({"0", "5001", "2.5", "-1"});
    QTest::newRow("max px") << "tf_setting_maxPxl" << "10000"
                            << QStringList({"0", "10001", "x"});
}

void TestMainWindow::validatorsRefuseOutOfRangeText()
{
    QFETCH(QString, field);
    QFETCH(QString, good);
    QFETCH(QStringList, bad);
    auto* edit = Child<QLineEdit>(window.get(), field.toLatin1().constData());
    QVERIFY(edit->validator());
    QCOMPARE(edit->validator()->parent(), window.get());
    QCOMPARE(Check(edit, edit->text()), QValidator::Acceptable);
    QCOMPARE(Check(edit, good), QValidator::Acceptable);
    for (const QString& text : bad)
        QVERIFY2(Check(edit, text) != QValidator::Acceptable, qPrintable(text));
}

void TestMainWindow::refusedTextFinishesNoEdit()
{
    CMivoParticleStreamAnalysis fresh;
    fresh.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fresh));
    // The settings group is off until a sequence is loaded; switch it on to type.
    Child<QGroupBox>(&fresh, "gb_particleSetting")->setEnabled(true);
    auto* maxPixels = Child<QLineEdit>(&fresh, "tf_setting_maxPxl");
    QSignalSpy finished(maxPixels, &QLineEdit::editingFinished);
    maxPixels->setFocus();
    maxPixels->selectAll();
    QTest::keyClicks(maxPixels, QStringLiteral("0"));
    QTest::keyClick(maxPixels, Qt::Key_Return);
    QCOMPARE(finished.count(), 0);
    QTest::keyClicks(maxPixels, QStringLiteral("5"));
    QCOMPARE(maxPixels->text(), QStringLiteral("05"));
    QTest::keyClick(maxPixels, Qt::Key_Return);
    QCOMPARE(finished.count(), 1);
}

void TestMainWindow::controlsStateAtStart()
{
    for (const char* group : {"gb_proc", "gb_particleSetting", "gb_Foi"})
        QVERIFY2(!Child<QGroupBox>(window.get(), group)->isEnabled(), group);
    QVERIFY(!Child<QPushButton>(window.get(), "btn_proc_runVR")->isEnabled());
    QVERIFY(Child<QPushButton>(window.get(), "btn_expFoI")->isEnabled());

    // Only the flow to the right is available, and it is the one chosen.
    auto* right = Child<QPushButton>(window.get(), "btn_flow_right");
    QVERIFY(right->isEnabled() && right->isCheckable() && right->isChecked());
    for (const char* other : {"btn_flow_down", "btn_flow_up", "btn_flow_left"}) {
        auto* button = Child<QPushButton>(window.get(), other);
        QVERIFY2(!button->isEnabled() && !button->isChecked(), other);
    }
    // Nothing done while building reached a slot.
    QVERIFY(window->statusBar()->currentMessage().isEmpty());
}

void TestMainWindow::previewShowsTheLogoFromTheWorkingFolder()
{
    QTemporaryDir tmp;
    QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("imgs")));
    QImage logo(37, 23, QImage::Format_RGB32);
    logo.fill(Qt::darkGreen);
    QVERIFY(logo.save(tmp.filePath(QStringLiteral("imgs/logo.png"))));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(tmp.path()));
    CMivoParticleStreamAnalysis withLogo;
    QVERIFY(QDir::setCurrent(before));

    auto* preview = Child<myQLabel>(&withLogo, "labImage");
    QVERIFY(preview);
    QCOMPARE(preview->pixmap().size(), QSize(37, 23));
    QVERIFY(preview->hasScaledContents());
    QCOMPARE(preview->backgroundRole(), QPalette::Dark);
    QCOMPARE(preview->sizePolicy().horizontalPolicy(), QSizePolicy::Ignored);
    QVERIFY(!withLogo.windowIcon().isNull());
    QVERIFY(Child<QScrollArea>(&withLogo, "scrollArea")->widgetResizable());

    // Without the picture the preview is blank and nothing else changes.
    QTemporaryDir empty;
    QVERIFY(QDir::setCurrent(empty.path()));
    CMivoParticleStreamAnalysis withoutLogo;
    QVERIFY(QDir::setCurrent(before));
    QVERIFY(Child<QLabel>(&withoutLogo, "labImage")->pixmap().isNull());
    QVERIFY(withoutLogo.statusBar()->currentMessage().isEmpty());
}

void TestMainWindow::existingSendersAreWired()
{
    // Every sender that exists is wired to the window (checked by cutting the wire,
    // so on a window of its own).
    CMivoParticleStreamAnalysis wired;
    auto connected = [&wired](const char* name, auto signal) {
        QObject* sender = wired.findChild<QObject*>(QString::fromLatin1(name));
        return sender && QObject::disconnect(sender, QMetaMethod::fromSignal(signal), &wired,
                                             QMetaMethod());
    };
    for (const char* action : {"file_openFolderAct", "viewImg_nextAct", "viewImg_preAct",
                               "viewImg_firstAct", "viewImg_lastAct", "segOtsuAct", "segModeAct",
                               "segFrameDiffAct"})
        QVERIFY2(connected(action, &QAction::triggered), action);
    for (const char* box : {"cb_video_sortby", "cb_video_order", "cb_viewtool_sizeGrid"})
        QVERIFY2(connected(box, &QComboBox::currentIndexChanged), box);
    for (const char* button : {"btn_flow_right", "btn_flow_left", "btn_flow_up", "btn_flow_down",
                               "btn_proc_runVR", "btn_proc_stopVR", "btn_proc_countAll",
                               "btn_proc_countOne", "btn_setting_manualSelection", "btn_expFoI",
                               "proc_chb_cropImg", "proc_chb_AllFrames"})
        QVERIFY2(connected(button, &QAbstractButton::clicked), button);
    for (const char* slider : {"sld_view_FrameSlider", "sld_vr_line"})
        QVERIFY2(connected(slider, &QSlider::valueChanged), slider);
    for (const char* edit : {"tf_setting_PixelSize", "tf_setting_minMu", "tf_setting_maxMu",
                             "tf_setting_minPxl", "tf_setting_maxPxl"})
        QVERIFY2(connected(edit, &QLineEdit::editingFinished), edit);
    for (const char* check : {"chb_video_grid", "chb_report_FilterByCirc"})
        QVERIFY2(connected(check, &QCheckBox::stateChanged), check);
    QVERIFY(connected("sb_report_thCirc", &QDoubleSpinBox::valueChanged));
    QVERIFY(connected("labImage", &myQLabel::sigMouse_dblClick));
    QVERIFY(connected("tool4SelectRegion", &CGui4SelectRegion::sigManual_MinPxl));
    QVERIFY(connected("tool4SelectRegion", &CGui4SelectRegion::sigManual_MaxPxl));
    QVERIFY(connected("tool4CropImg", &CTool4CropImg::sigCrop_dataToolCropping));
    QVERIFY(!connected("labImage", &myQLabel::sigMouse_Pressed));
    QVERIFY(connected("pushButton", &QAbstractButton::clicked));
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
