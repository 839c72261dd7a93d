#pragma once

#include "Lexicon.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quillet {

// Error-type bits of a finding, as the client reads them.
enum ErrorType : int {
    ErrorHomophone = 0x01,
    ErrorLoneChar = 0x02,
    ErrorSensitive = 0x04,
    ErrorShape = 0x08,
    ErrorNearSound = 0x10,
    ErrorCollocation = 0x20,
};

// One finding of a piece: the wrong text, where it stands (inclusive UTF-16
// offsets) and what to write instead.
struct Finding
{
    std::string text;
    int type = 0;
    std::vector<std::pair<int, int>> spans;
    std::vector<std::pair<std::string, int>> suggestions; // text, count (-1: none)
};

// The operator's sensitive words: a word and an optional replacement.
struct SensitiveWord
{
    std::u32string word;
    std::u32string replacement;
};

class SensitiveList
{
public:
    // Reads a list file: one word a line, optionally "word<TAB>replacement";
    // blank lines and lines starting with "#" are skipped. False when the file
    // cannot be read.
    bool load(const std::string& path);
    void add(const std::u32string& word, const std::u32string& replacement = std::u32string());
    bool empty() const { return m_words.empty(); }
    // Every occurrence in text: (start index, list entry).
    std::vector<std::pair<size_t, const SensitiveWord*>> find(const std::u32string& text) const;

private:
    std::vector<SensitiveWord> m_words;
    std::unordered_map<char32_t, std::vector<size_t>> m_byFirst; // entries by first character
};

// Finds suspected errors in one piece of text. Stateless apart from the shared
// read-only lexicon, so one Checker may serve several threads.
class Checker
{
public:
    struct Options
    {
        bool homophone = true;   // homophones, similar sounds and lone characters
        bool shape = false;      // similar-looking characters
        bool sensitive = false;  // the operator's sensitive words
        bool collocation = false;
    };

    explicit Checker(const Lexicon& lexicon);

    // Checks text (UTF-8; invalid input gives no findings). userWords are never
    // reported: a finding that overlaps one of them is dropped.
    std::vector<Finding> check(const std::string& text, const Options& options,
                               const SensitiveList* sensitive = nullptr,
                               const std::vector<std::u32string>& userWords = {}) const;

    // A best segmentation of a run of Han characters (word lengths, in order).
    std::vector<size_t> segment(const std::u32string& run) const;

    // Thresholds; see Checker.cpp for how they are used.
    static constexpr double kMinGain = 5.0;
    static constexpr double kMinGainShape = 7.0;
    static constexpr double kMinGainVariant = 3.0;

private:
    struct Candidate;
    double bestScore(const char32_t* s, size_t n) const;
    bool isToken(const std::u32string& text, size_t start, size_t length) const;
    double wordScore(const char32_t* s, size_t n) const;
    void findReplacements(const std::u32string& run, size_t runStart, const Options& options,
                          std::vector<Candidate>& out) const;

    const Lexicon& m_lexicon;
};

} // namespace quillet
