#pragma once

#include <QApplication>

// The desktop program's application object. Memory running out in a command (a
// rendering, an export, a frame shown) reaches the event loop as an exception, which Qt
// does not let pass its own code: it is caught here, the event counts as handled and the
// main window's status bar says "[ERRO] The last command stopped (out of memory)". A run
// stops by itself (the run engine); the window stays alive either way. Any other
// exception is not ours to hide and passes on.
class CTesselApplication : public QApplication {
    Q_OBJECT

public:
    CTesselApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
