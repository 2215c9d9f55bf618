#include "register/run_warnings.h"

#include "register/reading_texts.h"
#include "register/run_numbers.h"
#include "register/run_part.h"
#include "register/run_stream.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

// Ambiguous links beyond one in this many are warned of.
constexpr int kAmbiguousLinksShare = 50;

QString Text(const char* text)
{
    return QCoreApplication::translate("CMivoRegisterManager", text);
}

// The counting line's tracking totals of a whole run (a part's hold its context frames).
bool TrackedWhole(const RunSettings& settings)
{
    return settings.mode == CountingMode::CountingLine && !IsPart(settings);
}

// Links that could have gone another way: beyond one in fifty the counts are not sound.
bool ManyAmbiguousLinks(const RunSettings& settings, const RunResult& result)
{
    return TrackedWhole(settings) && result.links > 0 && result.ambiguousLinks * kAmbiguousLinksShare > result.links;
}

// "1 frame could not be read", "3 frames could not be read".
QString Counted(int count, const char* one, const char* many)
{
    return count == 1 ? Text(one) : Text(many).arg(count);
}

}  // namespace

QString LeftOutText(const QString& name, const QString& reason)
{
    return Text("Left out %1 (%2)").arg(name, reason);
}

QStringList SkippedFrameFileTexts(const std::vector<SkippedFrameFile>& skipped)
{
    QStringList texts;
    for (const SkippedFrameFile& file : skipped)
        texts << LeftOutText(file.name, file.Reason());
    return texts;
}

QString SkippedFrameFilesText(const std::vector<SkippedFrameFile>& skipped)
{
    if (skipped.empty())
        return QString();
    if (skipped.size() == 1)
        return LeftOutText(skipped.front().name, skipped.front().Reason());
    return Text("Left out %1 frame files (%2, ...)")
        .arg(skipped.size())
        .arg(skipped.front().name + QStringLiteral(": ") + skipped.front().Reason());
}

QStringList LeftOutFrameTexts(const RunSettings& settings, const RunResult& result)
{
    QStringList texts;
    if (result.unreadableFrames.empty())
        return texts;
    CVideoStream stream;
    SetUpStream(stream, settings, &result);
    for (int index : result.unreadableFrames) {
        const QString name = QString::fromStdString(stream.FrameName(index));
        if (std::binary_search(result.outOfMemoryFrames.begin(), result.outOfMemoryFrames.end(), index)) {
            texts << LeftOutText(name, Text("out of memory"));
            continue;
        }
        const FrameRead read = stream.ReadRunFrame(index);
        // Readable again: it changed back after the run read it.
        const QString reason = read.status == FrameReadStatus::Read
                                   ? Text("could not be read during the run")
                                   : QString::fromStdString(FrameReadReason(read, stream.RunFrameLimits()));
        texts << LeftOutText(name, reason);
    }
    return texts;
}

QString LostLogLinesText(const RunResult& result)
{
    if (result.lostLogLines <= 0)
        return QString();
    return Text("Can not write log_KOV.txt: %1 log lines lost").arg(result.lostLogLines);
}

QStringList UnmeasuredMotionTexts(const RunSettings& settings, const RunResult& result)
{
    const int motions = MotionsMeasured(result);
    const int unmeasured = result.unmeasuredShifts;
    const int flowBreaks = result.flowBreaks;
    QStringList texts;
    if (settings.mode == CountingMode::FramesOfInterest) {
        // Shifts taken as 0 place the frames of interest too close: flow between them is
        // never seen.
        const int changed = result.changedWithoutShift;
        if (unmeasured > changed)
            texts << Text("%1 of %2 frame shifts could not be measured and were taken as 0; parts of the flow may "
                          "not be counted")
                         .arg(unmeasured - changed)
                         .arg(motions);
        // What looks still may be a flow too faint for the measure (16-bit frames read at
        // a wrong depth, a dim recording).
        if (changed > 0)
            texts << Text(changed == 1
                              ? "%1 frame differs from the frame before but no shift was measured; it was taken as "
                                "still, and parts of the flow may not be counted (too faint a flow?)"
                              : "%1 frames differ from the frame before but no shift was measured; they were taken "
                                "as still, and parts of the flow may not be counted (too faint a flow?)")
                         .arg(changed);
        return texts;
    }
    if (unmeasured > flowBreaks)
        texts << Text("%1 of %2 frame motions could not be measured and were taken from the neighbouring frames")
                     .arg(unmeasured - flowBreaks)
                     .arg(motions);
    // Nothing overlaps: what passed between the two frames was never in view.
    if (flowBreaks > 0)
        texts << Text("%1 of %2 frames show nothing of the frame before (a shift larger than the frame?); what "
                      "passed between them was not counted")
                     .arg(flowBreaks)
                     .arg(motions);
    if (ManyAmbiguousLinks(settings, result))
        texts << Text("%1 of %2 links of particles between frames were ambiguous; the counts may be off")
                     .arg(result.ambiguousLinks)
                     .arg(result.links);
    return texts;
}

