#include "app/mivo_particle_stream_analysis.h"

#include "app/count_basis.h"
#include "app/form_text.h"
#include "dialogs/crop_dialog.h"
#include "dialogs/selection_dialog.h"
#include "register/message_text.h"
#include "register/mivo_register_manager.h"
#include "stream/count_defaults.h"
#include "stream/video_stream.h"
#include "ui_mivo_particle_stream_analysis.h"

#include <QActionGroup>
#include <QDoubleValidator>
#include <QIntValidator>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>

CMivoParticleStreamAnalysis::CMivoParticleStreamAnalysis()
    : QMainWindow(nullptr)
    , ui(new Ui::mivoParticleStreamAnalysis)
{
    // The icons and the logo live in a static library; this keeps them linked in.
    Q_INIT_RESOURCE(icons);

    ui->setupUi(this);
    setFixedSize(size());

    FillControls();
    GroupMenuActions();
    AddRunProgress();

    init();
    RestoreSettings();
    // Last, so that nothing done while building calls a slot.
    ConnectSignals();
}

CMivoParticleStreamAnalysis::~CMivoParticleStreamAnalysis()
{
    SaveSettings();
}

void CMivoParticleStreamAnalysis::FillControls()
{
    ui->cb_video_sortby->addItem(FormText("Name"), QStringLiteral("byName"));
    ui->cb_video_sortby->addItem(FormText("Time"), QStringLiteral("byTime"));
    ui->cb_video_sortby->addItem(FormText("Size"), QStringLiteral("bySize"));
    ui->cb_video_sortby->setCurrentIndex(0);
    ui->cb_video_order->addItem(FormText("Ascendant"), QStringLiteral("orderAscendant"));
    ui->cb_video_order->addItem(FormText("Descendant"), QStringLiteral("orderDescendant"));
    ui->cb_video_order->setCurrentIndex(0);

    ui->tf_setting_PixelSize->setValidator(new QDoubleValidator(1.0, 100.0, 2, this));
    ui->tf_setting_minMu->setValidator(new QDoubleValidator(1.0, 25000.0, 2, this));
    ui->tf_setting_maxMu->setValidator(new QDoubleValidator(1.0, 50000.0, 2, this));
    ui->tf_setting_minPxl->setValidator(new QIntValidator(1, 5000, this));
    ui->tf_setting_maxPxl->setValidator(new QIntValidator(1, 10000, this));

    ui->sb_report_thCirc->setValue(count_defaults::kMinCircularity);

    // Boxes that only show (counters, the folder's details) take no focus: the arrow keys
    // go on stepping frames after a click on them, and Tab passes them by.
    for (QLineEdit* box : {ui->tf_report_total, ui->tf_report_NGreater, ui->tf_report_NSmaller, ui->tf_video_InputPath,
                           ui->tf_video_NumImages, ui->tf_video_Size, ui->proc_tf_cropImg, ui->proc_tf_Range4Process}) {
        box->setReadOnly(true);
        box->setFocusPolicy(Qt::NoFocus);
    }

    // Only a flow to the right is measured; the other directions stay unavailable.
    ui->btn_flow_down->setEnabled(false);
    ui->btn_flow_up->setEnabled(false);
    ui->btn_flow_left->setEnabled(false);
}

void CMivoParticleStreamAnalysis::GroupMenuActions()
{
    auto* segmentationGroup = new QActionGroup(this);
    segmentationGroup->setExclusive(true);
    segmentationGroup->addAction(ui->segOtsuAct);
    segmentationGroup->addAction(ui->segModeAct);
    segmentationGroup->addAction(ui->segFrameDiffAct);
    segmentationGroup->addAction(ui->segBackgroundAct);
    ui->segFrameDiffAct->setChecked(true);
    auto* countingGroup = new QActionGroup(this);
    countingGroup->setExclusive(true);
    countingGroup->addAction(ui->countFoiAct);
    countingGroup->addAction(ui->countLineAct);
    ui->countFoiAct->setChecked(true);

    // Action tool tips say more than the entries' names.
    for (QMenu* menu :
         {ui->menuFile, ui->menuImg_viewer, ui->menuSegmentation, ui->menuCounting, ui->menuResults, ui->menuHelp})
        menu->setToolTipsVisible(true);
}

