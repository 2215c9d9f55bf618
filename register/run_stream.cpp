#include "register/run_stream.h"

void SetUpStream(CVideoStream& stream, const RunSettings& settings, const RunResult* run)
{
    if (settings.sequenceKind == SequenceKind::Folder)
        stream.SetFolder(settings.folder.toStdString());
    else
        stream.SetRecording(settings.folder.toStdString(), settings.sequenceKind);
    stream.SetFirstRecordingFrame(settings.firstListed);
    stream.minArea = settings.minArea;
    stream.maxArea = settings.maxArea;
    stream.marginTop = settings.marginTop;
    stream.marginBottom = settings.marginBottom;
    stream.marginLeft = settings.marginLeft;
    stream.marginRight = settings.marginRight;
    stream.framePixelLimit = settings.framePixelLimit;
    for (const QString& name : settings.frameNames)
        stream.AddFrame(name.toStdString());
    if (run) {
        stream.frameWidth = run->frameWidth;
        stream.frameHeight = run->frameHeight;
    }
}
