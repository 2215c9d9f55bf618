#pragma once

#include <QLabel>

class QMouseEvent;

// Image label that reports mouse activity as argument-less signals. The position of
// the last event is kept in public fields, written before the signal is emitted, so a
// directly connected slot reads where the mouse was. Positions are in the label's own
// coordinates and are not clamped: a drag that leaves the label reports positions
// outside it, negative ones included. Mouse tracking stays off, so moves are reported
// only while a button is held.
class myQLabel : public QLabel {
    Q_OBJECT

public:
    explicit myQLabel(QWidget* parent = nullptr);

    int mouseX = 0;
    int mouseY = 0;
    bool leftPressed = false;

signals:
    void sigMouse_dblClick();
    void sigMouse_Pressed();
    void sigMouse_Pos();
    void sigMouse_Release();

protected:
    // The events are reported and kept here (left accepted, QLabel not called), so
    // they never reach the parent widgets.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void KeepPosition(const QMouseEvent* event);
};
