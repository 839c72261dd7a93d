// The Writer bridge on a real desktop: a private Xvfb with openbox and a
// visible office (gen plugin) with a profile of its own. The bridge finds the
// office from the window alone, as it does on a user's desktop.

#include "OfficeFixture.h"
#include "VirtualDisplay.h"
#include "UnoSupport.h"
#include "WordClientHelper.h"
#include "WriterApplication.h"
#include "WriterDocument.h"
#include "X11Windows.h"
#include "bridge/WordHelper.h"

#include "OfficePipe.h"
#include "PipeSquatter.h"

#include <QSignalSpy>
#include <QSysInfo>
#include <QtTest>

#include <xcb/xcb.h>

#include <csignal>
#include <cstring>
#include <cstdlib>

namespace {

// The longest time the event loop went without turning while it lived.
class LoopWatch
{
public:
    LoopWatch()
    {
        m_sinceTick.start();
        m_ticker.setInterval(20);
        QObject::connect(&m_ticker, &QTimer::timeout,
                         [this] { m_longestGap = std::max(m_longestGap, m_sinceTick.restart()); });
        m_ticker.start();
    }
    qint64 longestGap() const { return m_longestGap; }

private:
    QElapsedTimer m_sinceTick;
    QTimer m_ticker;
    qint64 m_longestGap = 0;
};

} // namespace

class TestWordClientHelper : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void recognisesAttachesAndForwards();
    void dialogLeadsToItsDocument();
    void marksThroughTheBridge();
    // It kills the office; the tests after it use the next one.
    void nextOfficeAfterTheFirstGoes();
    void onlyAnOfficeOfThisMachineIsAsked_data();
    void onlyAnOfficeOfThisMachineIsAsked();
    void squattedPipeGetsNoByte_data();
    void squattedPipeGetsNoByte();
    void stoppedOfficeIsGivenUp();

private:
    quintptr writerWindow(const css::uno::Reference<css::frame::XFrame>& frame);
    quintptr makeWindow(const char* wmClass, quintptr transientFor);
    // How many pixels of window are drawn in the mark's red.
    int markPixels(quintptr window);
    void setProperty(quintptr window, const char* name, unsigned type, int format, const QByteArray& value);
    // A pipe name of its own for each test of a bridge of its own.
    QString freshPipeName();
    // Activates the window until the bridge is attached to it (an office may
    // drop a connection made just after it opened the pipe, and the bridge
    // tries again on the next activation); false after a few tries.
    static bool activateUntilAttached(WordClientHelper& bridge, HWND editor);
    // Ends the bridge the first tests share, before a test connects a bridge of
    // its own: a second connection of this process to the same office is
    // handed the first one's proxies, and, left without any of its own, ends
    // itself again and again.
    void releaseSharedBridge() { m_bridge.reset(); }
    // A new document's Writer window, for a bridge of the test's own: the
    // shared bridge and the fixture's connection let go of the office first
    // (two bridges of one process to one office do not live together). Null
    // when the document could not be made.
    HWND editorForOwnBridge(const QString& text)
    {
        releaseSharedBridge();
        auto frame = m_office->newDocument({text});
        const quintptr window = frame.is() ? writerWindow(frame) : 0;
        frame.clear();
        m_office->disconnect();
        return window ? handleFromWindowId(window) : nullptr;
    }

    VirtualDisplay m_display;
    xcb_connection_t* m_x = nullptr;
    std::unique_ptr<OfficeFixture> m_office;
    std::unique_ptr<WordClientHelper> m_bridge;
    css::uno::Reference<css::frame::XFrame> m_frame;
    quintptr m_window = 0;
};

