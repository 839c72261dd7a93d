#include "Store.h"
#include "Utf.h"

#include <sodium.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>

namespace quillet {

namespace {

int64_t systemNow()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A prepared statement, finalized when it goes out of scope.
class Statement
{
public:
    Statement(sqlite3* db, const char* sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            m_stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_stmt != nullptr; }
    Statement& bind(int index, const std::string& text)
    {
        if (m_stmt)
            sqlite3_bind_text(m_stmt, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int index, int64_t value)
    {
        if (m_stmt)
            sqlite3_bind_int64(m_stmt, index, value);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
    int64_t integer(int column) { return sqlite3_column_int64(m_stmt, column); }
    std::string text(int column)
    {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return data ? std::string(data, size_t(sqlite3_column_bytes(m_stmt, column))) : std::string();
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

const char* const kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS users (
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL UNIQUE,
    password_hash TEXT NOT NULL,
    is_vip INTEGER NOT NULL DEFAULT 0,
    created INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS tokens (
    token_hash TEXT PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    expires INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS user_words (
    user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    word TEXT NOT NULL,
    added INTEGER NOT NULL,
    PRIMARY KEY (user_id, word)
);
CREATE TABLE IF NOT EXISTS reports (
    id INTEGER PRIMARY KEY,
    user_id INTEGER REFERENCES users(id) ON DELETE SET NULL,
    message TEXT NOT NULL,
    text_error TEXT NOT NULL,
    text_sentence TEXT NOT NULL,
    client TEXT NOT NULL,
    created INTEGER NOT NULL
);
)SQL";

} // namespace

// Holds one of the store's hashing slots for its lifetime.
class Store::HashSlot
{
public:
    explicit HashSlot(Store& store)
        : m_store(store)
    {
        std::unique_lock<std::mutex> lock(m_store.m_hashMutex);
        m_store.m_hashFree.wait(lock, [this] { return m_store.m_hashBusy < m_store.m_hashSlots; });
        ++m_store.m_hashBusy;
        ++m_store.m_hashCount;
    }
    ~HashSlot()
    {
        {
            std::lock_guard<std::mutex> lock(m_store.m_hashMutex);
            --m_store.m_hashBusy;
        }
        m_store.m_hashFree.notify_one();
    }
    HashSlot(const HashSlot&) = delete;
    HashSlot& operator=(const HashSlot&) = delete;

private:
    Store& m_store;
};

int64_t Store::now() const
{
    return m_clock ? m_clock() : systemNow();
}

int Store::hashConcurrency()
{
    std::lock_guard<std::mutex> lock(m_hashMutex);
    return m_hashSlots;
}

void Store::setHashConcurrency(int slots)
{
    {
        std::lock_guard<std::mutex> lock(m_hashMutex);
        m_hashSlots = std::max(1, slots);
    }
    m_hashFree.notify_all();
}

bool Store::strongEnoughPassword(const std::string& password)
{
    DecodedText decoded;
    return validPassword(password) && decodeUtf8(password, decoded) && decoded.chars.size() >= kMinNewPassword;
}

Store::~Store()
{
    if (m_db)
        sqlite3_close(m_db);
}

bool Store::exec(const char* sql, std::string* error)
{
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        if (error)
            *error = message ? message : "database error";
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool Store::open(const std::string& path, std::string* error)
{
    if (sodium_init() < 0) {
        if (error)
            *error = "libsodium could not be initialised";
        return false;
    }
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        if (error)
            *error = "cannot open database " + path + ": " + (m_db ? sqlite3_errmsg(m_db) : "out of memory");
        if (m_db)
            sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);
    // Accounts, dictionaries and reports are the users' own: owner only. SQLite
    // gives the -wal and -shm files the database file's mode when it makes them;
    // ones left by an earlier run are set here too.
    for (const char* suffix : {"", "-wal", "-shm"})
        chmod((path + suffix).c_str(), S_IRUSR | S_IWUSR);
    // The fixed set-up statements carry no outside input.
    return exec("PRAGMA journal_mode=WAL; PRAGMA foreign_keys=ON;", error) && exec(kSchema, error);
}

bool Store::validUserName(const std::string& name)
{
    DecodedText decoded;
    if (name.empty() || !decodeUtf8(name, decoded) || decoded.chars.size() > 64)
        return false;
    if (decoded.chars.front() == U' ' || decoded.chars.back() == U' ')
        return false;
    for (char32_t c : decoded.chars) {
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0))
            return false;
    }
    return true;
}

bool Store::validPassword(const std::string& password)
{
    DecodedText decoded;
    return !password.empty() && decodeUtf8(password, decoded) && decoded.chars.size() <= 500;
}

Store::AddResult Store::addUser(const std::string& name, const std::string& password, bool vip)
{
    if (!validUserName(name) || !validPassword(password))
        return AddResult::Invalid;
    char hash[crypto_pwhash_STRBYTES];
    {
        HashSlot slot(*this);
        if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
            return AddResult::Failed;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement insert(m_db, "INSERT INTO users (name, password_hash, is_vip, created) VALUES (?1, ?2, ?3, ?4)");
    insert.bind(1, name).bind(2, std::string(hash)).bind(3, int64_t(vip ? 1 : 0)).bind(4, now());
    const int rc = insert.step();
    if (rc == SQLITE_DONE)
        return AddResult::Added;
    return rc == SQLITE_CONSTRAINT ? AddResult::Exists : AddResult::Failed;
}

bool Store::removeUser(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int64_t id = 0;
    {
        Statement select(m_db, "SELECT id FROM users WHERE name = ?1");
        select.bind(1, name);
        if (select.step() != SQLITE_ROW)
            return false;
        id = select.integer(0);
    }
    // Explicit deletes: databases made before reports were removed with their
    // user keep a schema that only clears the reports' user.
    if (!exec("BEGIN IMMEDIATE", nullptr))
        return false;
    bool ok = true;
    for (const char* sql : {"DELETE FROM tokens WHERE user_id = ?1", "DELETE FROM user_words WHERE user_id = ?1",
                            "DELETE FROM reports WHERE user_id = ?1", "DELETE FROM users WHERE id = ?1"}) {
        Statement remove(m_db, sql);
        remove.bind(1, id);
        ok = ok && remove.step() == SQLITE_DONE;
    }
    return exec(ok ? "COMMIT" : "ROLLBACK", nullptr) && ok;
}

std::vector<Store::User> Store::listUsers()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<User> users;
    Statement select(m_db, "SELECT u.id, u.name, u.is_vip, u.created, "
                           "(SELECT COUNT(*) FROM user_words w WHERE w.user_id = u.id) FROM users u ORDER BY u.name");
    while (select.step() == SQLITE_ROW)
        users.push_back(
            User{select.integer(0), select.text(1), select.integer(2) != 0, select.integer(3), select.integer(4)});
    return users;
}

int64_t Store::userCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement count(m_db, "SELECT COUNT(*) FROM users");
    return count.step() == SQLITE_ROW ? count.integer(0) : 0;
}

std::optional<Store::User> Store::findUser(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement select(m_db, "SELECT id, name, is_vip, created FROM users WHERE name = ?1");
    select.bind(1, name);
    if (select.step() != SQLITE_ROW)
        return std::nullopt;
    return User{select.integer(0), select.text(1), select.integer(2) != 0, select.integer(3), 0};
}

std::optional<Store::User> Store::verifyPassword(const std::string& name, const std::string& password)
{
    std::optional<User> user;
    std::string hash;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Statement select(m_db, "SELECT id, name, is_vip, created, password_hash FROM users WHERE name = ?1");
        select.bind(1, name);
        if (select.step() == SQLITE_ROW) {
            user = User{select.integer(0), select.text(1), select.integer(2) != 0, select.integer(3), 0};
            hash = select.text(4);
        }
    }
    if (!user) {
        // Spend the same work on unknown names so that timing does not tell them apart.
        std::call_once(m_dummyOnce, [this] {
            char dummy[crypto_pwhash_STRBYTES];
            HashSlot slot(*this);
            if (crypto_pwhash_str(dummy, "x", 1, crypto_pwhash_OPSLIMIT_INTERACTIVE,
                                  crypto_pwhash_MEMLIMIT_INTERACTIVE) == 0)
                m_dummyHash = dummy;
        });
        HashSlot slot(*this);
        if (!m_dummyHash.empty())
            (void)!crypto_pwhash_str_verify(m_dummyHash.c_str(), password.data(), password.size());
        return std::nullopt;
    }
    if (password.empty())
        return std::nullopt;
    HashSlot slot(*this);
    if (crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) != 0)
        return std::nullopt;
    return user;
}

std::string Store::tokenHash(const std::string& token)
{
    unsigned char digest[crypto_generichash_BYTES];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(token.data()), token.size(),
                       nullptr, 0);
    char hex[crypto_generichash_BYTES * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}

std::string Store::issueToken(int64_t userId)
{
    unsigned char random[32];
    randombytes_buf(random, sizeof random);
    char hex[sizeof random * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, random, sizeof random);
    const std::string token = hex;

    std::lock_guard<std::mutex> lock(m_mutex);
    Statement purge(m_db, "DELETE FROM tokens WHERE expires < ?1");
    purge.bind(1, now());
    purge.step();
    Statement insert(m_db, "INSERT INTO tokens (token_hash, user_id, expires) VALUES (?1, ?2, ?3)");
    insert.bind(1, tokenHash(token)).bind(2, userId).bind(3, now() + kTokenLifetime);
    return insert.step() == SQLITE_DONE ? token : std::string();
}

std::optional<Store::User> Store::userForToken(const std::string& token)
{
    if (token.empty() || token.size() > 256)
        return std::nullopt;
    const std::string hash = tokenHash(token);
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement select(m_db, "SELECT u.id, u.name, u.is_vip, u.created FROM tokens t JOIN users u ON u.id = t.user_id "
                           "WHERE t.token_hash = ?1 AND t.expires >= ?2");
    select.bind(1, hash).bind(2, now());
    if (select.step() != SQLITE_ROW)
        return std::nullopt;
    return User{select.integer(0), select.text(1), select.integer(2) != 0, select.integer(3), 0};
}

int64_t Store::tokenCount(int64_t userId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement count(m_db, "SELECT COUNT(*) FROM tokens WHERE user_id = ?1");
    count.bind(1, userId);
    return count.step() == SQLITE_ROW ? count.integer(0) : 0;
}

Store::WriteResult Store::addWord(int64_t userId, const std::string& word)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement known(m_db, "SELECT 1 FROM user_words WHERE user_id = ?1 AND word = ?2");
    known.bind(1, userId).bind(2, word);
    if (known.step() == SQLITE_ROW)
        return WriteResult::Stored;
    Statement count(m_db, "SELECT COUNT(*) FROM user_words WHERE user_id = ?1");
    count.bind(1, userId);
    if (count.step() != SQLITE_ROW)
        return WriteResult::Failed;
    if (count.integer(0) >= m_limits.wordsPerUser)
        return WriteResult::Full;
    Statement insert(m_db, "INSERT OR IGNORE INTO user_words (user_id, word, added) VALUES (?1, ?2, ?3)");
    insert.bind(1, userId).bind(2, word).bind(3, now());
    return insert.step() == SQLITE_DONE ? WriteResult::Stored : WriteResult::Failed;
}

