#include "SqliteDatabase.h"

#include <sqlite3.h>
#include <sys/stat.h>

namespace quillet {

namespace {

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
    Database::UserRow user(int first)
    {
        return Database::UserRow{integer(first), text(first + 1), integer(first + 2) != 0, integer(first + 3), 0};
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

// The schema's versions in order; PRAGMA user_version says how many are in
// place. The first is written so that databases made before versions were
// counted take it as it is.
const char* const kMigrations[] = {
    R"SQL(
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
)SQL",
    R"SQL(
CREATE TABLE limit_windows (
    key TEXT PRIMARY KEY,
    start INTEGER NOT NULL,
    expires INTEGER NOT NULL,
    count INTEGER NOT NULL
);
CREATE INDEX limit_windows_expires ON limit_windows (expires);
CREATE TABLE sensitive_words (
    word TEXT PRIMARY KEY,
    replacement TEXT NOT NULL DEFAULT ''
);
ALTER TABLE tokens ADD COLUMN password_check TEXT NOT NULL DEFAULT '';
)SQL",
};

} // namespace

SqliteDatabase::~SqliteDatabase()
{
    if (m_db)
        sqlite3_close(m_db);
}

bool SqliteDatabase::exec(const char* sql, std::string* error)
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

bool SqliteDatabase::open(const std::string& location, std::string* error)
{
    if (sqlite3_open_v2(location.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        if (error)
            *error = "cannot open database " + location + ": " + (m_db ? sqlite3_errmsg(m_db) : "out of memory");
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
        chmod((location + suffix).c_str(), S_IRUSR | S_IWUSR);
    // The fixed set-up statements carry no outside input.
    return exec("PRAGMA journal_mode=WAL; PRAGMA foreign_keys=ON;", error) && migrate(error);
}

bool SqliteDatabase::migrate(std::string* error)
{
    // The write lock keeps a second process from migrating at the same time.
    if (!exec("BEGIN IMMEDIATE", error))
        return false;
    int64_t version = 0;
    {
        Statement select(m_db, "PRAGMA user_version");
        if (select.step() == SQLITE_ROW)
            version = select.integer(0);
    }
    const int64_t latest = int64_t(sizeof kMigrations / sizeof kMigrations[0]);
    bool ok = version <= latest;
    if (!ok && error)
        *error = "the database was made by a newer quillet-service (schema " + std::to_string(version) + ")";
    for (int64_t v = version; ok && v < latest; ++v)
        ok = exec(kMigrations[v], error);
    if (ok && version < latest)
        ok = exec(("PRAGMA user_version = " + std::to_string(latest)).c_str(), error);
    return exec(ok ? "COMMIT" : "ROLLBACK", nullptr) && ok;
}

bool SqliteDatabase::ping()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement select(m_db, "SELECT 1");
    return select.step() == SQLITE_ROW;
}

Database::Insert SqliteDatabase::insertUser(const std::string& name, const std::string& passwordHash, bool vip,
                                            int64_t created)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement insert(m_db, "INSERT INTO users (name, password_hash, is_vip, created) VALUES (?1, ?2, ?3, ?4)");
    insert.bind(1, name).bind(2, passwordHash).bind(3, int64_t(vip ? 1 : 0)).bind(4, created);
    const int rc = insert.step();
    if (rc == SQLITE_DONE)
        return Insert::Added;
    return rc == SQLITE_CONSTRAINT ? Insert::Exists : Insert::Failed;
}

bool SqliteDatabase::removeUser(const std::string& name)
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

std::vector<Database::UserRow> SqliteDatabase::listUsers()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<UserRow> users;
    Statement select(m_db, "SELECT u.id, u.name, u.is_vip, u.created, "
                           "(SELECT COUNT(*) FROM user_words w WHERE w.user_id = u.id) FROM users u ORDER BY u.name");
    while (select.step() == SQLITE_ROW) {
        users.push_back(select.user(0));
        users.back().words = select.integer(4);
    }
    return users;
}

int64_t SqliteDatabase::userCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement count(m_db, "SELECT COUNT(*) FROM users");
    return count.step() == SQLITE_ROW ? count.integer(0) : 0;
}

