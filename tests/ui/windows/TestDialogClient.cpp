#include "FakeClientHelper.h"
#include "FakeService.h"
#include "ModalWatcher.h"
#include "UrlRecorder.h"
#include "client/CConfig.h"
#include "client/Revisor.h"
#include "windows/DialogClient.h"

#include <QtTest>
#include <QtWidgets>

namespace {

const HWND kWriterA = handleFromWindowId(0x2a00007);
const HWND kWriterB = handleFromWindowId(0x3c00011);
const QString kTitleA = QStringLiteral("报告.odt - LibreOffice Writer");
const QString kTitleB = QStringLiteral("notes.odt - LibreOffice Writer");

// A check reply with one finding per wrong text.
QByteArray checkReply(const QStringList& wrongTexts)
{
    QJsonArray errors;
    for (const QString& text : wrongTexts) {
        errors.append(QJsonObject{{"text", text},
                                  {"type", 1},
                                  {"spans", QJsonArray{QJsonArray{0, text.size() - 1}}},
                                  {"suggestions", QJsonArray{QJsonObject{{"text", "x"}, {"count", 1}}}}});
    }
    const QJsonObject reply{{"error_code", ""}, {"error_msg", ""}, {"errors", errors}};
    return QJsonDocument(reply).toJson(QJsonDocument::Compact);
}

// The text a rich-text label shows.
QString shownText(const QLabel* label)
{
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText();
}

} // namespace

// The tool window against the fake bridge and the fake checking service.
class TestDialogClient : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsDetached();
    void widgets_data();
    void widgets();
    void tabOrder();
    void detectionStartsOnlyWhenAsked();
    void vipMemberAndLogout();
    void loginThroughUserButton();
    void checkType_data();
    void checkType();
    void foldStoresState();
    void pinReshowsWindow();
    void aboutShowsOneDialog();
    void webPages_data();
    void webPages();
    void bridgeCommandsUseEditorHandle();
    void nothingWithoutBridge();
    void editorTitleIsPlainText();
    void emptyPageText_data();
    void emptyPageText();
    void findingsGoToCheckingDocument();
    void runKeepsItsDocumentDuringLogin();
    void emptyTextKeepsRunningCheck();
    void nextPagesLabelKeepsStartupCount();
    void closeStoresPositionAndStopsDetection();
    void checkAsYouTypeSwitchAndLine();

private:
    void logIn(bool vip);
    DialogClient* newWindow(bool withBridge = true);
    template <typename T>
    T* child(const char* name) const
    {
        return m_window->findChild<T*>(QLatin1String(name));
    }

    FakeService* m_service = nullptr;
    ModalWatcher* m_watcher = nullptr;
    UrlRecorder m_urls;
    FakeClientHelper* m_bridge = nullptr;
    DialogClient* m_window = nullptr;
};

void TestDialogClient::initTestCase()
{
    m_service = new FakeService(this);
    QVERIFY(m_service->listen());
    qputenv("QUILLET_SERVICE_URL", m_service->baseUrl().toUtf8());
    // The client reads the stored login when it is created, on first use.
    getConfig()->setValueString("user_name", QStringLiteral("小明"));
    getConfig()->setValueString("access_token", "stored-token");
    getConfig()->setValueBool("is_vip", true);
    QVERIFY(getRevisor()->isVIP());
    m_service->setDefault(FakeService::checkPath(), FakeReply::json(checkReply({})));
    m_watcher = new ModalWatcher(this);
    QDesktopServices::setUrlHandler("http", &m_urls, "open");
}

void TestDialogClient::init()
{
    m_service->setDefault(FakeService::authPath(), FakeReply::json(m_service->loginReply("token", 500, true)));
    m_service->clearRequests();
    m_watcher->clear();
    m_watcher->setDialogHandler(nullptr);
    m_urls.urls.clear();
    Revisor* revisor = getRevisor();
    revisor->check_tong_yin = 1;
    revisor->check_xing_jin = 0;
    revisor->check_min_gan_ci = 0;
    revisor->check_skip = 0;
}

