#pragma once

#include "app/pixel_calibration.h"
#include "register/frame_listing.h"

#include <QColor>
#include <QDir>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace cv {
class Mat;
}

namespace Ui {
class mivoParticleStreamAnalysis;
}

class CGui4SelectRegion;
class CMivoRegisterManager;
class CSizeDistributionDialog;
class CVelocityProfileDialog;
class CTool4CropImg;
class CVideoStream;
enum class CountingMode;  // register/run_settings.h
enum class CountSource;   // app/count_basis.h
class QAction;
class QLineEdit;
class QProgressBar;
struct CountBasis;
struct CountedRun;
struct RunResult;
struct RunSettings;

// The main window: sequence details, processing and particle settings, counters and the
// frame preview. Member functions are spread by subject over the files of app/:
// construction, particle settings, processing commands, export, sequence loading, the
// frame viewer, crop.
class CMivoParticleStreamAnalysis : public QMainWindow {
    Q_OBJECT

public:
    CMivoParticleStreamAnalysis();
    ~CMivoParticleStreamAnalysis() override;

private slots:
    // Sequence loading (sequence_loading.cpp).
    void slot_file_openInputFolder();
    // A recording (a multi-page TIFF, a video) as the sequence, in place of a folder.
    void slot_file_openRecording();
    void slot_cb_video_eventSortByChanged(int index);
    void slot_cb_video_eventOrderChanged(int index);
    // Frame viewer (frame_viewer.cpp).
    void slot_viewImg_NextImage();
    void slot_viewImg_PreviousImage();
    void slot_viewImg_FirstImage();
    void slot_viewImg_LastImage();
    void slot_sld_view_eventValueChanged(int value);
    void slot_btn_flow_right();
    void slot_btn_flow_left();
    void slot_btn_flow_up();
    void slot_btn_flow_down();
    // Particle settings (particle_settings.cpp).
    void slot_segOtsu_updateSegMethod();
    void slot_segMode_updateSegMethod();
    void slot_segMDiff_updateSegMethod();
    void slot_segBackground_updateSegMethod();
    // Counting mode (particle_settings.cpp).
    void slot_countFoi_updateMode();
    void slot_countLine_updateMode();
    // Frame viewer.
    void slot_chb_video_GridCheck(int state);
    void slot_cb_viewTool_sizeGridChanged(int index);
    // Crop and processing range (crop_and_range.cpp).
    void slot_t4Crop_SetCroppingEnded(double top, double bottom, double left, double right, bool ok, QString text);
    void slot_chb_proc_cropImg();
    void slot_chb_proc_setRange();
    // Frame viewer.
    void slot_preview_DoubleClick();
    void slot_sld_VrLine_eventValueChanged(int value);
    // Processing commands (processing_commands.cpp).
    void slot_btn_proc_RunVR();
    void slot_btn_proc_StopRunVR();
    void slot_btn_proc_coutingAll();
    void slot_btn_proc_coutingOne();
    // Particle settings.
    void slot_tf_pxlSize_editFinish();
    void slot_tf_minMu_editFinish();
    void slot_tf_maxMu_editFinish();
    void slot_tf_minPxl_editFinish();
    void slot_tf_maxPxl_editFinish();
    void slot_btn_manualSelection();
    void slot_manual_minPixel(int mmin);
    void slot_manual_maxPixel(int mmax);
    void slot_chb_report_filterByCircChecked(int state);
    void slot_sbD_report_valueCirc(double value);
    // Processing commands.
    void slot_btn_exportFoI();
    void slot_updateStatusBar(QString text);
    void slot_finishProcVR();
    void slot_runFailed(QString error);
    // Data export (report_export.cpp), "Exp. Data".
    void slot_btn_exportData();
    // Results (results_view.cpp): the size distribution beside the window; any setting
    // the counts depend on changed.
    void slot_results_showSizeDistribution();
    void slot_results_showVelocityProfile();
    void slot_countSettingsChanged();
    // Frame viewer: "Go to frame..." asks for a frame number.
    void slot_viewImg_GoToFrame();
    // "Help > About".
    void slot_help_about();

private:
    // Construction: the combo boxes' items, validators and the controls' first states; the
    // exclusive groups of the menus; the run's progress bar in the status bar.
    void FillControls();
    void GroupMenuActions();
    void AddRunProgress();
    void init();
    // The line edits' first values: the default size range and pixel size.
    void ShowDefaultSettings();
    void ConnectSignals();
    // Every change of a setting the counts depend on marks them stale (RefreshCountState).
    void ConnectStaleMarks();
    void SetProcessingControlsEnabled(bool enabled);
    void ShowStatus(const QString& text);

    // Particle settings.
    void UpdateCalibration();
    void ConvertAreaToPixels(const QLineEdit* areaField, QLineEdit* pixelField);
    void ConvertPixelsToArea(const QLineEdit* pixelField, QLineEdit* areaField);
    // The mode the next run counts in, with its default method checked in the menu.
    void SelectCountingMode(CountingMode mode, const QAction* modeAction);

