#include "Lexicon.h"
#include "Utf.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

namespace quillet {

namespace {

uint64_t mix(uint64_t h)
{
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h ? h : 1;
}

// Hash of a character sequence; open marks a position that is left out (any
// character), npos for none. Different lengths give different hashes.
uint64_t sequenceHash(const char32_t* s, size_t n, size_t open = std::u32string::npos)
{
    uint64_t h = 0xcbf29ce484222325ULL ^ (uint64_t(n) << 56);
    for (size_t i = 0; i < n; ++i) {
        const uint64_t c = i == open ? 0x3FFFFFu : uint64_t(s[i]);
        h = (h ^ c) * 0x100000001b3ULL;
        h ^= h >> 31;
    }
    return mix(h);
}

// Levenshtein distance of two short codes.
size_t editDistance(const std::string& a, const std::string& b)
{
    if (a.size() > 15 || b.size() > 15)
        return 99;
    size_t row[16];
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

std::vector<std::string> split(const std::string& line, char sep)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        const size_t end = line.find(sep, start);
        out.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

} // namespace

// Open-addressing hash table from 64-bit keys (never 0) to two 32-bit values.
class Lexicon::Table
{
public:
    struct Slot
    {
        uint64_t key = 0;
        uint32_t a = 0;
        uint32_t b = 0;
    };

    void reserve(size_t n)
    {
        size_t capacity = 16;
        while (capacity < n * 2)
            capacity <<= 1;
        std::vector<Slot> old;
        old.swap(m_slots);
        m_slots.assign(capacity, Slot());
        m_mask = capacity - 1;
        m_size = 0;
        for (const Slot& slot : old) {
            if (slot.key)
                insert(slot.key, slot.a, slot.b);
        }
    }

    // Inserts or overwrites.
    Slot& insert(uint64_t key, uint32_t a, uint32_t b)
    {
        if ((m_size + 1) * 2 > m_slots.size())
            reserve(m_size + 1 > 8 ? (m_size + 1) * 2 : 16);
        size_t i = key & m_mask;
        while (m_slots[i].key && m_slots[i].key != key)
            i = (i + 1) & m_mask;
        if (!m_slots[i].key)
            ++m_size;
        m_slots[i] = Slot{key, a, b};
        return m_slots[i];
    }

    const Slot* find(uint64_t key) const
    {
        if (m_slots.empty())
            return nullptr;
        size_t i = key & m_mask;
        while (m_slots[i].key) {
            if (m_slots[i].key == key)
                return &m_slots[i];
            i = (i + 1) & m_mask;
        }
        return nullptr;
    }

