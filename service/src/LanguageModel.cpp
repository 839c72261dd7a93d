// The only file that sees libsunpinyin's headers: they define a global wstring
// and specialise std::char_traits<unsigned int>, which must not leak into the
// rest of the service.
#include "LanguageModel.h"
#include "PrivateCopy.h"

#include <slm.h>
#include <pytrie.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <limits>
#include <sys/stat.h>

namespace quillet {

const char* const LanguageModel::kDefaultFolder = "/usr/lib/x86_64-linux-gnu/sunpinyin/data";
const char* const LanguageModel::kPackage = "sunpinyin-data";
const char* const LanguageModel::kAttribution =
    "Language model: sunpinyin-data (lm_sc.t3g, pydict_sc.bin) by the SunPinyin developers, "
    "licensed under CC BY-SA 3.0 (https://creativecommons.org/licenses/by-sa/3.0/)";

namespace {

// Words are hashed a character at a time, so that all words starting at one
// place are looked up in one pass: fold in each character, then finish with
// the length.
constexpr uint64_t kHashStart = 0xcbf29ce484222325ULL;

uint64_t hashFold(uint64_t h, char32_t c)
{
    h = (h ^ uint64_t(c)) * 0x100000001b3ULL;
    return h ^ (h >> 29);
}

uint64_t hashFinish(uint64_t h, size_t n)
{
    h ^= uint64_t(n) << 56;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h ? h : 1;
}

uint64_t wordHash(const char32_t* s, size_t n)
{
    uint64_t h = kHashStart;
    for (size_t i = 0; i < n; ++i)
        h = hashFold(h, s[i]);
    return hashFinish(h, n);
}

bool isFile(const std::string& path)
{
    struct stat info
    {
    };
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// libsunpinyin trusts its files: a truncated one makes it read past the end.
// These checks hold its readers to what the headers promise.

// lm_sc.t3g: order N, log flag, N+1 level sizes, the probability and back-off
// tables, then N levels of 12-byte nodes and one of 8-byte leaves.
bool modelFileIsWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    const uint64_t size = uint64_t(in.tellg());
    in.seekg(0);
    uint32_t header[2] = {0, 0};
    if (!in.read(reinterpret_cast<char*>(header), sizeof header) || header[0] < 1 || header[0] > 8)
        return false;
    const uint32_t order = header[0];
    std::vector<uint32_t> levels(order + 1);
    if (!in.read(reinterpret_cast<char*>(levels.data()), std::streamsize(levels.size() * sizeof(uint32_t))))
        return false;
    uint64_t expected =
        4ull * (2 + levels.size()) + 4ull * (1u << CThreadSlm::BITS_PR) + 4ull * (1u << CThreadSlm::BITS_BOW);
    for (uint32_t level = 0; level <= order; ++level)
        expected += uint64_t(levels[level]) * (level < order ? sizeof(CThreadSlm::TNode) : sizeof(CThreadSlm::TLeaf));
    return expected == size;
}

// pydict_sc.bin: word count, node count, offset of the word strings; then the
// trie and one zero-terminated UCS-4 string per word.
bool dictionaryFileIsWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    const uint64_t size = uint64_t(in.tellg());
    in.seekg(0);
    uint32_t header[3] = {0, 0, 0};
    if (!in.read(reinterpret_cast<char*>(header), sizeof header))
        return false;
    const uint32_t words = header[0], stringOffset = header[2];
    if (words == 0 || stringOffset < sizeof header || stringOffset >= size || (size - stringOffset) % 4 != 0)
        return false;
    in.seekg(stringOffset);
    std::vector<uint32_t> strings((size - stringOffset) / 4);
    if (!in.read(reinterpret_cast<char*>(strings.data()), std::streamsize(strings.size() * 4)))
        return false;
    return uint64_t(std::count(strings.begin(), strings.end(), 0u)) >= words && strings.back() == 0;
}

// Hypotheses kept per position of the segmentation: the cheapest few model states.
constexpr size_t kBeam = 4;
// The model's id for a run of characters it does not know.
constexpr unsigned kOtherId = 0;

// A hypothesis of the segmentation: the model's state after the words so far.
struct Hyp
{
    CThreadSlm::TState state;
    double cost;
    uint32_t from;    // position the last word starts at
    uint32_t fromHyp; // hypothesis there
};

// The cheapest hypotheses ending at one position, one per model state.
struct Cell
{
    Hyp hyp[kBeam];
    size_t size = 0;

    void offer(const Hyp& h)
    {
        for (size_t k = 0; k < size; ++k) {
            if (hyp[k].state == h.state) {
                if (h.cost < hyp[k].cost)
                    hyp[k] = h;
                return;
            }
        }
        if (size < kBeam) {
            hyp[size++] = h;
            return;
        }
        size_t worst = 0;
        for (size_t k = 1; k < size; ++k)
            worst = hyp[k].cost > hyp[worst].cost ? k : worst;
        if (h.cost < hyp[worst].cost)
            hyp[worst] = h;
    }
};

size_t cheapest(const Cell& cell)
{
    size_t best = 0;
    for (size_t k = 1; k < cell.size; ++k)
        best = cell.hyp[k].cost < cell.hyp[best].cost ? k : best;
    return best;
}

} // namespace

