#pragma once

#include "register/size_histogram.h"
#include "register/size_statistics.h"

#include <QSize>
#include <QString>

class QChart;

// The size-distribution chart of a run, one builder for the window and the counter:
// bars of particles per bin over the equivalent circular diameter (or the longest Feret
// diameter, by the histogram's axis) on a log axis,
// stacked by class in the colours of the circles (single within the size range;
// bigger or smaller outside it), the two bounds of the size range as dashed lines,
// and the statistics in the title.

// The size the counter and the window's save write the chart at.
inline QSize DefaultChartPictureSize()
{
    return QSize(960, 600);
}

// A new chart; the caller owns it (a QChartView or a QGraphicsScene takes it over).
QChart* CreateSizeDistributionChart(const SizeHistogram& histogram, const SizeStatistics& stats);

// The x axis's name: "Equivalent circular diameter" or "Longest Feret diameter".
QString SizeAxisName(SizeAxis axis);

// The chart's title: "Size distribution of N counted particles" and a second line with
// D10, D50, D90, mean ECD and mean area ("No particles counted" for an empty run).
QString SizeDistributionTitle(const SizeHistogram& histogram, const SizeStatistics& stats);

// Draws the chart into a PNG or an SVG file, chosen by the suffix (".png", ".svg", any
// letter case), without a display (QT_QPA_PLATFORM=offscreen serves; a QApplication
// must exist). The file is replaced only once complete. False for another suffix or
// when the file cannot be written.
bool SaveSizeDistributionChart(const QString& path, const SizeHistogram& histogram, const SizeStatistics& stats,
                               QSize size = DefaultChartPictureSize());