std::vector<std::string> Store::userWords(int64_t userId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> words;
    Statement select(m_db, "SELECT word FROM user_words WHERE user_id = ?1 ORDER BY word");
    select.bind(1, userId);
    while (select.step() == SQLITE_ROW)
        words.push_back(select.text(0));
    return words;
}

Store::WriteResult Store::addReport(int64_t userId, const std::string& message, const std::string& errorText,
                                    const std::string& sentence, const std::string& client)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int64_t at = now();
    Statement recent(m_db, "SELECT COUNT(*) FROM reports WHERE user_id = ?1 AND created > ?2");
    recent.bind(1, userId).bind(2, at - 24 * 3600);
    if (recent.step() != SQLITE_ROW)
        return WriteResult::Failed;
    if (recent.integer(0) >= m_limits.reportsPerDay)
        return WriteResult::Full;
    Statement insert(m_db, "INSERT INTO reports (user_id, message, text_error, text_sentence, client, created) "
                           "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    insert.bind(1, userId).bind(2, message).bind(3, errorText).bind(4, sentence).bind(5, client).bind(6, at);
    return insert.step() == SQLITE_DONE ? WriteResult::Stored : WriteResult::Failed;
}

int64_t Store::reportCount(int64_t userId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement count(m_db, "SELECT COUNT(*) FROM reports WHERE user_id = ?1");
    count.bind(1, userId);
    return count.step() == SQLITE_ROW ? count.integer(0) : 0;
}

} // namespace quillet
