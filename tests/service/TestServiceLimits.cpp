#include "LanguageModel.h"
#include "Lexicon.h"
#include "Service.h"
#include "Store.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <QtTest>

#include <sys/stat.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace quillet;
using json = nlohmann::json;

// The doors of the service that limits keep shut: failed logins, tokens,
// storage quotas, registration, and the checker address behind a proxy. The
// service trusts a proxy here, so each request names its client address in
// X-Forwarded-For, and runs on a clock the tests move.
class TestServiceLimits : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void failedLoginsPerName();
    void failedLoginsPerAddress();
    void parallelGuessesStayWithinTheLimit();
    void ipv6ClientsCountByTheirNetwork();
    void validTokenSkipsThePasswordHash();
    void limiterKeepsKeysOverTheirLimit();
    void addressKeys_data();
    void addressKeys();
    void hashSlotsFollowMemory_data();
    void hashSlotsFollowMemory();
    void filesAtRestArePrivate();
    void forwardedAddressIsIgnoredWithoutTrust();
    void proxyAddressOnALineOfItsOwn();
    void tokenIsHandedBack();
    void checkerFollowsTheProxyScheme_data();
    void checkerFollowsTheProxyScheme();
    void storageQuotas();
    void registration();

private:
    struct Running
    {
        std::unique_ptr<Service> service;
        std::thread thread;
        int port = 0;
    };
    void start(Running& running, bool trustProxy);
    json post(const std::string& path, const std::string& body, const httplib::Headers& headers = {}, int port = 0);
    json login(const std::string& user, const std::string& password, const std::string& address,
               const std::string& token = {}, int port = 0);
    std::string registerUser(const std::string& name, const std::string& password, const std::string& address);

    QTemporaryDir m_dir;
    Lexicon m_lexicon;
    LanguageModel m_model;
    Store m_store;
    std::atomic<int64_t> m_now{1000000};
    Running m_trusting;
    Running m_direct;
};

void TestServiceLimits::start(Running& running, bool trustProxy)
{
    Service::Settings settings;
    settings.dataDir = m_dir.path().toStdString();
    settings.trustProxy = trustProxy;
    // Enough workers for the parallel guesses to meet inside the service.
    settings.threads = trustProxy ? 40 : 4;
    settings.clock = [this] { return m_now.load(); };
    running.service = std::make_unique<Service>(m_store, m_lexicon, m_model, settings);
    running.port = running.service->bind("127.0.0.1", 0);
    QVERIFY(running.port > 0);
    Service* service = running.service.get();
    running.thread = std::thread([service] { service->run(); });
}

void TestServiceLimits::initTestCase()
{
    std::string error;
    QVERIFY2(m_lexicon.load(QUILLET_LEXICON_PATH, &error), error.c_str());
    QVERIFY2(m_model.load(LanguageModel::kDefaultFolder, &error), error.c_str());
    QVERIFY(m_store.open(m_dir.filePath("quillet.db").toStdString(), &error));
    m_store.setClock([this] { return m_now.load(); });
    start(m_trusting, true);
    start(m_direct, false);
}

void TestServiceLimits::cleanupTestCase()
{
    for (Running* running : {&m_trusting, &m_direct}) {
        running->service->stop();
        if (running->thread.joinable())
            running->thread.join();
    }
}

void TestServiceLimits::init()
{
    // Every test starts after the windows of the one before have passed.
    m_now += 24 * 3600;
    m_store.setLimits(Store::Limits());
}

json TestServiceLimits::post(const std::string& path, const std::string& body, const httplib::Headers& headers,
                             int port)
{
    httplib::Client client("127.0.0.1", port ? port : m_trusting.port);
    auto result = client.Post(path.c_str(), headers, body, "application/x-www-form-urlencoded");
    if (!result || result->status != 200)
        return json();
    return json::parse(result->body, nullptr, false);
}

json TestServiceLimits::login(const std::string& user, const std::string& password, const std::string& address,
                              const std::string& token, int port)
{
    const std::string body =
        "http://x/api/v2/auth/?client_id=client&client_id=client&client_ver=2.2&access_token=" + token +
        "&password=" + QUrl::toPercentEncoding(QString::fromStdString(password)).toStdString() +
        "&text_length=0&user_name=" + user;
    return post("/api/v2/auth/", body, {{"X-Forwarded-For", "192.0.2.99, " + address}}, port);
}

