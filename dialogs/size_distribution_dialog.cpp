#include "dialogs/size_distribution_dialog.h"

#include "dialogs/chart_panel.h"
#include "dialogs/size_distribution_chart.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

CSizeDistributionDialog::CSizeDistributionDialog(QWidget* parent)
    : QDialog(parent)
    , chartPanel(new CChartPanel(this))
    , axisChoice(new QComboBox(this))
    , saveFolder(QDir::homePath())
{
    setWindowTitle(tr("Size distribution"));
    chartPanel->View()->setObjectName(QStringLiteral("chartView_sizeDistribution"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)
        ->setToolTip(tr("Close this window; it follows the counts when opened again"));
    QPushButton* savePng = buttons->addButton(tr("Save &PNG..."), QDialogButtonBox::ActionRole);
    QPushButton* saveSvg = buttons->addButton(tr("Save &SVG..."), QDialogButtonBox::ActionRole);
    savePng->setObjectName(QStringLiteral("btn_savePng"));
    saveSvg->setObjectName(QStringLiteral("btn_saveSvg"));
    savePng->setToolTip(tr("Save the chart as a PNG picture"));
    saveSvg->setToolTip(tr("Save the chart as an SVG drawing"));
    connect(savePng, &QPushButton::clicked, this, &CSizeDistributionDialog::slot_btn_savePng);
    connect(saveSvg, &QPushButton::clicked, this, &CSizeDistributionDialog::slot_btn_saveSvg);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);

    axisChoice->setObjectName(QStringLiteral("comboBox_sizeAxis"));
    axisChoice->addItem(tr("Equivalent circular diameter (ECD)"), static_cast<int>(SizeAxis::kEcd));
    axisChoice->addItem(tr("Longest Feret diameter"), static_cast<int>(SizeAxis::kFeretMax));
    axisChoice->setToolTip(tr("Draw the bars over each particle's equivalent circular diameter or over its longest "
                              "caliper width"));
    connect(axisChoice, &QComboBox::currentIndexChanged, this, &CSizeDistributionDialog::slot_comboBox_sizeAxis);
    auto* axisRow = new QHBoxLayout;
    auto* axisLabel = new QLabel(tr("Si&ze:"), this);
    axisLabel->setBuddy(axisChoice);
    axisRow->addWidget(axisLabel);
    axisRow->addWidget(axisChoice);
    axisRow->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(axisRow);
    layout->addWidget(chartPanel, 1);
    layout->addWidget(buttons);
    resize(DefaultChartPictureSize() + QSize(24, 130));  // the title and legend beside the chart

    SetDistribution(histogram, statistics);
}

QChart* CSizeDistributionDialog::Chart() const
{
    return chartPanel->Chart();
}

QString CSizeDistributionDialog::Title() const
{
    return chartPanel->Title();
}

void CSizeDistributionDialog::SetDistribution(const SizeHistogram& newHistogram, const SizeStatistics& stats,
                                              const SizeHistogram& byFeret)
{
    histogram = newHistogram;
    feretHistogram = byFeret;
    statistics = stats;
    ShowChart();
}

const SizeHistogram& CSizeDistributionDialog::Histogram() const
{
    return axis == SizeAxis::kFeretMax ? feretHistogram : histogram;
}

void CSizeDistributionDialog::SetAxis(SizeAxis shown)
{
    axisChoice->setCurrentIndex(axisChoice->findData(static_cast<int>(shown)));
}

void CSizeDistributionDialog::slot_comboBox_sizeAxis(int index)
{
    axis = static_cast<SizeAxis>(axisChoice->itemData(index).toInt());
    ShowChart();
}

void CSizeDistributionDialog::ShowChart()
{
    // A fresh chart each time: series, axes and title all follow the new count.
    chartPanel->SetChart(CreateSizeDistributionChart(Histogram(), statistics));
}

bool CSizeDistributionDialog::SaveChart(const QString& path) const
{
    return SaveSizeDistributionChart(path, Histogram(), statistics);
}

void CSizeDistributionDialog::slot_btn_savePng()
{
    AskAndSave(QStringLiteral("png"), tr("PNG picture (*.png)"));
}

void CSizeDistributionDialog::slot_btn_saveSvg()
{
    AskAndSave(QStringLiteral("svg"), tr("SVG drawing (*.svg)"));
}

void CSizeDistributionDialog::AskAndSave(const QString& suffix, const QString& filter)
{
    const QString proposal = QDir(saveFolder).filePath(QStringLiteral("size-distribution.") + suffix);
    QString path = QFileDialog::getSaveFileName(this, tr("Save size distribution"), proposal, filter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().toLower() != suffix)
        path += QLatin1Char('.') + suffix;
    saveFolder = QFileInfo(path).absolutePath();
    if (!SaveChart(path))
        QMessageBox::warning(this, windowTitle(), tr("Can not write %1").arg(QDir::toNativeSeparators(path)));
}
