#include "presentation/QtAwesomeAnimation.h"

#include <QPainter>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <cmath>

QtAwesomeAnimation::QtAwesomeAnimation(QWidget* parentWidget, int interval, int step)
    : m_parentWidget(parentWidget)
    , m_interval(interval)
    , m_step(step)
{
}

void QtAwesomeAnimation::applyRotation(QPainter* painter, const QRect& rect)
{
    if (!m_timer) {
        m_timer = new QTimer(this);
        connect(m_timer, &QTimer::timeout, this, &QtAwesomeAnimation::update);
        m_timer->start(m_interval);
        return;
    }
    const qreal centreX = rect.width() * 0.5;
    const qreal centreY = rect.height() * 0.5;
    painter->translate(centreX, centreY);
    painter->rotate(m_angle);
    painter->translate(-centreX, -centreY);
}

void QtAwesomeAnimation::update()
{
    m_angle = std::fmod(m_angle + m_step, 360.0f);
    if (m_parentWidget)
        m_parentWidget->update();
}