    void clear()
    {
        m_slots.clear();
        m_size = 0;
        m_mask = 0;
    }

private:
    std::vector<Slot> m_slots;
    size_t m_mask = 0;
    size_t m_size = 0;
};

std::string foldSyllable(const std::string& syllable)
{
    std::string s = syllable;
    if (s.size() > 2 && (s.compare(0, 2, "zh") == 0 || s.compare(0, 2, "ch") == 0 || s.compare(0, 2, "sh") == 0))
        s.erase(1, 1);
    else if (s.size() > 1 && s[0] == 'n')
        s[0] = 'l';
    if (s.size() > 2 && s.compare(s.size() - 2, 2, "ng") == 0)
        s.erase(s.size() - 1);
    return s;
}

Lexicon::Lexicon()
    : m_words(new Table)
    , m_candidates(new Table)
    , m_knownCandidates(new Table)
{
}

Lexicon::~Lexicon()
{
    delete m_words;
    delete m_candidates;
    delete m_knownCandidates;
}

uint16_t Lexicon::syllableId(const std::string& s)
{
    const auto it = m_syllableIds.find(s);
    if (it != m_syllableIds.end())
        return it->second;
    const auto id = uint16_t(m_syllables.size());
    m_syllables.push_back(s);
    m_syllableIds.emplace(s, id);
    return id;
}

void Lexicon::addChar(char32_t c, const std::vector<std::string>& readings, int radical, int residual, bool common,
                      const std::vector<int>& phonetic, int strokes, const std::u32string& variants,
                      const std::string& cangjie, bool traditional)
{
    CharInfo info;
    info.traditional = traditional;
    info.variants = variants;
    info.cangjie = cangjie;
    for (int ph : phonetic) {
        if (ph > 0 && ph < 0x10000)
            info.phonetic.push_back(uint16_t(ph));
    }
    info.strokes = uint16_t(std::clamp(strokes, 0, 0xFFFF));
    for (const std::string& r : readings) {
        if (r.empty())
            continue;
        info.syllables.push_back(syllableId(r));
        const uint16_t folded = syllableId(foldSyllable(r));
        if (std::find(info.folded.begin(), info.folded.end(), folded) == info.folded.end())
            info.folded.push_back(folded);
    }
    info.radical = uint16_t(std::max(0, radical));
    info.residual = uint16_t(std::max(0, residual));
    info.common = common;
    const auto index = int32_t(m_chars.size());
    m_chars.push_back(std::move(info));
    m_charList.push_back(c);
    if (c < 0x30000) {
        if (m_charIndex.size() <= c)
            m_charIndex.resize(0x30000, -1);
        m_charIndex[c] = index;
    } else {
        m_farChars[c] = index;
    }
}

void Lexicon::addLearnt(char32_t wrong, char32_t right, uint32_t count, uint32_t meant)
{
    if (wrong == right || count == 0)
        return;
    const double channel = -std::log(double(count) / double(std::max(count, meant)));
    std::vector<Learnt>& list = m_learnt[wrong];
    const auto at = std::find_if(list.begin(), list.end(), [&](const Learnt& l) { return l.count < count; });
    list.insert(at, Learnt{right, count, channel});
}

const std::vector<Lexicon::Learnt>* Lexicon::learnt(char32_t c) const
{
    const auto it = m_learnt.find(c);
    return it == m_learnt.end() ? nullptr : &it->second;
}

void Lexicon::addWord(const std::u32string& word, uint32_t freq, const std::string& tag)
{
    if (word.empty() || freq == 0)
        return;
    auto tagIt = std::find(m_tags.begin(), m_tags.end(), tag);
    if (tagIt == m_tags.end())
        tagIt = m_tags.insert(m_tags.end(), tag);
    m_words->insert(sequenceHash(word.data(), word.size()), freq, uint32_t(tagIt - m_tags.begin()));
    ++m_wordCount;
    m_total += freq;
    m_maxWordLength = std::max(m_maxWordLength, word.size());
    if (word.size() >= 2 && word.size() <= kMaxCandidateLength && freq >= kMinCandidateFrequency)
        m_pending.emplace_back(word, freq);
}

void Lexicon::addKnownWord(const std::u32string& word, Listing listing)
{
    // Kept in the word table with frequency 0 and the listing in place of a
    // tag (a word of the lexicon's own takes precedence), so that one look-up
    // answers both questions.
    if (word.size() < 2 || listing == NotListed)
        return;
    // The other lists take in phrases too (你的心, 也不知道): only the
    // project's own specialist words are corrected towards, those too rare
    // for the candidate index among them (抗辩权).
    const uint32_t freq = frequency(word);
    if (listing == ListedByUs && freq < kMinCandidateFrequency && word.size() >= 3 &&
        word.size() <= kMaxKnownCandidateLength)
        m_pendingKnown.push_back(word);
    if (freq > 0)
        return;
    m_words->insert(sequenceHash(word.data(), word.size()), 0, listing);
    ++m_knownCount;
    m_maxWordLength = std::max(m_maxWordLength, word.size());
}

uint32_t Lexicon::frequency(const char32_t* s, size_t n, Listing* listing) const
{
    *listing = NotListed;
    if (n == 0 || n > m_maxWordLength)
        return 0;
    const Table::Slot* slot = m_words->find(sequenceHash(s, n));
    if (!slot)
        return 0;
    if (slot->a == 0)
        *listing = Listing(slot->b);
    return slot->a;
}

std::vector<Lexicon::PairWord> Lexicon::pairWords(char32_t a, char32_t b) const
{
    std::vector<PairWord> out;
    const CharInfo* x = charInfo(a);
    const CharInfo* y = charInfo(b);
    if (!x || !y)
        return out;
    for (uint16_t fa : x->folded) {
        for (uint16_t fb : y->folded) {
            const auto it = m_pairWords.find(uint32_t(fa) << 16 | fb);
            if (it == m_pairWords.end())
                continue;
            for (const PairWord& w : it->second) {
                if (std::none_of(out.begin(), out.end(),
                                 [&](const PairWord& o) { return o.first == w.first && o.second == w.second; }))
                    out.push_back(w);
            }
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const PairWord& l, const PairWord& r) { return l.freq > r.freq; });
    return out;
}

void Lexicon::finish()
{
    // Frequent two-character words by the folded readings of their characters.
    m_pairWords.clear();
    for (const auto& [word, freq] : m_pending) {
        if (word.size() != 2 || freq < kMinPairFrequency)
            continue;
        const CharInfo* x = charInfo(word[0]);
        const CharInfo* y = charInfo(word[1]);
        if (!x || !y || !x->common || !y->common)
            continue;
        for (uint16_t fa : x->folded) {
            for (uint16_t fb : y->folded) {
                std::vector<PairWord>& list = m_pairWords[uint32_t(fa) << 16 | fb];
                if (list.empty() || list.back().first != word[0] || list.back().second != word[1])
                    list.push_back(PairWord{word[0], word[1], freq});
            }
        }
    }

    struct Entry
    {
        uint64_t key;
        Candidate candidate;
    };
    std::vector<Entry> entries;
    entries.reserve(m_pending.size() * 3);
    for (const auto& [word, freq] : m_pending) {
        for (size_t open = 0; open < word.size(); ++open)
            entries.push_back(Entry{sequenceHash(word.data(), word.size(), open), Candidate{word[open], freq}});
    }
    m_pending.clear();
    m_pending.shrink_to_fit();
    std::sort(entries.begin(), entries.end(), [](const Entry& x, const Entry& y) {
        return x.key != y.key ? x.key < y.key : x.candidate.freq > y.candidate.freq;
    });
    m_candidateList.clear();
    m_candidateList.reserve(entries.size());
    m_candidates->clear();
    m_candidates->reserve(entries.size() / 2 + 16);
    size_t i = 0;
    while (i < entries.size()) {
        size_t j = i;
        while (j < entries.size() && entries[j].key == entries[i].key) {
            m_candidateList.push_back(entries[j].candidate);
            ++j;
        }
        m_candidates->insert(entries[i].key, uint32_t(m_candidateList.size() - (j - i)), uint32_t(j - i));
        i = j;
    }
    // The same for the project's own specialist words the index above lacks.
    std::vector<std::pair<uint64_t, char32_t>> known;
    m_knownCandidateChars.clear();
    for (const std::u32string& word : m_pendingKnown) {
        m_knownCandidateChars.insert(m_knownCandidateChars.end(), word.begin(), word.end());
        for (size_t open = 0; open < word.size(); ++open)
            known.emplace_back(sequenceHash(word.data(), word.size(), open), word[open]);
    }
    m_pendingKnown.clear();
    m_pendingKnown.shrink_to_fit();
    std::sort(m_knownCandidateChars.begin(), m_knownCandidateChars.end());
    m_knownCandidateChars.erase(std::unique(m_knownCandidateChars.begin(), m_knownCandidateChars.end()),
                                m_knownCandidateChars.end());
    std::sort(known.begin(), known.end());
    known.erase(std::unique(known.begin(), known.end()), known.end());
    m_knownCandidateList.clear();
    m_knownCandidateList.reserve(known.size());
    m_knownCandidates->clear();
    m_knownCandidates->reserve(known.size() / 2 + 16);
    for (size_t i = 0, j; i < known.size(); i = j) {
        for (j = i; j < known.size() && known[j].first == known[i].first; ++j)
            m_knownCandidateList.push_back(known[j].second);
        m_knownCandidates->insert(known[i].first, uint32_t(m_knownCandidateList.size() - (j - i)), uint32_t(j - i));
    }

    if (m_total == 0)
        m_total = 1;
    m_logTotal = std::log(double(m_total));

    buildConfusions();

    // Frequent characters by reading, for homophones().
    std::unordered_map<uint16_t, std::vector<std::pair<uint32_t, char32_t>>> bySyllable;
    for (size_t i = 0; i < m_chars.size(); ++i) {
        const char32_t c = m_charList[i];
        const uint32_t freq = frequency(&c, 1);
        if (freq < kMinHomophoneFrequency || !m_chars[i].common)
            continue;
        for (uint16_t s : m_chars[i].syllables)
            bySyllable[s].emplace_back(freq, c);
    }
    m_homophones.clear();
    for (size_t i = 0; i < m_chars.size(); ++i) {
        std::vector<std::pair<uint32_t, char32_t>> all;
        for (uint16_t s : m_chars[i].syllables) {
            const auto it = bySyllable.find(s);
            if (it == bySyllable.end())
                continue;
            for (const auto& entry : it->second) {
                if (entry.second != m_charList[i] && std::find(all.begin(), all.end(), entry) == all.end())
                    all.push_back(entry);
            }
        }
        if (all.empty())
            continue;
        std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        std::vector<char32_t>& list = m_homophones[m_charList[i]];
        for (size_t k = 0; k < all.size() && k < kMaxHomophones; ++k)
            list.push_back(all[k].second);
    }
}

void Lexicon::buildConfusions()
{
    // Pairs of common characters that can be confused can only share a
    // reading, a folded reading, a phonetic, a radical or a Cangjie code with
    // one letter left out: gather those groups, then judge each pair in them.
    std::unordered_map<uint64_t, std::vector<uint32_t>> groups;
    auto key = [](uint64_t kind, uint64_t value) { return (kind << 56) ^ value; };
    for (uint32_t i = 0; i < m_chars.size(); ++i) {
        const CharInfo& info = m_chars[i];
        if (!info.common)
            continue;
        for (uint16_t s : info.syllables)
            groups[key(1, s)].push_back(i);
        for (uint16_t s : info.folded)
            groups[key(2, s)].push_back(i);
        for (uint16_t ph : info.phonetic)
            groups[key(3, ph)].push_back(i);
        if (info.radical)
            groups[key(4, info.radical)].push_back(i);
        if (info.cangjie.size() >= 3) {
            groups[key(5, std::hash<std::string>()(info.cangjie) >> 8)].push_back(i);
            for (size_t k = 0; k < info.cangjie.size(); ++k) {
                std::string shorter = info.cangjie;
                shorter.erase(k, 1);
                groups[key(5, std::hash<std::string>()(shorter) >> 8)].push_back(i);
            }
        }
    }
    std::vector<std::vector<uint32_t>> related(m_chars.size());
    for (const auto& entry : groups) {
        const std::vector<uint32_t>& members = entry.second;
        for (uint32_t i : members) {
            for (uint32_t j : members) {
                if (i != j)
                    related[i].push_back(j);
            }
        }
    }
    for (uint32_t i = 0; i < m_chars.size(); ++i) {
        std::vector<uint32_t>& list = related[i];
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
        CharInfo& info = m_chars[i];
        info.confusable.clear();
        for (uint32_t j : list) {
            const int bits = confusionOf(info, m_chars[j], m_charList[i], m_charList[j]);
            if (bits)
                info.confusable.emplace_back(m_charList[j], uint8_t(bits));
        }
        std::sort(info.confusable.begin(), info.confusable.end());
        std::vector<uint32_t>().swap(list);
    }
    m_confusionsBuilt = true;
}

const std::vector<char32_t>& Lexicon::homophones(char32_t c) const
{
    static const std::vector<char32_t> none;
    const auto it = m_homophones.find(c);
    return it == m_homophones.end() ? none : it->second;
}

bool Lexicon::load(const std::string& path, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error)
            *error = "cannot open lexicon " + path;
        return false;
    }
    std::string line;
    size_t lineNo = 0;
    uint64_t declaredTotal = 0;
    m_words->reserve(400000);
    while (std::getline(in, line)) {
        ++lineNo;
        if (line.empty() || line[0] == '#')
            continue;
        const std::vector<std::string> f = split(line, '\t');
        bool ok = false;
        if (f[0] == "W" && f.size() >= 3) {
            const std::u32string word = toU32(f[1]);
            const unsigned long freq = std::strtoul(f[2].c_str(), nullptr, 10);
            if (!word.empty() && freq > 0) {
                addWord(word, uint32_t(std::min<unsigned long>(freq, 0xFFFFFFFFu)), f.size() > 3 ? f[3] : "x");
                ok = true;
            }
        } else if (f[0] == "C" && f.size() >= 6) {
            const std::u32string c = toU32(f[1]);
            if (c.size() == 1) {
                std::vector<int> phonetic;
                if (f.size() > 6 && !f[6].empty()) {
                    for (const std::string& ph : split(f[6], ','))
                        phonetic.push_back(std::atoi(ph.c_str()));
                }
                addChar(c[0], f[2].empty() ? std::vector<std::string>() : split(f[2], ','), std::atoi(f[3].c_str()),
                        std::atoi(f[4].c_str()), f[5] == "1", phonetic, f.size() > 7 ? std::atoi(f[7].c_str()) : 0,
                        f.size() > 8 ? toU32(f[8]) : std::u32string(), f.size() > 9 ? f[9] : std::string(),
                        f.size() > 10 && f[10] == "1");
                ok = true;
            }
        } else if (f[0] == "P" && f.size() >= 5) {
            const std::u32string wrong = toU32(f[1]);
            const std::u32string right = toU32(f[2]);
            const unsigned long count = std::strtoul(f[3].c_str(), nullptr, 10);
            const unsigned long meant = std::strtoul(f[4].c_str(), nullptr, 10);
            if (wrong.size() == 1 && right.size() == 1 && count > 0) {
                addLearnt(wrong[0], right[0], uint32_t(std::min<unsigned long>(count, 0xFFFFFFFFu)),
                          uint32_t(std::min<unsigned long>(meant, 0xFFFFFFFFu)));
                ok = true;
            }
        } else if (f[0] == "K" && f.size() >= 2) {
            addKnownWord(toU32(f[1]), f.size() > 2 && f[2] == "ours" ? ListedByUs : ListedElsewhere);
            ok = true;
        } else if (f[0] == "T" && f.size() >= 2) {
            declaredTotal = std::strtoull(f[1].c_str(), nullptr, 10);
            ok = true;
        }
        if (!ok) {
            if (error)
                *error = path + ":" + std::to_string(lineNo) + ": malformed line";
            return false;
        }
    }
    if (m_wordCount == 0) {
        if (error)
            *error = "lexicon " + path + " holds no words";
        return false;
    }
    if (declaredTotal > m_total)
        m_total = declaredTotal;
    finish();
    return true;
}

