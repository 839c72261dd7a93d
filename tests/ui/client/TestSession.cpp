#include "FakeService.h"
#include "ModalWatcher.h"
#include "UrlRecorder.h"
#include "client/CConfig.h"
#include "client/Revisor.h"
#include "windows/DialogLogin.h"
#include "windows/DialogReportError.h"

#include <QtTest>
#include <QtWidgets>

// Login session, settings store, feedback requests and web pages.
class TestSession : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void loginStoresTheSession();
    void loginWithoutTokenLeavesStoreUntouched();
    void loginNetworkFailure();
    void unparsableLoginKeepsOlderToken();
    void logoutKeepsVipFlag();
    void freshClientStartsFromStore();
    void settingsDefaultsAndConversions();

    void loginDialogModes();
    void reportDialogCancelledSendsNothing();
    void feedbackWithServiceError();
    void addToDictWithEmptyWord();
    void webPagesThatCannotOpen();
    void dictPageEncodesTheWord();
    void untrustedCertificateIsRefused();

private:
    FakeService* m_service = nullptr;
    ModalWatcher* m_watcher = nullptr;
    Revisor* m_client = nullptr;
};

void TestSession::init()
{
    m_service = new FakeService(this);
    QVERIFY(m_service->listen());
    qputenv("QUILLET_SERVICE_URL", m_service->baseUrl().toUtf8());
    CConfig* config = getConfig();
    config->setValueString("user_name", "");
    config->setValueString("access_token", "");
    config->setValueBool("is_vip", false);
    m_watcher = new ModalWatcher(this);
    m_client = new Revisor(this);
}

void TestSession::cleanup()
{
    delete m_client;
    delete m_watcher;
    delete m_service;
}

void TestSession::loginStoresTheSession()
{
    m_service->enqueue(FakeService::authPath(), FakeReply::json(m_service->loginReply("tok-1", 500, true)));
    QVERIFY(m_client->login(QString::fromUtf8("李四"), "secret", 0));
    QVERIFY(m_client->isLogin());
    QVERIFY(m_client->isVIP());
    QCOMPARE(m_client->getUserName(), QString::fromUtf8("李四"));
    QCOMPARE(m_client->getMaxPageCount(), 50);
    CConfig* config = getConfig();
    QCOMPARE(config->getValueString("user_name", ""), QString::fromUtf8("李四"));
    QCOMPARE(config->getValueString("access_token", ""), QString("tok-1"));
    QVERIFY(config->getValueBool("is_vip", false));
    QVERIFY(m_watcher->messages().isEmpty());
}

void TestSession::loginWithoutTokenLeavesStoreUntouched()
{
    getConfig()->setValueString("user_name", "old");
    m_service->enqueue(FakeService::authPath(),
                       FakeReply::json(m_service->loginReply("", 500, false, "auth_error", "用户名或密码错误。")));
    QVERIFY(!m_client->login("someone", "wrong", 0));
    QCOMPARE(m_watcher->messages(), QStringList{QString::fromUtf8("用户名或密码错误。")});
    QCOMPARE(getConfig()->getValueString("user_name", ""), QString("old"));
    QCOMPARE(getConfig()->getValueString("access_token", ""), QString());
    QVERIFY(!m_client->isLogin());
    QCOMPARE(m_client->getMaxPageCount(), 10);

    // Only an error code: the code itself is shown.
    m_watcher->clear();
    m_service->enqueue(FakeService::authPath(), FakeReply::json(R"({"access_token":"","error_code":"auth_error"})"));
    QVERIFY(!m_client->login("someone", "wrong", 0));
    QCOMPARE(m_watcher->messages(), QStringList{"auth_error"});
}

void TestSession::loginNetworkFailure()
{
    m_service->enqueue(FakeService::authPath(), FakeReply{500, "oops", FakeReply::Normal, 0});
    QVERIFY(!m_client->login("a", "b", 0));
    QCOMPARE(m_watcher->messages().size(), 1);
    QVERIFY(m_watcher->lastMessage().startsWith("Connect Server Error! ["));
    QVERIFY(!m_client->isLogin());
}

