#pragma once

#include "ScholiaGlobal.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QIcon>
#include <QMap>
#include <QObject>
#include <QVariant>

class QPainter;
class QtAwesome;
class QtAwesomeCharIconPainter;

// How an icon-font glyph is painted: option key → value.
using IconOptions = QMap<int, QVariant>;

enum IconOption {
    OptionColor = 1,           // QColor, normal mode
    OptionColorDisabled = 2,   // QColor, disabled mode
    OptionColorActive = 3,     // QColor, active mode
    OptionColorSelected = 4,   // QColor, selected mode
    OptionScaleFactor = 5,     // double, glyph pixel size / icon height
    OptionText = 6,            // QString drawn in the normal mode
    OptionTextDisabled = 7,    // QString replacing it in the disabled mode
    OptionTextActive = 8,      // ... in the active mode
    OptionTextSelected = 9,    // ... in the selected mode
    OptionAnimation = 10,      // QtAwesomeAnimation* rotating the glyph
    OptionRotation = 11,       // int degrees
    OptionOffset = 12,         // QPointF shift in pixels
    OptionOverlayChar = 13,    // int code point drawn over the glyph
    OptionOverlayScale = 14,   // float, overlay size relative to the icon
    OptionOverlayOffset = 15,  // QPointF shift of the overlay
    OptionFlipHorizontal = 16, // bool
    OptionFlipVertical = 17,   // bool
};

// Paints an icon into a rectangle for one mode and state.
class SCHOLIA_EXPORT QtAwesomeIconPainter
{
public:
    virtual ~QtAwesomeIconPainter() = default;
    virtual void paintIcon(QtAwesome* awesome, QPainter* painter, const QRect& rect, QIcon::Mode mode,
                           QIcon::State state, const IconOptions& options) = 0;
};

// The icon factory: loads the FontAwesome 4.7.0 font from the resources
// (":/fonts/fontawesome-4.7.0.ttf") and makes QIcons whose pixmaps are painted
// on demand with one of its glyphs. Icons refer to the factory and its painter,
// so they must not outlive it; the process-wide factory (getAwesome()) never dies.
class SCHOLIA_EXPORT QtAwesome : public QObject
{
    Q_OBJECT
public:
    explicit QtAwesome(QObject* parent = nullptr);
    ~QtAwesome() override;

    // Adds the font to the application font database (once per process) and
    // fills the name table. False when the font cannot be read or is empty;
    // icons are still made then, in whatever font the platform substitutes.
    bool loadIconFont();

    // Icon of a code point; options override the factory defaults per key.
    QIcon iconFor(int character, const IconOptions& options = IconOptions());
    // Icon of a table name (exact, case-sensitive) or a registered painter; null otherwise.
    QIcon iconNamed(const QString& name, const IconOptions& options = IconOptions());
    // The icon font at a pixel size, light weight.
    QFont iconFontOfSize(int size) const;

    // Takes ownership; a painter already registered under the name is deleted.
    void registerPainter(const QString& name, QtAwesomeIconPainter* painter);

    void setIconDefault(int option, const QVariant& value);
    QVariant iconDefault(int option) const;

    QString fontName() const { return m_fontName; }
    // Code point of a name, -1 when unknown.
    int codePoint(const QString& name) const { return m_namedCodePoints.value(name, -1); }
    int namedCodePointCount() const { return m_namedCodePoints.size(); }

private:
    IconOptions mergedOptions(const IconOptions& options) const;

    QString m_fontName;
    QHash<QString, int> m_namedCodePoints;
    QHash<QString, QtAwesomeIconPainter*> m_painters;
    IconOptions m_defaults;
    QtAwesomeCharIconPainter* m_charPainter;
};

// The process-wide icon factory, created (and its font loaded) on first call.
SCHOLIA_EXPORT QtAwesome* getAwesome();

// Options with a colour for the normal mode and one for each of the disabled,
// active and selected modes; an invalid mode colour is replaced by the first.
SCHOLIA_EXPORT IconOptions makeIconOptions(const QColor& color, const QColor& disabled = QColor(),
                                           const QColor& active = QColor(), const QColor& selected = QColor());
