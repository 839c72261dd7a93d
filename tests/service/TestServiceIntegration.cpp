#include "ModalWatcher.h"
#include "WordFixture.h"
#include "client/Revisor.h"
#include "presentation/ContextShow.h"

#include <QtTest>

// Quillet's real client against a real quillet-service on a loopback port.
class TestServiceIntegration : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void checksThreePieces();
    void findingsLandWhereTheyWereFound();
    void addedWordIsNotReportedAgain();
    void wrongPasswordShowsTheServiceMessage();
    void runsKeepTheirToken();
    void userAddRefusesShortPasswords();

private:
    QStringList runCheck(const QString& text, CHECK_DATAS* findings = nullptr);
    static QString text();

    QTemporaryDir m_dir;
    QProcess m_service;
    Revisor* m_revisor = nullptr;
    ModalWatcher* m_watcher = nullptr;
};

void TestServiceIntegration::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QProcess add;
    add.start(QStringLiteral(QUILLET_SERVICE_BINARY), {"user", "add", "tester", "--data", m_dir.path()});
    QVERIFY(add.waitForStarted());
    add.write("secret+1\n");
    add.closeWriteChannel();
    QVERIFY(add.waitForFinished(30000));
    QCOMPARE(add.exitCode(), 0);

    m_service.start(QStringLiteral(QUILLET_SERVICE_BINARY),
                    {"serve", "--listen", "127.0.0.1:0", "--data", m_dir.path()});
    QVERIFY(m_service.waitForStarted());
    // Loading the models takes about 1 s, under the sanitizers and beside
    // other tests on a busy machine up to half a minute.
    QTRY_VERIFY_WITH_TIMEOUT(m_service.canReadLine(), 60000);
    const QString ready = QString::fromUtf8(m_service.readLine()).trimmed();
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("listening on (http://127\\.0\\.0\\.1:\\d+/)$")).match(ready);
    QVERIFY2(match.hasMatch(), qPrintable(ready));

    qputenv("QUILLET_SERVICE_URL", match.captured(1).toUtf8());
    m_revisor = new Revisor(this);
    m_watcher = new ModalWatcher(this);
}

void TestServiceIntegration::cleanupTestCase()
{
    m_service.terminate();
    QVERIFY(m_service.waitForFinished(10000));
    QCOMPARE(m_service.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_service.exitCode(), 0);
    QVERIFY(m_service.readAll().contains("stopped"));
}

void TestServiceIntegration::init()
{
    m_watcher->clear();
    QVERIFY(m_revisor->login(QStringLiteral("tester"), QStringLiteral("secret+1"), 0));
    QVERIFY(m_revisor->isLogin());
}

// About 1 200 characters with three errors, one in each piece of 500.
QString TestServiceIntegration::text()
{
    const QString filler = QStringLiteral("今天天气很好，我们去公园散步，然后回家吃饭。");
    QString text = QStringLiteral("我们以经完成了今年的全部任务。");
    while (text.size() < 550)
        text += filler;
    text += QStringLiteral("你因该早点休息，明天还要上班。");
    while (text.size() < 1050)
        text += filler;
    text += QStringLiteral("请按装最新版本的软件后再试一次。");
    return text;
}

QStringList TestServiceIntegration::runCheck(const QString& text, CHECK_DATAS* findings)
{
    QStringList found;
    bool done = false;
    const auto connection = connect(m_revisor, &Revisor::checkDone, this, [&](const CHECK_DATAS& datas) {
        for (const auto& data : datas) {
            const QString wrong = QString::fromStdString(data->text);
            found << wrong;
            // Spans count into the whole checked text: the first starts where
            // the wrong text stands.
            if (data->spans.empty() || text.mid(data->spans.front().first, wrong.size()) != wrong)
                found << QStringLiteral("bad span");
        }
        if (findings)
            *findings = datas;
        done = true;
    });
    if (m_revisor->checkText(text) && !QTest::qWaitFor([this] { return !m_revisor->isBusy(); }, 30000))
        found << QStringLiteral("still busy");
    disconnect(connection);
    if (!done)
        found << QStringLiteral("no checkDone");
    return found;
}

