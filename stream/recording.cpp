#include "stream/recording.h"

#include "stream/frame_header.h"
#include "stream/tiff_stack.h"

#include <fstream>

namespace {

// The format the file's first bytes name (Unknown for a video or anything else).
FrameFormat FormatOf(const std::string& path)
{
    unsigned char magic[8] = {};
    std::ifstream file(path, std::ios::binary);
    if (!file.read(reinterpret_cast<char*>(magic), sizeof magic))
        return FrameFormat::Unknown;
    return ReadFrameHeader(magic, sizeof magic).format;
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
    if (probe.status != FrameReadStatus::NotAnImage)
        return probe;
    switch (FormatOf(path)) {
    case FrameFormat::Tiff:  // one libtiff could not open
        probe.kind = SequenceKind::Stack;
        probe.status = FrameReadStatus::Corrupt;
        return probe;
    case FrameFormat::Png:
    case FrameFormat::Jpeg:
    case FrameFormat::Bmp:
        probe.singleImage = true;
        return probe;
    case FrameFormat::Unknown:
        break;
    }
    const VideoProbe video = ProbeVideo(path);
    probe.kind = SequenceKind::Video;
    probe.frameCount = video.frameCount;
    probe.status = video.opened ? FrameReadStatus::Read : FrameReadStatus::NotAnImage;
    return probe;
}

std::string RecordingProbeReason(const RecordingProbe& probe)
{
    if (probe.singleImage)
        return "one image, not a recording";
    if (probe.status == FrameReadStatus::NotAnImage)
        return "not a TIFF stack or a video file";
    FrameRead read;
    read.status = probe.status;
    return FrameReadReason(read, FrameReadLimits());
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
