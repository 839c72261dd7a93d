#include "presentation/QtAwesomeIconPainterIconEngine.h"

#include <QPainter>
#include <QPixmap>

QtAwesomeIconPainterIconEngine::QtAwesomeIconPainterIconEngine(QtAwesome* awesome, QtAwesomeIconPainter* painter,
                                                               const IconOptions& options)
    : m_awesome(awesome)
    , m_painter(painter)
    , m_options(options)
{
}

void QtAwesomeIconPainterIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state)
{
    m_painter->paintIcon(m_awesome, painter, rect, mode, state, m_options);
}

QPixmap QtAwesomeIconPainterIconEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
    }

    const bool flipHorizontal = m_options.value(OptionFlipHorizontal).toBool();
    const bool flipVertical = m_options.value(OptionFlipVertical).toBool();
    if (flipHorizontal || flipVertical)
        return QPixmap::fromImage(pixmap.toImage().mirrored(flipHorizontal, flipVertical));
    return pixmap;
}

QIconEngine* QtAwesomeIconPainterIconEngine::clone() const
{
    return new QtAwesomeIconPainterIconEngine(m_awesome, m_painter, m_options);
}
