// tessel-count: the register's count of a folder of frames (or of a recording: a TIFF
// stack, a video) without the window, for scripts and batch work. Same listing and the same run engine as the window's
// "Calculate FoI" in either counting mode, run to its end at once, with the same
// end-of-run recount; several folders one after the other.

#include "dialogs/size_distribution_chart.h"
#include "register/frame_listing.h"
#include "register/message_text.h"
#include "register/particle_csv.h"
#include "register/reading_texts.h"
#include "register/run_engine.h"
#include "register/run_numbers.h"
#include "register/run_part.h"
#include "register/run_pictures.h"
#include "register/run_report.h"
#include "register/run_warnings.h"
#include "tools/count/count_merge.h"
#include "register/velocity_profile.h"
#include "tools/count/count_options.h"
#include "toolkit/out_of_memory.h"
#include "tools/count/count_options.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <memory>
#include <vector>

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

// The folder's frames as the window lists them (or a recording's frames, in their order),
// and the files named like frames that the listing left out (as they stood when the frames
// were listed); an "[ERRO] ..." text when the sequence cannot be counted.
struct Listing {
    QStringList names;
    SequenceKind kind = SequenceKind::Folder;
    std::vector<SkippedFrameFile> skipped;
    QString error;
};

Listing ListFolder(const CountOptions& options, const QString& folder)
{
    Listing listing;
    const QFileInfo folderInfo(folder);
    if (!folderInfo.exists() || (folderInfo.isDir() && !folderInfo.isReadable())) {
        listing.error = QStringLiteral("[ERRO] Can not read folder ") + folder;
        return listing;
    }
    SequenceListing sequence = ListSequence(folder, FrameSortFlags(options.sortKey, options.order));
    listing.names = sequence.frameNames;
    listing.kind = sequence.kind;
    listing.skipped = std::move(sequence.leftOut);
    listing.error = sequence.error;
    return listing;
}

// Writes `written` and names it when it fails; false then.
bool Written(bool written, const QString& path)
{
    if (!written)
        PrintError(QStringLiteral("[ERRO] Can not write ") + path);
    return written;
}

// Writes the outputs asked for: the particle table, the pictures, the size-distribution
// chart and its bins. False when one of them could not be written (each named).
bool WriteOutputs(const CountOptions& options, const FolderOutputs& outputs, const RunSettings& settings,
                  const RunResult& result)
{
    // The folders that several folders' options name are made when missing, as --export's.
    if (options.folders.size() > 1) {
        for (const QString& file : {outputs.csv, outputs.histogram, outputs.histogramCsv, outputs.velocityCsv})
            if (!file.isEmpty())
                QDir().mkpath(QFileInfo(file).path());
    }
    bool complete = true;
    if (!outputs.csv.isEmpty())
        complete = Written(WriteParticleCsv(outputs.csv, settings, result), outputs.csv);
    if (!outputs.velocityCsv.isEmpty())
        complete = Written(WriteVelocityProfileCsv(outputs.velocityCsv, settings, result), outputs.velocityCsv) &&
                   complete;
    if (!outputs.exportDir.isEmpty()) {
        const QString target = QDir::cleanPath(outputs.exportDir);
        QDir().mkpath(target);
        const QStringList failed = ExportRunPictures(settings, result, target);
        for (const QString& path : failed)
            Written(false, path);
        complete = complete && failed.isEmpty();
    }
    if (outputs.histogram.isEmpty() && outputs.histogramCsv.isEmpty())
        return complete;
    const SizeHistogram histogram = RunSizeHistogram(settings, result);
    if (!outputs.histogram.isEmpty())
        complete = Written(SaveSizeDistributionChart(outputs.histogram, histogram, RunSizeStatistics(settings, result)),
                           outputs.histogram) &&
                   complete;
    if (!outputs.histogramCsv.isEmpty())
        complete = Written(WriteSizeHistogramCsv(outputs.histogramCsv, histogram), outputs.histogramCsv) && complete;
    return complete;
}

// What the count left out, one "[WARNING] ..." line each: files named like frames that the
// listing left out, frames the run could not read, log lines lost. Then the motions it could
// not measure, a flow that reversed and objects left out as static: nothing was left out for them, the count is complete as far as the program
// can tell, so they do not count among what is returned; the user is warned all the same.
QStringList PrintWarnings(const Listing& listing, const RunSettings& settings, const RunResult& result)
{
    QStringList leftOut = SkippedFrameFileTexts(listing.skipped);
    // A recording that could not be read to its end: its last frames are missing.
    const QString cut = RecordingCutShortText(settings, result);
    if (!cut.isEmpty())
        leftOut << cut;
    leftOut << LeftOutFrameTexts(settings, result);
    const QString log = LostLogLinesText(result);
    if (!log.isEmpty())
        leftOut << log;
    QStringList noted = UnmeasuredMotionTexts(settings, result);
    for (const QString& text :
         {FaintFramesText(settings, result), MultiPageFramesText(settings, result), FlowReversalText(settings, result),
          StaticObjectsText(settings, result)})
        if (!text.isEmpty())
            noted << text;
    for (const QString& text : leftOut + noted)
        PrintError(QStringLiteral("[WARNING] ") + text);
    return leftOut;
}