std::optional<Database::UserRow> SqliteDatabase::findUser(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement select(m_db, "SELECT id, name, is_vip, created FROM users WHERE name = ?1");
    select.bind(1, name);
    if (select.step() != SQLITE_ROW)
        return std::nullopt;
    return select.user(0);
}

std::optional<std::pair<Database::UserRow, std::string>> SqliteDatabase::passwordRecord(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement select(m_db, "SELECT id, name, is_vip, created, password_hash FROM users WHERE name = ?1");
    select.bind(1, name);
    if (select.step() != SQLITE_ROW)
        return std::nullopt;
    return std::make_pair(select.user(0), select.text(4));
}

bool SqliteDatabase::insertToken(const std::string& tokenHash, int64_t userId, int64_t expires, int64_t now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement purge(m_db, "DELETE FROM tokens WHERE expires < ?1");
    purge.bind(1, now);
    purge.step();
    Statement insert(m_db, "INSERT INTO tokens (token_hash, user_id, expires) VALUES (?1, ?2, ?3)");
    insert.bind(1, tokenHash).bind(2, userId).bind(3, expires);
    return insert.step() == SQLITE_DONE;
}

std::optional<Database::UserRow> SqliteDatabase::userForToken(const std::string& tokenHash, int64_t now, bool* failed)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement select(m_db, "SELECT u.id, u.name, u.is_vip, u.created FROM tokens t JOIN users u ON u.id = t.user_id "
                           "WHERE t.token_hash = ?1 AND t.expires >= ?2");
    select.bind(1, tokenHash).bind(2, now);
    const int rc = select.step();
    if (failed)
        *failed = rc != SQLITE_ROW && rc != SQLITE_DONE;
    if (rc != SQLITE_ROW)
        return std::nullopt;
    return select.user(0);
}

std::string SqliteDatabase::tokenPasswordCheck(const std::string& tokenHash)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement select(m_db, "SELECT password_check FROM tokens WHERE token_hash = ?1");
    select.bind(1, tokenHash);
    return select.step() == SQLITE_ROW ? select.text(0) : std::string();
}

bool SqliteDatabase::setTokenPasswordCheck(const std::string& tokenHash, const std::string& check)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement update(m_db, "UPDATE tokens SET password_check = ?2 WHERE token_hash = ?1");
    update.bind(1, tokenHash).bind(2, check);
    return update.step() == SQLITE_DONE;
}

int64_t SqliteDatabase::tokenCount(int64_t userId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement count(m_db, "SELECT COUNT(*) FROM tokens WHERE user_id = ?1");
    count.bind(1, userId);
    return count.step() == SQLITE_ROW ? count.integer(0) : 0;
}

Database::Write SqliteDatabase::addWord(int64_t userId, const std::string& word, int64_t maxWords, int64_t now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // The count and the insert in one write transaction, also against other processes on the file.
    if (!exec("BEGIN IMMEDIATE", nullptr))
        return Write::Failed;
    Write result = Write::Failed;
    Statement known(m_db, "SELECT 1 FROM user_words WHERE user_id = ?1 AND word = ?2");
    known.bind(1, userId).bind(2, word);
    Statement count(m_db, "SELECT COUNT(*) FROM user_words WHERE user_id = ?1");
    count.bind(1, userId);
    if (known.step() == SQLITE_ROW) {
        result = Write::Stored;
    } else if (count.step() == SQLITE_ROW) {
        if (count.integer(0) >= maxWords) {
            result = Write::Full;
        } else {
            Statement insert(m_db, "INSERT OR IGNORE INTO user_words (user_id, word, added) VALUES (?1, ?2, ?3)");
            insert.bind(1, userId).bind(2, word).bind(3, now);
            result = insert.step() == SQLITE_DONE ? Write::Stored : Write::Failed;
        }
    }
    return exec(result == Write::Stored ? "COMMIT" : "ROLLBACK", nullptr) || result != Write::Stored ? result
                                                                                                     : Write::Failed;
}

std::vector<std::string> SqliteDatabase::userWords(int64_t userId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> words;
    Statement select(m_db, "SELECT word FROM user_words WHERE user_id = ?1 ORDER BY word");
    select.bind(1, userId);
    while (select.step() == SQLITE_ROW)
        words.push_back(select.text(0));
    return words;
}

