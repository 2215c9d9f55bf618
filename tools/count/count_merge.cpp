#include "tools/count/count_merge.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <set>
#include <vector>

namespace {

struct Part {
    QJsonObject summary;
    QString file;
    int first = 0;
    int last = 0;
};

// The keys every part must share: the settings and what the sequence is.
const char* const kSameKeys[] = {"mode",        "folder",        "method",         "min_px",
                                 "max_px",      "pixel_size_um", "circularity",    "bit_depth",
                                 "frame_width", "frame_height",  "sequence_frames"};

// The order of a summary's keys (run_report.h).
const char* const kKeyOrder[] = {"mode",
                                 "frames",
                                 "frame_width",
                                 "frame_height",
                                 "selected_frames",
                                 "accumulated_shift",
                                 "count_in_range",
                                 "count_greater",
                                 "count_smaller",
                                 "particles",
                                 "unreadable_frames",
                                 "unmeasured_shifts",
                                 "folder",
                                 "method",
                                 "min_px",
                                 "max_px",
                                 "pixel_size_um",
                                 "circularity",
                                 "frames_counted",
                                 "finished_at",
                                 "size_stats",
                                 "flow_direction",
                                 "static_objects",
                                 "ambiguous_links",
                                 "links",
                                 "crossings_forward",
                                 "crossings_backward",
                                 "velocity_profile",
                                 "bit_depth",
                                 "part",
                                 "sequence_frames",
                                 "direction_changes",
                                 "detected_min_px",
                                 "detected_max_px",
                                 "parts"};

QString Name(const QString& file)
{
    return QFileInfo(file).fileName();
}

// Reads the parts of `file`; false with `error` when it holds anything but parts' summaries.
bool ReadParts(const QString& file, std::vector<Part>& parts, QString& error)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("[ERRO] Can not read %1").arg(file);
        return false;
    }
    for (const QByteArray& line : in.readAll().split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        QJsonParseError parsed;
        const QJsonDocument document = QJsonDocument::fromJson(line, &parsed);
        if (parsed.error != QJsonParseError::NoError || !document.isObject()) {
            error = QStringLiteral("[ERRO] Can not read %1 (not a tessel-count --json summary)").arg(file);
            return false;
        }
        Part part;
        part.summary = document.object();
        part.file = file;
        const QJsonArray range = part.summary.value(QStringLiteral("part")).toArray();
        if (range.size() != 2) {
            error = QStringLiteral("[ERRO] %1 holds the summary of a whole sequence, not of a part (--frames)")
                        .arg(Name(file));
            return false;
        }
        part.first = range[0].toInt();
        part.last = range[1].toInt();
        parts.push_back(part);
    }
    return true;
}

QString ValueText(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
}

// The first setting two parts differ in, said; empty when they agree.
QString Difference(const Part& a, const Part& b)
{
    for (const char* key : kSameKeys) {
        const QString name = QString::fromLatin1(key);
        if (a.summary.value(name) != b.summary.value(name))
            return QStringLiteral("[ERRO] The parts were counted with different settings: %1 %2 in %3, %4 in %5")
                .arg(name, ValueText(a.summary.value(name)), Name(a.file), ValueText(b.summary.value(name)),
                     Name(b.file));
    }
    return QString();
}

