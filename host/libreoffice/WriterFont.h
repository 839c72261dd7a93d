#pragma once

#include "automation/Automation.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XMultiPropertySet.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/uno/Sequence.hxx>

#include <optional>
#include <vector>

// Character formatting between the automation interface (Word's underline
// styles, colours as 0x00BBGGRR) and Writer's character properties
// (FontUnderline constants, colours as 0xRRGGBB, CharUnderlineHasColor).
// The mark, Word's wavy heavy underline in colour 496, is Writer's BOLDWAVE in
// 0xF00100. Every Writer underline reads as a distinct value and writes back
// as itself, so formatting read and written again comes back exactly.
namespace office {

int underlineToWord(sal_Int16 fontUnderline);
sal_Int16 underlineFromWord(int underline);
int colorToWord(sal_Int32 rgb);
sal_Int32 colorFromWord(int bgr);

// The property values that give font (properties at Undefined are left out),
// sorted by name as XMultiPropertySet wants them.
css::uno::Sequence<css::beans::PropertyValue> fontProperties(const automation::Font& font);

// The formatting of the text under each range (given by its properties),
// combined: a property that differs between or within them reads Undefined.
// nullopt when a range cannot be read.
using RangeProperties = std::vector<css::uno::Reference<css::beans::XMultiPropertySet>>;
std::optional<automation::Font> readFont(const RangeProperties& ranges);
// Sets font on each range; false when one of them fails.
bool writeFont(const RangeProperties& ranges, const automation::Font& font);

} // namespace office