void TestDialogClient::cleanup()
{
    delete m_window;
    m_window = nullptr;
    delete m_bridge;
    m_bridge = nullptr;
    getRevisor()->clearCheckData();
}

void TestDialogClient::logIn(bool vip)
{
    m_service->setDefault(FakeService::authPath(), FakeReply::json(m_service->loginReply("token", 500, vip)));
    QVERIFY(getRevisor()->login(QStringLiteral("小明"), "secret", 0));
    QCOMPARE(getRevisor()->isVIP(), vip);
    m_service->clearRequests();
}

DialogClient* TestDialogClient::newWindow(bool withBridge)
{
    m_window = new DialogClient(nullptr);
    if (withBridge) {
        m_bridge = new FakeClientHelper;
        m_window->setClientHelper(m_bridge, true);
    }
    return m_window;
}

void TestDialogClient::startsDetached()
{
    newWindow();
    QVERIFY(!child<QToolButton>("btnCheckCurrentPage")->isEnabled());
    QVERIFY(!child<QToolButton>("btnCheckNext10Pages")->isEnabled());
    QVERIFY(!child<QToolButton>("btnRemoveAll")->isEnabled());
    QVERIFY(!child<QToolButton>("btnPrevious")->isEnabled());
    QVERIFY(!child<QToolButton>("btnNext")->isEnabled());
    QCOMPARE(child<QLabel>("labelMsg")->text(), QStringLiteral("Can't attach LibreOffice Writer!"));
    QVERIFY(child<QToolButton>("btnPin")->isChecked());
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Revisor 2.2"));

    const Qt::WindowFlags flags = m_window->windowFlags();
    for (Qt::WindowType flag :
         {Qt::Dialog, Qt::WindowMinimizeButtonHint, Qt::WindowStaysOnTopHint, Qt::WindowCloseButtonHint})
        QVERIFY(flags.testFlag(flag));
    // An override-redirect window could not be moved or closed under an X11 window manager.
    QVERIFY(!flags.testFlag(Qt::BypassWindowManagerHint));
}

void TestDialogClient::widgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("parentGroup");

    QTest::newRow("check current") << "btnCheckCurrentPage"
                                   << "QToolButton"
                                   << "Check Current Page"
                                   << "groupBox";
    QTest::newRow("check next") << "btnCheckNext10Pages"
                                << "QToolButton"
                                << "Check Next 50 Pages"
                                << "groupBox";
    QTest::newRow("remove all") << "btnRemoveAll"
                                << "QToolButton"
                                << "Remove All"
                                << "groupBox_2";
    QTest::newRow("previous") << "btnPrevious"
                              << "QToolButton"
                              << "Previous"
                              << "groupBox_2";
    QTest::newRow("next") << "btnNext"
                          << "QToolButton"
                          << "Next"
                          << "groupBox_2";
    QTest::newRow("expand") << "btnExpand"
                            << "QToolButton"
                            << ""
                            << "widget_8";
    QTest::newRow("check type") << "label_2"
                                << "QLabel"
                                << "CheckType"
                                << "groupSetting";
    QTest::newRow("check skip") << "cbxCheckSkip"
                                << "QCheckBox"
                                << "Check Skip"
                                << "groupSetting";
    QTest::newRow("error tip") << "cbxShowErrorTip"
                               << "QCheckBox"
                               << "Show Error Tip"
                               << "groupSetting";
    QTest::newRow("user") << "btnUser"
                          << "QToolButton" << QStringLiteral("小明 (VIP)") << "groupTools";
    QTest::newRow("login") << "btnLogin"
                           << "QToolButton"
                           << "Logout"
                           << "groupTools";
    QTest::newRow("report") << "btnReportError"
                            << "QToolButton"
                            << "Report Error"
                            << "groupTools";
    QTest::newRow("contact") << "btnContact"
                             << "QToolButton"
                             << "Contact"
                             << "groupTools";
    QTest::newRow("update") << "btnUpdate"
                            << "QToolButton"
                            << "Update"
                            << "groupTools";
    QTest::newRow("web") << "btnWeb"
                         << "QToolButton"
                         << "Web"
                         << "groupTools";
    QTest::newRow("about") << "btnAbout"
                           << "QToolButton"
                           << "About"
                           << "groupTools";
    QTest::newRow("pin") << "btnPin"
                         << "QToolButton"
                         << ""
                         << "widget_9";
}

