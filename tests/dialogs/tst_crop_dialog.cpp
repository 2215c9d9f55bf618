#include "dialog_helpers.h"
#include "dialogs/crop_dialog.h"
#include "dialogs/myqlabel.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

namespace {

constexpr int kGrey = 128;

// Share of the preview's height (width) covered by hatched rows (columns) from each
// edge. Hatching is black and white, the frame grey.
struct Bands {
    double top, bottom, left, right;
};

Bands MeasureBands(const QImage& preview)
{
    const int w = preview.width();
    const int h = preview.height();
    const auto hatchedLine = [&](bool row, int at) {
        for (int i = 0; i < (row ? w : h); ++i)
            if (qGray(row ? preview.pixel(i, at) : preview.pixel(at, i)) == kGrey)
                return false;
        return true;
    };
    const auto band = [&](bool row, bool fromEnd) {
        const int length = row ? h : w;
        int n = 0;
        while (n < length && hatchedLine(row, fromEnd ? length - 1 - n : n))
            ++n;
        return n / double(length);
    };
    return {band(true, false), band(true, true), band(false, false), band(false, true)};
}

} // namespace

class TestCropDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void okAndCancelSendTheirResults();
    void eachBoxHatchesItsOwnEdge_data();
    void eachBoxHatchesItsOwnEdge();

private:
    CTool4CropImg* dialog = nullptr;
    QSpinBox* Box(const char* name) { return Child<QSpinBox>(dialog, name); }
    Bands PreviewBands()
    {
        return MeasureBands(Child<myQLabel>(dialog, "labImage")->pixmap().toImage());
    }
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

void TestCropDialog::okAndCancelSendTheirResults()
{
    QSignalSpy result(dialog, &CTool4CropImg::sigCrop_dataToolCropping);
    Click("btn_Ok");
    QVERIFY(dialog->isHidden());
    // The boxes at the top, bottom, left and right edges.
    Box("sb_crop_left")->setValue(10);
    Box("sb_crop_rigth")->setValue(0);
    Box("sb_crop_up")->setValue(5);
    Box("sb_crop_bottom")->setValue(20);
    dialog->show();
    Click("btn_Ok");
    dialog->show();
    Click("btn_Cancel");
    QVERIFY(dialog->isHidden());

    QCOMPARE(result.count(), 3);
    QCOMPARE(result.at(0), QVariantList({0.0, 0.0, 0.0, 0.0, true, "[U-0, B-0, L-0, R-0]"}));
    QCOMPARE(result.at(1), QVariantList({0.1, 0.0, 0.05, 0.2, true, "[U-0.1, B-0, L-0.05, R-0.2]"}));
    QCOMPARE(result.at(2), QVariantList({0.0, 0.0, 0.0, 0.0, false, QString()}));

    // Opened again, the preview shows the margins still set in the boxes; Escape hides
    // it without a result.
    dialog->RedrawPreview();
    dialog->SetImage(cv::Mat(480, 640, CV_8UC1, cv::Scalar(kGrey)));
    dialog->show();
    const Bands bands = PreviewBands();
    QVERIFY(qAbs(bands.top - 0.1) < 0.01 && qAbs(bands.left - 0.05) < 0.01);
    QVERIFY(qAbs(bands.right - 0.2) < 0.01 && bands.bottom == 0.0);
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(dialog->isHidden());
    QCOMPARE(result.count(), 3);
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
    const Bands none = PreviewBands();
    QCOMPARE(none.top + none.bottom + none.left + none.right, 0.0);

    // Half the frame (rows 0 to 239 of 480 for the top box), in the scaled preview
    // within a pixel or two.
    Box(box.toLatin1().constData())->setValue(50);
    const QSize size = Child<myQLabel>(dialog, "labImage")->pixmap().size();
    const Bands bands = PreviewBands();
    const double measured[] = {bands.top, bands.bottom, bands.left, bands.right};
    for (int e = 0; e < 4; ++e) {
        const double tolerance = 2.0 / (e < 2 ? size.height() : size.width());
        QVERIFY2(qAbs(measured[e] - (e == edge ? 0.5 : 0.0)) <= tolerance,
                 qPrintable(QStringLiteral("edge %1: %2").arg(e).arg(measured[e])));
    }
}

QTEST_MAIN(TestCropDialog)
#include "tst_crop_dialog.moc"
