#include "stream/recording.h"

#include "stream/tiff_stack.h"

#include <cstring>
#include <fstream>

namespace {

bool StartsAsTiff(const std::string& path)
{
    char magic[4] = {};
    std::ifstream file(path, std::ios::binary);
    if (!file.read(magic, sizeof magic))
        return false;
    for (const char* tiff : {"II*\0", "MM\0*", "II+\0", "MM\0+"})
        if (std::memcmp(magic, tiff, sizeof magic) == 0)
            return true;
    return false;
}

}  // namespace

RecordingProbe ProbeRecording(const std::string& path)
{
    RecordingProbe probe;
    // The stack's opening checks the file (regular, readable, not empty) for both kinds.
    CTiffStack stack(path);
    probe.status = stack.OpenStatus();
    if (stack.IsOpen()) {
        probe.kind = SequenceKind::Stack;
        probe.frameCount = stack.PageCount();
        return probe;
    }
    if (probe.status == FrameReadStatus::NotAnImage && StartsAsTiff(path)) {
        probe.kind = SequenceKind::Stack;
        probe.status = FrameReadStatus::Corrupt;
        return probe;
    }
    if (probe.status != FrameReadStatus::NotAnImage)
        return probe;
    const VideoProbe video = ProbeVideo(path);
    probe.kind = SequenceKind::Video;
    probe.frameCount = video.frameCount;
    probe.status = video.opened ? FrameReadStatus::Read : FrameReadStatus::NotAnImage;
    return probe;
}

std::string RecordingProbeReason(const RecordingProbe& probe)
{
    if (probe.status == FrameReadStatus::NotAnImage)
        return "not a TIFF stack or a video file";
    return FrameReadReason(FrameRead{probe.status, {}, {}, 0, {}, false}, FrameReadLimits());
}

CRecordingReader::CRecordingReader(const std::string& path, SequenceKind kind, int frameCount, RecordingEnd end)
{
    if (kind == SequenceKind::Stack)
        stack = std::make_unique<CTiffStack>(path);
    else
        video = std::make_unique<CVideoFile>(path, frameCount, std::move(end));
}

CRecordingReader::~CRecordingReader() = default;

FrameRead CRecordingReader::Read(int index, const FrameReadLimits& limits)
{
    return stack ? stack->ReadPage(index, limits) : video->ReadFrame(index, limits);
}
