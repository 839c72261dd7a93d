#include "Checker.h"
#include "Utf.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <cstdio>
#include <cstdlib>

namespace quillet {

namespace {

constexpr double kImpossible = -1e30;
// The segmentation looks at words up to this length.
constexpr size_t kMaxSegmentWord = 10;
// Characters on either side of a replaced one that the model scores with it:
// about two words each way, the reach of a trigram model (measured: wider
// windows change no verdict on the tuning data, and cost time).
constexpr size_t kContext = 4;
// A word that a similar-looking replacement makes must be at least this frequent.
constexpr uint32_t kMinShapeWordFrequency = 300;
// A finding spans the corrected word around the replaced character when that
// word is at most this long, otherwise the character alone.
constexpr size_t kMaxFindingWord = 4;
constexpr size_t kMaxSuggestions = 3;
// Words looked at per window and open position (see proposeCandidates).
constexpr size_t kMaxWordsPerWindow = 24;
// The lexicon's verdict counts up to this much either way: it knows words the
// model lacks, but a rare word must not outweigh the model's context.
constexpr double kMaxWordGain = 5.0;
// A character standing alone that costs the model more than this (nats) is
// worth trying frequent homophones in.
constexpr double kSurprisingCost = 9.0;
// A word of the lexicon at least this frequent is a known word (see Thresholds::inWord).
constexpr uint32_t kKnownWord = 20;
// Longest written word looked for in the word lists to protect its characters.
constexpr size_t kMaxKnownWord = 4;
// A rare word next to a word this much more frequent, and at least
// kVariantFrequency frequent, is a rare form of that word (see isRareFormOfWord).
constexpr uint32_t kVariantRatio = 20;
constexpr uint32_t kVariantFrequency = 50;
// Words at least this frequent are common pieces of a phrase (see isRareFormOfWord).
constexpr uint32_t kCommonPiece = 2000;
// Pairs of slips tried per place (see proposePairs).
constexpr size_t kMaxPairsPerPlace = 8;
// The margin of a correction accepted by a rule rather than by its score.
constexpr double kMinMargin = 0.01;
// A learnt pair seen at least this often is a habit of writers (see threshold()).
constexpr uint32_t kHabit = 2;
// A learnt pair the word model may lift over its threshold: seen this often.
// With pairs seen twice it changed a clean sentence of the tuning file (的系
// read as 的心) for no gain held out.
constexpr uint32_t kWordModelHabit = 3;

// Characters that are practically never doubled in running text; "的的" or
// "了了" between two words is a slip of the keyboard.
const std::u32string kNoDoubleChars = U"的了是在和与及对把被从向就也都而并但于为将这那地得着过吗呢吧其之";
const std::u32string kParticles = U"的地得";
const std::u32string kDegreeWords[] = {U"很", U"非常", U"十分", U"特别", U"极其", U"相当", U"太", U"更加", U"格外"};
// Words that open a degree complement after 得 ("病得很重", "适应得较好").
const std::u32string kComplementStarts = U"很太更较挺蛮十非极相特格";
// Words as Taiwan and Hong Kong writers spell them that the model, trained on
// mainland text, finds unlikely; one character away from the mainland word, so
// the checker would "correct" them. Writing them is a choice, like 著 for 着.
const std::u32string kRegionalWords[] = {U"甚么", U"网路", U"讯息", U"透过", U"程式",
                                         U"支援", U"水准", U"数位", U"交谊"};

std::string trimLine(const std::string& line)
{
    size_t start = 0, end = line.size();
    while (start < end && (line[start] == ' ' || line[start] == '\t' || line[start] == '\r'))
        ++start;
    while (end > start && (line[end - 1] == ' ' || line[end - 1] == '\t' || line[end - 1] == '\r'))
        --end;
    return line.substr(start, end - start);
}

} // namespace

// ---------------------------------------------------------------------------
// Sensitive words

bool SensitiveList::load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    m_words.clear();
    m_byFirst.clear();
    std::string line;
    while (std::getline(in, line)) {
        line = trimLine(line);
        if (line.empty() || line[0] == '#')
            continue;
        const size_t tab = line.find('\t');
        const std::u32string word = toU32(trimLine(line.substr(0, tab)));
        const std::u32string replacement =
            tab == std::string::npos ? std::u32string() : toU32(trimLine(line.substr(tab + 1)));
        if (!word.empty())
            add(word, replacement);
    }
    return true;
}

void SensitiveList::add(const std::u32string& word, const std::u32string& replacement)
{
    if (word.empty())
        return;
    m_byFirst[word[0]].push_back(m_words.size());
    m_words.push_back(SensitiveWord{word, replacement});
}