// The size statistics of the parts together: what sums exactly.
QJsonObject MergedSizes(const std::vector<Part>& parts)
{
    double counted = 0.0, ecd = 0.0, area = 0.0;
    for (const Part& part : parts) {
        const QJsonObject stats = part.summary.value(QStringLiteral("size_stats")).toObject();
        const double n = stats.value(QStringLiteral("counted")).toDouble();
        counted += n;
        ecd += n * stats.value(QStringLiteral("mean_ecd_um")).toDouble();
        area += n * stats.value(QStringLiteral("mean_area_um2")).toDouble();
    }
    QJsonObject sizes;
    sizes.insert(QStringLiteral("counted"), counted);
    for (const char* decile : {"d10_um", "d50_um", "d90_um"})
        sizes.insert(QString::fromLatin1(decile), QJsonValue());
    sizes.insert(QStringLiteral("mean_ecd_um"), counted > 0 ? QJsonValue(ecd / counted) : QJsonValue());
    sizes.insert(QStringLiteral("mean_area_um2"), counted > 0 ? QJsonValue(area / counted) : QJsonValue());
    // A mean over the particles whose shape was measured, which the summaries do not count.
    if (parts.front()
            .summary.value(QStringLiteral("size_stats"))
            .toObject()
            .contains(QStringLiteral("mean_aspect_ratio")))
        sizes.insert(QStringLiteral("mean_aspect_ratio"), QJsonValue());
    return sizes;
}

// The counting line's numbers of the parts: the frames at which the flow turned (each
// part names those it owns) and the velocity profile's bands, their mean speeds weighted
// by the particles followed in them. (A part leaves out its tracking totals, which cover
// its context frames too.) Parts written before these keys existed add nothing.
void MergeTrackingNumbers(const std::vector<Part>& parts, QJsonObject& sum)
{
    if (!parts.front().summary.contains(QStringLiteral("velocity_profile")))
        return;
    std::set<int> changes;
    for (const Part& part : parts)
        for (const QJsonValue& frame : part.summary.value(QStringLiteral("direction_changes")).toArray())
            changes.insert(frame.toInt());
    QJsonArray turned;
    for (int frame : changes)
        turned.append(frame);
    sum.insert(QStringLiteral("direction_changes"), turned);
    const char* const speeds[] = {"mean_speed_px", "mean_speed_um", "mean_speed_um_s"};
    QJsonArray bands;
    const int bandCount = parts.front().summary.value(QStringLiteral("velocity_profile")).toArray().size();
    for (int b = 0; b < bandCount; ++b) {
        long long count = 0, followed = 0;
        double weighted[3] = {0.0, 0.0, 0.0};
        bool known[3] = {true, true, true};
        for (const Part& part : parts) {
            const QJsonObject band = part.summary.value(QStringLiteral("velocity_profile")).toArray().at(b).toObject();
            count += band.value(QStringLiteral("count")).toInt();
            const int n = band.value(QStringLiteral("followed")).toInt();
            followed += n;
            for (int k = 0; k < 3; ++k) {
                const QJsonValue speed = band.value(QLatin1String(speeds[k]));
                if (n > 0 && !speed.isDouble())
                    known[k] = false;
                weighted[k] += n * speed.toDouble();
            }
        }
        // Inserted in the order a summary writes them.
        QJsonObject band{{QStringLiteral("count"), count}};
        for (int k = 0; k < 3; ++k)
            band.insert(QLatin1String(speeds[k]), followed > 0 && known[k]
                                                      ? QJsonValue(weighted[k] / static_cast<double>(followed))
                                                      : QJsonValue());
        band.insert(QStringLiteral("followed"), followed);
        bands.append(band);
    }
    sum.insert(QStringLiteral("velocity_profile"), bands);
}

// One line of JSON with the keys in a summary's order.
QString OrderedJson(const QJsonObject& object)
{
    QStringList fields;
    for (const char* key : kKeyOrder) {
        const QString name = QString::fromLatin1(key);
        if (!object.contains(name))
            continue;
        const QByteArray value = QJsonDocument(QJsonArray{object.value(name)}).toJson(QJsonDocument::Compact);
        fields << QStringLiteral("\"%1\":").arg(name) + QString::fromUtf8(value.mid(1, value.size() - 2));
    }
    return QLatin1Char('{') + fields.join(QLatin1Char(',')) + QLatin1Char('}');
}

}  // namespace

