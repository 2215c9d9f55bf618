#pragma once

#include "register/run_result.h"
#include "register/run_settings.h"
#include "register/velocity_profile.h"

#include <QDialog>

class CChartPanel;
class QChart;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QStackedWidget;

// A window of its own, beside the main window, that shows the velocity profile of the last
// run that finished (the owner hands each one to SetRun) across the channel, in the unit
// chosen. It holds the frame rate the speeds per second are taken with (0: not set), which
// the owner remembers and hands to the exports. A frames-of-interest run follows no
// particle: the window says so rather than draw an empty chart. Not modal.
class CVelocityProfileDialog : public QDialog {
    Q_OBJECT

public:
    explicit CVelocityProfileDialog(QWidget* parent = nullptr);

    // The run the profile is of (its settings give the mode and the pixel size).
    void SetRun(const RunSettings& settings, const RunResult& result);
    // No run finished (another folder opened or refused): nothing to show.
    void ClearRun();

    // Frames per second, 0 when not set.
    double FrameRate() const;
    void SetFrameRate(double hz);
    SpeedUnit Unit() const { return unit; }
    void SetUnit(SpeedUnit shown);
    // The chart shown; null while the window says why there is none.
    QChart* Chart() const;
    // Why there is no chart; empty while one is shown.
    QString Notice() const;

private slots:
    void slot_sb_frameRate();
    void slot_comboBox_speedUnit(int index);

private:
    void ShowProfile();
    // The units the frame rate allows.
    void OfferUnits();

    QStackedWidget* pages;
    CChartPanel* chartPanel;
    QLabel* notice;
    QComboBox* unitChoice;
    QDoubleSpinBox* frameRate;
    SpeedUnit unit = SpeedUnit::kPxPerFrame;
    bool hasRun = false;
    RunSettings settings;
    RunResult result;
};
