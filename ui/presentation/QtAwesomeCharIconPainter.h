#pragma once

#include "presentation/QtAwesome.h"

// Paints the option text (one glyph) in the icon font, centred, in the colour
// and text of the icon's mode, with the optional rotation, offset, overlay and
// animation of the options.
class SCHOLIA_EXPORT QtAwesomeCharIconPainter : public QtAwesomeIconPainter
{
public:
    void paintIcon(QtAwesome* awesome, QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state,
                   const IconOptions& options) override;
};
