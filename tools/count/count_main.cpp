// tessel-count: the register's count of a folder of frames (or of a recording: a TIFF
// stack, a video) without the window, for scripts and batch work. Same listing and the same run engine as the window's
// "Calculate FoI" in either counting mode, run to its end at once, with the same
// end-of-run recount; several folders one after the other.

#include "dialogs/size_distribution_chart.h"
#include "register/frame_listing.h"
#include "register/message_text.h"
#include "register/mivo_register_manager.h"
#include "register/particle_csv.h"
#include "register/run_engine.h"
#include "register/run_report.h"
#include "register/size_histogram.h"
#include "register/size_statistics.h"
#include "tools/count/count_options.h"
#include "tools/count/count_summary.h"
#include "toolkit/out_of_memory.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <memory>

namespace {

// One message, one line: control characters in file names are escaped.
void PrintError(const QString& text)
{
    std::fprintf(stderr, "%s\n", EscapeControlCharacters(text).toLocal8Bit().constData());
}

// The run engine over the listed frames to its end; progress on standard error, each
// text once.
RunResult RunToEnd(const RunSettings& settings)
{
    QString lastStatus;
    CRunEngine engine;
    return engine.RunToEnd(settings, [&lastStatus](const StepReport& report) {
        if (report.status.isEmpty() || report.status == lastStatus)
            return;
        lastStatus = report.status;
        PrintError(report.status);
    });
}

// Exit statuses.
constexpr int kDone = 0;
constexpr int kFailed = 1;  // nothing counted, or an asked-for output not written
constexpr int kBadUsage = 2;
constexpr int kIncomplete = 3;  // counted and written, but frames or log lines left out

// Writes the size-distribution chart and its bins, where asked for; false when one of
// them could not be written (each named).
bool WriteDistribution(const FolderOutputs& outputs, const RunSettings& settings, const RunResult& result,
                       const ParticleClassRules& rules)
{
    if (outputs.histogram.isEmpty() && outputs.histogramCsv.isEmpty())
        return true;
    const SizeHistogram histogram = ComputeSizeHistogram(result.records, rules, settings.pixelSize);
    bool written = true;
    if (!outputs.histogram.isEmpty() &&
        !SaveSizeDistributionChart(outputs.histogram, histogram,
                                   ComputeSizeStatistics(result.records, rules, settings.pixelSize))) {
        PrintError(QStringLiteral("[ERRO] Can not write ") + outputs.histogram);
        written = false;
    }
    if (!outputs.histogramCsv.isEmpty() && !WriteSizeHistogramCsv(outputs.histogramCsv, histogram)) {
        PrintError(QStringLiteral("[ERRO] Can not write ") + outputs.histogramCsv);
        written = false;
    }
    return written;
}

// Counts folders[index] and writes its outputs and its summary; the exit status of that
// folder alone.
int CountFolder(const CountOptions& options, int index)
{
    const QString folder = QDir::cleanPath(options.folders[index]);
    const FolderOutputs outputs = OutputsOf(options, index);
    // A folder of frames, or a recording file (a stack, a video).
    const QFileInfo folderInfo(folder);
    if (!folderInfo.exists() || (folderInfo.isDir() && !folderInfo.isReadable())) {
        PrintError(QStringLiteral("[ERRO] Can not read folder ") + folder);
        return kFailed;
    }
    const SequenceListing listing = ListSequence(folder, FrameSortFlags(options.sortKey, options.order));
    if (!listing.error.isEmpty()) {
        PrintError(listing.error);
        return kFailed;
    }
    RunSettings settings;
    settings.folder = folder;
    settings.frameNames = listing.frameNames;
    settings.sequenceKind = listing.kind;
    settings.mode = options.mode;
    settings.method = options.method;
    settings.minArea = options.minPixels;
    settings.maxArea = options.maxPixels;
    settings.circularityFilter = options.circularityFilter;
    settings.minCircularity = options.minCircularity;
    settings.pixelSize = options.pixelSize;
    settings.framePixelLimit = options.maxFramePixels;
    const RunResult result = RunToEnd(settings);
    if (result.end != RunEnd::Finished) {
        PrintError(result.error);
        return kFailed;
    }
    // The register shows the run for the exports, as the window's would.
    CMivoRegisterManager reg;
    reg.AdoptRun(settings, result);

    // The folders that several folders' options name are made when missing, as --export's.
    if (options.folders.size() > 1) {
        for (const QString& file : {outputs.csv, outputs.histogram, outputs.histogramCsv})
            if (!file.isEmpty())
                QDir().mkpath(QFileInfo(file).path());
    }
    bool complete = true;
    if (!outputs.csv.isEmpty() &&
        !WriteParticleCsv(outputs.csv, result.records, *reg.stream, reg.ClassRules(), settings.pixelSize)) {
        PrintError(QStringLiteral("[ERRO] Can not write ") + outputs.csv);
        complete = false;
    }
    if (!outputs.exportDir.isEmpty()) {
        const QString target = QDir::cleanPath(outputs.exportDir);
        QDir().mkpath(target);
        const QStringList failed = reg.ExportFramesOfInterest(target);
        for (const QString& path : failed)
            PrintError(QStringLiteral("[ERRO] Can not write ") + path);
        complete = complete && failed.isEmpty();
    }
    complete = WriteDistribution(outputs, settings, result, reg.ClassRules()) && complete;
    QStringList warnings;
    for (const SkippedFrameFile& file : listing.leftOut)
        warnings << QStringLiteral("[WARNING] Left out %1 (%2)").arg(file.name, file.Reason());
    warnings << LeftOutWarnings(settings, result, *reg.stream);
    for (const QString& warning : warnings)
        PrintError(warning);
    // Nothing was left out for these: the count is complete as far as the program can
    // tell, so the exit status stays as it is; the user is warned all the same.
    for (const QString& warning : UnmeasuredMotionWarnings(result, options.mode) + FaintFrameWarnings(settings, result))
        PrintError(warning);

    // Text summaries of several folders are set apart by an empty line.
    QString summary =
        options.json ? RunReportJson(settings, result) + QLatin1Char('\n') : RunReportText(settings, result);
    if (!options.json && index > 0)
        summary.prepend(QLatin1Char('\n'));
    if (std::fputs(summary.toLocal8Bit().constData(), stdout) < 0 || std::fflush(stdout) != 0) {
        PrintError(QStringLiteral("[ERRO] Can not write the summary to standard output"));
        complete = false;
    }
    if (!complete)
        return kFailed;
    return warnings.isEmpty() ? kDone : kIncomplete;
}

// How bad an exit status is: a folder not counted or an output not written (1) is worse
// than one counted with frames left out (3), which is worse than done (0).
int Severity(int status)
{
    return status == kFailed ? 2 : status == kIncomplete ? 1 : 0;
}

// The folders one after the other; the worst of their exit statuses. With several,
// each folder's progress and messages on standard error follow a line that names it.
int Count(const CountOptions& options)
{
    int worst = kDone;
    const int count = static_cast<int>(options.folders.size());
    for (int index = 0; index < count; ++index) {
        if (count > 1)
            PrintError(QStringLiteral("[Running] %1 (%2 of %3)").arg(options.folders[index]).arg(index + 1).arg(count));
        int status = kFailed;
        // Memory running out on a frame leaves the frame out; anywhere else (a rendering,
        // an output) the folder cannot be counted.
        if (RanOutOfMemory([&] { status = CountFolder(options, index); })) {
            PrintError(QStringLiteral("[ERRO] Can not count %1 (out of memory)").arg(options.folders[index]));
            status = kFailed;
        }
        if (Severity(status) > Severity(worst))
            worst = status;
    }
    return worst;
}

}  // namespace

