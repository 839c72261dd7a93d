#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace quillet {

// Ways in which one character can be mistaken for another.
enum Confusion : int {
    ConfusionNone = 0,
    ConfusionHomophone = 1, // a reading in common (tones ignored)
    ConfusionNearSound = 2, // readings equal after folding zh/z, ch/c, sh/s, n/l, -ng/-n
    ConfusionShape = 4,     // same phonetic with total stroke counts at most two apart, or
                            // Cangjie codes one edit apart, or same radical with residual
                            // stroke counts at most one apart and Cangjie codes two edits apart
};

// The checker's lexical data: words with frequencies and tags, and per
// character its readings and radical-stroke position. Loaded once from the
// file that gen_lexicon.py writes at build time; read-only afterwards and safe
// to share between threads.
class Lexicon
{
public:
    struct Candidate
    {
        char32_t c;    // the character that fills the open position
        uint32_t freq; // frequency of the whole word
    };
    struct CharInfo
    {
        std::vector<uint16_t> syllables; // ids into syllable names
        std::vector<uint16_t> folded;    // ids of the folded syllables
        std::vector<uint16_t> phonetic;  // phonetic classes (Casey's numbers)
        uint16_t radical = 0;
        uint16_t residual = 0;
        uint16_t strokes = 0;     // total strokes, 0 when unknown
        std::u32string variants;  // other forms of the same character
        std::string cangjie;      // Cangjie code: its shape as components
        bool traditional = false; // the traditional form of another character
        // For a common character: the common characters it can be confused
        // with and how (Confusion bits), by code point.
        std::vector<std::pair<char32_t, uint8_t>> confusable;
        bool common = false;
    };
    // A character writers put in place of another, and how often that was seen.
    struct Learnt
    {
        char32_t c; // the character meant
        uint32_t count;
        double channel; // -ln of the share of c's uses that came out as the wrong one
    };

    Lexicon();
    ~Lexicon();
    Lexicon(const Lexicon&) = delete;
    Lexicon& operator=(const Lexicon&) = delete;

    // Loads the lexicon file; false with a reason in error when it is missing or
    // malformed.
    bool load(const std::string& path, std::string* error);
    // Adds a word (used by tests to build small lexicons without a file).
    void addWord(const std::u32string& word, uint32_t freq, const std::string& tag);
    void addChar(char32_t c, const std::vector<std::string>& readings, int radical, int residual, bool common,
                 const std::vector<int>& phonetic = {}, int strokes = 0, const std::u32string& variants = {},
                 const std::string& cangjie = {}, bool traditional = false);
    // Where a word without a frequency of its own comes from.
    enum Listing : uint32_t {
        NotListed = 0,
        ListedElsewhere = 0xFFFFFFF0u, // another word list (friso's, rime's)
        ListedByUs = 0xFFFFFFF1u,      // the project's own list of specialist words
    };
    // Adds a word that other word lists know (specialist words among them):
    // it carries no frequency, only the fact that it is a word.
    void addKnownWord(const std::u32string& word, Listing listing = ListedElsewhere);
    // Records that wrong was written where right was meant, count times out of
    // the meant times right was meant.
    void addLearnt(char32_t wrong, char32_t right, uint32_t count, uint32_t meant);
    // Builds the candidate index; call once after the last addWord().
    void finish();

    size_t wordCount() const { return m_wordCount; }
    double logTotal() const { return m_logTotal; }
    // Frequency of the word s[0..n), 0 when it is not a word.
    uint32_t frequency(const char32_t* s, size_t n) const;
    uint32_t frequency(const std::u32string& s) const { return frequency(s.data(), s.size()); }
    // The same, and whether s[0..n) is a word only the other word lists know
    // (frequency 0 then; NotListed for the lexicon's own words and non-words).
    uint32_t frequency(const char32_t* s, size_t n, Listing* listing) const;
    size_t knownWordCount() const { return m_knownCount; }
    // The word's tag ("v", "n", ...), empty when it is not a word.
    std::string tag(const std::u32string& s) const;
    // Longest word length in the lexicon.
    size_t maxWordLength() const { return m_maxWordLength; }

    // Frequent words of length n that equal s[0..n) everywhere except at
    // position open, which holds a different character.
    const Candidate* candidates(const char32_t* s, size_t n, size_t open, size_t* count) const;

