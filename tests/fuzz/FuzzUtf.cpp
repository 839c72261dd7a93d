// libFuzzer target: the service's UTF-8 decoder and its UTF-16 offsets. Valid
// input re-encodes to itself, the offsets step by one or two UTF-16 units, and
// the validity checks agree with one another.
#include "Utf.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    quillet::DecodedText decoded;
    const bool valid = quillet::decodeUtf8(text, decoded);
    require(valid == quillet::isValidUtf8(text));
    const std::u32string wide = quillet::toU32(text);
    if (!valid) {
        require(wide.empty());
        return 0;
    }
    require(wide == decoded.chars);
    require(quillet::encodeUtf8(decoded.chars) == text);
    require(decoded.utf16Offsets.size() == decoded.chars.size() + 1);
    require(decoded.utf16Offsets.front() == 0);
    for (size_t i = 0; i < decoded.chars.size(); ++i) {
        const char32_t c = decoded.chars[i];
        require(c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF));
        require(decoded.utf16End(i) - decoded.utf16Start(i) + 1 == (c > 0xFFFF ? 2 : 1));
        (void)quillet::isHan(c);
    }
    return 0;
}