void TestSession::unparsableLoginKeepsOlderToken()
{
    m_service->enqueue(FakeService::authPath(), FakeReply::json(m_service->loginReply("old-token")));
    QVERIFY(m_client->login("a", "b", 0));
    getConfig()->setValueString("access_token", "tampered");

    m_service->enqueue(FakeService::authPath(), FakeReply::json("not json"));
    QVERIFY(m_client->login("a", "b", 0));
    QCOMPARE(m_watcher->messages(), QStringList{"Parse JSON Data Error!"});
    QCOMPARE(getConfig()->getValueString("access_token", ""), QString("old-token"));
}

void TestSession::logoutKeepsVipFlag()
{
    m_service->enqueue(FakeService::authPath(), FakeReply::json(m_service->loginReply("tok", 500, true)));
    QVERIFY(m_client->login("vip", "pw", 0));
    QVERIFY(m_client->logout());
    QVERIFY(!m_client->isLogin());
    QVERIFY(!m_client->isVIP());
    QCOMPARE(m_client->getUserName(), QString());
    QCOMPARE(getConfig()->getValueString("user_name", "x"), QString());
    QCOMPARE(getConfig()->getValueString("access_token", "x"), QString());
    QVERIFY(getConfig()->getValueBool("is_vip", false));
}

void TestSession::freshClientStartsFromStore()
{
    m_service->enqueue(FakeService::authPath(), FakeReply::json(m_service->loginReply("tok-9", 500, true)));
    QVERIFY(m_client->login("kept", "pw", 0));

    Revisor fresh;
    QVERIFY(fresh.isLogin());
    QVERIFY(fresh.isVIP());
    QCOMPARE(fresh.getUserName(), QString("kept"));
    // The restarted client has no password: its next login sends the stored token.
    m_service->clearRequests();
    m_service->enqueue(FakeService::authPath(), FakeReply::json(m_service->loginReply("tok-10")));
    QVERIFY(fresh.login(fresh.getUserName(), QString(), 12));
    QVERIFY(
        m_service->requests().value(0).body.endsWith("&access_token=tok-9&password=&text_length=12&user_name=kept"));
}

void TestSession::settingsDefaultsAndConversions()
{
    CConfig config;
    QCOMPARE(config.getValueInt("NeverWritten", -1), -1);
    QCOMPARE(config.getValueBool("NeverWritten", true), true);
    QCOMPARE(config.getValueString("NeverWritten", "d"), QString("d"));
    config.setValueString("flag", "true");
    QVERIFY(config.getValueBool("flag", false));
    config.setValueInt("DialogClientX", 42);
    QCOMPARE(config.getValueInt("DialogClientX", -1), 42);

    const unsigned char bytes[] = {0, 1, 2, 255};
    config.setValueBinary("blob", bytes, 4);
    unsigned char* data = nullptr;
    unsigned int size = 0;
    QVERIFY(config.getValueBinary("blob", &data, &size));
    QCOMPARE(size, 4u);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(data), 4), QByteArray("\x00\x01\x02\xff", 4));
    delete[] data;
    QVERIFY(!config.getValueBinary("missing", &data, &size));
    QVERIFY(data == nullptr);
}

