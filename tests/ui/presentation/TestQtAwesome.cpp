#include "presentation/QtAwesome.h"
#include "presentation/QtAwesomeCharIconPainter.h"
#include "presentation/QtAwesomeNames.h"

#include <QPainter>
#include <QSet>
#include <QtTest>

namespace {

QImage render(const QIcon& icon, int size, QIcon::Mode mode = QIcon::Normal)
{
    return icon.pixmap(QSize(size, size), mode).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The glyph drawn the plain way: the icon font at a pixel size, centred.
QImage reference(QtAwesome* awesome, int codePoint, int pixelSize, int size, const QColor& color)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setPen(color);
        painter.setFont(awesome->iconFontOfSize(pixelSize));
        painter.drawText(QRectF(0, 0, size, size), QString(QChar(codePoint)), QTextOption(Qt::AlignCenter));
    }
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

int inkedPixels(const QImage& image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qAlpha(image.pixel(x, y)) > 0;
    return n;
}

// Painter registered by name: fills the rectangle with the normal colour.
class FillPainter : public QtAwesomeIconPainter
{
public:
    void paintIcon(QtAwesome*, QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State,
                   const IconOptions& options) override
    {
        painter->fillRect(rect, options.value(OptionColor).value<QColor>());
    }
};

} // namespace

class TestQtAwesome : public QObject
{
    Q_OBJECT
private slots:
    void fontLoadsFromResources();
    void nameTable();
    void namedAndCodePointIconsMatch();
    void glyphSizeFollowsScaleFactor_data();
    void glyphSizeFollowsScaleFactor();
    void modeColours_data();
    void modeColours();
    void makeIconOptionsFillsInvalidColours();
    void givenOptionsWinOverDefaults();
    void flipMirrorsThePixmap();
    void registeredPainterIsUsedByName();
};

void TestQtAwesome::fontLoadsFromResources()
{
    QtAwesome* awesome = getAwesome();
    QVERIFY(awesome);
    QCOMPARE(getAwesome(), awesome);
    QCOMPARE(awesome->fontName(), QStringLiteral("FontAwesome"));
    QVERIFY(inkedPixels(render(awesome->iconFor(0xf00d), 16)) > 0);

    // A second factory does not add the font again but still finds it.
    QtAwesome second;
    QVERIFY(second.loadIconFont());
    QCOMPARE(second.fontName(), awesome->fontName());
    QCOMPARE(second.iconFontOfSize(12).pixelSize(), 12);
    QCOMPARE(second.iconFontOfSize(12).weight(), int(QFont::Light));
}

void TestQtAwesome::nameTable()
{
    QCOMPARE(qtAwesomeNameCount, 786);
    QSet<int> codePoints;
    QSet<QString> names;
    for (int i = 0; i < qtAwesomeNameCount; ++i) {
        codePoints.insert(qtAwesomeNames[i].codePoint);
        names.insert(QString::fromLatin1(qtAwesomeNames[i].name));
        QVERIFY(qtAwesomeNames[i].codePoint >= 0xf000 && qtAwesomeNames[i].codePoint <= 0xf2e0);
        QVERIFY2(!QString::fromLatin1(qtAwesomeNames[i].name).contains(QLatin1Char('-')), qtAwesomeNames[i].name);
    }
    QCOMPARE(codePoints.size(), 675);
    QCOMPARE(names.size(), 786);

    QtAwesome* awesome = getAwesome();
    QCOMPARE(awesome->namedCodePointCount(), 786);
    const QList<QPair<QString, int>> rows{
        {"fa_500px", 0xf26e},  {"fa_linux", 0xf17c},  {"fa_try", 0xf195},           {"addressbook", 0xf2b9},
        {"angledown", 0xf107}, {"angleleft", 0xf104}, {"arrowcircleoleft", 0xf190}, {"arrowcircleoright", 0xf18e},
        {"book", 0xf02d},      {"close", 0xf00d},     {"remove", 0xf00d},           {"times", 0xf00d},
        {"cog", 0xf013},       {"gear", 0xf013},      {"thumbsodown", 0xf088},
    };
    for (const auto& row : rows)
        QCOMPARE(awesome->codePoint(row.first), row.second);
    QCOMPARE(awesome->codePoint(QStringLiteral("500px")), -1);
    QCOMPARE(awesome->codePoint(QStringLiteral("address-book")), -1);
}

void TestQtAwesome::namedAndCodePointIconsMatch()
{
    QtAwesome* awesome = getAwesome();
    const IconOptions grey = makeIconOptions(QColor(100, 100, 100));
    const QImage named = render(awesome->iconNamed(QStringLiteral("times"), grey), 24);
    QCOMPARE(named, render(awesome->iconFor(0xf00d, grey), 24));
    QVERIFY(named != render(awesome->iconFor(0xf00c, grey), 24));
    QVERIFY(awesome->iconNamed(QStringLiteral("Times"), grey).isNull());
    QVERIFY(awesome->iconNamed(QString(), grey).isNull());
}

