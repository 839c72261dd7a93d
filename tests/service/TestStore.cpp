#include "Store.h"
#include "TempPostgres.h"

#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

using quillet::Store;
using quillet::TempPostgres;

// Every test runs twice: on a SQLite file and on a database of a PostgreSQL
// server that the test case starts for itself.

class TestStore : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase_data();
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void usersAndPasswords();
    void namesAreValidated_data();
    void namesAreValidated();
    void hostileNamesAreStoredLiterally();
    void tokens();
    void dictionaryAndReports();
    void dataSurvivesReopening();
    void quotas();
    void expiredTokensAreDeleted();
    void removingAUserRemovesEverythingOfIt();
    void newPasswordsAreLong_data();
    void newPasswordsAreLong();
    void instancesStartingTogether();
    void parallelWritesKeepTheQuotas();
    void limitCounters();
    void parallelReservationsStayWithinTheLimit();
    void sensitiveWords();
    void passwordsRememberedWithTheirToken();
    void databasesOfEarlierVersionsOpen();

private:
    QTemporaryDir* m_dir = nullptr;
    Store* m_store = nullptr;
    std::string m_location;
    std::unique_ptr<TempPostgres> m_postgres;
    int m_databases = 0;
};

void TestStore::initTestCase_data()
{
    QTest::addColumn<bool>("postgres");
    QTest::newRow("sqlite") << false;
    QTest::newRow("postgresql") << true;
}

void TestStore::initTestCase()
{
    m_postgres = std::make_unique<TempPostgres>();
    std::string error;
    QVERIFY2(m_postgres->start(&error), error.c_str());
}

void TestStore::cleanupTestCase()
{
    m_postgres.reset();
}

void TestStore::init()
{
    QFETCH_GLOBAL(bool, postgres);
    m_dir = new QTemporaryDir;
    m_location = postgres ? m_postgres->createDatabase("test" + std::to_string(++m_databases))
                          : m_dir->filePath("q.db").toStdString();
    QVERIFY(!m_location.empty());
    m_store = new Store;
    std::string error;
    QVERIFY2(m_store->open(m_location, &error), error.c_str());
}

void TestStore::cleanup()
{
    delete m_store;
    delete m_dir;
}

void TestStore::usersAndPasswords()
{
    QCOMPARE(m_store->addUser("alice", "pw+1 %", false), Store::AddResult::Added);
    QCOMPARE(m_store->addUser("alice", "other", true), Store::AddResult::Exists);
    QCOMPARE(m_store->addUser("bob", "b", true), Store::AddResult::Added);
    QVERIFY(m_store->verifyPassword("alice", "pw+1 %").has_value());
    QVERIFY(!m_store->verifyPassword("alice", "pw+1").has_value());
    QVERIFY(!m_store->verifyPassword("alice", "").has_value());
    QVERIFY(!m_store->verifyPassword("nobody", "pw+1 %").has_value());
    QCOMPARE(m_store->verifyPassword("bob", "b")->vip, true);

    const auto users = m_store->listUsers();
    QCOMPARE(int(users.size()), 2);
    QCOMPARE(users[0].name, std::string("alice"));
    QVERIFY(m_store->removeUser("alice"));
    QVERIFY(!m_store->removeUser("alice"));
    QCOMPARE(m_store->userCount(), int64_t(1));
}

void TestStore::namesAreValidated_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << QByteArray("alice") << true;
    QTest::newRow("Chinese") << QStringLiteral("张三").toUtf8() << true;
    QTest::newRow("inner space") << QByteArray("a b") << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("leading space") << QByteArray(" a") << false;
    QTest::newRow("control character") << QByteArray("a\nb") << false;
    QTest::newRow("invalid UTF-8") << QByteArray("a\xff") << false;
    QTest::newRow("65 characters") << QByteArray(65, 'a') << false;
}

void TestStore::namesAreValidated()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, valid);
    QCOMPARE(Store::validUserName(name.toStdString()), valid);
    QCOMPARE(m_store->addUser(name.toStdString(), "pw", false) == Store::AddResult::Added, valid);
}