void TestDialogClient::widgets()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, text);
    QFETCH(QString, parentGroup);

    logIn(true);
    newWindow();
    QWidget* widget = m_window->findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->metaObject()->className(), className.toLatin1());
    QCOMPARE(widget->property("text").toString(), text);
    QVERIFY(m_window->findChild<QWidget*>(parentGroup)->isAncestorOf(widget));
    if (auto* button = qobject_cast<QToolButton*>(widget))
        QVERIFY(button->autoRaise());
}

void TestDialogClient::tabOrder()
{
    newWindow();
    const QStringList expected{"btnCheckCurrentPage",
                               "btnCheckNext10Pages",
                               "btnRemoveAll",
                               "btnPrevious",
                               "btnNext",
                               "cmbType",
                               "btnUser",
                               "btnLogin",
                               "btnUpdate"};
    QStringList order;
    QWidget* widget = child<QWidget>("btnCheckCurrentPage");
    for (int i = 0; i < 100 && order.size() < expected.size(); ++i, widget = widget->nextInFocusChain()) {
        if (expected.contains(widget->objectName()) && !order.contains(widget->objectName()))
            order.append(widget->objectName());
    }
    QCOMPARE(order, expected);
    auto* type = child<QComboBox>("cmbType");
    QCOMPARE(type->count(), 3);
    QCOMPARE(type->itemText(0), QStringLiteral("Tong Yin"));
    QCOMPARE(type->itemText(1), QStringLiteral("Xing Jin"));
    QCOMPARE(type->itemText(2), QStringLiteral("Min Gan Ci"));
    QCOMPARE(type->currentIndex(), 0);
}

void TestDialogClient::detectionStartsOnlyWhenAsked()
{
    m_window = new DialogClient(nullptr);
    m_bridge = new FakeClientHelper;
    m_window->setClientHelper(m_bridge, false);
    m_bridge->announce(kTitleA, kWriterA);
    QVERIFY(m_bridge->callsOf("beginDetectEditor").isEmpty());
    QCOMPARE(child<QLabel>("labelMsg")->text(), QStringLiteral("Can't attach LibreOffice Writer!"));

    m_window->setClientHelper(m_bridge, true);
    QCOMPARE(m_bridge->callsOf("beginDetectEditor").size(), 1);
    m_bridge->announce(kTitleA, kWriterA);
    QCOMPARE(child<QLabel>("labelMsg")->text(), kTitleA.toHtmlEscaped());
    QVERIFY(child<QToolButton>("btnCheckCurrentPage")->isEnabled());
    QVERIFY(child<QToolButton>("btnCheckNext10Pages")->isEnabled());
}

void TestDialogClient::vipMemberAndLogout()
{
    logIn(true);
    newWindow();
    QCOMPARE(child<QToolButton>("btnUser")->text(), QStringLiteral("小明 (VIP)"));
    QCOMPARE(child<QToolButton>("btnLogin")->text(), QStringLiteral("Logout"));

    child<QToolButton>("btnLogin")->click();
    QCOMPARE(child<QToolButton>("btnUser")->text(), QStringLiteral("User"));
    QCOMPARE(child<QToolButton>("btnLogin")->text(), QStringLiteral("Login"));
    QCOMPARE(m_watcher->messages(), QStringList{"Logout succeed"});
    QCOMPARE(getConfig()->getValueString("access_token", "x"), QString());
}

