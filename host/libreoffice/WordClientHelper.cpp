#include "WordClientHelper.h"
#include "OfficeConnection.h"
#include "UnoSupport.h"
#include "WriterApplication.h"
#include "X11Windows.h"
#include "bridge/WordHelper.h"
#include "client/Revisor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace {

const QString kWriterClass = QStringLiteral("libreoffice-writer");
constexpr int kConnectInterval = 100; // ms between tries of the pipe
constexpr int kConnectTries = 60;     // the office opens its pipe within 0.1 s; allow 6 s

// How a running office was started: its program folder and its profile
// option (an office with a profile of its own only hears calls naming it).
struct OfficeProcess
{
    QString soffice;
    QString profileOption;
};

std::optional<OfficeProcess> officeProcess(qint64 pid)
{
    if (pid <= 0)
        return std::nullopt;
    const QString executable = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    if (QFileInfo(executable).fileName() != QLatin1String("soffice.bin"))
        return std::nullopt;
    OfficeProcess office;
    office.soffice = QFileInfo(executable).dir().filePath(QStringLiteral("soffice"));
    if (!QFileInfo(office.soffice).isExecutable())
        office.soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (office.soffice.isEmpty())
        return std::nullopt;
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (cmdline.open(QIODevice::ReadOnly)) {
        for (const QByteArray& argument : cmdline.readAll().split('\0')) {
            if (argument.startsWith("-env:UserInstallation="))
                office.profileOption = QString::fromLocal8Bit(argument);
        }
    }
    return office;
}

} // namespace

WordClientHelper::WordClientHelper()
    : m_x11(std::make_unique<X11Windows>())
    , m_pipeName(QStringLiteral("quillet-%1").arg(getuid()))
{
    m_connectTimer.setInterval(kConnectInterval);
    connect(&m_connectTimer, &QTimer::timeout, this, &WordClientHelper::tryConnect);
    connect(&m_accept, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this] { m_connectTimer.start(); });
    connect(&m_accept, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            qCInfo(lcOffice) << "could not ask the office to open its pipe";
    });
}

WordClientHelper::~WordClientHelper()
{
    m_connectTimer.stop();
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
    if (isConnected() || m_connectTimer.isActive() || m_accept.state() != QProcess::NotRunning)
        return;
    // The office may listen already (an earlier run asked it).
    tryConnect();
    if (isConnected())
        return;
    const std::optional<OfficeProcess> office = officeProcess(m_x11->pid(window));
    if (!office) {
        qCInfo(lcOffice) << "the Writer window belongs to no office on this machine";
        return;
    }
    QStringList arguments{QStringLiteral("--accept=pipe,name=%1;urp;").arg(m_pipeName)};
    if (!office->profileOption.isEmpty())
        arguments << office->profileOption;
    if (m_accept.state() != QProcess::NotRunning)
        return;
    // The pipe is tried once the call has ended: while it runs, the process it
    // starts may itself listen for a moment before it hands the request to the
    // running office and quits.
    m_accept.setStandardOutputFile(QProcess::nullDevice());
    m_accept.setStandardErrorFile(QProcess::nullDevice());
    m_accept.start(office->soffice, arguments);
    m_connectTries = 0;
}

void WordClientHelper::tryConnect()
{
    if (isConnected()) {
        m_connectTimer.stop();
        return;
    }
    m_connection = OfficeConnection::connect(m_pipeName);
    if (!m_connection) {
        if (m_connectTimer.isActive() && ++m_connectTries >= kConnectTries) {
            m_connectTimer.stop();
            qCInfo(lcOffice) << "the office did not open pipe" << m_pipeName;
        }
        return;
    }
    m_connectTimer.stop();
    connect(m_connection.get(), &OfficeConnection::disconnected, this, &WordClientHelper::officeGone);
    qCInfo(lcOffice) << "connected to the office on pipe" << m_pipeName;
    for (auto& [hWnd, helper] : wrappers()) {
        if (!helper->isAttached())
            attach(helper, hWnd);
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
        // A visible office may drop a connection made just after it opened
        // the pipe, and stay: then its windows are attached again at once.
        // An office that has gone no longer answers.
        tryConnect();
        if (!isConnected())
            return;
        for (HWND hWnd : dropped) {
            if (!writerWindow(windowIdFromHandle(hWnd)))
                continue;
            attach(wrapperFor(hWnd), hWnd);
        }
    });
}

void WordClientHelper::setForegroundEditor()
{
    const quintptr window = writerWindow(m_x11->activeWindow());
    if (window)
        focusChanged(handleFromWindowId(window));
}
