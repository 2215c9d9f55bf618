#include "tools/count/count_options.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <cmath>
#include <optional>

namespace {

bool ReadInt(const QString& text, int lowest, int& value)
{
    bool ok = false;
    const int read = text.toInt(&ok, 10);
    if (!ok || read < lowest)
        return false;
    value = read;
    return true;
}

bool ReadLong(const QString& text, long long lowest, long long& value)
{
    bool ok = false;
    const long long read = text.toLongLong(&ok, 10);
    if (!ok || read < lowest)
        return false;
    value = read;
    return true;
}

bool ReadReal(const QString& text, double lowest, double highest, double& value)
{
    bool ok = false;
    const double read = text.toDouble(&ok);
    if (!ok || !std::isfinite(read) || read < lowest || read > highest)
        return false;
    value = read;
    return true;
}

}  // namespace

bool ChartAsked(int argc, const char* const argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--")  // the rest are folders
            return false;
        if (argument == "--histogram" || argument.startsWith("--histogram="))
            return true;
    }
    return false;
}

namespace {

const char kDescription[] = "Counts the particles of a folder of frames the way the window's \"Calculate FoI\" does,\n"
                            "and reports the counts within, above and below the area range. A recording (a\n"
                            "multi-page TIFF, a video: AVI, MP4, MKV, ...) is counted as a folder of its frames;\n"
                            "--sort and --order do not apply to it. Two modes:\n"
                            "foi selects the frames of interest, counts their particles and the new strip of\n"
                            "the last frame; crossing follows every particle from frame to frame and counts\n"
                            "it once, where it crosses a line across the middle of the flow, sized where it\n"
                            "is whole.\n"
                            "Progress goes to standard error, the summary to standard output.\n"
                            "The CSV has one row per particle record, with the columns\n"
                            "frame,file,x,y,area_px,area_um2,ratio,circularity,class,feret_max_px,\n"
                            "feret_min_px,aspect_ratio,solidity,blur_px,vx_px,vy_px (class: single, bigger,\n"
                            "smaller, filtered or uncounted; longest and shortest caliper width, their quotient,\n"
                            "area over convex hull area, the particle's own blur sigma, 0 where not measured;\n"
                            "vx_px, vy_px the counting line's velocity in pixels per frame, empty where a\n"
                            "particle was not followed), and speed_um_s with --frame-rate.\n"
                            "Several folders are counted one after the other with the same settings: one\n"
                            "JSON object per folder and line, one text summary each; --csv, --histogram,\n"
                            "--histogram-csv and --export then name folders that get one file (or sub-folder)\n"
                            "<i>_<name> per counted folder, i its place among the arguments.\n"
                            "Exit status: 0 done, 1 the folder could not be counted or an output could not be\n"
                            "written, 2 bad usage, 3 counted and written, but frames that could not be read\n"
                            "(each named on standard error) were left out or log lines were lost. Frame shifts\n"
                            "that could not be measured (foi: taken as 0; crossing: taken from the neighbouring\n"
                            "frames) are named in a warning; they alone do not change the exit status. Of several\n"
                            "folders the worst: 1, then 3, then 0; bad usage is found before any folder is counted.";

// What went wrong with the arguments, or nothing.
using Problem = std::optional<QString>;

// The options of tessel-count, each read and checked by the stage named after what it sets.
struct CountParser {
    CountParser();

    Problem ReadCounting(CountOptions& options) const;  // mode, method, size range, pixel size, filter
    Problem ReadOrder(CountOptions& options) const;     // frame order
    Problem ReadOutputs(CountOptions& options) const;   // files and folders written, the summary's form
    Problem ReadLimits(CountOptions& options) const;    // frames refused
    Problem ReadPart(CountOptions& options) const;      // a part of the sequence, or a merge of parts
    Problem ReadWatch(CountOptions& options) const;     // a folder still being written