std::string TestServiceLimits::registerUser(const std::string& name, const std::string& password,
                                            const std::string& address)
{
    httplib::Client client("127.0.0.1", m_trusting.port);
    const std::string body = "user_name=" + name + "&password=" + password + "&password2=" + password;
    auto result = client.Post("/register/", {{"X-Forwarded-For", address}}, body, "application/x-www-form-urlencoded");
    return result ? std::to_string(result->status) + " " + result->body : std::string();
}

void TestServiceLimits::failedLoginsPerName()
{
    QCOMPARE(m_store.addUser("alice", "right-password", false), Store::AddResult::Added);
    const std::string token = login("alice", "right-password", "10.0.0.1")["access_token"];
    QVERIFY(!token.empty());
    // Ten wrong guesses from ten addresses use up the name's minute ...
    for (int i = 0; i < 10; ++i)
        QCOMPARE(login("alice", "guess", "10.0.1." + std::to_string(i))["error_msg"].get<std::string>(),
                 std::string("用户名或密码错误。"));
    // ... after which even the right password waits, from anywhere, with a message saying how long.
    m_now += 20;
    const json refused = login("alice", "right-password", "10.0.2.1");
    QCOMPARE(refused["error_code"].get<std::string>(), std::string("auth_error"));
    QCOMPARE(refused["access_token"].get<std::string>(), std::string());
    QVERIFY2(refused["error_msg"].get<std::string>().find("40 秒") != std::string::npos,
             refused["error_msg"].get<std::string>().c_str());
    // A client that holds its token is not locked out, and other names are not affected.
    QCOMPARE(login("alice", "", "10.0.2.1", token)["access_token"].get<std::string>(), token);
    QCOMPARE(m_store.addUser("carol", "carols-password", false), Store::AddResult::Added);
    QVERIFY(!login("carol", "carols-password", "10.0.2.1")["access_token"].get<std::string>().empty());
    // Once the window has passed, the right password works again.
    m_now += 40;
    QVERIFY(!login("alice", "right-password", "10.0.2.1")["access_token"].get<std::string>().empty());
}

void TestServiceLimits::failedLoginsPerAddress()
{
    QCOMPARE(m_store.addUser("bob", "bobs-password", false), Store::AddResult::Added);
    for (int i = 0; i < 10; ++i)
        QCOMPARE(login("nobody" + std::to_string(i), "guess", "10.9.9.9")["error_code"].get<std::string>(),
                 std::string("auth_error"));
    QVERIFY(login("bob", "bobs-password", "10.9.9.9")["access_token"].get<std::string>().empty());
    QVERIFY(!login("bob", "bobs-password", "10.9.9.10")["access_token"].get<std::string>().empty());
    m_now += 60;
    QVERIFY(!login("bob", "bobs-password", "10.9.9.9")["access_token"].get<std::string>().empty());
}

void TestServiceLimits::parallelGuessesStayWithinTheLimit()
{
    QCOMPARE(m_store.addUser("henry", "henrys-password", false), Store::AddResult::Added);
    // Thirty guesses at once, each from its own address: the name's limit of
    // ten holds, however the guesses interleave inside the service.
    std::vector<std::thread> guesses;
    std::atomic<int> answered{0}, refused{0}, other{0};
    for (int i = 0; i < 30; ++i) {
        guesses.emplace_back([&, i] {
            const json reply = login("henry", "guess", "10.0.6." + std::to_string(i));
            const std::string message = reply.is_object() ? reply.value("error_msg", "") : std::string();
            if (message == "用户名或密码错误。")
                ++answered;
            else if (message.find("秒后再试") != std::string::npos)
                ++refused;
            else
                ++other;
        });
    }
    for (std::thread& guess : guesses)
        guess.join();
    const QByteArray counts = QByteArray::number(answered.load()) + " answered, " + QByteArray::number(refused.load()) +
                              " refused, " + QByteArray::number(other.load()) + " other";
    QVERIFY2(answered == 10 && refused == 20 && other == 0, counts.constData());
}

void TestServiceLimits::ipv6ClientsCountByTheirNetwork()
{
    QCOMPARE(m_store.addUser("iris", "iris-password", false), Store::AddResult::Added);
    // One subscriber's /64 holds more addresses than any limit: each guess from a fresh one.
    for (int i = 1; i <= 10; ++i)
        login("nobody" + std::to_string(i), "guess", "2001:db8:1:2::" + std::to_string(i));
    QVERIFY(login("iris", "iris-password", "2001:db8:1:2:ffff::1")["access_token"].get<std::string>().empty());
    QVERIFY(!login("iris", "iris-password", "2001:db8:1:3::1")["access_token"].get<std::string>().empty());
}

