#include "Lexicon.h"
#include "Service.h"
#include "Store.h"
#include "TempPostgres.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <QtTest>

#include <memory>
#include <thread>

using namespace quillet;
using json = nlohmann::json;

// The HTTP service on a loopback port, driven with request bodies encoded the
// way Quillet's client encodes them.
class TestServiceHttp : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void login_data();
    void login();
    void tokenLoginWithoutPassword();
    void checkAndDictionary();
    void errorsWithoutToken_data();
    void errorsWithoutToken();
    void httpErrors_data();
    void httpErrors();
    void pages_data();
    void pages();
    void healthz();
    void instancesShareOneDatabase();

private:
    std::string login(const std::string& user, const std::string& password, const std::string& token = {});
    httplib::Result post(const std::string& path, const std::string& body);

    QTemporaryDir m_dir;
    Lexicon m_lexicon;
    LanguageModel m_model;
    Store m_store;
    std::unique_ptr<Service> m_service;
    std::thread m_thread;
    int m_port = 0;
};

void TestServiceHttp::initTestCase()
{
    std::string error;
    QVERIFY2(m_lexicon.load(QUILLET_LEXICON_PATH, &error), error.c_str());
    QVERIFY2(m_model.load(LanguageModel::kDefaultFolder, &error), error.c_str());
    QVERIFY(m_store.open(m_dir.filePath("quillet.db").toStdString(), &error));
    QCOMPARE(m_store.addUser("alice", "pw+1", false), Store::AddResult::Added);
    QCOMPARE(m_store.addUser(QStringLiteral("王五").toStdString(), "x", true), Store::AddResult::Added);
    Service::Settings settings;
    settings.dataDir = m_dir.path().toStdString();
    m_service = std::make_unique<Service>(m_store, m_lexicon, m_model, settings);
    m_port = m_service->bind("127.0.0.1", 0);
    QVERIFY(m_port > 0);
    m_thread = std::thread([this] { m_service->run(); });
}

void TestServiceHttp::cleanupTestCase()
{
    m_service->stop();
    if (m_thread.joinable())
        m_thread.join();
}

httplib::Result TestServiceHttp::post(const std::string& path, const std::string& body)
{
    httplib::Client client("127.0.0.1", m_port);
    return client.Post(path.c_str(), body, "application/x-www-form-urlencoded");
}

std::string TestServiceHttp::login(const std::string& user, const std::string& password, const std::string& token)
{
    const QByteArray encodedUser = QUrl::toPercentEncoding(QString::fromStdString(user));
    const QByteArray encodedPassword = QUrl::toPercentEncoding(QString::fromStdString(password), "+");
    const std::string body =
        "http://127.0.0.1:" + std::to_string(m_port) +
        "/api/v2/auth/?client_id=client&client_id=client&client_ver=2.2&host_id=&host_ver=&access_token=" + token +
        "&password=" + encodedPassword.toStdString() + "&text_length=0&user_name=" + encodedUser.toStdString();
    auto result = post("/api/v2/auth/", body);
    return result && result->status == 200 ? result->body : std::string();
}

void TestServiceHttp::login_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("vip");
    QTest::newRow("right password, plus kept") << "alice"
                                               << "pw+1"
                                               << "" << false;
    QTest::newRow("VIP with a Chinese name") << QStringLiteral("王五") << "x"
                                             << "" << true;
    QTest::newRow("plus read as space would fail") << "alice"
                                                   << "pw 1"
                                                   << "auth_error" << false;
    QTest::newRow("wrong password") << "alice"
                                    << "nope"
                                    << "auth_error" << false;
    QTest::newRow("unknown user") << "mallory"
                                  << "pw+1"
                                  << "auth_error" << false;
    QTest::newRow("nothing at all") << "alice"
                                    << ""
                                    << "auth_error" << false;
}

