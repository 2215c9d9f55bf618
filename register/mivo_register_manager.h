#pragma once

#include "register/particle_class.h"
#include "register/run_engine.h"
#include "stream/video_stream.h"
#include "toolkit/particle_measure.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <opencv2/core.hpp>

#include <memory>
#include <vector>

// The register of frames of interest: frames chosen so that, laid side by side, they
// cover the flow once. A run measures the shift between consecutive frames, selects
// a frame each time the shifts add up to one frame width, counts the particles of
// every selected frame and finally those of the new strip of the last frame.
//
// The register is the stepping face of the run engine (run_engine.h): its timer, at
// interval 0 on the caller's thread, calls one engine step per tick, so that a window
// stays responsive between steps, and its fields show the engine's state and result
// after every step. The class is a QThread only by descent: no thread of its own is
// started; the engine decodes frames ahead on worker threads, which a reset, a new
// sequence, StopProcessing and the destructor stop and join.
class CMivoRegisterManager : public QThread {
    Q_OBJECT

signals:
    // Progress ("[Process] ...") and errors ("[ERRO] ...") for the status bar.
    void signalMReg_showInStatusBar(QString text);
    // Emitted once at the end of a finished run.
    void signalMReg_finishCounting();
    // Emitted instead when the run stopped part-way for lack of memory ("[ERRO] ...").
    void signalMReg_runFailed(QString error);

public slots:
    // One pipeline step; the timer calls it until the run ends.
    void slot_createFullImage();

public:
    CMivoRegisterManager();
    ~CMivoRegisterManager() override;

    // Pipeline (register_pipeline.cpp).
    // Clears the result of the last run. A run in progress is stopped: its steps
    // would otherwise go on filling the emptied register.
    void ResetRegister();
    // A new, empty stream for the folder (or the recording file, with its kind); the
    // caller then sets its area bounds and adds the frames. Stops a run in progress,
    // which would read the new stream.
    void StartSequence(QString folder, SequenceKind kind = SequenceKind::Folder);
    // Starts a run of the engine over the stream's frames with the stream's area
    // bounds and margins and the register's method and filter, registers frame 0 as
    // the first frame of interest and starts the timer. False, with an "[ERRO] ..."
    // status text and no run, when the stream has no frames or frame 0 cannot be
    // read: without its size nothing can be measured.
    bool BeginProcessing();
    // The same for a settings value: the stream, the method and the filter are set
    // from it first.
    bool BeginProcessing(const RunSettings& settings);
    // Stops a run between two steps: the timer, and the engine's decoding. What the
    // run had done stays; foiReady stays false.
    void StopProcessing();
    // The settings a run begun now would take.
    RunSettings CurrentSettings() const;
    // The engine's result of the run begun last, as far as it went.
    const RunResult& EngineResult() const { return engine.Result(); }
    // Shows a run of the engine finished elsewhere (run to its end): the stream, the
    // method, the filter and every field as if this register had stepped through it.
    void AdoptRun(const RunSettings& settings, const RunResult& result);
    // Moves the records to the end of foiParticles, taking them from the back.
    void AppendParticles(std::vector<ParticleMeasure> records);
    // Share of the run's steps done, 0 to 100: the frames measured, then the frames
    // of interest counted, then the last frame, out of all steps known so far. Never
    // falls as phase 1 selects frames; 100 once the run has finished.
    int ProgressPercent() const;

    // Counting (register_counting.cpp).
    void UpdateRangeFlags();
    void CountFoIParticles();
    void CountFrameParticles();
    // Counts one whole frame into frameParticles and returns it rendered (RGB888);
    // a null image when the frame cannot be read.
    QImage CountFrame(int index, int method);
    // The rules of the particle classes with the current filter and area bounds.
    ParticleClassRules ClassRules() const;

    // Rendering (register_rendering.cpp). The frame as BGR with the records of that
    // frame circled in their class colour; empty when the frame cannot be read.
    cv::Mat RenderFoIFrame(int index);
    cv::Mat RenderCountedFrame(int index);
    // A frameWidth x frameHeight window onto the frames of interest laid side by
    // side (counting line: onto the mosaic of the bands the frames swept, its counted
    // particles circled). The offset is clamped to the strip; columns no frame covers
    // stay black.
    QImage ComposeFullImageWindow(int offset);
    // Columns of the counting line's mosaic: every band side by side.
    long long MosaicWidth() const;

    // Export (register_export.cpp): the pos_ and res_ images of every frame of
    // interest (counting line: of every frame that counted particles, res_ with the
    // particles counted in it circled). Returns the paths that could not be written
    // (empty on success), among them those that would replace a frame of the folder
    // through a link.
    QStringList ExportFramesOfInterest(QString targetFolder);

    // Log (register_log.cpp): "log_KOV.txt" in the working directory. A line that
    // cannot be written is lost and counted in lostLogLines.
    static QString CurrentTimestamp();
    void AppendLogLine(QString message);

    QString folderPath;
    std::unique_ptr<CVideoStream> stream;
    std::unique_ptr<QTimer> timer;
    std::vector<int> selectedFrames;
    std::vector<ParticleMeasure> foiParticles;
    std::vector<ParticleMeasure> frameParticles;
    bool foiReady = false;
    bool building = true;
    bool circularityFilter = false;
    int segmentationMethod = 3;
    int cursor = 0;
    int frameHeight = 0;
    int frameWidth = 0;
    int accumulatedShift = 0;
    // The last frame of interest was taken in phase 1 and counted whole: it has no strip
    // of its own and joins the strip like any other frame of interest.
    bool lastFrameCountedWhole = false;
    double minCircularity = 0.5;
    int countInRange = 0;
    int countGreater = 0;
    int countSmaller = 0;
    // 0-based indices of the frames of the current run that could not be read,
    // ascending; each was logged once as "[unreadable] Img:" + its 1-based number.
    std::vector<int> unreadableFrames;
    // Shifts of the current run that could not be measured (unreadable frames included)
    // and were taken as 0: the frames of interest may then miss parts of the flow.
    int unmeasuredShifts = 0;
    // Log lines that could not be written since the register was created.
    int lostLogLines = 0;
    // The mode of the current run, and what only the counting line finds (run_result.h).
    CountingMode countingMode = CountingMode::FramesOfInterest;
    int flowBreaks = 0;
    FlowDirection flowDirection = FlowDirection::kUnknown;
    std::vector<SweptBand> sweptBands;

private:
    CRunEngine engine;
    // Records and lost log lines of the engine's run already shown in the fields.
    size_t shownRecords = 0;
    int shownLostLogLines = 0;

    void ReflectResult(const RunResult& result);
    void SetUpStream(const RunSettings& settings);
    void CountList(const std::vector<ParticleMeasure>& records);
    cv::Mat RenderRecords(int index, const std::vector<ParticleMeasure>& records) const;
    QImage ComposeMosaicWindow(int offset);
};
