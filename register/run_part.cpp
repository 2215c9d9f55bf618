#include "register/run_part.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

QString Text(const char* text)
{
    return QCoreApplication::translate("CMivoRegisterManager", text);
}

// A frame the part owns (see run_part.h): the crossings between FIRST and FIRST + 1 belong
// to the part before, except at the sequence's first frame.
bool Owns(const RunSettings& settings, int frame)
{
    const int after = settings.partFirst == 0 ? 0 : settings.partFirst + 1;
    return frame >= after && frame <= settings.partLast;
}

bool InPart(const RunSettings& settings, int frame)
{
    return frame >= settings.partFirst && frame <= settings.partLast;
}

// Shifts the indices of the frames read to the whole sequence's, keeping those `keep` takes.
template <typename Keep> void Shift(std::vector<int>& frames, int offset, Keep keep)
{
    std::vector<int> kept;
    for (int frame : frames)
        if (keep(frame + offset))
            kept.push_back(frame + offset);
    frames = std::move(kept);
}

// Shifts the frames of records or bands read to the whole sequence's, keeping those the part owns.
template <typename Item> void KeepOwned(std::vector<Item>& items, int offset, const RunSettings& settings)
{
    std::vector<Item> owned;
    for (Item item : items) {
        item.frame += offset;
        if (Owns(settings, item.frame))
            owned.push_back(item);
    }
    items = std::move(owned);
}

}  // namespace

bool IsPart(const RunSettings& settings)
{
    return settings.partFirst >= 0;
}

QString PartProblem(const RunSettings& settings)
{
    if (!IsPart(settings))
        return QString();
    if (settings.mode != CountingMode::CountingLine)
        return Text("[ERRO] The frames of interest are chosen one after the other from the first frame; only the "
                    "counting line counts a part of a sequence");
    const int frames = static_cast<int>(settings.frameNames.size());
    if (settings.partLast <= settings.partFirst || settings.partLast >= frames)
        return Text("[ERRO] Frames %1:%2 are not a part of the %3 frames (0:%4)")
            .arg(settings.partFirst)
            .arg(settings.partLast)
            .arg(frames)
            .arg(frames - 1);
    return QString();
}

PartFrames PartFramesRead(const RunSettings& settings)
{
    const int frames = static_cast<int>(settings.frameNames.size());
    PartFrames read;
    read.first = std::max(settings.partFirst - kPartContext, 0);
    read.last = std::min(settings.partLast + kPartContext, frames - 1);
    return read;
}

RunSettings PartReadSettings(const RunSettings& settings, const PartFrames& read)
{
    RunSettings part = settings;
    part.frameNames = settings.frameNames.mid(read.first, read.last - read.first + 1);
    part.firstListed = settings.firstListed + read.first;
    part.partFirst = -1;
    part.partLast = -1;
    return part;
}

void KeepPart(const RunSettings& settings, const PartFrames& read, RunResult& result)
{
    const int offset = read.first;
    KeepOwned(result.records, offset, settings);
    result.selectedFrames.clear();
    for (const ParticleMeasure& record : result.records)
        if (result.selectedFrames.empty() || result.selectedFrames.back() != record.frame)
            result.selectedFrames.push_back(record.frame);
    const auto inPart = [&settings](int frame) { return InPart(settings, frame); };
    Shift(result.unreadableFrames, offset, inPart);
    Shift(result.outOfMemoryFrames, offset, inPart);
    Shift(result.faintFrames, offset, inPart);
    Shift(result.multiPageFrames, offset, inPart);
    Shift(result.directionChanges, offset, [&settings](int frame) { return Owns(settings, frame); });
    KeepOwned(result.sweptBands, offset, settings);
    result.accumulatedShift = LastBandWidth(result.sweptBands);
    // A recording cut short within the part: the frames it gave of the part's.
    const int readEnd = offset + result.frameCount;
    const int partFrames = settings.partLast - settings.partFirst + 1;
    if (result.framesDeclared > 0)
        result.framesDeclared = partFrames;
    result.frameCount = std::clamp(readEnd - settings.partFirst, 0, partFrames);
}
