#include "FakeService.h"
#include "ModalWatcher.h"
#include "client/CConfig.h"
#include "client/Revisor.h"
#include "utility/JsonDecode.h"
#include "windows/DialogProgress.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

#include <climits>

// Check runs against the loopback fake service: cutting, progress, publishing,
// and every way a run can end.
class TestCheckRun : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pieces_data();
    void pieces();
    void threePieces();
    void networkErrorPublishesEarlierFindings();
    void cancelEndsSilently_data();
    void cancelEndsSilently();
    void secondRunWhileBusyIsRefused();
    void hostileReplies_data();
    void hostileReplies();
    void replyCutWhileArriving();
    void checkerAddress_data();
    void checkerAddress();
    void serviceTextIsNeverMarkup_data();
    void serviceTextIsNeverMarkup();
    void notFound_data();
    void notFound();
    void serverErrorMidRunIsShownAndRunGoesOn();
    void tooLongTextIsCut();
    void emptyTextStartsNothing();
    void backgroundChecksAreSilent();

private:
    static QByteArray finding(const char* text, int start);
    QStringList sentPieces() const;
    void setPieceLength(int length);
    void setLoginReply(FakeService& service, const QString& checkerUrl);

    QTemporaryDir m_certDir;
    bool m_haveCertificate = false;
    FakeService* m_service = nullptr;
    ModalWatcher* m_watcher = nullptr;
    Revisor* m_client = nullptr;
    QList<int> m_progress;
    QList<QStringList> m_published; // wrong texts of each checkDone
};