void TestStore::hostileNamesAreStoredLiterally()
{
    const std::string name = "x'); DROP TABLE users; --";
    QCOMPARE(m_store->addUser(name, "pw", false), Store::AddResult::Added);
    QVERIFY(m_store->findUser(name).has_value());
    QVERIFY(!m_store->findUser("x").has_value());
    QCOMPARE(m_store->userCount(), int64_t(1));
}

void TestStore::tokens()
{
    QCOMPARE(m_store->addUser("alice", "pw", false), Store::AddResult::Added);
    const int64_t id = m_store->findUser("alice")->id;
    const std::string first = m_store->issueToken(id);
    const std::string second = m_store->issueToken(id);
    QCOMPARE(first.size(), size_t(64));
    QVERIFY(first != second);
    QCOMPARE(m_store->userForToken(first)->name, std::string("alice"));
    QCOMPARE(m_store->userForToken(second)->name, std::string("alice"));
    QVERIFY(!m_store->userForToken("").has_value());
    QVERIFY(!m_store->userForToken(first.substr(0, 63)).has_value());
    // Removing the user ends its sessions.
    QVERIFY(m_store->removeUser("alice"));
    QVERIFY(!m_store->userForToken(first).has_value());
}

void TestStore::dictionaryAndReports()
{
    QCOMPARE(m_store->addUser("alice", "pw", false), Store::AddResult::Added);
    const int64_t id = m_store->findUser("alice")->id;
    QCOMPARE(m_store->addWord(id, "以经"), Store::WriteResult::Stored);
    QCOMPARE(m_store->addWord(id, "以经"), Store::WriteResult::Stored);
    QCOMPARE(m_store->addWord(id, "'; --"), Store::WriteResult::Stored);
    QCOMPARE(m_store->userWords(id), (std::vector<std::string>{"'; --", "以经"}));
    QCOMPARE(m_store->listUsers().front().words, int64_t(2));
    QCOMPARE(m_store->addReport(id, "note", "以经", "我们以经到了。", "client 2.2"), Store::WriteResult::Stored);
    // A NUL inside a word is kept whole or refused, never cut short.
    const std::string withNul("a\0b", 3);
    const bool stored = m_store->addWord(id, withNul) == Store::WriteResult::Stored;
    const std::vector<std::string> words = m_store->userWords(id);
    QCOMPARE(std::count(words.begin(), words.end(), withNul), stored ? 1L : 0L);
    QCOMPARE(std::count(words.begin(), words.end(), std::string("a")), 0L);
}

void TestStore::dataSurvivesReopening()
{
    QCOMPARE(m_store->addUser("alice", "pw", false), Store::AddResult::Added);
    const std::string token = m_store->issueToken(m_store->findUser("alice")->id);
    delete m_store;
    m_store = new Store;
    QVERIFY(m_store->open(m_location, nullptr));
    QVERIFY(m_store->verifyPassword("alice", "pw").has_value());
    QVERIFY(m_store->userForToken(token).has_value());
}

void TestStore::quotas()
{
    QCOMPARE(m_store->limits().wordsPerUser, int64_t(10000));
    int64_t clock = 1000000;
    m_store->setClock([&clock] { return clock; });
    m_store->setLimits({3, 2});
    QCOMPARE(m_store->addUser("alice", "pw", false), Store::AddResult::Added);
    QCOMPARE(m_store->addUser("bob", "pw", false), Store::AddResult::Added);
    const int64_t alice = m_store->findUser("alice")->id, bob = m_store->findUser("bob")->id;

    for (const char* word : {"一", "二", "三"})
        QCOMPARE(m_store->addWord(alice, word), Store::WriteResult::Stored);
    QCOMPARE(m_store->addWord(alice, "四"), Store::WriteResult::Full);
    QCOMPARE(m_store->addWord(alice, "二"), Store::WriteResult::Stored); // already there: no new row
    QCOMPARE(m_store->addWord(bob, "四"), Store::WriteResult::Stored);   // each user has their own quota
    QCOMPARE(int(m_store->userWords(alice).size()), 3);

    QCOMPARE(m_store->addReport(alice, "a", "b", "c", "d"), Store::WriteResult::Stored);
    clock += 3600;
    QCOMPARE(m_store->addReport(alice, "a", "b", "c", "d"), Store::WriteResult::Stored);
    QCOMPARE(m_store->addReport(alice, "a", "b", "c", "d"), Store::WriteResult::Full);
    QCOMPARE(m_store->addReport(bob, "a", "b", "c", "d"), Store::WriteResult::Stored);
    // A day after the first report, one more fits.
    clock += 23 * 3600 + 1;
    QCOMPARE(m_store->addReport(alice, "a", "b", "c", "d"), Store::WriteResult::Stored);
    QCOMPARE(m_store->addReport(alice, "a", "b", "c", "d"), Store::WriteResult::Full);
    QCOMPARE(m_store->reportCount(alice), int64_t(3));
}

