#include "WordClientHelper.h"
#include "OfficeConnection.h"
#include "OfficeProcess.h"
#include "UnoSupport.h"
#include "WriterApplication.h"
#include "X11Windows.h"
#include "bridge/WordHelper.h"
#include "client/Revisor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QSysInfo>

#include <unistd.h>

#include <utility>

namespace {

const QString kWriterClass = QStringLiteral("libreoffice-writer");
constexpr int kConnectInterval = 100; // ms between tries of the pipe
constexpr int kConnectTries = 60;     // the office opens its pipe within 0.1 s; allow 6 s
// An office answers the handshake within a few ms; one that does not in this
// time (stopped, hung, busy for good) is given up.
constexpr int kHandshakeTimeout = 3000; // ms

} // namespace

WordClientHelper::WordClientHelper()
    : m_x11(std::make_unique<X11Windows>())
    , m_pipeName(QStringLiteral("quillet-%1").arg(getuid()))
{
    // Another name keeps two sessions of one user apart (tests, a second
    // desktop); only plain names, as the office takes them in its --accept.
    const QString pipe = qEnvironmentVariable("QUILLET_OFFICE_PIPE");
    if (QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]{1,64}$")).match(pipe).hasMatch())
        m_pipeName = pipe;
    m_connectTimer.setInterval(kConnectInterval);
    connect(&m_connectTimer, &QTimer::timeout, this, &WordClientHelper::connectTick);
    connect(&m_accept, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this] { m_connectTimer.start(); });
    connect(&m_accept, &QProcess::errorOccurred, this, [](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            qCInfo(lcOffice) << "could not ask the office to open its pipe";
    });
}

WordClientHelper::~WordClientHelper()
{
    m_connectTimer.stop();
    // A try under way ends at once: its socket is shut down.
    if (m_connectAbort)
        m_connectAbort->abort();
    if (m_connectThread.joinable())
        m_connectThread.join();
    dropAllWrappers();
    if (m_accept.state() != QProcess::NotRunning) {
        m_accept.kill();
        m_accept.waitForFinished(1000);
    }
}

bool WordClientHelper::isConnected() const
{
    return m_connection && m_connection->isAlive();
}

quintptr WordClientHelper::writerWindow(quintptr window)
{
    if (!window)
        return 0;
    if (m_x11->windowClass(window) == kWriterClass)
        return window;
    // An office dialog (Find & Replace, …) belongs to its document window.
    const quintptr owner = m_x11->transientFor(window);
    if (owner && m_x11->windowClass(owner) == kWriterClass)
        return owner;
    return 0;
}

void WordClientHelper::focusChanged(HWND hWnd)
{
    if (!hWnd)
        return;
    const quintptr window = writerWindow(windowIdFromHandle(hWnd));
    if (!window)
        return;
    const HWND editor = handleFromWindowId(window);
    const std::shared_ptr<WordHelper> helper = wrapperFor(editor);
    // A window seen while no office answered is attached when it is active
    // again and the office can be reached.
    if (!helper->isAttached()) {
        if (isConnected())
            attach(helper, editor);
        else
            reachOffice(window);
    }
    emit editorDetected(m_x11->title(window), editor);
}

bool WordClientHelper::attach(const std::shared_ptr<WordHelper>& helper, HWND hWnd)
{
    if (!isConnected())
        return false;
    const auto frame = WriterApplication::frameForWindow(*m_connection, windowIdFromHandle(hWnd));
    std::shared_ptr<WriterApplication> application = WriterApplication::create(m_connection, frame);
    if (!application || !helper->attach(hWnd, application))
        return false;
    if (Revisor* revisor = getRevisor()) {
        const QString title = m_x11->title(windowIdFromHandle(hWnd)).toLower();
        revisor->setHost(title.contains(QLatin1String("wps")) ? QStringLiteral("wps") : QStringLiteral("word"),
                         application->version());
    }
    return true;
}

void WordClientHelper::reachOffice(quintptr window)
{
    if (isConnected() || m_connectAbort || m_connectTimer.isActive() || m_accept.state() != QProcess::NotRunning)
        return;
    // The office may listen already (an earlier run asked it); if not, it is
    // asked once this try has failed.
    startConnect(window);
}

