#include "Store.h"

#include <QtTest>

using quillet::Store;

class TestStore : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void usersAndPasswords();
    void namesAreValidated_data();
    void namesAreValidated();
    void hostileNamesAreStoredLiterally();
    void tokens();
    void dictionaryAndReports();
    void dataSurvivesReopening();

private:
    QTemporaryDir* m_dir = nullptr;
    Store* m_store = nullptr;
};

void TestStore::init()
{
    m_dir = new QTemporaryDir;
    m_store = new Store;
    std::string error;
    QVERIFY2(m_store->open(m_dir->filePath("q.db").toStdString(), &error), error.c_str());
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
    QVERIFY(m_store->addWord(id, "以经"));
    QVERIFY(m_store->addWord(id, "以经"));
    QVERIFY(m_store->addWord(id, "'; --"));
    QCOMPARE(m_store->userWords(id), (std::vector<std::string>{"'; --", "以经"}));
    QCOMPARE(m_store->listUsers().front().words, int64_t(2));
    QVERIFY(m_store->addReport(id, "note", "以经", "我们以经到了。", "client 2.2"));
}

void TestStore::dataSurvivesReopening()
{
    QCOMPARE(m_store->addUser("alice", "pw", false), Store::AddResult::Added);
    const std::string token = m_store->issueToken(m_store->findUser("alice")->id);
    delete m_store;
    m_store = new Store;
    QVERIFY(m_store->open(m_dir->filePath("q.db").toStdString(), nullptr));
    QVERIFY(m_store->verifyPassword("alice", "pw").has_value());
    QVERIFY(m_store->userForToken(token).has_value());
}

QTEST_APPLESS_MAIN(TestStore)
#include "TestStore.moc"
