// The register's run: frame 0 is the first frame of interest; phase 1 measures the
// shifts and selects frames, phase 2 counts the selected frames, phase 3 counts the
// new strip of the last frame. One frame per timer tick.

#include "register/foi_selection.h"
#include "register/mivo_register_manager.h"

#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// Decoded frames the stream keeps during a run: a frame of interest and its two
// neighbours are still there when it is counted early.
constexpr int kKeptFrames = 4;

}  // namespace

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
    timer->stop();
}

void CMivoRegisterManager::ResetRegister()
{
    timer->stop();
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
    earlyCounts.clear();
    nextEarlyCount = 0;
}

void CMivoRegisterManager::StartSequence(QString folder)
{
    timer->stop();
    folderPath = std::move(folder);
    stream = std::make_unique<CVideoStream>();
    cursor = 0;
    building = true;
    earlyCounts.clear();
    nextEarlyCount = 0;
    stream->SetFolder(folderPath.toStdString());
}

bool CMivoRegisterManager::BeginProcessing()
{
    stream->SetRecentFrameCapacity(kKeptFrames);
    const bool prepared = stream->PrepareFirstFrame();
    frameHeight = stream->frameHeight;
    frameWidth = stream->frameWidth;
    ResetRegister();
    // A restart after a stop begins at frame 1 again, whatever the stopped run reached.
    cursor = 0;
    if (stream->frameCount <= 0) {
        emit signalMReg_showInStatusBar(tr("[ERRO] No images were found"));
        return false;
    }
    if (!prepared) {
        // Frame 0 gives the frame size every later step relies on.
        NoteUnreadable(0);
        emit signalMReg_showInStatusBar(tr("[ERRO] Can not read image ") +
                                        QString::fromStdString(stream->FrameName(0)));
        return false;
    }
    selectedFrames.push_back(0);
    timer->start(0);
    return true;
}

void CMivoRegisterManager::AppendParticles(std::vector<ParticleMeasure> records)
{
    while (!records.empty()) {
        foiParticles.push_back(records.back());
        records.pop_back();
    }
}

void CMivoRegisterManager::slot_createFullImage()
{
    // Only a prepared, unfinished run has anything to do.
    if (foiReady || frameWidth <= 0 || stream->frameCount <= 0) {
        timer->stop();
        return;
    }
    const int frames = stream->frameCount;
    const int selected = static_cast<int>(selectedFrames.size());
    if (cursor < frames - 1 && building)
        BuildStep();
    else if (cursor < selected && !building)
        CountStep();
    else
        LastFrameStep();
}

void CMivoRegisterManager::BuildStep()
{
    const int frames = stream->frameCount;
    const int measured = cursor + 1;
    bool read = true;
    ShiftOutcome outcome = ShiftOutcome::Measured;
    const int tx = stream->MeasureTransition(measured, &read, &outcome).dx;
    if (!read)
        NoteUnreadable(measured);
    // Taken as 0 all the same; the user is told how many after the run.
    if (outcome != ShiftOutcome::Measured)
        ++unmeasuredShifts;

    const FoiChoice choice = ChooseFrameOfInterest(accumulatedShift, tx, frameWidth, measured);
    if (choice.selected >= 0)
        selectedFrames.push_back(choice.selected);
    accumulatedShift = choice.accumulatedShift;
    CountEarly(measured);
    emit signalMReg_showInStatusBar(tr("[Process] Building Full Image ... (") +
                                    QString::number((cursor + 1) * 100 / frames) + QStringLiteral("%)"));
    cursor += 1;
    if (cursor + 1 >= frames) {
        building = false;
        cursor = 0;
    }
    // No usable shift, or one wider than the frame: logged, yet counted above.
    if (tx > frameWidth || tx <= 0)
        AppendLogLine(QStringLiteral("[overflow] Img:") + QString::number(measured + 1) + QStringLiteral(" , Tx:") +
                      QString::number(tx));
}

