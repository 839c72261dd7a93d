// libFuzzer target: the checker on random Unicode text through its public API.
// The input picks the options and is turned into text drawn mostly from Han
// characters, punctuation and characters outside the BMP; every finding must
// name a non-empty span inside the text.
#include "Checker.h"
#include "LanguageModel.h"
#include "Lexicon.h"
#include "Utf.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

std::unique_ptr<quillet::Lexicon> g_lexicon;
std::unique_ptr<quillet::LanguageModel> g_model;
std::unique_ptr<quillet::Checker> g_checker;
quillet::SensitiveList g_sensitive;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// A code point from two input bytes: most land on common Han characters, the
// rest on punctuation, Latin letters and digits, and the supplementary planes.
char32_t pick(uint8_t kind, uint8_t value)
{
    const uint32_t v = uint32_t(kind) << 8 | value;
    static const char32_t cnMarks[] = U"，。、；：？！“”‘’（）《》…—·";
    static const char32_t enMarks[] = U" ,.;:?!\"'()-abcXYZ019\n";
    switch (kind % 8) {
    case 0:
    case 1:
    case 2:
        return 0x4E00 + v % 0x5200; // CJK unified ideographs
    case 3:
        return cnMarks[value % (sizeof cnMarks / sizeof *cnMarks - 1)];
    case 4:
        return enMarks[value % (sizeof enMarks / sizeof *enMarks - 1)];
    case 5:
        return 0x20000 + v % 0xA6E0; // extension B
    case 6:
        return 0x3000 + value % 0x40; // CJK symbols and punctuation
    default: {
        const char32_t c = 0x80 + v % 0xFF80; // anywhere in the BMP but the surrogates
        return c >= 0xD800 && c <= 0xDFFF ? c + 0x800 : c;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* path = std::getenv("QUILLET_LEXICON");
    g_lexicon = std::make_unique<quillet::Lexicon>();
    std::string error;
    if (!g_lexicon->load(path && *path ? path : QUILLET_LEXICON_PATH, &error)) {
        std::fprintf(stderr, "FuzzChecker: %s\n", error.c_str());
        std::abort();
    }
    g_model = std::make_unique<quillet::LanguageModel>();
    if (!g_model->load(quillet::LanguageModel::kDefaultFolder, &error)) {
        std::fprintf(stderr, "FuzzChecker: %s\n", error.c_str());
        std::abort();
    }
    g_checker = std::make_unique<quillet::Checker>(*g_lexicon, *g_model);
    g_sensitive.add(U"敏感词", U"替代");
    g_sensitive.add(U"𠀀𠀁");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t flags = data[0];
    quillet::Checker::Options options;
    options.homophone = flags & 1;
    options.shape = flags & 2;
    options.sensitive = flags & 4;
    options.collocation = flags & 8;

    std::string text;
    if (flags & 16) {
        text.assign(reinterpret_cast<const char*>(data + 1), size - 1); // as sent, possibly invalid UTF-8
    } else {
        std::u32string chars;
        for (size_t i = 1; i + 1 < size; i += 2)
            chars += pick(data[i], data[i + 1]);
        text = quillet::encodeUtf8(chars);
    }
    std::vector<std::u32string> userWords;
    if (flags & 32) {
        const std::u32string chars = quillet::toU32(text);
        if (chars.size() >= 4)
            userWords.push_back(chars.substr(chars.size() / 2, 2));
    }

    quillet::DecodedText decoded;
    const bool valid = quillet::decodeUtf8(text, decoded);
    const int length = valid ? decoded.utf16Offsets.back() : 0;
    for (const quillet::Finding& finding : g_checker->check(text, options, &g_sensitive, userWords)) {
        require(valid && !finding.text.empty() && !finding.spans.empty());
        require(quillet::isValidUtf8(finding.text));
        for (const auto& [start, end] : finding.spans)
            require(0 <= start && start <= end && end < length);
        for (const auto& suggestion : finding.suggestions)
            require(quillet::isValidUtf8(suggestion.first));
    }
    return 0;
}
