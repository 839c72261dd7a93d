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
// Context on either side of a window that a replacement is scored in.
constexpr size_t kContext = 5;
// A window that is itself a word this frequent is taken as written.
constexpr uint32_t kRareWord = 10;
// Replacement words for a similar-looking character must be at least this frequent.
constexpr uint32_t kMinShapeWordFrequency = 300;
constexpr size_t kMaxSuggestions = 3;

// Characters that are practically never doubled in running text; "的的" or
// "了了" between two words is a slip of the keyboard.
const std::u32string kNoDoubleChars = U"的了是在和与及对把被从向就也都而并但于为将这那地得着过吗呢吧其之";
const std::u32string kDegreeWords[] = {U"很", U"非常", U"十分", U"特别", U"极其", U"相当", U"太", U"更加", U"格外"};

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
            if (entry.word.size() <= text.size() - i && text.compare(i, entry.word.size(), entry.word) == 0
                && (!best || entry.word.size() > best->word.size()))
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

struct Checker::Candidate
{
    size_t start = 0;   // window start, index into the decoded text
    size_t length = 0;  // window length
    size_t position = 0; // the replaced character
    std::u32string replacement; // the whole window as corrected
    uint32_t freq = 0;
    double gain = 0;
    int type = 0;
};

Checker::Checker(const Lexicon& lexicon)
    : m_lexicon(lexicon)
{
}

double Checker::wordScore(const char32_t* s, size_t n) const
{
    const uint32_t freq = m_lexicon.frequency(s, n);
    if (freq == 0)
        return n == 1 ? -m_lexicon.logTotal() : kImpossible;
    return std::log(double(freq)) - m_lexicon.logTotal();
}

