#include "tests/dialogs/particle_image.h"
#include "tests/sequence/window_fixture.h"

#include "dialogs/myqlabel.h"
#include "dialogs/selection_dialog.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

class TestParticleSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void segmentationChoiceIsReported();
    void typedRangeConvertsBothWays();
    void conversions_data();
    void conversions();
    void pixelSizeMovesOnlyThePixelRange();
    void withoutPixelSizeTheFieldsStay();
    void circularityBoxSwitchesTheThreshold();
    void manualCalibrationTakesTheRange();
    void manualCalibrationNeedsASequence();

private:
    CMivoParticleStreamAnalysis* window = nullptr;

    QLineEdit* Edit(const char* name) { return Child<QLineEdit>(window, name); }
    QString Text(const char* name) { return Edit(name)->text(); }
    // Sets a field as if typed and confirmed.
    void Finish(const char* name, const QString& text)
    {
        Edit(name)->setText(text);
        emit Edit(name)->editingFinished();
    }
};

void TestParticleSettings::initTestCase()
{
    // The validators read numbers in the default locale; the texts use a point.
    QLocale::setDefault(QLocale::c());
}

void TestParticleSettings::init()
{
    window = new CMivoParticleStreamAnalysis;
}

void TestParticleSettings::cleanup()
{
    delete window;
}

void TestParticleSettings::segmentationChoiceIsReported()
{
    // Also before any sequence is loaded.
    const struct {
        const char* action;
        const char* text;
    } choices[] = {{"segOtsuAct", "[Running] Segmentation method --> Otsu"},
                   {"segModeAct", "[Running] Segmentation method --> Mode Value"},
                   {"segFrameDiffAct", "[Running] Segmentation method --> Frame Diff"},
                   {"segOtsuAct", "[Running] Segmentation method --> Otsu"}};
    for (const auto& choice : choices) {
        auto* action = Child<QAction>(window, choice.action);
        action->trigger();
        QCOMPARE(StatusText(*window), QString::fromLatin1(choice.text));
        QVERIFY(action->isChecked());
    }
}

void TestParticleSettings::typedRangeConvertsBothWays()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    Child<QGroupBox>(window, "gb_particleSetting")->setEnabled(true);
    const auto type = [](QLineEdit* edit, const QString& text) {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    };
    type(Edit("tf_setting_maxPxl"), QStringLiteral("100"));
    QCOMPARE(Text("tf_setting_maxMu"), QStringLiteral("225"));
    type(Edit("tf_setting_maxMu"), QStringLiteral("225"));
    QCOMPARE(Text("tf_setting_maxPxl"), QStringLiteral("100"));
    type(Edit("tf_setting_minPxl"), QStringLiteral("7"));
    QCOMPARE(Text("tf_setting_minMu"), QStringLiteral("15.75"));
    // Writing the result does not finish the other field's edit: no conversion back.
    QCOMPARE(Text("tf_setting_minPxl"), QStringLiteral("7"));
    type(Edit("tf_setting_PixelSize"), QStringLiteral("2"));
    QCOMPARE(Text("tf_setting_minPxl"), QStringLiteral("4"));
    QCOMPARE(Text("tf_setting_maxPxl"), QStringLiteral("56"));
}