void TestServiceLimits::validTokenSkipsThePasswordHash()
{
    QCOMPARE(m_store.addUser("jack", "jacks-password", false), Store::AddResult::Added);
    const std::string token = login("jack", "jacks-password", "10.0.7.1")["access_token"];
    QVERIFY(!token.empty());
    const int64_t hashes = m_store.hashCount();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(login("jack", "jacks-password", "10.0.7.1", token)["access_token"].get<std::string>(), token);
    QCOMPARE(m_store.hashCount(), hashes);
    // A wrong password is not taken on the token's word: it is hashed and refused.
    QCOMPARE(login("jack", "wrong-password", "10.0.7.1", token)["error_code"].get<std::string>(),
             std::string("auth_error"));
    QCOMPARE(m_store.hashCount(), hashes + 1);
    // Another user's token does not stand in for this user's password.
    QCOMPARE(m_store.addUser("kate", "kates-password", false), Store::AddResult::Added);
    const int64_t before = m_store.hashCount();
    QCOMPARE(login("kate", "wrong-password", "10.0.7.1", token)["error_code"].get<std::string>(),
             std::string("auth_error"));
    QCOMPARE(m_store.hashCount(), before + 1);
}

void TestServiceLimits::limiterKeepsKeysOverTheirLimit()
{
    RateLimiter limiter(2, 60, 8);
    QCOMPARE(limiter.reserve("held", 100), int64_t(0));
    QCOMPARE(limiter.reserve("held", 100), int64_t(0));
    QCOMPARE(limiter.reserve("held", 110), int64_t(50));
    // A flood of fresh keys makes room among keys under their limit only.
    for (int i = 0; i < 100; ++i)
        QCOMPARE(limiter.reserve("flood" + std::to_string(i), 111 + i / 10), int64_t(0));
    QVERIFY(limiter.trackedKeys() <= 8);
    QCOMPARE(limiter.wait("held", 120), int64_t(40));
    // A right password gives its reservation back; one from a passed window does not count.
    QCOMPARE(limiter.reserve("fresh", 200), int64_t(0));
    limiter.release("fresh", 200);
    limiter.release("fresh", 100);
    QCOMPARE(limiter.reserve("fresh", 200), int64_t(0));
    QCOMPARE(limiter.reserve("fresh", 200), int64_t(0));
    QCOMPARE(limiter.reserve("fresh", 200), int64_t(60));
    QCOMPARE(limiter.reserve("held", 160), int64_t(0)); // its window has passed
}

void TestServiceLimits::addressKeys_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("key");
    QTest::newRow("IPv4") << "192.0.2.7"
                          << "192.0.2.7";
    QTest::newRow("IPv6 by its /64") << "2001:db8:1:2:3:4:5:6"
                                     << "2001:db8:1:2::/64";
    QTest::newRow("IPv6, short form") << "2001:db8::1"
                                      << "2001:db8::/64";
    QTest::newRow("IPv4-mapped") << "::ffff:192.0.2.7"
                                 << "192.0.2.7";
    QTest::newRow("not an address") << "bogus:addr"
                                    << "bogus:addr";
}

void TestServiceLimits::addressKeys()
{
    QFETCH(QString, address);
    QFETCH(QString, key);
    QCOMPARE(QString::fromStdString(RateLimiter::addressKey(address.toStdString())), key);
}

void TestServiceLimits::hashSlotsFollowMemory_data()
{
    const int64_t mib = 1024 * 1024;
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("cores");
    QTest::addColumn<qint64>("memory");
    QTest::addColumn<int>("expected");
    QTest::newRow("plenty of memory: one per core") << 128 << 8 << qint64(64 * 1024 * mib) << 8;
    QTest::newRow("little memory") << 128 << 8 << qint64(512 * mib) << 2;
    QTest::newRow("almost none: still one") << 128 << 8 << qint64(10 * mib) << 1;
    QTest::newRow("unknown memory") << 128 << 4 << qint64(-1) << 4;
    QTest::newRow("fewer workers") << 2 << 8 << qint64(64 * 1024 * mib) << 2;
}

