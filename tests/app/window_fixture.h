#pragma once

// Driving the main window in tests: frames on disk, file dialogs answered from a timer,
// widgets by object name, the status bar, the counters and the preview.

#include "app/mivo_particle_stream_analysis.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

using Window = CMivoParticleStreamAnalysis;

template <class T> T* Child(QObject* parent, const char* name)
{
    return parent->findChild<T*>(QString::fromLatin1(name));
}

// Frame i of a flat sequence has the grey value FrameGrey(i).
inline int FrameGrey(int i)
{
    return 20 + 10 * i;
}

inline bool WriteFrame(const QString& path, int grey, const char* format = nullptr, QSize size = {640, 480})
{
    QImage image(size, QImage::Format_Grayscale8);
    image.fill(qRgb(grey, grey, grey));
    return image.save(path, format);
}

// Answers the next file dialog with `path` (a folder, or a file to save, replacing one that
// exists); `afterAccept` runs once the dialog has taken the answer. `startedIn` receives the
// folder the dialog opened in.
inline void AnswerFileDialog(const QString& path, const std::function<void()>& afterAccept = {},
                             QString* startedIn = nullptr)
{
    // Owned by the application: a timer whose dialog never came goes with it.
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, path, afterAccept, startedIn] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        poll->deleteLater();
        if (startedIn) *startedIn = dialog->directory().absolutePath();
        const bool folder = dialog->fileMode() == QFileDialog::Directory;
        if (!folder && QFileInfo::exists(path)) {  // "Do you want to replace it?", asked from within accept()
            auto* confirm = new QTimer(qApp);
            QObject::connect(confirm, &QTimer::timeout, confirm, [confirm] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    confirm->deleteLater();
                    box->button(QMessageBox::Yes)->click();
                }
            });
            confirm->start(10);
        }
        dialog->setDirectory(folder ? path : QFileInfo(path).path());
        dialog->findChild<QLineEdit*>("fileNameEdit")
            ->setText(folder ? QString() : path);  // else a folder in it is chosen
        static_cast<QDialog*>(dialog)->accept();   // protected in QFileDialog
        if (afterAccept) afterAccept();
    });
    poll->start(10);
}

// The window remembers its settings between sessions: each test keeps them in its own
// folder (and clears them after each case), never in the user's.
inline void KeepSettingsIn(const QString& folder)
{
    QCoreApplication::setOrganizationName(QStringLiteral("tessel-tests"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
}

inline void OpenFolder(Window& w, const QString& folder)
{
    AnswerFileDialog(folder);
    Child<QAction>(&w, "file_openFolderAct")->trigger();
}

inline QString StatusText(Window& w)
{
    return w.statusBar()->currentMessage();
}
inline QString FieldText(Window& w, const char* name)
{
    return Child<QLineEdit>(&w, name)->text();
}
inline QImage PreviewImage(Window& w)
{
    return Child<QLabel>(&w, "labImage")->pixmap().toImage();
}
inline QStringList Counters(Window& w)
{  // "# Single", "# Bigger", "# Smaller"
    return {FieldText(w, "tf_report_total"), FieldText(w, "tf_report_NGreater"), FieldText(w, "tf_report_NSmaller")};
}
