#pragma once

#include <memory>
#include <string>

namespace quillet {

// A second, word-level trigram model of Chinese (fcitx's libime model from
// Debian's libime-data-language-model, read through libime). It knows far
// more words than the character checker's own model, so the checker asks it
// for a second opinion on candidate corrections. Optional: a build without
// libime, or a machine without the file, checks with the other model alone.
// Read-only after load() and safe to share between threads.
class WordModel
{
public:
    WordModel();
    ~WordModel();
    WordModel(const WordModel&) = delete;
    WordModel& operator=(const WordModel&) = delete;

    // Where the Debian package installs the model, and the package's name.
    static const char* const kDefaultPath;
    static const char* const kPackage;
    // Where the model comes from and its licence, for --version.
    static const char* const kAttribution;
    // False when the service was built without libime: load() always fails.
    static bool supported();

    // Loads the model file (KenLM's binary format), copied into memory of its
    // own (the file may be rewritten or truncated afterwards without harm);
    // false with a reason in error when it is missing, damaged or unreadable.
    bool load(const std::string& path, std::string* error);
    bool loaded() const;

    // Cost (-ln P, in nats) of the best segmentation of s[0..n) into the
    // model's words, from an empty history. A character it does not know
    // costs its unknown-word penalty. 0 for an empty text or an unloaded model.
    double cost(const char32_t* s, size_t n) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace quillet