void TestDialogClient::loginThroughUserButton()
{
    getRevisor()->logout();
    newWindow();
    QCOMPARE(child<QToolButton>("btnUser")->text(), QStringLiteral("User"));

    // Logged out, "User" asks for a login; the dialog logs in itself.
    m_service->setDefault(FakeService::authPath(), FakeReply::json(m_service->loginReply("fresh", 500, false)));
    m_watcher->setDialogHandler([](QDialog* dialog) {
        QCOMPARE(dialog->findChild<QLineEdit*>("editUserName")->text(), QString());
        dialog->findChild<QLineEdit*>("editUserName")->setText(QStringLiteral("小红"));
        dialog->findChild<QLineEdit*>("editPassword")->setText("pw");
        dialog->findChild<QPushButton*>("btnLogin")->click();
    });
    child<QToolButton>("btnUser")->click();
    QCOMPARE(m_watcher->dialogsSeen(), 1);
    QCOMPARE(child<QToolButton>("btnUser")->text(), QStringLiteral("小红"));
    QCOMPARE(child<QToolButton>("btnLogin")->text(), QStringLiteral("Logout"));
    QVERIFY(m_urls.urls.isEmpty());

    // Logged in, it opens the account page instead.
    child<QToolButton>("btnUser")->click();
    QCOMPARE(m_watcher->dialogsSeen(), 1);
    QCOMPARE(m_urls.urls.size(), 1);
    QCOMPARE(m_urls.urls.first().path(), QStringLiteral("/account/"));

    // A cancelled login changes nothing.
    getRevisor()->logout();
    m_watcher->setDialogHandler([](QDialog* dialog) { dialog->reject(); });
    child<QToolButton>("btnLogin")->click();
    QCOMPARE(m_watcher->dialogsSeen(), 2);
    QCOMPARE(child<QToolButton>("btnLogin")->text(), QStringLiteral("Login"));
}

void TestDialogClient::checkType_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("tongYin");
    QTest::addColumn<int>("xingJin");
    QTest::addColumn<int>("minGanCi");
    QTest::addColumn<bool>("skipEnabled");

    QTest::newRow("xing jin") << 0 << 1 << 0 << 1 << 0 << false;
    QTest::newRow("min gan ci") << 0 << 2 << 0 << 0 << 1 << false;
    QTest::newRow("back to tong yin") << 2 << 0 << 1 << 0 << 0 << true;
    QTest::newRow("no item keeps options") << 1 << -1 << 0 << 1 << 0 << false;
}

void TestDialogClient::checkType()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, tongYin);
    QFETCH(int, xingJin);
    QFETCH(int, minGanCi);
    QFETCH(bool, skipEnabled);

    newWindow();
    auto* type = child<QComboBox>("cmbType");
    auto* skip = child<QCheckBox>("cbxCheckSkip");
    QVERIFY(!skip->isChecked());
    QTest::mouseClick(skip, Qt::LeftButton, {}, QPoint(5, skip->height() / 2));
    QVERIFY(skip->isChecked());
    QCOMPARE(getRevisor()->check_skip, 1);

    type->setCurrentIndex(from);
    type->setCurrentIndex(to);
    Revisor* revisor = getRevisor();
    QCOMPARE(revisor->check_tong_yin, tongYin);
    QCOMPARE(revisor->check_xing_jin, xingJin);
    QCOMPARE(revisor->check_min_gan_ci, minGanCi);
    QCOMPARE(skip->isEnabled(), skipEnabled);
    // Greyed out or not, the box keeps its tick and the option its value.
    QVERIFY(skip->isChecked());
    QCOMPARE(revisor->check_skip, 1);
}