void TestServiceLimits::hashSlotsFollowMemory()
{
    QFETCH(int, threads);
    QFETCH(int, cores);
    QFETCH(qint64, memory);
    QFETCH(int, expected);
    QCOMPARE(Service::defaultHashSlots(threads, cores, memory), expected);
}

void TestServiceLimits::filesAtRestArePrivate()
{
    // An existing folder and database that others may read, as older versions left them.
    QTemporaryDir dir;
    const QString data = dir.filePath("data");
    QVERIFY(QDir().mkdir(data));
    QVERIFY(QFile::setPermissions(data, QFileDevice::Permissions(0x7755)));
    {
        Store old;
        QVERIFY(old.open((data + "/quillet.db").toStdString(), nullptr));
        QCOMPARE(old.addUser("old", "old-password", false), Store::AddResult::Added);
    }
    for (const QString& name : QDir(data).entryList(QDir::Files))
        QVERIFY(QFile::setPermissions(data + "/" + name, QFileDevice::Permissions(0x6644)));
    QProcess add;
    add.start(QUILLET_SERVICE_BINARY, {"user", "add", "newer", "--data", data});
    QVERIFY(add.waitForStarted());
    add.write("long-enough\n");
    add.closeWriteChannel();
    QVERIFY(add.waitForFinished(30000));
    QCOMPARE(add.exitCode(), 0);
    // A new folder below gets the same.
    QProcess list;
    list.start(QUILLET_SERVICE_BINARY, {"user", "list", "--data", data + "/fresh/inner"});
    QVERIFY(list.waitForFinished(30000));
    QCOMPARE(list.exitCode(), 0);
    for (const QString& folder : {data, data + "/fresh", data + "/fresh/inner"}) {
        struct stat info
        {
        };
        QCOMPARE(stat(QFile::encodeName(folder).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0700));
        for (const QString& name : QDir(folder).entryList(QDir::Files)) {
            QCOMPARE(stat(QFile::encodeName(folder + "/" + name).constData(), &info), 0);
            QVERIFY2((info.st_mode & 0777) == 0600, qPrintable(name));
        }
    }
    QVERIFY(QFile::exists(data + "/quillet.db") && QFile::exists(data + "/fresh/inner/quillet.db"));
}

void TestServiceLimits::forwardedAddressIsIgnoredWithoutTrust()
{
    // Without a trusted proxy, a client cannot escape the address limit by
    // naming a new address in each request: the connection's peer counts.
    QCOMPARE(m_store.addUser("frank", "franks-password", false), Store::AddResult::Added);
    for (int i = 0; i < 10; ++i)
        login("ghost" + std::to_string(i), "guess", "10.8.0." + std::to_string(i), {}, m_direct.port);
    QVERIFY(
        login("frank", "franks-password", "10.8.1.1", {}, m_direct.port)["access_token"].get<std::string>().empty());
}

void TestServiceLimits::proxyAddressOnALineOfItsOwn()
{
    // A proxy may add its X-Forwarded-For as a second line after the one the
    // client wrote: the proxy's line counts, not the client's.
    QCOMPARE(m_store.addUser("lena", "lenas-password", false), Store::AddResult::Added);
    const auto attempt = [&](const std::string& name, const std::string& password, const std::string& forged) {
        httplib::Headers headers{{"X-Forwarded-For", forged}, {"X-Forwarded-For", "10.10.0.1"}};
        return post("/api/v2/auth/", "?client_id=c&access_token=&password=" + password + "&user_name=" + name, headers);
    };
    for (int i = 0; i < 10; ++i)
        attempt("ghost" + std::to_string(i), "guess", "10.11.0." + std::to_string(i));
    QVERIFY(attempt("lena", "lenas-password", "10.11.1.1")["access_token"].get<std::string>().empty());
}

void TestServiceLimits::tokenIsHandedBack()
{
    QCOMPARE(m_store.addUser("dave", "daves-password", false), Store::AddResult::Added);
    const int64_t id = m_store.findUser("dave")->id;
    const std::string token = login("dave", "daves-password", "10.0.3.1")["access_token"];
    QVERIFY(!token.empty());
    // The client logs in before each check, with its password and the token it holds.
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(login("dave", "daves-password", "10.0.3.1", token)["access_token"].get<std::string>(), token);
        QCOMPARE(login("dave", "", "10.0.3.1", token)["access_token"].get<std::string>(), token);
    }
    QCOMPARE(m_store.tokenCount(id), int64_t(1));
    // A token of nobody, or of someone else, gets a new one.
    const std::string fresh = login("dave", "daves-password", "10.0.3.1", "feed")["access_token"];
    QVERIFY(!fresh.empty() && fresh != token);
    // Expired, it is refused and deleted when the next one is issued.
    m_now += Store::kTokenLifetime + 1;
    QCOMPARE(login("dave", "", "10.0.3.1", token)["error_code"].get<std::string>(), std::string("token_error"));
    const std::string next = login("dave", "daves-password", "10.0.3.1", token)["access_token"];
    QVERIFY(!next.empty() && next != token);
    QCOMPARE(m_store.tokenCount(id), int64_t(1));
}