void TestWordClientHelper::initTestCase()
{
    if (QStandardPaths::findExecutable("soffice").isEmpty())
        QSKIP("LibreOffice (soffice) is not installed");
    QString reason;
    if (!m_display.start(QStringLiteral("1280x1024"), &reason))
        QSKIP(qPrintable(reason));
    const QByteArray display = m_display.display().toLatin1();
    qputenv("SAL_USE_VCLPLUGIN", "gen");
    m_x = xcb_connect(display.constData(), nullptr);
    QVERIFY(!xcb_connection_has_error(m_x));

    m_office = std::make_unique<OfficeFixture>();
    QVERIFY2(m_office->start(&reason, true), qPrintable(reason));
    m_frame = m_office->newDocument({QStringLiteral("第一段文字。"), QStringLiteral("第二段有一个错别字。")});
    QVERIFY(m_frame.is());
    m_window = writerWindow(m_frame);
    // The bridge's own connection must be the only one of this process.
    m_frame.clear();
    m_office->disconnect();
    QVERIFY(m_window);

    m_bridge = std::make_unique<WordClientHelper>();
    m_bridge->setPipeName(QStringLiteral("quillet_user_%1").arg(QCoreApplication::applicationPid()));
}

void TestWordClientHelper::cleanupTestCase()
{
    m_bridge.reset();
    if (m_office)
        m_office->stop();
    if (m_x)
        xcb_disconnect(m_x);
}

quintptr TestWordClientHelper::writerWindow(const css::uno::Reference<css::frame::XFrame>& frame)
{
    const quintptr window = WriterApplication::windowIdOf(frame);
    X11Windows x11;
    // The office maps its window and sets its class shortly after loading.
    QDeadlineTimer deadline(10000);
    while (window && x11.windowClass(window) != QLatin1String("libreoffice-writer") && !deadline.hasExpired())
        QTest::qWait(50);
    return window;
}

int TestWordClientHelper::markPixels(quintptr window)
{
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(m_x, xcb_get_geometry(m_x, xcb_window_t(window)), nullptr);
    if (!geometry)
        return -1;
    xcb_get_image_reply_t* image =
        xcb_get_image_reply(m_x,
                            xcb_get_image(m_x, XCB_IMAGE_FORMAT_Z_PIXMAP, xcb_window_t(window), 0, 0, geometry->width,
                                          geometry->height, ~0u),
                            nullptr);
    free(geometry);
    if (!image)
        return -1;
    // 24-bit visuals: four bytes a pixel, blue, green, red. The wave is drawn
    // in 240/1/0, smoothed towards the white page (green and blue equal).
    const uint8_t* data = xcb_get_image_data(image);
    const int length = xcb_get_image_data_length(image);
    int count = 0;
    for (int i = 0; i + 3 < length; i += 4) {
        if (data[i + 2] >= 180 && data[i + 1] <= 110 && data[i] <= 110 && std::abs(data[i + 1] - data[i]) <= 12)
            ++count;
    }
    free(image);
    return count;
}

quintptr TestWordClientHelper::makeWindow(const char* wmClass, quintptr transientFor)
{
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_x)).data;
    const xcb_window_t window = xcb_generate_id(m_x);
    xcb_create_window(m_x, XCB_COPY_FROM_PARENT, window, screen->root, 10, 10, 200, 100, 1,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const QByteArray value = QByteArray(wmClass) + '\0' + wmClass + '\0';
    xcb_change_property(m_x, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        uint32_t(value.size()), value.constData());
    if (transientFor) {
        const xcb_window_t owner = xcb_window_t(transientFor);
        xcb_change_property(m_x, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1,
                            &owner);
    }
    xcb_flush(m_x);
    // A round trip: the properties are set before the bridge reads them.
    std::free(xcb_get_input_focus_reply(m_x, xcb_get_input_focus(m_x), nullptr));
    return window;
}

