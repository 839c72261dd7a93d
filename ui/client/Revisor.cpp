#include "client/Revisor.h"
#include "client/CConfig.h"
#include "utility/JsonDecode.h"
#include "utility/TextUtil.h"
#include "windows/DialogLogin.h"
#include "windows/DialogProgress.h"
#include "windows/DialogReportError.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QGridLayout>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSpacerItem>
#include <QSslConfiguration>
#include <QUrl>
#include <QUrlQuery>

#include <cstring>

Q_LOGGING_CATEGORY(lcClient, "quillet.client")

namespace {

const char kDefaultServiceUrl[] = "http://127.0.0.1:8790/";
const char kNotFoundError[] = "not_found_error";
const char kTokenError[] = "token_error";
const char kAuthError[] = "auth_error";
constexpr int kMaxPieces = 10;
constexpr int kMaxParamLength = 500;

QString fromUtf8(const std::string& s)
{
    return QString::fromUtf8(s.data(), int(s.size()));
}

std::string toUtf8(const QString& s)
{
    const QByteArray bytes = s.toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

// The reply body as the decoders take it: a narrow string up to its first NUL byte.
std::string bodyText(const QByteArray& body)
{
    return std::string(body.constData(), strnlen(body.constData(), size_t(body.size())));
}

// Set on a reply that was aborted because it grew past kMaxReplyBytes.
const char kOversizedProperty[] = "quillet_oversized";

// Aborts reply as soon as it announces, or has buffered, more than the decoders
// accept, so that a hostile service cannot make the client hold an unbounded
// body. The reply then finishes with OperationCanceledError and isOversized().
void limitReplySize(QNetworkReply* reply)
{
    const auto check = [reply] {
        if (reply->isFinished())
            return;
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        const qint64 limit = qint64(kMaxReplyBytes);
        if ((announced.isValid() && announced.toLongLong() > limit) || reply->bytesAvailable() > limit) {
            reply->setProperty(kOversizedProperty, true);
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, check);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, check);
}

bool isOversized(const QNetworkReply* reply)
{
    return reply->property(kOversizedProperty).toBool();
}

// Cuts a form value to its first 500 UTF-16 units without splitting a surrogate pair.
QString cutParam(const QString& value)
{
    if (value.size() <= kMaxParamLength)
        return value;
    int length = kMaxParamLength;
    if (value.at(length - 1).isHighSurrogate())
        --length;
    return value.left(length);
}

} // namespace

Revisor::Revisor(QObject* parent)
    : QObject(parent)
{
    m_baseUrl = qEnvironmentVariable("QUILLET_SERVICE_URL", QString::fromLatin1(kDefaultServiceUrl)).trimmed();
    if (m_baseUrl.isEmpty())
        m_baseUrl = QString::fromLatin1(kDefaultServiceUrl);
    if (!m_baseUrl.endsWith(QLatin1Char('/')))
        m_baseUrl += QLatin1Char('/');

    if (CConfig* config = getConfig()) {
        m_serverInfo.userName = toUtf8(config->getValueString(QStringLiteral("user_name"), QString()));
        m_serverInfo.accessToken = toUtf8(config->getValueString(QStringLiteral("access_token"), QString()));
        m_serverInfo.isVip = config->getValueBool(QStringLiteral("is_vip"), false);
    }

    m_manager = new QNetworkAccessManager(this);
    connect(m_manager, &QNetworkAccessManager::finished, this, &Revisor::finishedSlot);

    m_progress = new DialogProgress;
    m_progress->setProgress(0);
    // Cancel aborts whatever request of a run is in flight; the reply handler
    // then ends the run without a message.
    connect(m_progress, &DialogProgress::cancel, this, [this] {
        m_userCancelled = true;
        if (m_inFlight)
            m_inFlight->abort();
    });
}

Revisor::~Revisor()
{
    delete m_progress;
}

void Revisor::setClient(const QString& id, const QString& version)
{
    m_clientId = id;
    m_clientVer = version;
}

void Revisor::setHost(const QString& id, const QString& version)
{
    m_hostId = id;
    m_hostVer = version;
}

QString Revisor::getWebUrl(_URL_ID id) const
{
    // Values go in unescaped; the browser or URL parser encodes them when the page is opened.
    const QString identity =
        QStringLiteral("?%1=%2&%3=%4&%5=%6&%7=%8")
            .arg(QStringLiteral("client_id"), m_clientId, QStringLiteral("client_ver"), m_clientVer,
                 QStringLiteral("host_id"), m_hostId, QStringLiteral("host_ver"), m_hostVer);
    switch (id) {
    case URL_AUTH:
        return m_baseUrl + QStringLiteral("api/v2/auth/");
    case URL_REGISTER:
        return m_baseUrl + QStringLiteral("register/") + identity;
    case URL_ACCOUNT:
        return m_baseUrl + QStringLiteral("account/") + identity;
    case URL_CHECK:
        return fromUtf8(m_serverInfo.checkerUrl);
    case URL_REPORT_ERROR:
        return m_baseUrl + QStringLiteral("api/v2/report-error/");
    case URL_ADD_TO_DICT:
        return m_baseUrl + QStringLiteral("api/v2/add-to-dict/");
    case URL_CONTACT:
        return m_baseUrl + QStringLiteral("contact/") + identity;
    case URL_UPDATE:
        return m_baseUrl + QStringLiteral("update/") + identity;
    case URL_DICT:
        return m_baseUrl + QStringLiteral("dict/") + identity;
    case URL_HOME:
    default:
        return m_baseUrl + identity;
    }
}

QList<QPair<QString, QString>> Revisor::commonItems() const
{
    return {{QStringLiteral("client_id"), m_clientId},
            {QStringLiteral("client_id"), m_clientId},
            {QStringLiteral("client_ver"), m_clientVer},
            {QStringLiteral("host_id"), m_hostId},
            {QStringLiteral("host_ver"), m_hostVer}};
}

QByteArray Revisor::encodeBody(const QString& url, const QList<QPair<QString, QString>>& items) const
{
    QUrlQuery query;
    // QUrlQuery would read a literal "%41" as an escape and send "A"; escaping "%"
    // first keeps every value exactly as the user wrote it. A null value would lose
    // its "=", so it goes in as an empty one.
    const auto escaped = [](const QString& text) {
        return text.isNull() ? QString::fromLatin1("") : QString(text).replace(QLatin1Char('%'), QLatin1String("%25"));
    };
    for (const auto& item : items)
        query.addQueryItem(escaped(item.first), escaped(item.second));
    QUrl target(url);
    target.setQuery(query);
    return target.toEncoded(QUrl::FullyEncoded);
}

void Revisor::prepareRequest(QNetworkRequest& request) const
{
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(m_transferTimeoutMs);
    // What the network layer would send by default anyway; said explicitly to keep it quiet.
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    if (request.url().scheme() == QLatin1String("https")) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        tls.setProtocol(QSsl::TlsV1_2OrLater);
        request.setSslConfiguration(tls);
    }
}