void TestDialogClient::foldStoresState()
{
    newWindow();
    auto* expand = child<QToolButton>("btnExpand");
    const bool shown = !child<QGroupBox>("groupTools")->isHidden();

    expand->click();
    QCOMPARE(child<QGroupBox>("groupTools")->isHidden(), shown);
    QCOMPARE(child<QGroupBox>("groupSetting")->isHidden(), shown);
    QCOMPARE(getConfig()->getValueBool("DialogClientExpand", shown), !shown);
    QCOMPARE(m_window->layout()->sizeConstraint(), QLayout::SetFixedSize);

    expand->click();
    QCOMPARE(child<QGroupBox>("groupTools")->isHidden(), !shown);
    QCOMPARE(getConfig()->getValueBool("DialogClientExpand", !shown), shown);
}

void TestDialogClient::pinReshowsWindow()
{
    newWindow();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    auto* pin = child<QToolButton>("btnPin");

    pin->click();
    QVERIFY(!pin->isChecked());
    QVERIFY(!m_window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(m_window->isVisible());

    pin->click();
    QVERIFY(pin->isChecked());
    QVERIFY(m_window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(m_window->isVisible());
}

void TestDialogClient::aboutShowsOneDialog()
{
    newWindow();
    const auto aboutBoxes = [] {
        QList<QWidget*> boxes;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->inherits("DialogAbout"))
                boxes.append(widget);
        }
        return boxes;
    };
    QVERIFY(aboutBoxes().isEmpty());
    child<QToolButton>("btnAbout")->click();
    QCOMPARE(aboutBoxes().size(), 1);
    QWidget* about = aboutBoxes().first();
    QVERIFY(about->isVisible());
    QVERIFY(!about->isModal());
    about->close();
    child<QToolButton>("btnAbout")->click();
    QCOMPARE(aboutBoxes(), QList<QWidget*>{about});
    QVERIFY(about->isVisible());
    about->close();
}

void TestDialogClient::webPages_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("path");
    QTest::newRow("contact") << "btnContact"
                             << "/contact/";
    QTest::newRow("update") << "btnUpdate"
                            << "/update/";
    QTest::newRow("web") << "btnWeb"
                         << "/";
}

void TestDialogClient::webPages()
{
    QFETCH(QString, button);
    QFETCH(QString, path);
    newWindow();
    m_window->findChild<QToolButton*>(button)->click();
    QCOMPARE(m_urls.urls.size(), 1);
    QCOMPARE(m_urls.urls.first().path(), path);
    QCOMPARE(QUrlQuery(m_urls.urls.first()).queryItemValue("client_ver"), QStringLiteral("2.2"));
}

void TestDialogClient::bridgeCommandsUseEditorHandle()
{
    newWindow();
    m_bridge->announce(kTitleA, kWriterA);
    m_bridge->announce(kTitleB, kWriterB);
    m_bridge->clearCalls();

    child<QToolButton>("btnReportError")->click();
    child<QToolButton>("btnPrevious")->click(); // disabled: no findings
    auto* tip = child<QCheckBox>("cbxShowErrorTip");
    QTest::mouseClick(tip, Qt::LeftButton, {}, QPoint(5, tip->height() / 2));
    QVERIFY(!tip->isChecked());

    const QList<FakeClientHelper::Call> calls = m_bridge->calls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls.at(0).name, QStringLiteral("reportError"));
    QCOMPARE(calls.at(0).hWnd, kWriterB);
    QCOMPARE(calls.at(1).name, QStringLiteral("enableErrorTip"));
    QCOMPARE(calls.at(1).number, 0);
}

void TestDialogClient::nothingWithoutBridge()
{
    newWindow(false);
    m_window->editorDetected(kTitleA, kWriterA);
    QCOMPARE(child<QLabel>("labelMsg")->text(), kTitleA.toHtmlEscaped());
    child<QToolButton>("btnCheckCurrentPage")->click();
    child<QToolButton>("btnCheckNext10Pages")->click();
    child<QToolButton>("btnReportError")->click();
    child<QToolButton>("btnRemoveAll")->click();
    CHECK_DATAS datas{std::make_shared<CCheckData>()};
    m_window->checkDone(datas);
    QCOMPARE(child<QLabel>("labelMsg")->text(), kTitleA.toHtmlEscaped());
    QVERIFY(m_service->requests().isEmpty());
    QVERIFY(m_watcher->messages().isEmpty());
}