std::vector<std::pair<size_t, const SensitiveWord*>> SensitiveList::find(const std::u32string& text) const
{
    std::vector<std::pair<size_t, const SensitiveWord*>> out;
    if (m_words.empty())
        return out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto it = m_byFirst.find(text[i]);
        if (it == m_byFirst.end())
            continue;
        // The longest entry that matches here wins.
        const SensitiveWord* best = nullptr;
        for (size_t index : it->second) {
            const SensitiveWord& entry = m_words[index];
            if (entry.word.size() <= text.size() - i && text.compare(i, entry.word.size(), entry.word) == 0 &&
                (!best || entry.word.size() > best->word.size()))
                best = &entry;
        }
        if (best) {
            out.emplace_back(i, best);
            i += best->word.size() - 1;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// Checker

// A run of Han characters, between punctuation, spaces or other scripts.
struct Checker::Run
{
    size_t start = 0;     // index of its first character in the decoded text
    std::u32string text;  // as written
    std::u32string fixed; // with the corrections chosen so far
    // Characters the model finds surprising where they stand, outside any word
    // of the word lists: where a candidate comes close without winning, the
    // place is reported with its candidates (see reportDoubts).
    std::vector<bool> doubtful;
};

// One character of a run that might have been meant in place of the one written.
struct Checker::Candidate
{
    size_t position = 0; // in the run
    char32_t written = 0;
    char32_t replacement = 0;
    char32_t second = 0;       // for a pair of slips side by side: the character meant at position + 1
    int type = 0;              // error-type bit
    uint32_t learnt = 0;       // how often writers were seen to confuse the pair, 0 when never
    double channel = 0;        // for a learnt pair: -ln of how often the meant character comes out so
    bool fromWord = false;     // it makes a word of the lexicon
    bool inWord = false;       // the written character is part of a frequent word
    bool inKnownWord = false;  // ... or of a word of any word list, however rare (specialist words)
    bool replacesWord = false; // the text it replaces is a word itself, however rare
    bool toKnownWord = false;  // it makes a word of the project's own specialist list out of no word
    double gain = 0;           // how much more likely the model finds the text with it (nats)
    double wordModelGain = 0;  // ... and the word model (0: not asked)
    double wordModelRank = 0;  // what the word model's opinion adds to its margin when accepted (see margin())
    double wordGain = 0;       // how much better the text reads as the lexicon's words with it
    double score = 0;          // the two combined, compared with the threshold
    int boundaries = -1;       // word boundaries the model's reading gains or loses with it, -1: not counted
    bool merges = false;       // ... and it only loses some: broken pieces become one word
    bool settled = false;      // chosen, or its position has been corrected

    size_t width() const { return second ? 2 : 1; }
    bool overlaps(size_t at, size_t n) const { return position < at + n && at < position + width(); }
};

// A finding before merging: where it stands in the decoded text.
struct Checker::Raw
{
    size_t start;
    size_t length;
    int type;
    std::vector<std::pair<std::u32string, int>> suggestions;
};

Checker::Checker(const Lexicon& lexicon, const LanguageModel& model, const WordModel* words)
    : Checker(lexicon, model, Thresholds(), words)
{
}

Checker::Checker(const Lexicon& lexicon, const LanguageModel& model, const Thresholds& thresholds,
                 const WordModel* words)
    : m_lexicon(lexicon)
    , m_model(model)
    , m_words(words && words->loaded() ? words : nullptr)
    , m_thresholds(thresholds)
    , m_debug(std::getenv("QUILLET_CHECKER_DEBUG") != nullptr)
{
    if (const char* tune = std::getenv("QUILLET_CHECKER_TUNE"))
        m_thresholds.override(tune);
}

bool Checker::Thresholds::override(const std::string& list)
{
    static const std::pair<const char*, double Thresholds::*> names[] = {
        {"learnt", &Thresholds::learnt},
        {"channelWeight", &Thresholds::channelWeight},
        {"learntCountWeight", &Thresholds::learntCountWeight},
        {"homophone", &Thresholds::homophone},
        {"nearSound", &Thresholds::nearSound},
        {"shape", &Thresholds::shape},
        {"single", &Thresholds::single},
        {"particle", &Thresholds::particle},
        {"inWord", &Thresholds::inWord},
        {"inKnownWord", &Thresholds::inKnownWord},
        {"inKnownWordLearnt", &Thresholds::inKnownWordLearnt},
        {"pair", &Thresholds::pair},
        {"boundaries", &Thresholds::boundaries},
        {"detect", &Thresholds::detect},
        {"detectGain", &Thresholds::detectGain},
        {"learntWordWeight", &Thresholds::learntWordWeight},
        {"wordWeight", &Thresholds::wordWeight},
        {"singleWordWeight", &Thresholds::singleWordWeight},
        {"shapeWordWeight", &Thresholds::shapeWordWeight},
        {"wordRule", &Thresholds::wordRule},
        {"wordRuleModel", &Thresholds::wordRuleModel},
        {"knownWord", &Thresholds::knownWord},
        {"knownWordObjection", &Thresholds::knownWordObjection},
        {"wordModelWeight", &Thresholds::wordModelWeight},
        {"wordModelClamp", &Thresholds::wordModelClamp},
        {"wordModelOffset", &Thresholds::wordModelOffset},
        {"wordModelVeto", &Thresholds::wordModelVeto},
    };
    bool ok = true;
    const std::string items = list + ",";
    for (size_t start = 0, comma; (comma = items.find(',', start)) != std::string::npos; start = comma + 1) {
        const std::string item = items.substr(start, comma - start);
        if (item.empty())
            continue;
        const size_t eq = item.find('=');
        const std::string name = item.substr(0, eq);
        char* end = nullptr;
        const double value = eq == std::string::npos ? 0.0 : std::strtod(item.c_str() + eq + 1, &end);
        const auto it =
            std::find_if(std::begin(names), std::end(names), [&](const auto& n) { return name == n.first; });
        if (eq == std::string::npos || it == std::end(names) || end == item.c_str() + eq + 1 || *end != '\0' ||
            !std::isfinite(value)) {
            ok = false;
            continue;
        }
        this->*(it->second) = value;
    }
    return ok;
}

// ln(freq): looked up for the small frequencies most words have.
static double logFrequency(uint32_t freq)
{
    static const std::vector<float> table = [] {
        std::vector<float> t(1 << 16);
        for (size_t i = 1; i < t.size(); ++i)
            t[i] = float(std::log(double(i)));
        return t;
    }();
    return freq < table.size() ? double(table[freq]) : std::log(double(freq));
}

double Checker::wordScore(const char32_t* s, size_t n) const
{
    const uint32_t freq = m_lexicon.frequency(s, n);
    if (freq == 0)
        return n == 1 ? -m_lexicon.logTotal() : kImpossible;
    return logFrequency(freq) - m_lexicon.logTotal();
}

double Checker::bestScore(const char32_t* s, size_t n) const
{
    const size_t maxLength = std::min(Lexicon::kMaxCandidateLength, m_lexicon.maxWordLength());
    double score[2 * kContext + 4];
    score[0] = 0;
    for (size_t i = 1; i <= n; ++i) {
        score[i] = kImpossible;
        for (size_t length = 1; length <= std::min(i, maxLength); ++length) {
            const double w = wordScore(s + i - length, length);
            if (w > kImpossible && score[i - length] + w > score[i])
                score[i] = score[i - length] + w;
        }
    }
    return score[n];
}

std::vector<size_t> Checker::segment(const std::u32string& run) const
{
    const size_t n = run.size();
    const size_t maxLength = std::min(kMaxSegmentWord, m_lexicon.maxWordLength());
    std::vector<double> score(n + 1, kImpossible);
    std::vector<size_t> back(n + 1, 1);
    score[0] = 0;
    for (size_t i = 1; i <= n; ++i) {
        for (size_t length = 1; length <= std::min(i, maxLength); ++length) {
            const double w = wordScore(run.data() + i - length, length);
            if (w > kImpossible && score[i - length] + w > score[i]) {
                score[i] = score[i - length] + w;
                back[i] = length;
            }
        }
    }
    std::vector<size_t> lengths;
    for (size_t i = n; i > 0; i -= back[i])
        lengths.push_back(back[i]);
    std::reverse(lengths.begin(), lengths.end());
    return lengths;
}

// Step 1: what might have been meant at each character. Two sources: the
// pairs writers are known to confuse, and characters that turn the written
// text into a frequent word of the lexicon while sharing a reading or a shape
// with the character written.
void Checker::proposeCandidates(Run& run, const Options& options, std::vector<Candidate>& out) const
{
    const std::u32string& text = run.text;
    const size_t n = text.size();
    std::vector<char32_t> seen;
    std::vector<std::pair<char32_t, int>> judged;
    auto typeOf = [&](char32_t written, char32_t meant, bool learnt, uint32_t wordFreq, int bits) {
        if (options.homophone && (bits & ConfusionHomophone))
            return int(ErrorHomophone);
        if (options.homophone && (bits & ConfusionNearSound))
            return int(ErrorNearSound);
        if (options.shape && (bits & ConfusionShape) && (learnt || wordFreq >= kMinShapeWordFrequency))
            return int(ErrorShape);
        // A pair known to be confused that shares neither reading nor shape by
        // the data: its readings are close in the writers' ears.
        if (learnt && options.homophone && bits == ConfusionNone && !m_lexicon.areVariants(written, meant))
            return int(ErrorNearSound);
        return 0;
    };
    // Characters the model finds surprising where they stand alone: there a
    // frequent homophone is tried too, even when it makes no longer word.
    std::vector<bool> surprising(n, false);
    // Characters inside a frequent word of the lexicon's reading of the text as written.
    std::vector<bool> inWord(n, false);
    const std::vector<size_t> lengths = segment(text);
    // What 得, standing as a word of its own, may have been meant as. It stays
    // as the modal 得 (dei3, "他得走") after a pronoun or noun and before a verb,
    // and as the 得 of a degree complement after a verb or adjective ("病得很重").
    // Between an adverbial word and a verb it can only be 地 ("慢慢地走"), not 的.
    enum DeUse : char { DeAny, DeStays, DeAdverbial };
    std::vector<char> deUse(n, DeAny);
    {
        size_t at = 0;
        for (size_t t = 0; t < lengths.size(); at += lengths[t++]) {
            const size_t length = lengths[t];
            if (length > 1 && m_lexicon.frequency(text.data() + at, length) >= kKnownWord)
                std::fill(inWord.begin() + std::ptrdiff_t(at), inWord.begin() + std::ptrdiff_t(at + length), true);
            if (length != 1 || text[at] != U'得' || t == 0 || t + 1 == lengths.size())
                continue;
            const std::u32string previous = text.substr(at - lengths[t - 1], lengths[t - 1]);
            const std::u32string next = text.substr(at + 1, lengths[t + 1]);
            const std::string before = m_lexicon.tag(previous);
            const std::string after = m_lexicon.tag(next);
            const bool modal = (before[0] == 'r' || before[0] == 'n') && (after[0] == 'v' || after[0] == 'd');
            const bool complement =
                (before[0] == 'v' || before[0] == 'a') && kComplementStarts.find(text[at + 1]) != std::u32string::npos;
            // An adverbial word of two characters at least (真得 is mostly 真的
            // before any word), or a doubled character (慢慢得, 高高兴兴得).
            const bool doubled = at >= 2 && text[at - 1] == text[at - 2];
            const bool adverbial = after == "v" && next != U"是" &&
                                   (doubled || (previous.size() >= 2 &&
                                                (before == "a" || before == "ad" || before == "d" || before == "z")));
            deUse[at] = modal || complement ? DeStays : adverbial ? DeAdverbial : DeAny;
        }
    }
    if (options.homophone) {
        std::vector<size_t> lengths;
        std::vector<double> costs;
        m_model.cost(text.data(), n, &lengths, &costs);
        for (size_t i = 0, at = 0; i < lengths.size(); at += lengths[i++])
            surprising[at] = lengths[i] == 1 && costs[i] > kSurprisingCost;
    }
    std::vector<bool> regional(n, false);
    for (const std::u32string& word : kRegionalWords) {
        for (size_t at = text.find(word); at != std::u32string::npos; at = text.find(word, at + 1))
            std::fill(regional.begin() + std::ptrdiff_t(at), regional.begin() + std::ptrdiff_t(at + word.size()), true);
    }
    const size_t first = out.size();
    for (size_t p = 0; p < n; ++p) {
        const char32_t written = text[p];
        if (m_lexicon.isOtherForm(written) || regional[p])
            continue;
        seen.clear();
        judged.clear();
        if (surprising[p]) {
            for (char32_t meant : m_lexicon.homophones(written)) {
                if (m_lexicon.areVariants(written, meant))
                    continue;
                seen.push_back(meant);
                Candidate c;
                c.position = p;
                c.written = written;
                c.replacement = meant;
                c.type = ErrorHomophone;
                out.push_back(c);
            }
        }
        if (const std::vector<Lexicon::Learnt>* learnt = m_lexicon.learnt(written)) {
            for (const Lexicon::Learnt& l : *learnt) {
                // A pair seen once overrides no word as written (see
                // threshold()): inside a frequent word it is not worth scoring.
                if (l.count < kHabit && inWord[p])
                    continue;
                const int bits = m_lexicon.confusion(written, l.c);
                const int type = typeOf(written, l.c, true, 0, bits);
                if (!type)
                    continue;
                const auto known = std::find(seen.begin(), seen.end(), l.c);
                if (known != seen.end()) {
                    // Tried as a homophone already: it is a learnt pair as well.
                    for (Candidate& c : out) {
                        if (c.position == p && c.replacement == l.c) {
                            c.learnt = l.count;
                            c.channel = l.channel;
                        }
                    }
                    continue;
                }
                seen.push_back(l.c);
                Candidate c;
                c.position = p;
                c.written = written;
                c.replacement = l.c;
                c.type = type;
                c.learnt = l.count;
                c.channel = l.channel;
                out.push_back(c);
            }
        }
        for (size_t length = 2; length <= Lexicon::kMaxCandidateLength && length <= n; ++length) {
            const size_t first = p + 1 >= length ? p + 1 - length : 0;
            for (size_t s = first; s <= p && s + length <= n; ++s) {
                size_t count = 0;
                const Lexicon::Candidate* list = m_lexicon.candidates(text.data() + s, length, p - s, &count);
                // Most frequent words first; the long tail of rare words rarely
                // holds the meant one and would cost most of the time.
                count = std::min(count, kMaxWordsPerWindow);
                // Whether the written text of this window is a word itself,
                // looked up once and only when a candidate needs it.
                int writtenWord = -1;
                auto writtenIsWord = [&] {
                    if (writtenWord < 0)
                        writtenWord = m_lexicon.frequency(text.data() + s, length) > 0 ||
                                      m_model.wordId(text.data() + s, length) != 0;
                    return writtenWord == 1;
                };
                for (size_t k = 0; k < count; ++k) {
                    const char32_t meant = list[k].c;
                    if (meant == written)
                        continue;
                    if (std::find(seen.begin(), seen.end(), meant) != seen.end()) {
                        // Tried already: note that it makes a word, and whether
                        // it makes one out of a non-word here.
                        for (auto c = out.rbegin(); c != out.rend() && c->position == p; ++c) {
                            if (c->replacement == meant) {
                                c->replacesWord = c->fromWord ? c->replacesWord && writtenIsWord() : writtenIsWord();
                                c->fromWord = true;
                            }
                        }
                        continue;
                    }
                    // The same character comes up in many words: judge the pair once.
                    int bits = -1;
                    for (const auto& [c, b] : judged) {
                        if (c == meant)
                            bits = b;
                    }
                    if (bits < 0) {
                        const Lexicon::CharInfo* info = m_lexicon.charInfo(meant);
                        bits = info && info->common ? m_lexicon.confusion(written, meant) : ConfusionNone;
                        judged.emplace_back(meant, bits);
                    }
                    if (bits == ConfusionNone)
                        continue;
                    const int type = typeOf(written, meant, false, list[k].freq, bits);
                    if (!type)
                        continue;
                    seen.push_back(meant);
                    Candidate c;
                    c.position = p;
                    c.written = written;
                    c.replacement = meant;
                    c.type = type;
                    c.fromWord = true;
                    c.replacesWord = writtenIsWord();
                    out.push_back(c);
                }
            }
        }
    }
    // Characters inside a rare word as written: a word of the other word
    // lists or one the lexicon lists as rare. A specialist word (啰音, 肌酐)
    // protects itself.
    std::vector<bool> inKnownWord(n, false);
    for (size_t s = 0; s + 1 < n; ++s) {
        for (size_t length = kMaxKnownWord; length >= 2; --length) {
            if (s + length > n)
                continue;
            Lexicon::Listing listing = Lexicon::NotListed;
            const uint32_t freq = m_lexicon.frequency(text.data() + s, length, &listing);
            // The project's own specialist words always count; others unless
            // they look like a rare form of a common word.
            if (listing == Lexicon::ListedByUs ||
                (((freq > 0 && freq < kKnownWord) || listing == Lexicon::ListedElsewhere) &&
                 !isRareFormOfWord(text.data() + s, length, freq))) {
                std::fill(inKnownWord.begin() + std::ptrdiff_t(s), inKnownWord.begin() + std::ptrdiff_t(s + length),
                          true);
                break;
            }
        }
    }
    if (options.homophone)
        proposePairs(run, inWord, inKnownWord, regional, out);
    proposeKnownWords(run, options, inWord, regional, first, inKnownWord, out);
    run.doubtful.assign(n, false);
    for (size_t p = 0; p < n; ++p)
        run.doubtful[p] = surprising[p] && !inWord[p] && !inKnownWord[p] && !regional[p];
    for (size_t k = first; k < out.size(); ++k) {
        out[k].inWord = inWord[out[k].position];
        out[k].inKnownWord = inKnownWord[out[k].position] || (out[k].second && inKnownWord[out[k].position + 1]);
    }
    out.erase(std::remove_if(out.begin() + std::ptrdiff_t(first), out.end(),
                             [&](const Candidate& c) {
                                 return deUse[c.position] == DeStays ||
                                        (deUse[c.position] == DeAdverbial && c.replacement == U'的');
                             }),
              out.end());
}

// Specialist words of the project's own list that the candidate index lacks
// (奔马律, 抗辩权) are corrected towards as well: where the written text
// is no word anywhere and one character away from such a word of three
// characters or more, that character is a candidate. The model may not know
// the word either (its characters may be unknown to it), so its verdict
// counts only when it objects strongly (Thresholds::knownWordObjection).
void Checker::proposeKnownWords(const Run& run, const Options& options, const std::vector<bool>& inWord,
                                const std::vector<bool>& skip, size_t first, std::vector<bool>& inKnownWord,
                                std::vector<Candidate>& out) const
{
    const std::u32string& text = run.text;
    const size_t n = text.size();
    std::u32string target;
    std::vector<bool> marks(n, false);
    // others[i]: characters of text[0..i) that are in none of those words.
    std::vector<size_t> others(n + 1, 0);
    for (size_t i = 0; i < n; ++i)
        others[i + 1] = others[i] + (m_lexicon.isKnownCandidateChar(text[i]) ? 0 : 1);
    for (size_t length = 3; length <= Lexicon::kMaxKnownCandidateLength && length <= n; ++length) {
        for (size_t s = 0; s + length <= n; ++s) {
            if (others[s + length] - others[s] > 1)
                continue;
            Lexicon::Listing listing = Lexicon::NotListed;
            if (m_lexicon.frequency(text.data() + s, length, &listing) > 0 || listing != Lexicon::NotListed ||
                m_model.wordId(text.data() + s, length) != 0)
                continue;
            for (size_t open = 0; open < length; ++open) {
                const size_t p = s + open;
                const char32_t written = text[p];
                if (inWord[p] || inKnownWord[p] || skip[p] || m_lexicon.isOtherForm(written))
                    continue;
                size_t count = 0;
                const char32_t* list = m_lexicon.knownCandidates(text.data() + s, length, open, &count);
                for (size_t k = 0; k < count; ++k) {
                    const char32_t meant = list[k];
                    const int bits = m_lexicon.confusion(written, meant);
                    const int type = options.homophone && (bits & ConfusionHomophone)   ? int(ErrorHomophone)
                                     : options.homophone && (bits & ConfusionNearSound) ? int(ErrorNearSound)
                                     : options.shape && (bits & ConfusionShape)         ? int(ErrorShape)
                                                                                        : 0;
                    if (!type)
                        continue;
                    target.assign(text, s, length);
                    target[open] = meant;
                    // A rare spelling of a common word, or two common words
                    // side by side, is no specialist word to correct towards.
                    if (isRareFormOfWord(target.data(), target.size(), 0))
                        continue;
                    // The word's other characters are part of it as written.
                    for (size_t at = s; at < s + length; ++at)
                        marks[at] = marks[at] || at != p;
                    const auto known =
                        std::find_if(out.begin() + std::ptrdiff_t(first), out.end(), [&](const Candidate& c) {
                            return c.position == p && !c.second && c.replacement == meant;
                        });
                    if (known != out.end()) {
                        known->toKnownWord = true;
                        continue;
                    }
                    Candidate c;
                    c.position = p;
                    c.written = written;
                    c.replacement = meant;
                    c.type = type;
                    c.fromWord = true;
                    c.toKnownWord = true;
                    out.push_back(c);
                }
            }
        }
    }
    for (size_t p = 0; p < n; ++p)
        inKnownWord[p] = inKnownWord[p] || marks[p];
}

// True when the rare word s[0..n) (of frequency freq, 0 when only other
// lists know it) is two common words side by side, or one confusable
// character away from a far more frequent word: a rare
// variant or a common slip that a word list took in (再接再励 beside 再接再厉,
// 峻工 beside 竣工), not a specialist word of its own.
bool Checker::isRareFormOfWord(const char32_t* s, size_t n, uint32_t freq) const
{
    // A phrase of two common words that a list took in (再按, 很对) is no
    // specialist word either.
    for (size_t cut = 1; cut < n; ++cut) {
        if (m_lexicon.frequency(s, cut) >= kCommonPiece && m_lexicon.frequency(s + cut, n - cut) >= kCommonPiece)
            return true;
    }
    const uint32_t bar = std::max<uint32_t>(kVariantFrequency, freq * kVariantRatio);
    for (size_t open = 0; open < n; ++open) {
        size_t count = 0;
        const Lexicon::Candidate* list = m_lexicon.candidates(s, n, open, &count);
        for (size_t k = 0; k < count && list[k].freq >= bar; ++k) {
            if (list[k].c != s[open] && m_lexicon.confusion(s[open], list[k].c) != ConfusionNone)
                return true;
        }
    }
    return false;
}

// Two slips side by side (因改 for 应该): neither character alone makes a word
// with its neighbour, so the single-character candidates miss them. Where two
// characters written next to each other are no word, the frequent
// two-character words sounding like them are tried as one correction.
void Checker::proposePairs(const Run& run, const std::vector<bool>& inWord, const std::vector<bool>& inKnownWord,
                           const std::vector<bool>& skip, std::vector<Candidate>& out) const
{
    const std::u32string& text = run.text;
    for (size_t p = 0; p + 1 < text.size(); ++p) {
        const char32_t a = text[p], b = text[p + 1];
        if (inWord[p] || inWord[p + 1] || inKnownWord[p] || inKnownWord[p + 1] || skip[p] || skip[p + 1] ||
            m_lexicon.isOtherForm(a) || m_lexicon.isOtherForm(b) || m_model.wordId(text.data() + p, 2) != 0)
            continue;
        size_t tried = 0;
        for (const Lexicon::PairWord& w : m_lexicon.pairWords(a, b)) {
            if (w.first == a || w.second == b || tried == kMaxPairsPerPlace)
                continue;
            // Each slip alone must leave no word with the other character as written.
            const char32_t left[2] = {w.first, b}, right[2] = {a, w.second};
            if (m_lexicon.frequency(left, 2) >= kKnownWord || m_lexicon.frequency(right, 2) >= kKnownWord)
                continue;
            const int x = m_lexicon.confusion(a, w.first), y = m_lexicon.confusion(b, w.second);
            if (!(x & (ConfusionHomophone | ConfusionNearSound)) || !(y & (ConfusionHomophone | ConfusionNearSound)))
                continue;
            ++tried;
            Candidate c;
            c.position = p;
            c.written = a;
            c.replacement = w.first;
            c.second = w.second;
            c.type = (x & ConfusionHomophone) && (y & ConfusionHomophone) ? ErrorHomophone : ErrorNearSound;
            c.fromWord = true;
            out.push_back(c);
        }
    }
}

// The text around one place as it stands, scored once for all its candidates.
struct Checker::Baseline
{
    size_t position = std::u32string::npos;
    LanguageModel::Variants model; // the text around it, as the model scores it
    double wordScore = 0;
    std::vector<size_t> ends;  // where the model's words end in it, counted when first needed
    double wordModelCost = -1; // the word model's cost of the text around it, -1 until needed
};

namespace {

std::vector<size_t> wordEnds(const std::vector<size_t>& lengths)
{
    std::vector<size_t> ends;
    size_t at = 0;
    for (size_t length : lengths)
        ends.push_back(at += length);
    return ends;
}

} // namespace

// How much more likely the model finds the text with the candidate in place,
// judged over the characters around it, and how much better the corrected
// text reads as words of the lexicon; both go into the candidate's score.
void Checker::score(const std::u32string& text, Candidate& candidate, Baseline& baseline) const
{
    const size_t position = candidate.position;
    const size_t lo = position > kContext ? position - kContext : 0;
    const size_t hi = std::min(text.size(), position + candidate.width() + kContext);
    if (candidate.second) {
        // A pair is scored afresh over its own window.
        std::u32string window = text.substr(lo, hi - lo);
        const double before = m_model.cost(window);
        const double wordsBefore = bestScore(window.data(), window.size());
        window[position - lo] = candidate.replacement;
        window[position + 1 - lo] = candidate.second;
        candidate.gain = before - m_model.cost(window);
        candidate.wordGain = bestScore(window.data(), window.size()) - wordsBefore;
        candidate.score =
            candidate.gain + m_thresholds.wordWeight * std::clamp(candidate.wordGain, -kMaxWordGain, kMaxWordGain);
        return;
    }
    if (baseline.position != position) {
        baseline.position = position;
        baseline.ends.clear();
        baseline.wordModelCost = -1;
        baseline.model.reset(m_model, text.data() + lo, hi - lo);
        baseline.wordScore = bestScore(text.data() + lo, hi - lo);
    }
    char32_t window[2 * kContext + 1];
    std::copy(text.begin() + std::ptrdiff_t(lo), text.begin() + std::ptrdiff_t(hi), window);
    window[position - lo] = candidate.replacement;
    candidate.gain = baseline.model.cost() - baseline.model.costWith(position - lo, candidate.replacement);
    const double weight = candidate.learnt                   ? m_thresholds.learntWordWeight
                          : !candidate.fromWord              ? m_thresholds.singleWordWeight
                          : candidate.type == ErrorHomophone ? m_thresholds.wordWeight
                          : candidate.type == ErrorShape     ? m_thresholds.shapeWordWeight
                                                             : 0.0;
    candidate.boundaries = -1;
    // The lexicon's verdict moves the score by weight * kMaxWordGain at most:
    // where that leaves a candidate short of its threshold by more than
    // detect, and the lexicon's own rule (see margin()) cannot apply, it is
    // not worked out.
    if (!(candidate.fromWord && !candidate.learnt) && !candidate.toKnownWord &&
        candidate.gain + weight * kMaxWordGain + wordModelReach(candidate) <
            threshold(candidate) - m_thresholds.detect) {
        candidate.wordGain = 0;
        candidate.score = candidate.gain;
        scoreByWords(text, candidate, baseline);
        return;
    }
    candidate.wordGain = bestScore(window, hi - lo) - baseline.wordScore;
    candidate.score = candidate.gain + weight * std::clamp(candidate.wordGain, -kMaxWordGain, kMaxWordGain);
    // Just over its threshold, a candidate not learnt is judged by how it
    // changes the model's reading too: a slip mended turns broken pieces into
    // a word, moving one boundary or only removing some; a change that keeps
    // every boundary swaps a word for another, and one that moves several
    // both ways rewrites the reading.
    candidate.boundaries = -1;
    const double over = candidate.score - threshold(candidate);
    if (!candidate.learnt && over > 0 && over <= m_thresholds.boundaries) {
        std::vector<size_t> lengths;
        if (baseline.ends.empty()) {
            m_model.cost(text.data() + lo, hi - lo, &lengths);
            baseline.ends = wordEnds(lengths);
        }
        m_model.cost(window, hi - lo, &lengths);
        const std::vector<size_t> ends = wordEnds(lengths);
        std::vector<size_t> added, removed;
        std::set_difference(ends.begin(), ends.end(), baseline.ends.begin(), baseline.ends.end(),
                            std::back_inserter(added));
        std::set_difference(baseline.ends.begin(), baseline.ends.end(), ends.begin(), ends.end(),
                            std::back_inserter(removed));
        candidate.boundaries = int(added.size() + removed.size());
        candidate.merges = added.empty();
    }
    scoreByWords(text, candidate, baseline);
}

// Whether the word model's opinion may lift a candidate over its threshold
// (or keep it under): a pair writers were seen to confuse at least
// kWordModelHabit times. Measured on the tuning data, its opinion sorts those
// well; on other candidates it proposes about as many wrong corrections as
// right ones (names, a word for another word), so there it only ranks
// corrections the first model accepts (see margin()). Nor inside a word of the word lists: the word
// model does not know specialist words (二便 in 二便调). Nor for 的, 地 and
// 得: it reads 的 for 地 as often as writers do (非常地困惑).
bool Checker::liftsByWords(const Candidate& candidate) const
{
    return m_words && m_thresholds.wordModelWeight != 0 && candidate.learnt >= kWordModelHabit && !candidate.second &&
           !candidate.inKnownWord && !isParticlePair(candidate);
}

// How much the word model's opinion can raise a candidate's score at most.
double Checker::wordModelReach(const Candidate& candidate) const
{
    return liftsByWords(candidate)
               ? m_thresholds.wordModelWeight * (m_thresholds.wordModelClamp - m_thresholds.wordModelOffset)
               : 0.0;
}

// The word model's second opinion on a candidate: how much more likely it
// finds the text around the candidate with it. It knows far more words than
// the first model. For a candidate it may lift (see liftsByWords), within
// reach of detect of its threshold, the opinion goes into its score; for
// another one the first model accepts, into its rank among the corrections.
void Checker::scoreByWords(const std::u32string& text, Candidate& candidate, Baseline& baseline) const
{
    candidate.wordModelGain = 0;
    candidate.wordModelRank = 0;
    if (!m_words || m_thresholds.wordModelWeight == 0 || candidate.second)
        return;
    const bool lifts = liftsByWords(candidate);
    const double over = candidate.score - threshold(candidate);
    if (lifts ? over + wordModelReach(candidate) <= -m_thresholds.detect : over <= 0)
        return;
    const size_t position = candidate.position;
    const size_t lo = position > kContext ? position - kContext : 0;
    const size_t hi = std::min(text.size(), position + 1 + kContext);
    char32_t window[2 * kContext + 1];
    std::copy(text.begin() + std::ptrdiff_t(lo), text.begin() + std::ptrdiff_t(hi), window);
    // score() has set baseline up for this place.
    if (baseline.wordModelCost < 0)
        baseline.wordModelCost = m_words->cost(window, hi - lo);
    window[position - lo] = candidate.replacement;
    candidate.wordModelGain = baseline.wordModelCost - m_words->cost(window, hi - lo);
    const double bonus =
        m_thresholds.wordModelWeight *
        (std::clamp(candidate.wordModelGain, -m_thresholds.wordModelClamp, m_thresholds.wordModelClamp) -
         m_thresholds.wordModelOffset);
    if (lifts)
        candidate.score += bonus;
    else
        candidate.wordModelRank = bonus;
}

// How far a candidate clears its threshold (positive: it is proposed). A
// character that turns a non-word into a frequent word of the lexicon by a
// wide margin is proposed as long as the model does not object.
double Checker::margin(const Candidate& candidate) const
{
    double byModel = candidate.score - threshold(candidate);
    // The word model's opinion orders the corrections the first model
    // accepts, and turns down one that it finds less likely than the text as
    // written by more than wordModelVeto.
    if (byModel > 0 && candidate.wordModelRank != 0) {
        byModel += candidate.wordModelRank;
        if (candidate.wordModelGain >= -m_thresholds.wordModelVeto)
            byModel = std::max(kMinMargin, byModel);
        else
            byModel = std::min(-kMinMargin, byModel);
    }
    if (candidate.toKnownWord && candidate.gain >= -m_thresholds.knownWordObjection)
        return std::max(byModel, m_thresholds.knownWord);
    if (byModel <= 0 && candidate.fromWord && !candidate.second && !candidate.replacesWord && !candidate.inWord &&
        !candidate.inKnownWord && !candidate.learnt && candidate.type != ErrorShape &&
        candidate.wordGain >= m_thresholds.wordRule && candidate.gain >= m_thresholds.wordRuleModel)
        return kMinMargin;
    return byModel;
}

double Checker::threshold(const Candidate& candidate) const
{
    double t = baseThreshold(candidate);
    if (candidate.boundaries == 0 || (candidate.boundaries > 1 && !candidate.merges))
        t += m_thresholds.boundaries;
    // A pair seen once is evidence enough to try it, not to override a word
    // as written (啰 for 络 in 湿啰音, 清 for 情 in 神清).
    const bool habit = candidate.learnt >= kHabit;
    if (candidate.inWord && !habit)
        t += m_thresholds.inWord;
    else if (candidate.inKnownWord)
        t += habit ? m_thresholds.inKnownWordLearnt : m_thresholds.inKnownWord;
    return t;
}

bool Checker::isParticlePair(const Candidate& candidate)
{
    return !candidate.second && kParticles.find(candidate.written) != std::u32string::npos &&
           kParticles.find(candidate.replacement) != std::u32string::npos;
}

double Checker::baseThreshold(const Candidate& candidate) const
{
    if (candidate.second)
        return m_thresholds.pair;
    if (isParticlePair(candidate))
        return m_thresholds.particle;
    if (candidate.learnt)
        return m_thresholds.learnt + m_thresholds.channelWeight * candidate.channel -
               m_thresholds.learntCountWeight * logFrequency(candidate.learnt);
    if (!candidate.fromWord)
        return m_thresholds.single;
    return candidate.type == ErrorShape       ? m_thresholds.shape
           : candidate.type == ErrorNearSound ? m_thresholds.nearSound
                                              : m_thresholds.homophone;
}

// Step 2: the model's verdict on each candidate in the text as it stands.
void Checker::scoreCandidates(const Run& run, std::vector<Candidate>& candidates) const
{
    Baseline baseline;
    for (Candidate& c : candidates) {
        if (c.settled)
            continue;
        score(run.fixed, c, baseline);
        if (m_debug)
            std::fprintf(stderr,
                         "cand\t%s\t%zu\t%s\t%s\t%.2f\t%.2f\t%d\t%u\t%d\t%.2f\t%.2f\t%.2f\t%d\t%d\t%.2f\t%d\t%.2f\n",
                         encodeUtf8(run.text).c_str(), run.start + c.position, encodeUtf8(run.text[c.position]).c_str(),
                         (encodeUtf8(c.replacement) + (c.second ? encodeUtf8(c.second) : std::string())).c_str(),
                         c.gain, c.wordGain, c.type, c.learnt, int(c.fromWord), threshold(c), c.score, margin(c),
                         int(c.inWord), int(c.replacesWord), c.channel, c.boundaries, c.wordModelGain);
    }
}

// Step 3: the corrections, best first. Each chosen correction changes the text
// that its neighbours are judged in, so they are scored again.
void Checker::chooseCorrections(Run& run, std::vector<Candidate>& candidates, std::vector<Raw>& out) const
{
    std::vector<size_t> chosen; // indices into candidates, in the order chosen
    while (true) {
        size_t best = candidates.size();
        double bestMargin = 0;
        for (size_t k = 0; k < candidates.size(); ++k) {
            const Candidate& c = candidates[k];
            const double margin = this->margin(c);
            if (!c.settled && margin > bestMargin) {
                best = k;
                bestMargin = margin;
            }
        }
        if (best == candidates.size())
            break;
        const size_t position = candidates[best].position;
        const size_t width = candidates[best].width();
        run.fixed[position] = candidates[best].replacement;
        if (candidates[best].second)
            run.fixed[position + 1] = candidates[best].second;
        chosen.push_back(best);
        // The other candidates of that place stay as further suggestions.
        for (Candidate& c : candidates) {
            if (c.overlaps(position, width))
                c.settled = true;
        }
        // Score again what the change is in the context of.
        Baseline baseline;
        for (Candidate& c : candidates) {
            if (!c.settled && c.position + kContext >= position && c.position <= position + kContext)
                score(run.fixed, c, baseline);
        }
    }
    reportDoubts(run, candidates, out);
    if (chosen.empty())
        return;

    // Each correction is reported over the corrected word around it; corrections
    // inside one word make one finding.
    struct Span
    {
        size_t start, end; // [start, end) in the run
        int type;
        std::vector<size_t> corrections;
    };
    std::vector<Span> spans;
    std::vector<size_t> lengths;
    for (size_t k : chosen) {
        const size_t position = candidates[k].position;
        const size_t lo = position > kContext ? position - kContext : 0;
        const size_t hi = std::min(run.fixed.size(), position + candidates[k].width() + kContext);
        m_model.cost(run.fixed.data() + lo, hi - lo, &lengths);
        const size_t last = position + candidates[k].width() - 1;
        size_t start = position, end = last + 1;
        for (size_t at = lo, i = 0; i < lengths.size(); at += lengths[i++]) {
            if (lengths[i] > kMaxFindingWord)
                continue;
            if (at <= position && position < at + lengths[i])
                start = std::min(start, at);
            if (at <= last && last < at + lengths[i])
                end = std::max(end, at + lengths[i]);
        }
        spans.push_back(Span{start, end, candidates[k].type, {k}});
    }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    std::vector<Span> merged;
    for (Span& span : spans) {
        if (!merged.empty() && span.start < merged.back().end) {
            merged.back().end = std::max(merged.back().end, span.end);
            merged.back().corrections.insert(merged.back().corrections.end(), span.corrections.begin(),
                                             span.corrections.end());
        } else {
            merged.push_back(std::move(span));
        }
    }
    for (const Span& span : merged) {
        Raw finding{run.start + span.start, span.end - span.start, span.type, {}};
        const std::u32string best = run.fixed.substr(span.start, span.end - span.start);
        auto countOf = [&](const std::u32string& word) {
            const uint32_t freq = m_lexicon.frequency(word);
            return freq ? int(std::min<uint32_t>(freq, 0x7FFFFFFF)) : -1;
        };
        finding.suggestions.emplace_back(best, countOf(best));
        // Further suggestions: the runners-up at a place corrected alone.
        if (span.corrections.size() == 1) {
            const Candidate& first = candidates[span.corrections.front()];
            std::vector<const Candidate*> others;
            for (const Candidate& c : candidates) {
                if (c.position == first.position && c.width() == first.width() && &c != &first && margin(c) > 0)
                    others.push_back(&c);
            }
            std::stable_sort(others.begin(), others.end(),
                             [](const Candidate* a, const Candidate* b) { return a->score > b->score; });
            for (const Candidate* c : others) {
                if (finding.suggestions.size() >= kMaxSuggestions)
                    break;
                std::u32string other = best;
                other[c->position - span.start] = c->replacement;
                if (c->second)
                    other[c->position + 1 - span.start] = c->second;
                finding.suggestions.emplace_back(other, countOf(other));
            }
        }
        out.push_back(std::move(finding));
    }
}

// A doubtful character (see Run::doubtful) that no candidate corrected, where
// the best candidate came within Thresholds::detect of winning and the model
// prefers it by Thresholds::detectGain at least: the model is sure something
// is wrong there, not of what was meant. The character is reported with its
// best candidates, best first, and the writer chooses.
void Checker::reportDoubts(const Run& run, const std::vector<Candidate>& candidates, std::vector<Raw>& out) const
{
    std::vector<const Candidate*> here;
    for (size_t p = 0; p < run.text.size(); ++p) {
        if (!run.doubtful[p] || run.fixed[p] != run.text[p])
            continue;
        here.clear();
        bool close = false;
        for (const Candidate& c : candidates) {
            // A similar shape alone is too weak a lead for a place nothing corrected.
            if (c.position != p || c.second || c.settled || c.type == ErrorShape || c.gain < m_thresholds.detectGain)
                continue;
            here.push_back(&c);
            close = close || margin(c) > -m_thresholds.detect;
        }
        if (!close)
            continue;
        std::stable_sort(here.begin(), here.end(),
                         [](const Candidate* a, const Candidate* b) { return a->score > b->score; });
        Raw finding{run.start + p, 1, here.front()->type, {}};
        if (m_debug)
            std::fprintf(stderr, "doubt\t%s\t%zu\t%s\n", encodeUtf8(run.text).c_str(), run.start + p,
                         encodeUtf8(run.text[p]).c_str());
        for (const Candidate* c : here) {
            if (finding.suggestions.size() == kMaxSuggestions)
                break;
            finding.suggestions.emplace_back(std::u32string(1, c->replacement), -1);
        }
        out.push_back(std::move(finding));
    }
}

// Step 4: the rules that need no model: a function character typed twice, and
// "的" between a verb and a degree word where the complement takes "得".
void Checker::applyRules(const Run& run, const Options& options, std::vector<Raw>& out) const
{
    if (!options.homophone && !options.collocation)
        return;
    const std::u32string& text = run.text;
    const std::vector<size_t> lengths = segment(text);
    std::vector<size_t> starts;
    size_t p = 0;
    for (size_t length : lengths) {
        starts.push_back(p);
        p += length;
    }
    for (size_t t = 0; t + 1 < lengths.size(); ++t) {
        const size_t a = starts[t];
        if (options.homophone && lengths[t] == 1 && lengths[t + 1] == 1 && text[a] == text[a + 1] &&
            kNoDoubleChars.find(text[a]) != std::u32string::npos && m_lexicon.frequency(text.data() + a, 2) == 0) {
            out.push_back(Raw{run.start + a, 2, ErrorLoneChar, {{text.substr(a, 1), -1}}});
            ++t;
            continue;
        }
        if (options.collocation && t + 2 < lengths.size() && lengths[t + 1] == 1 && text[starts[t + 1]] == U'的') {
            const std::u32string verb = text.substr(a, lengths[t]);
            const std::u32string next = text.substr(starts[t + 2], lengths[t + 2]);
            const bool degree = std::any_of(std::begin(kDegreeWords), std::end(kDegreeWords),
                                            [&](const std::u32string& d) { return next.compare(0, d.size(), d) == 0; });
            if (degree && m_lexicon.tag(verb) == "v")
                out.push_back(Raw{run.start + a, lengths[t] + 1, ErrorCollocation, {{verb + U"得", -1}}});
        }
    }
}

// Step 5: the operator's sensitive words.
void Checker::addSensitiveWords(const std::u32string& chars, const SensitiveList& sensitive, std::vector<Raw>& out)
{
    for (const auto& [start, entry] : sensitive.find(chars)) {
        Raw finding{start, entry->word.size(), ErrorSensitive, {}};
        if (!entry->replacement.empty())
            finding.suggestions.emplace_back(entry->replacement, -1);
        out.push_back(std::move(finding));
    }
}

// Step 6: words of the user's own dictionary are never reported, nor anything
// overlapping one of them.
void Checker::dropUserWords(const std::u32string& chars, const std::vector<std::u32string>& userWords,
                            std::vector<Raw>& out)
{
    if (userWords.empty())
        return;
    std::vector<std::pair<size_t, size_t>> protectedRanges;
    for (const std::u32string& word : userWords) {
        if (word.empty())
            continue;
        for (size_t at = chars.find(word); at != std::u32string::npos; at = chars.find(word, at + 1))
            protectedRanges.emplace_back(at, word.size());
    }
    out.erase(std::remove_if(out.begin(), out.end(),
                             [&](const Raw& r) {
                                 const std::u32string wrong = chars.substr(r.start, r.length);
                                 if (std::find(userWords.begin(), userWords.end(), wrong) != userWords.end())
                                     return true;
                                 return std::any_of(protectedRanges.begin(), protectedRanges.end(), [&](const auto& p) {
                                     return r.start < p.first + p.second && p.first < r.start + r.length;
                                 });
                             }),
              out.end());
}

namespace {

// Step 7: the findings in text order.
template <typename RawList>
std::vector<Finding> toFindings(const DecodedText& decoded, RawList& raw)
{
    std::stable_sort(raw.begin(), raw.end(), [](const auto& a, const auto& b) { return a.start < b.start; });
    // One finding per occurrence: a finding's spans are the parts of its one
    // wrong text, so repeats of an error are separate findings, each where it
    // stands.
    std::vector<Finding> findings;
    for (const auto& r : raw) {
        Finding f;
        f.text = encodeUtf8(decoded.chars.substr(r.start, r.length));
        f.type = r.type;
        for (const auto& [suggestion, count] : r.suggestions)
            f.suggestions.emplace_back(encodeUtf8(suggestion), count);
        f.spans.emplace_back(decoded.utf16Start(r.start), decoded.utf16End(r.start + r.length - 1));
        findings.push_back(std::move(f));
    }
    return findings;
}

} // namespace

std::vector<Finding> Checker::check(const std::string& text, const Options& options, const SensitiveList* sensitive,
                                    const std::vector<std::u32string>& userWords) const
{
    DecodedText decoded;
    if (!decodeUtf8(text, decoded))
        return {};
    const std::u32string& chars = decoded.chars;
    if (m_debug)
        std::fprintf(stderr, "text\t%s\n", text.c_str());

    std::vector<Raw> raw;
    for (size_t i = 0; i < chars.size();) {
        if (!isHan(chars[i])) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < chars.size() && isHan(chars[j]))
            ++j;
        Run run;
        run.start = i;
        run.text = chars.substr(i, j - i);
        run.fixed = run.text;
        i = j;

        const size_t ruled = raw.size();
        applyRules(run, options, raw);
        if (!options.homophone && !options.shape)
            continue;
        std::vector<Candidate> candidates;
        proposeCandidates(run, options, candidates);
        // The rules' findings are more certain than the model's: leave their characters alone.
        for (size_t r = ruled; r < raw.size(); ++r) {
            for (Candidate& c : candidates) {
                if (c.overlaps(raw[r].start - run.start, raw[r].length))
                    c.settled = true;
            }
        }
        scoreCandidates(run, candidates);
        chooseCorrections(run, candidates, raw);
    }
    if (options.sensitive && sensitive)
        addSensitiveWords(chars, *sensitive, raw);
    dropUserWords(chars, userWords, raw);
    return toFindings(decoded, raw);
}

} // namespace quillet