// The summary on standard output: text, or one line of JSON. Text summaries of several
// folders are set apart by an empty line. False when it could not be written.
bool PrintSummary(const CountOptions& options, int index, const RunSettings& settings, const RunResult& result)
{
    QString summary =
        options.json ? RunReportJson(settings, result) + QLatin1Char('\n') : RunReportText(settings, result);
    if (!options.json && index > 0)
        summary.prepend(QLatin1Char('\n'));
    if (std::fputs(summary.toLocal8Bit().constData(), stdout) >= 0 && std::fflush(stdout) == 0)
        return true;
    PrintError(QStringLiteral("[ERRO] Can not write the summary to standard output"));
    return false;
}

// With --json over several folders, a folder that could not be counted still gets its
// line, so that a script reading one line per folder sees which failed and why:
// {"folder":...,"error":...}. A single folder's failure is told by the exit status alone.
void PrintFailureJson(const CountOptions& options, const QString& folder, const QString& error)
{
    if (!options.json || options.folders.size() < 2)
        return;
    QJsonObject line;
    line.insert(QStringLiteral("folder"), folder);
    line.insert(QStringLiteral("error"), error);
    std::fputs((QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n').constData(), stdout);
    std::fflush(stdout);
}

// Counts folders[index] and writes its outputs and its summary; the exit status of that
// folder alone.
int CountFolder(const CountOptions& options, int index)
{
    const QString folder = QDir::cleanPath(options.folders[index]);
    const Listing listing = ListFolder(options, folder);
    if (!listing.error.isEmpty()) {
        PrintError(listing.error);
        PrintFailureJson(options, folder, listing.error);
        return kFailed;
    }
    RunSettings settings = options.run;
    settings.folder = folder;
    settings.frameNames = listing.names;
    settings.sequenceKind = listing.kind;
    // A part outside the sequence is bad usage, found once the sequence is listed.
    const QString partProblem = PartProblem(settings);
    if (!partProblem.isEmpty()) {
        PrintError(QStringLiteral("tessel-count: ") + QString(partProblem).remove(QStringLiteral("[ERRO] ")));
        return kBadUsage;
    }
    const RunResult result = RunToEnd(settings);
    if (result.end != RunEnd::Finished) {
        PrintError(result.error);
        PrintFailureJson(options, folder, result.error);
        return kFailed;
    }
    bool complete = WriteOutputs(options, OutputsOf(options, index), settings, result);
    const QStringList leftOut = PrintWarnings(listing, settings, result);
    complete = PrintSummary(options, index, settings, result) && complete;
    if (!complete)
        return kFailed;
    return leftOut.isEmpty() ? kDone : kIncomplete;
}

// How bad an exit status is: a part outside its sequence (2) is worse than a folder not
// counted or an output not written (1), worse than one counted with frames left out (3),
// which is worse than done (0).
int Severity(int status)
{
    return status == kBadUsage ? 3 : status == kFailed ? 2 : status == kIncomplete ? 1 : 0;
}

// --merge: the parts' summaries summed, one line of JSON on standard output.
int Merge(const CountOptions& options)
{
    const MergedSummary merged = MergePartSummaries(options.folders);
    if (!merged.error.isEmpty()) {
        PrintError(merged.error);
        return kFailed;
    }
    if (!merged.coverage.isEmpty())
        PrintError(merged.coverage);
    const QString line = merged.json + QLatin1Char('\n');
    if (std::fputs(line.toUtf8().constData(), stdout) < 0 || std::fflush(stdout) != 0) {
        PrintError(QStringLiteral("[ERRO] Can not write the summary to standard output"));
        return kFailed;
    }
    return merged.coverage.isEmpty() ? kDone : kIncomplete;
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
            const QString error = QStringLiteral("[ERRO] Can not count %1 (out of memory)").arg(options.folders[index]);
            PrintError(error);
            PrintFailureJson(options, QDir::cleanPath(options.folders[index]), error);
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
    return options.merge ? Merge(options) : Count(options);
}
