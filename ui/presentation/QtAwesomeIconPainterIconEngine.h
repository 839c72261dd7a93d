#pragma once

#include "presentation/QtAwesome.h"

#include <QIconEngine>

// Icon engine that paints through an icon painter with its own copy of the
// options. The factory and the painter are not owned.
class SCHOLIA_EXPORT QtAwesomeIconPainterIconEngine : public QIconEngine
{
public:
    QtAwesomeIconPainterIconEngine(QtAwesome* awesome, QtAwesomeIconPainter* painter, const IconOptions& options);

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QIconEngine* clone() const override;

private:
    QtAwesome* m_awesome;
    QtAwesomeIconPainter* m_painter;
    IconOptions m_options;
};
