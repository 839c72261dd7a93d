#pragma once

#include <string>
#include <vector>

namespace quillet {

// A text decoded from UTF-8: its code points and, for each code point, the
// UTF-16 offset at which it starts (the client counts in UTF-16 code units, a
// character outside the BMP taking two).
struct DecodedText
{
    std::u32string chars;
    std::vector<int> utf16Offsets; // one per char, plus the total length at the end

    int utf16Start(size_t index) const { return utf16Offsets[index]; }
    // Inclusive UTF-16 end offset of the char at index.
    int utf16End(size_t index) const { return utf16Offsets[index + 1] - 1; }
};

// Decodes strict UTF-8 (no overlongs, surrogates or values above U+10FFFF).
// Returns false on invalid input and leaves out unspecified.
bool decodeUtf8(const std::string& text, DecodedText& out);
bool isValidUtf8(const std::string& text);

// Appends c to out as UTF-8 (no allocation when out has room).
void appendUtf8(std::string& out, char32_t c);
std::string encodeUtf8(char32_t c);
std::string encodeUtf8(const std::u32string& text);
std::u32string toU32(const std::string& utf8); // invalid input gives an empty string

// CJK unified ideographs (with extension A, B and later, and compatibility ideographs).
bool isHan(char32_t c);

} // namespace quillet
