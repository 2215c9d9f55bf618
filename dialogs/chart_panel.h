#pragma once

#include <QString>
#include <QWidget>

class QChart;
class QChartView;
class QLabel;

// A chart in a window: its title above it and its legend below it as labels that wrap,
// so that both stay whole at any width the window is given (a chart cuts them short).
// The chart itself is drawn without them; files keep the chart as built.
class CChartPanel : public QWidget {
    Q_OBJECT

public:
    explicit CChartPanel(QWidget* parent = nullptr);

    // Takes `chart` over; the one shown before goes.
    void SetChart(QChart* chart);
    QChart* Chart() const;
    QChartView* View() const { return view; }
    // The chart's title as built (rich text).
    QString Title() const { return titleText; }

private:
    QLabel* title;
    QChartView* view;
    QLabel* legend;
    QString titleText;
};

// The chart's named legend entries as one rich-text line: a swatch in the series' colour
// (a square for areas and points, a line for lines) and the entry's name, wrapped only
// between entries.
QString ChartLegendText(const QChart& chart);

// An axis step of 1, 2 or 5 times a power of ten, at least `raw` (> 0).
double NiceStep(double raw);