void TestServiceHttp::login()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, code);
    QFETCH(bool, vip);
    const json reply = json::parse(login(user.toStdString(), password.toStdString()));
    for (const char* key :
         {"access_token", "checker_url", "piece_length", "is_vip", "user_name", "error_code", "error_msg"})
        QVERIFY2(reply.contains(key), key);
    QCOMPARE(QString::fromStdString(reply["error_code"].get<std::string>()), code);
    QCOMPARE(reply["access_token"].get<std::string>().empty(), !code.isEmpty());
    QCOMPARE(reply["error_msg"].get<std::string>().empty(), code.isEmpty());
    QCOMPARE(reply["is_vip"].get<bool>(), vip);
    QCOMPARE(reply["piece_length"].get<int>(), 500);
    QCOMPARE(reply["checker_url"].get<std::string>(), "http://127.0.0.1:" + std::to_string(m_port) + "/api/v2/check/");
}

void TestServiceHttp::tokenLoginWithoutPassword()
{
    const std::string token = json::parse(login("alice", "pw+1"))["access_token"];
    const json again = json::parse(login("alice", "", token));
    QCOMPARE(again["error_code"].get<std::string>(), std::string());
    QVERIFY(!again["access_token"].get<std::string>().empty());
    // Another user's token does not open this account.
    const json stolen = json::parse(login(QStringLiteral("王五").toStdString(), "", token));
    QCOMPARE(stolen["access_token"].get<std::string>(), std::string());
    QCOMPARE(stolen["error_code"].get<std::string>(), std::string("token_error"));
}

void TestServiceHttp::checkAndDictionary()
{
    const std::string token = json::parse(login("alice", "pw+1"))["access_token"];
    const std::string text = QUrl::toPercentEncoding(QStringLiteral("我们以经完成了。")).toStdString();
    const std::string body = "?client_id=client&client_id=client&client_ver=2.2&host_id=&host_ver=&text=" + text +
                             "&access_token=" + token +
                             "&main_lang=zh-CN&other_lang=en-US&min_error_level=3&check_xing_jin=0&check_min_gan_ci=0"
                             "&check_tong_yin=1&check_skip=0&check_pinyin_confuse=0";
    json reply = json::parse(post("/api/v2/check/", body)->body);
    QCOMPARE(reply["error_code"].get<std::string>(), std::string());
    QCOMPARE(int(reply["errors"].size()), 1);
    QCOMPARE(reply["errors"][0]["text"].get<std::string>(), QStringLiteral("以经").toStdString());
    QCOMPARE(reply["errors"][0]["spans"], json::parse("[[2,3]]"));
    QCOMPARE(reply["errors"][0]["suggestions"][0]["text"].get<std::string>(), QStringLiteral("已经").toStdString());

    const json added =
        json::parse(post("/api/v2/add-to-dict/", "?client_id=client&access_token=" + token + "&new_word=" +
                                                     QUrl::toPercentEncoding(QStringLiteral("以经")).toStdString())
                        ->body);
    QCOMPARE(added["error_code"].get<std::string>(), std::string());
    reply = json::parse(post("/api/v2/check/", body)->body);
    QCOMPARE(reply["error_code"].get<std::string>(), std::string("not_found_error"));
    QCOMPARE(reply["error_msg"].get<std::string>(), QStringLiteral("未发现错误。").toStdString());
    QVERIFY(reply["errors"].empty());

    const json report = json::parse(
        post("/api/v2/report-error/", "?client_id=client&access_token=" + token + "&msg=x&text_error=y&text_sentence=z")
            ->body);
    QCOMPARE(report["error_code"].get<std::string>(), std::string());
}

void TestServiceHttp::errorsWithoutToken_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("code");
    QTest::newRow("check, unknown token") << "/api/v2/check/"
                                          << "?client_id=c&text=abc&access_token=feed"
                                          << "token_error";
    QTest::newRow("check, no text") << "/api/v2/check/"
                                    << "?client_id=c&access_token=feed"
                                    << "bad_request";
    QTest::newRow("check, bad escape") << "/api/v2/check/"
                                       << "?client_id=c&text=%E4%B&access_token=x"
                                       << "bad_request";
    QTest::newRow("add-to-dict, no token") << "/api/v2/add-to-dict/"
                                           << "?client_id=c&new_word=x"
                                           << "token_error";
    QTest::newRow("report, invalid UTF-8") << "/api/v2/report-error/"
                                           << "?client_id=c&msg=%FF"
                                           << "bad_request";
    QTest::newRow("auth, malformed") << "/api/v2/auth/"
                                     << "http://x/?client_id=%"
                                     << "bad_request";
}

