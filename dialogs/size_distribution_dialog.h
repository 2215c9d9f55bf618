#pragma once

#include "register/size_histogram.h"
#include "register/size_statistics.h"

#include <QDialog>
#include <QString>

class CChartPanel;
class QChart;
class QComboBox;

// A window of its own, beside the main window, that shows the size distribution of the
// latest count and follows every recount (the owner hands each new distribution to
// SetDistribution). Its "Size" choice draws the bars over the equivalent circular
// diameter or over the longest Feret diameter. Not modal. "Save PNG..." and "Save SVG..." write the chart as the
// counter writes it, at the same size; the folder of the last save is offered next.
class CSizeDistributionDialog : public QDialog {
    Q_OBJECT

public:
    explicit CSizeDistributionDialog(QWidget* parent = nullptr);

    // The distribution by ECD and, for the choice, by the longest Feret diameter.
    void SetDistribution(const SizeHistogram& histogram, const SizeStatistics& stats,
                         const SizeHistogram& byFeret = SizeHistogram());
    // The histogram shown, by the axis chosen.
    const SizeHistogram& Histogram() const;
    SizeAxis Axis() const { return axis; }
    void SetAxis(SizeAxis shown);
    const SizeStatistics& Statistics() const { return statistics; }
    QChart* Chart() const;
    // The chart's title, shown above it: the count and its statistics.
    QString Title() const;

    // PNG or SVG by the suffix of path; false for another suffix or when the file could
    // not be written.
    bool SaveChart(const QString& path) const;
    QString SaveFolder() const { return saveFolder; }
    void SetSaveFolder(const QString& folder) { saveFolder = folder; }

private slots:
    void slot_btn_savePng();
    void slot_btn_saveSvg();
    void slot_comboBox_sizeAxis(int index);

private:
    void AskAndSave(const QString& suffix, const QString& filter);
    void ShowChart();

    CChartPanel* chartPanel;
    QComboBox* axisChoice;
    SizeAxis axis = SizeAxis::kEcd;
    SizeHistogram histogram;
    SizeHistogram feretHistogram;
    SizeStatistics statistics;
    QString saveFolder;
};