uint32_t Lexicon::frequency(const char32_t* s, size_t n) const
{
    if (n == 0 || n > m_maxWordLength)
        return 0;
    const Table::Slot* slot = m_words->find(sequenceHash(s, n));
    return slot ? slot->a : 0;
}

std::string Lexicon::tag(const std::u32string& s) const
{
    if (s.empty())
        return {};
    const Table::Slot* slot = m_words->find(sequenceHash(s.data(), s.size()));
    return slot && slot->a > 0 ? m_tags[slot->b] : std::string();
}

const Lexicon::Candidate* Lexicon::candidates(const char32_t* s, size_t n, size_t open, size_t* count) const
{
    *count = 0;
    if (n < 2 || n > kMaxCandidateLength || open >= n)
        return nullptr;
    const Table::Slot* slot = m_candidates->find(sequenceHash(s, n, open));
    if (!slot)
        return nullptr;
    *count = slot->b;
    return m_candidateList.data() + slot->a;
}

const char32_t* Lexicon::knownCandidates(const char32_t* s, size_t n, size_t open, size_t* count) const
{
    *count = 0;
    if (n < 3 || n > kMaxKnownCandidateLength || open >= n)
        return nullptr;
    const Table::Slot* slot = m_knownCandidates->find(sequenceHash(s, n, open));
    if (!slot)
        return nullptr;
    *count = slot->b;
    return m_knownCandidateList.data() + slot->a;
}