double Checker::bestScore(const char32_t* s, size_t n) const
{
    const size_t maxLength = std::min(kMaxSegmentWord, m_lexicon.maxWordLength());
    double best[64];
    std::vector<double> heap;
    double* score = best;
    if (n + 1 > 64) {
        heap.resize(n + 1);
        score = heap.data();
    }
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

bool Checker::isToken(const std::u32string& text, size_t start, size_t length) const
{
    size_t p = 0;
    for (size_t l : segment(text)) {
        if (p == start)
            return l == length;
        if (p > start)
            return false;
        p += l;
    }
    return false;
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

void Checker::findReplacements(const std::u32string& run, size_t runStart, const Options& options,
                               std::vector<Candidate>& out) const
{
    const size_t n = run.size();
    if (n < 2)
        return;
    // Which characters stand alone in the best reading of the run as written:
    // a replacement is only considered there, so that characters inside
    // ordinary words are never touched.
    std::vector<bool> single(n, false);
    {
        size_t p = 0;
        for (size_t length : segment(run)) {
            if (length == 1)
                single[p] = true;
            p += length;
        }
    }

    std::u32string changed;
    for (size_t s = 0; s + 1 < n; ++s) {
        for (size_t length = 2; length <= Lexicon::kMaxCandidateLength && s + length <= n; ++length) {
            const uint32_t asWritten = m_lexicon.frequency(run.data() + s, length);
            if (asWritten > kRareWord)
                continue;
            const size_t lo = s > kContext ? s - kContext : 0;
            const size_t hi = std::min(n, s + length + kContext);
            double original = 0;
            bool haveOriginal = false;
            for (size_t open = 0; open < length; ++open) {
                const size_t p = s + open;
                if (asWritten == 0 && !single[p])
                    continue;
                size_t count = 0;
                const Lexicon::Candidate* list = m_lexicon.candidates(run.data() + s, length, open, &count);
                for (size_t k = 0; k < count; ++k) {
                    const Lexicon::Candidate& cand = list[k];
                    if (cand.c == run[p])
                        continue;
                    const Lexicon::CharInfo* info = m_lexicon.charInfo(cand.c);
                    if (!info || !info->common)
                        continue;
                    const int bits = m_lexicon.confusion(run[p], cand.c);
                    int type = 0;
                    if (options.homophone && (bits & ConfusionHomophone))
                        type = ErrorHomophone;
                    else if (options.homophone && (bits & ConfusionNearSound))
                        type = ErrorNearSound;
                    else if (options.shape && (bits & ConfusionShape) && cand.freq >= kMinShapeWordFrequency)
                        type = ErrorShape;
                    if (!type)
                        continue;
                    if (!haveOriginal) {
                        original = bestScore(run.data() + lo, hi - lo);
                        haveOriginal = true;
                    }
                    changed.assign(run, lo, hi - lo);
                    changed[p - lo] = cand.c;
                    const double gain = bestScore(changed.data(), changed.size()) - original;
                    if (std::getenv("QUILLET_CHECKER_DEBUG"))
                        std::fprintf(stderr, "cand %s -> %s gain %.2f type %d freq %u/%u\n",
                                     encodeUtf8(run.substr(s, length)).c_str(), encodeUtf8(cand.c).c_str(), gain, type,
                                     asWritten, cand.freq);
                    // A rare word (often a recorded misspelling) beside a much more frequent
                    // variant needs less: the variant is the usual spelling.
                    const double needed = type == ErrorShape ? kMinGainShape
                        : asWritten > 0 && length >= 3       ? kMinGainVariant
                                                             : kMinGain;
                    if (gain < needed)
                        continue;
                    // The replacement must be a word of the corrected reading, not just
                    // make some other word possible.
                    if (!isToken(changed, s - lo, length))
                        continue;
                    Candidate found;
                    found.start = runStart + s;
                    found.length = length;
                    found.position = runStart + p;
                    found.replacement.assign(run, s, length);
                    found.replacement[open] = cand.c;
                    found.freq = cand.freq;
                    found.gain = gain;
                    found.type = type;
                    out.push_back(std::move(found));
                }
            }
        }
    }
}

std::vector<Finding> Checker::check(const std::string& text, const Options& options, const SensitiveList* sensitive,
                                    const std::vector<std::u32string>& userWords) const
{
    DecodedText decoded;
    if (!decodeUtf8(text, decoded))
        return {};
    const std::u32string& chars = decoded.chars;

    struct Raw
    {
        size_t start;
        size_t length;
        int type;
        std::vector<std::pair<std::u32string, int>> suggestions;
    };
    std::vector<Raw> raw;

    // Runs of Han characters: replacements, doubled characters, collocations.
    size_t i = 0;
    while (i < chars.size()) {
        if (!isHan(chars[i])) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < chars.size() && isHan(chars[j]))
            ++j;
        const std::u32string run = chars.substr(i, j - i);

        if (options.homophone || options.shape) {
            std::vector<Candidate> candidates;
            findReplacements(run, i, options, candidates);
            std::stable_sort(candidates.begin(), candidates.end(),
                             [](const Candidate& a, const Candidate& b) { return a.gain > b.gain; });
            std::vector<std::pair<size_t, size_t>> taken;
            for (const Candidate& c : candidates) {
                const bool overlaps = std::any_of(taken.begin(), taken.end(), [&](const auto& t) {
                    return c.start < t.first + t.second && t.first < c.start + c.length;
                });
                if (overlaps)
                    continue;
                taken.emplace_back(c.start, c.length);
                Raw finding{c.start, c.length, c.type, {}};
                for (const Candidate& other : candidates) {
                    if (finding.suggestions.size() >= kMaxSuggestions)
                        break;
                    if (other.start == c.start && other.length == c.length && other.position == c.position)
                        finding.suggestions.emplace_back(other.replacement, int(other.freq));
                }
                raw.push_back(std::move(finding));
            }
        }

        if (options.homophone || options.collocation) {
            const std::vector<size_t> lengths = segment(run);
            std::vector<size_t> starts;
            size_t p = 0;
            for (size_t length : lengths) {
                starts.push_back(p);
                p += length;
            }
            for (size_t t = 0; t + 1 < lengths.size(); ++t) {
                const size_t a = starts[t];
                // A function character typed twice, each standing alone.
                if (options.homophone && lengths[t] == 1 && lengths[t + 1] == 1 && run[a] == run[a + 1]
                    && kNoDoubleChars.find(run[a]) != std::u32string::npos
                    && m_lexicon.frequency(run.data() + a, 2) == 0) {
                    raw.push_back(Raw{i + a, 2, ErrorLoneChar, {{run.substr(a, 1), -1}}});
                    ++t;
                    continue;
                }
                // A verb, "的" and a degree word: the complement takes "得".
                if (options.collocation && t + 2 < lengths.size() && lengths[t + 1] == 1 && run[starts[t + 1]] == U'的') {
                    const std::u32string verb = run.substr(a, lengths[t]);
                    const std::u32string next = run.substr(starts[t + 2], lengths[t + 2]);
                    const std::string tag = m_lexicon.tag(verb);
                    const bool degree = std::any_of(std::begin(kDegreeWords), std::end(kDegreeWords),
                                                    [&](const std::u32string& d) { return next.compare(0, d.size(), d) == 0; });
                    if (tag == "v" && degree) {
                        raw.push_back(Raw{i + a, lengths[t] + 1, ErrorCollocation, {{verb + U"得", -1}}});
                    }
                }
            }
        }
        i = j;
    }

    if (options.sensitive && sensitive) {
        for (const auto& [start, entry] : sensitive->find(chars)) {
            Raw finding{start, entry->word.size(), ErrorSensitive, {}};
            if (!entry->replacement.empty())
                finding.suggestions.emplace_back(entry->replacement, -1);
            raw.push_back(std::move(finding));
        }
    }

    // Words of the user's own dictionary are never reported.
    if (!userWords.empty()) {
        std::vector<std::pair<size_t, size_t>> protectedRanges;
        for (const std::u32string& word : userWords) {
            if (word.empty())
                continue;
            for (size_t at = chars.find(word); at != std::u32string::npos; at = chars.find(word, at + 1))
                protectedRanges.emplace_back(at, word.size());
        }
        raw.erase(std::remove_if(raw.begin(), raw.end(),
                                 [&](const Raw& r) {
                                     const std::u32string wrong = chars.substr(r.start, r.length);
                                     if (std::find(userWords.begin(), userWords.end(), wrong) != userWords.end())
                                         return true;
                                     return std::any_of(protectedRanges.begin(), protectedRanges.end(), [&](const auto& p) {
                                         return r.start < p.first + p.second && p.first < r.start + r.length;
                                     });
                                 }),
                  raw.end());
    }

    std::stable_sort(raw.begin(), raw.end(), [](const Raw& a, const Raw& b) { return a.start < b.start; });

    // One finding per wrong text, type and suggestions, with every place it stands.
    std::vector<Finding> findings;
    std::map<std::string, size_t> index;
    for (const Raw& r : raw) {
        Finding f;
        f.text = encodeUtf8(chars.substr(r.start, r.length));
        f.type = r.type;
        for (const auto& [suggestion, count] : r.suggestions)
            f.suggestions.emplace_back(encodeUtf8(suggestion), count);
        std::string key = f.text + '\x1f' + std::to_string(f.type);
        for (const auto& s : f.suggestions)
            key += '\x1f' + s.first;
        const std::pair<int, int> span{decoded.utf16Start(r.start), decoded.utf16End(r.start + r.length - 1)};
        const auto it = index.find(key);
        if (it != index.end()) {
            findings[it->second].spans.push_back(span);
            continue;
        }
        f.spans.push_back(span);
        index.emplace(key, findings.size());
        findings.push_back(std::move(f));
    }
    return findings;
}

} // namespace quillet