QByteArray TestCheckRun::finding(const char* text, int start)
{
    return QByteArray(R"({"error_code":"","error_msg":"","errors":[{"text":")") + text + R"(","type":1,"spans":[[)" +
           QByteArray::number(start) + "," + QByteArray::number(start + 1) +
           R"(]],"suggestions":[{"text":"x","count":1}]}]})";
}

void TestCheckRun::initTestCase()
{
    // A self-signed certificate the client is told to trust, for the TLS service.
    const QString cert = m_certDir.filePath("cert.pem"), key = m_certDir.filePath("key.pem");
    m_haveCertificate = QProcess::execute("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                                                      "-subj", "/CN=127.0.0.1", "-keyout", key, "-out", cert}) == 0;
    if (m_haveCertificate) {
        QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
        trusted.addCaCertificates(QSslCertificate::fromPath(cert));
        QSslConfiguration::setDefaultConfiguration(trusted);
    }
}

void TestCheckRun::init()
{
    m_service = new FakeService(this);
    QVERIFY(m_service->listen());
    qputenv("QUILLET_SERVICE_URL", m_service->baseUrl().toUtf8());
    // A stored login: runs log in again with the token, without the dialog.
    getConfig()->setValueString("user_name", "user");
    getConfig()->setValueString("access_token", "stored");
    setPieceLength(500);
    m_service->setDefault(
        FakeService::checkPath(),
        FakeReply::json(R"({"error_code":"not_found_error","error_msg":"未发现错误。","errors":[]})"));

    m_watcher = new ModalWatcher(this);
    m_client = new Revisor(this);
    m_progress.clear();
    m_published.clear();
    connect(m_client->progressDialog()->findChild<QProgressBar*>("progressBar"), &QProgressBar::valueChanged, this,
            [this](int value) { m_progress.append(value); });
    connect(m_client, &Revisor::checkDone, this, [this](const CHECK_DATAS& datas) {
        QStringList texts;
        for (const auto& data : datas)
            texts.append(QString::fromStdString(data->text));
        m_published.append(texts);
    });
}

void TestCheckRun::cleanup()
{
    delete m_client;
    delete m_watcher;
    delete m_service;
}

void TestCheckRun::setPieceLength(int length)
{
    m_service->setDefault(FakeService::authPath(), FakeReply::json(m_service->loginReply("tok", length)));
}

QStringList TestCheckRun::sentPieces() const
{
    QStringList pieces;
    for (const RecordedRequest& request : m_service->requestsTo(FakeService::checkPath())) {
        for (const QByteArray& item : request.body.mid(1).split('&')) {
            if (item.startsWith("text="))
                pieces.append(QString::fromUtf8(QByteArray::fromPercentEncoding(item.mid(5))));
        }
    }
    return pieces;
}

void TestCheckRun::pieces_data()
{
    QTest::addColumn<int>("pieceLength");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("lengths");

    const QString han = QString::fromUtf8("字");
    QTest::newRow("250 without punctuation") << 100 << han.repeated(250) << QList<int>{50, 50, 50, 50, 50};
    QTest::newRow("100 ending in punctuation")
        << 100 << han.repeated(99) + QString::fromUtf8("。") << QList<int>{100, 0};
    QTest::newRow("full stop at 79") << 100 << han.repeated(79) + QString::fromUtf8("。") + han.repeated(70)
                                     << QList<int>{80, 70};
    QTest::newRow("last mark of the second half wins")
        << 100 << han.repeated(60) + "," + han.repeated(9) + QString::fromUtf8("，") + han.repeated(29) + "!"
        << QList<int>{71, 30};
    QTest::newRow("mark in the first half is not a cut")
        << 100 << han.repeated(30) + QString::fromUtf8("？") + han.repeated(119) << QList<int>{50, 50, 50};
    QTest::newRow("piece length 1") << 1 << QString("abcdefghijklmnop") << QList<int>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    QTest::newRow("short text is one piece") << 500 << QString::fromUtf8("我们以经到了。") << QList<int>{7};
    // Ten times these lengths leaves int: the run must neither overflow nor refuse.
    QTest::newRow("piece length INT_MAX") << INT_MAX << han.repeated(30) << QList<int>{30};
    QTest::newRow("piece length INT_MAX / 10 + 1") << INT_MAX / 10 + 1 << han.repeated(30) << QList<int>{30};
}

void TestCheckRun::pieces()
{
    QFETCH(int, pieceLength);
    QFETCH(QString, text);
    QFETCH(QList<int>, lengths);
    setPieceLength(pieceLength);

    QVERIFY(m_client->checkText(text));
    QTRY_VERIFY(!m_client->isBusy());
    const QStringList sent = sentPieces();
    QList<int> sentLengths;
    for (const QString& piece : sent)
        sentLengths.append(piece.size());
    QCOMPARE(sentLengths, lengths);
    // The pieces are consecutive slices of the text.
    QVERIFY(text.startsWith(sent.join(QString())));
    for (const QString& message : m_watcher->messages())
        QVERIFY2(qint64(pieceLength) * 10 < text.size() || !message.startsWith("Max"), qPrintable(message));
}

void TestCheckRun::threePieces()
{
    setPieceLength(10);
    m_service->enqueue(FakeService::checkPath(), FakeReply::json(finding("一", 0)));
    m_service->enqueue(FakeService::checkPath(), FakeReply::json(finding("二", 1)));
    m_service->enqueue(FakeService::checkPath(), FakeReply::json(finding("三", 2)));
    // 25 characters, piece length 10, no punctuation: 5 + 5 + ... would be more pieces;
    // marks at the ends of the first two windows make it exactly three.
    const QString text = QString::fromUtf8("一二三四五六七八九。一二三四五六七八九。一二三四五");

    QVERIFY(m_client->checkText(text));
    QVERIFY(m_client->progressDialog()->isVisible());
    QTRY_VERIFY(!m_client->isBusy());

    QCOMPARE(sentPieces().size(), 3);
    QCOMPARE(m_progress, (QList<int>{66, 100}));
    QVERIFY(!m_client->progressDialog()->isVisible());
    QCOMPARE(m_published, (QList<QStringList>{{"一", "二", "三"}}));
    QVERIFY(m_client->getCheckData().empty());
    QVERIFY(m_watcher->messages().isEmpty());
}

void TestCheckRun::networkErrorPublishesEarlierFindings()
{
    setPieceLength(10);
    m_service->enqueue(FakeService::checkPath(), FakeReply::json(finding("一", 0)));
    m_service->enqueue(FakeService::checkPath(), FakeReply{503, "busy", FakeReply::Normal, 0});
    const QString text = QString::fromUtf8("一二三四五六七八九。一二三四五六七八九。一二三四五");

    QVERIFY(m_client->checkText(text));
    QTRY_VERIFY(!m_client->isBusy());
    QCOMPARE(sentPieces().size(), 2);
    QCOMPARE(m_published, (QList<QStringList>{{"一"}}));
    QCOMPARE(m_watcher->messages().size(), 1);
    QVERIFY2(m_watcher->lastMessage().startsWith("Connect Server Error! [") && m_watcher->lastMessage().endsWith(" ]"),
             qPrintable(m_watcher->lastMessage()));
    QVERIFY(!m_client->progressDialog()->isVisible());
    QVERIFY(m_client->getCheckData().empty());
}

void TestCheckRun::cancelEndsSilently_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel button") << "button";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("window's close button") << "close";
}

void TestCheckRun::cancelEndsSilently()
{
    QFETCH(QString, how);
    setPieceLength(10);
    m_service->enqueue(FakeService::checkPath(), FakeReply::json(finding("一", 0)));
    m_service->enqueue(FakeService::checkPath(), FakeReply{200, finding("二", 0), FakeReply::Normal, 5000});
    QVERIFY(m_client->checkText(QString::fromUtf8("一二三四五六七八九。一二三四五六七八九。")));
    QTRY_COMPARE(sentPieces().size(), 2);

    DialogProgress* progress = m_client->progressDialog();
    if (how == "button")
        progress->findChild<QPushButton*>("btnCancel")->click();
    else if (how == "escape")
        QTest::keyClick(progress, Qt::Key_Escape);
    else
        progress->close();
    QTRY_VERIFY(!m_client->isBusy());
    QVERIFY(m_published.isEmpty());
    QVERIFY(m_watcher->messages().isEmpty());
    QVERIFY(!m_client->progressDialog()->isVisible());

    // The client is ready for the next run.
    m_service->enqueue(FakeService::checkPath(), FakeReply::json(finding("三", 0)));
    QVERIFY(m_client->checkText(QString::fromUtf8("三")));
    QTRY_COMPARE(m_published, (QList<QStringList>{{"三"}}));
}

void TestCheckRun::secondRunWhileBusyIsRefused()
{
    m_service->enqueue(FakeService::checkPath(), FakeReply{200, finding("一", 0), FakeReply::Normal, 300});
    QVERIFY(m_client->checkText(QString::fromUtf8("一二三")));
    QVERIFY(!m_client->checkText(QString::fromUtf8("四五六")));
    QCOMPARE(m_watcher->messages(), QStringList{"checking, please wait."});
    QTRY_COMPARE(m_published, (QList<QStringList>{{"一"}}));
    QCOMPARE(sentPieces(), QStringList{QString::fromUtf8("一二三")});
}

void TestCheckRun::hostileReplies_data()
{
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<QString>("message");
    QTest::newRow("malformed JSON") << FakeReply::json(R"({"errors":[{"text":)") << "JSON Data Error!";
    QTest::newRow("wrong types") << FakeReply::json(R"({"errors":[{"text":1,"type":"a","spans":[]}]})")
                                 << "JSON Data Error!";
    QTest::newRow("reversed span") << FakeReply::json(R"({"errors":[{"text":"a","type":1,"spans":[[3,1]]}]})")
                                   << "JSON Data Error!";
    QTest::newRow("invalid UTF-8") << FakeReply::json("{\"errors\":[{\"text\":\"\xff\xfe\",\"type\":1,\"spans\":[]}]}")
                                   << "JSON Data Error!";
    QTest::newRow("cut off mid-body") << FakeReply{200, finding("一", 0), FakeReply::Truncate, 0}
                                      << "Connect Server Error! [";
    QTest::newRow("dropped connection") << FakeReply{200, {}, FakeReply::Drop, 0} << "Connect Server Error! [";
    QByteArray huge = R"({"error_code":"","errors":[)";
    while (huge.size() < 50 * 1024 * 1024)
        huge += R"({"text":"一","type":1,"spans":[[0,1]]},)";
    huge += R"({"text":"一","type":1,"spans":[[0,1]]}]})";
    QTest::newRow("50 MB body") << FakeReply::json(huge) << "JSON Data Error!";
    // Announces 50 MB and sends half before closing: cut at the announcement,
    // so the malformed-reply message rather than a dropped connection.
    QTest::newRow("50 MB announced") << FakeReply{200, huge, FakeReply::Truncate, 0} << "JSON Data Error!";
    QTest::newRow("silent server") << FakeReply{200, {}, FakeReply::Silent, 0}
                                   << "Connect Server Error! [Operation timed out ]";
}

void TestCheckRun::hostileReplies()
{
    QFETCH(FakeReply, reply);
    QFETCH(QString, message);
    m_client->setTransferTimeout(1500);
    m_service->setDefault(FakeService::checkPath(), reply);

    QVERIFY(m_client->checkText(QString::fromUtf8("我们以经到了。")));
    QTRY_VERIFY_WITH_TIMEOUT(!m_client->isBusy(), 10000);
    QCOMPARE(m_watcher->messages().size(), 1);
    QVERIFY2(m_watcher->lastMessage().startsWith(message), qPrintable(m_watcher->lastMessage()));
    QVERIFY(m_published.isEmpty());
    QVERIFY(!m_client->progressDialog()->isVisible());

    // Nothing half-decoded stays behind and the next run works.
    m_watcher->clear();
    m_service->setDefault(FakeService::checkPath(), FakeReply::json(finding("以经", 2)));
    QVERIFY(m_client->checkText(QString::fromUtf8("我们以经到了。")));
    QTRY_COMPARE(m_published, (QList<QStringList>{{"以经"}}));
    QVERIFY(m_watcher->messages().isEmpty());
}

void TestCheckRun::replyCutWhileArriving()
{
    // A checker that streams a reply without announcing its length and never
    // ends it: the client must stop reading at the decoder's limit instead of
    // buffering until the time-out.
    QTcpServer endless;
    QVERIFY(endless.listen(QHostAddress::LocalHost));
    qint64 written = 0;
    connect(&endless, &QTcpServer::newConnection, this, [&] {
        QTcpSocket* socket = endless.nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, socket, [socket, &written] {
            socket->readAll();
            if (socket->property("answered").toBool())
                return;
            socket->setProperty("answered", true);
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n");
            const QByteArray chunk = QByteArray::number(64 * 1024, 16) + "\r\n" + QByteArray(64 * 1024, ' ') + "\r\n";
            auto* feed = new QTimer(socket);
            connect(feed, &QTimer::timeout, socket, [socket, chunk, &written] {
                if (socket->bytesToWrite() < 1024 * 1024) {
                    socket->write(chunk);
                    written += chunk.size();
                }
            });
            feed->start(1);
        });
    });
    setLoginReply(*m_service, QStringLiteral("http://127.0.0.1:%1/api/v2/check/").arg(endless.serverPort()));
    m_client->setTransferTimeout(60000);

    QVERIFY(m_client->checkText(QString::fromUtf8("我们以经到了。")));
    QTRY_VERIFY_WITH_TIMEOUT(!m_client->isBusy(), 20000);
    QCOMPARE(m_watcher->messages(), QStringList{"JSON Data Error!"});
    QVERIFY(m_published.isEmpty());
    QVERIFY2(written < qint64(kMaxReplyBytes) + 8 * 1024 * 1024, qPrintable(QString::number(written)));
}