void CMivoParticleStreamAnalysis::AddRunProgress()
{
    // Shown only while a run goes; the status texts stay as they are. No number on the
    // bar: it spans the whole run, the status text's percentage only the current phase.
    runProgress = new QProgressBar(this);
    runProgress->setObjectName(QStringLiteral("runProgress"));
    runProgress->setRange(0, 100);
    runProgress->setTextVisible(false);
    runProgress->setMaximumWidth(160);
    runProgress->hide();
    ui->statusBar->addPermanentWidget(runProgress);
}

void CMivoParticleStreamAnalysis::init()
{
    inputPath.clear();
    imageFiles.clear();
    sequenceFrames = std::make_unique<CVideoStream>();
    imageHeight = 0;
    imageWidth = 0;
    sequenceLoaded = false;
    fitToWindow = true;
    gridVisible = true;
    gridSize = 3;

    ui->cb_viewtool_sizeGrid->addItem(FormText("3x3"), 3);
    ui->cb_viewtool_sizeGrid->addItem(FormText("4x4"), 4);
    ui->cb_viewtool_sizeGrid->addItem(FormText("5x5"), 5);

    ui->scrollArea->setBackgroundRole(QPalette::Base);
    ui->scrollArea->setWidgetResizable(true);

    // Compiled in, so the program shows it from any working directory.
    const QPixmap logo(QStringLiteral(":/imgs/logo.png"));
    ui->labImage->setBackgroundRole(QPalette::Dark);
    ui->labImage->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    ui->labImage->setScaledContents(true);
    ui->labImage->setPixmap(logo);
    ui->labImage->update();

    flowDirection = 3;
    UpdateFlowButtons();

    registerManager = std::make_unique<CMivoRegisterManager>();

    overlayColor = QColor(0, 255, 255, 128);

    calibration = PixelCalibration{};
    ShowDefaultSettings();

    selectionDialog = new CGui4SelectRegion(this);

    ui->chb_report_FilterByCirc->setEnabled(true);
    ui->chb_report_FilterByCirc->setChecked(false);
    ui->sb_report_thCirc->setEnabled(false);

    cropDialog = new CTool4CropImg(this);

    cropTop = 0.0;
    cropBottom = 0.0;
    cropLeft = 0.0;
    cropRight = 0.0;

    segmentationMethod = count_defaults::kMethod;
    countingMode = CountingMode::FramesOfInterest;

    InitResultsView();

    SetProcessingControlsEnabled(false);
}

void CMivoParticleStreamAnalysis::ShowDefaultSettings()
{
    // The range in square micrometres is the range in pixels at the pixel size.
    const double pixelArea = count_defaults::kPixelSize * count_defaults::kPixelSize;
    ui->tf_setting_PixelSize->setText(QString::number(count_defaults::kPixelSize, 'g', 6));
    ui->tf_setting_minMu->setText(QString::number(count_defaults::kMinArea * pixelArea, 'g', 6));
    ui->tf_setting_maxMu->setText(QString::number(count_defaults::kMaxArea * pixelArea, 'g', 6));
    ui->tf_setting_minPxl->setText(QString::number(count_defaults::kMinArea));
    ui->tf_setting_maxPxl->setText(QString::number(count_defaults::kMaxArea));
}

void CMivoParticleStreamAnalysis::SetProcessingControlsEnabled(bool enabled)
{
    ui->btn_setting_manualSelection->setEnabled(enabled);
    ui->gb_Foi->setEnabled(enabled);
    ui->btn_proc_stopVR->setEnabled(!enabled);
    ui->btn_proc_runVR->setEnabled(enabled);
    ui->btn_proc_countOne->setEnabled(enabled);
    // Whatever the argument: without a finished run there is nothing to recount.
    ui->btn_proc_countAll->setEnabled(RunFinished());
    ui->gb_proc->setEnabled(enabled);
    ui->gb_particleSetting->setEnabled(enabled);
}

