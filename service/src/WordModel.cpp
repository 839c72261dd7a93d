#include "WordModel.h"
#include "PrivateCopy.h"
#include "Utf.h"

#ifdef QUILLET_HAVE_LIBIME
#include <libime/core/languagemodel.h>
#include <libime/core/lattice.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <string_view>
#include <vector>
#include <sys/stat.h>

namespace quillet {

const char* const WordModel::kDefaultPath = "/usr/lib/x86_64-linux-gnu/libime/zh_CN.lm";
const char* const WordModel::kPackage = "libime-data-language-model";
const char* const WordModel::kAttribution =
    "Word model: libime-data-language-model (zh_CN.lm) by the fcitx developers, "
    "licensed under LGPL-2.1-or-later";

#ifdef QUILLET_HAVE_LIBIME

namespace {

// Longest word tried, in characters.
constexpr size_t kMaxWord = 6;
// Hypotheses kept per position: the cheapest few model states.
constexpr size_t kBeam = 3;
const double kLn10 = std::log(10.0);

struct Hyp
{
    libime::State state;
    float score; // log10 P of the words so far
};

// Work space of one thread, kept between calls.
struct Scratch
{
    std::string utf8;
    std::vector<size_t> offsets; // of each character in utf8, and the end
    std::vector<Hyp> hyps;       // kBeam per position
    std::vector<size_t> counts;  // hypotheses held per position
};

// Keeps the kBeam best of the hypotheses at one position; of two with the
// same model state only the better one.
void keep(Hyp* cell, size_t& count, const libime::State& state, float score)
{
    for (size_t k = 0; k < count; ++k) {
        if (std::memcmp(cell[k].state.data(), state.data(), state.size()) == 0) {
            if (score > cell[k].score)
                cell[k].score = score;
            return;
        }
    }
    size_t at = count;
    if (count == kBeam) {
        at = size_t(std::min_element(cell, cell + count, [](const Hyp& a, const Hyp& b) { return a.score < b.score; }) -
                    cell);
        if (cell[at].score >= score)
            return;
    } else {
        ++count;
    }
    cell[at].state = state;
    cell[at].score = score;
}

} // namespace

struct WordModel::Impl
{
    std::unique_ptr<libime::LanguageModel> model;
};

#else

struct WordModel::Impl
{
};

#endif

WordModel::WordModel()
    : d(std::make_unique<Impl>())
{
}

WordModel::~WordModel() = default;

bool WordModel::supported()
{
#ifdef QUILLET_HAVE_LIBIME
    return true;
#else
    return false;
#endif
}

bool WordModel::load(const std::string& path, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        d = std::make_unique<Impl>();
        return false;
    };
#ifdef QUILLET_HAVE_LIBIME
    struct stat info
    {
    };
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return fail("word model file " + path + " is missing; install the Debian package " + kPackage);
    // The library maps its file; it maps our copy instead (see PrivateCopy).
    PrivateCopy copy;
    if (!copy.copy(path))
        return fail("cannot read the word model " + path);
    auto impl = std::make_unique<Impl>();
    try {
        impl->model = std::make_unique<libime::LanguageModel>(copy.path().c_str());
        // A file that is no model in KenLM's format throws on load; one that
        // knows no common word is not the model we want either.
        const libime::WordIndex common = impl->model->index("我们");
        if (impl->model->isUnknown(common, "我们"))
            return fail("the word model " + path + " is damaged or not libime's; reinstall the Debian package " +
                        kPackage);
    } catch (const std::exception& e) {
        return fail("the word model " + path + " is damaged or not libime's (" + e.what() +
                    "); reinstall the Debian package " + kPackage);
    }
    d = std::move(impl);
    return true;
#else
    (void)path;
    return fail("this quillet-service was built without libime: no word model");
#endif
}

bool WordModel::loaded() const
{
#ifdef QUILLET_HAVE_LIBIME
    return d->model != nullptr;
#else
    return false;
#endif
}

double WordModel::cost(const char32_t* s, size_t n) const
{
#ifdef QUILLET_HAVE_LIBIME
    if (!d->model || n == 0)
        return 0;
    const libime::LanguageModel& model = *d->model;
    thread_local Scratch scratch;
    scratch.utf8.clear();
    scratch.offsets.clear();
    for (size_t i = 0; i < n; ++i) {
        scratch.offsets.push_back(scratch.utf8.size());
        appendUtf8(scratch.utf8, s[i]);
    }
    scratch.offsets.push_back(scratch.utf8.size());
    scratch.hyps.resize((n + 1) * kBeam);
    scratch.counts.assign(n + 1, 0);
    scratch.hyps[0].state = model.nullState();
    scratch.hyps[0].score = 0;
    scratch.counts[0] = 1;
    libime::State out{};
    for (size_t end = 1; end <= n; ++end) {
        Hyp* cell = &scratch.hyps[end * kBeam];
        size_t& count = scratch.counts[end];
        for (size_t length = 1; length <= std::min(end, kMaxWord); ++length) {
            const size_t start = end - length;
            if (scratch.counts[start] == 0)
                continue;
            const std::string_view word(scratch.utf8.data() + scratch.offsets[start],
                                        scratch.offsets[end] - scratch.offsets[start]);
            const libime::WordIndex index = model.index(word);
            // An unknown single character is scored (with the model's
            // penalty); an unknown longer text is no word.
            if (length > 1 && model.isUnknown(index, word))
                continue;
            const libime::WordNode node(word, index);
            const Hyp* from = &scratch.hyps[start * kBeam];
            for (size_t k = 0; k < scratch.counts[start]; ++k) {
                const float score = from[k].score + model.score(from[k].state, node, out);
                keep(cell, count, out, score);
            }
        }
    }
    const Hyp* last = &scratch.hyps[n * kBeam];
    float best = last[0].score;
    for (size_t k = 1; k < scratch.counts[n]; ++k)
        best = std::max(best, last[k].score);
    return -double(best) * kLn10;
#else
    (void)s;
    (void)n;
    return 0;
#endif
}

} // namespace quillet