void TestCheckRun::setLoginReply(FakeService& service, const QString& checkerUrl)
{
    QJsonObject reply = QJsonDocument::fromJson(service.loginReply("tok")).object();
    reply.insert("checker_url", checkerUrl);
    service.setDefault(FakeService::authPath(), FakeReply::json(QJsonDocument(reply).toJson()));
}

void TestCheckRun::checkerAddress_data()
{
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QString>("checker"); // %1: the service's base URL, %2: its port
    QTest::addColumn<bool>("sent");
    QTest::newRow("http base, http checker") << false << "%1api/v2/check/" << true;
    QTest::newRow("https base, https checker") << true << "%1api/v2/check/" << true;
    QTest::newRow("https base, http checker") << true << "http://127.0.0.1:%2/api/v2/check/" << false;
    QTest::newRow("https base, HTTP in capitals") << true << "HTTP://127.0.0.1:%2/api/v2/check/" << false;
    QTest::newRow("https base, ws checker") << true << "ws://127.0.0.1:%2/api/v2/check/" << false;
    QTest::newRow("ftp") << false << "ftp://127.0.0.1:%2/api/v2/check/" << false;
    QTest::newRow("a local file") << false << "file:///etc/passwd" << false;
    QTest::newRow("relative") << false << "/api/v2/check/" << false;
    QTest::newRow("no host") << false << "http:///api/v2/check/" << false;
    QTest::newRow("empty") << false << "" << false;
}

