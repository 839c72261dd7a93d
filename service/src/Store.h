#pragma once

#include "Database.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quillet {

// The service's accounts (libsodium password hashes), session tokens (stored
// as hashes), the users' own dictionaries and false-alarm reports, with their
// quotas, in a SQLite file or a PostgreSQL database (see Database). Safe to
// use from several threads.
class Store
{
public:
    using User = Database::UserRow; // words: entries in the user's dictionary (listUsers only)
    enum class AddResult { Added, Exists, Invalid, Failed };
    // Outcome of a write a user asks for: stored (or already there), refused
    // because the user's quota is used up, or a database failure.
    enum class WriteResult { Stored, Full, Failed };

    // Quotas of one user.
    struct Limits
    {
        int64_t wordsPerUser = 10000;
        int64_t reportsPerDay = 100; // in any 24 hours
    };

    Store();
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens the store at location: a postgresql:// (or postgres://) URL, or
    // else the path of a SQLite file (created when needed, readable by its
    // owner only). The schema is created or brought up to date. False with a
    // reason in error.
    bool open(const std::string& location, std::string* error);
    static bool isDatabaseUrl(const std::string& location);
    // The database behind the store (for the limits' counters, the sensitive
    // words and the health check); null before open() succeeded.
    Database* database() const { return m_db.get(); }

    // Names are 1 to 64 characters of valid UTF-8 without control characters or
    // surrounding spaces; passwords 1 to 500 characters.
    static bool validUserName(const std::string& name);
    static bool validPassword(const std::string& password);
    // Passwords chosen for new accounts (registration, "user add") are longer;
    // existing accounts keep the password they have.
    static constexpr size_t kMinNewPassword = 8;
    static bool strongEnoughPassword(const std::string& password);

    // Seconds since the epoch; tests set their own clock.
    void setClock(std::function<int64_t()> clock) { m_clock = std::move(clock); }
    void setLimits(const Limits& limits) { m_limits = limits; }
    const Limits& limits() const { return m_limits; }
    // How many password hashes may be computed at once (each takes 64 MiB for
    // a fraction of a second); at least 1. Callers beyond that wait their turn.
    void setHashConcurrency(int slots);
    int hashConcurrency();
    // Password hashes computed or checked since the store was made.
    int64_t hashCount() const { return m_hashCount.load(); }

    AddResult addUser(const std::string& name, const std::string& password, bool vip);
    // Removes the account with its tokens, dictionary and reports.
    bool removeUser(const std::string& name);
    std::vector<User> listUsers();
    int64_t userCount();
    std::optional<User> findUser(const std::string& name);

    // The user when name and password match. Takes about as long for unknown
    // names as for a wrong password.
    std::optional<User> verifyPassword(const std::string& name, const std::string& password);

    // A fresh random session token for the user, valid for kTokenLifetime
    // seconds. Deletes every expired token on the way.
    std::string issueToken(int64_t userId);
    // The user a still valid token belongs to. failed (when given) tells a
    // database that did not answer from a token that is not (or no longer) valid.
    std::optional<User> userForToken(const std::string& token, bool* failed = nullptr);
    // Whether password is the one the token was last confirmed with
    // (rememberPassword), told without a password hash: the check is a digest
    // of the password keyed with the token, which the store keeps only as a
    // hash, so the stored digest gives nothing to guess passwords against.
    bool passwordMatchesToken(const std::string& token, const std::string& password);
    // Remembers that password was verified for the holder of token.
    void rememberPassword(const std::string& token, const std::string& password);
    // Stored tokens of a user, expired ones included (until they are deleted).
    int64_t tokenCount(int64_t userId);

    // Adds a word to the user's dictionary; a word already there counts as stored.
    WriteResult addWord(int64_t userId, const std::string& word);
    std::vector<std::string> userWords(int64_t userId);

    WriteResult addReport(int64_t userId, const std::string& message, const std::string& errorText,
                          const std::string& sentence, const std::string& client);
    int64_t reportCount(int64_t userId);
    // The messages of the user's reports, oldest first.
    std::vector<std::string> reportMessages(int64_t userId);

    static constexpr int64_t kTokenLifetime = 30 * 24 * 3600;

private:
    class HashSlot;
    static std::string tokenHash(const std::string& token);
    int64_t now() const;

    std::unique_ptr<Database> m_db;
    std::function<int64_t()> m_clock;
    Limits m_limits;

    // Password hashing is memory-hungry: at most m_hashSlots at once.
    std::mutex m_hashMutex;
    std::condition_variable m_hashFree;
    int m_hashSlots = 1;
    int m_hashBusy = 0;
    std::atomic<int64_t> m_hashCount{0};
    std::once_flag m_dummyOnce;
    std::string m_dummyHash;
};

} // namespace quillet
