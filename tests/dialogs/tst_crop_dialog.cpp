#include "dialog_helpers.h"
#include "dialogs/crop_dialog.h"
#include "dialogs/myqlabel.h"

#include <QDir>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kGrey = 128;

// Hatching is black and white; the frame is grey.
bool Hatched(QRgb p)
{
    return qGray(p) != kGrey;
}

// Bands along the four edges of the preview: the rows (columns) from each edge that
// are hatched across the whole preview, as fractions of its height (width).
struct Bands {
    double top, bottom, left, right;
};

Bands MeasureBands(const QImage& preview)
{
    const int w = preview.width();
    const int h = preview.height();
    const auto rowHatched = [&](int y) {
        for (int x = 0; x < w; ++x)
            if (!Hatched(preview.pixel(x, y)))
                return false;
        return true;
    };
    const auto columnHatched = [&](int x) {
        for (int y = 0; y < h; ++y)
            if (!Hatched(preview.pixel(x, y)))
                return false;
        return true;
    };
    const auto run = [](int length, auto hatchedAt) {
        int n = 0;
        while (n < length && hatchedAt(n))
            ++n;
        return n;
    };
    return {run(h, rowHatched) / double(h), run(h, [&](int i) { return rowHatched(h - 1 - i); }) / double(h),
            run(w, columnHatched) / double(w),
            run(w, [&](int i) { return columnHatched(w - 1 - i); }) / double(w)};
}

} // namespace

class TestCropDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void opensWindowModalWithoutCloseButton();
    void okSendsFractionsAndSummary();
    void cancelSendsAClearedResultAndKeepsTheBoxes();
    void eachBoxHatchesItsOwnEdge_data();
    void eachBoxHatchesItsOwnEdge();
    void previewKeepsTheFrameAndItsAspect();
    void buttonPicturesComeFromTheWorkingFolder();

private:
    CTool4CropImg* dialog = nullptr;
    QSpinBox* Box(const char* name) { return Child<QSpinBox>(dialog, name); }
    QImage Preview() { return Child<myQLabel>(dialog, "labImage")->pixmap().toImage(); }
    void Click(const char* button)
    {
        QTest::mouseClick(Child<QPushButton>(dialog, button), Qt::LeftButton);
    }
};

void TestCropDialog::init()
{
    dialog = new CTool4CropImg;
    dialog->RedrawPreview();
    dialog->SetImage(cv::Mat(480, 640, CV_8UC1, cv::Scalar(kGrey)));
    dialog->show();
}

void TestCropDialog::cleanup()
{
    delete dialog;
}

void TestCropDialog::opensWindowModalWithoutCloseButton()
{
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    QVERIFY(dialog->isModal());
    const Qt::WindowFlags flags = dialog->windowFlags();
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint) && flags.testFlag(Qt::WindowTitleHint));
    QVERIFY(!flags.testFlag(Qt::WindowCloseButtonHint));
    QCOMPARE(dialog->minimumSize(), QSize(645, 409));
    QCOMPARE(dialog->maximumSize(), QSize(645, 409));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("[TEW] Image cropping"));
    for (const char* name : {"sb_crop_left", "sb_crop_rigth", "sb_crop_up", "sb_crop_bottom"}) {
        QCOMPARE(Box(name)->minimum(), 0);
        QCOMPARE(Box(name)->maximum(), 50);
    }

    // Escape hides it the standard way, without a result.
    QSignalSpy result(dialog, &CTool4CropImg::sigCrop_dataToolCropping);
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(dialog->isHidden());
    QCOMPARE(result.count(), 0);
}

void TestCropDialog::okSendsFractionsAndSummary()
{
    QSignalSpy result(dialog, &CTool4CropImg::sigCrop_dataToolCropping);
    Click("btn_Ok");
    QVERIFY(dialog->isHidden());
    // Top, bottom, left and right boxes by the edge they sit at.
    Box("sb_crop_left")->setValue(10);
    Box("sb_crop_rigth")->setValue(0);
    Box("sb_crop_up")->setValue(5);
    Box("sb_crop_bottom")->setValue(20);
    dialog->show();
    Click("btn_Ok");
    Box("sb_crop_rigth")->setValue(33);
    Click("btn_Ok");

    QCOMPARE(result.count(), 3);
    QCOMPARE(result.at(0), QVariantList({0.0, 0.0, 0.0, 0.0, true, "[U-0, B-0, L-0, R-0]"}));
    QCOMPARE(result.at(1), QVariantList({0.1, 0.0, 0.05, 0.2, true, "[U-0.1, B-0, L-0.05, R-0.2]"}));
    QCOMPARE(result.at(2).at(1).toDouble(), 0.33);
    QCOMPARE(result.at(2).at(5).toString(), QStringLiteral("[U-0.1, B-0.33, L-0.05, R-0.2]"));
}