int main(int argc, char* argv[])
{
    // The chart is drawn by widgets, off screen: no display is needed.
    std::unique_ptr<QCoreApplication> app;
    if (ChartAsked(argc, argv)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // The platform's start-up notes (no XDG_RUNTIME_DIR in a batch job, ...) say nothing
        // about the count and would come before its usage text.
        const QtMessageHandler handler =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        app = std::make_unique<QApplication>(argc, argv);
        qInstallMessageHandler(handler);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("tessel-count"));
    CountOptions options;
    QString message;
    QString usage;
    ParseResult parsed = ParseCountOptions(QCoreApplication::arguments(), options, message, usage);
    if (parsed == ParseResult::Run) {
        message = CheckArgumentBytes(argc, argv);
        if (message.isEmpty())
            message = CheckOutputPaths(options);
        parsed = message.isEmpty() ? ParseResult::Run : ParseResult::BadUsage;
    }
    switch (parsed) {
    case ParseResult::Help:
        std::fputs(usage.toLocal8Bit().constData(), stdout);
        return kDone;
    case ParseResult::BadUsage:
        PrintError(QStringLiteral("tessel-count: ") + message);
        std::fputs(usage.toLocal8Bit().constData(), stderr);
        return kBadUsage;
    case ParseResult::Run:
        break;
    }
    return Count(options);
}
