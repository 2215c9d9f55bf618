// Main window: what the counters show and what produced it. The size statistics under
// the counters, the size distribution and the last run's velocity profile in windows of
// their own beside this one, the one-line summary of
// the count, greyed with what changed since when a setting the numbers depend on has
// changed, and the legend of the circle colours on the preview and the strip.

#include "app/count_basis.h"
#include "app/form_text.h"
#include "app/mivo_particle_stream_analysis.h"
#include "dialogs/size_distribution_dialog.h"
#include "dialogs/velocity_profile_dialog.h"
#include "dialogs/window_placement.h"
#include "register/message_text.h"
#include "register/run_numbers.h"
#include "register/run_warnings.h"
#include "stream/video_stream.h"
#include "ui_mivo_particle_stream_analysis.h"

#include <QDir>
#include <QLineEdit>

#include <algorithm>
#include <vector>

namespace {

// The least a result window is given beside the main window: its chart still readable.
constexpr QSize kLeastResultWindow(360, 440);

// The colours of register/particle_class.cpp, as the circles show them.
QString CircleLegend()
{
    const auto swatch = [](const char* rgb) {
        return QStringLiteral("<span style=\"color:%1\">&#9679;</span> ").arg(QLatin1String(rgb));
    };
    return FormText("<b>Circles around the counted particles</b>") + QStringLiteral("<br>") + swatch("#00ff00") +
           FormText("green: within the size range, counted as single") + QStringLiteral("<br>") + swatch("#ff0000") +
           FormText("red: outside the size range, counted as bigger or smaller") + QStringLiteral("<br>") +
           FormText("With the circularity filter on:") + QStringLiteral("<br>") + swatch("#a44ba4") +
           FormText("purple (164, 75, 164): outside the size range and round enough, counted as bigger or smaller") +
           QStringLiteral("<br>") + swatch("#0000ff") +
           FormText("blue: within the size range but not round enough, not counted") + QStringLiteral("<br>") +
           swatch("#ff00ff") + FormText("magenta: outside the size range and not round enough, not counted");
}

QString StatisticsText(const SizeStatistics& stats)
{
    if (stats.counted == 0)
        return FormText("No particles counted");
    return FormText("%1 counted | ECD D10 %2 um, D50 %3 um, D90 %4 um | mean ECD %5 um | mean area %6 um^2")
        .arg(stats.counted)
        .arg(SignificantText(stats.d10Um), SignificantText(stats.d50Um), SignificantText(stats.d90Um),
             SignificantText(stats.meanEcdUm), SignificantText(stats.meanAreaUm2));
}

// The summary's " | " parts packed into two lines of `width`, a part never split; the first
// part (the folder) shortened in its middle as far as the rest needs.
QString SummaryLines(const QString& summary, const QFontMetrics& metrics, int width)
{
    const QString separator = QStringLiteral(" | ");
    QStringList parts = summary.split(separator);
    const auto pack = [&](const QStringList& items) {
        QStringList lines{QString()};
        for (const QString& item : items) {
            const QString joined = lines.last().isEmpty() ? item : lines.last() + separator + item;
            if (lines.last().isEmpty() || metrics.horizontalAdvance(joined) <= width)
                lines.last() = joined;
            else
                lines << item;
        }
        return lines;
    };
    QStringList lines = pack(parts);
    for (int room = metrics.horizontalAdvance(parts.first()); lines.size() > 2 && room > 0; room -= width / 8) {
        QStringList shortened = parts;
        shortened.first() = metrics.elidedText(parts.first(), Qt::ElideMiddle, room);
        lines = pack(shortened);
    }
    while (lines.size() > 2)
        lines[1] += separator + lines.takeAt(2);
    for (QString& line : lines)
        line = metrics.elidedText(line, Qt::ElideRight, width);
    return lines.join(QLatin1Char('\n')) + (lines.size() < 2 ? QStringLiteral("\n") : QString());
}

}  // namespace

void CMivoParticleStreamAnalysis::InitResultsView()
{
    sizeDialog = new CSizeDistributionDialog(this);
    sizeDialog->setObjectName(QStringLiteral("sizeDistributionDialog"));
    velocityDialog = new CVelocityProfileDialog(this);
    velocityDialog->setObjectName(QStringLiteral("velocityProfileDialog"));
    shownCount = std::make_unique<CountBasis>();
    finishedRun = std::make_unique<CountedRun>();
    runFrames = std::make_unique<CVideoStream>();
    frameAlone = std::make_unique<CountedRun>();
    const QString legend = CircleLegend();
    ui->labImage->setToolTip(legend);
    ui->sld_vr_line->setToolTip(FormText("Scroll along the strip of the counted frames") + QStringLiteral("<br><br>") +
                                legend);
    ShowCount(CountSource::None);
}

RunSettings CMivoParticleStreamAnalysis::WindowSettings() const
{
    RunSettings settings;
    settings.folder = inputPath;
    settings.frameNames = imageFiles;
    settings.sequenceKind = sequenceKind;
    settings.mode = countingMode;
    settings.method = segmentationMethod;
    settings.minArea = ui->tf_setting_minPxl->text().toInt(nullptr, 10);
    settings.maxArea = ui->tf_setting_maxPxl->text().toInt(nullptr, 10);
    settings.circularityFilter = ui->chb_report_FilterByCirc->isChecked();
    settings.minCircularity = ui->sb_report_thCirc->value();
    settings.pixelSize = ui->tf_setting_PixelSize->text().toDouble();
    // As "Count Current" cuts them; a run counts whole frames.
    settings.marginTop = int(imageHeight * cropTop);
    settings.marginBottom = int(imageHeight * cropBottom);
    settings.marginLeft = int(imageWidth * cropLeft);
    settings.marginRight = int(imageWidth * cropRight);
    return settings;
}