QString Revisor::networkErrorText(QNetworkReply* reply, bool userCancelled) const
{
    QString reason = reply->errorString();
    if (reply->error() == QNetworkReply::OperationCanceledError && !userCancelled)
        reason = QStringLiteral("Operation timed out");
    return tr("Connect Server Error!") + QStringLiteral(" [") + reason + QStringLiteral(" ]");
}

bool Revisor::simplePost(_URL_ID id, const Params& params, bool withProgress, bool keepServerInfo, bool* accepted)
{
    if (accepted)
        *accepted = false;
    const QString url = getWebUrl(id);
    QNetworkRequest request{QUrl(url)};
    prepareRequest(request);

    QList<QPair<QString, QString>> items = commonItems();
    items.append({QStringLiteral("access_token"), fromUtf8(m_serverInfo.accessToken)});
    for (auto it = params.constBegin(); it != params.constEnd(); ++it)
        items.append({it.key(), it.key() == QLatin1String("text") ? it.value() : cutParam(it.value())});

    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.post(request, encodeBody(url, items));
    limitReplySize(reply);
    bool cancelled = false;
    if (withProgress) {
        connect(m_progress, &DialogProgress::cancel, reply, [reply, &cancelled] {
            cancelled = true;
            reply->abort();
        });
    }
    QEventLoop loop;
    connect(&manager, &QNetworkAccessManager::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();

    if (isOversized(reply)) {
        qCInfo(lcClient) << "reply larger than" << kMaxReplyBytes << "bytes:" << url;
        showMsgBox(tr("Parse JSON Data Error!"), QMessageBox::Critical, QMessageBox::Ok);
        return true;
    }
    if (reply->error() != QNetworkReply::NoError) {
        qCInfo(lcClient) << "request failed:" << url << reply->errorString();
        showMsgBox(networkErrorText(reply, cancelled), QMessageBox::Critical, QMessageBox::Ok);
        return false;
    }

    m_serverInfo.ClearError();
    CServerInfo info = m_serverInfo;
    const QByteArray body = reply->readAll();
    bool decoded = true;
    if (!body.isEmpty()) {
        decoded = JSONToServer(bodyText(body), info);
        if (decoded) {
            const bool serviceError = !info.errorCode.empty() || !info.errorMsg.empty();
            tryShowErrorMsg(info);
            if (accepted)
                *accepted = !serviceError;
        } else {
            showMsgBox(tr("Parse JSON Data Error!"), QMessageBox::Critical, QMessageBox::Ok);
        }
    } else if (accepted) {
        *accepted = true;
    }
    if (keepServerInfo)
        m_serverInfo = info;
    return true;
}

bool Revisor::login(const QString& user, const QString& password, int textLength)
{
    m_serverInfo.userName = toUtf8(user);
    m_password = password;
    return updateCheckerServerUrl(textLength);
}

bool Revisor::updateCheckerServerUrl(int textLength)
{
    const Params params{{QStringLiteral("text_length"), QString::number(textLength)},
                        {QStringLiteral("user_name"), fromUtf8(m_serverInfo.userName)},
                        {QStringLiteral("password"), m_password}};
    if (!simplePost(URL_AUTH, params, true, true) || m_serverInfo.accessToken.empty())
        return false;
    m_backgroundLoginRefused = false;
    if (CConfig* config = getConfig()) {
        config->setValueString(QStringLiteral("user_name"), fromUtf8(m_serverInfo.userName));
        config->setValueBool(QStringLiteral("is_vip"), m_serverInfo.isVip);
        config->setValueString(QStringLiteral("access_token"), fromUtf8(m_serverInfo.accessToken));
    }
    return true;
}

bool Revisor::logout()
{
    m_backgroundLoginRefused = false;
    m_serverInfo.userName.clear();
    m_serverInfo.accessToken.clear();
    m_password.clear();
    if (CConfig* config = getConfig()) {
        config->setValueString(QStringLiteral("user_name"), QString());
        config->setValueString(QStringLiteral("access_token"), QString());
    }
    return true;
}

bool Revisor::isLogin() const
{
    return !m_serverInfo.userName.empty() && !m_serverInfo.accessToken.empty();
}

bool Revisor::isVIP() const
{
    return isLogin() && m_serverInfo.isVip;
}

QString Revisor::getUserName() const
{
    return fromUtf8(m_serverInfo.userName);
}

void Revisor::tryShowErrorMsg(CServerInfo& info)
{
    if (info.errorMsg.empty() && info.errorCode.empty())
        return;
    showMsgBox(fromUtf8(info.errorMsg.empty() ? info.errorCode : info.errorMsg), QMessageBox::Critical,
               QMessageBox::Ok);
    info.ClearError();
}

void Revisor::showMsgBox(const QString& text, QMessageBox::Icon icon, QMessageBox::StandardButtons buttons)
{
    QMessageBox box;
    box.setWindowFlags(box.windowFlags() | Qt::WindowStaysOnTopHint);
    // Messages carry the service's own text: never let it be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setWindowTitle(tr("quillet"));
    QFont font = box.font();
    font.setPointSize(font.pointSize() + 2);
    box.setFont(font);
    box.setStandardButtons(buttons);
    box.setIcon(icon);
    box.setStyleSheet(QStringLiteral("QLabel{min-height: 60px;}"));
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(250, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
    box.exec();
}

// ---------------------------------------------------------------------------
// Check run

int Revisor::getMaxPageCount() const
{
    return isVIP() ? 50 : 10;
}

void Revisor::clearCheckData()
{
    m_checkDatas.clear();
    m_pieces.clear();
    m_nextPiece = 0;
    m_busy = false;
}

bool Revisor::checkText(const QString& text)
{
    if (m_busy) {
        showMsgBox(tr("checking, please wait."), QMessageBox::Critical, QMessageBox::Ok);
        if (m_progress && m_progress->isVisible())
            m_progress->activateWindow();
        return false;
    }
    clearCheckData();
    if (text.isEmpty())
        return false;

    if (m_serverInfo.userName.empty() || m_serverInfo.accessToken.empty()) {
        DialogLogin dialog;
        dialog.setDoLogin(false);
        QString user = fromUtf8(m_serverInfo.userName);
        dialog.setUserName(user);
        if (dialog.exec() != DialogLogin::ResultLogin)
            return false;
        m_serverInfo.userName = toUtf8(dialog.username());
        m_password = dialog.password();
    }
    if (!m_progress)
        return false;

    // Busy from here on, so that a second start during the login wait is refused.
    m_busy = true;
    m_userCancelled = false;
    m_progress->setProgress(0);
    m_progress->show();

    if (login(fromUtf8(m_serverInfo.userName), m_password, text.size()) && !m_serverInfo.accessToken.empty()) {
        if (!checkerUrlAllowed(getWebUrl(URL_CHECK))) {
            qCWarning(lcClient) << "refused checker address" << getWebUrl(URL_CHECK) << "for base" << m_baseUrl;
            showMsgBox(tr("The service named an unsafe checker address; no text was sent:") + QLatin1Char('\n') +
                           getWebUrl(URL_CHECK),
                       QMessageBox::Critical, QMessageBox::Ok);
        } else {
            // 64 bits: the piece length is the service's to choose, up to INT_MAX.
            const qint64 maxText = qint64(kMaxPieces) * m_serverInfo.pieceLength;
            if (maxText > 0 && text.size() > maxText) {
                showMsgBox(tr("Max %d words!").replace(QLatin1String("%d"), QString::number(maxText)),
                           QMessageBox::Critical, QMessageBox::Ok);
            }
            fillList(text, m_pieces);
            if (checkNext())
                return true;
        }
        clearCheckData();
        m_progress->setProgress(100);
    }
    m_busy = false;
    m_progress->hide();
    return false;
}

bool Revisor::fillList(const QString& text, QStringList& pieces) const
{
    const int length = m_serverInfo.pieceLength;
    if (length <= 0)
        return false;
    const int half = length / 2;
    const int before = pieces.size();
    int p = 0;
    for (int count = 0; count < kMaxPieces; ++count) {
        if (qint64(p) + length > text.size()) {
            pieces.append(text.mid(p));
            break;
        }
        int n = length - half;
        for (int candidate = length; candidate > length - half; --candidate) {
            const char32_t c = text.at(p + candidate - 1).unicode();
            if (IsCNPunctuation(c) || IsENPunctuation(c)) {
                n = candidate;
                break;
            }
        }
        pieces.append(text.mid(p, n));
        p += n;
    }
    return pieces.size() > before;
}

QList<QPair<QString, QString>> Revisor::checkItems(const QString& piece) const
{
    QList<QPair<QString, QString>> items = commonItems();
    items.append({{QStringLiteral("text"), piece},
                  {QStringLiteral("access_token"), fromUtf8(m_serverInfo.accessToken)},
                  {QStringLiteral("main_lang"), QStringLiteral("zh-CN")},
                  {QStringLiteral("other_lang"), QStringLiteral("en-US")},
                  {QStringLiteral("min_error_level"), QStringLiteral("3")},
                  {QStringLiteral("check_xing_jin"), QString::number(check_xing_jin)},
                  {QStringLiteral("check_min_gan_ci"), QString::number(check_min_gan_ci)},
                  {QStringLiteral("check_tong_yin"), QString::number(check_tong_yin)},
                  {QStringLiteral("check_skip"), QString::number(check_skip)},
                  {QStringLiteral("check_pinyin_confuse"), QString::number(check_pinyin_confuse)}});
    return items;
}

bool Revisor::checkNext()
{
    if (m_pieces.isEmpty() || m_nextPiece >= m_pieces.size() || !checkerUrlAllowed(getWebUrl(URL_CHECK)))
        return false;
    const QString piece = m_pieces.at(m_nextPiece++);

    const QList<QPair<QString, QString>> items = checkItems(piece);

    QNetworkRequest request{QUrl(getWebUrl(URL_CHECK))};
    prepareRequest(request);
    m_inFlight = m_manager->post(request, encodeBody(QString(), items));
    limitReplySize(m_inFlight);
    return true;
}

void Revisor::finishedSlot(QNetworkReply* reply)
{
    if (!reply)
        return;
    reply->deleteLater();
    if (reply != m_inFlight)
        return; // a reply of a run that has already ended
    m_inFlight = nullptr;

    // An oversized reply counts as a malformed one: shown, and the run goes on.
    if (reply->error() == QNetworkReply::NoError || isOversized(reply)) {
        getNetData(reply);
        if (checkNext()) {
            m_progress->setProgress(m_nextPiece * 100 / m_pieces.size());
            return;
        }
        publishFindings();
        tryShowErrorMsg(m_serverInfo);
        clearCheckData();
        m_progress->setProgress(100);
        m_progress->hide();
        return;
    }

    if (reply->error() == QNetworkReply::OperationCanceledError && m_userCancelled) {
        clearCheckData();
        m_progress->hide();
        return;
    }

    qCInfo(lcClient) << "check request failed:" << reply->errorString();
    publishFindings();
    clearCheckData();
    m_progress->setProgress(100);
    m_progress->hide();
    showMsgBox(networkErrorText(reply, false), QMessageBox::Critical, QMessageBox::Ok);
}

void Revisor::publishFindings()
{
    if (m_checkDatas.empty())
        return;
    CleanCheckData(m_checkDatas);
    if (m_checkDatas.empty())
        return;
    // "Nothing found" from the last piece is wrong once errors were marked.
    if (m_serverInfo.errorCode == kNotFoundError)
        m_serverInfo.ClearError();
    emit checkDone(m_checkDatas);
}

void Revisor::getNetData(QNetworkReply* reply)
{
    const QByteArray body = reply->readAll();
    m_serverInfo.ClearError();
    if (!reply->url().toString().contains(getWebUrl(URL_CHECK)))
        return;

    std::string code, message;
    CHECK_DATAS found;
    if (!isOversized(reply) && JSONToCheckData(bodyText(body), found, code, message)) {
        // Spans count into the piece: move them into the checked text, so that
        // each finding keeps where it was found.
        int offset = 0;
        for (int i = 0; i < m_nextPiece - 1 && i < m_pieces.size(); ++i)
            offset += m_pieces.at(i).size();
        for (const std::shared_ptr<CCheckData>& data : found) {
            for (auto& [start, end] : data->spans) {
                start += offset;
                end += offset;
            }
            m_checkDatas.push_back(data);
        }
        m_serverInfo.errorCode = code;
        m_serverInfo.errorMsg = message;
        if (code != kNotFoundError)
            tryShowErrorMsg(m_serverInfo);
    } else {
        showMsgBox(tr("JSON Data Error!"), QMessageBox::Critical, QMessageBox::Ok);
    }
}

// ---------------------------------------------------------------------------
// Checks in the background

// One check in the background: its pieces, the one in flight and what the
// earlier ones found.
struct Revisor::BackgroundJob
{
    quint64 id = 0;
    QString text;
    QStringList pieces;
    int next = 0;
    int offset = 0; // where the piece in flight starts in text
    CHECK_DATAS findings;
    QPointer<QNetworkReply> reply;
    BackgroundCheckDone done;
};

quint64 Revisor::checkInBackground(const QString& text, BackgroundCheckDone done)
{
    if (!isLogin() || m_backgroundLoginRefused || text.isEmpty() || !done)
        return 0;
    if (!m_backgroundManager)
        m_backgroundManager = new QNetworkAccessManager(this);
    auto job = std::make_shared<BackgroundJob>();
    job->id = m_nextBackgroundId++;
    job->text = text;
    job->done = std::move(done);
    m_backgroundJobs[job->id] = job;
    // Started from the event loop, so that done never runs inside this call.
    QMetaObject::invokeMethod(
        this,
        [this, job] {
            if (m_backgroundJobs.count(job->id) == 0)
                return;
            if (m_serverInfo.checkerUrl.empty() || m_serverInfo.pieceLength <= 0)
                backgroundLogin(job);
            else
                backgroundNextPiece(job);
        },
        Qt::QueuedConnection);
    return job->id;
}

void Revisor::cancelBackgroundCheck(quint64 id)
{
    const auto it = m_backgroundJobs.find(id);
    if (it == m_backgroundJobs.end())
        return;
    const std::shared_ptr<BackgroundJob> job = it->second;
    m_backgroundJobs.erase(it);
    if (job->reply)
        job->reply->abort();
}

void Revisor::postInBackground(const std::shared_ptr<BackgroundJob>& job, const QNetworkRequest& request,
                               const QByteArray& body, std::function<void(const QByteArray&)> handle)
{
    QNetworkReply* reply = m_backgroundManager->post(request, body);
    limitReplySize(reply);
    job->reply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, job, reply, handle = std::move(handle)] {
        reply->deleteLater();
        if (m_backgroundJobs.count(job->id) == 0)
            return; // stopped
        job->reply = nullptr;
        if (isOversized(reply)) {
            finishBackground(job, BackgroundCheckResult::Failed, tr("JSON Data Error!"));
            return;
        }
        if (reply->error() != QNetworkReply::NoError) {
            finishBackground(job, BackgroundCheckResult::Failed, networkErrorText(reply, false));
            return;
        }
        handle(reply->readAll());
    });
}