void TestWordClientHelper::recognisesAttachesAndForwards()
{
    const HWND editor = handleFromWindowId(m_window);
    QSignalSpy detected(m_bridge.get(), &ClientHelper::editorDetected);

    // Not a window of Writer, or no window: nothing.
    m_bridge->focusChanged(nullptr);
    m_bridge->focusChanged(handleFromWindowId(makeWindow("Mousepad", 0)));
    QCOMPARE(detected.count(), 0);

    m_bridge->focusChanged(editor);
    QCOMPARE(detected.count(), 1);
    QVERIFY(detected.at(0).at(0).toString().contains(QLatin1String("LibreOffice Writer")));
    QCOMPARE(detected.at(0).at(1).value<HWND>(), editor);
    // The office opens the user's pipe when asked; the window is attached.
    // Asking starts a second office program that hands the request over,
    // which on a busy machine takes several seconds.
    QTRY_VERIFY_WITH_TIMEOUT(m_bridge->isConnected(), 30000);
    QTRY_VERIFY(m_bridge->wrapper(editor) && m_bridge->wrapper(editor)->isAttached());

    const QString text = QStringLiteral("第一段文字。\n第二段有一个错别字。");
    QCOMPARE(m_bridge->getAllPageText(editor), text);
    QCOMPARE(m_bridge->getCurrentPageText(editor), text);
    QVERIFY(!m_bridge->hasData(editor));
    QVERIFY(m_bridge->getCheckDatas(editor).empty());

    // Focused again: one wrapper, announced again.
    const auto wrapper = m_bridge->wrapper(editor);
    m_bridge->focusChanged(editor);
    QCOMPARE(detected.count(), 2);
    QCOMPARE(m_bridge->wrapper(editor), wrapper);

    // Unknown or null handles: empty answers.
    const HWND unknown = handleFromWindowId(0x7777);
    QVERIFY(m_bridge->getAllPageText(unknown).isEmpty());
    QVERIFY(m_bridge->getCheckDatas(unknown).empty());
    QVERIFY(!m_bridge->hasData(nullptr));
    QVERIFY(!m_bridge->nextError(nullptr));
    QVERIFY(!m_bridge->prevError(nullptr));
    m_bridge->clearErrors(nullptr);
}

void TestWordClientHelper::dialogLeadsToItsDocument()
{
    QSignalSpy detected(m_bridge.get(), &ClientHelper::editorDetected);
    const quintptr dialog = makeWindow("libreoffice-writer-dialog", m_window);
    m_bridge->focusChanged(handleFromWindowId(dialog));
    QCOMPARE(detected.count(), 1);
    QCOMPARE(detected.at(0).at(1).value<HWND>(), handleFromWindowId(m_window));
}

void TestWordClientHelper::marksThroughTheBridge()
{
    const HWND editor = handleFromWindowId(m_window);
    auto application = std::dynamic_pointer_cast<WriterApplication>(m_bridge->wrapper(editor)->application());
    QVERIFY(application);
    auto document = application->activeDocument();
    document->setModified(false);
    m_bridge->enableErrorTip(false);
    QVERIFY(!m_bridge->wrapper(editor)->errorTipEnabled());
    // The caret in the first paragraph: the office shows new marks in the
    // paragraph that holds the caret only after a pause.
    document->range(0, 0)->select();
    QTest::qWait(200);
    const int unmarked = markPixels(m_window); // the office's own red icons
    const QString page = m_bridge->getCurrentPageText(editor);
    auto finding = std::make_shared<CCheckData>();
    finding->text = "错别字";
    finding->spans = {{int(page.indexOf(QStringLiteral("错别字"))), int(page.indexOf(QStringLiteral("错别字"))) + 2}};
    m_bridge->showErrors({finding}, editor);
    QVERIFY(m_bridge->hasData(editor));
    QCOMPARE(m_bridge->getCheckDatas(editor).size(), size_t(1));

    const int at = document->content()->text().indexOf(QStringLiteral("错别字"));
    QVERIFY(document->range(at, at + 3)->isMarked());
    QCOMPARE(*document->range(at, at + 3)->font(),
             (automation::Font{automation::UnderlineNone, automation::ColorAutomatic}));
    QVERIFY(!document->isModified());
    // The office draws it: a red wave appears in its window.
    QTRY_VERIFY_WITH_TIMEOUT(markPixels(m_window) > unmarked + 30, 10000);
    // Next selects the error (tips are off), Previous finds it again.
    document->range(0, 0)->select();
    QVERIFY(m_bridge->nextError(editor));
    QCOMPARE(application->selection()->range()->text(), QStringLiteral("错别字"));

    m_bridge->clearErrors(editor);
    QVERIFY(!m_bridge->hasData(editor));
    QVERIFY(!document->range(at, at + 3)->isMarked());
    QVERIFY(!document->isModified());
    // The wave is gone (the office's own red may differ by a few pixels
    // between two looks).
    QTRY_VERIFY_WITH_TIMEOUT(markPixels(m_window) <= unmarked + 10, 10000);
}