const CountedRun* CMivoParticleStreamAnalysis::ShownCount() const
{
    switch (shownCount->source) {
    case CountSource::Run:
        return finishedRun.get();
    case CountSource::CurrentFrame:
        return frameAlone.get();
    case CountSource::None:
        break;
    }
    return nullptr;
}

void CMivoParticleStreamAnalysis::ShowCount(CountSource source)
{
    shownCount->source = source;
    const CountedRun* count = ShownCount();
    *shownCount = count ? BasisOf(source, *count) : CountBasis{};
    if (count)
        ShowReportCounts(count->result);
    RefreshDistribution();
    RefreshCountState();
    // The profile is the run's, whatever the counters show.
    if (RunFinished())
        velocityDialog->SetRun(finishedRun->settings, finishedRun->result);
    else
        velocityDialog->ClearRun();
}

void CMivoParticleStreamAnalysis::RefreshDistribution()
{
    // Before any count: no particles, the range of the fields.
    const CountedRun none{WindowSettings(), RunResult{}};
    const CountedRun& count = ShownCount() ? *ShownCount() : none;
    const SizeStatistics stats = RunSizeStatistics(count.settings, count.result);
    ui->label_sizeStats->setText(ShownCount() ? StatisticsText(stats) : QString());
    sizeDialog->SetDistribution(RunSizeHistogram(count.settings, count.result), stats,
                                RunSizeHistogram(count.settings, count.result, SizeAxis::kFeretMax));
}

void CMivoParticleStreamAnalysis::RefreshCountState()
{
    const QStringList changed = ChangedCountSettings(*shownCount, WindowSettings());
    const bool stale = !changed.isEmpty();
    // Three lines: what was counted, over two, every name whole (only the folder, which the
    // "Input:" box shows, may be shortened); then what to know about the numbers: what changed
    // since, a recount from a run at another range, what the run could not read or measure,
    // until the next run.
    const QFontMetrics metrics(ui->label_runSummary->font());
    const int width = ui->label_runSummary->width();
    // Names shown as the status bar shows them, control characters escaped.
    const QString fullSummary = EscapeControlCharacters(CountSummaryText(*shownCount));
    const QString summary = SummaryLines(fullSummary, metrics, width);
    QStringList notes;
    if (stale)
        notes << FormText("Settings changed since this count (%1)").arg(changed.join(QStringLiteral(", ")));
    QStringList doubts;
    if (const CountedRun* count = ShownCount()) {
        const QString recounted = RecountedRangeText(count->settings, count->result);
        if (!recounted.isEmpty())
            notes << recounted;
        doubts = RunDoubtTexts(count->settings, count->result);
        notes << doubts;
    }
    const QString noteLine = notes.join(QStringLiteral("; "));
    ui->label_runSummary->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui->label_runSummary->setText(summary + QLatin1Char('\n') + metrics.elidedText(noteLine, Qt::ElideRight, width));
    ui->label_runSummary->setToolTip(noteLine.isEmpty() ? fullSummary : fullSummary + QLatin1Char('\n') + noteLine);
    ui->label_sizeStats->setToolTip(
        FormText("Equivalent circular diameters (ECD) of the particles the counters count: D10, D50 and D90 are "
                 "the sizes that 10, 50 and 90 % of them are smaller than (Results > Size distribution)"));
    // Greyed, not hidden: the numbers stay readable until the next count. Counts the run
    // doubted are marked as long as they are shown.
    const QString look = stale ? QStringLiteral("color: gray;") : QString();
    const QString doubted = doubts.isEmpty() ? QString() : QStringLiteral("background-color: #ffe08a;");
    for (QLineEdit* counter : {ui->tf_report_total, ui->tf_report_NGreater, ui->tf_report_NSmaller}) {
        counter->setStyleSheet(look + doubted);
        // The form's tip, then what the run doubted.
        const char* formTip = "formToolTip";
        if (!counter->property(formTip).isValid())
            counter->setProperty(formTip, counter->toolTip());
        const QString tip = counter->property(formTip).toString();
        counter->setToolTip(doubts.isEmpty() ? tip : tip + QLatin1Char('\n') + doubts.join(QLatin1Char('\n')));
    }
    for (QWidget* widget : {static_cast<QWidget*>(ui->label_sizeStats), static_cast<QWidget*>(ui->label_runSummary)})
        widget->setStyleSheet(look);
}

void CMivoParticleStreamAnalysis::ClearResults()
{
    *finishedRun = CountedRun{};
    for (QLineEdit* counter : {ui->tf_report_total, ui->tf_report_NGreater, ui->tf_report_NSmaller})
        counter->setText(QStringLiteral("0"));
    // The strip belonged to the previous run.
    const QSignalBlocker blocker(ui->sld_vr_line);
    ui->sld_vr_line->setRange(0, 0);
    ui->sld_vr_line->setEnabled(false);
    ui->label_stripPosition->clear();
    ShowCount(CountSource::None);
}

void CMivoParticleStreamAnalysis::slot_countSettingsChanged()
{
    RefreshCountState();
}

void CMivoParticleStreamAnalysis::slot_results_showSizeDistribution()
{
    ShowBeside(*this, *sizeDialog, kLeastResultWindow);
}

void CMivoParticleStreamAnalysis::slot_results_showVelocityProfile()
{
    ShowBeside(*this, *velocityDialog, kLeastResultWindow);
}
