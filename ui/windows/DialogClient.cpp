#include "windows/DialogClient.h"
#include "ui_DialogClient.h"

#include "bridge/ClientHelper.h"
#include "client/CConfig.h"
#include "client/Revisor.h"
#include "windows/DialogAbout.h"
#include "windows/DialogLogin.h"
#include "windows/WindowFlags.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QShowEvent>
#include <QToolButton>

namespace {

const char kKeyX[] = "DialogClientX";
const char kKeyY[] = "DialogClientY";
const char kKeyExpand[] = "DialogClientExpand";
const char kKeyCheckAsYouType[] = "check_as_you_type";

// Position and fold state are restored once per process, on the first show.
bool s_firstShow = true;

// The messages that name the word processor: Word or WPS on Windows,
// LibreOffice Writer elsewhere. Both sets stay in the catalogue.
#ifdef Q_OS_WIN
const char* const kNoEditor = QT_TRANSLATE_NOOP("DialogClient", "Can't attach WPS or Word!");
const char* const kNoCurrentPageText = QT_TRANSLATE_NOOP("DialogClient", "Can't Get Current Page Text");
const char* const kNoPagesText = QT_TRANSLATE_NOOP("DialogClient", "Can't Get All Page Text");
#else
const char* const kNoEditor = QT_TRANSLATE_NOOP("DialogClient", "Can't attach LibreOffice Writer!");
const char* const kNoCurrentPageText =
    QT_TRANSLATE_NOOP("DialogClient", "Can't Get Current Page Text from LibreOffice Writer");
const char* const kNoPagesText = QT_TRANSLATE_NOOP("DialogClient", "Can't Get All Page Text from LibreOffice Writer");
#endif

// Created on first use, kept until exit.
DialogLogin* s_dialogLogin = nullptr;
DialogAbout* s_dialogAbout = nullptr;

} // namespace

DialogClient::DialogClient(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::DialogClient)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | bypassWindowManagerHint() | Qt::WindowMinimizeButtonHint | Qt::WindowStaysOnTopHint |
                   Qt::WindowCloseButtonHint);
    ui->btnPin->setChecked(true);
    setWindowIcon(QIcon(QStringLiteral(":/images/icon128.png")));

    Revisor* revisor = getRevisor();
    QString title = windowTitle();
    if (revisor)
        title += QLatin1Char(' ') + revisor->getClientVer();
    setWindowTitle(title);

    updateUser();
    updateErrors();

    if (revisor)
        connect(revisor, &Revisor::checkDone, this, &DialogClient::checkDone);

    // The label keeps the page count of start-up; a click asks for it anew.
    const int pageCount = revisor ? revisor->getMaxPageCount() : 10;
    ui->btnCheckNext10Pages->setText(tr("Check Next %1 Pages").arg(pageCount));
    // Where the fonts are wider than the form was drawn for, the label would be
    // cut short: the button grows to fit it.
    QToolButton* next = ui->btnCheckNext10Pages;
    if (next->sizeHint().width() > next->width())
        next->setFixedWidth(next->sizeHint().width());

    if (CConfig* config = getConfig())
        ui->cbxCheckAsYouType->setChecked(config->getValueBool(QLatin1String(kKeyCheckAsYouType), true));

    ui->labelMsg->setText(tr(kNoEditor));
}

DialogClient::~DialogClient()
{
    delete ui;
}

void DialogClient::setClientHelper(ClientHelper* bridge, bool startDetection)
{
    m_helper = bridge;
    if (!m_helper || !startDetection)
        return;
    connect(m_helper, &ClientHelper::editorDetected, this, &DialogClient::editorDetected);
    connect(m_helper, &ClientHelper::editorMessage, this, [this](HWND hWnd, const QString& message) {
        if (hWnd == m_hWnd || hWnd == m_hWndChecking)
            m_editorMessage = message;
    });
    connect(m_helper, &ClientHelper::findingsChanged, this, [this](HWND hWnd) {
        if (hWnd == m_hWnd)
            updateErrors();
    });
    connect(m_helper, &ClientHelper::typingStatus, this, [this](HWND hWnd, const QString& message) {
        if (hWnd != m_hWnd)
            return;
        m_typingStatus = message;
        updateErrors();
    });
    m_helper->enableCheckAsYouType(ui->cbxCheckAsYouType->isChecked());
    m_helper->beginDetectEditor();
}

void DialogClient::resetFirstShowForTests()
{
    s_firstShow = true;
}

void DialogClient::editorDetected(QString editorName, HWND hWndNew)
{
    if (hWndNew != m_hWnd)
        m_typingStatus.clear();
    m_hWnd = hWndNew;
    m_editorName = editorName;
    updateErrors();
}

