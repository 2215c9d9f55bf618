#include "dialogs/myqlabel.h"

#include <QMouseEvent>

myQLabel::myQLabel(QWidget* parent)
    : QLabel(parent)
{
}

void myQLabel::KeepPosition(const QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    mouseX = pos.x();
    mouseY = pos.y();
}

void myQLabel::mouseDoubleClickEvent(QMouseEvent* event)
{
    KeepPosition(event);
    emit sigMouse_dblClick();
}

void myQLabel::mousePressEvent(QMouseEvent* event)
{
    KeepPosition(event);
    leftPressed = event->button() == Qt::LeftButton;
    emit sigMouse_Pressed();
}

void myQLabel::mouseMoveEvent(QMouseEvent* event)
{
    KeepPosition(event);
    emit sigMouse_Pos();
}

void myQLabel::mouseReleaseEvent(QMouseEvent* event)
{
    KeepPosition(event);
    emit sigMouse_Release();
}
