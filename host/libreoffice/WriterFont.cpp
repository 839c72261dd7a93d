#include "WriterFont.h"
#include "UnoSupport.h"

#include <com/sun/star/awt/FontUnderline.hpp>
#include <com/sun/star/beans/XMultiPropertySet.hpp>

using namespace css;
using css::uno::Reference;

namespace office {

namespace {

// Writer's FontUnderline constants and Word's underline styles that look the
// same. Writer styles without a Word twin (and the second of two Writer
// styles sharing one) read as kPrivateBase + the Writer value.
constexpr int kPrivateBase = 1000;
struct UnderlinePair
{
    sal_Int16 writer;
    int word;
};
constexpr UnderlinePair kUnderlines[] = {
    {awt::FontUnderline::NONE, 0},
    {awt::FontUnderline::SINGLE, 1},
    {awt::FontUnderline::DOUBLE, 3},
    {awt::FontUnderline::DOTTED, 4},
    {awt::FontUnderline::BOLD, 6},
    {awt::FontUnderline::DASH, 7},
    {awt::FontUnderline::DASHDOT, 9},
    {awt::FontUnderline::DASHDOTDOT, 10},
    {awt::FontUnderline::WAVE, 11},
    {awt::FontUnderline::BOLDDOTTED, 20},
    {awt::FontUnderline::BOLDDASH, 23},
    {awt::FontUnderline::BOLDDASHDOT, 25},
    {awt::FontUnderline::BOLDDASHDOTDOT, 26},
    {awt::FontUnderline::BOLDWAVE, automation::UnderlineWavyHeavy},
    {awt::FontUnderline::LONGDASH, 39},
    {awt::FontUnderline::DOUBLEWAVE, 43},
    {awt::FontUnderline::BOLDLONGDASH, 55},
};

constexpr char kUnderline[] = "CharUnderline";
constexpr char kUnderlineColor[] = "CharUnderlineColor";
constexpr char kUnderlineHasColor[] = "CharUnderlineHasColor";

} // namespace

int underlineToWord(sal_Int16 fontUnderline)
{
    for (const UnderlinePair& pair : kUnderlines) {
        if (pair.writer == fontUnderline)
            return pair.word;
    }
    return kPrivateBase + fontUnderline;
}

sal_Int16 underlineFromWord(int underline)
{
    for (const UnderlinePair& pair : kUnderlines) {
        if (pair.word == underline)
            return pair.writer;
    }
    if (underline >= kPrivateBase && underline < kPrivateBase + 0x7fff)
        return sal_Int16(underline - kPrivateBase);
    return awt::FontUnderline::SINGLE; // any other Word style: the plain line
}

int colorToWord(sal_Int32 rgb)
{
    if (rgb < 0)
        return automation::ColorAutomatic;
    return ((rgb & 0xff) << 16) | (rgb & 0xff00) | ((rgb >> 16) & 0xff);
}

sal_Int32 colorFromWord(int bgr)
{
    if (bgr == automation::ColorAutomatic || bgr < 0)
        return -1;
    return ((bgr & 0xff) << 16) | (bgr & 0xff00) | ((bgr >> 16) & 0xff);
}

uno::Sequence<beans::PropertyValue> fontProperties(const automation::Font& font)
{
    std::vector<beans::PropertyValue> values;
    auto add = [&](const char* name, const uno::Any& value) {
        beans::PropertyValue property;
        property.Name = rtl::OUString::createFromAscii(name);
        property.Value = value;
        values.push_back(property);
    };
    if (font.underline != automation::Undefined)
        add(kUnderline, uno::Any(underlineFromWord(font.underline)));
    if (font.underlineColor != automation::Undefined) {
        const sal_Int32 rgb = colorFromWord(font.underlineColor);
        add(kUnderlineColor, uno::Any(rgb));
        add(kUnderlineHasColor, uno::Any(rgb >= 0));
    }
    return uno::Sequence<beans::PropertyValue>(values.data(), sal_Int32(values.size()));
}

std::optional<automation::Font> readFont(const RangeProperties& ranges)
{
    if (ranges.empty())
        return std::nullopt;
    uno::Sequence<rtl::OUString> names(3);
    names[0] = rtl::OUString::createFromAscii(kUnderline);
    names[1] = rtl::OUString::createFromAscii(kUnderlineColor);
    names[2] = rtl::OUString::createFromAscii(kUnderlineHasColor);

    std::optional<automation::Font> result;
    for (const auto& range : ranges) {
        if (!range.is())
            return std::nullopt;
        const std::optional<automation::Font> font =
            guarded<std::optional<automation::Font>>("reading formatting", std::nullopt, [&] {
                // A property that differs over the range reads as void.
                const uno::Sequence<uno::Any> values = range->getPropertyValues(names);
                automation::Font read;
                sal_Int16 underline = 0;
                if (!(values[0] >>= underline))
                    read.underline = automation::Undefined;
                else
                    read.underline = underlineToWord(underline);
                sal_Int32 color = -1;
                bool hasColor = false;
                if (!(values[1] >>= color) || !(values[2] >>= hasColor))
                    read.underlineColor = automation::Undefined;
                else
                    read.underlineColor = hasColor ? colorToWord(color) : automation::ColorAutomatic;
                return std::optional<automation::Font>(read);
            });
        if (!font)
            return std::nullopt;
        if (!result) {
            result = font;
            continue;
        }
        if (result->underline != font->underline)
            result->underline = automation::Undefined;
        if (result->underlineColor != font->underlineColor)
            result->underlineColor = automation::Undefined;
    }
    return result;
}

bool writeFont(const RangeProperties& ranges, const automation::Font& font)
{
    const uno::Sequence<beans::PropertyValue> values = fontProperties(font);
    if (!values.hasElements())
        return true;
    uno::Sequence<rtl::OUString> names(values.getLength());
    uno::Sequence<uno::Any> anys(values.getLength());
    for (sal_Int32 i = 0; i < values.getLength(); ++i) {
        names[i] = values[i].Name;
        anys[i] = values[i].Value;
    }
    bool ok = true;
    for (const auto& range : ranges) {
        if (!range.is()) {
            ok = false;
            continue;
        }
        ok = guarded("writing formatting", false,
                     [&] {
                         range->setPropertyValues(names, anys);
                         return true;
                     }) &&
             ok;
    }
    return ok;
}

} // namespace office
