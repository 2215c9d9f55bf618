#include "app/tessel_application.h"

#include "toolkit/out_of_memory.h"

#include <QMainWindow>
#include <QStatusBar>

CTesselApplication::CTesselApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

bool CTesselApplication::notify(QObject* receiver, QEvent* event)
{
    bool handled = false;
    if (!RanOutOfMemory([&] { handled = QApplication::notify(receiver, event); }))
        return handled;
    for (QWidget* top : topLevelWidgets()) {
        if (auto* window = qobject_cast<QMainWindow*>(top))
            window->statusBar()->showMessage(tr("[ERRO] The last command stopped (out of memory)"));
    }
    return true;
}