    QCommandLineParser parser;
    const QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("This text.")};
    const QCommandLineOption mode{QStringLiteral("mode"),
                                  QStringLiteral("Counting mode: frames of interest or counting line [foi]."),
                                  QStringLiteral("foi|crossing")};
    const QCommandLineOption method{
        QStringLiteral("method"),
        QStringLiteral("Segmentation: 1 Otsu, 2 Mode Value, 3 Frame Diff, 4 Background [foi: %1, crossing: %2].")
            .arg(DefaultMethod(CountingMode::FramesOfInterest))
            .arg(DefaultMethod(CountingMode::CountingLine)),
        QStringLiteral("1|2|3|4")};
    const QCommandLineOption minPx{QStringLiteral("min-px"),
                                   QStringLiteral("Lower area bound in pixels [%1].").arg(count_defaults::kMinArea),
                                   QStringLiteral("N")};
    const QCommandLineOption maxPx{QStringLiteral("max-px"),
                                   QStringLiteral("Upper area bound in pixels [%1].").arg(count_defaults::kMaxArea),
                                   QStringLiteral("N")};
    const QCommandLineOption pixelSize{
        QStringLiteral("pixel-size"),
        QStringLiteral("Pixel side in micrometres, for area_um2 [%1].").arg(count_defaults::kPixelSize),
        QStringLiteral("UM")};
    const QCommandLineOption circularity{QStringLiteral("circularity"),
                                         QStringLiteral("Circularity filter on, with threshold V in 0 .. 1 [off]."),
                                         QStringLiteral("V")};
    const QCommandLineOption sort{QStringLiteral("sort"), QStringLiteral("Frame order key [name]."),
                                  QStringLiteral("name|time|size")};
    const QCommandLineOption order{QStringLiteral("order"), QStringLiteral("Frame order direction [asc]."),
                                   QStringLiteral("asc|desc")};
    const QCommandLineOption csv{QStringLiteral("csv"), QStringLiteral("Write the particle records as CSV."),
                                 QStringLiteral("FILE")};
    const QCommandLineOption exportDir{QStringLiteral("export"),
                                       QStringLiteral("Write the pos_/res_ images of the frames of interest "
                                                      "(crossing: of the frames that counted particles) into "
                                                      "DIR (created when missing)."),
                                       QStringLiteral("DIR")};
    const QCommandLineOption histogram{QStringLiteral("histogram"),
                                       QStringLiteral("Write the size-distribution chart, PNG or SVG by the suffix."),
                                       QStringLiteral("FILE")};
    const QCommandLineOption histogramFormat{
        QStringLiteral("histogram-format"), QStringLiteral("The chart's format [FILE's suffix; several folders: png]."),
        QStringLiteral("png|svg")};
    const QCommandLineOption histogramCsv{QStringLiteral("histogram-csv"),
                                          QStringLiteral("Write the chart's bins as CSV."), QStringLiteral("FILE")};
    const QCommandLineOption json{QStringLiteral("json"),
                                  QStringLiteral("Summary as JSON, one object per folder and line.")};
    const QCommandLineOption frames{
        QStringLiteral("frames"),
        QStringLiteral("Count frames FIRST to LAST (0-based) alone, on the counting line: parts that share their "
                       "end frames add up to the whole [all]."),
        QStringLiteral("FIRST:LAST")};
    const QCommandLineOption merge{
        QStringLiteral("merge"),
        QStringLiteral("Sum the --json summaries of the parts of one sequence, in the FILEs given, into one.")};
    const QCommandLineOption maxFramePixels{
        QStringLiteral("max-frame-pixels"),
        QStringLiteral("Refuse frames of more pixels [%1]; a frame 0 above it stops the count.")
            .arg(kDefaultFramePixelLimit),
        QStringLiteral("N")};
    const QCommandLineOption velocityCsv{
        QStringLiteral("velocity-csv"),
        QStringLiteral("Counting line: write the velocity profile (10 bands across the channel) as CSV."),
        QStringLiteral("FILE")};
    const QCommandLineOption watch{
        QStringLiteral("watch"),
        QStringLiteral("Count FOLDER while frames are still being written into it, each once complete; a line "
                       "of counts so far every 100 frames or 10 s on standard error; Ctrl+C ends the count with "
                       "the frames so far, as a finished folder.")};
    const QCommandLineOption idle{
        QStringLiteral("idle"), QStringLiteral("With --watch: end the count after SECONDS without a new frame [never]."),
        QStringLiteral("SECONDS")};
    const QCommandLineOption frameRate{
        QStringLiteral("frame-rate"),
        QStringLiteral("Frames per second, for speeds in micrometres per second [not known]."),
        QStringLiteral("HZ")};
};

