#include "Utf.h"

namespace quillet {

bool decodeUtf8(const std::string& text, DecodedText& out)
{
    out.chars.clear();
    out.utf16Offsets.clear();
    out.chars.reserve(text.size());
    out.utf16Offsets.reserve(text.size() + 1);
    int utf16 = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        char32_t c = *p;
        int extra = 0;
        char32_t min = 0;
        if (c < 0x80) {
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            c &= 0x1F;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            c &= 0x0F;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            c &= 0x07;
            min = 0x10000;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (p[i] & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        out.chars.push_back(c);
        out.utf16Offsets.push_back(utf16);
        utf16 += c >= 0x10000 ? 2 : 1;
        p += extra + 1;
    }
    out.utf16Offsets.push_back(utf16);
    return true;
}

bool isValidUtf8(const std::string& text)
{
    DecodedText decoded;
    return decodeUtf8(text, decoded);
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

std::string encodeUtf8(char32_t c)
{
    std::string out;
    appendUtf8(out, c);
    return out;
}

std::string encodeUtf8(const std::u32string& text)
{
    std::string out;
    out.reserve(text.size() * 3);
    for (char32_t c : text)
        out += encodeUtf8(c);
    return out;
}

std::u32string toU32(const std::string& utf8)
{
    DecodedText decoded;
    if (!decodeUtf8(utf8, decoded))
        return {};
    return decoded.chars;
}

bool isHan(char32_t c)
{
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x20000 && c <= 0x3134F) ||
           (c >= 0xF900 && c <= 0xFAFF);
}

} // namespace quillet
