#include "VirtualDisplay.h"

#include <QDeadlineTimer>
#include <QStandardPaths>

VirtualDisplay::~VirtualDisplay()
{
    for (QProcess* process : {&m_windowManager, &m_xvfb}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(3000)) {
            process->kill();
            process->waitForFinished(3000);
        }
    }
}

bool VirtualDisplay::start(const QString& size, QString* reason)
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    if (xvfb.isEmpty() || openbox.isEmpty()) {
        *reason = QStringLiteral("Xvfb and openbox are needed for this test");
        return false;
    }
    // Xvfb picks a free display and writes its number to the given descriptor.
    // No auto-repeat: on a loaded machine a key held a little long (a tool
    // pressing Alt+F4) would repeat into whichever window comes next.
    m_xvfb.start(xvfb, {"-displayfd", "1", "-screen", "0", size + "x24", "-nolisten", "tcp", "-r"});
    if (!m_xvfb.waitForStarted(5000)) {
        *reason = QStringLiteral("Xvfb did not start");
        return false;
    }
    QByteArray number;
    QDeadlineTimer deadline(10000);
    while (!number.contains('\n') && !deadline.hasExpired() && m_xvfb.state() == QProcess::Running) {
        m_xvfb.waitForReadyRead(200);
        number += m_xvfb.readAllStandardOutput();
    }
    if (!number.contains('\n')) {
        *reason = QStringLiteral("Xvfb did not report its display");
        return false;
    }
    m_display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    qputenv("DISPLAY", m_display.toLatin1());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    m_windowManager.setProcessEnvironment(environment);
    m_windowManager.start(openbox, {"--sm-disable"});
    if (!m_windowManager.waitForStarted(5000)) {
        *reason = QStringLiteral("openbox did not start");
        return false;
    }
    return true;
}