QStringList RunLossSummary(const RunSettings& settings, const RunResult& result, int unnamedFrameFiles)
{
    // Frames that could not be read, or were never listed, add nothing to the counts: said
    // rather than passing the counts off as complete. A log line lost is an event no one can
    // look up later.
    QStringList lost;
    const int unreadable = static_cast<int>(result.unreadableFrames.size());
    const int exhausted = static_cast<int>(result.outOfMemoryFrames.size());
    const QString memory = exhausted > 0 ? Text(" (%1 out of memory)").arg(exhausted) : QString();
    if (unreadable > 0)
        lost << Counted(unreadable, "1 frame could not be read", "%1 frames could not be read") + memory;
    if (unnamedFrameFiles > 0)
        lost << Counted(unnamedFrameFiles, "1 frame file left out (name not in UTF-8)",
                        "%1 frame files left out (names not in UTF-8)");
    const QString log = LostLogLinesText(result);
    if (!log.isEmpty())
        lost << log;
    // A recording that ends early, frames nearly black at the run's depth.
    for (const QString& text : {RecordingCutShortText(settings, result), FaintFramesText(settings, result),
                                MultiPageFramesText(settings, result)})
        if (!text.isEmpty())
            lost << text;
    lost << UnmeasuredMotionTexts(settings, result);
    const QString reversal = FlowReversalText(settings, result);
    if (!reversal.isEmpty())
        lost << reversal;
    return lost;
}

QString StaticObjectsText(const RunSettings& settings, const RunResult& result)
{
    if (!TrackedWhole(settings) || result.staticObjects <= 0)
        return QString();
    return Counted(result.staticObjects, "1 object stayed in place and was not counted",
                   "%1 objects stayed in place and were not counted");
}

QString FlowReversalText(const RunSettings& settings, const RunResult& result)
{
    if (result.directionChanges.empty())
        return QString();
    const int frame = result.directionChanges.front();
    const QString name = frame >= 0 && frame < settings.frameNames.size() ? settings.frameNames.at(frame) : QString();
    const int times = static_cast<int>(result.directionChanges.size());
    const QString more = times > 1 ? Text(", %1 times in all").arg(times) : QString();
    // The frames of interest add up distances: a flow carried back brings the same
    // particles into view again and they are counted again.
    const QString meaning = settings.mode == CountingMode::FramesOfInterest
                                ? Text("the frames of interest assume a flow in one direction: particles carried "
                                       "back are counted again, the counts are not sound")
                                : Text("crossings are counted with their sign");
    return Text("The flow reversed at frame %1 (%2)%3; %4").arg(frame + 1).arg(name, more, meaning);
}

QString RecountedRangeText(const RunSettings& settings, const RunResult& result)
{
    const bool detectedBySize = settings.mode == CountingMode::FramesOfInterest || settings.onlyFrame >= 0;
    if (!detectedBySize || result.end != RunEnd::Finished ||
        (settings.minArea == result.detectedMinArea && settings.maxArea == result.detectedMaxArea))
        return QString();
    return Text("recounted from a run at %1 to %2 px").arg(result.detectedMinArea).arg(result.detectedMaxArea);
}

QStringList RunDoubtTexts(const RunSettings& settings, const RunResult& result)
{
    QStringList doubts;
    const int unreadable = static_cast<int>(result.unreadableFrames.size());
    if (unreadable > 0)
        doubts << Counted(unreadable, "1 frame not read: counts incomplete", "%1 frames not read: counts incomplete");
    if (result.unmeasuredShifts > 0) {
        const char* text = settings.mode == CountingMode::FramesOfInterest
                               ? "%1 of %2 shifts not measured: counts incomplete"
                               : "%1 of %2 motions not measured";
        doubts << Text(text).arg(result.unmeasuredShifts).arg(MotionsMeasured(result));
    }
    if (!result.directionChanges.empty())
        doubts << Text("flow reversed at frame %1").arg(result.directionChanges.front() + 1) +
                      (settings.mode == CountingMode::FramesOfInterest ? Text(": counts not sound") : QString());
    if (result.lostLogLines > 0)
        doubts << Text("%1 log lines lost").arg(result.lostLogLines);
    if (TrackedWhole(settings) && result.staticObjects > 0)
        doubts << Counted(result.staticObjects, "1 static object not counted", "%1 static objects not counted");
    if (!result.multiPageFrames.empty())
        doubts << Counted(static_cast<int>(result.multiPageFrames.size()),
                          "1 multi-page frame file: first page read only",
                          "%1 multi-page frame files: first pages read only");
    if (ManyAmbiguousLinks(settings, result))
        doubts << Text("%1 of %2 links ambiguous: counts may be off").arg(result.ambiguousLinks).arg(result.links);
    return doubts;
}
