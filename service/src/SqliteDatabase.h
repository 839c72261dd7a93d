#pragma once

#include "Database.h"

#include <mutex>

struct sqlite3;

namespace quillet {

// The embedded store: one SQLite file, one connection guarded by a mutex. For
// one service process (its limits' counters stay in that process).
class SqliteDatabase : public Database
{
public:
    SqliteDatabase() = default;
    ~SqliteDatabase() override;
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    // location is the file's path; the file and its journals are made 0600.
    bool open(const std::string& location, std::string* error) override;
    bool shared() const override { return false; }
    bool ping() override;

    Insert insertUser(const std::string& name, const std::string& passwordHash, bool vip, int64_t created) override;
    bool removeUser(const std::string& name) override;
    std::vector<UserRow> listUsers() override;
    int64_t userCount() override;
    std::optional<UserRow> findUser(const std::string& name) override;
    std::optional<std::pair<UserRow, std::string>> passwordRecord(const std::string& name) override;

    bool insertToken(const std::string& tokenHash, int64_t userId, int64_t expires, int64_t now) override;
    std::optional<UserRow> userForToken(const std::string& tokenHash, int64_t now, bool* failed) override;
    std::string tokenPasswordCheck(const std::string& tokenHash) override;
    bool setTokenPasswordCheck(const std::string& tokenHash, const std::string& check) override;
    int64_t tokenCount(int64_t userId) override;

    Write addWord(int64_t userId, const std::string& word, int64_t maxWords, int64_t now) override;
    std::vector<std::string> userWords(int64_t userId) override;
    Write addReport(int64_t userId, const std::string& message, const std::string& errorText,
                    const std::string& sentence, const std::string& client, int64_t maxReports, int64_t since,
                    int64_t now) override;
    std::vector<std::string> reportMessages(int64_t userId) override;

    int64_t reserveEvent(const std::string& key, int limit, int64_t window, int64_t now) override;
    void releaseEvent(const std::string& key, int64_t reservedAt) override;
    int64_t eventWait(const std::string& key, int limit, int64_t now) override;

    std::vector<std::pair<std::string, std::string>> sensitiveWords() override;
    bool addSensitiveWord(const std::string& word, const std::string& replacement) override;
    bool removeSensitiveWord(const std::string& word) override;

private:
    bool exec(const char* sql, std::string* error);
    bool migrate(std::string* error);

    sqlite3* m_db = nullptr;
    std::mutex m_mutex;
};

} // namespace quillet