CountParser::CountParser()
{
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addOptions({help, mode, method, minPx, maxPx, pixelSize, circularity, sort, order, csv, exportDir, histogram,
                       histogramFormat, histogramCsv, json, maxFramePixels, frames, merge, velocityCsv, frameRate,
                       watch, idle});
    parser.addPositionalArgument(QStringLiteral("FOLDER"),
                                 QStringLiteral("Folder of at least six frames, or a recording file; or several."),
                                 QStringLiteral("FOLDER|FILE..."));
}

Problem CountParser::ReadCounting(CountOptions& options) const
{
    RunSettings& run = options.run;
    if (parser.isSet(mode)) {
        const QString name = parser.value(mode);
        if (name == QLatin1String("foi"))
            run.mode = CountingMode::FramesOfInterest;
        else if (name == QLatin1String("crossing"))
            run.mode = CountingMode::CountingLine;
        else
            return QStringLiteral("--mode takes foi or crossing.");
    }
    run.method = DefaultMethod(run.mode);
    if (parser.isSet(method) && (!ReadInt(parser.value(method), 1, run.method) || run.method > 4))
        return QStringLiteral("--method takes 1, 2, 3 or 4.");
    if (parser.isSet(minPx) && !ReadInt(parser.value(minPx), 1, run.minArea))
        return QStringLiteral("--min-px takes a whole number of at least 1.");
    if (parser.isSet(maxPx) && !ReadInt(parser.value(maxPx), 1, run.maxArea))
        return QStringLiteral("--max-px takes a whole number of at least 1.");
    if (run.minArea > run.maxArea)
        return QStringLiteral("--min-px %1 is above --max-px %2.").arg(run.minArea).arg(run.maxArea);
    if (parser.isSet(pixelSize) &&
        (!ReadReal(parser.value(pixelSize), 0.0, 1e6, run.pixelSize) || run.pixelSize <= 0.0))
        return QStringLiteral("--pixel-size takes a positive number.");
    if (parser.isSet(circularity)) {
        if (!ReadReal(parser.value(circularity), 0.0, 1.0, run.minCircularity))
            return QStringLiteral("--circularity takes a number from 0 to 1.");
        run.circularityFilter = true;
    }
    if (parser.isSet(frameRate) &&
        (!ReadReal(parser.value(frameRate), 0.0, 1e9, run.frameRate) || run.frameRate <= 0.0))
        return QStringLiteral("--frame-rate takes a positive number.");
    return std::nullopt;
}

Problem CountParser::ReadOrder(CountOptions& options) const
{
    if (parser.isSet(sort)) {
        const QString key = parser.value(sort);
        if (key == QLatin1String("name"))
            options.sortKey = QStringLiteral("byName");
        else if (key == QLatin1String("time"))
            options.sortKey = QStringLiteral("byTime");
        else if (key == QLatin1String("size"))
            options.sortKey = QStringLiteral("bySize");
        else
            return QStringLiteral("--sort takes name, time or size.");
    }
    if (parser.isSet(order)) {
        const QString direction = parser.value(order);
        if (direction == QLatin1String("asc"))
            options.order = QStringLiteral("orderAscendant");
        else if (direction == QLatin1String("desc"))
            options.order = QStringLiteral("orderDescendant");
        else
            return QStringLiteral("--order takes asc or desc.");
    }
    return std::nullopt;
}

Problem CountParser::ReadOutputs(CountOptions& options) const
{
    // A file or folder option given empty names nothing.
    const auto path = [this](const QCommandLineOption& option, QString& value, const char* needs) -> Problem {
        if (!parser.isSet(option))
            return std::nullopt;
        value = parser.value(option);
        if (value.isEmpty())
            return QStringLiteral("--%1 needs %2.").arg(option.names().constFirst(), QLatin1String(needs));
        return std::nullopt;
    };
    const bool oneFolder = options.folders.size() == 1;
    if (Problem problem = path(csv, options.csvPath, "a file name"))
        return problem;
    if (Problem problem = path(exportDir, options.exportDir, "a folder"))
        return problem;
    if (Problem problem = path(histogram, options.histogramPath, "a file name"))
        return problem;
    if (parser.isSet(histogram) && oneFolder) {
        const QString suffix = QFileInfo(options.histogramPath).suffix().toLower();
        if (suffix != QLatin1String("png") && suffix != QLatin1String("svg"))
            return QStringLiteral("--histogram takes a .png or .svg file.");
        options.histogramFormat = suffix;
    }
    if (parser.isSet(histogramFormat)) {
        const QString format = parser.value(histogramFormat);
        if (format != QLatin1String("png") && format != QLatin1String("svg"))
            return QStringLiteral("--histogram-format takes png or svg.");
        if (oneFolder && parser.isSet(histogram) && format != options.histogramFormat)
            return QStringLiteral("--histogram %1 does not end in .%2.").arg(options.histogramPath, format);
        options.histogramFormat = format;
    }
    if (Problem problem = path(histogramCsv, options.histogramCsvPath, "a file name"))
        return problem;
    options.json = parser.isSet(json);
    if (Problem problem = path(velocityCsv, options.velocityCsvPath, "a file name"))
        return problem;
    return std::nullopt;
}