Database::Write SqliteDatabase::addReport(int64_t userId, const std::string& message, const std::string& errorText,
                                          const std::string& sentence, const std::string& client, int64_t maxReports,
                                          int64_t since, int64_t now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!exec("BEGIN IMMEDIATE", nullptr))
        return Write::Failed;
    Write result = Write::Failed;
    Statement recent(m_db, "SELECT COUNT(*) FROM reports WHERE user_id = ?1 AND created > ?2");
    recent.bind(1, userId).bind(2, since);
    if (recent.step() == SQLITE_ROW) {
        if (recent.integer(0) >= maxReports) {
            result = Write::Full;
        } else {
            Statement insert(m_db, "INSERT INTO reports (user_id, message, text_error, text_sentence, client, created) "
                                   "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
            insert.bind(1, userId).bind(2, message).bind(3, errorText).bind(4, sentence).bind(5, client).bind(6, now);
            result = insert.step() == SQLITE_DONE ? Write::Stored : Write::Failed;
        }
    }
    return exec(result == Write::Stored ? "COMMIT" : "ROLLBACK", nullptr) || result != Write::Stored ? result
                                                                                                     : Write::Failed;
}

std::vector<std::string> SqliteDatabase::reportMessages(int64_t userId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> messages;
    Statement select(m_db, "SELECT message FROM reports WHERE user_id = ?1 ORDER BY id");
    select.bind(1, userId);
    while (select.step() == SQLITE_ROW)
        messages.push_back(select.text(0));
    return messages;
}

int64_t SqliteDatabase::reserveEvent(const std::string& key, int limit, int64_t window, int64_t now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement purge(m_db, "DELETE FROM limit_windows WHERE expires <= ?1");
    purge.bind(1, now);
    purge.step();
    Statement upsert(m_db, kReserveEventSql);
    upsert.bind(1, key).bind(2, now).bind(3, window).bind(4, int64_t(limit));
    const int rc = upsert.step();
    if (rc == SQLITE_ROW)
        return 0;
    if (rc != SQLITE_DONE)
        return -1;
    Statement select(m_db, "SELECT expires FROM limit_windows WHERE key = ?1");
    select.bind(1, key);
    return select.step() == SQLITE_ROW ? std::max<int64_t>(1, select.integer(0) - now) : -1;
}

void SqliteDatabase::releaseEvent(const std::string& key, int64_t reservedAt)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement update(m_db, "UPDATE limit_windows SET count = count - 1 "
                           "WHERE key = ?1 AND start <= ?2 AND expires > ?2 AND count > 0");
    update.bind(1, key).bind(2, reservedAt);
    update.step();
}

int64_t SqliteDatabase::eventWait(const std::string& key, int limit, int64_t now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement select(m_db, "SELECT expires FROM limit_windows WHERE key = ?1 AND count >= ?2 AND expires > ?3");
    select.bind(1, key).bind(2, int64_t(limit)).bind(3, now);
    return select.step() == SQLITE_ROW ? select.integer(0) - now : 0;
}

std::vector<std::pair<std::string, std::string>> SqliteDatabase::sensitiveWords()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::pair<std::string, std::string>> words;
    Statement select(m_db, "SELECT word, replacement FROM sensitive_words ORDER BY word");
    while (select.step() == SQLITE_ROW)
        words.emplace_back(select.text(0), select.text(1));
    return words;
}

bool SqliteDatabase::addSensitiveWord(const std::string& word, const std::string& replacement)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement upsert(m_db, "INSERT INTO sensitive_words (word, replacement) VALUES (?1, ?2) "
                           "ON CONFLICT (word) DO UPDATE SET replacement = excluded.replacement");
    upsert.bind(1, word).bind(2, replacement);
    return upsert.step() == SQLITE_DONE;
}

bool SqliteDatabase::removeSensitiveWord(const std::string& word)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement remove(m_db, "DELETE FROM sensitive_words WHERE word = ?1");
    remove.bind(1, word);
    return remove.step() == SQLITE_DONE && sqlite3_changes(m_db) > 0;
}

} // namespace quillet
