#include "dialogs/chart_panel.h"

#include <QAbstractSeries>
#include <QChart>
#include <QChartView>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QVBoxLayout>
#include <QXYSeries>

#include <cmath>

QString ChartLegendText(const QChart& chart)
{
    QStringList entries;
    for (QLegendMarker* marker : chart.legend()->markers()) {
        // A chart not yet drawn holds its markers hidden: the unnamed ones are those left out.
        if (marker->label().isEmpty())
            continue;
        const bool line = marker->series()->type() == QAbstractSeries::SeriesTypeLine;
        // A line's marker keeps no pen of its own before it is drawn: the series' it is.
        const QPen pen = line ? static_cast<QXYSeries*>(marker->series())->pen() : QPen();
        const QColor colour = line ? pen.color() : marker->brush().color();
        const bool dashed = line && pen.style() != Qt::SolidLine;
        // Square, heavy line, heavy dashed line.
        const QString swatch = !line    ? QStringLiteral("&#9632;")
                               : dashed ? QStringLiteral("&#9476;&#9476;")
                                        : QStringLiteral("&#9473;&#9473;");
        QString name = marker->label().toHtmlEscaped();
        name.replace(QLatin1Char(' '), QStringLiteral("&nbsp;"));
        entries << QStringLiteral("<span style=\"color:%1\">%2</span>&nbsp;%3").arg(colour.name(), swatch, name);
    }
    return entries.join(QStringLiteral(" &nbsp; "));
}

CChartPanel::CChartPanel(QWidget* parent)
    : QWidget(parent)
    , title(new QLabel(this))
    , view(new QChartView(this))
    , legend(new QLabel(this))
{
    view->setRenderHint(QPainter::Antialiasing);
    for (QLabel* label : {title, legend}) {
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignHCenter);
        label->setTextFormat(Qt::RichText);
    }
    title->setObjectName(QStringLiteral("label_chartTitle"));
    legend->setObjectName(QStringLiteral("label_chartLegend"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(title);
    layout->addWidget(view, 1);
    layout->addWidget(legend);
}

QChart* CChartPanel::Chart() const
{
    return view->chart();
}

void CChartPanel::SetChart(QChart* chart)
{
    titleText = chart->title();
    title->setText(titleText);
    legend->setText(ChartLegendText(*chart));
    chart->setTitle(QString());
    chart->legend()->hide();
    QChart* old = view->chart();
    view->setChart(chart);
    delete old;
}

double NiceStep(double raw)
{
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double mantissa : {1.0, 2.0, 5.0})
        if (mantissa * power >= raw)
            return mantissa * power;
    return 10.0 * power;
}