void TestServiceLimits::checkerFollowsTheProxyScheme_data()
{
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<QString>("proto");
    QTest::addColumn<QString>("scheme");
    QTest::newRow("trusted proxy, https") << true << "https"
                                          << "https";
    QTest::newRow("trusted proxy, HTTPS, list") << true << "HTTPS, http"
                                                << "https";
    QTest::newRow("trusted proxy, http") << true << "http"
                                         << "http";
    QTest::newRow("trusted proxy, no header") << true << ""
                                              << "http";
    QTest::newRow("no proxy trusted, https claimed") << false << "https"
                                                     << "http";
}

void TestServiceLimits::checkerFollowsTheProxyScheme()
{
    QFETCH(bool, trusted);
    QFETCH(QString, proto);
    QFETCH(QString, scheme);
    httplib::Headers headers{{"Host", "proofs.example.org"}};
    if (!proto.isEmpty())
        headers.emplace("X-Forwarded-Proto", proto.toStdString());
    const json reply =
        post("/api/v2/auth/", "?client_id=c&user_name=x&password=", headers, trusted ? m_trusting.port : m_direct.port);
    QCOMPARE(QString::fromStdString(reply["checker_url"].get<std::string>()),
             scheme + "://proofs.example.org/api/v2/check/");
}

void TestServiceLimits::storageQuotas()
{
    m_store.setLimits({2, 1});
    QCOMPARE(m_store.addUser("erin", "erins-password", false), Store::AddResult::Added);
    const std::string token = login("erin", "erins-password", "10.0.4.1")["access_token"];
    const auto add = [&](const char* word) {
        return post("/api/v2/add-to-dict/", "?client_id=c&access_token=" + token + "&new_word=" + word);
    };
    QCOMPARE(add("a")["error_code"].get<std::string>(), std::string());
    QCOMPARE(add("b")["error_code"].get<std::string>(), std::string());
    const json full = add("c");
    QCOMPARE(full["error_code"].get<std::string>(), std::string("limit_error"));
    QVERIFY(full["error_msg"].get<std::string>().find("2") != std::string::npos);
    QCOMPARE(add("a")["error_code"].get<std::string>(), std::string()); // already there

    const auto report = [&](const std::string& message) {
        return post("/api/v2/report-error/",
                    "?client_id=c&access_token=" + token + "&msg=" + message + "&text_error=x&text_sentence=y");
    };
    QCOMPARE(report(std::string(1001, 'm'))["error_code"].get<std::string>(), std::string("bad_request"));
    QCOMPARE(report("fine")["error_code"].get<std::string>(), std::string());
    const json limited = report("more");
    QCOMPARE(limited["error_code"].get<std::string>(), std::string("limit_error"));
    QVERIFY(!limited["error_msg"].get<std::string>().empty());
    QCOMPARE(m_store.reportCount(m_store.findUser("erin")->id), int64_t(1));
}

void TestServiceLimits::registration()
{
    QVERIFY(registerUser("shorty", "1234567", "10.0.5.1").find("至少需要 8 个字符") != std::string::npos);
    QVERIFY(!m_store.findUser("shorty"));
    for (int i = 0; i < 5; ++i)
        QVERIFY(registerUser("new" + std::to_string(i), "long-enough", "10.0.5.1").rfind("200 ", 0) == 0);
    QVERIFY(registerUser("new5", "long-enough", "10.0.5.1").rfind("429 ", 0) == 0);
    QVERIFY(!m_store.findUser("new5"));
    QVERIFY(registerUser("new5", "long-enough", "10.0.5.2").rfind("200 ", 0) == 0);
    QVERIFY(m_store.findUser("new5"));
}

QTEST_APPLESS_MAIN(TestServiceLimits)
#include "TestServiceLimits.moc"
