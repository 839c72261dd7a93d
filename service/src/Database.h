#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillet {

// Where the store keeps its rows: one implementation per database system
// (SqliteDatabase, PostgresDatabase), chosen by Store::open. Every method is
// one atomic step and safe to call from several threads; values reach the
// database only as bound parameters. Failures are answered as "not found",
// false or Failed; nothing throws.
class Database
{
public:
    struct UserRow
    {
        int64_t id = 0;
        std::string name;
        bool vip = false;
        int64_t created = 0;
        int64_t words = 0; // filled in by listUsers only
    };
    enum class Insert { Added, Exists, Failed };
    enum class Write { Stored, Full, Failed };

    virtual ~Database() = default;

    // Connects and brings the schema to the current version; several processes
    // may do this at once. False with a reason in error.
    virtual bool open(const std::string& location, std::string* error) = 0;
    // True when several service processes may share this database (and so the
    // limits' counters and the sensitive words must live in it).
    virtual bool shared() const = 0;
    // Whether the database answers now.
    virtual bool ping() = 0;

    virtual Insert insertUser(const std::string& name, const std::string& passwordHash, bool vip, int64_t created) = 0;
    // Removes the user with its tokens, words and reports; false when there is none.
    virtual bool removeUser(const std::string& name) = 0;
    virtual std::vector<UserRow> listUsers() = 0;
    virtual int64_t userCount() = 0;
    virtual std::optional<UserRow> findUser(const std::string& name) = 0;
    // The user with its stored password hash.
    virtual std::optional<std::pair<UserRow, std::string>> passwordRecord(const std::string& name) = 0;

    // Stores a token's hash, deleting every token expired before now.
    virtual bool insertToken(const std::string& tokenHash, int64_t userId, int64_t expires, int64_t now) = 0;
    // The user of a token valid at now; failed (when given) is set when the
    // database could not answer, as against a token it does not know.
    virtual std::optional<UserRow> userForToken(const std::string& tokenHash, int64_t now, bool* failed) = 0;
    // A keyed digest of the password the token was last confirmed with
    // (Store::passwordMatchesToken); empty when there is none.
    virtual std::string tokenPasswordCheck(const std::string& tokenHash) = 0;
    virtual bool setTokenPasswordCheck(const std::string& tokenHash, const std::string& check) = 0;
    virtual int64_t tokenCount(int64_t userId) = 0;

    // Adds the word unless the user already has maxWords (a word already there is Stored).
    virtual Write addWord(int64_t userId, const std::string& word, int64_t maxWords, int64_t now) = 0;
    virtual std::vector<std::string> userWords(int64_t userId) = 0;
    // Adds the report unless the user made maxReports since `since`.
    virtual Write addReport(int64_t userId, const std::string& message, const std::string& errorText,
                            const std::string& sentence, const std::string& client, int64_t maxReports, int64_t since,
                            int64_t now) = 0;
    virtual std::vector<std::string> reportMessages(int64_t userId) = 0;

    // A counter in fixed windows (see RateLimiter): counts one event of key and
    // answers 0 while it is under limit, otherwise counts nothing and answers
    // the seconds left of its window; -1 when the database failed.
    virtual int64_t reserveEvent(const std::string& key, int limit, int64_t window, int64_t now) = 0;
    // Gives back one event counted at reservedAt if that window is still the key's.
    virtual void releaseEvent(const std::string& key, int64_t reservedAt) = 0;
    // Seconds key has to wait; 0 when it may go on.
    virtual int64_t eventWait(const std::string& key, int limit, int64_t now) = 0;

    // The operator's sensitive words, (word, replacement) by word.
    virtual std::vector<std::pair<std::string, std::string>> sensitiveWords() = 0;
    virtual bool addSensitiveWord(const std::string& word, const std::string& replacement) = 0;
    virtual bool removeSensitiveWord(const std::string& word) = 0;
};

// The statement behind reserveEvent, the same for both systems: a fresh window,
// or one more event in a window under its limit; the row comes back only when
// the event was counted. Parameters: key, now, window, limit (SQLite numbers
// "$N" parameters by first appearance, which is this order too).
inline constexpr const char* kReserveEventSql =
    "INSERT INTO limit_windows AS w (key, start, expires, count) "
    "VALUES ($1, CAST($2 AS BIGINT), CAST($2 AS BIGINT) + CAST($3 AS BIGINT), 1) "
    "ON CONFLICT (key) DO UPDATE SET "
    "start = CASE WHEN w.expires <= $2 THEN $2 ELSE w.start END, "
    "expires = CASE WHEN w.expires <= $2 THEN $2 + $3 ELSE w.expires END, "
    "count = CASE WHEN w.expires <= $2 THEN 1 ELSE w.count + 1 END "
    "WHERE w.expires <= $2 OR w.count < CAST($4 AS INTEGER) RETURNING start";

} // namespace quillet