void TestCheckRun::checkerAddress()
{
    QFETCH(bool, tls);
    QFETCH(QString, checker);
    QFETCH(bool, sent);
    if (tls && !m_haveCertificate)
        QSKIP("openssl could not make a test certificate");
    FakeService tlsService;
    FakeService* service = m_service;
    if (tls) {
        QVERIFY(tlsService.listenTls(m_certDir.filePath("cert.pem"), m_certDir.filePath("key.pem")));
        service = &tlsService;
        qputenv("QUILLET_SERVICE_URL", service->baseUrl().toUtf8());
        delete m_client;
        m_client = new Revisor(this);
    }
    service->setDefault(FakeService::checkPath(), FakeReply::json(finding("以经", 2)));
    setLoginReply(*service, checker.arg(service->baseUrl(), QString::number(service->port())));

    const bool started = m_client->checkText(QString::fromUtf8("我们以经到了。"));
    QTRY_VERIFY(!m_client->isBusy());
    QVERIFY(!m_client->progressDialog()->isVisible());
    QCOMPARE(started, sent);
    QCOMPARE(service->requestsTo(FakeService::authPath()).size(), 1);
    QCOMPARE(service->requestsTo(FakeService::checkPath()).size(), sent ? 1 : 0);
    QCOMPARE(service->requests().size(), sent ? 2 : 1);
    if (sent) {
        QVERIFY(m_watcher->messages().isEmpty());
    } else {
        QCOMPARE(m_watcher->messages().size(), 1);
        QVERIFY2(m_watcher->lastMessage().startsWith("The service named an unsafe checker address"),
                 qPrintable(m_watcher->lastMessage()));
    }
}