void TestServiceHttp::errorsWithoutToken()
{
    QFETCH(QString, path);
    QFETCH(QString, body);
    QFETCH(QString, code);
    auto result = post(path.toStdString(), body.toStdString());
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    const json reply = json::parse(result->body);
    QCOMPARE(QString::fromStdString(reply["error_code"].get<std::string>()), code);
    QVERIFY(!reply["error_msg"].get<std::string>().empty());
}

void TestServiceHttp::httpErrors_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("status");
    QTest::newRow("body over 1 MB") << "POST"
                                    << "/api/v2/check/" << 1024 * 1024 + 1 << 413;
    QTest::newRow("unknown path") << "POST"
                                  << "/api/v3/check/" << 10 << 404;
    QTest::newRow("GET on an endpoint") << "GET"
                                        << "/api/v2/auth/" << 0 << 404;
    QTest::newRow("PUT") << "PUT"
                         << "/api/v2/check/" << 10 << 404;
    QTest::newRow("unknown method") << "BREW"
                                    << "/" << 0 << 400;
}

void TestServiceHttp::httpErrors()
{
    QFETCH(QString, method);
    QFETCH(QString, path);
    QFETCH(int, size);
    QFETCH(int, status);
    httplib::Client client("127.0.0.1", m_port);
    httplib::Request request;
    request.method = method.toStdString();
    request.path = path.toStdString();
    request.body = std::string(size_t(size), 'a');
    if (size)
        request.set_header("Content-Type", "application/x-www-form-urlencoded");
    auto result = client.send(request);
    QVERIFY(result);
    QCOMPARE(result->status, status);
    // The service keeps serving.
    QCOMPARE(client.Get("/")->status, 200);
}

void TestServiceHttp::pages_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("contains");
    QTest::newRow("home") << "/?client_id=client&client_ver=2.2&host_id=&host_ver=" << QStringLiteral("校对");
    QTest::newRow("register") << "/register/?client_id=client" << QStringLiteral("name=\"password2\"");
    QTest::newRow("account") << "/account/" << QStringLiteral("查看账户");
    QTest::newRow("contact") << "/contact/" << QStringLiteral("联系我们");
    QTest::newRow("update") << "/update/?client_ver=2.2" << QStringLiteral("2.2");
    QTest::newRow("dict, a word") << "/dict/?client_id=client&word=%E5%B7%B2%E7%BB%8F" << QStringLiteral("词频");
    QTest::newRow("dict, a misspelling") << "/dict/?word=%E4%BB%A5%E7%BB%8F" << QStringLiteral("已经");
    QTest::newRow("dict escapes the word") << "/dict/?word=%3Cscript%3E" << QStringLiteral("&lt;script&gt;");
}

void TestServiceHttp::pages()
{
    QFETCH(QString, path);
    QFETCH(QString, contains);
    httplib::Client client("127.0.0.1", m_port);
    auto result = client.Get(path.toStdString().c_str());
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    const QString body = QString::fromStdString(result->body);
    QVERIFY2(body.contains(contains), qPrintable(body.right(300)));
    QVERIFY(!body.contains(QStringLiteral("<script>")));
}

void TestServiceHttp::healthz()
{
    httplib::Client client("127.0.0.1", m_port);
    auto result = client.Get("/healthz");
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    QCOMPARE(result->body, std::string("ok\n"));
}

