// Which office the Writer bridge talks to and runs, without an office: a
// socket in the office's place that belongs to another user, or that a
// program other than the office listens on, gets no byte; a process that is
// not this user's soffice.bin, or whose profile is not a folder of this user,
// is not asked to open a pipe.

#include "OfficeConnection.h"
#include "OfficePipe.h"
#include "OfficeProcess.h"
#include "PipeSquatter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

class TestOfficePipe : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void socketPathIsTheOffices();
    void refusesSocketsNotOfThisUsersOffice_data();
    void refusesSocketsNotOfThisUsersOffice();
    void profileOption_data();
    void profileOption();
    void rootOwnedPrograms();
    void officeProcessMustBeThisUsersSofficeBin();

private:
    QTemporaryDir m_dir;
};

void TestOfficePipe::initTestCase()
{
    // Profile folders: this user's, a link to it, a file, and (as root) one
    // given to another user.
    QVERIFY(QDir(m_dir.path()).mkdir("profile"));
    QVERIFY(QDir(m_dir.path()).mkdir("other"));
    QVERIFY(QFile::link(m_dir.filePath("profile"), m_dir.filePath("link")));
    QFile file(m_dir.filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    if (::geteuid() == 0)
        QCOMPARE(::chown(QFile::encodeName(m_dir.filePath("other")).constData(), 65534, 65534), 0);
}

void TestOfficePipe::socketPathIsTheOffices()
{
    QCOMPARE(OfficePipe::socketPath(QStringLiteral("quillet-7")),
             QStringLiteral("/tmp/OSL_PIPE_%1_quillet-7").arg(::getuid()));
}

void TestOfficePipe::refusesSocketsNotOfThisUsersOffice_data()
{
    QTest::addColumn<bool>("otherUser");
    QTest::newRow("a socket of another user") << true;
    QTest::newRow("a socket of this user, not the office's") << false;
}

void TestOfficePipe::refusesSocketsNotOfThisUsersOffice()
{
    QFETCH(bool, otherUser);
    if (otherUser && !PipeSquatter::canActAsOtherUser())
        QSKIP("needs root to create a socket as another user");
    const QString name = QStringLiteral("quillet-test-squat-%1").arg(QCoreApplication::applicationPid());
    PipeSquatter squatter;
    QVERIFY2(squatter.start(OfficePipe::socketPath(name), otherUser), qPrintable(squatter.error()));

    QString reason;
    QCOMPARE(OfficePipe::connect(name, &reason), -1);
    QVERIFY(!reason.isEmpty());
    QElapsedTimer timer;
    timer.start();
    bool timedOut = true;
    QVERIFY(!OfficeConnection::connect(name, 5000, &timedOut));
    QVERIFY(!timedOut);
    QVERIFY(timer.elapsed() < 3000);

    // Another user's socket is not even connected to; the program of this
    // user that is not an office is, for its credentials, and hears nothing.
    const PipeSquatter::Report report = squatter.stop();
    QCOMPARE(report.bytes, 0);
    if (otherUser)
        QCOMPARE(report.connections, 0);
}

void TestOfficePipe::profileOption_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<bool>("accepted");
    const QString url = "file://" + m_dir.path();
    QTest::newRow("a folder of this user") << "-env:UserInstallation=" + url + "/profile" << true;
    QTest::newRow("percent-encoded") << "-env:UserInstallation=" + url + "/pro%66ile" << true;
    QTest::newRow("a link to it") << "-env:UserInstallation=" + url + "/link" << false;
    QTest::newRow("a file") << "-env:UserInstallation=" + url + "/file" << false;
    QTest::newRow("missing") << "-env:UserInstallation=" + url + "/missing" << false;
    QTest::newRow("another host") << "-env:UserInstallation=file://elsewhere" + m_dir.path() + "/profile" << false;
    QTest::newRow("not a file URL") << QStringLiteral("-env:UserInstallation=$SYSUSERCONFIG/profile") << false;
    QTest::newRow("a path") << "-env:UserInstallation=" + m_dir.path() + "/profile" << false;
    QTest::newRow("another option") << "-env:Other=" + url + "/profile" << false;
    if (::geteuid() == 0)
        QTest::newRow("another user's folder") << "-env:UserInstallation=" + url + "/other" << false;
}

