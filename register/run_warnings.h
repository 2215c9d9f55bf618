#pragma once

#include "register/frame_listing.h"
#include "register/run_result.h"
#include "register/run_settings.h"

#include <QString>
#include <QStringList>

#include <vector>

// What a run could not read, measure or log, each said by one text, here. The texts come
// without the "[WARNING] " tag: tessel-count puts one before each line, the window one
// before its status line, which joins several with "; ".

// "Left out NAME (reason)": a file named like a frame that the listing leaves out, or a
// frame the run left out.
QString LeftOutText(const QString& name, const QString& reason);

// The files named like frames that the listing left out, one text each (the counter).
QStringList SkippedFrameFileTexts(const std::vector<SkippedFrameFile>& skipped);
// The same in one text (the window's status bar): the file, or how many and the first.
QString SkippedFrameFilesText(const std::vector<SkippedFrameFile>& skipped);

// Each frame the run left out, with the reason as the file shows it now (missing, cut
// short, another size than frame 0, ...), read by a stream set up as the run's; "out of
// memory" for a frame memory ran out on.
QStringList LeftOutFrameTexts(const RunSettings& settings, const RunResult& result);

// "Can not write log_KOV.txt: N log lines lost"; empty when none was lost.
QString LostLogLinesText(const RunResult& result);

// The motions the run could not measure, one text per kind; empty when it measured all.
// The frames of interest take an unmeasured shift as 0; the counting line takes the motion
// of the neighbouring frames, and names apart the frames that share nothing with the frame
// before (flowBreaks, among unmeasuredShifts). The counting line also says when more than
// 2 % of its links between frames were ambiguous ("the counts may be off").
QStringList UnmeasuredMotionTexts(const RunSettings& settings, const RunResult& result);

// The counting line's "N objects stayed in place and were not counted" (dirt on the window,
// stuck particles); empty in the other mode, for a part (whose tracking totals hold its
// context frames) or when there were none.
QString StaticObjectsText(const RunSettings& settings, const RunResult& result);

// "The flow reversed at frame N (NAME); ...": the first frame (1-based, as the window numbers
// them) from which the flow ran the other way, how many times in all, and what it means for
// the mode's count. Empty when the flow kept its direction.
QString FlowReversalText(const RunSettings& settings, const RunResult& result);

// "recounted from a run at 25 to 100 px" when the settings' size range is not the one the
// run detected its particles with (records kept by a run at another range); empty when it
// is, and for the counting line, which detects by no size.
QString RecountedRangeText(const RunSettings& settings, const RunResult& result);

// What makes the run's counts doubtful, one short text each, for the line kept beside the
// counters until the next run ("29 of 29 shifts not measured: counts incomplete"): frames
// not read, shifts or motions not measured, a reversed flow, lost log lines; the counting
// line's objects left out as static and links ambiguous beyond one in fifty. Empty when
// nothing is doubtful.
QStringList RunDoubtTexts(const RunSettings& settings, const RunResult& result);

// All of it in short, for the window's status line after a run: how many frames could not be
// read (how many of them for lack of memory), how many files were left out for names not in UTF-8 (`unnamedFrameFiles`, counted
// by the caller when the run ended), lost log lines, the motions. Empty when nothing was lost.
QStringList RunLossSummary(const RunSettings& settings, const RunResult& result, int unnamedFrameFiles);