    // Characters that fill position open of s[0..n) to make a word of 3 to
    // kMaxKnownCandidateLength characters of the project's own list of
    // specialist words that candidates() lacks (too rare in the lexicon, or
    // not in it); nullptr when none.
    const char32_t* knownCandidates(const char32_t* s, size_t n, size_t open, size_t* count) const;
    static constexpr size_t kMaxKnownCandidateLength = 6;
    // True when c is a character of a word knownCandidates() can make: a
    // window with two characters not such is no use looking up.
    bool isKnownCandidateChar(char32_t c) const
    {
        return std::binary_search(m_knownCandidateChars.begin(), m_knownCandidateChars.end(), c);
    }
    // Two-character words at least kMinPairFrequency frequent whose first
    // character shares a reading with a and whose second shares one with b,
    // readings folded as foldSyllable() does (a pair of slips side by side,
    // 因改 for 应该); most frequent first.
    struct PairWord
    {
        char32_t first;
        char32_t second;
        uint32_t freq;
    };
    std::vector<PairWord> pairWords(char32_t a, char32_t b) const;

    const CharInfo* charInfo(char32_t c) const;
    // Confusion bits between two different characters (0 when unrelated or
    // unknown, and when one is a form of the other: writing 著 for 着 or 他 for
    // 她 is a choice, not a slip).
    int confusion(char32_t a, char32_t b) const;
    // True when one character is a traditional, simplified or semantic form of the other.
    bool areVariants(char32_t a, char32_t b) const;
    // True when c is another script's or region's form of a common character
    // (著 for 着, 妳 for 你): writing it is a choice, so nothing is proposed for it.
    bool isOtherForm(char32_t c) const;
    // The characters writers are known to have meant when they wrote c, most
    // frequent first; nullptr when none.
    const std::vector<Learnt>* learnt(char32_t c) const;
    // Frequent characters that share a reading with c, most frequent first
    // (at most kMaxHomophones); empty when none.
    const std::vector<char32_t>& homophones(char32_t c) const;
    // Toneless readings of c ("yi", "de"), for the dictionary page.
    std::vector<std::string> readings(char32_t c) const;

    // Words shorter than this frequency do not enter the candidate index.
    static constexpr uint32_t kMinCandidateFrequency = 30;
    static constexpr size_t kMaxCandidateLength = 4;
    // Characters standing alone at least this often enter homophones().
    static constexpr uint32_t kMinHomophoneFrequency = 3000;
    static constexpr size_t kMaxHomophones = 6;
    static constexpr uint32_t kMinPairFrequency = 200;

private:
    class Table;
    uint16_t syllableId(const std::string& s);
    static int confusionOf(const CharInfo& x, const CharInfo& y, char32_t a, char32_t b);
    void buildConfusions();

    Table* m_words;      // word hash -> (freq, tag id)
    Table* m_candidates; // masked word hash -> (offset, count) into m_candidateList
    std::unordered_map<uint32_t, std::vector<PairWord>> m_pairWords; // folded ids (first << 16 | second)
    std::vector<Candidate> m_candidateList;
    Table* m_knownCandidates; // masked word hash -> (offset, count) into m_knownCandidateList
    std::vector<char32_t> m_knownCandidateList;
    std::vector<char32_t> m_knownCandidateChars; // sorted
    std::vector<std::u32string> m_pendingKnown;  // words of the other lists awaiting finish()
    std::vector<std::string> m_tags;
    std::vector<std::string> m_syllables;
    std::unordered_map<std::string, uint16_t> m_syllableIds;
    std::vector<CharInfo> m_chars;
    std::vector<int32_t> m_charIndex; // code point -> index into m_chars, -1 when unknown
    std::unordered_map<char32_t, int32_t> m_farChars;
    std::unordered_map<char32_t, std::vector<Learnt>> m_learnt;
    std::unordered_map<char32_t, std::vector<char32_t>> m_homophones;
    std::vector<char32_t> m_charList; // code point of each entry of m_chars
    bool m_confusionsBuilt = false;
    std::vector<std::pair<std::u32string, uint32_t>> m_pending; // words awaiting finish()
    size_t m_wordCount = 0;
    size_t m_knownCount = 0;
    size_t m_maxWordLength = 1;
    uint64_t m_total = 0;
    double m_logTotal = 0;
};

// Folds a toneless syllable so that commonly confused sounds meet:
// zh/ch/sh -> z/c/s, initial n -> l, final -ng -> -n.
std::string foldSyllable(const std::string& syllable);

} // namespace quillet
