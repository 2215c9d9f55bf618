#pragma once

#include "stream/count_defaults.h"
#include "stream/frame_reader.h"
#include "stream/frame_shift.h"
#include "stream/frame_source.h"
#include "stream/recording.h"
#include "toolkit/particle_measure.h"

#include <opencv2/core.hpp>

#include <memory>
#include <string>
#include <utility>
#include <vector>

// One image sequence while it is processed: its frames (the files of a folder, or the
// pages of a stack or the frames of a video, SetRecording), the frame size, the
// prepared previous frame of the transition measure and the particle settings.
// Frames are read from disk as 8-bit grey on demand, 16-bit samples scaled by the
// sequence's depth (frame 0's, Depth); nothing is cached but `previousFrame`, unless
// the owner asks the stream to keep its last few decoded frames
// (SetRecentFrameCapacity).
//
// A frame that is missing, cannot be decoded or differs in size from frame 0 never
// throws: the operations give their neutral result ((0, 0), an empty list) and set
// *frameRead to false when the caller asks for it. Out of memory while working on a
// frame throws (toolkit/out_of_memory.h); the stream stays usable for the next frame.
class CVideoStream {
public:
    CVideoStream();

    void Reset();
    void SetFolder(std::string folder);
    // The frames are those of the recording file `path` (a stack or a video, as
    // ProbeRecording found it) instead of a folder's files; AddFrame then names them
    // for the messages, one name a frame ("frame 17 of stack.tif").
    void SetRecording(std::string path, SequenceKind kind);
    // A recording read from its frame `first` on: index 0 of the list is that frame (a
    // part of a long recording, the names added being those of the part). 0 by default.
    void SetFirstRecordingFrame(int first);
    void AddFrame(std::string name);

    SequenceKind Kind() const { return kind; }
    bool IsRecording() const { return kind != SequenceKind::Folder; }

    // Empty for an index outside the list. A recording's frames have no path of their
    // own: its file's path.
    std::string FramePath(int index) const;
    std::string FrameName(int index) const;

    // The depth 16-bit samples are scaled by, the same for every frame: frame 0's
    // (sample_depth.h), found from frame 0 when first needed and kept until the
    // sequence changes. Not known (bits 0) while frame 0 cannot be read.
    SampleDepth Depth() const;

    // The frames the sequence holds: the names added, unless a recording turned out to
    // end earlier while it was read (a video cut short).
    int ReadableFrames() const;

    // 8-bit grey, the caller's own copy, of any size within framePixelLimit; empty
    // when the index is outside the list or the file cannot be read (ReadGreyFrame).
    cv::Mat ReadFrame(int index) const;
    // ReadFrame decoded at 1/reduction of each side (2, 4 or 8; else whole), for a
    // preview: the frame's checks are the same, its memory a fraction.
    cv::Mat ReadReducedFrame(int index, int reduction) const;

    // The frame as the run takes it, with the reason when it cannot: once frame 0 is
    // prepared, a frame of another size is left out without being decoded.
    FrameRead ReadRunFrame(int index) const;
    // The limits ReadRunFrame reads with: frame 0's size (once known) and framePixelLimit.
    FrameReadLimits RunFrameLimits() const;

    // The run's reading without the kept frames (RunFrameLimits, fixed when made), for
    // one worker thread: a recording's decoder opens the file for itself. Decoders may
    // run on several threads at once while the frame list, the frame size and the depth
    // are not changed; a video's must be called in increasing order (DecodesInOrder).
    // Out of memory throws, as in the operations below.
    CFrameSource::Decoder MakeDecoder() const;
    bool DecodesInOrder() const { return kind == SequenceKind::Video; }

    // Keeps a frame decoded elsewhere (by DecodeFrame on another thread) as if the
    // stream had read it; nothing without a capacity, for an empty frame or one of
    // another size than the run's.
    void KeepFrame(int index, const cv::Mat& grey) const;