void TestStore::expiredTokensAreDeleted()
{
    int64_t clock = 1000000;
    m_store->setClock([&clock] { return clock; });
    QCOMPARE(m_store->addUser("alice", "pw", false), Store::AddResult::Added);
    const int64_t id = m_store->findUser("alice")->id;
    const std::string old = m_store->issueToken(id);
    clock += Store::kTokenLifetime;
    QVERIFY(m_store->userForToken(old).has_value()); // valid up to the last second
    clock += 1;
    QVERIFY(!m_store->userForToken(old).has_value());
    QCOMPARE(m_store->tokenCount(id), int64_t(1));
    const std::string fresh = m_store->issueToken(id);
    QCOMPARE(m_store->tokenCount(id), int64_t(1)); // the expired one is gone
    QVERIFY(m_store->userForToken(fresh).has_value());
}

void TestStore::removingAUserRemovesEverythingOfIt()
{
    QCOMPARE(m_store->addUser("alice", "pw", false), Store::AddResult::Added);
    QCOMPARE(m_store->addUser("bob", "pw", false), Store::AddResult::Added);
    const int64_t alice = m_store->findUser("alice")->id, bob = m_store->findUser("bob")->id;
    for (int64_t id : {alice, bob}) {
        m_store->issueToken(id);
        QCOMPARE(m_store->addWord(id, "以经"), Store::WriteResult::Stored);
        QCOMPARE(m_store->addReport(id, "a", "b", "c", "d"), Store::WriteResult::Stored);
    }
    QVERIFY(m_store->removeUser("alice"));
    QCOMPARE(m_store->tokenCount(alice), int64_t(0));
    QVERIFY(m_store->userWords(alice).empty());
    QCOMPARE(m_store->reportCount(alice), int64_t(0));
    // Nothing of another user goes with it.
    QCOMPARE(m_store->tokenCount(bob), int64_t(1));
    QCOMPARE(int(m_store->userWords(bob).size()), 1);
    QCOMPARE(m_store->reportCount(bob), int64_t(1));
}

void TestStore::newPasswordsAreLong_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("strong");
    QTest::newRow("7 characters") << "1234567" << false;
    QTest::newRow("8 characters") << "12345678" << true;
    QTest::newRow("7 Chinese characters, 21 bytes") << QStringLiteral("一二三四五六七") << false;
    QTest::newRow("8 Chinese characters") << QStringLiteral("一二三四五六七八") << true;
    QTest::newRow("501 characters") << QString(501, 'a') << false;
}

void TestStore::newPasswordsAreLong()
{
    QFETCH(QString, password);
    QFETCH(bool, strong);
    QCOMPARE(Store::strongEnoughPassword(password.toStdString()), strong);
}

void TestStore::instancesStartingTogether()
{
    // Service processes started together on an empty database: each creates
    // or finds the schema, none fails, and they see each other's rows.
    QFETCH_GLOBAL(bool, postgres);
    const std::string location = postgres ? m_postgres->createDatabase("together" + std::to_string(++m_databases))
                                          : m_dir->filePath("t.db").toStdString();
    std::vector<std::unique_ptr<Store>> stores(6);
    std::vector<std::thread> starts;
    std::atomic<int> opened{0};
    for (auto& store : stores) {
        store = std::make_unique<Store>();
        starts.emplace_back([&store, &location, &opened] { opened += store->open(location, nullptr) ? 1 : 0; });
    }
    for (std::thread& start : starts)
        start.join();
    QCOMPARE(opened.load(), 6);
    QCOMPARE(stores[0]->addUser("alice", "pw", false), Store::AddResult::Added);
    QCOMPARE(stores[5]->addUser("alice", "pw", false), Store::AddResult::Exists);
    const std::string token = stores[1]->issueToken(stores[2]->findUser("alice")->id);
    QCOMPARE(stores[3]->userForToken(token)->name, std::string("alice"));
}

