#include "Store.h"
#include "PostgresDatabase.h"
#include "SqliteDatabase.h"
#include "Utf.h"

#include <sodium.h>

#include <algorithm>
#include <chrono>

namespace quillet {

namespace {

int64_t systemNow()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

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

Store::Store() = default;
Store::~Store() = default;

bool Store::isDatabaseUrl(const std::string& location)
{
    return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

bool Store::open(const std::string& location, std::string* error)
{
    if (sodium_init() < 0) {
        if (error)
            *error = "libsodium could not be initialised";
        return false;
    }
    std::unique_ptr<Database> db;
    if (isDatabaseUrl(location))
        db = std::make_unique<PostgresDatabase>();
    else
        db = std::make_unique<SqliteDatabase>();
    if (!db->open(location, error))
        return false;
    m_db = std::move(db);
    return true;
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
    switch (m_db->insertUser(name, hash, vip, now())) {
    case Database::Insert::Added:
        return AddResult::Added;
    case Database::Insert::Exists:
        return AddResult::Exists;
    case Database::Insert::Failed:
        break;
    }
    return AddResult::Failed;
}

bool Store::removeUser(const std::string& name)
{
    return m_db->removeUser(name);
}

std::vector<Store::User> Store::listUsers()
{
    return m_db->listUsers();
}

int64_t Store::userCount()
{
    return m_db->userCount();
}

std::optional<Store::User> Store::findUser(const std::string& name)
{
    return m_db->findUser(name);
}

std::optional<Store::User> Store::verifyPassword(const std::string& name, const std::string& password)
{
    const auto record = m_db->passwordRecord(name);
    if (!record) {
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
    if (crypto_pwhash_str_verify(record->second.c_str(), password.data(), password.size()) != 0)
        return std::nullopt;
    return record->first;
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

    const int64_t at = now();
    return m_db->insertToken(tokenHash(token), userId, at + kTokenLifetime, at) ? token : std::string();
}

std::optional<Store::User> Store::userForToken(const std::string& token, bool* failed)
{
    if (failed)
        *failed = false;
    if (token.empty() || token.size() > 256)
        return std::nullopt;
    return m_db->userForToken(tokenHash(token), now(), failed);
}

namespace {

std::string passwordCheck(const std::string& token, const std::string& password)
{
    unsigned char digest[crypto_generichash_BYTES];
    const size_t keyLength = std::min<size_t>(token.size(), crypto_generichash_KEYBYTES_MAX);
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(password.data()), password.size(),
                       reinterpret_cast<const unsigned char*>(token.data()), keyLength);
    char hex[crypto_generichash_BYTES * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}

} // namespace

bool Store::passwordMatchesToken(const std::string& token, const std::string& password)
{
    if (token.size() < crypto_generichash_KEYBYTES_MIN || token.size() > 256 || password.empty())
        return false;
    const std::string stored = m_db->tokenPasswordCheck(tokenHash(token));
    const std::string given = passwordCheck(token, password);
    return stored.size() == given.size() && sodium_memcmp(stored.data(), given.data(), given.size()) == 0;
}

void Store::rememberPassword(const std::string& token, const std::string& password)
{
    if (token.size() >= crypto_generichash_KEYBYTES_MIN && token.size() <= 256 && !password.empty())
        m_db->setTokenPasswordCheck(tokenHash(token), passwordCheck(token, password));
}

int64_t Store::tokenCount(int64_t userId)
{
    return m_db->tokenCount(userId);
}

namespace {

Store::WriteResult writeResult(Database::Write write)
{
    switch (write) {
    case Database::Write::Stored:
        return Store::WriteResult::Stored;
    case Database::Write::Full:
        return Store::WriteResult::Full;
    case Database::Write::Failed:
        break;
    }
    return Store::WriteResult::Failed;
}

} // namespace

Store::WriteResult Store::addWord(int64_t userId, const std::string& word)
{
    return writeResult(m_db->addWord(userId, word, m_limits.wordsPerUser, now()));
}

std::vector<std::string> Store::userWords(int64_t userId)
{
    return m_db->userWords(userId);
}

Store::WriteResult Store::addReport(int64_t userId, const std::string& message, const std::string& errorText,
                                    const std::string& sentence, const std::string& client)
{
    const int64_t at = now();
    return writeResult(
        m_db->addReport(userId, message, errorText, sentence, client, m_limits.reportsPerDay, at - 24 * 3600, at));
}

int64_t Store::reportCount(int64_t userId)
{
    return int64_t(m_db->reportMessages(userId).size());
}

std::vector<std::string> Store::reportMessages(int64_t userId)
{
    return m_db->reportMessages(userId);
}

} // namespace quillet
