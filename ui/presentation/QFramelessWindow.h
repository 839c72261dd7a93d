#pragma once

#include "ScholiaGlobal.h"

#include <QPoint>
#include <QRect>
#include <QWidget>

// A window without a system frame that still behaves like a framed one: drag
// it with the left button to move it, drag the 5-pixel band along its edges and
// corners to resize it (with the matching cursors), and it always stays inside
// the usable area of the primary screen. Subclasses choose the window flags and
// call setAllMouseTracking() once their child widgets exist.
class SCHOLIA_EXPORT QFramelessWindow : public QWidget
{
    Q_OBJECT
public:
    // Where the pointer is in the border band, or which edge is being dragged.
    enum ResizeRegion {
        RegionNone = 0,
        RegionTop = 1,
        RegionTopRight = 2,
        RegionRight = 3,
        RegionBottomRight = 4,
        RegionBottom = 5,
        RegionBottomLeft = 6,
        RegionLeft = 7,
        RegionTopLeft = 8,
    };

    explicit QFramelessWindow(QWidget* parent = nullptr);

    // Turns mouse tracking on for the window and every widget below it, so the
    // resize cursor follows the pointer over child widgets too.
    void setAllMouseTracking();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

    // Region of a point of the border band (window coordinates).
    ResizeRegion getResizeRegion(QPoint pos) const;
    void setResizeCursor(ResizeRegion region);
    // Resizes from the size at the press by the pointer's travel since then.
    void handleResize();
    void handleMove(QPoint globalPos);

private:
    int m_borderWidth;
    bool m_pressed;
    bool m_moving;
    QPoint m_pressPos;
    QPoint m_pressGlobalPos;
    ResizeRegion m_region;
    QRect m_pressRect;
};