void TestWordClientHelper::nextOfficeAfterTheFirstGoes()
{
    const HWND editor = handleFromWindowId(m_window);
    m_office->kill();
    QTRY_VERIFY_WITH_TIMEOUT(!m_bridge->isConnected(), 15000);
    QTRY_VERIFY(!m_bridge->wrapper(editor));
    QVERIFY(m_bridge->getAllPageText(editor).isEmpty());
    m_office->stop();

    // Another office, another window: reached and attached the same way.
    m_office = std::make_unique<OfficeFixture>();
    QString reason;
    QVERIFY2(m_office->start(&reason, true), qPrintable(reason));
    auto frame = m_office->newDocument({QStringLiteral("第二个办公软件。")});
    const quintptr window = writerWindow(frame);
    frame.clear();
    m_office->disconnect();
    QVERIFY(window);
    const HWND second = handleFromWindowId(window);
    m_bridge->focusChanged(second);
    QTRY_VERIFY_WITH_TIMEOUT(m_bridge->isConnected(), 30000);
    QTRY_VERIFY(m_bridge->wrapper(second) && m_bridge->wrapper(second)->isAttached());
    QCOMPARE(m_bridge->getAllPageText(second), QStringLiteral("第二个办公软件。"));
}

void TestWordClientHelper::setProperty(quintptr window, const char* name, unsigned type, int format,
                                       const QByteArray& value)
{
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(m_x, xcb_intern_atom(m_x, 0, uint16_t(std::strlen(name)), name), nullptr);
    QVERIFY(atom);
    xcb_change_property(m_x, XCB_PROP_MODE_REPLACE, xcb_window_t(window), atom->atom, type, uint8_t(format),
                        uint32_t(value.size() / (format / 8)), value.constData());
    std::free(atom);
    std::free(xcb_get_input_focus_reply(m_x, xcb_get_input_focus(m_x), nullptr));
}

QString TestWordClientHelper::freshPipeName()
{
    static int count = 0;
    return QStringLiteral("quillet_t%1_%2").arg(QCoreApplication::applicationPid()).arg(++count);
}

bool TestWordClientHelper::activateUntilAttached(WordClientHelper& bridge, HWND editor)
{
    for (int round = 0; round < 4; ++round) {
        bridge.focusChanged(editor);
        QDeadlineTimer deadline(8000);
        while (!deadline.hasExpired()) {
            if (bridge.isConnected() && bridge.wrapper(editor) && bridge.wrapper(editor)->isAttached())
                return true;
            QTest::qWait(50);
        }
    }
    return false;
}

void TestWordClientHelper::onlyAnOfficeOfThisMachineIsAsked_data()
{
    QTest::addColumn<QString>("machine");
    QTest::addColumn<bool>("asked");
    QTest::newRow("this machine") << QSysInfo::machineHostName() << true;
    QTest::newRow("another machine") << QStringLiteral("elsewhere.example") << false;
    QTest::newRow("none said") << QString() << false;
}

void TestWordClientHelper::onlyAnOfficeOfThisMachineIsAsked()
{
    // Any X client may name the office's pid in a window of its own: the
    // office is asked to open a pipe only for a window of this machine.
    QFETCH(QString, machine);
    QFETCH(bool, asked);
    const QList<qint64> pids = m_office->officePids();
    QVERIFY(!pids.isEmpty());
    const quintptr window = makeWindow("libreoffice-writer", 0);
    const uint32_t pid = uint32_t(pids.first());
    setProperty(window, "_NET_WM_PID", XCB_ATOM_CARDINAL, 32,
                QByteArray(reinterpret_cast<const char*>(&pid), sizeof(pid)));
    if (!machine.isNull())
        setProperty(window, "WM_CLIENT_MACHINE", XCB_ATOM_STRING, 8, machine.toLatin1());

    WordClientHelper bridge;
    const QString pipe = freshPipeName();
    bridge.setPipeName(pipe);
    bridge.focusChanged(handleFromWindowId(window));
    const QString socket = OfficePipe::socketPath(pipe);
    if (asked) {
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 15000);
    } else {
        QTest::qWait(3000);
        QVERIFY(!QFileInfo::exists(socket));
        QVERIFY(!bridge.isConnected());
    }
}

