#include "presentation/QtAwesome.h"
#include "presentation/QtAwesomeCharIconPainter.h"
#include "presentation/QtAwesomeIconPainterIconEngine.h"
#include "presentation/QtAwesomeNames.h"

#include <QFile>
#include <QFontDatabase>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcIconFont, "quillet.presentation.iconfont")

namespace {
// Id of the icon font in the application font database; the font is added at
// most once per process, whatever number of factories are made.
int g_fontId = -1;
} // namespace

QtAwesome::QtAwesome(QObject* parent)
    : QObject(parent)
    , m_charPainter(new QtAwesomeCharIconPainter)
{
    m_defaults.insert(OptionColor, QColor(50, 50, 50));
    m_defaults.insert(OptionColorDisabled, QColor(70, 70, 70, 60));
    m_defaults.insert(OptionColorActive, QColor(10, 10, 10));
    m_defaults.insert(OptionColorSelected, QColor(10, 10, 10));
    m_defaults.insert(OptionScaleFactor, 0.9);
    m_defaults.insert(OptionText, QVariant());
    m_defaults.insert(OptionTextDisabled, QVariant());
    m_defaults.insert(OptionTextActive, QVariant());
    m_defaults.insert(OptionTextSelected, QVariant());
}

QtAwesome::~QtAwesome()
{
    delete m_charPainter;
    qDeleteAll(m_painters);
}

bool QtAwesome::loadIconFont()
{
    if (g_fontId < 0) {
        Q_INIT_RESOURCE(scholia_resources_fonts);
        QFile file(QStringLiteral(":/fonts/fontawesome-4.7.0.ttf"));
        if (!file.open(QIODevice::ReadOnly)) {
            qCDebug(lcIconFont) << "Font awesome font could not be loaded!";
            return false;
        }
        const QByteArray fontData = file.readAll();
        file.close();
        g_fontId = QFontDatabase::addApplicationFontFromData(fontData);
    }

    const QStringList families = QFontDatabase::applicationFontFamilies(g_fontId);
    if (families.isEmpty()) {
        qCDebug(lcIconFont) << "Font awesome font is empty?!";
        g_fontId = -1;
        return false;
    }
    m_fontName = families.first();

    for (int i = 0; i < qtAwesomeNameCount; ++i)
        m_namedCodePoints.insert(QString::fromLatin1(qtAwesomeNames[i].name), qtAwesomeNames[i].codePoint);
    return true;
}

IconOptions QtAwesome::mergedOptions(const IconOptions& options) const
{
    IconOptions merged = m_defaults;
    for (auto it = options.cbegin(); it != options.cend(); ++it)
        merged.insert(it.key(), it.value());
    return merged;
}

QIcon QtAwesome::iconFor(int character, const IconOptions& options)
{
    IconOptions merged = mergedOptions(options);
    const auto codePoint = static_cast<char32_t>(character);
    merged.insert(OptionText, QString::fromUcs4(&codePoint, 1));
    return QIcon(new QtAwesomeIconPainterIconEngine(this, m_charPainter, merged));
}

QIcon QtAwesome::iconNamed(const QString& name, const IconOptions& options)
{
    const auto named = m_namedCodePoints.constFind(name);
    if (named != m_namedCodePoints.cend())
        return iconFor(named.value(), options);
    if (QtAwesomeIconPainter* painter = m_painters.value(name))
        return QIcon(new QtAwesomeIconPainterIconEngine(this, painter, mergedOptions(options)));
    return QIcon();
}

QFont QtAwesome::iconFontOfSize(int size) const
{
    QFont font(m_fontName);
    font.setPixelSize(size);
    font.setWeight(QFont::Light);
    return font;
}

void QtAwesome::registerPainter(const QString& name, QtAwesomeIconPainter* painter)
{
    QtAwesomeIconPainter* old = m_painters.value(name);
    if (old == painter)
        return;
    delete old;
    m_painters.insert(name, painter);
}

void QtAwesome::setIconDefault(int option, const QVariant& value)
{
    m_defaults.insert(option, value);
}

QVariant QtAwesome::iconDefault(int option) const
{
    return m_defaults.value(option);
}

QtAwesome* getAwesome()
{
    static QtAwesome* awesome = [] {
        auto* factory = new QtAwesome;
        factory->loadIconFont();
        return factory;
    }();
    return awesome;
}

IconOptions makeIconOptions(const QColor& color, const QColor& disabled, const QColor& active, const QColor& selected)
{
    IconOptions options;
    options.insert(OptionColor, color);
    options.insert(OptionColorDisabled, disabled.isValid() ? disabled : color);
    options.insert(OptionColorActive, active.isValid() ? active : color);
    options.insert(OptionColorSelected, selected.isValid() ? selected : color);
    return options;
}
