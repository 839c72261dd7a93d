#include "Checker.h"
#include "Utf.h"

#include <algorithm>
#include <cmath>
#include <fstream>
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
};

// One character of a run that might have been meant in place of the one written.
struct Checker::Candidate
{
    size_t position = 0; // in the run
    char32_t written = 0;
    char32_t replacement = 0;
    int type = 0;              // error-type bit
    uint32_t learnt = 0;       // how often writers were seen to confuse the pair, 0 when never
    double channel = 0;        // for a learnt pair: -ln of how often the meant character comes out so
    bool fromWord = false;     // it makes a word of the lexicon
    bool inWord = false;       // the written character is part of a frequent word
    bool replacesWord = false; // the text it replaces is a word itself, however rare
    double gain = 0;           // how much more likely the model finds the text with it (nats)
    double wordGain = 0;       // how much better the text reads as the lexicon's words with it
    double score = 0;          // the two combined, compared with the threshold
    bool settled = false;      // chosen, or its position has been corrected
};

// A finding before merging: where it stands in the decoded text.
struct Checker::Raw
{
    size_t start;
    size_t length;
    int type;
    std::vector<std::pair<std::u32string, int>> suggestions;
};

Checker::Checker(const Lexicon& lexicon, const LanguageModel& model)
    : Checker(lexicon, model, Thresholds())
{
}

Checker::Checker(const Lexicon& lexicon, const LanguageModel& model, const Thresholds& thresholds)
    : m_lexicon(lexicon)
    , m_model(model)
    , m_thresholds(thresholds)
    , m_debug(std::getenv("QUILLET_CHECKER_DEBUG") != nullptr)
{
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
    double score[2 * kContext + 2];
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
void Checker::proposeCandidates(const Run& run, const Options& options, std::vector<Candidate>& out) const
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
                const int type = typeOf(written, l.c, true, 0, m_lexicon.confusion(written, l.c));
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
    for (size_t k = first; k < out.size(); ++k)
        out[k].inWord = inWord[out[k].position];
    out.erase(std::remove_if(out.begin() + std::ptrdiff_t(first), out.end(),
                             [&](const Candidate& c) {
                                 return deUse[c.position] == DeStays ||
                                        (deUse[c.position] == DeAdverbial && c.replacement == U'的');
                             }),
              out.end());
}

// The text around one place as it stands, scored once for all its candidates.
struct Checker::Baseline
{
    size_t position = std::u32string::npos;
    LanguageModel::Variants model; // the text around it, as the model scores it
    double wordScore = 0;
};

// How much more likely the model finds the text with the candidate in place,
// judged over the characters around it, and how much better the corrected
// text reads as words of the lexicon; both go into the candidate's score.
void Checker::score(const std::u32string& text, Candidate& candidate, Baseline& baseline) const
{
    const size_t position = candidate.position;
    const size_t lo = position > kContext ? position - kContext : 0;
    const size_t hi = std::min(text.size(), position + kContext + 1);
    if (baseline.position != position) {
        baseline.position = position;
        baseline.model.reset(m_model, text.data() + lo, hi - lo);
        baseline.wordScore = bestScore(text.data() + lo, hi - lo);
    }
    char32_t window[2 * kContext + 1];
    std::copy(text.begin() + std::ptrdiff_t(lo), text.begin() + std::ptrdiff_t(hi), window);
    window[position - lo] = candidate.replacement;
    candidate.gain = baseline.model.cost() - baseline.model.costWith(position - lo, candidate.replacement);
    candidate.wordGain = bestScore(window, hi - lo) - baseline.wordScore;
    const double weight = candidate.learnt                   ? m_thresholds.learntWordWeight
                          : !candidate.fromWord              ? m_thresholds.singleWordWeight
                          : candidate.type == ErrorHomophone ? m_thresholds.wordWeight
                          : candidate.type == ErrorShape     ? m_thresholds.shapeWordWeight
                                                             : 0.0;
    candidate.score = candidate.gain + weight * std::clamp(candidate.wordGain, -kMaxWordGain, kMaxWordGain);
}

// How far a candidate clears its threshold (positive: it is proposed). A
// character that turns a non-word into a frequent word of the lexicon by a
// wide margin is proposed as long as the model does not object.
double Checker::margin(const Candidate& candidate) const
{
    const double byModel = candidate.score - threshold(candidate);
    if (byModel <= 0 && candidate.fromWord && !candidate.replacesWord && !candidate.inWord && !candidate.learnt &&
        candidate.type != ErrorShape && candidate.wordGain >= m_thresholds.wordRule &&
        candidate.gain >= m_thresholds.wordRuleModel)
        return 0.01;
    return byModel;
}

double Checker::threshold(const Candidate& candidate) const
{
    return baseThreshold(candidate) + (candidate.inWord && !candidate.learnt ? m_thresholds.inWord : 0.0);
}

double Checker::baseThreshold(const Candidate& candidate) const
{
    if (kParticles.find(candidate.written) != std::u32string::npos &&
        kParticles.find(candidate.replacement) != std::u32string::npos)
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
            std::fprintf(stderr, "cand\t%s\t%zu\t%s\t%s\t%.2f\t%.2f\t%d\t%u\t%d\t%.2f\t%.2f\t%.2f\t%d\t%d\t%.2f\n",
                         encodeUtf8(run.text).c_str(), run.start + c.position, encodeUtf8(run.text[c.position]).c_str(),
                         encodeUtf8(c.replacement).c_str(), c.gain, c.wordGain, c.type, c.learnt, int(c.fromWord),
                         threshold(c), c.score, margin(c), int(c.inWord), int(c.replacesWord), c.channel);
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
        run.fixed[position] = candidates[best].replacement;
        chosen.push_back(best);
        // The other candidates of that place stay as further suggestions.
        for (Candidate& c : candidates) {
            if (c.position == position)
                c.settled = true;
        }
        // Score again what the change is in the context of.
        Baseline baseline;
        for (Candidate& c : candidates) {
            if (!c.settled && c.position + kContext >= position && c.position <= position + kContext)
                score(run.fixed, c, baseline);
        }
    }
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
        const size_t hi = std::min(run.fixed.size(), position + kContext + 1);
        m_model.cost(run.fixed.data() + lo, hi - lo, &lengths);
        size_t start = position, end = position + 1;
        for (size_t at = lo, i = 0; i < lengths.size(); at += lengths[i++]) {
            if (at <= position && position < at + lengths[i] && lengths[i] <= kMaxFindingWord) {
                start = at;
                end = at + lengths[i];
            }
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
                if (c.position == first.position && &c != &first && margin(c) > 0)
                    others.push_back(&c);
            }
            std::stable_sort(others.begin(), others.end(),
                             [](const Candidate* a, const Candidate* b) { return a->score > b->score; });
            for (const Candidate* c : others) {
                if (finding.suggestions.size() >= kMaxSuggestions)
                    break;
                std::u32string other = best;
                other[c->position - span.start] = c->replacement;
                finding.suggestions.emplace_back(other, countOf(other));
            }
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
                if (run.start + c.position >= raw[r].start && run.start + c.position < raw[r].start + raw[r].length)
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
