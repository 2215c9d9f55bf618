#include "register/run_frames.h"

#include <algorithm>
#include <utility>

namespace {

// Frames decoded or held ahead of the step, per worker: enough that a worker never
// waits while the step is slower than a decode, few enough to keep memory small.
constexpr int kAheadPerThread = 2;

}  // namespace

CRunFrames::CRunFrames(const RunSettings& settings)
{
    stream.SetFolder(settings.folder.toStdString());
    stream.minArea = settings.minArea;
    stream.maxArea = settings.maxArea;
    stream.marginTop = settings.marginTop;
    stream.marginBottom = settings.marginBottom;
    stream.marginLeft = settings.marginLeft;
    stream.marginRight = settings.marginRight;
    stream.framePixelLimit = settings.framePixelLimit;
    for (const QString& name : settings.frameNames)
        stream.AddFrame(name.toStdString());
}

CRunFrames::~CRunFrames()
{
    Stop();
}

bool CRunFrames::Begin(int keptFrames, int threads, CFrameSource::Analysis frameAnalysis)
{
    analysis = std::move(frameAnalysis);
    // Frame 0 stays kept until its analysis has read it: decoded once.
    stream.SetRecentFrameCapacity(std::max(keptFrames, 1));
    if (stream.frameCount <= 0 || !stream.PrepareFirstFrame())
        return false;
    // The workers read the frame list only, which stays as it is from here on.
    const CVideoStream* frames = &stream;
    source = std::make_unique<CFrameSource>([frames](int index) { return frames->DecodeFrame(index); }, analysis, 1,
                                            stream.frameCount, threads, kAheadPerThread * std::max(threads, 1));
    // Meanwhile the workers decode the next frames.
    if (analysis)
        firstAnalysis = analysis(0, stream.ReadFrame(0));
    stream.SetRecentFrameCapacity(keptFrames);
    return true;
}

std::any CRunFrames::Next(int index)
{
    if (index == 0)
        return firstAnalysis;
    if (!source)
        return std::any();
    DecodedFrame frame = source->Take(index);
    stream.KeepFrame(index, frame.grey);
    return std::move(frame.analysis);
}

void CRunFrames::Stop()
{
    if (source)
        source->Stop();
}