void TestDialogClient::editorTitleIsPlainText()
{
    newWindow();
    const QString title = QStringLiteral("<b>a</b> & <span style='color:red;'>b</span>.odt - LibreOffice Writer");
    m_bridge->announce(title, kWriterA);
    QCOMPARE(shownText(child<QLabel>("labelMsg")), title);
}

void TestDialogClient::emptyPageText_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("message");
    QTest::newRow("current page") << "btnCheckCurrentPage"
                                  << "Can't Get Current Page Text from LibreOffice Writer";
    QTest::newRow("next pages") << "btnCheckNext10Pages"
                                << "Can't Get All Page Text from LibreOffice Writer";
}

void TestDialogClient::emptyPageText()
{
    QFETCH(QString, button);
    QFETCH(QString, message);
    logIn(false);
    newWindow();
    m_bridge->announce(kTitleA, kWriterA);
    m_window->findChild<QToolButton*>(button)->click();
    QCOMPARE(m_watcher->messages(), QStringList{message});
    QVERIFY(m_service->requests().isEmpty());
    QVERIFY(!getRevisor()->isBusy());
}

void TestDialogClient::findingsGoToCheckingDocument()
{
    logIn(false);
    newWindow();
    m_bridge->setCurrentPageText(kWriterA, QStringLiteral("我们以经到了，他门也来了。在坐的各位。"));
    m_bridge->announce(kTitleA, kWriterA);
    FakeReply reply =
        FakeReply::json(checkReply({QStringLiteral("以经"), QStringLiteral("他门"), QStringLiteral("在坐")}));
    reply.delayMs = 200;
    m_service->enqueue(FakeService::checkPath(), reply);

    child<QToolButton>("btnCheckCurrentPage")->click();
    QTRY_COMPARE(m_service->requestsTo(FakeService::checkPath()).size(), 1);
    // The user moves to another document while the run is going.
    QVERIFY(m_bridge->callsOf("showErrors").isEmpty());
    m_bridge->announce(kTitleB, kWriterB);
    QTRY_COMPARE(m_bridge->callsOf("showErrors").size(), 1);
    QCOMPARE(m_bridge->callsOf("showErrors").first().hWnd, kWriterA);
    QCOMPARE(m_bridge->keptTexts(kWriterA),
             (QStringList{QStringLiteral("以经"), QStringLiteral("他门"), QStringLiteral("在坐")}));

    auto* message = child<QLabel>("labelMsg");
    QCOMPARE(message->text(), QStringLiteral("<span style='color:red;'>Found 3 Errors</span>"));
    // Document B holds nothing: its error buttons stay off.
    QVERIFY(!child<QToolButton>("btnRemoveAll")->isEnabled());

    m_bridge->announce(kTitleA, kWriterA);
    QCOMPARE(message->text(), kTitleA + QStringLiteral(" <span style='color:red;'>( 3 Errors ) </span>"));
    for (const char* name : {"btnRemoveAll", "btnPrevious", "btnNext"})
        QVERIFY2(child<QToolButton>(name)->isEnabled(), name);

    m_bridge->clearCalls();
    child<QToolButton>("btnNext")->click();
    child<QToolButton>("btnPrevious")->click();
    child<QToolButton>("btnRemoveAll")->click();
    QCOMPARE(m_bridge->callsOf("nextError").first().hWnd, kWriterA);
    QCOMPARE(m_bridge->callsOf("prevError").first().hWnd, kWriterA);
    QCOMPARE(m_bridge->callsOf("clearErrors").first().hWnd, kWriterA);
    for (const char* name : {"btnRemoveAll", "btnPrevious", "btnNext"})
        QVERIFY2(!child<QToolButton>(name)->isEnabled(), name);
    QCOMPARE(message->text(), kTitleA);

    // An editor that cannot show the marks says why, after the count.
    m_bridge->setMarksMessage(QStringLiteral("Switch on <Automatic Spell Checking>."));
    m_service->enqueue(FakeService::checkPath(), FakeReply::json(checkReply({QStringLiteral("以经")})));
    child<QToolButton>("btnCheckCurrentPage")->click();
    QTRY_COMPARE(message->text(), QStringLiteral("<span style='color:red;'>Found 1 Errors</span> Switch on "
                                                 "&lt;Automatic Spell Checking&gt;."));
}