MergedSummary MergePartSummaries(const QStringList& files)
{
    MergedSummary merged;
    std::vector<Part> parts;
    for (const QString& file : files)
        if (!ReadParts(file, parts, merged.error))
            return merged;
    if (parts.empty()) {
        merged.error = QStringLiteral("[ERRO] No summaries of parts were given");
        return merged;
    }
    std::stable_sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) { return a.first < b.first; });
    for (size_t k = 1; k < parts.size(); ++k) {
        merged.error = Difference(parts.front(), parts[k]);
        if (!merged.error.isEmpty())
            return merged;
        const Part& before = parts[k - 1];
        const Part& part = parts[k];
        // Parts share their end frames: one frame's crossings would otherwise be counted twice
        // or never.
        if (part.first != before.last) {
            merged.error = QStringLiteral("[ERRO] Parts %1:%2 (%3) and %4:%5 (%6) do not meet end to end; the next "
                                          "part begins with the frame the one before ends with")
                               .arg(before.first)
                               .arg(before.last)
                               .arg(Name(before.file))
                               .arg(part.first)
                               .arg(part.last)
                               .arg(Name(part.file));
            return merged;
        }
    }
    QJsonObject sum = parts.front().summary;
    const int first = parts.front().first, last = parts.back().last;
    const int frames = last - first + 1;
    long long inRange = 0, greater = 0, smaller = 0, particles = 0, unmeasured = 0;
    QJsonArray selected;
    std::set<int> unreadable;
    QString finished;
    std::set<QString> directions;
    for (const Part& part : parts) {
        const QJsonObject& s = part.summary;
        inRange += s.value(QStringLiteral("count_in_range")).toInt();
        greater += s.value(QStringLiteral("count_greater")).toInt();
        smaller += s.value(QStringLiteral("count_smaller")).toInt();
        particles += s.value(QStringLiteral("particles")).toInt();
        unmeasured += s.value(QStringLiteral("unmeasured_shifts")).toInt();
        for (const QJsonValue& frame : s.value(QStringLiteral("selected_frames")).toArray())
            selected.append(frame);
        for (const QJsonValue& frame : s.value(QStringLiteral("unreadable_frames")).toArray())
            unreadable.insert(frame.toInt());
        finished = std::max(finished, s.value(QStringLiteral("finished_at")).toString());
        directions.insert(s.value(QStringLiteral("flow_direction")).toString());
    }
    QJsonArray left;
    for (int frame : unreadable)
        left.append(frame);
    sum.insert(QStringLiteral("frames"), frames);
    sum.insert(QStringLiteral("selected_frames"), selected);
    sum.insert(QStringLiteral("accumulated_shift"), parts.back().summary.value(QStringLiteral("accumulated_shift")));
    sum.insert(QStringLiteral("count_in_range"), inRange);
    sum.insert(QStringLiteral("count_greater"), greater);
    sum.insert(QStringLiteral("count_smaller"), smaller);
    sum.insert(QStringLiteral("particles"), particles);
    sum.insert(QStringLiteral("unreadable_frames"), left);
    sum.insert(QStringLiteral("unmeasured_shifts"), unmeasured);
    sum.insert(QStringLiteral("frames_counted"), frames - static_cast<int>(unreadable.size()));
    sum.insert(QStringLiteral("finished_at"), finished.isEmpty() ? QJsonValue() : QJsonValue(finished));
    sum.insert(QStringLiteral("size_stats"), MergedSizes(parts));
    // One direction for all, or none to name.
    sum.insert(QStringLiteral("flow_direction"), directions.size() == 1 ? *directions.begin() : QStringLiteral("none"));
    MergeTrackingNumbers(parts, sum);
    sum.insert(QStringLiteral("part"), QJsonArray{first, last});
    sum.insert(QStringLiteral("parts"), static_cast<int>(parts.size()));
    merged.json = OrderedJson(sum);
    const int sequence = sum.value(QStringLiteral("sequence_frames")).toInt();
    if (first != 0 || last != sequence - 1)
        merged.coverage = QStringLiteral("[WARNING] The parts cover frames %1 to %2 of the %3 frames (0 to %4)")
                              .arg(first)
                              .arg(last)
                              .arg(sequence)
                              .arg(sequence - 1);
    return merged;
}