void CMivoParticleStreamAnalysis::ShowStatus(const QString& text)
{
    // No time-out: a message stays until the next one replaces it. File names in it
    // may hold control characters, which are shown escaped.
    ui->statusBar->showMessage(EscapeControlCharacters(text));
}

void CMivoParticleStreamAnalysis::ConnectSignals()
{
    using W = CMivoParticleStreamAnalysis;
    connect(ui->file_openFolderAct, &QAction::triggered, this, &W::slot_file_openInputFolder);
    connect(ui->file_openRecordingAct, &QAction::triggered, this, &W::slot_file_openRecording);
    connect(ui->cb_video_sortby, &QComboBox::currentIndexChanged, this, &W::slot_cb_video_eventSortByChanged);
    connect(ui->cb_video_order, &QComboBox::currentIndexChanged, this, &W::slot_cb_video_eventOrderChanged);
    connect(ui->viewImg_nextAct, &QAction::triggered, this, &W::slot_viewImg_NextImage);
    connect(ui->viewImg_preAct, &QAction::triggered, this, &W::slot_viewImg_PreviousImage);
    connect(ui->viewImg_firstAct, &QAction::triggered, this, &W::slot_viewImg_FirstImage);
    connect(ui->viewImg_lastAct, &QAction::triggered, this, &W::slot_viewImg_LastImage);
    connect(ui->sld_view_FrameSlider, &QSlider::valueChanged, this, &W::slot_sld_view_eventValueChanged);
    connect(ui->btn_flow_right, &QPushButton::clicked, this, &W::slot_btn_flow_right);
    connect(ui->btn_flow_left, &QPushButton::clicked, this, &W::slot_btn_flow_left);
    connect(ui->btn_flow_up, &QPushButton::clicked, this, &W::slot_btn_flow_up);
    connect(ui->btn_flow_down, &QPushButton::clicked, this, &W::slot_btn_flow_down);
    connect(ui->segOtsuAct, &QAction::triggered, this, &W::slot_segOtsu_updateSegMethod);
    connect(ui->segModeAct, &QAction::triggered, this, &W::slot_segMode_updateSegMethod);
    connect(ui->segFrameDiffAct, &QAction::triggered, this, &W::slot_segMDiff_updateSegMethod);
    connect(ui->segBackgroundAct, &QAction::triggered, this, &W::slot_segBackground_updateSegMethod);
    connect(ui->countFoiAct, &QAction::triggered, this, &W::slot_countFoi_updateMode);
    connect(ui->countLineAct, &QAction::triggered, this, &W::slot_countLine_updateMode);
    connect(ui->chb_video_grid, &QCheckBox::stateChanged, this, &W::slot_chb_video_GridCheck);
    connect(ui->cb_viewtool_sizeGrid, &QComboBox::currentIndexChanged, this, &W::slot_cb_viewTool_sizeGridChanged);
    connect(cropDialog, &CTool4CropImg::sigCrop_dataToolCropping, this, &W::slot_t4Crop_SetCroppingEnded);
    connect(ui->proc_chb_cropImg, &QCheckBox::clicked, this, &W::slot_chb_proc_cropImg);
    connect(ui->proc_chb_AllFrames, &QCheckBox::clicked, this, &W::slot_chb_proc_setRange);
    connect(ui->labImage, &myQLabel::sigMouse_dblClick, this, &W::slot_preview_DoubleClick);
    connect(ui->sld_vr_line, &QSlider::valueChanged, this, &W::slot_sld_VrLine_eventValueChanged);
    connect(ui->btn_proc_runVR, &QPushButton::clicked, this, &W::slot_btn_proc_RunVR);
    connect(ui->btn_proc_stopVR, &QPushButton::clicked, this, &W::slot_btn_proc_StopRunVR);
    connect(ui->btn_proc_countAll, &QPushButton::clicked, this, &W::slot_btn_proc_coutingAll);
    connect(ui->btn_proc_countOne, &QPushButton::clicked, this, &W::slot_btn_proc_coutingOne);
    connect(ui->tf_setting_PixelSize, &QLineEdit::editingFinished, this, &W::slot_tf_pxlSize_editFinish);
    connect(ui->tf_setting_minMu, &QLineEdit::editingFinished, this, &W::slot_tf_minMu_editFinish);
    connect(ui->tf_setting_maxMu, &QLineEdit::editingFinished, this, &W::slot_tf_maxMu_editFinish);
    connect(ui->tf_setting_minPxl, &QLineEdit::editingFinished, this, &W::slot_tf_minPxl_editFinish);
    connect(ui->tf_setting_maxPxl, &QLineEdit::editingFinished, this, &W::slot_tf_maxPxl_editFinish);
    connect(ui->btn_setting_manualSelection, &QPushButton::clicked, this, &W::slot_btn_manualSelection);
    connect(selectionDialog, &CGui4SelectRegion::sigManual_MinPxl, this, &W::slot_manual_minPixel);
    connect(selectionDialog, &CGui4SelectRegion::sigManual_MaxPxl, this, &W::slot_manual_maxPixel);
    connect(ui->chb_report_FilterByCirc, &QCheckBox::stateChanged, this, &W::slot_chb_report_filterByCircChecked);
    connect(ui->sb_report_thCirc, &QDoubleSpinBox::valueChanged, this, &W::slot_sbD_report_valueCirc);
    connect(ui->btn_expFoI, &QPushButton::clicked, this, &W::slot_btn_exportFoI);
    connect(registerManager.get(), &CMivoRegisterManager::signalMReg_showInStatusBar, this, &W::slot_updateStatusBar);
    connect(registerManager.get(), &CMivoRegisterManager::signalMReg_finishCounting, this, &W::slot_finishProcVR);
    connect(registerManager.get(), &CMivoRegisterManager::signalMReg_runFailed, this, &W::slot_runFailed);
    connect(ui->pushButton, &QPushButton::clicked, this, &W::slot_btn_exportData);
    connect(ui->file_quitAct, &QAction::triggered, this, &QWidget::close);
    connect(ui->viewImg_gotoAct, &QAction::triggered, this, &W::slot_viewImg_GoToFrame);
    connect(ui->results_sizeDistributionAct, &QAction::triggered, this, &W::slot_results_showSizeDistribution);
    connect(ui->results_velocityProfileAct, &QAction::triggered, this, &W::slot_results_showVelocityProfile);
    connect(ui->help_aboutAct, &QAction::triggered, this, &W::slot_help_about);
    ConnectStaleMarks();
}