void TestStore::parallelWritesKeepTheQuotas()
{
    Store other;
    QVERIFY(other.open(m_location, nullptr));
    m_store->setLimits({5, 3});
    other.setLimits({5, 3});
    QCOMPARE(m_store->addUser("alice", "pw", false), Store::AddResult::Added);
    const int64_t id = m_store->findUser("alice")->id;
    // Two stores (two service processes on PostgreSQL) write for one user at once.
    std::atomic<int> stored{0}, full{0}, reports{0};
    std::vector<std::thread> writers;
    for (int i = 0; i < 16; ++i) {
        writers.emplace_back([&, i] {
            Store& store = i % 2 ? other : *m_store;
            const auto word = store.addWord(id, "w" + std::to_string(i));
            (word == Store::WriteResult::Stored ? stored : full) += word == Store::WriteResult::Failed ? 0 : 1;
            reports += store.addReport(id, "r", "e", "s", "c") == Store::WriteResult::Stored ? 1 : 0;
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    QCOMPARE(stored.load(), 5);
    QCOMPARE(full.load(), 11);
    QCOMPARE(int(m_store->userWords(id).size()), 5);
    QCOMPARE(reports.load(), 3);
    QCOMPARE(m_store->reportCount(id), int64_t(3));
    QCOMPARE(m_store->reportMessages(id), (std::vector<std::string>{"r", "r", "r"}));
}

void TestStore::limitCounters()
{
    quillet::Database* db = m_store->database();
    QVERIFY(db);
    QCOMPARE(db->reserveEvent("login:alice", 2, 60, 1000), int64_t(0));
    QCOMPARE(db->reserveEvent("login:alice", 2, 60, 1010), int64_t(0));
    QCOMPARE(db->reserveEvent("login:alice", 2, 60, 1020), int64_t(40));
    QCOMPARE(db->eventWait("login:alice", 2, 1030), int64_t(30));
    QCOMPARE(db->reserveEvent("login:bob", 2, 60, 1020), int64_t(0)); // keys are apart
    // A right password gives its reservation back; one from a passed window does not count.
    db->releaseEvent("login:alice", 1010);
    db->releaseEvent("login:alice", 900);
    QCOMPARE(db->eventWait("login:alice", 2, 1030), int64_t(0));
    QCOMPARE(db->reserveEvent("login:alice", 2, 60, 1030), int64_t(0));
    QCOMPARE(db->reserveEvent("login:alice", 2, 60, 1031), int64_t(29));
    // Once the window has passed, a new one opens.
    QCOMPARE(db->reserveEvent("login:alice", 2, 60, 1060), int64_t(0));
    QCOMPARE(db->eventWait("login:alice", 2, 1060), int64_t(0));
}

void TestStore::parallelReservationsStayWithinTheLimit()
{
    // Several processes' counters are one row: however the calls interleave,
    // ten of thirty get through.
    Store other;
    QVERIFY(other.open(m_location, nullptr));
    std::atomic<int> reserved{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 30; ++i) {
        callers.emplace_back([&, i] {
            quillet::Database* db = (i % 2 ? other : *m_store).database();
            reserved += db->reserveEvent("login:henry", 10, 60, 5000) == 0 ? 1 : 0;
        });
    }
    for (std::thread& caller : callers)
        caller.join();
    QCOMPARE(reserved.load(), 10);
}

void TestStore::sensitiveWords()
{
    quillet::Database* db = m_store->database();
    QVERIFY(db->addSensitiveWord("敏感", ""));
    QVERIFY(db->addSensitiveWord("'; --", "x"));
    QVERIFY(db->addSensitiveWord("敏感", "替换")); // a second add replaces the replacement
    using Words = std::vector<std::pair<std::string, std::string>>;
    QCOMPARE(db->sensitiveWords(), (Words{{"'; --", "x"}, {"敏感", "替换"}}));
    QVERIFY(db->removeSensitiveWord("'; --"));
    QVERIFY(!db->removeSensitiveWord("'; --"));
    QCOMPARE(db->sensitiveWords(), (Words{{"敏感", "替换"}}));
}

void TestStore::passwordsRememberedWithTheirToken()
{
    QCOMPARE(m_store->addUser("alice", "pw", false), Store::AddResult::Added);
    const int64_t id = m_store->findUser("alice")->id;
    const std::string token = m_store->issueToken(id), other = m_store->issueToken(id);
    QVERIFY(!m_store->passwordMatchesToken(token, "pw")); // nothing remembered yet
    m_store->rememberPassword(token, "pw");
    QVERIFY(m_store->passwordMatchesToken(token, "pw"));
    QVERIFY(!m_store->passwordMatchesToken(token, "pw2"));
    QVERIFY(!m_store->passwordMatchesToken(token, ""));
    QVERIFY(!m_store->passwordMatchesToken(other, "pw")); // bound to that token only
    QVERIFY(!m_store->passwordMatchesToken(token.substr(0, 63), "pw"));
}

void TestStore::databasesOfEarlierVersionsOpen()
{
    QFETCH_GLOBAL(bool, postgres);
    if (postgres)
        QSKIP("PostgreSQL stores began with versioned schemas");
    // A file as the service wrote it before schema versions were kept.
    const std::string path = m_dir->filePath("old.db").toStdString();
    const QString script = QStringLiteral(
        "CREATE TABLE users (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, password_hash TEXT NOT NULL,"
        " is_vip INTEGER NOT NULL DEFAULT 0, created INTEGER NOT NULL);"
        "CREATE TABLE tokens (token_hash TEXT PRIMARY KEY, user_id INTEGER NOT NULL REFERENCES users(id)"
        " ON DELETE CASCADE, expires INTEGER NOT NULL);"
        "CREATE TABLE user_words (user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE, word TEXT NOT NULL,"
        " added INTEGER NOT NULL, PRIMARY KEY (user_id, word));"
        "CREATE TABLE reports (id INTEGER PRIMARY KEY, user_id INTEGER REFERENCES users(id) ON DELETE SET NULL,"
        " message TEXT NOT NULL, text_error TEXT NOT NULL, text_sentence TEXT NOT NULL, client TEXT NOT NULL,"
        " created INTEGER NOT NULL);"
        "INSERT INTO users VALUES (7, 'old', 'x', 1, 5);"
        "INSERT INTO tokens VALUES ('%1', 7, 9999999999);"
        "INSERT INTO user_words VALUES (7, '以经', 5);");
    QProcess sqlite;
    sqlite.start("python3", {"-c", "import sqlite3,sys; sqlite3.connect(sys.argv[1]).executescript(sys.argv[2])",
                             QString::fromStdString(path), script.arg("feed")});
    QVERIFY(sqlite.waitForFinished(30000));
    QCOMPARE(sqlite.exitCode(), 0);
    Store old;
    std::string error;
    QVERIFY2(old.open(path, &error), error.c_str());
    QCOMPARE(old.findUser("old")->vip, true);
    QCOMPARE(old.userWords(7), std::vector<std::string>{"以经"});
    QCOMPARE(old.tokenCount(7), int64_t(1));
    QCOMPARE(old.addWord(7, "新词"), Store::WriteResult::Stored);
    QCOMPARE(old.database()->reserveEvent("k", 1, 60, 100), int64_t(0));
    QVERIFY(old.issueToken(7).size() == 64);
    // Opened again, nothing is migrated twice.
    Store again;
    QVERIFY2(again.open(path, &error), error.c_str());
    QCOMPARE(int(again.userWords(7).size()), 2);
}

QTEST_APPLESS_MAIN(TestStore)
#include "TestStore.moc"