void TestParticleSettings::conversions_data()
{
    QTest::addColumn<QString>("pixelSize");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("other");
    QTest::addColumn<QString>("expected");
    // Pixels to square micrometres: count x size x size, six significant digits.
    QTest::newRow("25 px") << "1.5" << "tf_setting_minPxl" << "25" << "tf_setting_minMu" << "56.25";
    QTest::newRow("3 px at 2.5") << "2.5" << "tf_setting_minPxl" << "3" << "tf_setting_minMu"
                                 << "18.75";
    QTest::newRow("1 px at 1.23") << "1.23" << "tf_setting_maxPxl" << "1" << "tf_setting_maxMu"
                                  << "1.5129";
    QTest::newRow("9999 px at 9.99") << "9.99" << "tf_setting_maxPxl" << "9999"
                                     << "tf_setting_maxMu" << "997901";
    QTest::newRow("10000 px at 100") << "100" << "tf_setting_maxPxl" << "10000"
                                     << "tf_setting_maxMu" << "1e+08";
    // Square micrometres to pixels: rounded half up.
    QTest::newRow("56.25 um2") << "1.5" << "tf_setting_minMu" << "56.25" << "tf_setting_minPxl"
                               << "25";
    QTest::newRow("56.25 um2 at 3") << "3" << "tf_setting_minMu" << "56.25" << "tf_setting_minPxl"
                                    << "6";
    QTest::newRow("225 um2 at 3") << "3" << "tf_setting_maxMu" << "225" << "tf_setting_maxPxl"
                                  << "25";
    QTest::newRow("half rounds up") << "2" << "tf_setting_maxMu" << "10" << "tf_setting_maxPxl"
                                    << "3";
    QTest::newRow("1 um2 at 100") << "100" << "tf_setting_minMu" << "1" << "tf_setting_minPxl"
                                  << "0";
    // Above the pixel validator's top: written anyway.
    QTest::newRow("beyond 10000 px") << "1" << "tf_setting_maxMu" << "49999.99"
                                     << "tf_setting_maxPxl" << "50000";
}

void TestParticleSettings::conversions()
{
    QFETCH(QString, pixelSize);
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, other);
    QFETCH(QString, expected);
    Edit("tf_setting_PixelSize")->setText(pixelSize);
    Finish(field.toLatin1().constData(), text);
    QCOMPARE(Text(other.toLatin1().constData()), expected);
    QCOMPARE(Text(field.toLatin1().constData()), text);
}

void TestParticleSettings::pixelSizeMovesOnlyThePixelRange()
{
    Finish("tf_setting_PixelSize", QStringLiteral("2"));
    QCOMPARE(Text("tf_setting_minPxl"), QStringLiteral("14"));
    QCOMPARE(Text("tf_setting_maxPxl"), QStringLiteral("56"));
    QCOMPARE(Text("tf_setting_minMu"), QStringLiteral("56.25"));
    QCOMPARE(Text("tf_setting_maxMu"), QStringLiteral("225"));
    Finish("tf_setting_PixelSize", QStringLiteral("3"));
    QCOMPARE(Text("tf_setting_minPxl"), QStringLiteral("6"));
    QCOMPARE(Text("tf_setting_maxPxl"), QStringLiteral("25"));
    Finish("tf_setting_PixelSize", QStringLiteral("1.5"));
    QCOMPARE(Text("tf_setting_minPxl"), QStringLiteral("25"));
    QCOMPARE(Text("tf_setting_maxPxl"), QStringLiteral("100"));
}

void TestParticleSettings::withoutPixelSizeTheFieldsStay()
{
    // A cleared pixel size that was never confirmed: no pixel area to convert with.
    for (const char* size : {"", "0", "0.00"}) {
        Edit("tf_setting_PixelSize")->setText(QString::fromLatin1(size));
        Finish("tf_setting_minMu", QStringLiteral("90"));
        QCOMPARE(Text("tf_setting_minPxl"), QStringLiteral("25"));
        Finish("tf_setting_maxPxl", QStringLiteral("400"));
        QCOMPARE(Text("tf_setting_maxMu"), QStringLiteral("225"));
    }
    // A pixel area so small (typed, never confirmed) that the count exceeds an int.
    Edit("tf_setting_PixelSize")->setText(QStringLiteral("0.0001"));
    Finish("tf_setting_minMu", QStringLiteral("25000"));
    QCOMPARE(Text("tf_setting_minPxl"), QStringLiteral("25"));
    Finish("tf_setting_minMu", QStringLiteral("20"));
    QCOMPARE(Text("tf_setting_minPxl"), QStringLiteral("2000000000"));
    Finish("tf_setting_minMu", QStringLiteral("90"));

    // Confirmed again, both directions work.
    Finish("tf_setting_PixelSize", QStringLiteral("3"));
    QCOMPARE(Text("tf_setting_minPxl"), QStringLiteral("10"));
    Finish("tf_setting_maxPxl", QStringLiteral("400"));
    QCOMPARE(Text("tf_setting_maxMu"), QStringLiteral("3600"));
}

