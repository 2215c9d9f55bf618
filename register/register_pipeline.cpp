// The register's run, as the run engine steps it: frame 0 is the first frame of
// interest; phase 1 measures the shifts and selects frames, phase 2 counts the
// selected frames, phase 3 counts the new strip of the last frame. One engine step
// per timer tick; the fields follow the engine after each.

#include "register/mivo_register_manager.h"

#include <QTimer>

#include <utility>

CMivoRegisterManager::CMivoRegisterManager()
    : QThread(nullptr)
    , stream(std::make_unique<CVideoStream>())
    , timer(std::make_unique<QTimer>())
{
    connect(timer.get(), SIGNAL(timeout()), this, SLOT(slot_createFullImage()));
    ResetRegister();
}

CMivoRegisterManager::~CMivoRegisterManager()
{
    StopProcessing();
}

void CMivoRegisterManager::StopProcessing()
{
    timer->stop();
    engine.Cancel();
}

void CMivoRegisterManager::ResetRegister()
{
    StopProcessing();
    foiReady = false;
    building = true;
    accumulatedShift = 0;
    countInRange = 0;
    foiParticles.clear();
    frameParticles.clear();
    selectedFrames.clear();
    lastFrameCountedWhole = false;
    unreadableFrames.clear();
    unmeasuredShifts = 0;
    flowBreaks = 0;
    flowDirection = FlowDirection::kUnknown;
    sweptBands.clear();
}

void CMivoRegisterManager::StartSequence(QString folder, SequenceKind kind)
{
    StopProcessing();
    folderPath = std::move(folder);
    stream = std::make_unique<CVideoStream>();
    cursor = 0;
    building = true;
    if (kind == SequenceKind::Folder)
        stream->SetFolder(folderPath.toStdString());
    else
        stream->SetRecording(folderPath.toStdString(), kind);
}

RunSettings CMivoRegisterManager::CurrentSettings() const
{
    RunSettings settings;
    settings.folder = folderPath;
    settings.sequenceKind = stream->Kind();
    for (const std::string& name : stream->frameNames)
        settings.frameNames << QString::fromStdString(name);
    settings.method = segmentationMethod;
    settings.minArea = stream->minArea;
    settings.maxArea = stream->maxArea;
    settings.marginTop = stream->marginTop;
    settings.marginBottom = stream->marginBottom;
    settings.marginLeft = stream->marginLeft;
    settings.marginRight = stream->marginRight;
    settings.framePixelLimit = stream->framePixelLimit;
    settings.circularityFilter = circularityFilter;
    settings.minCircularity = minCircularity;
    settings.mode = countingMode;
    return settings;
}

void CMivoRegisterManager::SetUpStream(const RunSettings& settings)
{
    StartSequence(settings.folder, settings.sequenceKind);
    stream->minArea = settings.minArea;
    stream->maxArea = settings.maxArea;
    stream->marginTop = settings.marginTop;
    stream->marginBottom = settings.marginBottom;
    stream->marginLeft = settings.marginLeft;
    stream->marginRight = settings.marginRight;
    stream->framePixelLimit = settings.framePixelLimit;
    for (const QString& name : settings.frameNames)
        stream->AddFrame(name.toStdString());
    segmentationMethod = settings.method;
    countingMode = settings.mode;
    circularityFilter = settings.circularityFilter;
    minCircularity = settings.minCircularity;
}

bool CMivoRegisterManager::BeginProcessing(const RunSettings& settings)
{
    SetUpStream(settings);
    ResetRegister();
    shownRecords = 0;
    shownLostLogLines = 0;
    const bool started = engine.Start(settings);
    ReflectResult(engine.Result());
    // A restart after a stop begins at frame 1 again, whatever the stopped run reached.
    cursor = 0;
    if (!started) {
        emit signalMReg_showInStatusBar(engine.Result().error);
        return false;
    }
    timer->start(0);
    return true;
}

bool CMivoRegisterManager::BeginProcessing()
{
    return BeginProcessing(CurrentSettings());
}

void CMivoRegisterManager::AppendParticles(std::vector<ParticleMeasure> records)
{
    foiParticles.insert(foiParticles.end(), records.rbegin(), records.rend());
}

void CMivoRegisterManager::slot_createFullImage()
{
    // Only a started, unfinished run has anything to do.
    if (!engine.Running()) {
        timer->stop();
        return;
    }
    const StepReport report = engine.Step();
    ReflectResult(engine.Result());
    building = engine.Phase() == RunPhase::MeasuringShifts;
    cursor = engine.Cursor();
    if (engine.Result().end == RunEnd::Failed) {
        timer->stop();
        emit signalMReg_runFailed(engine.Result().error);
        return;
    }
    if (!report.status.isEmpty())
        emit signalMReg_showInStatusBar(report.status);
    if (!report.finished)
        return;
    foiReady = true;
    // Stopped before the signal, so that a new run started by its receiver keeps its timer.
    timer->stop();
    emit signalMReg_finishCounting();
}

void CMivoRegisterManager::ReflectResult(const RunResult& result)
{
    frameWidth = result.frameWidth;
    frameHeight = result.frameHeight;
    // The size the stream's own reads and exports check against.
    stream->frameWidth = result.frameWidth;
    stream->frameHeight = result.frameHeight;
    selectedFrames = result.selectedFrames;
    accumulatedShift = result.accumulatedShift;
    lastFrameCountedWhole = result.lastFrameCountedWhole;
    unreadableFrames = result.unreadableFrames;
    unmeasuredShifts = result.unmeasuredShifts;
    flowBreaks = result.flowBreaks;
    flowDirection = result.flowDirection;
    sweptBands = result.sweptBands;
    lostLogLines += result.lostLogLines - shownLostLogLines;
    shownLostLogLines = result.lostLogLines;
    if (result.end == RunEnd::Finished) {
        // The end of the run set the range flags; the counters follow them.
        foiParticles = result.records;
        countInRange = result.countInRange;
        countGreater = result.countGreater;
        countSmaller = result.countSmaller;
    } else if (result.records.size() > shownRecords) {
        // Only the records of the last step are new.
        foiParticles.insert(foiParticles.end(), result.records.begin() + static_cast<std::ptrdiff_t>(shownRecords),
                            result.records.end());
    }
    shownRecords = result.records.size();
}

void CMivoRegisterManager::AdoptRun(const RunSettings& settings, const RunResult& result)
{
    SetUpStream(settings);
    ResetRegister();
    shownRecords = 0;
    shownLostLogLines = 0;
    ReflectResult(result);
    foiReady = result.end == RunEnd::Finished;
    building = !foiReady;
    cursor = 0;
}

int CMivoRegisterManager::ProgressPercent() const
{
    return foiReady ? 100 : engine.ProgressPercent();
}
