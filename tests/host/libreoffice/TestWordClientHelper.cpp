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

#include <QSignalSpy>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>

class TestWordClientHelper : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void recognisesAttachesAndForwards();
    void dialogLeadsToItsDocument();
    void marksThroughTheBridge();
    // Last: it kills the office.
    void nextOfficeAfterTheFirstGoes();

private:
    quintptr writerWindow(const css::uno::Reference<css::frame::XFrame>& frame);
    quintptr makeWindow(const char* wmClass, quintptr transientFor);
    // How many pixels of window are drawn in the mark's red.
    int markPixels(quintptr window);

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
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(m_x, xcb_get_geometry(m_x, xcb_window_t(window)), nullptr);
    if (!geometry)
        return -1;
    xcb_get_image_reply_t* image = xcb_get_image_reply(
        m_x,
        xcb_get_image(m_x, XCB_IMAGE_FORMAT_Z_PIXMAP, xcb_window_t(window), 0, 0, geometry->width, geometry->height,
                      ~0u),
        nullptr);
    free(geometry);
    if (!image)
        return -1;
    // 24-bit visuals: four bytes a pixel, blue, green, red.
    const uint8_t* data = xcb_get_image_data(image);
    const int length = xcb_get_image_data_length(image);
    int count = 0;
    for (int i = 0; i + 3 < length; i += 4) {
        if (data[i + 2] >= 200 && data[i + 1] <= 40 && data[i] <= 40)
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
    QTRY_VERIFY_WITH_TIMEOUT(m_bridge->isConnected(), 10000);
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
    QCOMPARE(markPixels(m_window), 0);
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
    QTRY_VERIFY_WITH_TIMEOUT(markPixels(m_window) > 20, 10000);
    // Next selects the error (tips are off), Previous finds it again.
    document->range(0, 0)->select();
    QVERIFY(m_bridge->nextError(editor));
    QCOMPARE(application->selection()->range()->text(), QStringLiteral("错别字"));

    m_bridge->clearErrors(editor);
    QVERIFY(!m_bridge->hasData(editor));
    QVERIFY(!document->range(at, at + 3)->isMarked());
    QVERIFY(!document->isModified());
    QTRY_COMPARE_WITH_TIMEOUT(markPixels(m_window), 0, 10000);
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
    QVERIFY(window);
    const HWND second = handleFromWindowId(window);
    m_bridge->focusChanged(second);
    QTRY_VERIFY_WITH_TIMEOUT(m_bridge->isConnected(), 10000);
    QTRY_VERIFY(m_bridge->wrapper(second) && m_bridge->wrapper(second)->isAttached());
    QCOMPARE(m_bridge->getAllPageText(second), QStringLiteral("第二个办公软件。"));
}

QTEST_MAIN(TestWordClientHelper)
#include "TestWordClientHelper.moc"
