#include "FakeService.h"
#include "ModalWatcher.h"
#include "client/CConfig.h"
#include "client/Revisor.h"

#include <QtTest>
#include <QtWidgets>

// What the client puts on the wire: addresses and form bodies, byte for byte.
class TestRevisorRequests : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void webUrls_data();
    void webUrls();
    void loginBody();
    void checkBody();
    void valuesCutTo500ExceptText();
    void paramsInKeyOrder();

private:
    FakeService* m_service = nullptr;
    ModalWatcher* m_watcher = nullptr;
    Revisor* m_client = nullptr;
};

void TestRevisorRequests::init()
{
    m_service = new FakeService(this);
    QVERIFY(m_service->listen());
    qputenv("QUILLET_SERVICE_URL", m_service->baseUrl().toUtf8());
    getConfig()->setValueString("user_name", "");
    getConfig()->setValueString("access_token", "");
    m_watcher = new ModalWatcher(this);
    m_client = new Revisor(this);
    m_client->setClient("client", "2.2");
    m_client->setHost("wps", "");
}

void TestRevisorRequests::cleanup()
{
    delete m_client;
    delete m_watcher;
    delete m_service;
}

void TestRevisorRequests::webUrls_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("path");
    const QString identity = "?client_id=client&client_ver=2.2&host_id=wps&host_ver=";
    QTest::newRow("auth") << 0 << "api/v2/auth/";
    QTest::newRow("register") << 1 << "register/" + identity;
    QTest::newRow("account") << 2 << "account/" + identity;
    QTest::newRow("home") << 3 << identity;
    QTest::newRow("check without login") << 4 << QString();
    QTest::newRow("report") << 5 << "api/v2/report-error/";
    QTest::newRow("add to dict") << 6 << "api/v2/add-to-dict/";
    QTest::newRow("contact") << 7 << "contact/" + identity;
    QTest::newRow("update") << 8 << "update/" + identity;
    QTest::newRow("dict") << 9 << "dict/" + identity;
    QTest::newRow("10 is home") << 10 << identity;
    QTest::newRow("99 is home") << 99 << identity;
}

void TestRevisorRequests::webUrls()
{
    QFETCH(int, id);
    QFETCH(QString, path);
    const QString expected = id == URL_CHECK ? QString() : m_service->baseUrl() + path;
    QCOMPARE(m_client->getWebUrl(_URL_ID(id)), expected);
}

void TestRevisorRequests::loginBody()
{
    m_service->enqueue(FakeService::authPath(), FakeReply::json(m_service->loginReply("tok")));
    QVERIFY(m_client->login(QString::fromUtf8("张三"), "p&ss=w+rd %41", 0));

    const auto requests = m_service->requestsTo(FakeService::authPath());
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].method, QByteArray("POST"));
    QCOMPARE(requests[0].headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
    const QByteArray expected = m_service->baseUrl().toUtf8() +
                                "api/v2/auth/?client_id=client&client_id=client&client_ver=2.2&host_id=wps&host_ver="
                                "&access_token=&password=p%26ss%3Dw+rd%20%2541&text_length=0"
                                "&user_name=%E5%BC%A0%E4%B8%89";
    QCOMPARE(requests[0].body, expected);
    QCOMPARE(m_client->getWebUrl(URL_CHECK), m_service->baseUrl() + "api/v2/check/");
}

void TestRevisorRequests::checkBody()
{
    m_service->enqueue(FakeService::authPath(), FakeReply::json(m_service->loginReply("tok-1")));
    m_service->setDefault(FakeService::checkPath(), FakeReply::json(R"({"error_code":"","error_msg":"","errors":[]})"));
    m_client->check_skip = 1;
    m_client->check_tong_yin = 0;
    m_client->check_xing_jin = 1;

    ModalWatcher& watcher = *m_watcher;
    watcher.setDialogHandler([](QDialog* dialog) {
        // The login dialog: collect-only, so fill the fields and press Login.
        dialog->findChild<QLineEdit*>("editUserName")->setText("u");
        dialog->findChild<QLineEdit*>("editPassword")->setText("pw");
        dialog->findChild<QPushButton*>("btnLogin")->click();
    });
    QVERIFY(m_client->checkText(QString::fromUtf8("我们以经到了。A&B=C+D")));
    QTRY_VERIFY(!m_client->isBusy());

    const auto checks = m_service->requestsTo(FakeService::checkPath());
    QCOMPARE(checks.size(), 1);
    QCOMPARE(checks[0].body,
             QByteArray("?client_id=client&client_id=client&client_ver=2.2&host_id=wps&host_ver="
                        "&text=%E6%88%91%E4%BB%AC%E4%BB%A5%E7%BB%8F%E5%88%B0%E4%BA%86%E3%80%82A%26B%3DC+D"
                        "&access_token=tok-1&main_lang=zh-CN&other_lang=en-US&min_error_level=3"
                        "&check_xing_jin=1&check_min_gan_ci=0&check_tong_yin=0&check_skip=1&check_pinyin_confuse=0"));
    // The login of the run sends the text length and the credentials from the dialog.
    const auto logins = m_service->requestsTo(FakeService::authPath());
    QCOMPARE(logins.size(), 1);
    QVERIFY(logins[0].body.endsWith("&access_token=&password=pw&text_length=14&user_name=u"));
}

void TestRevisorRequests::valuesCutTo500ExceptText()
{
    m_service->setDefault("/api/v2/add-to-dict/", FakeReply::json(R"({"error_code":"","error_msg":""})"));
    const QString long600(600, QChar('x'));
    QVERIFY(m_client->addToDict(long600));
    QCOMPARE(m_watcher->lastMessage(), QString("Add to dict succeed!"));
    const QByteArray body = m_service->requestsTo("/api/v2/add-to-dict/").value(0).body;
    QVERIFY(body.endsWith("&new_word=" + QByteArray(500, 'x')));

    // A surrogate pair straddling the limit is not split.
    QString pairAtLimit = QString(499, QChar('y')) + QString::fromUtf8("😀") + "z";
    m_service->clearRequests();
    QVERIFY(m_client->addToDict(pairAtLimit));
    QVERIFY(m_service->requestsTo("/api/v2/add-to-dict/").value(0).body.endsWith("&new_word=" + QByteArray(499, 'y')));
}

void TestRevisorRequests::paramsInKeyOrder()
{
    m_service->setDefault("/api/v2/report-error/", FakeReply::json(R"({"error_code":"","error_msg":""})"));
    const QString note(800, QChar('n'));
    m_watcher->setDialogHandler([note](QDialog* dialog) {
        dialog->findChild<QPlainTextEdit*>("editNote")->setPlainText(note);
        dialog->findChild<QPushButton*>("btnSend")->click();
    });
    QVERIFY(m_client->reportError(QString::fromUtf8("以经"), QString::fromUtf8("我们以经到了。")));
    QCOMPARE(m_watcher->lastMessage(), QString("Thanks for the feedback!"));
    const QByteArray body = m_service->requestsTo("/api/v2/report-error/").value(0).body;
    QVERIFY2(body.endsWith("&access_token=&msg=" + QByteArray(500, 'n') +
                           "&text_error=%E4%BB%A5%E7%BB%8F&text_sentence=%E6%88%91%E4%BB%AC%E4%BB%A5%E7%BB%8F%E5%88%B0"
                           "%E4%BA%86%E3%80%82"),
             body.constData());
}

QTEST_MAIN(TestRevisorRequests)
#include "TestRevisorRequests.moc"
