#include "register/counting_mode.h"

#include "register/crossing_counting.h"
#include "register/foi_counting.h"
#include "register/frame_alone_counting.h"
#include "register/run_log.h"

#include <algorithm>

void CRunContext::Log(const QString& message)
{
    if (!WriteLogLine(message))
        ++result.lostLogLines;
}

void CRunContext::NoteUnreadable(int index)
{
    std::vector<int>& unreadable = result.unreadableFrames;
    const auto at = std::lower_bound(unreadable.begin(), unreadable.end(), index);
    if (at != unreadable.end() && *at == index)
        return;
    unreadable.insert(at, index);
    Log(QStringLiteral("[unreadable] Img:") + QString::number(index + 1));
}

void CRunContext::NoteOutOfMemory(int index)
{
    std::vector<int>& exhausted = result.outOfMemoryFrames;
    const auto at = std::lower_bound(exhausted.begin(), exhausted.end(), index);
    if (at == exhausted.end() || *at != index)
        exhausted.insert(at, index);
    NoteUnreadable(index);
}

void CRunContext::AppendRecords(std::vector<ParticleMeasure> records)
{
    result.records.insert(result.records.end(), records.rbegin(), records.rend());
}

std::unique_ptr<CCountingMode> MakeCountingMode(const RunSettings& settings)
{
    if (settings.onlyFrame >= 0)
        return std::make_unique<CFrameAloneCounting>(settings.onlyFrame);
    switch (settings.mode) {
    case CountingMode::CountingLine:
        return std::make_unique<CCrossingCounting>(settings.method);
    case CountingMode::FramesOfInterest:
        break;
    }
    return std::make_unique<CFoiCounting>();
}
