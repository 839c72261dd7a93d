#pragma once

#include <memory>
#include <string>
#include <vector>

namespace quillet {

// A word trigram language model of Chinese (Debian's sunpinyin-data, read
// through libsunpinyin). It scores runs of Han characters: the cost of a run is
// -ln P of its best segmentation into the model's words. Read-only after
// load() and safe to share between threads.
class LanguageModel
{
public:
    LanguageModel();
    ~LanguageModel();
    LanguageModel(const LanguageModel&) = delete;
    LanguageModel& operator=(const LanguageModel&) = delete;

    // Folder holding lm_sc.t3g and pydict_sc.bin as the sunpinyin-data package installs them.
    static const char* const kDefaultFolder;
    // The package to install when the model is missing, named in load()'s error.
    static const char* const kPackage;
    // Where the model's data comes from and its licence, for --version and the about text.
    static const char* const kAttribution;

    // Loads lm_sc.t3g and pydict_sc.bin from folder, copied into memory of its
    // own (the files may be rewritten or truncated afterwards without harm);
    // false with a reason in error when either is missing, damaged or unreadable.
    bool load(const std::string& folder, std::string* error);
    bool loaded() const;
    // Words the model knows.
    size_t wordCount() const;
    // Longest word the model knows, in characters.
    size_t maxWordLength() const;

    // Cost (-ln P, in nats) of the best segmentation of s[0..n), starting from
    // the model's empty history; with lengths, that segmentation as word lengths
    // in order. A character the model does not know costs kUnknownCost.
    // With wordCosts, each of those words' cost.
    double cost(const char32_t* s, size_t n, std::vector<size_t>* lengths = nullptr,
                std::vector<double>* wordCosts = nullptr) const;
    double cost(const std::u32string& s) const { return cost(s.data(), s.size()); }
    // Costs of texts that differ from one text in a single character, sharing
    // the work on what precedes that character (the checker tries many
    // characters in each place). Not thread-safe: one per thread.
    class Variants
    {
    public:
        Variants();
        ~Variants();
        Variants(const Variants&) = delete;
        Variants& operator=(const Variants&) = delete;
        // Scores s[0..n), copied; the model must outlive the use.
        void reset(const LanguageModel& model, const char32_t* s, size_t n);
        // cost() of the text given to reset().
        double cost() const { return m_base; }
        // cost() of that text with its character at replaced by c.
        double costWith(size_t at, char32_t c) const;

    private:
        struct Data;
        const LanguageModel* m_model = nullptr;
        std::unique_ptr<Data> m_data;
        double m_base = 0;
    };

    // The model's id of the word s[0..n), 0 when it is not one of its words.
    unsigned wordId(const char32_t* s, size_t n) const;

    static constexpr double kUnknownCost = 18.0;
    // Words the model lists without a probability of their own get a floor far
    // below any real word; no word costs more than this.
    static constexpr double kMaxWordCost = 20.0;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace quillet