void CMivoParticleStreamAnalysis::ConnectStaleMarks()
{
    // After the slots of ConnectSignals, so that the count is compared with the settings they set.
    using W = CMivoParticleStreamAnalysis;
    for (QLineEdit* field : {ui->tf_setting_minPxl, ui->tf_setting_maxPxl, ui->tf_setting_PixelSize})
        connect(field, &QLineEdit::textChanged, this, &W::slot_countSettingsChanged);
    for (QAction* action :
         {ui->segOtsuAct, ui->segModeAct, ui->segFrameDiffAct, ui->segBackgroundAct, ui->countFoiAct, ui->countLineAct})
        connect(action, &QAction::triggered, this, &W::slot_countSettingsChanged);
    for (QComboBox* box : {ui->cb_video_sortby, ui->cb_video_order})
        connect(box, &QComboBox::currentIndexChanged, this, &W::slot_countSettingsChanged);
    connect(ui->chb_report_FilterByCirc, &QCheckBox::stateChanged, this, &W::slot_countSettingsChanged);
    connect(ui->sb_report_thCirc, &QDoubleSpinBox::valueChanged, this, &W::slot_countSettingsChanged);
    connect(ui->proc_chb_cropImg, &QCheckBox::clicked, this, &W::slot_countSettingsChanged);
    connect(cropDialog, &CTool4CropImg::sigCrop_dataToolCropping, this, &W::slot_countSettingsChanged);
}

void CMivoParticleStreamAnalysis::slot_help_about()
{
    QMessageBox::about(this, FormText("About Tessel"),
                       FormText("<h3>Tessel %1</h3>"
                                "<p>Counts and sizes the particles carried by a flow past a camera.</p>"
                                "<p>Licence: MIT<br>Copyright (c) 2026 The Tessel developers</p>")
                           .arg(QStringLiteral(TESSEL_VERSION)));
}