const Lexicon::CharInfo* Lexicon::charInfo(char32_t c) const
{
    if (c < m_charIndex.size()) {
        const int32_t index = m_charIndex[c];
        return index < 0 ? nullptr : &m_chars[size_t(index)];
    }
    const auto it = m_farChars.find(c);
    return it == m_farChars.end() ? nullptr : &m_chars[size_t(it->second)];
}

int Lexicon::confusion(char32_t a, char32_t b) const
{
    if (a == b)
        return ConfusionNone;
    const CharInfo* x = charInfo(a);
    const CharInfo* y = charInfo(b);
    if (!x || !y)
        return ConfusionNone;
    if (x->common && y->common && m_confusionsBuilt) {
        const auto it = std::lower_bound(x->confusable.begin(), x->confusable.end(), b,
                                         [](const std::pair<char32_t, uint8_t>& e, char32_t c) { return e.first < c; });
        return it != x->confusable.end() && it->first == b ? int(it->second) : int(ConfusionNone);
    }
    return confusionOf(*x, *y, a, b);
}

int Lexicon::confusionOf(const CharInfo& xi, const CharInfo& yi, char32_t a, char32_t b)
{
    const CharInfo* x = &xi;
    const CharInfo* y = &yi;
    if (x->variants.find(b) != std::u32string::npos || y->variants.find(a) != std::u32string::npos)
        return ConfusionNone;
    int bits = ConfusionNone;
    for (uint16_t s : x->syllables) {
        if (std::find(y->syllables.begin(), y->syllables.end(), s) != y->syllables.end()) {
            bits |= ConfusionHomophone;
            break;
        }
    }
    if (!(bits & ConfusionHomophone)) {
        for (uint16_t s : x->folded) {
            if (std::find(y->folded.begin(), y->folded.end(), s) != y->folded.end()) {
                bits |= ConfusionNearSound;
                break;
            }
        }
    }
    const size_t shorter = std::min(x->cangjie.size(), y->cangjie.size());
    const size_t longer = std::max(x->cangjie.size(), y->cangjie.size());
    const bool sameRadical =
        x->radical && x->radical == y->radical && std::abs(int(x->residual) - int(y->residual)) <= 1;
    if (shorter > 0 && longer - shorter <= 2 && (sameRadical || shorter >= 3)) {
        const size_t codeDistance = editDistance(x->cangjie, y->cangjie);
        if ((shorter >= 3 && codeDistance <= 1) || (sameRadical && codeDistance <= 2))
            bits |= ConfusionShape;
    }
    if (!(bits & ConfusionShape) && x->strokes && y->strokes && std::abs(int(x->strokes) - int(y->strokes)) <= 2) {
        for (uint16_t ph : x->phonetic) {
            if (std::find(y->phonetic.begin(), y->phonetic.end(), ph) != y->phonetic.end()) {
                bits |= ConfusionShape;
                break;
            }
        }
    }
    return bits;
}

bool Lexicon::isOtherForm(char32_t c) const
{
    const CharInfo* info = charInfo(c);
    if (!info)
        return false;
    if (info->traditional)
        return true;
    if (info->common)
        return false;
    for (char32_t v : info->variants) {
        const CharInfo* other = charInfo(v);
        if (other && other->common)
            return true;
    }
    return false;
}

bool Lexicon::areVariants(char32_t a, char32_t b) const
{
    const CharInfo* x = charInfo(a);
    const CharInfo* y = charInfo(b);
    return (x && x->variants.find(b) != std::u32string::npos) || (y && y->variants.find(a) != std::u32string::npos);
}

std::vector<std::string> Lexicon::readings(char32_t c) const
{
    std::vector<std::string> out;
    if (const CharInfo* info = charInfo(c)) {
        for (uint16_t s : info->syllables)
            out.push_back(m_syllables[s]);
    }
    return out;
}

} // namespace quillet
