#pragma once

#include "LanguageModel.h"
#include "Lexicon.h"
#include "WordModel.h"

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

// Finds suspected errors in one piece of text. Characters are replaced by
// the candidates their confusion sets offer when the language model prefers
// the corrected text around them by enough. Stateless apart from the shared
// read-only lexicon and model, so one Checker may serve several threads.
class Checker
{
public:
    struct Options
    {
        bool homophone = true;  // homophones, similar sounds and lone characters
        bool shape = false;     // similar-looking characters
        bool sensitive = false; // the operator's sensitive words
        bool collocation = false;
    };

    // How much the model must prefer a correction (in nats, -ln P of the text
    // around it) before it is proposed, by the kind of confusion. Tuned for
    // precision: a wrong alarm costs the writer more than a missed slip.
    struct Thresholds
    {
        // A pair writers are known to confuse; plus channelWeight times how
        // rarely the meant character comes out as the written one, less
        // learntCountWeight times ln of how often the pair was seen.
        double learnt = 3.0;
        double channelWeight = 0.6;
        // A pair seen often is a habit of writers; one seen a few times may be chance.
        double learntCountWeight = 0.6;
        double homophone = 9.5; // same reading, making a word of the lexicon
        double nearSound = 9.0; // similar reading
        double shape = 11.0;    // similar shape
        double single = 11.0;   // a frequent homophone that makes no longer word
        // 的, 地 and 得 for one another: writers and the model's own text mix
        // them up, so its verdict needs a wider margin.
        double particle = 5.0;
        // Added when the written character is part of a known word as it
        // stands (pairs not learnt at least twice only): replacing a character
        // of a real word needs stronger evidence.
        double inWord = 4.0;
        // Added when the written character is part of a rare word as written
        // (a word of the other word lists, or one the lexicon lists as rare: a
        // specialist word) and inWord does not apply.
        double inKnownWord = 4.0;
        double inKnownWordLearnt = 1.0; // instead, for a pair learnt at least twice
        // Two slips side by side corrected as one (see proposePairs).
        double pair = 18.0;
        // Added for a pair not learnt whose correction keeps every word
        // boundary of the model's reading, or both adds and removes some (see score()).
        double boundaries = 3.0;
        // A doubtful character is reported with its candidates when the best
        // one comes within this of its threshold and the model prefers it by
        // detectGain at least (see reportDoubts).
        double detect = 1.0;
        double detectGain = 5.0;
        // Weight of the lexicon's word frequencies beside the model.
        double learntWordWeight = 0.25;
        double wordWeight = 1.0;
        double singleWordWeight = 0.0;
        double shapeWordWeight = 0.5;
        // The lexicon's own rule: a replacement making a frequent word out of
        // a non-word by this much (ln of frequencies) is proposed when the
        // model prefers it by at least wordRuleModel.
        double wordRule = 6.5;
        double wordRuleModel = 3.0;
        // A character that turns text that is no word into a specialist word
        // of the project's own list (see proposeKnownWords) clears its
        // threshold by knownWord, unless the model finds the text with it
        // less likely by more than knownWordObjection (the model may not know
        // the word's characters: an unknown one costs it 18).
        double knownWord = 2.0;
        double knownWordObjection = 20.0;
        // The word model's second opinion (see scoreByWords): how much more
        // likely it finds the text with the correction (nats, clamped to
        // wordModelClamp either way), less wordModelOffset, times
        // wordModelWeight, is added to the score of a pair writers are known
        // to confuse, and to the rank of another accepted correction; such a
        // correction that it finds less likely than the text as written by
        // more than wordModelVeto is turned down.
        double wordModelWeight = 0.7;
        double wordModelOffset = 2.0;
        double wordModelClamp = 6.0;
        double wordModelVeto = 1.0;

        // Sets thresholds from "name=value,name=value" (the member names
        // above); false when an item is malformed or names no threshold (the
        // others are set all the same). The checker reads such a list from
        // QUILLET_CHECKER_TUNE, so that evaluate_devset.py can try thresholds
        // without a rebuild.
        bool override(const std::string& list);
    };

    // model must be loaded; lexicon and model must outlive the checker. words,
    // when given and loaded, is asked for a second opinion; it must outlive
    // the checker too.
    Checker(const Lexicon& lexicon, const LanguageModel& model, const WordModel* words = nullptr);
    Checker(const Lexicon& lexicon, const LanguageModel& model, const Thresholds& thresholds,
            const WordModel* words = nullptr);

    // Checks text (UTF-8; invalid input gives no findings). userWords are never
    // reported: a finding that overlaps one of them is dropped.
    std::vector<Finding> check(const std::string& text, const Options& options,
                               const SensitiveList* sensitive = nullptr,
                               const std::vector<std::u32string>& userWords = {}) const;

    // A best segmentation of a run of Han characters by the lexicon's word
    // frequencies (word lengths, in order).
    std::vector<size_t> segment(const std::u32string& run) const;

private:
    struct Candidate;
    struct Raw;
    struct Run;

    // The pipeline of check(), one step each.
    void proposeCandidates(Run& run, const Options& options, std::vector<Candidate>& out) const;
    void proposePairs(const Run& run, const std::vector<bool>& inWord, const std::vector<bool>& inKnownWord,
                      const std::vector<bool>& skip, std::vector<Candidate>& out) const;
    void proposeKnownWords(const Run& run, const Options& options, const std::vector<bool>& inWord,
                           const std::vector<bool>& skip, size_t first, std::vector<bool>& inKnownWord,
                           std::vector<Candidate>& out) const;
    bool isRareFormOfWord(const char32_t* s, size_t n, uint32_t freq) const;
    void scoreCandidates(const Run& run, std::vector<Candidate>& candidates) const;
    void chooseCorrections(Run& run, std::vector<Candidate>& candidates, std::vector<Raw>& out) const;
    void reportDoubts(const Run& run, const std::vector<Candidate>& candidates, std::vector<Raw>& out) const;
    void applyRules(const Run& run, const Options& options, std::vector<Raw>& out) const;
    static void addSensitiveWords(const std::u32string& chars, const SensitiveList& sensitive, std::vector<Raw>& out);
    static void dropUserWords(const std::u32string& chars, const std::vector<std::u32string>& userWords,
                              std::vector<Raw>& out);

    struct Baseline;
    void score(const std::u32string& text, Candidate& candidate, Baseline& baseline) const;
    void scoreByWords(const std::u32string& text, Candidate& candidate, Baseline& baseline) const;
    bool liftsByWords(const Candidate& candidate) const;
    static bool isParticlePair(const Candidate& candidate);
    double wordModelReach(const Candidate& candidate) const;
    double bestScore(const char32_t* s, size_t n) const;
    double threshold(const Candidate& candidate) const;
    double margin(const Candidate& candidate) const;
    double baseThreshold(const Candidate& candidate) const;
    double wordScore(const char32_t* s, size_t n) const;

    const Lexicon& m_lexicon;
    const LanguageModel& m_model;
    const WordModel* m_words = nullptr; // null when not loaded
    Thresholds m_thresholds;
    bool m_debug = false;
};

} // namespace quillet