void TestCropDialog::cancelSendsAClearedResultAndKeepsTheBoxes()
{
    QSignalSpy result(dialog, &CTool4CropImg::sigCrop_dataToolCropping);
    Box("sb_crop_left")->setValue(40);
    Box("sb_crop_bottom")->setValue(15);
    Click("btn_Cancel");
    QVERIFY(dialog->isHidden());
    QCOMPARE(result.count(), 1);
    QCOMPARE(result.at(0), QVariantList({0.0, 0.0, 0.0, 0.0, false, QString()}));

    // Opened again, the preview shows the margins still set in the boxes.
    dialog->RedrawPreview();
    dialog->SetImage(cv::Mat(480, 640, CV_8UC1, cv::Scalar(kGrey)));
    dialog->show();
    QCOMPARE(Box("sb_crop_left")->value(), 40);
    const Bands bands = MeasureBands(Preview());
    QVERIFY(qAbs(bands.top - 0.40) < 0.02);
    QVERIFY(qAbs(bands.right - 0.15) < 0.02);
    Click("btn_Ok");
    QCOMPARE(result.at(1).at(0).toDouble(), 0.4);
    QCOMPARE(result.at(1).at(3).toDouble(), 0.15);
}

void TestCropDialog::eachBoxHatchesItsOwnEdge_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("edge");  // 0 top, 1 bottom, 2 left, 3 right
    QTest::newRow("top") << "sb_crop_left" << 0;
    QTest::newRow("bottom") << "sb_crop_rigth" << 1;
    QTest::newRow("left") << "sb_crop_up" << 2;
    QTest::newRow("right") << "sb_crop_bottom" << 3;
}

void TestCropDialog::eachBoxHatchesItsOwnEdge()
{
    QFETCH(QString, box);
    QFETCH(int, edge);
    const Bands none = MeasureBands(Preview());
    QCOMPARE(none.top + none.bottom + none.left + none.right, 0.0);

    // Half the frame: rows 0 to 239 of 480 for the top box; the preview is scaled, so
    // the band is compared as a share of it, within a pixel or two.
    Box(box.toLatin1().constData())->setValue(50);
    const QImage preview = Preview();
    const Bands bands = MeasureBands(preview);
    const double measured[] = {bands.top, bands.bottom, bands.left, bands.right};
    for (int e = 0; e < 4; ++e) {
        const double expected = e == edge ? 0.5 : 0.0;
        const double extent = e < 2 ? preview.height() : preview.width();
        QVERIFY2(qAbs(measured[e] - expected) <= 2.0 / extent,
                 qPrintable(QStringLiteral("edge %1: %2").arg(e).arg(measured[e])));
    }
}

void TestCropDialog::previewKeepsTheFrameAndItsAspect()
{
    // A frame with a dark left half: the preview shows it as grey levels, scaled to the
    // label with the frame's aspect ratio.
    cv::Mat frame(200, 400, CV_8UC1, cv::Scalar(kGrey));
    frame.colRange(0, 200).setTo(30);
    dialog->SetImage(frame);
    const QImage preview = Preview();
    auto* label = Child<myQLabel>(dialog, "labImage");
    QVERIFY(preview.width() == label->width() || preview.height() == label->height());
    QVERIFY(preview.width() <= label->width() && preview.height() <= label->height());
    QVERIFY(qAbs(preview.width() - 2 * preview.height()) <= 2);
    QCOMPARE(preview.pixel(preview.width() / 4, preview.height() / 2), qRgb(30, 30, 30));
    QCOMPARE(preview.pixel(3 * preview.width() / 4, preview.height() / 2),
             qRgb(kGrey, kGrey, kGrey));
}

void TestCropDialog::buttonPicturesComeFromTheWorkingFolder()
{
    QTemporaryDir tmp;
    QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("Resources")));
    QImage picture(16, 16, QImage::Format_RGB32);
    picture.fill(Qt::darkRed);
    QVERIFY(picture.save(tmp.filePath(QStringLiteral("Resources/dialog-cancel.png"))));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(tmp.path()));
    CTool4CropImg withPicture;
    QVERIFY(QDir::setCurrent(before));
    QVERIFY(!Child<QPushButton>(&withPicture, "btn_Cancel")->icon().isNull());
    // A missing file leaves its button without an icon.
    QVERIFY(Child<QPushButton>(&withPicture, "btn_Ok")->icon().isNull());
}

QTEST_MAIN(TestCropDialog)
#include "tst_crop_dialog.moc"
