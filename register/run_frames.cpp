#include "register/run_frames.h"

#include "register/run_stream.h"
#include "toolkit/out_of_memory.h"

#include <algorithm>
#include <utility>

namespace {

// Frames decoded or held ahead of the step, per worker: enough that a worker never
// waits while the step is slower than a decode, few enough to keep memory small.
constexpr int kAheadPerThread = 2;

}  // namespace

CRunFrames::CRunFrames(const RunSettings& settings)
{
    SetUpStream(stream, settings);
}

CRunFrames::~CRunFrames()
{
    Stop();
}

bool CRunFrames::Begin(int keptFrames, int threads, CFrameSource::Analysis frameAnalysis, bool* outOfMemory)
{
    if (outOfMemory)
        *outOfMemory = false;
    analysis = std::move(frameAnalysis);
    // Frame 0 stays kept until its analysis has read it: decoded once.
    stream.SetRecentFrameCapacity(std::max(keptFrames, 1));
    bool prepared = false;
    const bool exhausted = stream.frameCount > 0 && RanOutOfMemory([&] { prepared = stream.PrepareFirstFrame(); });
    if (exhausted && outOfMemory)
        *outOfMemory = true;
    if (!prepared || exhausted)
        return false;
    const SampleDepth depth = stream.Depth();
    if (UsesLittleOfRange(depth.firstFrameLargest, depth.bits))
        faintFrames.push_back(0);
    if (stream.FirstFrameHasMorePages())
        multiPageFrames.push_back(0);
    // The workers read the frame list only, which stays as it is from here on.
    const CVideoStream* frames = &stream;
    source = std::make_unique<CFrameSource>([frames] { return frames->MakeDecoder(); }, analysis, 1,
                                            stream.frameCount, threads, kAheadPerThread * std::max(threads, 1),
                                            stream.DecodesInOrder());
    // Meanwhile the workers decode the next frames.
    if (analysis && RanOutOfMemory([&] { firstAnalysis = analysis(0, stream.ReadFrame(0)); })) {
        Stop();
        if (outOfMemory)
            *outOfMemory = true;
        return false;
    }
    stream.SetRecentFrameCapacity(keptFrames);
    return true;
}

bool CRunFrames::TakeSizeOf(int index)
{
    cv::Mat grey;
    if (RanOutOfMemory([&] { grey = stream.ReadFrame(index); }) || grey.empty())
        return false;
    stream.frameWidth = grey.cols;
    stream.frameHeight = grey.rows;
    return true;
}

std::any CRunFrames::Next(int index, bool* outOfMemory)
{
    if (outOfMemory)
        *outOfMemory = false;
    std::any found;
    if (index == 0) {
        found = firstAnalysis;
    } else if (source) {
        DecodedFrame frame = source->Take(index);
        if (outOfMemory)
            *outOfMemory = frame.outOfMemory;
        stream.KeepFrame(index, frame.read.grey);
        if (frame.read.faint)
            faintFrames.push_back(index);
        if (frame.read.morePages)
            multiPageFrames.push_back(index);
        found = std::move(frame.analysis);
    }
    // A recording's early end is known by the time the frame before it is taken
    // (video_file.h): the steps then see the frames it holds.
    stream.frameCount = std::min(stream.frameCount, stream.ReadableFrames());
    return found;
}

void CRunFrames::Stop()
{
    if (source)
        source->Stop();
}
