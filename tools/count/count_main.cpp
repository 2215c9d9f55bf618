// tessel-count: the register's count of a folder of frames without the window, for
// scripts and batch work. Same listing and the same run engine as the window's
// "Calculate FoI" in either counting mode, run to its end at once, with the same
// end-of-run recount.

#include "register/frame_listing.h"
#include "register/message_text.h"
#include "register/mivo_register_manager.h"
#include "register/particle_csv.h"
#include "register/run_engine.h"
#include "tools/count/count_options.h"
#include "tools/count/count_summary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

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

int Count(const CountOptions& options)
{
    const QString folder = QDir::cleanPath(options.folder);
    const QFileInfo folderInfo(folder);
    if (!folderInfo.isDir() || !folderInfo.isReadable()) {
        PrintError(QStringLiteral("[ERRO] Can not read folder ") + folder);
        return kFailed;
    }
    const QStringList names = ListFrameFiles(folder, FrameSortFlags(options.sortKey, options.order));
    // What the listing left out, as it stood when the frames were listed.
    const std::vector<SkippedFrameFile> skipped = SkippedFrameFiles(folder);
    if (names.size() < kMinimumFrameCount) {
        PrintError(QStringLiteral("[ERRO] No images were found"));
        return kFailed;
    }
    RunSettings settings;
    settings.folder = folder;
    settings.frameNames = names;
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

    bool complete = true;
    if (!options.csvPath.isEmpty() &&
        !WriteParticleCsv(options.csvPath, result.records, *reg.stream, reg.ClassRules(), settings.pixelSize)) {
        PrintError(QStringLiteral("[ERRO] Can not write ") + options.csvPath);
        complete = false;
    }
    if (!options.exportDir.isEmpty()) {
        const QString target = QDir::cleanPath(options.exportDir);
        QDir().mkpath(target);
        const QStringList failed = reg.ExportFramesOfInterest(target);
        for (const QString& path : failed)
            PrintError(QStringLiteral("[ERRO] Can not write ") + path);
        complete = complete && failed.isEmpty();
    }
    QStringList warnings;
    for (const SkippedFrameFile& file : skipped)
        warnings << QStringLiteral("[WARNING] Left out %1 (%2)").arg(file.name, file.Reason());
    warnings << LeftOutWarnings(result, *reg.stream);
    for (const QString& warning : warnings)
        PrintError(warning);
    // Nothing was left out for this: the count is complete as far as the program can
    // tell, so the exit status stays as it is; the user is warned all the same.
    for (const QString& warning : UnmeasuredMotionWarnings(result, options.mode))
        PrintError(warning);

    const QString summary =
        options.json ? SummaryJson(result, options.mode) + QLatin1Char('\n') : SummaryText(result, options);
    if (std::fputs(summary.toLocal8Bit().constData(), stdout) < 0 || std::fflush(stdout) != 0) {
        PrintError(QStringLiteral("[ERRO] Can not write the summary to standard output"));
        complete = false;
    }
    if (!complete)
        return kFailed;
    return warnings.isEmpty() ? kDone : kIncomplete;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
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
