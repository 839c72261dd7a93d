#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>

// Colours of the error list's title bars and suggestion rows. They are painted
// or set through the palette rather than with style sheets: a style sheet on
// every group and row makes filling a long list several times slower.
namespace ListColors {

inline const QColor titleNormal{230, 230, 230};
inline const QColor titleHover{210, 210, 210};
inline const QColor titlePressed{190, 190, 190};
inline const QColor rowNormal{255, 255, 255};
inline const QColor rowHover{240, 240, 240};
inline const QColor rowPressed{210, 210, 210};
inline const QColor rowLine{182, 182, 182};

// Fills the widget's background with the colour.
inline void setBackground(QWidget* widget, const QColor& color)
{
    QPalette palette = widget->palette();
    if (palette.color(QPalette::Window) == color && widget->autoFillBackground())
        return;
    palette.setColor(QPalette::All, QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace ListColors