void TestWordClientHelper::squattedPipeGetsNoByte_data()
{
    QTest::addColumn<bool>("otherUser");
    QTest::newRow("socket of another user") << true;
    QTest::newRow("socket of this user, no office") << false;
}

void TestWordClientHelper::squattedPipeGetsNoByte()
{
    // Someone listens where the office would open this user's pipe. The bridge
    // sends it nothing, stays responsive, and attaches once the pipe is free
    // and the window is activated again.
    QFETCH(bool, otherUser);
    if (otherUser && !PipeSquatter::canActAsOtherUser())
        QSKIP("needs root to create a socket as another user");
    const HWND editor = editorForOwnBridge(QStringLiteral("占用的管道。"));
    QVERIFY(editor);

    const QString pipe = freshPipeName();
    PipeSquatter squatter;
    QVERIFY2(squatter.start(QStringLiteral("/tmp/OSL_PIPE_%1_%2").arg(::getuid()).arg(pipe), otherUser),
             qPrintable(squatter.error()));
    WordClientHelper bridge;
    bridge.setPipeName(pipe);

    // The event loop keeps turning while the bridge tries the pipe.
    LoopWatch loop;
    bridge.focusChanged(editor);
    QTest::qWait(8000);
    QVERIFY2(loop.longestGap() < 1000, qPrintable(QString::number(loop.longestGap())));
    QVERIFY(!bridge.isConnected());
    QVERIFY(bridge.wrapper(editor) && !bridge.wrapper(editor)->isAttached());
    QVERIFY(bridge.getAllPageText(editor).isEmpty());

    const PipeSquatter::Report report = squatter.stop();
    QCOMPARE(report.bytes, 0);
    if (otherUser)
        QCOMPARE(report.connections, 0);

    // The office keeps the request it could not serve; asked anew in other
    // words, it opens the pipe, and the bridge attaches on the next activation.
    QCOMPARE(QProcess::execute(QStandardPaths::findExecutable("soffice"),
                               {QStringLiteral("--accept=pipe,name=%1;urp").arg(pipe),
                                "-env:UserInstallation=" + m_office->profileUrl()}),
             0);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(OfficePipe::socketPath(pipe)), 15000);
    QVERIFY(activateUntilAttached(bridge, editor));
    QCOMPARE(bridge.getAllPageText(editor), QStringLiteral("占用的管道。"));
}

void TestWordClientHelper::stoppedOfficeIsGivenUp()
{
    // The office listens but does not answer (stopped): the bridge waits for
    // it a bounded time, then gives up until the window is activated again,
    // when the office (running again) is attached.
    const HWND editor = editorForOwnBridge(QStringLiteral("停住的办公软件。"));
    QVERIFY(editor);
    const QString pipe = freshPipeName();
    {
        WordClientHelper first;
        first.setPipeName(pipe);
        first.focusChanged(editor);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(OfficePipe::socketPath(pipe)), 15000);
    }

    const QList<qint64> pids = m_office->officePids();
    QVERIFY(!pids.isEmpty());
    for (qint64 pid : pids)
        ::kill(pid_t(pid), SIGSTOP);
    WordClientHelper bridge;
    bridge.setPipeName(pipe);
    // The handshake waits on a thread of its own: the event loop keeps
    // turning while the stopped office is tried, and given up.
    LoopWatch loop;
    bridge.focusChanged(editor);
    QTest::qWait(4000);
    const bool connectedWhileStopped = bridge.isConnected();
    for (qint64 pid : pids)
        ::kill(pid_t(pid), SIGCONT);
    QVERIFY2(loop.longestGap() < 1000, qPrintable(QString::number(loop.longestGap())));
    QVERIFY(!connectedWhileStopped);

    QVERIFY(activateUntilAttached(bridge, editor));
    QCOMPARE(bridge.getAllPageText(editor), QStringLiteral("停住的办公软件。"));
}

QTEST_MAIN(TestWordClientHelper)
#include "TestWordClientHelper.moc"
