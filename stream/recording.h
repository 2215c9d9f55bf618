#pragma once

#include "stream/frame_reader.h"
#include "stream/sequence_kind.h"
#include "stream/video_file.h"

#include <memory>
#include <string>

class CTiffStack;

// What a recording file is, found by its content: a TIFF of any number of pages is a
// stack; a PNG, JPEG or BMP is one image (status NotARecording: FFmpeg would open it as
// a video of one frame); any other file FFmpeg opens is a video.
struct RecordingProbe {
    SequenceKind kind = SequenceKind::Video;
    FrameReadStatus status = FrameReadStatus::Missing;  // Read when it opened
    bool singleImage = false;  // a PNG, JPEG or BMP file: one frame, not a recording
    int frameCount = 0;  // pages of a stack, the declared frames of a video
};

RecordingProbe ProbeRecording(const std::string& path);

// Why a recording could not be opened: "missing", "can not open", "not a regular file",
// "empty file", "one image, not a recording", "not a TIFF stack or a video file".
std::string RecordingProbeReason(const RecordingProbe& probe);

// The frames of one recording for one thread at a time: pages of a stack in any order,
// frames of a video best in increasing order (video_file.h).
class CRecordingReader {
public:
    // `frameCount`: what the probe found; `end`: shared by the readers of one sequence.
    CRecordingReader(const std::string& path, SequenceKind kind, int frameCount, RecordingEnd end);
    ~CRecordingReader();
    CRecordingReader(const CRecordingReader&) = delete;
    CRecordingReader& operator=(const CRecordingReader&) = delete;

    FrameRead Read(int index, const FrameReadLimits& limits);

private:
    std::unique_ptr<CTiffStack> stack;
    std::unique_ptr<CVideoFile> video;
};
