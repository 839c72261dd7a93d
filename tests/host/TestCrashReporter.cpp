#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// The real Revisor with its crash reporter: a fatal signal leaves a report in
// Documents/Quillet/crash and the program running again; a second crash right
// after ends it instead of looping.
class TestCrashReporter : public QObject
{
    Q_OBJECT
private slots:
    void crashWritesReportAndRestartsOnce();
    void runsWithoutDocumentsFolder();

private:
    void start(QProcess& process, const QString& home);
};

void TestCrashReporter::start(QProcess& process, const QString& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    env.remove("DISPLAY");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(QUILLET_REVISOR), QStringList());
    QVERIFY(process.waitForStarted());
    // Long enough for the window to be up and the event loop to run.
    QTest::qWait(1500);
    QCOMPARE(process.state(), QProcess::Running);
}

void TestCrashReporter::crashWritesReportAndRestartsOnce()
{
    QTemporaryDir home;
    QVERIFY(QDir(home.path()).mkdir("Documents"));
    const QString folder = home.path() + "/Documents/Quillet/crash";
    QProcess process;
    start(process, home.path());
    QVERIFY(QDir(folder).exists());

    ::kill(pid_t(process.processId()), SIGSEGV);
    QTRY_COMPARE(QDir(folder).entryList(QDir::Files).size(), 1);
    QTest::qWait(1500);
    QCOMPARE(process.state(), QProcess::Running);

    QFile report(folder + "/" + QDir(folder).entryList(QDir::Files).first());
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(report.readAll());
    QVERIFY2(text.contains("signal: 11 SIGSEGV"), qPrintable(text));
    QVERIFY(text.contains("version: 2.2"));
    QVERIFY(text.contains("restarted: no"));
    QVERIFY(text.contains(QRegularExpression("time: 20\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC")));
    QVERIFY(text.section("backtrace:\n", 1).count('\n') >= 3);

    // Crashing again within seconds of the restart ends the program.
    ::kill(pid_t(process.processId()), SIGSEGV);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);
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

QTEST_GUILESS_MAIN(TestCrashReporter)
#include "TestCrashReporter.moc"
