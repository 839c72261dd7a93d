#pragma once

#include "ScholiaGlobal.h"

#include <QObject>
#include <QPointer>

class QPainter;
class QRect;
class QTimer;
class QWidget;

// Turns a glyph step by step: every interval the angle grows by the step and
// the widget is repainted. The timer starts with the first painted frame.
class SCHOLIA_EXPORT QtAwesomeAnimation : public QObject
{
    Q_OBJECT
public:
    QtAwesomeAnimation(QWidget* parentWidget, int interval = 10, int step = 1);

    // Rotates the painter about the centre of rect by the current angle; the
    // first call starts the timer and leaves that frame unrotated.
    void applyRotation(QPainter* painter, const QRect& rect);
    float angle() const { return m_angle; }

public slots:
    void update();

private:
    QPointer<QWidget> m_parentWidget;
    QTimer* m_timer = nullptr;
    int m_interval;
    int m_step;
    float m_angle = 0;
};