void TestDialogClient::runKeepsItsDocumentDuringLogin()
{
    logIn(false);
    newWindow();
    m_bridge->setCurrentPageText(kWriterA, QStringLiteral("我们以经到了。"));
    m_bridge->announce(kTitleA, kWriterA);
    // The login before the run takes a while; meanwhile another editor takes the focus.
    FakeReply slowLogin = FakeReply::json(m_service->loginReply("token", 500, false));
    slowLogin.delayMs = 300;
    m_service->enqueue(FakeService::authPath(), slowLogin);
    m_service->enqueue(FakeService::checkPath(), FakeReply::json(checkReply({QStringLiteral("以经")})));
    QTimer::singleShot(50, m_bridge, [this] { m_bridge->announce(kTitleB, kWriterB); });

    child<QToolButton>("btnCheckCurrentPage")->click();
    QTRY_COMPARE(m_bridge->callsOf("showErrors").size(), 1);
    QCOMPARE(m_bridge->callsOf("getCurrentPageText").first().hWnd, kWriterA);
    QCOMPARE(m_bridge->callsOf("showErrors").first().hWnd, kWriterA);
    QVERIFY(m_bridge->keptTexts(kWriterB).isEmpty());
}

void TestDialogClient::emptyTextKeepsRunningCheck()
{
    logIn(false);
    newWindow();
    m_bridge->setCurrentPageText(kWriterA, QStringLiteral("我们以经到了。"));
    m_bridge->announce(kTitleA, kWriterA);
    FakeReply slowCheck = FakeReply::json(checkReply({QStringLiteral("以经")}));
    slowCheck.delayMs = 300;
    m_service->enqueue(FakeService::checkPath(), slowCheck);

    child<QToolButton>("btnCheckCurrentPage")->click();
    QTRY_COMPARE(m_service->requestsTo(FakeService::checkPath()).size(), 1);
    QVERIFY(m_bridge->callsOf("showErrors").isEmpty());
    // Document B yields no text: a message, no run, and A's run still ends in A.
    m_bridge->announce(kTitleB, kWriterB);
    child<QToolButton>("btnCheckCurrentPage")->click();
    QCOMPARE(m_watcher->messages(), QStringList{"Can't Get Current Page Text from LibreOffice Writer"});
    QTRY_COMPARE(m_bridge->callsOf("showErrors").size(), 1);
    QCOMPARE(m_bridge->callsOf("showErrors").first().hWnd, kWriterA);
    QCOMPARE(m_service->requestsTo(FakeService::checkPath()).size(), 1);
}