void TestSession::loginDialogModes()
{
    // Collect-only: Login answers 2 without contacting the service.
    {
        DialogLogin dialog;
        dialog.setDoLogin(false);
        dialog.findChild<QLineEdit*>("editUserName")->setText("u");
        QTimer::singleShot(0, &dialog, [&] { dialog.findChild<QPushButton*>("btnLogin")->click(); });
        QCOMPARE(dialog.exec(), int(DialogLogin::ResultLogin));
        QVERIFY(m_service->requests().isEmpty());
        QCOMPARE(dialog.username(), QString("u"));
    }
    // Escape closes it as rejected.
    {
        DialogLogin dialog;
        QTimer::singleShot(0, &dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    }
}

void TestSession::reportDialogCancelledSendsNothing()
{
    m_watcher->setDialogHandler([](QDialog* dialog) {
        QCOMPARE(dialog->findChild<QLineEdit*>("editError")->text(), QString::fromUtf8("以经"));
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    QVERIFY(!m_client->reportError(QString::fromUtf8("以经"), QString::fromUtf8("我们以经到了。")));
    QCOMPARE(m_watcher->dialogsSeen(), 1);
    QVERIFY(m_service->requests().isEmpty());
    QVERIFY(m_watcher->messages().isEmpty());
}

void TestSession::feedbackWithServiceError()
{
    // A reply that reports an error is not followed by a thank-you.
    m_service->setDefault("/api/v2/report-error/",
                          FakeReply::json(R"({"error_code":"token_error","error_msg":"登录已失效，请重新登录。"})"));
    m_watcher->setDialogHandler([](QDialog* dialog) { dialog->findChild<QPushButton*>("btnSend")->click(); });
    QVERIFY(!m_client->reportError("a", "b"));
    QCOMPARE(m_watcher->messages(), QStringList{QString::fromUtf8("登录已失效，请重新登录。")});

    // A dead service: the network message, no thanks.
    m_watcher->clear();
    m_service->setDefault("/api/v2/report-error/", FakeReply{200, {}, FakeReply::Drop, 0});
    QVERIFY(!m_client->reportError("a", "b"));
    QCOMPARE(m_watcher->messages().size(), 1);
    QVERIFY(m_watcher->lastMessage().startsWith("Connect Server Error! ["));
}

void TestSession::addToDictWithEmptyWord()
{
    m_service->setDefault("/api/v2/add-to-dict/", FakeReply::json(R"({"error_code":"","error_msg":""})"));
    QVERIFY(m_client->addToDict(QString()));
    QVERIFY2(m_service->requests().value(0).body.endsWith("&access_token=&new_word="),
             m_service->requests().value(0).body.constData());
    QCOMPARE(m_watcher->messages(), QStringList{"Add to dict succeed!"});
}

void TestSession::webPagesThatCannotOpen()
{
#ifdef Q_OS_WIN
    QSKIP("Windows (and Wine) always has a program that opens web pages");
#endif
    // The offscreen platform has no browser: every page fails with the host name.
    m_client->openWebUrl(URL_ACCOUNT);
    m_client->openDictUrl("word");
    QCOMPARE(m_watcher->messages(), (QStringList{"Can't open 127.0.0.1", "Can't open 127.0.0.1"}));
}

void TestSession::dictPageEncodesTheWord()
{
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("http", &recorder, "open");
    m_client->setHost("wps", "11");
    m_client->openDictUrl(QString::fromUtf8("反 应"));
    m_client->openWebUrl(URL_CONTACT);
    QDesktopServices::unsetUrlHandler("http");

    QCOMPARE(recorder.urls.size(), 2);
    QCOMPARE(recorder.urls[0].toEncoded(),
             m_service->baseUrl().toUtf8() +
                 "dict/?client_id=word&client_ver=2.2&host_id=wps&host_ver=11&word=%E5%8F%8D%20%E5%BA%94");
    QCOMPARE(recorder.urls[1].path(), QString("/contact/"));
    QVERIFY(m_watcher->messages().isEmpty());
}

void TestSession::untrustedCertificateIsRefused()
{
    // A self-signed certificate: the client must not hand the password to it.
    QTemporaryDir dir;
    const QString cert = dir.filePath("cert.pem"), key = dir.filePath("key.pem");
    const int generated = QProcess::execute("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                                                        "-subj", "/CN=127.0.0.1", "-keyout", key, "-out", cert});
    if (generated != 0)
        QSKIP("openssl could not make a test certificate");

    FakeService tls;
    QVERIFY(tls.listenTls(cert, key));
    tls.setDefault(FakeService::authPath(), FakeReply::json(tls.loginReply("tok")));
    qputenv("QUILLET_SERVICE_URL", tls.baseUrl().toUtf8());
    Revisor client;
    QVERIFY(client.baseUrl().startsWith("https://"));
    QVERIFY(!client.login("user", "secret", 0));
    QVERIFY(!client.isLogin());
    QCOMPARE(m_watcher->messages().size(), 1);
    QVERIFY2(m_watcher->lastMessage().startsWith("Connect Server Error! ["), qPrintable(m_watcher->lastMessage()));
    QVERIFY(tls.requests().isEmpty());

    // Once the certificate is trusted, the same login goes through.
    QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
    QFile certFile(cert);
    QVERIFY(certFile.open(QIODevice::ReadOnly));
    trusted.addCaCertificate(QSslCertificate(&certFile, QSsl::Pem));
    QSslConfiguration::setDefaultConfiguration(trusted);
    QVERIFY(client.login("user", "secret", 0));
    QCOMPARE(tls.requests().size(), 1);
}

QTEST_MAIN(TestSession)
#include "TestSession.moc"