void Revisor::backgroundLogin(const std::shared_ptr<BackgroundJob>& job)
{
    // The login that a check run makes, with the stored token: it tells where
    // checks go and how long a piece may be.
    const QString url = getWebUrl(URL_AUTH);
    QNetworkRequest request{QUrl(url)};
    prepareRequest(request);
    QList<QPair<QString, QString>> items = commonItems();
    items.append({{QStringLiteral("access_token"), fromUtf8(m_serverInfo.accessToken)},
                  {QStringLiteral("text_length"), QString::number(job->text.size())},
                  {QStringLiteral("user_name"), cutParam(fromUtf8(m_serverInfo.userName))},
                  {QStringLiteral("password"), cutParam(m_password)}});
    postInBackground(job, request, encodeBody(url, items), [this, job](const QByteArray& body) {
        CServerInfo info = m_serverInfo;
        info.ClearError();
        if (!JSONToServer(bodyText(body), info)) {
            finishBackground(job, BackgroundCheckResult::Failed, tr("Parse JSON Data Error!"));
            return;
        }
        if (info.errorCode == kTokenError || info.errorCode == kAuthError || info.accessToken.empty()) {
            m_backgroundLoginRefused = true;
            finishBackground(job, BackgroundCheckResult::LoginExpired);
            return;
        }
        if (!info.errorCode.empty() || !info.errorMsg.empty()) {
            finishBackground(job, BackgroundCheckResult::Failed,
                             fromUtf8(info.errorMsg.empty() ? info.errorCode : info.errorMsg));
            return;
        }
        // Only what the login tells about checking is taken: the stored login
        // and the user's name stay as they are.
        m_serverInfo.checkerUrl = info.checkerUrl;
        m_serverInfo.pieceLength = info.pieceLength;
        m_serverInfo.isVip = info.isVip;
        if (m_serverInfo.checkerUrl.empty() || m_serverInfo.pieceLength <= 0) {
            finishBackground(job, BackgroundCheckResult::Failed, tr("Parse JSON Data Error!"));
            return;
        }
        backgroundNextPiece(job);
    });
}

