#pragma once

// Shared by the dialog tests: widgets by object name and message boxes answered from
// a timer.

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

template <class T>
T* Child(QObject* parent, const char* name)
{
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    if (!child)
        qWarning("no %s named %s", T::staticMetaObject.className(), name);
    return child;
}

// Texts of the message boxes closed while the watcher lives. Each box is closed as soon
// as it is shown, so code that waits in exec() goes on.
class MessageBoxWatcher
{
public:
    MessageBoxWatcher()
    {
        QObject::connect(&poll, &QTimer::timeout, [this] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(top);
                if (box && box->isVisible()) {
                    texts.append(box->text());
                    box->accept();
                }
            }
        });
        poll.start(5);
    }
    QStringList Texts() const { return texts; }

private:
    QTimer poll;
    QStringList texts;
};