void DialogClient::checkDone(const CHECK_DATAS& checkDatas)
{
    if (!m_helper)
        return;
    m_editorMessage.clear();
    m_helper->showErrors(checkDatas, m_hWndChecking);
    m_hWndChecking = nullptr;
    updateErrors();
    QString line = tr("<span style='color:red;'>Found %1 Errors</span>").arg(checkDatas.size());
    // The editor could not show them: say why, and what to switch on.
    if (!m_editorMessage.isEmpty())
        line += QStringLiteral(" ") + m_editorMessage.toHtmlEscaped();
    ui->labelMsg->setText(line);
    ui->labelMsg->setToolTip(m_editorMessage);
}

template <typename Fetch>
void DialogClient::startCheck(Fetch fetch, const QString& emptyTextMessage)
{
    Revisor* revisor = getRevisor();
    if (!m_helper || !revisor)
        return;
    // The run belongs to the document its text came from, even when another
    // editor is announced while the login is waited for.
    const HWND hWnd = m_hWnd;
    const QString text = fetch(revisor, hWnd);
    if (text.isEmpty()) {
        revisor->showMsgBox(emptyTextMessage, QMessageBox::Critical, QMessageBox::Ok);
        return;
    }
    if (revisor->checkText(text))
        m_hWndChecking = hWnd;
    updateUser();
}

void DialogClient::on_btnCheckCurrentPage_clicked()
{
    startCheck([this](Revisor*, HWND hWnd) { return m_helper->getCurrentPageText(hWnd); }, tr(kNoCurrentPageText));
}

void DialogClient::on_btnCheckNext10Pages_clicked()
{
    startCheck(
        [this](Revisor* revisor, HWND hWnd) { return m_helper->getNextPageText(hWnd, revisor->getMaxPageCount()); },
        tr(kNoPagesText));
}

void DialogClient::on_btnExpand_clicked()
{
    const bool expand = !ui->groupTools->isVisibleTo(this);
    ui->groupTools->setVisible(expand);
    ui->groupSetting->setVisible(expand);
    ui->btnExpand->setIcon(QIcon(expand ? QStringLiteral(":/icon/Previous2.ico") : QStringLiteral(":/icon/Next2.ico")));
    if (CConfig* config = getConfig())
        config->setValueBool(QLatin1String(kKeyExpand), expand);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void DialogClient::on_btnRemoveAll_clicked()
{
    if (m_helper)
        m_helper->clearErrors(m_hWnd);
    updateErrors();
}

void DialogClient::on_btnPrevious_clicked()
{
    if (m_helper)
        m_helper->prevError(m_hWnd);
}

void DialogClient::on_btnNext_clicked()
{
    if (m_helper)
        m_helper->nextError(m_hWnd);
}

void DialogClient::on_cmbType_currentIndexChanged(int index)
{
    Revisor* revisor = getRevisor();
    if (!revisor)
        return;
    // Collocation checking goes with the homophone check only; the box keeps
    // its tick (and the option its value) while it is greyed out.
    ui->cbxCheckSkip->setEnabled(false);
    switch (index) {
    case 0:
        revisor->check_tong_yin = 1;
        revisor->check_xing_jin = 0;
        revisor->check_min_gan_ci = 0;
        ui->cbxCheckSkip->setEnabled(true);
        break;
    case 1:
        revisor->check_tong_yin = 0;
        revisor->check_xing_jin = 1;
        revisor->check_min_gan_ci = 0;
        break;
    case 2:
        revisor->check_tong_yin = 0;
        revisor->check_xing_jin = 0;
        revisor->check_min_gan_ci = 1;
        break;
    default:
        break;
    }
}

void DialogClient::on_cbxCheckSkip_clicked(bool checked)
{
    if (Revisor* revisor = getRevisor())
        revisor->check_skip = checked ? 1 : 0;
}

void DialogClient::on_cbxShowErrorTip_clicked(bool checked)
{
    if (m_helper)
        m_helper->enableErrorTip(checked);
}

void DialogClient::on_cbxCheckAsYouType_clicked(bool checked)
{
    if (CConfig* config = getConfig())
        config->setValueBool(QLatin1String(kKeyCheckAsYouType), checked);
    if (m_helper)
        m_helper->enableCheckAsYouType(checked);
    if (!checked)
        m_typingStatus.clear();
    updateErrors();
}

void DialogClient::on_btnUser_clicked()
{
    Revisor* revisor = getRevisor();
    if (!revisor)
        return;
    if (revisor->isLogin())
        revisor->openWebUrl(URL_ACCOUNT);
    else
        login();
}

void DialogClient::on_btnLogin_clicked()
{
    Revisor* revisor = getRevisor();
    if (!revisor)
        return;
    if (!revisor->isLogin()) {
        login();
        return;
    }
    revisor->logout();
    updateUser();
    revisor->showMsgBox(tr("Logout succeed"), QMessageBox::Information, QMessageBox::Ok);
}

void DialogClient::on_btnContact_clicked()
{
    if (Revisor* revisor = getRevisor())
        revisor->openWebUrl(URL_CONTACT);
}

void DialogClient::on_btnAbout_clicked()
{
    if (!s_dialogAbout)
        s_dialogAbout = new DialogAbout(nullptr);
    s_dialogAbout->show();
}

void DialogClient::on_btnWeb_clicked()
{
    if (Revisor* revisor = getRevisor())
        revisor->openWebUrl(URL_HOME);
}

void DialogClient::on_btnUpdate_clicked()
{
    if (Revisor* revisor = getRevisor())
        revisor->openWebUrl(URL_UPDATE);
}

void DialogClient::on_btnReportError_clicked()
{
    if (m_helper)
        m_helper->reportError(m_hWnd);
}

void DialogClient::on_btnPin_clicked(bool checked)
{
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, checked);
    setWindowFlags(flags);
    // Changing the flags hides the window.
    show();
}