void TestDialogClient::nextPagesLabelKeepsStartupCount()
{
    getRevisor()->logout();
    newWindow();
    auto* next = child<QToolButton>("btnCheckNext10Pages");
    QCOMPARE(next->text(), QStringLiteral("Check Next 10 Pages"));

    logIn(true);
    m_bridge->setNextPageText(kWriterA, QStringLiteral("第一页。第二页。"));
    m_bridge->announce(kTitleA, kWriterA);
    // Collocation checking switched on, then greyed out by another kind of check.
    auto* skip = child<QCheckBox>("cbxCheckSkip");
    QTest::mouseClick(skip, Qt::LeftButton, {}, QPoint(5, skip->height() / 2));
    child<QComboBox>("cmbType")->setCurrentIndex(1);
    next->click();
    QCOMPARE(next->text(), QStringLiteral("Check Next 10 Pages"));
    QCOMPARE(m_bridge->callsOf("getNextPageText").size(), 1);
    QCOMPARE(m_bridge->callsOf("getNextPageText").first().number, 50);
    QCOMPARE(m_bridge->callsOf("getNextPageText").first().hWnd, kWriterA);
    // The check options and the text went out with the request.
    QTRY_COMPARE(m_service->requestsTo(FakeService::checkPath()).size(), 1);
    const QUrlQuery sent(QString::fromUtf8(m_service->requestsTo(FakeService::checkPath()).first().body.mid(1)));
    QCOMPARE(sent.queryItemValue("text", QUrl::FullyDecoded), QStringLiteral("第一页。第二页。"));
    QCOMPARE(sent.queryItemValue("check_xing_jin"), QStringLiteral("1"));
    QCOMPARE(sent.queryItemValue("check_tong_yin"), QStringLiteral("0"));
    QCOMPARE(sent.queryItemValue("check_skip"), QStringLiteral("1"));
}

void TestDialogClient::closeStoresPositionAndStopsDetection()
{
    newWindow();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_window->move(123, 45);
    QVERIFY(m_window->close());
    QCOMPARE(getConfig()->getValueInt("DialogClientX", -1), 123);
    QCOMPARE(getConfig()->getValueInt("DialogClientY", -1), 45);
    QCOMPARE(m_bridge->callsOf("endDetectEditor").size(), 1);
}

void TestDialogClient::checkAsYouTypeSwitchAndLine()
{
    // On by default, handed to the bridge before detection starts.
    getConfig()->setValueBool(QStringLiteral("check_as_you_type"), true);
    newWindow();
    auto* box = child<QCheckBox>("cbxCheckAsYouType");
    QVERIFY(box->isChecked());
    QCOMPARE(m_bridge->callsOf("enableCheckAsYouType").size(), 1);
    QCOMPARE(m_bridge->callsOf("enableCheckAsYouType").first().number, 1);

    // The line: the document's count as its paragraphs are checked, and why
    // checking paused, as plain text; another document's news is not shown.
    m_bridge->announce(kTitleA, kWriterA);
    auto* line = child<QLabel>("labelMsg");
    m_bridge->showErrors({std::make_shared<CCheckData>(), std::make_shared<CCheckData>()}, kWriterA);
    emit m_bridge->findingsChanged(kWriterA);
    QVERIFY2(line->text().contains("( 2 Errors )"), qPrintable(line->text()));
    const QString paused = QStringLiteral("Checking as you type paused: <b>offline</b>");
    emit m_bridge->typingStatus(kWriterA, paused);
    QVERIFY2(line->text().contains(paused.toHtmlEscaped()), qPrintable(line->text()));
    QCOMPARE(line->toolTip(), paused);
    emit m_bridge->typingStatus(handleFromWindowId(0x77), QStringLiteral("other"));
    QVERIFY(!line->text().contains("other"));
    emit m_bridge->typingStatus(kWriterA, QString());
    QVERIFY(!line->text().contains("paused"));
    QVERIFY(m_watcher->messages().isEmpty());

    // Switched off: the bridge is told, and the choice is kept for the next start.
    box->click();
    QCOMPARE(m_bridge->callsOf("enableCheckAsYouType").last().number, 0);
    QCOMPARE(getConfig()->getValueBool(QStringLiteral("check_as_you_type"), true), false);
    cleanup();
    newWindow();
    QVERIFY(!child<QCheckBox>("cbxCheckAsYouType")->isChecked());
    QCOMPARE(m_bridge->callsOf("enableCheckAsYouType").last().number, 0);
    getConfig()->setValueBool(QStringLiteral("check_as_you_type"), true);
}

QTEST_MAIN(TestDialogClient)
#include "TestDialogClient.moc"