void TestServiceIntegration::checksThreePieces()
{
    const QString t = text();
    QVERIFY(t.size() > 1000 && t.size() <= 1500);
    const QStringList found = runCheck(t);
    QCOMPARE(found, (QStringList{QStringLiteral("以经"), QStringLiteral("因该"), QStringLiteral("按装")}));
    QVERIFY2(m_watcher->messages().isEmpty(), qPrintable(m_watcher->messages().join('|')));
}

void TestServiceIntegration::findingsLandWhereTheyWereFound()
{
    // A real reply, decoded, into the document logic on the in-memory word
    // processor: each occurrence is a finding of its own, marked where it
    // stands, and applying the suggestion on the second changes that one.
    WordFixture f(QStringLiteral("我以经吃了饭。我以经吃了饭。"));
    const QString page = f.helper->getCurrentPageText();
    CHECK_DATAS findings;
    QCOMPARE(runCheck(page, &findings), (QStringList{QStringLiteral("以经"), QStringLiteral("以经")}));
    QCOMPARE(findings[1]->spans, (std::vector<std::pair<int, int>>{{8, 9}}));
    f.helper->showErrors(findings);
    QCOMPARE(f.markedText(), QStringLiteral(".以经.....以经...."));

    f.app->moveCaret(f.doc, 9, 9);
    QTRY_VERIFY(f.helper->popup()->isVisible());
    QCOMPARE(f.helper->popupFindings().size(), size_t(1));
    f.helper->onApply(QString(), 0, QString(), 0);
    QCOMPARE(f.doc->plainText(), QStringLiteral("我以经吃了饭。我已经吃了饭。"));
    QCOMPARE(f.markedText(), QStringLiteral(".以经..........."));
}

void TestServiceIntegration::addedWordIsNotReportedAgain()
{
    QVERIFY(m_revisor->addToDict(QStringLiteral("以经")));
    QTRY_COMPARE(m_watcher->messages().size(), 1); // the client's "added" confirmation, no error
    const QStringList found = runCheck(text());
    QCOMPARE(found, (QStringList{QStringLiteral("因该"), QStringLiteral("按装")}));
}

void TestServiceIntegration::wrongPasswordShowsTheServiceMessage()
{
    m_watcher->clear();
    QVERIFY(!m_revisor->login(QStringLiteral("tester"), QStringLiteral("secret 1"), 0));
    QCOMPARE(m_watcher->lastMessage(), QStringLiteral("用户名或密码错误。"));
    QVERIFY(!m_revisor->isLogin());
}

void TestServiceIntegration::runsKeepTheirToken()
{
    // The client logs in before every run; the service hands back the token it holds.
    const std::string token = m_revisor->serverInfo().accessToken;
    QVERIFY(!token.empty());
    for (int run = 0; run < 3; ++run) {
        runCheck(QStringLiteral("我们以经完成了。"));
        QCOMPARE(m_revisor->serverInfo().accessToken, token);
    }
}

void TestServiceIntegration::userAddRefusesShortPasswords()
{
    QProcess add;
    add.start(QStringLiteral(QUILLET_SERVICE_BINARY), {"user", "add", "shorty", "--data", m_dir.path()});
    QVERIFY(add.waitForStarted());
    add.write("1234567\n");
    add.closeWriteChannel();
    QVERIFY(add.waitForFinished(30000));
    QCOMPARE(add.exitCode(), 1);
    QVERIFY(add.readAllStandardError().contains("at least 8 characters"));
    QVERIFY(!m_revisor->login(QStringLiteral("shorty"), QStringLiteral("1234567"), 0));
}

QTEST_MAIN(TestServiceIntegration)
#include "TestServiceIntegration.moc"
