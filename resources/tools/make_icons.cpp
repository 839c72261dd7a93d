// Draws the program's images at build time: the product icon (icon128.png) and
// the toolbar icons (*.ico), each a coloured glyph of the FontAwesome icon font.
// Every .ico holds the sizes 16, 20, 24, 32, 40 and 48 so that small and large
// buttons get a sharp image.
//
// usage: make_icons <fontawesome.ttf> <output folder>   (QT_QPA_PLATFORM=offscreen)

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cstdio>
#include <vector>

namespace {

struct IconEntry
{
    const char* file;
    int codePoint;
    QRgb color;
};

// Glyphs and colours of the toolbar icons: blue for checking and web pages,
// red for removal, green for steps and sign-in, grey for the folding arrows.
const IconEntry kIcons[] = {
    {"CheckCurrentPage", 0xf0f6, 0xff1e88e5}, // file-text-o
    {"CheckAll", 0xf0c5, 0xff3949ab},         // files-o
    {"RemoveAll", 0xf12d, 0xffe53935},        // eraser
    {"Previous", 0xf137, 0xff00897b},         // chevron-circle-left
    {"Next", 0xf138, 0xff00897b},             // chevron-circle-right
    {"Previous2", 0xf053, 0xff757575},        // chevron-left
    {"Next2", 0xf054, 0xff757575},            // chevron-right
    {"Setting", 0xf013, 0xff616161},          // cog
    {"User", 0xf2bd, 0xfffb8c00},             // user-circle
    {"Login", 0xf090, 0xff43a047},            // sign-in
    {"Contact", 0xf0e0, 0xff1e88e5},          // envelope
    {"Update", 0xf021, 0xff43a047},           // refresh
    {"Web", 0xf0ac, 0xff1e88e5},              // globe
    {"Info", 0xf05a, 0xff1e88e5},             // info-circle
    {"Pin", 0xf08d, 0xffe53935},              // thumb-tack
};

const int kIcoSizes[] = {16, 20, 24, 32, 40, 48};

QImage drawGlyph(const QString& family, int codePoint, QColor color, int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    QFont font(family);
    font.setPixelSize(qRound(size * 0.875));
    font.setHintingPreference(QFont::PreferFullHinting);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QString(QChar(codePoint)));
    return image;
}

// The product icon: a white pencil on a rounded blue square with a soft gradient.
QImage drawProductIcon(const QString& family, int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    const QRectF square(size * 0.04, size * 0.04, size * 0.92, size * 0.92);
    QLinearGradient gradient(square.topLeft(), square.bottomRight());
    gradient.setColorAt(0, QColor(0x42, 0x8b, 0xe8));
    gradient.setColorAt(1, QColor(0x15, 0x4f, 0xb0));
    QPainterPath path;
    path.addRoundedRect(square, size * 0.2, size * 0.2);
    painter.fillPath(path, gradient);

    QFont font(family);
    font.setPixelSize(qRound(size * 0.58));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(square, Qt::AlignCenter, QString(QChar(0xf040))); // pencil
    // A red wavy underline beneath the pencil, like the marks in the document.
    QPainterPath wave;
    const qreal y = size * 0.80;
    const qreal left = size * 0.26;
    const qreal step = size * 0.06;
    wave.moveTo(left, y);
    for (int i = 0; i < 8; ++i)
        wave.quadTo(left + step * (i + 0.5), y + ((i % 2) ? step * 0.6 : -step * 0.6), left + step * (i + 1), y);
    painter.setPen(QPen(QColor(0xff, 0x6b, 0x5e), size * 0.035, Qt::SolidLine, Qt::RoundCap));
    painter.drawPath(wave);
    return image;
}

// One 32-bit DIB entry of an .ico: the image bottom-up in BGRA, then the 1-bit
// AND mask (all zero: the alpha channel decides).
QByteArray dibEntry(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int size = image.width();
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint32(40) << qint32(size) << qint32(size * 2) << quint16(1) << quint16(32) << quint32(0);
    const int maskStride = ((size + 31) / 32) * 4;
    out << quint32(size * size * 4 + maskStride * size) << qint32(0) << qint32(0) << quint32(0) << quint32(0);
    for (int y = size - 1; y >= 0; --y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < size; ++x)
            out << quint8(qBlue(line[x])) << quint8(qGreen(line[x])) << quint8(qRed(line[x]))
                << quint8(qAlpha(line[x]));
    }
    data.append(QByteArray(maskStride * size, '\0'));
    return data;
}

bool writeIco(const QString& path, const std::vector<QImage>& images)
{
    std::vector<QByteArray> entries;
    for (const QImage& image : images)
        entries.push_back(dibEntry(image));

    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(images.size());
    quint32 offset = 6 + 16 * quint32(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        const int size = images[i].width();
        out << quint8(size >= 256 ? 0 : size) << quint8(size >= 256 ? 0 : size) << quint8(0) << quint8(0) << quint16(1)
            << quint16(32) << quint32(entries[i].size()) << offset;
        offset += entries[i].size();
    }
    for (const QByteArray& entry : entries)
        data.append(entry);

    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_icons <fontawesome.ttf> <output folder>\n");
        return 2;
    }
    const int fontId = QFontDatabase::addApplicationFont(QString::fromLocal8Bit(argv[1]));
    const QStringList families = QFontDatabase::applicationFontFamilies(fontId);
    if (families.isEmpty()) {
        std::fprintf(stderr, "make_icons: cannot load the font %s\n", argv[1]);
        return 1;
    }
    const QString family = families.first();
    QDir out(QString::fromLocal8Bit(argv[2]));
    if (!out.mkpath(QStringLiteral("icon")) || !out.mkpath(QStringLiteral("images"))) {
        std::fprintf(stderr, "make_icons: cannot create the output folders\n");
        return 1;
    }

    for (const IconEntry& entry : kIcons) {
        std::vector<QImage> images;
        for (int size : kIcoSizes)
            images.push_back(drawGlyph(family, entry.codePoint, QColor::fromRgba(entry.color), size));
        const QString path = out.filePath(QStringLiteral("icon/%1.ico").arg(QLatin1String(entry.file)));
        if (!writeIco(path, images)) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }

    const QString productPath = out.filePath(QStringLiteral("images/icon128.png"));
    if (!drawProductIcon(family, 128).save(productPath, "PNG")) {
        std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(productPath));
        return 1;
    }
    return 0;
}
