#include "presentation/QFramelessWindow.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QMoveEvent>
#include <QScreen>

QFramelessWindow::QFramelessWindow(QWidget* parent)
    : QWidget(parent)
    , m_borderWidth(5)
    , m_pressed(false)
    , m_moving(false)
    , m_region(RegionNone)
{
}

void QFramelessWindow::setAllMouseTracking()
{
    const QList<QWidget*> children = findChildren<QWidget*>();
    for (QWidget* child : children) {
        child->setAttribute(Qt::WA_MouseTracking, true);
        child->updateGeometry();
    }
    setAttribute(Qt::WA_MouseTracking, true);
    updateGeometry();
}

QFramelessWindow::ResizeRegion QFramelessWindow::getResizeRegion(QPoint pos) const
{
    const int b = m_borderWidth;
    const int w = width();
    const int h = height();
    if (pos.y() <= b) {
        if (pos.x() <= b)
            return RegionTopLeft;
        if (pos.x() >= w - b)
            return RegionTopRight;
        return RegionTop;
    }
    if (pos.y() >= h - b) {
        if (pos.x() <= b)
            return RegionBottomLeft;
        if (pos.x() < w - b)
            return RegionBottom;
        return RegionBottomRight;
    }
    return pos.x() <= b ? RegionLeft : RegionRight;
}

void QFramelessWindow::setResizeCursor(ResizeRegion region)
{
    switch (region) {
    case RegionTop:
    case RegionBottom:
        setCursor(Qt::SizeVerCursor);
        break;
    case RegionRight:
    case RegionLeft:
        setCursor(Qt::SizeHorCursor);
        break;
    case RegionBottomRight:
    case RegionTopLeft:
        setCursor(Qt::SizeFDiagCursor);
        break;
    case RegionTopRight:
    case RegionBottomLeft:
    case RegionNone:
    default:
        setCursor(Qt::SizeBDiagCursor);
        break;
    }
}

void QFramelessWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = true;
    m_pressPos = event->pos();
    m_pressGlobalPos = event->globalPos();
    m_pressRect = rect();
}

void QFramelessWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (m_region != RegionNone) {
        handleResize();
        return;
    }
    if (m_moving) {
        move(event->globalPos() - m_pressPos);
        return;
    }

    const int b = m_borderWidth;
    const QPoint pos = event->pos();
    const QRect inner(b, b, width() - 2 * b, height() - 2 * b);
    const bool leftDown = m_pressed && (event->buttons() & Qt::LeftButton);
    if (rect().contains(pos) && !inner.contains(pos)) {
        const ResizeRegion region = getResizeRegion(pos);
        setResizeCursor(region);
        if (leftDown) {
            m_region = region;
            handleResize();
        }
    } else {
        setCursor(Qt::ArrowCursor);
        if (leftDown) {
            m_moving = true;
            move(event->globalPos() - m_pressPos);
        }
    }
}

void QFramelessWindow::mouseReleaseEvent(QMouseEvent* event)
{
    m_pressed = false;
    if (m_moving) {
        m_moving = false;
        move(event->globalPos() - m_pressPos);
    }
    m_region = RegionNone;
    setCursor(Qt::ArrowCursor);
}

void QFramelessWindow::handleResize()
{
    const QPoint c = QCursor::pos();
    const int dx = c.x() - m_pressGlobalPos.x();
    const int dy = c.y() - m_pressGlobalPos.y();
    const int w0 = m_pressRect.width();
    const int h0 = m_pressRect.height();

    // The dragged top or left edge goes to the pointer itself.
    switch (m_region) {
    case RegionTop:
        resize(width(), h0 - dy);
        move(x(), c.y());
        break;
    case RegionTopRight:
        resize(w0 + dx, h0 - dy);
        move(x(), c.y());
        break;
    case RegionRight:
        resize(w0 + dx, height());
        break;
    case RegionBottomRight:
        resize(w0 + dx, h0 + dy);
        break;
    case RegionBottom:
        resize(width(), h0 + dy);
        break;
    case RegionBottomLeft:
        resize(w0 - dx, h0 + dy);
        move(c.x(), y());
        break;
    case RegionLeft:
        resize(w0 - dx, height());
        move(c.x(), y());
        break;
    case RegionTopLeft:
        resize(w0 - dx, h0 - dy);
        move(c.x(), c.y());
        break;
    case RegionNone:
        break;
    }
}

void QFramelessWindow::handleMove(QPoint globalPos)
{
    move(globalPos - m_pressPos);
}

void QFramelessWindow::moveEvent(QMoveEvent* event)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    int x = event->pos().x();
    int y = event->pos().y();

    // The far limit first, then the near one: a window larger than the area
    // keeps its left or top edge visible and the correction settles at once.
    if (x + width() > area.left() + area.width())
        x = area.left() + area.width() - width();
    if (x < area.left())
        x = area.left();
    if (y + height() > area.top() + area.height())
        y = area.top() + area.height() - height();
    if (y < area.top())
        y = area.top();

    if (x != event->pos().x() || y != event->pos().y())
        move(x, y);
}
