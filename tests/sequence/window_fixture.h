#pragma once

// Helpers for driving the main window in tests: frames on disk, the folder chooser
// answered from a timer, widgets by object name and the preview's pixels.

#include "app/mivo_particle_stream_analysis.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTimer>

template <class T>
T* Child(QObject* window, const char* name)
{
    return window->findChild<T*>(QString::fromLatin1(name));
}

// Writes a grey frame of one value; the format comes from `format` (or the suffix).
inline bool WriteFrame(const QString& path, int grey, int width = 640, int height = 480,
                       const char* format = nullptr)
{
    QImage image(width, height, QImage::Format_Grayscale8);
    image.fill(qRgb(grey, grey, grey));
    return image.save(path, format);
}

// Frame i of the sequence has the grey value FrameGrey(i).
inline int FrameGrey(int i)
{
    return 20 + 10 * i;
}

inline bool WriteSequence(const QDir& dir, int count)
{
    for (int i = 0; i < count; ++i) {
        if (!WriteFrame(dir.filePath(QStringLiteral("frame_%1.png").arg(i, 2, 10, QLatin1Char('0'))),
                        FrameGrey(i)))
            return false;
    }
    return true;
}

// Answers the next folder chooser with `folder`, or cancels it when `folder` is empty.
inline void AnswerFolderChooser(const QString& folder)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, folder] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* chooser = qobject_cast<QFileDialog*>(top);
            if (!chooser || !chooser->isVisible())
                continue;
            if (folder.isEmpty()) {
                chooser->reject();
            } else {
                chooser->setDirectory(folder);
                static_cast<QDialog*>(chooser)->accept(); // protected in QFileDialog
            }
            poll->deleteLater();
            return;
        }
    });
    poll->start(10);
}

inline void OpenFolder(CMivoParticleStreamAnalysis& window, const QString& folder)
{
    AnswerFolderChooser(folder);
    Child<QAction>(&window, "file_openFolderAct")->trigger();
}

inline QString StatusText(CMivoParticleStreamAnalysis& window)
{
    return Child<QStatusBar>(&window, "statusBar")->currentMessage();
}

inline QString FieldText(CMivoParticleStreamAnalysis& window, const char* name)
{
    return Child<QLineEdit>(&window, name)->text();
}

inline QImage PreviewImage(CMivoParticleStreamAnalysis& window)
{
    return Child<QLabel>(&window, "labImage")->pixmap().toImage();
}

// Grey value of the preview at a point that no overlay covers on a 640 x 480 frame
// (-1 when the preview is not such a frame).
inline int PreviewGrey(CMivoParticleStreamAnalysis& window)
{
    const QImage image = PreviewImage(window);
    if (image.size() != QSize(640, 480))
        return -1;
    const QRgb pixel = image.pixel(600, 450);
    if (qRed(pixel) != qGreen(pixel) || qGreen(pixel) != qBlue(pixel))
        return -1;
    return qRed(pixel);
}
