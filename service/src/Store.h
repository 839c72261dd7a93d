#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace quillet {

// The service's SQLite database: accounts (libsodium password hashes), session
// tokens (stored as hashes), the users' own dictionaries and false-alarm
// reports. Every statement is prepared with bound parameters. One connection
// guarded by a mutex; safe to use from several threads.
class Store
{
public:
    struct User
    {
        int64_t id = 0;
        std::string name;
        bool vip = false;
        int64_t created = 0;
        int64_t words = 0; // entries in the user's dictionary (listUsers only)
    };
    enum class AddResult { Added, Exists, Invalid, Failed };

    Store() = default;
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens (creating when needed) the database file; false with a reason in error.
    bool open(const std::string& path, std::string* error);

    // Names are 1 to 64 characters of valid UTF-8 without control characters or
    // surrounding spaces; passwords 1 to 500 characters.
    static bool validUserName(const std::string& name);
    static bool validPassword(const std::string& password);

    AddResult addUser(const std::string& name, const std::string& password, bool vip);
    bool removeUser(const std::string& name);
    std::vector<User> listUsers();
    int64_t userCount();
    std::optional<User> findUser(const std::string& name);

    // The user when name and password match. Takes about as long for unknown
    // names as for a wrong password.
    std::optional<User> verifyPassword(const std::string& name, const std::string& password);

    // A fresh random session token for the user, valid for tokenLifetime seconds.
    std::string issueToken(int64_t userId);
    // The user a still valid token belongs to.
    std::optional<User> userForToken(const std::string& token);

    bool addWord(int64_t userId, const std::string& word);
    std::vector<std::string> userWords(int64_t userId);

    bool addReport(int64_t userId, const std::string& message, const std::string& errorText,
                   const std::string& sentence, const std::string& client);

    static constexpr int64_t kTokenLifetime = 30 * 24 * 3600;

private:
    static std::string tokenHash(const std::string& token);
    bool exec(const char* sql, std::string* error);

    sqlite3* m_db = nullptr;
    std::mutex m_mutex;
    std::mutex m_hashMutex; // password hashing is memory-hungry: one at a time
    std::string m_dummyHash;
};

} // namespace quillet