struct LanguageModel::Impl
{
    struct Slot
    {
        uint64_t key = 0;
        unsigned id = 0;     // 0: not a word itself
        bool prefix = false; // some longer word starts with it
    };

    // libsunpinyin's reading calls are not declared const but only read the
    // model, which it maps from a private copy.
    mutable CThreadSlm slm;
    std::vector<Slot> slots;
    size_t mask = 0;
    size_t words = 0;
    size_t maxLength = 1;
    bool loaded = false;

    Slot& slot(uint64_t key)
    {
        size_t i = key & mask;
        while (slots[i].key && slots[i].key != key)
            i = (i + 1) & mask;
        slots[i].key = key;
        return slots[i];
    }

    void insert(const char32_t* s, size_t n, unsigned id)
    {
        uint64_t h = kHashStart;
        for (size_t k = 0; k + 1 < n; ++k) {
            h = hashFold(h, s[k]);
            slot(hashFinish(h, k + 1)).prefix = true;
        }
        Slot& word = slot(wordHash(s, n));
        if (!word.id)
            ++words;
        word.id = id;
    }

    const Slot* lookup(uint64_t key) const
    {
        size_t i = key & mask;
        while (slots[i].key) {
            if (slots[i].key == key)
                return &slots[i];
            i = (i + 1) & mask;
        }
        return nullptr;
    }

    // Fills cells[kept + 1 .. n] with the cheapest segmentations of s[0..n)
    // ending there; cells[0 .. kept] already hold those of the text before,
    // so words ending at or before kept are not offered again.
    void extend(const char32_t* s, size_t n, Cell* cells, size_t kept) const;

    unsigned find(const char32_t* s, size_t n) const
    {
        if (slots.empty() || n == 0 || n > maxLength)
            return 0;
        const Slot* found = lookup(wordHash(s, n));
        return found ? found->id : 0;
    }
};

LanguageModel::LanguageModel()
    : d(std::make_unique<Impl>())
{
}

LanguageModel::~LanguageModel() = default;

bool LanguageModel::load(const std::string& folder, std::string* error)
{
    const std::string model = folder + "/lm_sc.t3g";
    const std::string dictionary = folder + "/pydict_sc.bin";
    for (const std::string& path : {model, dictionary}) {
        if (!isFile(path)) {
            if (error)
                *error = "language model file " + path + " is missing; install the Debian package " + kPackage +
                         " (apt-get install " + kPackage + ")";
            return false;
        }
    }
    // Both files are read once from private copies: the checks below and the
    // libraries see the same bytes, and the file on disk may change later.
    PrivateCopy modelCopy, dictionaryCopy;
    if (!modelCopy.copy(model) || !dictionaryCopy.copy(dictionary)) {
        if (error)
            *error = "cannot read the language model in " + folder + "; reinstall the Debian package " + kPackage;
        return false;
    }
    if (!modelFileIsWhole(modelCopy.path()) || !dictionaryFileIsWhole(dictionaryCopy.path())) {
        if (error)
            *error = "the language model in " + folder +
                     " is damaged (a file is truncated or not sunpinyin's); "
                     "reinstall the Debian package " +
                     kPackage;
        return false;
    }
    d = std::make_unique<Impl>();
    // The library maps the copies, which stay mapped when closed; the word
    // list is only needed here, to build the word -> id map, and is let go after.
    CPinyinTrie trie;
    if (!d->slm.load(modelCopy.path().c_str(), true) || !trie.load(dictionaryCopy.path().c_str())) {
        if (error)
            *error = "cannot read the language model in " + folder + "; reinstall the Debian package " + kPackage;
        d = std::make_unique<Impl>();
        return false;
    }
    modelCopy.close();
    // Our own word -> id map: the lexicon gives each id's word as UCS-4.
    const unsigned count = trie.getWordCount();
    size_t capacity = 16;
    while (capacity < size_t(count) * 4) // words and their prefixes
        capacity <<= 1;
    d->slots.assign(capacity, Impl::Slot());
    d->mask = capacity - 1;
    std::u32string word;
    for (unsigned id = 1; id < count; ++id) {
        const TWCHAR* w = trie[id];
        if (!w || !*w)
            continue;
        word.clear();
        for (const TWCHAR* p = w; *p; ++p)
            word.push_back(char32_t(*p));
        d->insert(word.data(), word.size(), id);
        d->maxLength = std::max(d->maxLength, word.size());
    }
    if (d->words == 0) {
        if (error)
            *error = "the language model in " + folder + " holds no words; reinstall the Debian package " + kPackage;
        d = std::make_unique<Impl>();
        return false;
    }
    d->loaded = true;
    return true;
}