void TestCheckRun::serviceTextIsNeverMarkup_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("failed login") << FakeService::authPath();
    QTest::newRow("failed check") << FakeService::checkPath();
}

void TestCheckRun::serviceTextIsNeverMarkup()
{
    QFETCH(QByteArray, path);
    const QString markup =
        QStringLiteral("<b>x</b><img src=\"http://127.0.0.1:9/track.png\"><a href=\"file:///\">y</a>");
    if (path == FakeService::authPath()) {
        m_service->setDefault(path,
                              FakeReply::json(m_service->loginReply("", 500, false, "auth_error", markup.toUtf8())));
    } else {
        const QJsonObject reply{{"error_code", "token_error"}, {"error_msg", markup}, {"errors", QJsonArray()}};
        m_service->setDefault(path, FakeReply::json(QJsonDocument(reply).toJson()));
    }

    // Read the box as it is shown, before anyone answers it.
    delete m_watcher;
    m_watcher = nullptr;
    QList<QPair<QString, Qt::TextFormat>> shown;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&shown] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown.append({box->text(), box->textFormat()});
            box->button(QMessageBox::Ok)->click();
        }
    });
    poll.start(2);
    m_client->checkText(QString::fromUtf8("我们以经到了。"));
    QTRY_VERIFY(!m_client->isBusy());
    QTRY_COMPARE(shown.size(), 1);
    QCOMPARE(shown.first().first, markup);
    QCOMPARE(shown.first().second, Qt::PlainText);
}