void TestParticleSettings::circularityBoxSwitchesTheThreshold()
{
    auto* filter = Child<QCheckBox>(window, "chb_report_FilterByCirc");
    auto* threshold = Child<QDoubleSpinBox>(window, "sb_report_thCirc");
    QVERIFY(!threshold->isEnabled());
    QTest::mouseClick(filter, Qt::LeftButton);
    QVERIFY(filter->isChecked() && threshold->isEnabled());
    threshold->setValue(0.85);
    QCOMPARE(FieldText(*window, "tf_report_total"), QStringLiteral("0"));
    QTest::mouseClick(filter, Qt::LeftButton);
    QVERIFY(!threshold->isEnabled());
    QCOMPARE(threshold->value(), 0.85);
}

void TestParticleSettings::manualCalibrationTakesTheRange()
{
    // Six frames, only the third with particles: the dialog must get the frame on screen.
    QTemporaryDir folder;
    const QDir dir(folder.path());
    QImage blank(kParticleFrameWidth, kParticleFrameHeight, QImage::Format_Grayscale8);
    blank.fill(qRgb(200, 200, 200));
    for (int i = 0; i < 6; ++i)
        QVERIFY((i == 2 ? ParticleFrame() : blank)
                    .save(dir.filePath(QStringLiteral("f%1.png").arg(i))));
    OpenFolder(*window, folder.path());
    Child<QSlider>(window, "sld_view_FrameSlider")->setValue(3);
    QCOMPARE(FieldText(*window, "tf_view_IdxInstance"), QStringLiteral("3"));

    auto* dialog = window->findChild<CGui4SelectRegion*>();
    QVERIFY(dialog && dialog->parent() == window && dialog->isHidden());
    QTest::mouseClick(Child<QPushButton>(window, "btn_setting_manualSelection"), Qt::LeftButton);
    QVERIFY(dialog->isVisible());
    QCOMPARE(Child<QLineEdit>(dialog, "tf_PixelSize")->text(), QStringLiteral("1.5"));

    auto* label = Child<myQLabel>(dialog, "label");
    QCOMPARE(label->size(), QSize(kParticleFrameWidth, kParticleFrameHeight));
    QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(50, 30));
    QTest::mouseMove(label, QPoint(80, 70));
    QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(80, 70));
    QCOMPARE(Child<QLineEdit>(dialog, "tf_areaPxl")->text(), QStringLiteral("120"));
    QCOMPARE(Child<QLineEdit>(dialog, "tf_areaMu")->text(), QStringLiteral("180"));

    QTest::mouseClick(Child<QPushButton>(dialog, "btnOk"), Qt::LeftButton);
    QVERIFY(dialog->isHidden());
    QCOMPARE(Text("tf_setting_minPxl"), QStringLiteral("60"));
    QCOMPARE(Text("tf_setting_maxPxl"), QStringLiteral("300"));
    QCOMPARE(Text("tf_setting_minMu"), QStringLiteral("135"));
    QCOMPARE(Text("tf_setting_maxMu"), QStringLiteral("675"));

    // "Cancel" changes no setting.
    QTest::mouseClick(Child<QPushButton>(window, "btn_setting_manualSelection"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(dialog, "btnCancel"), Qt::LeftButton);
    QCOMPARE(Text("tf_setting_minPxl"), QStringLiteral("60"));
    QCOMPARE(Text("tf_setting_maxMu"), QStringLiteral("675"));
}

void TestParticleSettings::manualCalibrationNeedsASequence()
{
    QVERIFY(QMetaObject::invokeMethod(window, "slot_btn_manualSelection"));
    QCOMPARE(StatusText(*window),
             QStringLiteral("[IDLE] Please, choose the folder with image sequence files"));
    QVERIFY(window->findChild<CGui4SelectRegion*>()->isHidden());
}

QTEST_MAIN(TestParticleSettings)
#include "tst_particle_settings.moc"
