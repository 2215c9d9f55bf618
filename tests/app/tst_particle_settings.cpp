#include "tests/dialogs/particle_image.h"
#include "tests/sequence/window_fixture.h"

#include "dialogs/myqlabel.h"
#include "dialogs/selection_dialog.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
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
    for (const char* action : {"segModeAct", "segFrameDiffAct", "segOtsuAct"}) {
        Child<QAction>(window, action)->trigger();
        QCOMPARE(StatusText(*window), "[Running] Segmentation method --> " +
                                          Child<QAction>(window, action)->text());
    }
    QCOMPARE(StatusText(*window), QStringLiteral("[Running] Segmentation method --> Otsu"));
}

void TestParticleSettings::conversions()
{
    const struct {
        const char *pixelSize, *field, *text, *other, *expected;
    } cases[] = {
        // Pixels to square micrometres: count x size x size, six significant digits.
        {"1.5", "tf_setting_maxPxl", "100", "tf_setting_maxMu", "225"},
        {"1.5", "tf_setting_minPxl", "7", "tf_setting_minMu", "15.75"},
        {"1.23", "tf_setting_maxPxl", "1", "tf_setting_maxMu", "1.5129"},
        {"100", "tf_setting_maxPxl", "10000", "tf_setting_maxMu", "1e+08"},
        // Square micrometres to pixels, rounded half up.
        {"1.5", "tf_setting_maxMu", "225", "tf_setting_maxPxl", "100"},
        {"3", "tf_setting_minMu", "56.25", "tf_setting_minPxl", "6"},
        {"2", "tf_setting_maxMu", "10", "tf_setting_maxPxl", "3"},
        {"100", "tf_setting_minMu", "1", "tf_setting_minPxl", "0"},
        // Above the pixel validator's top: written anyway.
        {"1", "tf_setting_maxMu", "49999.99", "tf_setting_maxPxl", "50000"},
    };
    for (const auto& c : cases) {
        Edit("tf_setting_PixelSize")->setText(QString::fromLatin1(c.pixelSize));
        Finish(c.field, QString::fromLatin1(c.text));
        QCOMPARE(Text(c.other), QString::fromLatin1(c.expected));
        QCOMPARE(Text(c.field), QString::fromLatin1(c.text));
    }
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
}

void TestParticleSettings::withoutPixelSizeTheFieldsStay()
{
    // A cleared pixel size that was never confirmed: no pixel area to convert with.
    for (const char* size : {"", "0"}) {
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
    QTest::mouseClick(filter, Qt::LeftButton);
    QVERIFY(threshold->isEnabled());
    QTest::mouseClick(filter, Qt::LeftButton);
    QVERIFY(!threshold->isEnabled());
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
    QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(50, 30));
    QTest::mouseMove(label, QPoint(80, 70));
    QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(80, 70));

    QTest::mouseClick(Child<QPushButton>(dialog, "btnOk"), Qt::LeftButton);
    QVERIFY(dialog->isHidden());
    QCOMPARE(Text("tf_setting_minPxl"), QStringLiteral("60"));
    QCOMPARE(Text("tf_setting_maxPxl"), QStringLiteral("300"));
    QCOMPARE(Text("tf_setting_minMu"), QStringLiteral("135"));
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