void TestCheckRun::notFound_data()
{
    QTest::addColumn<QList<bool>>("piecesWithFindings");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("published");
    const QStringList nothing{QString::fromUtf8("未发现错误。")};
    QTest::newRow("nothing anywhere") << QList<bool>{false, false} << nothing << 0;
    QTest::newRow("found, then nothing in the last piece") << QList<bool>{true, false} << QStringList() << 1;
    QTest::newRow("nothing, then found in the last piece") << QList<bool>{false, true} << QStringList() << 1;
}

void TestCheckRun::notFound()
{
    QFETCH(QList<bool>, piecesWithFindings);
    QFETCH(QStringList, messages);
    QFETCH(int, published);
    setPieceLength(10);
    const QByteArray none = R"({"error_code":"not_found_error","error_msg":"未发现错误。","errors":[]})";
    for (bool found : piecesWithFindings)
        m_service->enqueue(FakeService::checkPath(), FakeReply::json(found ? finding("一", 0) : none));

    QVERIFY(m_client->checkText(QString::fromUtf8("一二三四五六七八九。一二三")));
    QTRY_VERIFY(!m_client->isBusy());
    QCOMPARE(sentPieces().size(), piecesWithFindings.size());
    QCOMPARE(m_watcher->messages(), messages);
    QCOMPARE(m_published.size(), published);
}

void TestCheckRun::serverErrorMidRunIsShownAndRunGoesOn()
{
    setPieceLength(10);
    m_service->enqueue(FakeService::checkPath(),
                       FakeReply::json(R"({"error_code":"token_error","error_msg":"登录已失效，请重新登录。"})"));
    m_service->enqueue(FakeService::checkPath(), FakeReply::json(finding("二", 0)));
    QVERIFY(m_client->checkText(QString::fromUtf8("一二三四五六七八九。一二三")));
    QTRY_VERIFY(!m_client->isBusy());
    QCOMPARE(m_watcher->messages(), QStringList{QString::fromUtf8("登录已失效，请重新登录。")});
    QCOMPARE(m_published, (QList<QStringList>{{"二"}}));
}

void TestCheckRun::tooLongTextIsCut()
{
    setPieceLength(10);
    QVERIFY(m_client->checkText(QString(150, QChar('a'))));
    QTRY_VERIFY(!m_client->isBusy());
    QCOMPARE(m_watcher->messages().value(0), QString("Max 100 words!"));
    QCOMPARE(sentPieces().size(), 10); // ten pieces of 5: the rest is never sent
}

void TestCheckRun::emptyTextStartsNothing()
{
    QVERIFY(!m_client->checkText(QString()));
    setPieceLength(0);
    QVERIFY(!m_client->checkText(QString::fromUtf8("一二三")));
    QVERIFY(!m_client->isBusy());
    QVERIFY(!m_client->progressDialog()->isVisible());
    QVERIFY(sentPieces().isEmpty());
    QVERIFY(m_watcher->messages().isEmpty());
}