    // Processing commands.
    // The last finished run recounted with the window's range and filter, shown.
    void RecountFoI();
    void ShowReportCounts(const RunResult& result);
    void ShowRunStopped();
    // A run has finished since the folder was opened or the last run began.
    bool RunFinished() const;
    // False, with a warning, when the minimum size is above the maximum: the commands
    // that count refuse such a range.
    bool SizeRangeUsable();

    // Results (results_view.cpp): the size distribution window, the legend, no count yet.
    void InitResultsView();
    // The window's settings as a run would take them now (with the crop's margins, which
    // only a frame counted alone takes).
    RunSettings WindowSettings() const;
    // The counters show the count of `source`: counters, statistics, chart, summary and
    // stale marking follow.
    void ShowCount(CountSource source);
    // The count the counters show; null before any.
    const CountedRun* ShownCount() const;
    // Statistics and chart of the particles the counters count.
    void RefreshDistribution();
    // The summary, greyed with what changed when a setting differs from the count's.
    void RefreshCountState();
    // Another folder: the previous run's counters, statistics, strip and chart go.
    void ClearResults();

    // Remembered settings (window_settings.cpp), read once at start, written at the end.
    void RestoreSettings();
    void SaveSettings() const;

    // Sequence loading.
    bool ChooseInputFolder();
    bool ChooseRecording();
    // A new input chosen (inputPath): the last run ends, the input field shows it and
    // the sequence is listed in the order the boxes show (a recording in its own).
    void OpenInput();
    QDir::SortFlags SortFlagsFromCombos(int sortIndex, int orderIndex) const;
    bool LoadSequence(QDir::SortFlags flags);
    bool ListImageFiles(QDir::SortFlags flags);
    void ReadFirstImageSize();
    // A folder refused: no frame, size or frame number of the folder before is shown.
    void ClearSequenceView();

    // Frame viewer.
    // Frame `index` of the sequence as 8-bit grey, read by sequenceFrames; empty when it
    // cannot be read or the index is outside the list.
    cv::Mat ReadFrameFile(int index) const;
    // Fitted to the preview, decoded at the preview's resolution; at natural size (the
    // preview's double-click) at full resolution. False when it could not be shown; said in
    // the status bar unless `sayUnreadable` is false (the caller says it its own way).
    bool ShowFrame(int index, bool naturalSize = false, bool sayUnreadable = true);
    // Next (1) or Previous (-1): the nearest frame that can be shown, the ones skipped named.
    void StepFrames(int step);
    void ReshowCurrentFrame();
    int CurrentFrameNumber() const;
    void SyncFrameIndex(int index);
    void DrawFlowDirection();
    void DrawGrid();
    // The counting line across the frame on screen (counting-line mode).
    void DrawCountingLine();
    void UpdateFlowButtons();
    void RefreshFlowDirection();
    void ShowFullImageWindow(int offset);
    void ResetFullImageSlider();

    std::unique_ptr<Ui::mivoParticleStreamAnalysis> ui;
    QString inputPath;
    QStringList imageFiles;
    // A folder's files, or a recording's frames (which the sort boxes do not order).
    SequenceKind sequenceKind = SequenceKind::Folder;
    // Files named like frames that the last listing of a folder left out.
    std::vector<SkippedFrameFile> listedLeftOut;
    // The frames of imageFiles, for the viewer, the dialogs and the frame size: read by
    // the stream a run reads them with, so all see a frame the same way (one decoder,
    // the same checks). Never processed; runs have their own.
    std::unique_ptr<CVideoStream> sequenceFrames;
    int imageHeight = 0;
    int imageWidth = 0;
    bool fitToWindow = true;
    bool gridVisible = true;
    QColor overlayColor;
    int gridSize = 3;
    int segmentationMethod = 3;
    CountingMode countingMode;  // set by init
    CTool4CropImg* cropDialog = nullptr;
    double cropTop = 0.0;
    double cropBottom = 0.0;
    double cropLeft = 0.0;
    double cropRight = 0.0;
    bool sequenceLoaded = false;
    // Declared after `ui`, so that a run still going stops before the widgets it reports to go.
    std::unique_ptr<CMivoRegisterManager> registerManager;
    int flowDirection = 3;
    PixelCalibration calibration;
    CGui4SelectRegion* selectionDialog = nullptr;
    // Percentage of a run in progress, at the right end of the status bar.
    QProgressBar* runProgress = nullptr;
    // The size distribution of the counts shown, a window of its own beside this one.
    CSizeDistributionDialog* sizeDialog = nullptr;
    // The velocity profile of the last run that finished, and the frame rate (remembered).
    CVelocityProfileDialog* velocityDialog = nullptr;
    // What produced the numbers on the counters; the last run that finished, recounted
    // with the range and filter of the last recount, and the frames it read (for its
    // strip); the last frame counted alone.
    std::unique_ptr<CountBasis> shownCount;
    std::unique_ptr<CountedRun> finishedRun;
    std::unique_ptr<CVideoStream> runFrames;
    std::unique_ptr<CountedRun> frameAlone;
    // Where the folder chooser and the exports start; remembered between sessions.
    QString lastFolder;
    QString figuresFolder;
    QString dataFolder;
};
