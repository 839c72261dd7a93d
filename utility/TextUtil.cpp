#include "utility/TextUtil.h"
#include "utility/ModulePath.h"

#include <QFileInfo>
#include <QString>

bool IsCNPunctuation(char32_t c)
{
    if (c >= 0x3001 && c <= 0x303F) // CJK symbols and punctuation, without the ideographic space
        return true;
    if ((c >= 0xFF01 && c <= 0xFF0F) || (c >= 0xFF1A && c <= 0xFF20) || (c >= 0xFF3B && c <= 0xFF40) ||
        (c >= 0xFF5B && c <= 0xFF65)) // full-width forms of the ASCII marks, half-width CJK marks
        return true;
    if (c >= 0xFE10 && c <= 0xFE19) // vertical forms
        return true;
    if (c >= 0xFE30 && c <= 0xFE6B) // CJK compatibility and small forms
        return true;
    switch (c) {
    case 0x00B7: // ·
    case 0x2013: // –
    case 0x2014: // —
    case 0x2015: // ―
    case 0x2018: // ‘
    case 0x2019: // ’
    case 0x201C: // “
    case 0x201D: // ”
    case 0x2026: // …
    case 0x2027: // ‧
        return true;
    default:
        return false;
    }
}

bool IsENPunctuation(char32_t c)
{
    return (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
}

std::wstring GetAppPath(const void* addressInModule)
{
    const QString path = modulePathOf(addressInModule);
    if (path.isEmpty())
        return {};
    return QFileInfo(path).absolutePath().toStdWString();
}

std::wstring ReplaceAllW(std::wstring s, const std::wstring& from, const std::wstring& to)
{
    if (from.empty())
        return s;
    std::wstring::size_type pos = 0;
    while ((pos = s.find(from, pos)) != std::wstring::npos) {
        s.replace(pos, from.size(), to);
        pos += to.size();
    }
    return s;
}