void TestCheckRun::backgroundChecksAreSilent()
{
    // Without a stored login nothing is sent.
    {
        getConfig()->setValueString("access_token", "");
        Revisor loggedOut;
        QCOMPARE(loggedOut.checkInBackground(QString::fromUtf8("一二三"), [](const BackgroundCheckResult&) {}), 0u);
        getConfig()->setValueString("access_token", "stored");
    }
    std::vector<BackgroundCheckResult> results;
    auto collect = [&](const BackgroundCheckResult& result) { results.push_back(result); };

    // With a stored login: a login with the token tells where checks go, then
    // the text goes in pieces with the run's options, and the findings come
    // back counted into the whole text. No window, no message.
    setPieceLength(10);
    m_client->check_xing_jin = 1;
    m_service->enqueue(FakeService::checkPath(), FakeReply::json(finding("一", 0)));
    m_service->enqueue(FakeService::checkPath(), FakeReply::json(finding("三", 2)));
    const QString text = QString::fromUtf8("一二三四五六七八九。一二三四五");
    QVERIFY(m_client->checkInBackground(text, collect) > 0);
    QTRY_COMPARE(int(results.size()), 1);
    QCOMPARE(results[0].status, BackgroundCheckResult::Checked);
    QCOMPARE(int(results[0].findings.size()), 2);
    QCOMPARE(results[0].findings[1]->spans.front().first, 12);
    const QList<RecordedRequest> logins = m_service->requestsTo(FakeService::authPath());
    QCOMPARE(logins.size(), 1);
    QVERIFY(logins[0].body.contains("access_token=stored"));
    QVERIFY(logins[0].body.contains("password=&") || logins[0].body.endsWith("password="));
    QCOMPARE(sentPieces().size(), 2);
    QVERIFY(m_service->requestsTo(FakeService::checkPath())[0].body.contains("check_xing_jin=1"));
    QVERIFY(!m_client->progressDialog()->isVisible());
    QVERIFY(!m_client->isBusy());

    // A stopped check never answers.
    m_service->enqueue(FakeService::checkPath(), FakeReply{200, {}, FakeReply::Silent, 0});
    const quint64 stopped = m_client->checkInBackground(QString::fromUtf8("一二三"), collect);
    QTRY_COMPARE(sentPieces().size(), 3);
    m_client->cancelBackgroundCheck(stopped);
    QTest::qWait(100);
    QCOMPARE(int(results.size()), 1);

    // Service trouble is told, not shown.
    m_service->enqueue(FakeService::checkPath(), FakeReply{503, "busy", FakeReply::Normal, 0});
    QVERIFY(m_client->checkInBackground(QString::fromUtf8("一二三"), collect) > 0);
    QTRY_COMPARE(int(results.size()), 2);
    QCOMPARE(results[1].status, BackgroundCheckResult::Failed);
    QVERIFY(results[1].problem.startsWith("Connect Server Error!"));
    m_service->enqueue(FakeService::checkPath(), FakeReply::json("not json"));
    QVERIFY(m_client->checkInBackground(QString::fromUtf8("一二三"), collect) > 0);
    QTRY_COMPARE(int(results.size()), 3);
    QCOMPARE(results[2].status, BackgroundCheckResult::Failed);

    // A login the service no longer takes stops checks in the background
    // until the user logs in again.
    m_service->enqueue(FakeService::checkPath(),
                       FakeReply::json(R"({"error_code":"token_error","error_msg":"x","errors":[]})"));
    QVERIFY(m_client->checkInBackground(QString::fromUtf8("一二三"), collect) > 0);
    QTRY_COMPARE(int(results.size()), 4);
    QCOMPARE(results[3].status, BackgroundCheckResult::LoginExpired);
    QCOMPARE(m_client->checkInBackground(QString::fromUtf8("一二三"), collect), 0u);
    QVERIFY(m_client->login("user", "password", 3));
    QVERIFY(m_client->checkInBackground(QString::fromUtf8("一二三"), collect) > 0);
    QTRY_COMPARE(int(results.size()), 5);
    QCOMPARE(results[4].status, BackgroundCheckResult::Checked);
    QVERIFY(m_watcher->messages().isEmpty());
}

QTEST_MAIN(TestCheckRun)
#include "TestCheckRun.moc"
