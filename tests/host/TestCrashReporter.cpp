#include "crash/CrashReporter.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <thread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// The real Revisor with its crash reporter: a fatal signal leaves a report in
// Documents/Quillet/crash and the program running again, once for each start
// by the user; the folder keeps the newest reports. A stack overflow on a
// thread other than the main one is reported as well, and no crash leaves a
// core file behind.
class TestCrashReporter : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void crashRestartsOncePerStartAndKeepsNewestReports();
    void threadStackOverflowIsReportedWithoutCore();
    void runsWithoutDocumentsFolder();

private:
    void start(QProcess& process, const QString& home);
    static QStringList reports(const QString& folder);
    static QStringList cores(const QString& folder);
};

namespace {

const char kOverflowChild[] = "--overflow-on-a-thread";

volatile int s_never = 0;

int overflow(int depth)
{
    volatile char frame[4096];
    frame[0] = char(depth);
    if (s_never)
        return 0;
    return overflow(depth + 1) + frame[0];
}

// This test program started again as the crashing program: the reporter in
// place, a stack overflow on a thread of its own.
int runOverflowChild()
{
    installCrashReporter("Quillet");
    std::thread thread([] { overflow(0); });
    thread.join();
    return 0;
}

} // namespace

void TestCrashReporter::initTestCase()
{
    // Programs started from here may write cores, as on a developer's machine:
    // whether a crash leaves one is then the crash reporter's doing.
    struct rlimit limit = {};
    QVERIFY(::getrlimit(RLIMIT_CORE, &limit) == 0);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_CORE, &limit);
}

QStringList TestCrashReporter::reports(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("crash-*.txt")}, QDir::Files, QDir::Name);
}

QStringList TestCrashReporter::cores(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("core*")}, QDir::Files);
}

void TestCrashReporter::start(QProcess& process, const QString& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    env.remove("DISPLAY");
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(home);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(QUILLET_REVISOR), QStringList());
    QVERIFY(process.waitForStarted());
    // Long enough for the window to be up and the event loop to run.
    QTest::qWait(1500);
    QCOMPARE(process.state(), QProcess::Running);
}

void TestCrashReporter::crashRestartsOncePerStartAndKeepsNewestReports()
{
    QTemporaryDir home;
    const QString folder = home.path() + "/Documents/Quillet/crash";
    QVERIFY(QDir().mkpath(folder));
    // 25 reports of earlier crashes, a day apart, and a file of the user's.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < 25; ++i) {
        QFile old(QStringLiteral("%1/crash-%2-100.txt").arg(folder).arg(1000 + i));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old report\n");
        QVERIFY(old.setFileTime(now.addDays(i - 30), QFileDevice::FileModificationTime));
    }
    QFile notes(folder + "/notes.txt");
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.close();

    QProcess process;
    start(process, home.path());

    // Reports of this run are named by today's time, the old ones crash-10xx.
    const QRegularExpression thisRun("^crash-(?!10\\d\\d-)");
    ::kill(pid_t(process.processId()), SIGSEGV);
    QTRY_COMPARE(reports(folder).filter(thisRun).size(), 1);
    QTest::qWait(1500);
    QCOMPARE(process.state(), QProcess::Running);

    QStringList fresh = reports(folder).filter(thisRun);
    QFile report(folder + "/" + fresh.first());
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(report.readAll());
    QVERIFY2(text.contains("signal: 11 SIGSEGV"), qPrintable(text));
    QVERIFY(text.contains("version: 2.2"));
    QVERIFY(text.contains("restarted: no"));
    QVERIFY(text.contains(QRegularExpression("time: 20\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC")));
    QVERIFY(text.section("backtrace:\n", 1).count('\n') >= 3);

    // However long the restarted program has run, its crash ends it.
    QTest::qWait(11000);
    QCOMPARE(process.state(), QProcess::Running);
    ::kill(pid_t(process.processId()), SIGSEGV);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);

    // The newest 20 reports remain: both of this run's and the 18 newest old
    // ones; the user's file stays.
    const QStringList left = reports(folder);
    QCOMPARE(left.size(), 20);
    fresh = left.filter(thisRun);
    QCOMPARE(fresh.size(), 2);
    QVERIFY(left.contains("crash-1007-100.txt"));
    QVERIFY(!left.contains("crash-1006-100.txt"));
    QVERIFY(QFile::exists(folder + "/notes.txt"));
    QFile second(folder + "/" + fresh.last());
    QVERIFY(second.open(QIODevice::ReadOnly));
    QVERIFY(second.readAll().contains("restarted: after an earlier crash"));
    QCOMPARE(cores(home.path()), QStringList());
}

void TestCrashReporter::threadStackOverflowIsReportedWithoutCore()
{
    QTemporaryDir home;
    QVERIFY(QDir(home.path()).mkdir("Documents"));
    const QString folder = home.path() + "/Documents/Quillet/crash";

    // Started by hand, not by QProcess: the wait status tells whether the
    // kernel wrote a core.
    const QByteArray homeEntry = "HOME=" + QFile::encodeName(home.path());
    const QByteArray configEntry = "XDG_CONFIG_HOME=" + QFile::encodeName(home.path()) + "/.config";
    const QByteArray program = QFile::encodeName(QCoreApplication::applicationFilePath());
    const pid_t pid = ::fork();
    QVERIFY(pid >= 0);
    if (pid == 0) {
        if (::chdir(home.path().toLocal8Bit().constData()) != 0)
            ::_exit(100);
        char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(kOverflowChild), nullptr};
        char* envp[] = {const_cast<char*>(homeEntry.constData()), const_cast<char*>(configEntry.constData()),
                        const_cast<char*>("LANG=C.UTF-8"), nullptr};
        ::execve(argv[0], argv, envp);
        ::_exit(101);
    }
    int status = 0;
    QElapsedTimer timer;
    timer.start();
    pid_t ended = 0;
    while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 && timer.elapsed() < 20000)
        QTest::qWait(50);
    if (ended == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        QFAIL("the crashing program did not end");
    }

    // Reported, restarted once (the restarted program overflows again and
    // is reported again), then ended by the signal, without a core.
    QVERIFY2(WIFSIGNALED(status), qPrintable(QString::number(status)));
    QCOMPARE(WTERMSIG(status), SIGSEGV);
    QVERIFY(!WCOREDUMP(status));
    QCOMPARE(cores(home.path()), QStringList());
    const QStringList written = reports(folder);
    QCOMPARE(written.size(), 2);
    for (const QString& name : written) {
        QFile report(folder + "/" + name);
        QVERIFY(report.open(QIODevice::ReadOnly));
        const QByteArray text = report.readAll();
        QVERIFY2(text.contains("signal: 11 SIGSEGV"), text.constData());
        QVERIFY(text.contains("backtrace:\n"));
    }
}

void TestCrashReporter::runsWithoutDocumentsFolder()
{
    QTemporaryDir home;
    QProcess process;
    start(process, home.path());
    QVERIFY(!QDir(home.path() + "/Documents").exists());
    process.terminate();
    QVERIFY(process.waitForFinished(10000));
}

int main(int argc, char* argv[])
{
    if (argc == 2 && std::strcmp(argv[1], kOverflowChild) == 0)
        return runOverflowChild();
    QCoreApplication app(argc, argv);
    TestCrashReporter test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "TestCrashReporter.moc"
