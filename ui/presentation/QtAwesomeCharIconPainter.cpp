#include "presentation/QtAwesomeCharIconPainter.h"
#include "presentation/QtAwesomeAnimation.h"

#include <QPainter>
#include <QPointF>

#include <cmath>

void QtAwesomeCharIconPainter::paintIcon(QtAwesome* awesome, QPainter* painter, const QRect& rect, QIcon::Mode mode,
                                         QIcon::State /*state*/, const IconOptions& options)
{
    painter->save();

    if (auto* animation = options.value(OptionAnimation).value<QtAwesomeAnimation*>())
        animation->applyRotation(painter, rect);

    QColor color = options.value(OptionColor).value<QColor>();
    QString text = options.value(OptionText).toString();
    const auto pick = [&](int colorKey, int textKey) {
        color = options.value(colorKey).value<QColor>();
        const QVariant modeText = options.value(textKey);
        if (modeText.isValid())
            text = modeText.toString();
    };
    switch (mode) {
    case QIcon::Disabled:
        pick(OptionColorDisabled, OptionTextDisabled);
        break;
    case QIcon::Active:
        pick(OptionColorActive, OptionTextActive);
        break;
    case QIcon::Selected:
        pick(OptionColorSelected, OptionTextSelected);
        break;
    case QIcon::Normal:
        break;
    }
    painter->setPen(color);

    const int drawSize = static_cast<int>(std::lround(rect.height() * options.value(OptionScaleFactor).toFloat()));

    const int rotation = options.value(OptionRotation).toInt();
    if (rotation != 0) {
        painter->translate(drawSize / 2.0, drawSize / 2.0);
        painter->rotate(rotation);
        painter->translate(-drawSize / 2.0, -drawSize / 2.0);
    }

    const QPointF offset = options.value(OptionOffset).toPointF();
    if (!offset.isNull())
        painter->translate(offset);

    painter->setFont(awesome->iconFontOfSize(drawSize));
    painter->drawText(QRectF(rect), text, QTextOption(Qt::AlignCenter));

    const int overlayChar = options.value(OptionOverlayChar).toInt();
    if (overlayChar != 0) {
        const QVariant scaleValue = options.value(OptionOverlayScale);
        const float scale = scaleValue.isValid() ? scaleValue.toFloat() : 1.0f;
        painter->setFont(awesome->iconFontOfSize(static_cast<int>(drawSize * scale)));
        QSize scaled = rect.size();
        scaled.scale(static_cast<int>(rect.width() * scale), static_cast<int>(rect.height() * scale),
                     Qt::KeepAspectRatio);
        painter->translate((rect.width() - scaled.width()) / 2, (rect.height() - scaled.height()) / 2);
        const QPointF overlayOffset = options.value(OptionOverlayOffset).toPointF();
        if (!overlayOffset.isNull())
            painter->translate(overlayOffset);
        const auto codePoint = static_cast<char32_t>(overlayChar);
        painter->drawText(QRectF(QPointF(0, 0), QSizeF(scaled)), QString::fromUcs4(&codePoint, 1),
                          QTextOption(Qt::AlignCenter));
    }

    painter->restore();
}
