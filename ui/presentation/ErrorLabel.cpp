#include "presentation/ErrorLabel.h"

#include <QMouseEvent>

ErrorLabel::ErrorLabel(QWidget* parent)
    : QLabel(parent)
{
}

void ErrorLabel::mousePressEvent(QMouseEvent* /*event*/)
{
}

void ErrorLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (!rect().contains(event->pos()))
        return;
    if (event->button() == Qt::LeftButton)
        emit clicked();
    else if (event->button() == Qt::RightButton)
        emit rightClicked();
}

void ErrorLabel::mouseDoubleClickEvent(QMouseEvent* /*event*/)
{
    emit doubleClick();
}
