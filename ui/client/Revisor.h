#pragma once

#include "ScholiaGlobal.h"
#include "utility/CheckData.h"
#include "utility/ServerInfo.h"

#include <QMap>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class DialogProgress;

// Identifiers of the service's addresses (see getWebUrl). The underlying type is
// fixed so that any int a caller passes is a valid value (unknown ids give the home page).
enum _URL_ID : int {
    URL_AUTH = 0,
    URL_REGISTER = 1,
    URL_ACCOUNT = 2,
    URL_HOME = 3,
    URL_CHECK = 4,
    URL_REPORT_ERROR = 5,
    URL_ADD_TO_DICT = 6,
    URL_CONTACT = 7,
    URL_UPDATE = 8,
    URL_DICT = 9,
};

// How a check in the background ended (see Revisor::checkInBackground).
struct BackgroundCheckResult
{
    enum Status {
        Checked,      // findings holds what the service found (spans count into the text given)
        LoginExpired, // the service no longer accepts the stored login
        Failed,       // the service could not be reached or answered an error: problem says what
    };
    Status status = Failed;
    CHECK_DATAS findings;
    QString problem;
};
using BackgroundCheckDone = std::function<void(const BackgroundCheckResult&)>;

// The client of the checking service: identity, login session, check runs,
// feedback and the service's web pages. One object per process (getRevisor());
// everything runs on the GUI thread. Messages for the user go through
// showMsgBox(). The protocol is described in docs/protocol.md.
class SCHOLIA_EXPORT Revisor : public QObject
{
    Q_OBJECT
public:
    explicit Revisor(QObject* parent = nullptr);
    ~Revisor() override;

    // Identity sent with every request.
    void setClient(const QString& id, const QString& version);
    void setHost(const QString& id, const QString& version);
    QString getClientId() const { return m_clientId; }
    QString getClientVer() const { return m_clientVer; }

    // The service base URL (ends in "/"): QUILLET_SERVICE_URL or the bundled service.
    QString baseUrl() const { return m_baseUrl; }
    // Address of a service page or endpoint; unknown ids give the home page.
    QString getWebUrl(_URL_ID id) const;

    // Transfer time-out of every request, in milliseconds (default 60 s).
    void setTransferTimeout(int ms) { m_transferTimeoutMs = ms; }

    // --- Account session ---
    // Logs in synchronously (a nested event loop keeps the UI live); true when
    // the service handed out a token, which is then stored with the user name.
    bool login(const QString& user, const QString& password, int textLength);
    bool logout();
    bool isLogin() const;
    bool isVIP() const;
    QString getUserName() const;
    const CServerInfo& serverInfo() const { return m_serverInfo; }

    // The client's modal message box (on top, product title).
    void showMsgBox(const QString& text, QMessageBox::Icon icon, QMessageBox::StandardButtons buttons);

    // --- Check run ---
    // Starts a run over text: logs in (asking for credentials when none are
    // stored), cuts the text into at most 10 pieces and checks them one after
    // another. True when the first request went out; the findings arrive
    // through checkDone().
    bool checkText(const QString& text);
    // Ends any run: drops findings and pieces, not busy.
    void clearCheckData();
    CHECK_DATAS& getCheckData() { return m_checkDatas; }
    bool isBusy() const { return m_busy; }
    // Pages of a next-pages check: 50 for a logged-in VIP member, else 10.
    int getMaxPageCount() const;
    DialogProgress* progressDialog() const { return m_progress; }

    // --- Checks in the background (while the user types) ---
    // Checks text without any window, message or login dialog, through the
    // same login, options and dictionary as checkText. Needs a stored login:
    // the service's checker address is learnt with the stored token when this
    // session has not logged in yet. Returns an id above 0 and calls done
    // once, later, on the GUI thread; 0 (and done is never called) when
    // nothing may be sent: nobody is logged in, or the service refused the
    // login since the last login of the user's own. Independent of check runs.
    quint64 checkInBackground(const QString& text, BackgroundCheckDone done);
    // Stops a check in the background: its done is not called.
    void cancelBackgroundCheck(quint64 id);