void TestQtAwesome::glyphSizeFollowsScaleFactor_data()
{
    QTest::addColumn<int>("iconSize");
    QTest::addColumn<int>("pixelSize");
    QTest::newRow("16 → 14 (14.4 rounded)") << 16 << 14;
    QTest::newRow("24 → 22 (21.6 rounded)") << 24 << 22;
    QTest::newRow("5 → 5 (4.5 rounded away from zero)") << 5 << 5;
}

void TestQtAwesome::glyphSizeFollowsScaleFactor()
{
    QFETCH(int, iconSize);
    QFETCH(int, pixelSize);
    QtAwesome* awesome = getAwesome();
    const QColor color(50, 50, 50);
    const QImage icon = render(awesome->iconFor(0xf013), iconSize);
    QCOMPARE(icon, reference(awesome, 0xf013, pixelSize, iconSize, color));
    if (iconSize >= 16) // large enough for neighbouring sizes to differ
        QVERIFY(icon != reference(awesome, 0xf013, pixelSize + 1, iconSize, color));
}

void TestQtAwesome::modeColours_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QColor>("color");
    QTest::newRow("normal") << int(QIcon::Normal) << QColor(50, 50, 50);
    QTest::newRow("disabled") << int(QIcon::Disabled) << QColor(70, 70, 70, 60);
    QTest::newRow("active") << int(QIcon::Active) << QColor(10, 10, 10);
    QTest::newRow("selected") << int(QIcon::Selected) << QColor(10, 10, 10);
}

void TestQtAwesome::modeColours()
{
    QFETCH(int, mode);
    QFETCH(QColor, color);
    // A full square glyph: its middle pixels carry the pen colour unblended.
    const QImage image = render(getAwesome()->iconFor(0xf0c8), 32, QIcon::Mode(mode));
    const QColor middle = image.pixelColor(16, 16);
    QCOMPARE(middle.alpha(), color.alpha());
    QVERIFY2(qAbs(middle.red() - color.red()) <= 2 && qAbs(middle.green() - color.green()) <= 2,
             qPrintable(middle.name(QColor::HexArgb)));
}

void TestQtAwesome::makeIconOptionsFillsInvalidColours()
{
    const QColor grey(100, 100, 100);
    const IconOptions options = makeIconOptions(grey, QColor(), QColor(), QColor());
    for (int key : {OptionColor, OptionColorDisabled, OptionColorActive, OptionColorSelected})
        QCOMPARE(options.value(key).value<QColor>(), grey);

    const IconOptions mixed = makeIconOptions(grey, Qt::red);
    QCOMPARE(mixed.value(OptionColorDisabled).value<QColor>(), QColor(Qt::red));
    QCOMPARE(mixed.value(OptionColorActive).value<QColor>(), grey);

    // A disabled icon made with a replaced key 2 uses that colour.
    const QImage image = render(getAwesome()->iconFor(0xf0c8, mixed), 32, QIcon::Disabled);
    QCOMPARE(image.pixelColor(16, 16), QColor(Qt::red));
}

void TestQtAwesome::givenOptionsWinOverDefaults()
{
    QtAwesome awesome;
    awesome.loadIconFont();
    QCOMPARE(awesome.iconDefault(OptionScaleFactor).toDouble(), 0.9);
    awesome.setIconDefault(OptionColor, QColor(Qt::blue));
    const QIcon before = awesome.iconFor(0xf0c8);
    awesome.setIconDefault(OptionColor, QColor(Qt::green));
    // Icons keep the options they were made with.
    QCOMPARE(render(before, 32).pixelColor(16, 16), QColor(Qt::blue));
    IconOptions red;
    red.insert(OptionColor, QColor(Qt::red));
    QCOMPARE(render(awesome.iconFor(0xf0c8, red), 32).pixelColor(16, 16), QColor(Qt::red));
    QCOMPARE(render(awesome.iconFor(0xf0c8), 32).pixelColor(16, 16), QColor(Qt::green));
}

void TestQtAwesome::flipMirrorsThePixmap()
{
    QtAwesome* awesome = getAwesome();
    IconOptions flip;
    flip.insert(OptionFlipHorizontal, true);
    const QImage plain = render(awesome->iconFor(0xf0a4), 32); // hand-o-right, not symmetric
    const QImage flipped = render(awesome->iconFor(0xf0a4, flip), 32);
    QCOMPARE(flipped, plain.mirrored(true, false));
    QVERIFY(flipped != plain);
}

void TestQtAwesome::registeredPainterIsUsedByName()
{
    QtAwesome awesome;
    awesome.loadIconFont();
    awesome.registerPainter(QStringLiteral("filledbox"), new FillPainter);
    awesome.registerPainter(QStringLiteral("filledbox"), new FillPainter); // replaces and deletes the first
    const QImage image = render(awesome.iconNamed(QStringLiteral("filledbox"), makeIconOptions(Qt::red)), 8);
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::red));
    QCOMPARE(image.pixelColor(7, 7), QColor(Qt::red));
}

QTEST_MAIN(TestQtAwesome)
#include "TestQtAwesome.moc"
