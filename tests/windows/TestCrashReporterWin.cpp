#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <algorithm>

#include <windows.h>
#include <tlhelp32.h>

// The real Revisor.exe with its crash reporter: a crash (a thread started at
// address 0 in it, an access violation) leaves a minidump and a text report in
// Documents\Quillet\crash and the program running again; a second crash right
// after ends it instead of looping.
class TestCrashReporterWin : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void crashWritesDumpAndReportAndRestartsOnce();

private:
    static std::vector<DWORD> revisorProcesses();
    static bool crash(DWORD pid);
    QString m_folder;
};

std::vector<DWORD> TestCrashReporterWin::revisorProcesses()
{
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, L"Revisor.exe") == 0)
            found.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return found;
}

bool TestCrashReporterWin::crash(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
    if (!process)
        return false;
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, nullptr, nullptr, 0, nullptr);
    if (thread)
        CloseHandle(thread);
    CloseHandle(process);
    return thread != nullptr;
}

void TestCrashReporterWin::initTestCase()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QVERIFY(QDir().mkpath(documents));
    m_folder = documents + QStringLiteral("/Quillet/crash");
    QDir(m_folder).removeRecursively();
    for (DWORD pid : revisorProcesses())
        QVERIFY2(false, qPrintable(QStringLiteral("a Revisor is running already: %1").arg(pid)));
}

void TestCrashReporterWin::cleanupTestCase()
{
    for (DWORD pid : revisorProcesses()) {
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid)) {
            TerminateProcess(process, 1);
            CloseHandle(process);
        }
    }
}

void TestCrashReporterWin::crashWritesDumpAndReportAndRestartsOnce()
{
    QProcess revisor;
    revisor.setProcessChannelMode(QProcess::ForwardedChannels);
    revisor.start(QCoreApplication::applicationDirPath() + QStringLiteral("/Revisor.exe"), QStringList());
    QVERIFY(revisor.waitForStarted(20000));
    QTest::qWait(3000); // the window up and the event loop running
    QCOMPARE(revisor.state(), QProcess::Running);
    QVERIFY(QDir(m_folder).exists());

    const DWORD first = static_cast<DWORD>(revisor.processId());
    QVERIFY(crash(first));
    QTRY_COMPARE_WITH_TIMEOUT(QDir(m_folder).entryList({"*.txt"}, QDir::Files).size(), 1, 20000);
    QFile report(m_folder + "/" + QDir(m_folder).entryList({"*.txt"}, QDir::Files).first());
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(report.readAll());
    QVERIFY2(text.contains("exception: 0xc0000005 EXCEPTION_ACCESS_VIOLATION"), qPrintable(text));
    QVERIFY(text.contains("version: 2.2"));
    QVERIFY(text.contains("restarted: no"));
    QVERIFY(text.contains(QRegularExpression("time: 20\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC")));

    // Started again, once, while the crashed one writes its dump (Wine takes
    // tens of seconds for it) and ends.
    auto others = [first] {
        std::vector<DWORD> found = revisorProcesses();
        found.erase(std::remove(found.begin(), found.end(), first), found.end());
        return found;
    };
    QTRY_COMPARE_WITH_TIMEOUT(others().size(), size_t(1), 20000);
    const DWORD restarted = others().front();

    // A crash within seconds of the restart is reported and not restarted.
    QTest::qWait(3000);
    QVERIFY(crash(restarted));
    QTRY_COMPARE_WITH_TIMEOUT(QDir(m_folder).entryList({"*.txt"}, QDir::Files).size(), 2, 20000);
    QTest::qWait(5000);
    for (DWORD pid : revisorProcesses())
        QVERIFY2(pid == first || pid == restarted, "started a third time");

    QVERIFY(revisor.waitForFinished(180000));
    QVERIFY(!QDir(m_folder).entryList({"*.dmp"}, QDir::Files).isEmpty());
    QVERIFY(QFileInfo(m_folder + "/" + QDir(m_folder).entryList({"*.dmp"}, QDir::Files).first()).size() > 0);
}

QTEST_GUILESS_MAIN(TestCrashReporterWin)
#include "TestCrashReporterWin.moc"