void TestServiceHttp::instancesShareOneDatabase()
{
    // Two services on one PostgreSQL database, as two processes behind a balancer.
    TempPostgres postgres;
    std::string error;
    QVERIFY2(postgres.start(&error), error.c_str());
    const std::string url = postgres.createDatabase("shared");
    QProcess words;
    words.start(QUILLET_SERVICE_BINARY, {"words", "add", QStringLiteral("秘密计划"), QStringLiteral("计划"),
                                         "--database", QString::fromStdString(url)});
    QVERIFY(words.waitForFinished(30000));
    QCOMPARE(words.exitCode(), 0);

    Store first, second;
    QVERIFY2(first.open(url, &error), error.c_str());
    QVERIFY2(second.open(url, &error), error.c_str());
    QCOMPARE(first.addUser("sam", "sams-password", false), Store::AddResult::Added);
    Service::Settings settings;
    settings.dataDir = m_dir.path().toStdString();
    settings.threads = 4;
    Service one(first, m_lexicon, m_model, settings), two(second, m_lexicon, m_model, settings);
    const int portOne = one.bind("127.0.0.1", 0), portTwo = two.bind("127.0.0.1", 0);
    QVERIFY(portOne > 0 && portTwo > 0);
    std::thread runOne([&one] { one.run(); }), runTwo([&two] { two.run(); });
    const auto finish = qScopeGuard([&] {
        one.stop();
        two.stop();
        runOne.join();
        runTwo.join();
    });

    // A login on one, a check on the other, with the words from the database.
    httplib::Client clientOne("127.0.0.1", portOne), clientTwo("127.0.0.1", portTwo);
    auto login = clientOne.Post("/api/v2/auth/", "?client_id=c&access_token=&password=sams-password&user_name=sam",
                                "application/x-www-form-urlencoded");
    QVERIFY(login);
    const std::string token = json::parse(login->body)["access_token"];
    QVERIFY(!token.empty());
    const std::string text = QUrl::toPercentEncoding(QStringLiteral("这是秘密计划。")).toStdString();
    auto check =
        clientTwo.Post("/api/v2/check/",
                       "?client_id=c&text=" + text + "&access_token=" + token + "&check_tong_yin=0&check_min_gan_ci=1",
                       "application/x-www-form-urlencoded");
    QVERIFY(check);
    const json reply = json::parse(check->body);
    QCOMPARE(reply["error_code"].get<std::string>(), std::string());
    QCOMPARE(int(reply["errors"].size()), 1);
    QCOMPARE(reply["errors"][0]["text"].get<std::string>(), QStringLiteral("秘密计划").toStdString());
    QCOMPARE(reply["errors"][0]["suggestions"][0]["text"].get<std::string>(), QStringLiteral("计划").toStdString());

    // The command line manages the same accounts.
    QProcess users;
    users.start(QUILLET_SERVICE_BINARY, {"user", "list", "--database", QString::fromStdString(url)});
    QVERIFY(users.waitForFinished(30000));
    QCOMPARE(users.exitCode(), 0);
    QVERIFY(users.readAllStandardOutput().startsWith("sam\t-\t0 words"));

    // Ready while the database answers; not ready, without hanging, once it
    // is gone, and a check then is a server error, never a lost session.
    QCOMPARE(clientTwo.Get("/healthz")->status, 200);
    postgres.stop();
    auto down = clientTwo.Get("/healthz");
    QVERIFY(down);
    QCOMPARE(down->status, 503);
    auto unanswered = clientTwo.Post("/api/v2/check/", "?client_id=c&text=x&access_token=" + token,
                                     "application/x-www-form-urlencoded");
    QVERIFY(unanswered);
    QCOMPARE(json::parse(unanswered->body)["error_code"].get<std::string>(), std::string("server_error"));
    auto relogin = clientOne.Post("/api/v2/auth/", "?client_id=c&access_token=" + token + "&password=&user_name=sam",
                                  "application/x-www-form-urlencoded");
    QVERIFY(relogin);
    QCOMPARE(json::parse(relogin->body)["error_code"].get<std::string>(), std::string("server_error"));
    auto passwordLogin =
        clientOne.Post("/api/v2/auth/", "?client_id=c&access_token=&password=sams-password&user_name=sam",
                       "application/x-www-form-urlencoded");
    QVERIFY(passwordLogin);
    QCOMPARE(json::parse(passwordLogin->body)["error_code"].get<std::string>(), std::string("server_error"));
}

QTEST_APPLESS_MAIN(TestServiceHttp)
#include "TestServiceHttp.moc"