void DialogClient::closeEvent(QCloseEvent* event)
{
    if (CConfig* config = getConfig()) {
        config->setValueInt(QLatin1String(kKeyX), x());
        config->setValueInt(QLatin1String(kKeyY), y());
    }
    if (m_helper)
        m_helper->endDetectEditor();
    QWidget::closeEvent(event);
}

void DialogClient::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!s_firstShow)
        return;
    s_firstShow = false;

    bool expand = false;
    if (CConfig* config = getConfig()) {
        expand = config->getValueBool(QLatin1String(kKeyExpand), false);
        const QPoint stored(config->getValueInt(QLatin1String(kKeyX), -1),
                            config->getValueInt(QLatin1String(kKeyY), -1));
        // A position stored on a screen that is gone would put the window
        // where nobody can reach it.
        if (stored.x() >= 0 && stored.y() >= 0 && QGuiApplication::screenAt(stored))
            move(stored);
    }
    if (!expand)
        on_btnExpand_clicked();
}

void DialogClient::login()
{
    Revisor* revisor = getRevisor();
    if (!revisor)
        return;
    if (!s_dialogLogin)
        s_dialogLogin = new DialogLogin;
    s_dialogLogin->setUserName(revisor->getUserName());
    s_dialogLogin->exec();
    updateUser();
}

void DialogClient::showMsg(QString text)
{
    ui->labelMsg->setText(text);
}

void DialogClient::upateUI()
{
    updateUser();
    updateErrors();
}

void DialogClient::updateErrors()
{
    const bool attached = m_hWnd != nullptr;
    ui->btnCheckCurrentPage->setEnabled(attached);
    ui->btnCheckNext10Pages->setEnabled(attached);

    const bool hasData = m_helper && m_helper->hasData(m_hWnd);
    ui->btnRemoveAll->setEnabled(hasData);
    ui->btnPrevious->setEnabled(hasData);
    ui->btnNext->setEnabled(hasData);

    if (Revisor* revisor = getRevisor())
        ui->cbxCheckSkip->setChecked(revisor->check_skip > 0);

    // The title is the editor's, not ours: show it as plain text.
    QString line = m_editorName.toHtmlEscaped();
    if (m_helper) {
        const CHECK_DATAS datas = m_helper->getCheckDatas(m_hWnd);
        if (!datas.empty())
            line += tr(" <span style='color:red;'>( %1 Errors ) </span>").arg(datas.size());
    }
    if (!m_typingStatus.isEmpty())
        line += QStringLiteral(" ") + m_typingStatus.toHtmlEscaped();
    ui->labelMsg->setText(line);
    ui->labelMsg->setToolTip(m_typingStatus);
}

void DialogClient::updateUser()
{
    Revisor* revisor = getRevisor();
    if (!revisor)
        return;
    const bool loggedIn = revisor->isLogin();
    ui->btnLogin->setText(loggedIn ? tr("Logout") : tr("Login"));
    if (!loggedIn) {
        ui->btnUser->setText(tr("User"));
        return;
    }
    QString name = revisor->getUserName();
    if (revisor->isVIP())
        name += QStringLiteral(" (VIP)");
    ui->btnUser->setText(name);
}