void CMivoRegisterManager::CountStep()
{
    const int selected = static_cast<int>(selectedFrames.size());
    emit signalMReg_showInStatusBar(tr("[Process] Counting particles ... (") +
                                    QString::number((cursor + 1) * 100 / selected) + QStringLiteral("%)"));
    const int index = selectedFrames[static_cast<size_t>(cursor)];
    AppendLogLine(QStringLiteral("[Counting] Selected Frames index : ") + QString::number(index));
    if (const EarlyCount* early = FindEarlyCount(index)) {
        if (!early->frameRead)
            NoteUnreadable(index);
        AppendParticles(early->records);
    } else {
        bool read = true;
        std::vector<ParticleMeasure> records = stream->CountParticles(index, segmentationMethod, &read);
        if (!read)
            NoteUnreadable(index);
        AppendParticles(std::move(records));
    }
    cursor += 1;
}

void CMivoRegisterManager::LastFrameStep()
{
    const int last = stream->frameCount - 1;
    // Phase 1 may have taken the last frame already: it was counted whole in phase 2,
    // and its strip (accumulatedShift is 0 then) adds nothing.
    lastFrameCountedWhole = !selectedFrames.empty() && selectedFrames.back() == last;
    if (!lastFrameCountedWhole)
        selectedFrames.push_back(last);
    // Only the columns that arrived since the last frame of interest.
    bool read = true;
    std::vector<ParticleMeasure> records =
        stream->CountParticlesInNewRegion(accumulatedShift, segmentationMethod, &read);
    if (!read)
        NoteUnreadable(last);
    AppendParticles(std::move(records));
    // Later renderings and exports read the files afresh.
    earlyCounts.clear();
    stream->SetRecentFrameCapacity(0);
    foiReady = true;
    // Stopped before the signal, so that a new run started by its receiver keeps its timer.
    timer->stop();
    emit signalMReg_finishCounting();
}

void CMivoRegisterManager::NoteUnreadable(int index)
{
    const auto at = std::lower_bound(unreadableFrames.begin(), unreadableFrames.end(), index);
    if (at != unreadableFrames.end() && *at == index)
        return;
    unreadableFrames.insert(at, index);
    AppendLogLine(QStringLiteral("[unreadable] Img:") + QString::number(index + 1));
}

int CMivoRegisterManager::LastFrameReadByCount(int index) const
{
    if (segmentationMethod != 3)
        return index;
    // Frame Diff compares with the next and the previous frame; frame 0 with frames 1
    // and 2, the last frame with the two before it.
    const int last = stream->frameCount - 1;
    if (index == last)
        return index;
    return std::min(index == 0 ? 2 : index + 1, last);
}

void CMivoRegisterManager::CountEarly(int measured)
{
    while (nextEarlyCount < selectedFrames.size()) {
        const int index = selectedFrames[nextEarlyCount];
        if (LastFrameReadByCount(index) > measured)
            break;
        ++nextEarlyCount;
        if (FindEarlyCount(index))
            continue;
        EarlyCount early{index, segmentationMethod, stream->minArea, stream->maxArea, true, {}};
        early.records = stream->CountParticles(index, segmentationMethod, &early.frameRead);
        earlyCounts.push_back(std::move(early));
    }
}

const CMivoRegisterManager::EarlyCount* CMivoRegisterManager::FindEarlyCount(int index) const
{
    for (const EarlyCount& early : earlyCounts) {
        if (early.frame == index && early.method == segmentationMethod && early.minArea == stream->minArea &&
            early.maxArea == stream->maxArea)
            return &early;
    }
    return nullptr;
}

int CMivoRegisterManager::ProgressPercent() const
{
    if (foiReady)
        return 100;
    const long long frames = stream->frameCount;
    if (frames <= 0)
        return 0;
    // Steps: frames - 1 measures, one count per frame of interest, the last frame.
    const long long total = frames - 1 + static_cast<long long>(selectedFrames.size()) + 1;
    const long long done = building ? cursor : frames - 1 + cursor;
    return static_cast<int>(std::clamp(done * 100 / total, 0LL, 100LL));
}
