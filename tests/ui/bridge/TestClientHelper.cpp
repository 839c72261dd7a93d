#include "bridge/ClientHelper.h"

#include <QtTest>

namespace {

// Emits editorDetected on request, as a word-processor bridge does.
class AnnouncingHelper : public ClientHelper
{
public:
    void announce(const QString& title, HWND hWnd) { emit editorDetected(title, hWnd); }
};

} // namespace

// The base bridge: empty answers, detection without a window system.
class TestClientHelper : public QObject
{
    Q_OBJECT
private slots:
    void baseAnswersEmpty();
    void detectionWithoutDisplay();
    void handleCrossesQueuedConnections();
};

void TestClientHelper::baseAnswersEmpty()
{
    ClientHelper helper;
    const HWND hWnd = handleFromWindowId(0x1234);
    QVERIFY(helper.getCurrentPageText(hWnd).isNull());
    QVERIFY(helper.getAllPageText(hWnd).isNull());
    QVERIFY(helper.getNextPageText(hWnd, 10).isNull());
    QVERIFY(!helper.hasData(hWnd));
    QVERIFY(helper.getCheckDatas(hWnd).empty());
    QVERIFY(!helper.nextError(hWnd));
    QVERIFY(!helper.prevError(hWnd));
    CHECK_DATAS datas{std::make_shared<CCheckData>()};
    helper.showErrors(datas, hWnd);
    QCOMPARE(datas.size(), size_t(1));
    QCOMPARE(windowIdFromHandle(hWnd), quintptr(0x1234));
}

void TestClientHelper::detectionWithoutDisplay()
{
#ifdef Q_OS_WIN
    QSKIP("a Windows session always has its desktop");
#endif
    qunsetenv("DISPLAY");
    ClientHelper helper;
    QVERIFY(!helper.endDetectEditor());
    QVERIFY(!helper.beginDetectEditor());
    QVERIFY(!helper.endDetectEditor());
    // An unreachable display is no display either.
    qputenv("DISPLAY", ":65000");
    QVERIFY(!helper.beginDetectEditor());
    QVERIFY(!helper.endDetectEditor());
    qunsetenv("DISPLAY");
}

void TestClientHelper::handleCrossesQueuedConnections()
{
    AnnouncingHelper helper;
    QSignalSpy spy(&helper, &ClientHelper::editorDetected);
    QString title;
    HWND received = nullptr;
    QObject receiver;
    connect(
        &helper, &ClientHelper::editorDetected, &receiver,
        [&](const QString& name, HWND hWnd) {
            title = name;
            received = hWnd;
        },
        Qt::QueuedConnection);
    helper.announce(QStringLiteral("报告.odt - LibreOffice Writer"), handleFromWindowId(0x2a00007));
    QTRY_COMPARE(received, handleFromWindowId(0x2a00007));
    QCOMPARE(title, QStringLiteral("报告.odt - LibreOffice Writer"));
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.first().at(1).value<HWND>(), handleFromWindowId(0x2a00007));
}

QTEST_GUILESS_MAIN(TestClientHelper)
#include "TestClientHelper.moc"
