#include "FakeClientHelper.h"
#include "VirtualDisplay.h"
#include "X11TestUtil.h"

#include <QtTest>

#include <unistd.h>

// The bridge's focus watcher on a real X server: a private Xvfb with openbox,
// windows of another process activated in turn.
class TestFocusWatcherX11 : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void reportsActivatedWindows();
    void ignoresOwnWindows();
    void onlyLatestBridgeReceives();
    void silentAfterEnd();
    void silentAfterDestruction();

private:
    bool activateAndWait(xcb_window_t window);

    VirtualDisplay m_display;
    QProcess m_windows;
    xcb_connection_t* m_x = nullptr;
    xcb_window_t m_writer = XCB_WINDOW_NONE;
    xcb_window_t m_other = XCB_WINDOW_NONE;
    xcb_window_t m_own = XCB_WINDOW_NONE;
};

namespace {

HWND handle(xcb_window_t window)
{
    return handleFromWindowId(window);
}

} // namespace

void TestFocusWatcherX11::initTestCase()
{
    QString reason;
    if (!m_display.start(QStringLiteral("1024x768"), &reason))
        QSKIP(qPrintable(reason));
    const QByteArray display = m_display.display().toLatin1();

    m_x = xcb_connect(display.constData(), nullptr);
    QVERIFY(!xcb_connection_has_error(m_x));
    QTRY_VERIFY_WITH_TIMEOUT(x11test::windowManagerRunning(m_x), 10000);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    m_windows.setProcessEnvironment(environment);
    m_windows.start(QStringLiteral(QUILLET_X11_TEST_WINDOWS), {"libreoffice-writer", "Mousepad"});
    QVERIFY(m_windows.waitForStarted(5000));
    QByteArray ids;
    QDeadlineTimer deadline(10000);
    while (ids.count('\n') < 2 && !deadline.hasExpired() && m_windows.state() == QProcess::Running) {
        m_windows.waitForReadyRead(200);
        ids += m_windows.readAllStandardOutput();
    }
    const QList<QByteArray> lines = ids.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    bool ok = false;
    m_writer = lines.at(0).toUInt(&ok, 16);
    QVERIFY(ok);
    m_other = lines.at(1).toUInt(&ok, 16);
    QVERIFY(ok);

    // A window of this very process.
    m_own = x11test::createWindow(m_x, "Quillet", "Quillet", uint32_t(getpid()), 600);
}

void TestFocusWatcherX11::cleanupTestCase()
{
    if (m_x)
        xcb_disconnect(m_x);
    for (QProcess* process : {&m_windows}) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
}

void TestFocusWatcherX11::init()
{
    // Every case starts with the own window active, which the watcher ignores.
    QVERIFY(activateAndWait(m_own));
}

bool TestFocusWatcherX11::activateAndWait(xcb_window_t window)
{
    // A request that reaches the window manager before it manages the window
    // is dropped: ask again now and then.
    QDeadlineTimer deadline(5000);
    for (int i = 0; !deadline.hasExpired(); ++i) {
        if (i % 25 == 0)
            x11test::activate(m_x, window);
        if (x11test::activeWindow(m_x) == window) {
            // Lets the watcher read the change before the test looks.
            QTest::qWait(50);
            return true;
        }
        QTest::qWait(20);
    }
    return false;
}

void TestFocusWatcherX11::reportsActivatedWindows()
{
    FakeClientHelper helper;
    QVERIFY(helper.beginDetectEditor());

    QVERIFY(activateAndWait(m_writer));
    QTRY_COMPARE(helper.focusChanges(), QList<HWND>{handle(m_writer)});
    QVERIFY(activateAndWait(m_other));
    QTRY_COMPARE(helper.focusChanges(), (QList<HWND>{handle(m_writer), handle(m_other)}));
    QVERIFY(activateAndWait(m_writer));
    QTRY_COMPARE(helper.focusChanges(), (QList<HWND>{handle(m_writer), handle(m_other), handle(m_writer)}));
    QVERIFY(helper.endDetectEditor());
}

void TestFocusWatcherX11::ignoresOwnWindows()
{
    FakeClientHelper helper;
    QVERIFY(helper.beginDetectEditor());
    QVERIFY(activateAndWait(m_writer));
    QVERIFY(activateAndWait(m_own));
    // Leaving for our own window and coming back reports the editor again.
    QVERIFY(activateAndWait(m_writer));
    QTRY_COMPARE(helper.focusChanges().size(), 2);
    QTest::qWait(100);
    QCOMPARE(helper.focusChanges(), (QList<HWND>{handle(m_writer), handle(m_writer)}));
}

void TestFocusWatcherX11::onlyLatestBridgeReceives()
{
    FakeClientHelper first;
    FakeClientHelper second;
    QVERIFY(first.beginDetectEditor());
    QVERIFY(second.beginDetectEditor());
    QVERIFY(activateAndWait(m_writer));
    QTRY_COMPARE(second.focusChanges(), QList<HWND>{handle(m_writer)});

    QVERIFY(first.beginDetectEditor());
    QVERIFY(activateAndWait(m_other));
    QTRY_COMPARE(first.focusChanges(), QList<HWND>{handle(m_other)});
    QTest::qWait(100);
    QCOMPARE(second.focusChanges(), QList<HWND>{handle(m_writer)});
}

void TestFocusWatcherX11::silentAfterEnd()
{
    FakeClientHelper helper;
    QVERIFY(helper.beginDetectEditor());
    QVERIFY(helper.endDetectEditor());
    QVERIFY(!helper.endDetectEditor());
    QVERIFY(activateAndWait(m_writer));
    QVERIFY(activateAndWait(m_other));
    QTest::qWait(200);
    QVERIFY(helper.focusChanges().isEmpty());

    // Detection can start again.
    QVERIFY(helper.beginDetectEditor());
    QVERIFY(activateAndWait(m_writer));
    QTRY_COMPARE(helper.focusChanges(), QList<HWND>{handle(m_writer)});
}

void TestFocusWatcherX11::silentAfterDestruction()
{
    QList<HWND> received;
    class RecordingHelper : public ClientHelper
    {
    public:
        explicit RecordingHelper(QList<HWND>& received)
            : m_received(received)
        {
        }
        void focusChanged(HWND hWnd) override { m_received.append(hWnd); }

    private:
        QList<HWND>& m_received;
    };

    auto* helper = new RecordingHelper(received);
    QVERIFY(helper->beginDetectEditor());
    QVERIFY(activateAndWait(m_writer));
    QTRY_COMPARE(received, QList<HWND>{handle(m_writer)});
    delete helper;
    QVERIFY(activateAndWait(m_other));
    QVERIFY(activateAndWait(m_writer));
    QTest::qWait(200);
    QCOMPARE(received, QList<HWND>{handle(m_writer)});
}

QTEST_GUILESS_MAIN(TestFocusWatcherX11)
#include "TestFocusWatcherX11.moc"