    // ReadFrame keeps the last `frames` decoded frames of the run's size (0, the
    // default: none), so that a frame counted right after its neighbours were measured
    // is not decoded again. A file changed on disk after it was read is then seen
    // late. Reset forgets the kept frames but not the capacity.
    void SetRecentFrameCapacity(int frames);

    // previousFrame = prepared frame 0; frameHeight/frameWidth = its size; the depth is
    // frame 0's. False (and a 0 x 0 frame size) when frame 0 cannot be read.
    bool PrepareFirstFrame();
    // Frame 0, as PrepareFirstFrame read it, is the first page of a multi-page TIFF file.
    bool FirstFrameHasMorePages() const { return firstFrameMorePages; }

    // Shift of frame `index` against the prepared previousFrame, which then advances to
    // frame `index`. Frames must be measured 1, 2, 3, ... after PrepareFirstFrame.
    // A frame that cannot be read or has another size gives (0, 0) and leaves
    // previousFrame at the last good frame. *outcome tells whether the shift was
    // decided or why not; *direction which way the flow moved (HorizontalMotionSign: +1
    // right, -1 left, 0 undecided or no shift measured).
    FrameShift MeasureTransition(int index, bool* frameRead = nullptr, ShiftOutcome* outcome = nullptr,
                                 int* direction = nullptr);

    // Particles of a whole frame with segmentation method 1, 2, 3 or 4; any other method
    // gives an empty list. With method 3 a neighbouring frame that is missing,
    // unreadable or of another size adds no difference. *frameRead tells whether the
    // frame itself could be read at the size of frame 0 (true when nothing was read).
    std::vector<ParticleMeasure> CountParticles(int index, int method, bool* frameRead = nullptr) const;

    // Particles of the first newWidth columns of the last frame (limited to the frame
    // width; 0 or less gives an empty list), otherwise as CountParticles.
    std::vector<ParticleMeasure> CountParticlesInNewRegion(int newWidth, int method, bool* frameRead = nullptr) const;

    std::string folderPath;
    int frameCount = 0;
    int frameHeight = 0;
    int frameWidth = 0;
    cv::Mat previousFrame;
    cv::Mat kernel3x3;
    cv::Mat kernel5x5;
    int marginTop = 0;
    int marginBottom = 0;
    int marginLeft = 0;
    int marginRight = 0;
    std::vector<std::string> frameNames;
    int minArea = count_defaults::kStreamMinArea;
    int maxArea = count_defaults::kStreamMaxArea;
    // Frames of more pixels are refused; frame 0 above it stops a run from starting.
    long long framePixelLimit = kDefaultFramePixelLimit;

private:
    // Most recently read first.
    mutable std::vector<std::pair<int, cv::Mat>> recentFrames;
    int recentFrameCapacity = 0;
    SequenceKind kind = SequenceKind::Folder;
    RecordingEnd recordingEnd;
    int recordingFirst = 0;  // the recording's frame that index 0 reads
    mutable std::unique_ptr<CRecordingReader> recordingReader;  // this thread's reader of a recording
    mutable SampleDepth depth;
    mutable bool depthSought = false;
    bool firstFrameMorePages = false;

    // The frame from the folder's file or the recording, nothing kept.
    FrameRead ReadFromSequence(int index, const FrameReadLimits& limits) const;

    bool HasFrame(int index) const;
    // A copy of the kept frame, or empty; keeping a frame of the run's size.
    cv::Mat Recent(int index) const;
    void Remember(int index, const cv::Mat& grey) const;
    FrameRead ReadWithLimits(int index, const FrameReadLimits& limits) const;
    // ReadFrame, but empty unless the frame has the size of frame 0.
    cv::Mat ReadSizedFrame(int index) const;
    // Box blur 3 x 3, then an opening with kernel3x3, in place.
    void PrepareFrame(cv::Mat& grey) const;
    // 0/1 mask of method 1, 2, 3 or 4 for `grey`, the part `region` of a frame whose
    // method-3 neighbours are the frames `next` and `prev`; empty for other methods.
    cv::Mat MethodMask(const cv::Mat& grey, int method, int next, int prev, const cv::Rect& region) const;
};