bool LanguageModel::loaded() const
{
    return d->loaded;
}

size_t LanguageModel::wordCount() const
{
    return d->words;
}

size_t LanguageModel::maxWordLength() const
{
    return d->maxLength;
}

unsigned LanguageModel::wordId(const char32_t* s, size_t n) const
{
    return d->find(s, n);
}

void LanguageModel::Impl::extend(const char32_t* s, size_t n, Cell* cells, size_t kept) const
{
    for (size_t i = kept + 1; i <= n; ++i)
        cells[i].size = 0;
    for (size_t i = kept + 1 > maxLength ? kept + 1 - maxLength : 0; i < n; ++i) {
        const Cell& cell = cells[i];
        const size_t longest = std::min(maxLength, n - i);
        uint64_t h = kHashStart;
        for (size_t length = 1; length <= longest; ++length) {
            h = hashFold(h, s[i + length - 1]);
            const Slot* found = lookup(hashFinish(h, length));
            if (i + length > kept) {
                unsigned id = found ? found->id : 0;
                double extra = 0;
                // A character the model does not know stands as a word of its own.
                const bool known = id != 0;
                if (!known) {
                    id = kOtherId;
                    extra = kUnknownCost;
                }
                for (size_t k = 0; (known || length == 1) && k < cell.size; ++k) {
                    const Hyp& h = cell.hyp[k];
                    CThreadSlm::TState result;
                    double c = slm.transferNegLog(h.state, id, result);
                    slm.historify(result);
                    c = extra > 0 ? extra : std::min(c, kMaxWordCost);
                    cells[i + length].offer(Hyp{result, h.cost + c, uint32_t(i), uint32_t(k)});
                }
            }
            if (!found || !found->prefix)
                break;
        }
    }
}

double LanguageModel::cost(const char32_t* s, size_t n, std::vector<size_t>* lengths,
                           std::vector<double>* wordCosts) const
{
    if (lengths)
        lengths->clear();
    if (wordCosts)
        wordCosts->clear();
    if (!d->loaded || n == 0)
        return 0;
    Cell local[48];
    std::vector<Cell> heap;
    Cell* cells = local;
    if (n + 1 > std::size(local)) {
        heap.resize(n + 1);
        cells = heap.data();
    }
    cells[0].size = 0;
    cells[0].offer(Hyp{CThreadSlm::TState(), 0.0, 0, 0});
    d->extend(s, n, cells, 0);
    const size_t best = cheapest(cells[n]);
    const double total = cells[n].hyp[best].cost;
    if (lengths || wordCosts) {
        size_t pos = n, k = best;
        while (pos > 0) {
            const Hyp& h = cells[pos].hyp[k];
            if (lengths)
                lengths->push_back(pos - h.from);
            if (wordCosts)
                wordCosts->push_back(h.cost - cells[h.from].hyp[h.fromHyp].cost);
            pos = h.from;
            k = h.fromHyp;
        }
        if (lengths)
            std::reverse(lengths->begin(), lengths->end());
        if (wordCosts)
            std::reverse(wordCosts->begin(), wordCosts->end());
    }
    return total;
}

struct LanguageModel::Variants::Data
{
    std::vector<Cell> base;
    std::vector<Cell> work;
    std::u32string text;
};

LanguageModel::Variants::Variants()
    : m_data(std::make_unique<Data>())
{
}

LanguageModel::Variants::~Variants() = default;

void LanguageModel::Variants::reset(const LanguageModel& model, const char32_t* s, size_t n)
{
    m_model = &model;
    m_data->text.assign(s, n);
    m_base = 0;
    if (!model.d->loaded || n == 0)
        return;
    m_data->base.resize(n + 1);
    m_data->base[0].size = 0;
    m_data->base[0].offer(Hyp{CThreadSlm::TState(), 0.0, 0, 0});
    model.d->extend(s, n, m_data->base.data(), 0);
    m_base = m_data->base[n].hyp[cheapest(m_data->base[n])].cost;
}

double LanguageModel::Variants::costWith(size_t at, char32_t c) const
{
    const size_t n = m_data->text.size();
    if (!m_model || !m_model->d->loaded || at >= n)
        return m_base;
    // What precedes the changed character is segmented as in the text itself.
    m_data->work.assign(m_data->base.begin(), m_data->base.begin() + std::ptrdiff_t(at + 1));
    m_data->work.resize(n + 1);
    const char32_t written = m_data->text[at];
    m_data->text[at] = c;
    m_model->d->extend(m_data->text.data(), n, m_data->work.data(), at);
    m_data->text[at] = written;
    return m_data->work[n].hyp[cheapest(m_data->work[n])].cost;
}

} // namespace quillet