Problem CountParser::ReadLimits(CountOptions& options) const
{
    if (parser.isSet(maxFramePixels) && !ReadLong(parser.value(maxFramePixels), 1, options.run.framePixelLimit))
        return QStringLiteral("--max-frame-pixels takes a whole number of at least 1.");
    return std::nullopt;
}

Problem CountParser::ReadPart(CountOptions& options) const
{
    options.merge = parser.isSet(merge);
    if (options.merge) {
        for (const QCommandLineOption* counting : {&frames, &csv, &exportDir, &histogram, &histogramCsv})
            if (parser.isSet(*counting))
                return QStringLiteral("--merge sums summaries; --%1 asks for a count.")
                    .arg(counting->names().constFirst());
        return std::nullopt;
    }
    if (!parser.isSet(frames))
        return std::nullopt;
    const QStringList range = parser.value(frames).split(QLatin1Char(':'));
    RunSettings& run = options.run;
    if (range.size() != 2 || !ReadInt(range[0], 0, run.partFirst) || !ReadInt(range[1], 0, run.partLast) ||
        run.partLast <= run.partFirst)
        return QStringLiteral("--frames takes FIRST:LAST, whole numbers from 0 with FIRST below LAST.");
    if (run.mode != CountingMode::CountingLine)
        return QStringLiteral("--frames needs --mode crossing: the frames of interest are chosen one after the "
                              "other from the first frame, so they cannot be counted in parts.");
    return std::nullopt;
}

Problem CountParser::ReadWatch(CountOptions& options) const
{
    RunSettings& run = options.run;
    run.watch = parser.isSet(watch);
    if (!run.watch)
        return parser.isSet(idle) ? Problem(QStringLiteral("--idle needs --watch.")) : std::nullopt;
    if (options.folders.size() != 1)
        return QStringLiteral("--watch takes one FOLDER.");
    // Frames are taken as they arrive, in name order: nothing else can hold while the folder
    // fills.
    if (options.merge || run.partFirst >= 0)
        return QStringLiteral("--watch counts the whole folder: not with --frames or --merge.");
    if (options.sortKey != QLatin1String("byName") || options.order != QLatin1String("orderAscendant"))
        return QStringLiteral("--watch takes the frames in name order: not with --sort or --order desc.");
    if (parser.isSet(idle) && (!ReadReal(parser.value(idle), 0.0, 1e9, run.watchIdleSeconds) ||
                               run.watchIdleSeconds <= 0.0))
        return QStringLiteral("--idle takes a positive number of seconds.");
    return std::nullopt;
}

}  // namespace

ParseResult ParseCountOptions(const QStringList& arguments, CountOptions& options, QString& message, QString& usage)
{
    CountParser reader;
    // Named as the program, not as the path it was started by.
    usage = reader.parser.helpText();
    if (!arguments.isEmpty())
        usage.replace(arguments.first(), QStringLiteral("tessel-count"));
    if (!reader.parser.parse(arguments)) {
        message = reader.parser.errorText();
        return ParseResult::BadUsage;
    }
    if (reader.parser.isSet(reader.help))
        return ParseResult::Help;
    options.folders = reader.parser.positionalArguments();
    Problem problem;
    if (options.folders.isEmpty())
        problem = QStringLiteral("At least one FOLDER is needed.");
    for (auto stage : {&CountParser::ReadCounting, &CountParser::ReadOrder, &CountParser::ReadOutputs,
                       &CountParser::ReadLimits, &CountParser::ReadPart, &CountParser::ReadWatch})
        if (!problem)
            problem = (reader.*stage)(options);
    if (!problem)
        return ParseResult::Run;
    message = *problem;
    return ParseResult::BadUsage;
}