void Revisor::backgroundNextPiece(const std::shared_ptr<BackgroundJob>& job)
{
    if (job->pieces.isEmpty() && !fillList(job->text, job->pieces)) {
        finishBackground(job, BackgroundCheckResult::Failed, tr("Parse JSON Data Error!"));
        return;
    }
    if (job->next >= job->pieces.size()) {
        finishBackground(job, BackgroundCheckResult::Checked);
        return;
    }
    const QString checker = getWebUrl(URL_CHECK);
    if (!checkerUrlAllowed(checker)) {
        qCWarning(lcClient) << "refused checker address" << checker << "for base" << m_baseUrl;
        finishBackground(job, BackgroundCheckResult::Failed,
                         tr("The service named an unsafe checker address; no text was sent:") + QLatin1Char(' ') +
                             checker);
        return;
    }
    job->offset = 0;
    for (int i = 0; i < job->next; ++i)
        job->offset += job->pieces.at(i).size();
    const QString piece = job->pieces.at(job->next++);

    const QList<QPair<QString, QString>> items = checkItems(piece);
    QNetworkRequest request{QUrl(checker)};
    prepareRequest(request);
    postInBackground(job, request, encodeBody(QString(), items), [this, job](const QByteArray& body) {
        std::string code, message;
        CHECK_DATAS found;
        if (!JSONToCheckData(bodyText(body), found, code, message)) {
            finishBackground(job, BackgroundCheckResult::Failed, tr("JSON Data Error!"));
            return;
        }
        if (code == kTokenError) {
            m_backgroundLoginRefused = true;
            finishBackground(job, BackgroundCheckResult::LoginExpired);
            return;
        }
        if (code != kNotFoundError && (!code.empty() || !message.empty())) {
            finishBackground(job, BackgroundCheckResult::Failed, fromUtf8(message.empty() ? code : message));
            return;
        }
        for (const std::shared_ptr<CCheckData>& data : found) {
            for (auto& [start, end] : data->spans) {
                start += job->offset;
                end += job->offset;
            }
            job->findings.push_back(data);
        }
        backgroundNextPiece(job);
    });
}

