#include "dialogs/velocity_profile_dialog.h"

#include "dialogs/chart_panel.h"
#include "dialogs/velocity_profile_chart.h"

#include <QChartView>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QVBoxLayout>

CVelocityProfileDialog::CVelocityProfileDialog(QWidget* parent)
    : QDialog(parent)
    , pages(new QStackedWidget(this))
    , chartPanel(new CChartPanel(this))
    , notice(new QLabel(this))
    , unitChoice(new QComboBox(this))
    , frameRate(new QDoubleSpinBox(this))
{
    setWindowTitle(tr("Velocity profile"));
    chartPanel->View()->setObjectName(QStringLiteral("chartView_velocityProfile"));
    notice->setObjectName(QStringLiteral("label_velocityNotice"));
    notice->setWordWrap(true);
    notice->setAlignment(Qt::AlignCenter);
    pages->addWidget(chartPanel);
    pages->addWidget(notice);

    unitChoice->setObjectName(QStringLiteral("comboBox_speedUnit"));
    for (SpeedUnit each : {SpeedUnit::kPxPerFrame, SpeedUnit::kUmPerFrame, SpeedUnit::kUmPerSecond})
        unitChoice->addItem(SpeedUnitText(each), static_cast<int>(each));
    unitChoice->setToolTip(tr("Speeds in pixels per frame as measured; in micrometres with the run's pixel size; per "
                              "second with the frame rate"));
    connect(unitChoice, &QComboBox::currentIndexChanged, this, &CVelocityProfileDialog::slot_comboBox_speedUnit);

    frameRate->setObjectName(QStringLiteral("sb_frameRate"));
    frameRate->setRange(0.0, 1e9);
    frameRate->setDecimals(3);
    frameRate->setSuffix(tr(" Hz"));
    frameRate->setSpecialValueText(tr("not set"));
    frameRate->setToolTip(tr("Frames per second of the recording, for speeds in micrometres per second here and "
                             "in \"Exp. Data\" (mean_speed_um_s, speed_um_s); remembered"));
    connect(frameRate, &QDoubleSpinBox::valueChanged, this, &CVelocityProfileDialog::slot_sb_frameRate);

    // One above the other: the window stays narrow enough to go beside the main one.
    auto* controls = new QFormLayout;
    controls->addRow(tr("&Speed in:"), unitChoice);
    controls->addRow(tr("&Frame rate:"), frameRate);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)
        ->setToolTip(tr("Close this window; it follows the runs when opened again"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(pages, 1);
    layout->addWidget(buttons);
    resize(760, 620);
    OfferUnits();
    ClearRun();
}

void CVelocityProfileDialog::SetRun(const RunSettings& runSettings, const RunResult& runResult)
{
    hasRun = true;
    settings = runSettings;
    result = runResult;
    ShowProfile();
}

void CVelocityProfileDialog::ClearRun()
{
    hasRun = false;
    settings = RunSettings{};
    result = RunResult{};
    ShowProfile();
}

double CVelocityProfileDialog::FrameRate() const
{
    return frameRate->value();
}

void CVelocityProfileDialog::SetFrameRate(double hz)
{
    frameRate->setValue(hz);
}

void CVelocityProfileDialog::SetUnit(SpeedUnit shown)
{
    unitChoice->setCurrentIndex(unitChoice->findData(static_cast<int>(shown)));
}

QChart* CVelocityProfileDialog::Chart() const
{
    return pages->currentWidget() == chartPanel ? chartPanel->Chart() : nullptr;
}

QString CVelocityProfileDialog::Notice() const
{
    return pages->currentWidget() == notice ? notice->text() : QString();
}

void CVelocityProfileDialog::OfferUnits()
{
    // Per second needs a rate: without one the unit falls back to per frame.
    const bool perSecond = FrameRate() > 0.0;
    auto* model = qobject_cast<QStandardItemModel*>(unitChoice->model());
    if (QStandardItem* item =
            model ? model->item(unitChoice->findData(static_cast<int>(SpeedUnit::kUmPerSecond))) : nullptr)
        item->setEnabled(perSecond);
    if (!perSecond && unit == SpeedUnit::kUmPerSecond)
        SetUnit(SpeedUnit::kUmPerFrame);
}

void CVelocityProfileDialog::slot_sb_frameRate()
{
    OfferUnits();
    ShowProfile();
}

void CVelocityProfileDialog::slot_comboBox_speedUnit(int index)
{
    unit = static_cast<SpeedUnit>(unitChoice->itemData(index).toInt());
    ShowProfile();
}

void CVelocityProfileDialog::ShowProfile()
{
    if (!hasRun) {
        notice->setText(tr("No run has finished yet: the velocity profile is that of the last run of the counting "
                           "line (Counting > Counting line, then \"Calculate FoI\")."));
        pages->setCurrentWidget(notice);
        return;
    }
    if (settings.mode != CountingMode::CountingLine) {
        notice->setText(tr("The frames-of-interest count follows no particle from frame to frame: it has no velocity "
                           "profile. Count with the counting line (Counting > Counting line) for one."));
        pages->setCurrentWidget(notice);
        return;
    }
    RunSettings shown = settings;
    shown.frameRate = FrameRate();
    chartPanel->SetChart(CreateVelocityProfileChart(shown, result, unit));
    pages->setCurrentWidget(chartPanel);
}