void TestOfficePipe::profileOption()
{
    QFETCH(QString, option);
    QFETCH(bool, accepted);
    QCOMPARE(OfficeProcess::isOwnProfileOption(option.toUtf8()), accepted);
}

void TestOfficePipe::rootOwnedPrograms()
{
    // A folder anyone may write to does not count, whoever owns the file.
    QTemporaryDir dir;
    QFile program(dir.filePath("soffice"));
    QVERIFY(program.open(QIODevice::WriteOnly));
    program.close();
    QVERIFY(!OfficeProcess::isRootOwned(program.fileName()));
    QVERIFY(!OfficeProcess::isRootOwned(dir.filePath("missing")));
    QVERIFY(OfficeProcess::isRootOwned(QStringLiteral("/")));
    if (QFileInfo(QStringLiteral("/usr/bin/env")).ownerId() == 0)
        QVERIFY(OfficeProcess::isRootOwned(QStringLiteral("/usr/bin/env")));
}

void TestOfficePipe::officeProcessMustBeThisUsersSofficeBin()
{
    // Not an office at all.
    QVERIFY(!OfficeProcess::find(QCoreApplication::applicationPid()));
    QVERIFY(!OfficeProcess::find(0));
    QVERIFY(!OfficeProcess::isOwnOffice(QCoreApplication::applicationPid()));

    // A program named soffice.bin (a copy of tail, waiting on /dev/null), run
    // with a profile of this user's and with another.
    QTemporaryDir dir;
    // Open to the user nobody, who runs it below.
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                                  QFileDevice::ExeGroup | QFileDevice::ExeOther));
    const QString fake = dir.filePath("soffice.bin");
    QVERIFY(QFile::copy(QStringLiteral("/usr/bin/tail"), fake));
    QVERIFY(QFile::setPermissions(fake, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                                            QFileDevice::ReadGroup | QFileDevice::ExeOther | QFileDevice::ReadOther));
    QVERIFY(QDir(dir.path()).mkdir("profile"));
    const QString profile = "-env:UserInstallation=file://" + dir.filePath("profile");
    auto run = [&](QProcess& process, const QStringList& arguments) {
        process.start(fake, arguments);
        QVERIFY(process.waitForStarted());
    };
    QProcess own;
    run(own, {"-f", "--", "/dev/null", profile});
    const auto found = OfficeProcess::find(own.processId());
    // Beside it there is no root-owned soffice: soffice comes from PATH.
    QCOMPARE(found.has_value(), !QStandardPaths::findExecutable("soffice").isEmpty());
    if (found) {
        QCOMPARE(found->soffice, QStandardPaths::findExecutable("soffice"));
        QCOMPARE(found->profileOption, profile);
    }
    QVERIFY(OfficeProcess::isOwnOffice(own.processId()));

    // A profile that is not a folder of this user: not asked at all.
    QProcess foreignProfile;
    run(foreignProfile, {"-f", "--", "/dev/null", "-env:UserInstallation=file:///nonexistent"});
    QVERIFY(!OfficeProcess::find(foreignProfile.processId()));

    // Run by another user: neither asked nor connected to.
    if (PipeSquatter::canActAsOtherUser()) {
        QProcess other;
        other.start(QStringLiteral("setpriv"),
                    {"--reuid=65534", "--regid=65534", "--clear-groups", fake, "-f", "/dev/null"});
        QVERIFY(other.waitForStarted());
        QTRY_VERIFY(QFileInfo(QStringLiteral("/proc/%1/exe").arg(other.processId())).symLinkTarget() == fake);
        QVERIFY(!OfficeProcess::find(other.processId()));
        QVERIFY(!OfficeProcess::isOwnOffice(other.processId()));
        other.kill();
        other.waitForFinished();
    }
    for (QProcess* process : {&own, &foreignProfile}) {
        process->kill();
        process->waitForFinished();
    }
}

QTEST_GUILESS_MAIN(TestOfficePipe)
#include "TestOfficePipe.moc"