void Revisor::finishBackground(const std::shared_ptr<BackgroundJob>& job, BackgroundCheckResult::Status status,
                               const QString& problem)
{
    m_backgroundJobs.erase(job->id);
    BackgroundCheckResult result;
    result.status = status;
    result.problem = problem;
    if (status == BackgroundCheckResult::Checked) {
        result.findings = std::move(job->findings);
        CleanCheckData(result.findings);
    } else {
        qCInfo(lcClient) << "check in the background failed:" << problem;
    }
    const BackgroundCheckDone done = std::move(job->done);
    done(result);
}

// ---------------------------------------------------------------------------
// Feedback and web pages

bool Revisor::reportError(const QString& errorText, const QString& sentence)
{
    DialogReportError dialog;
    dialog.setData(errorText, sentence);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const Params params{{QStringLiteral("text_error"), dialog.errorText()},
                        {QStringLiteral("text_sentence"), dialog.sentence()},
                        {QStringLiteral("msg"), dialog.note()}};
    bool accepted = false;
    if (!simplePost(URL_REPORT_ERROR, params, false, false, &accepted))
        return false;
    if (accepted)
        showMsgBox(tr("Thanks for the feedback!"), QMessageBox::Information, QMessageBox::Ok);
    return accepted;
}

bool Revisor::addToDict(const QString& word)
{
    bool accepted = false;
    if (!simplePost(URL_ADD_TO_DICT, {{QStringLiteral("new_word"), word}}, false, false, &accepted))
        return false;
    if (accepted)
        showMsgBox(tr("Add to dict succeed!"), QMessageBox::Information, QMessageBox::Ok);
    return accepted;
}

bool Revisor::checkerUrlAllowed(const QString& url) const
{
    const QUrl checker(url);
    const bool secure = checker.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    const bool plain = checker.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0;
    if (!checker.isValid() || checker.host().isEmpty() || !(secure || plain))
        return false;
    // Once the login went over TLS, the token and the text never leave it.
    return secure || QUrl(m_baseUrl).scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0;
}

QString Revisor::serviceHostName() const
{
    return QUrl(m_baseUrl).host();
}

bool Revisor::openUrl(const QString& url)
{
    if (QDesktopServices::openUrl(QUrl(url)))
        return true;
    showMsgBox(tr("Can't open ") + serviceHostName(), QMessageBox::Critical, QMessageBox::Ok);
    return false;
}

void Revisor::openDictUrl(const QString& word)
{
    openUrl(getWebUrl(URL_DICT) + QStringLiteral("&word=") + word);
}

void Revisor::openWebUrl(_URL_ID id)
{
    openUrl(getWebUrl(id));
}

Revisor* getRevisor()
{
    static Revisor* revisor = new Revisor;
    return revisor;
}
