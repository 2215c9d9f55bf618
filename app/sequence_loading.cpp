// Main window: choosing a folder of frames, listing and ordering its image files.

#include "app/form_text.h"
#include "app/mivo_particle_stream_analysis.h"
#include "register/frame_listing.h"
#include "register/mivo_register_manager.h"
#include "register/run_stream.h"
#include "register/run_warnings.h"
#include "stream/video_stream.h"
#include "ui_mivo_particle_stream_analysis.h"

#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>

#include <opencv2/core.hpp>

void CMivoParticleStreamAnalysis::slot_file_openInputFolder()
{
    if (!ChooseInputFolder()) {
        ShowStatus(FormText("[IDLE]"));
        return;
    }
    OpenInput();
}

void CMivoParticleStreamAnalysis::slot_file_openRecording()
{
    if (!ChooseRecording()) {
        ShowStatus(FormText("[IDLE]"));
        return;
    }
    OpenInput();
}

void CMivoParticleStreamAnalysis::OpenInput()
{
    // A run of the previous folder ends here; its steps would go on reading that folder.
    registerManager->ResetRegister();
    watchingFolder = false;
    ShowRunStopped();
    ui->tf_video_InputPath->setText(inputPath);
    ClearResults();
    // A new folder is listed by name, ascending, whatever the boxes showed (they come back
    // from the last session at start only); listed once, below, not by the boxes' slots.
    {
        const QSignalBlocker sortBlocker(ui->cb_video_sortby);
        const QSignalBlocker orderBlocker(ui->cb_video_order);
        ui->cb_video_sortby->setCurrentIndex(0);
        ui->cb_video_order->setCurrentIndex(0);
    }
    sequenceLoaded = LoadSequence(SortFlagsFromCombos(0, 0));
    SetProcessingControlsEnabled(true);
    RefreshCountState();
}

void CMivoParticleStreamAnalysis::slot_cb_video_eventSortByChanged(int index)
{
    if (!sequenceLoaded) {
        ShowStatus(FormText("[IDLE] The input file does not contain images"));
        return;
    }
    sequenceLoaded = LoadSequence(SortFlagsFromCombos(index, ui->cb_video_order->currentIndex()));
}

void CMivoParticleStreamAnalysis::slot_cb_video_eventOrderChanged(int index)
{
    if (!sequenceLoaded) {
        ShowStatus(FormText("[IDLE] The input file does not contain images"));
        return;
    }
    sequenceLoaded = LoadSequence(SortFlagsFromCombos(ui->cb_video_sortby->currentIndex(), index));
}

bool CMivoParticleStreamAnalysis::ChooseInputFolder()
{
    // Starts where the last folder was chosen, in this session or the one before.
    const QString folder = QFileDialog::getExistingDirectory(this, FormText("Choose directory of images sequences"),
                                                             lastFolder, QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return false;
    inputPath = folder;
    lastFolder = folder;
    qDebug().noquote() << QStringLiteral("Input Path : ") + inputPath;
    return true;
}

bool CMivoParticleStreamAnalysis::ChooseRecording()
{
    const QString file = QFileDialog::getOpenFileName(
        this, FormText("Choose a recording"), lastFolder,
        FormText("Recordings (*.tif *.tiff *.avi *.mp4 *.mkv *.mov);;All files (*)"));
    if (file.isEmpty())
        return false;
    inputPath = file;
    lastFolder = QFileInfo(file).path();
    qDebug().noquote() << QStringLiteral("Input Path : ") + inputPath;
    return true;
}

QDir::SortFlags CMivoParticleStreamAnalysis::SortFlagsFromCombos(int sortIndex, int orderIndex) const
{
    return FrameSortFlags(ui->cb_video_sortby->itemData(sortIndex).toString(),
                          ui->cb_video_order->itemData(orderIndex).toString());
}

bool CMivoParticleStreamAnalysis::LoadSequence(QDir::SortFlags flags)
{
    const bool ok = ListImageFiles(flags);
    if (!ok) {
        // Nothing of the folder before stays on screen: its frame, or the strip of its run.
        ClearSequenceView();
        return false;
    }
    ReadFirstImageSize();
    // The slider's slot may show a frame here when a sequence was loaded before.
    ui->sld_view_FrameSlider->setRange(1, int(imageFiles.size()));
    ui->sld_view_FrameSlider->setValue(0);
    ShowFrame(0);
    ui->tf_video_Size->setText(QStringLiteral("%1x%2").arg(imageHeight).arg(imageWidth));
    // Files named like frames that the listing leaves out (names it cannot hold, links
    // that lead nowhere, pipes); the count of images would otherwise disagree with the
    // folder without a word.
    const QString skipped = SkippedFrameFilesText(listedLeftOut);
    if (!skipped.isEmpty())
        ShowStatus(FormText("[WARNING] ") + skipped);
    return true;
}

bool CMivoParticleStreamAnalysis::ListImageFiles(QDir::SortFlags flags)
{
    if (inputPath.isNull()) {
        ShowStatus(FormText("[ERRO] input path is null"));
        return false;
    }
    // A folder's files in the boxes' order, or a recording's frames in their own.
    SequenceListing listing = ListSequence(inputPath, flags);
    imageFiles = listing.frameNames;
    listedLeftOut = std::move(listing.leftOut);
    sequenceKind = listing.kind;
    SetUpStream(*sequenceFrames, WindowSettings());
    ui->tf_video_NumImages->setText(QString::number(imageFiles.size()));
    const bool ordered = sequenceKind == SequenceKind::Folder;
    ui->cb_video_sortby->setEnabled(ordered);
    ui->cb_video_order->setEnabled(ordered);
    // How many were found and that six are needed, when there are some; why a
    // recording cannot be read.
    if (!listing.error.isEmpty())
        ShowStatus(listing.error);
    return listing.error.isEmpty();
}

void CMivoParticleStreamAnalysis::ClearSequenceView()
{
    ui->labImage->clear();
    imageHeight = imageWidth = 0;
    ui->tf_video_Size->setText(QStringLiteral("0"));
    const QSignalBlocker blocker(ui->sld_view_FrameSlider);
    ui->sld_view_FrameSlider->setRange(0, 0);
    ui->tf_view_IdxInstance->setText(QStringLiteral("0"));
}

void CMivoParticleStreamAnalysis::ReadFirstImageSize()
{
    // Through the frame reader: a frame 0 it refuses (undecodable, above the pixel
    // limit, a pipe) gives a size of 0 x 0.
    const cv::Mat first = ReadFrameFile(0);
    imageHeight = first.rows;
    imageWidth = first.cols;
}