    // --- Feedback and web pages ---
    // Asks the user to confirm a false-alarm report and sends it.
    bool reportError(const QString& errorText, const QString& sentence);
    bool addToDict(const QString& word);
    void openDictUrl(const QString& word);
    void openWebUrl(_URL_ID id);

    // Check options sent with every check request (0 or 1).
    int check_xing_jin = 0;
    int check_min_gan_ci = 0;
    int check_tong_yin = 1;
    int check_skip = 0;
    int check_pinyin_confuse = 0;

signals:
    // The findings of a finished run. Receivers are connected directly and copy
    // what they keep: the list is emptied right after the signal returns.
    void checkDone(const CHECK_DATAS& checkDatas);

private slots:
    void finishedSlot(QNetworkReply* reply);

private:
    using Params = QMap<QString, QString>;

    // Synchronous form post (login and feedback). False only on a network
    // failure; service errors and undecodable replies are shown and give true.
    // accepted, when given, tells whether the reply carried no service error.
    bool simplePost(_URL_ID id, const Params& params, bool withProgress, bool keepServerInfo, bool* accepted = nullptr);
    bool updateCheckerServerUrl(int textLength);
    void tryShowErrorMsg(CServerInfo& info);

    bool fillList(const QString& text, QStringList& pieces) const;
    bool checkNext();
    void getNetData(QNetworkReply* reply);
    void publishFindings();
    QString networkErrorText(QNetworkReply* reply, bool userCancelled) const;

    struct BackgroundJob;
    // Posts a request of job; handle gets the body of a reply that arrived whole.
    void postInBackground(const std::shared_ptr<BackgroundJob>& job, const QNetworkRequest& request,
                          const QByteArray& body, std::function<void(const QByteArray&)> handle);
    void backgroundLogin(const std::shared_ptr<BackgroundJob>& job);
    void backgroundNextPiece(const std::shared_ptr<BackgroundJob>& job);
    void finishBackground(const std::shared_ptr<BackgroundJob>& job, BackgroundCheckResult::Status status,
                          const QString& problem = QString());

    QByteArray encodeBody(const QString& url, const QList<QPair<QString, QString>>& items) const;
    QList<QPair<QString, QString>> commonItems() const;
    // The items of a check request for piece, with the session's options.
    QList<QPair<QString, QString>> checkItems(const QString& piece) const;
    void prepareRequest(QNetworkRequest& request) const;
    // Whether check requests may go to url: http(s) with a host, and https
    // whenever the base URL is https.
    bool checkerUrlAllowed(const QString& url) const;
    QString serviceHostName() const;
    bool openUrl(const QString& url);

    QString m_baseUrl;
    QString m_clientId = QStringLiteral("word");
    QString m_clientVer = QStringLiteral("2.2");
    QString m_hostId;
    QString m_hostVer;
    CServerInfo m_serverInfo;
    QString m_password;
    int m_transferTimeoutMs = 60000;

    QNetworkAccessManager* m_manager = nullptr;
    DialogProgress* m_progress = nullptr;
    QPointer<QNetworkReply> m_inFlight;

    CHECK_DATAS m_checkDatas;
    QStringList m_pieces;
    int m_nextPiece = 0;
    bool m_busy = false;
    bool m_userCancelled = false;

    QNetworkAccessManager* m_backgroundManager = nullptr;
    std::map<quint64, std::shared_ptr<BackgroundJob>> m_backgroundJobs;
    quint64 m_nextBackgroundId = 1;
    // The service refused the stored login in the background: nothing more is
    // sent there until the user logs in through a check of their own.
    bool m_backgroundLoginRefused = false;
};

// The process-wide service client, created on first call and never destroyed.
SCHOLIA_EXPORT Revisor* getRevisor();