void WordClientHelper::askOfficeToListen(quintptr window)
{
    if (isConnected() || m_connectTimer.isActive() || m_accept.state() != QProcess::NotRunning)
        return;
    // Any X client may put any host and pid in its window's properties: only
    // an office of this user on this machine is asked to open the pipe, with
    // an office program no other user can have changed.
    const QString machine = m_x11->clientMachine(window);
    if (machine.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) != 0) {
        qCInfo(lcOffice) << "the Writer window belongs to no office on this machine";
        return;
    }
    const std::optional<OfficeProcess> office = OfficeProcess::find(m_x11->pid(window));
    if (!office) {
        qCInfo(lcOffice) << "the Writer window belongs to no office of this user";
        return;
    }
    QStringList arguments{QStringLiteral("--accept=pipe,name=%1;urp;").arg(m_pipeName)};
    if (!office->profileOption.isEmpty())
        arguments << office->profileOption;
    // The pipe is tried once the call has ended: while it runs, the process it
    // starts may itself listen for a moment before it hands the request to the
    // running office and quits.
    m_accept.setStandardOutputFile(QProcess::nullDevice());
    m_accept.setStandardErrorFile(QProcess::nullDevice());
    m_accept.start(office->soffice, arguments);
    m_connectTries = 0;
}

void WordClientHelper::connectTick()
{
    if (isConnected()) {
        m_connectTimer.stop();
        return;
    }
    if (m_connectAbort)
        return;
    if (++m_connectTries > kConnectTries) {
        m_connectTimer.stop();
        qCInfo(lcOffice) << "the office did not open pipe" << m_pipeName;
        return;
    }
    startConnect();
}

void WordClientHelper::startConnect(quintptr askWindow)
{
    if (isConnected() || m_connectAbort)
        return;
    if (m_connectThread.joinable())
        m_connectThread.join();
    // Only a socket of this user's office is connected to, and an office that
    // does not answer is given up after kHandshakeTimeout; meanwhile this
    // thread goes on. The connection is handed to this thread before it is
    // announced, so that its signal comes here.
    m_connectAbort = std::make_shared<ConnectAbort>();
    m_connectThread = std::thread([this, abort = m_connectAbort, pipe = m_pipeName, home = thread(), askWindow] {
        bool timedOut = false;
        std::shared_ptr<OfficeConnection> connection =
            OfficeConnection::connect(pipe, kHandshakeTimeout, &timedOut, abort);
        if (connection)
            connection->moveToThread(home);
        QMetaObject::invokeMethod(
            this, [this, connection, timedOut, askWindow] { connectFinished(connection, timedOut, askWindow); },
            Qt::QueuedConnection);
    });
}

void WordClientHelper::connectFinished(const std::shared_ptr<OfficeConnection>& connection, bool timedOut,
                                       quintptr askWindow)
{
    m_connectAbort.reset();
    if (m_connectThread.joinable())
        m_connectThread.join();
    const std::vector<HWND> reattach = std::exchange(m_reattach, {});
    if (!connection || !connection->isAlive()) {
        // A peer that does not answer is not asked again until a Writer
        // window is next activated.
        if (timedOut) {
            qCInfo(lcOffice) << "the office on pipe" << m_pipeName << "did not answer";
            m_connectTimer.stop();
        }
        if (askWindow)
            askOfficeToListen(askWindow);
        return;
    }
    m_connectTimer.stop();
    m_connection = connection;
    connect(m_connection.get(), &OfficeConnection::disconnected, this, &WordClientHelper::officeGone);
    qCInfo(lcOffice) << "connected to the office on pipe" << m_pipeName;
    for (auto& [hWnd, helper] : wrappers()) {
        if (!helper->isAttached())
            attach(helper, hWnd);
    }
    // A visible office may drop a connection made just after it opened the
    // pipe, and stay: then the windows it had are attached again at once.
    for (HWND hWnd : reattach) {
        if (writerWindow(windowIdFromHandle(hWnd)))
            attach(wrapperFor(hWnd), hWnd);
    }
    emit officeConnected();
}

void WordClientHelper::officeGone()
{
    // Called from the connection's signal: let go of it afterwards.
    QTimer::singleShot(0, this, [this] {
        const std::shared_ptr<OfficeConnection> gone = m_connection;
        m_connection.reset();
        std::vector<HWND> dropped;
        for (const auto& [hWnd, helper] : wrappers()) {
            auto application = std::dynamic_pointer_cast<WriterApplication>(helper->application());
            if (application && application->connection() == gone)
                dropped.push_back(hWnd);
        }
        for (HWND hWnd : dropped)
            dropWrapper(hWnd);
        // An office that has gone no longer answers; one that only dropped
        // the connection gets its windows back.
        m_reattach = dropped;
        startConnect();
    });
}

void WordClientHelper::setForegroundEditor()
{
    const quintptr window = writerWindow(m_x11->activeWindow());
    if (window)
        focusChanged(handleFromWindowId(window));
}
