#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>

#include <windows.h>

// The stand-in word processor (StandInWord.exe, beside the test) as a child
// process, driven through its standard input. While a command waits for its
// answer, the event loop runs: the stand-in's events are calls into this
// process, which must be served for it to answer.
class StandInProcess
{
public:
    ~StandInProcess() { kill(); }

    bool start(const QStringList& arguments = {})
    {
        m_process.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/StandInWord.exe"));
        m_process.setArguments(arguments);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(20000))
            return false;
        return readLine(30000) == QLatin1String("ready");
    }

    // Sends one command and answers its reply line; empty when none came.
    QString command(const QString& line, int timeoutMs = 20000)
    {
        send(line);
        return readLine(timeoutMs);
    }
    void send(const QString& line)
    {
        m_process.write((line + QLatin1Char('\n')).toUtf8());
        m_process.waitForBytesWritten(5000);
    }

    // The stand-in's document window (class "_WwG"); null until it exists.
    HWND documentWindow() const
    {
        struct Search
        {
            DWORD pid;
            HWND found = nullptr;
        } search{static_cast<DWORD>(m_process.processId()), nullptr};
        EnumWindows(
            [](HWND top, LPARAM data) -> BOOL {
                auto* s = reinterpret_cast<Search*>(data);
                DWORD pid = 0;
                GetWindowThreadProcessId(top, &pid);
                if (pid != s->pid)
                    return TRUE;
                s->found = FindWindowExW(top, nullptr, L"_WwG", nullptr);
                return s->found ? FALSE : TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    void kill()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }
    bool isRunning() const { return m_process.state() == QProcess::Running; }

private:
    QString readLine(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!m_process.canReadLine() && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            m_process.waitForReadyRead(5);
        }
        if (!m_process.canReadLine())
            return QString();
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }

    QProcess m_process;
};
