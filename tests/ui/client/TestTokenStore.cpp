// Where the login's access token is kept: never in the settings file, but in
// the desktop's secret service or, without one (as here), in a file only this
// user may read, in a folder only this user may enter. The settings key keeps
// working, a token an earlier version left in the settings file moves out,
// and a session bus that does not answer holds nothing up.

#include "client/CConfig.h"
#include "client/TokenStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

class TestTokenStore : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void tokenLivesInPrivateFileNotSettings();
    void plainTokenOfEarlierVersionMovesOut();
    void looseModesAreTightened();
    void foreignOrLinkedPlacesAreNotUsed_data();
    void foreignOrLinkedPlacesAreNotUsed();
    void silentSessionBusHoldsNothingUp();
    void runningSecretServiceHoldsIt();

private:
    static QString settingsFile();
    static int mode(const QString& path);
    static QString privateFolder() { return QFileInfo(TokenStore::filePath()).path(); }
};

QString TestTokenStore::settingsFile()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quillet", "Office").fileName();
}

int TestTokenStore::mode(const QString& path)
{
    struct stat info = {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

void TestTokenStore::init()
{
    QFile::remove(settingsFile());
    QDir(privateFolder()).removeRecursively();
    QFile::remove(privateFolder());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

void TestTokenStore::tokenLivesInPrivateFileNotSettings()
{
    {
        CConfig config;
        QVERIFY(!TokenStore().usesSecretService());
        QCOMPARE(config.getValueString("access_token", "none"), QString("none"));
        config.setValueString("user_name", "someone");
        config.setValueString("access_token", "tok-1");
        config.sync();
        QCOMPARE(config.getValueString("access_token", ""), QString("tok-1"));
    }
    QFile settings(settingsFile());
    QVERIFY(settings.open(QIODevice::ReadOnly));
    const QByteArray stored = settings.readAll();
    QVERIFY(stored.contains("someone"));
    QVERIFY2(!stored.contains("tok-1") && !stored.contains("access_token"), stored.constData());
    QCOMPARE(mode(TokenStore::filePath()), 0600);
    QCOMPARE(mode(privateFolder()), 0700);

    // A later run reads it back; a logout leaves an empty token, not none.
    {
        CConfig config;
        QCOMPARE(config.getValueString("access_token", ""), QString("tok-1"));
        config.setValueString("access_token", "");
    }
    CConfig config;
    QCOMPARE(config.getValueString("access_token", "none"), QString());
    QCOMPARE(config.getValueString("user_name", ""), QString("someone"));
}

void TestTokenStore::plainTokenOfEarlierVersionMovesOut()
{
    {
        QSettings old(QSettings::NativeFormat, QSettings::UserScope, "Quillet", "Office");
        old.setValue("access_token", "old-token");
        old.setValue("is_vip", true);
    }
    {
        CConfig config;
        QCOMPARE(config.getValueString("access_token", ""), QString("old-token"));
        QVERIFY(config.getValueBool("is_vip", false));
    }
    QSettings after(QSettings::NativeFormat, QSettings::UserScope, "Quillet", "Office");
    QVERIFY(!after.contains("access_token"));
    QVERIFY(after.value("is_vip").toBool());
    QCOMPARE(mode(TokenStore::filePath()), 0600);
    QCOMPARE(CConfig().getValueString("access_token", ""), QString("old-token"));
}

void TestTokenStore::looseModesAreTightened()
{
    // A folder and file left open to others (by hand, another program).
    QVERIFY(QDir().mkpath(privateFolder()));
    QVERIFY(::chmod(QFile::encodeName(privateFolder()).constData(), 0755) == 0);
    QFile loose(TokenStore::filePath());
    QVERIFY(loose.open(QIODevice::WriteOnly));
    loose.write("read-by-all");
    loose.close();
    QVERIFY(::chmod(QFile::encodeName(TokenStore::filePath()).constData(), 0644) == 0);

    // A token others could read is not taken.
    CConfig config;
    QCOMPARE(config.getValueString("access_token", "none"), QString("none"));
    config.setValueString("access_token", "tok-2");
    QCOMPARE(mode(privateFolder()), 0700);
    QCOMPARE(mode(TokenStore::filePath()), 0600);
    QCOMPARE(CConfig().getValueString("access_token", ""), QString("tok-2"));
}

void TestTokenStore::foreignOrLinkedPlacesAreNotUsed_data()
{
    QTest::addColumn<bool>("link");
    QTest::newRow("folder is a link") << true;
    QTest::newRow("folder of another user") << false;
}

void TestTokenStore::foreignOrLinkedPlacesAreNotUsed()
{
    QFETCH(bool, link);
    QTemporaryDir elsewhere;
    QVERIFY(QDir().mkpath(QFileInfo(privateFolder()).path()));
    if (link) {
        QVERIFY(QFile::link(elsewhere.path(), privateFolder()));
    } else {
        if (::geteuid() != 0)
            QSKIP("needs root to give a folder to another user");
        QVERIFY(QDir().mkpath(privateFolder()));
        QVERIFY(::chown(QFile::encodeName(privateFolder()).constData(), 65534, 65534) == 0);
    }
    {
        CConfig config;
        config.setValueString("access_token", "tok-3");
        // Kept for this run, written nowhere.
        QCOMPARE(config.getValueString("access_token", ""), QString("tok-3"));
    }
    QVERIFY(QDir(elsewhere.path()).isEmpty());
    QVERIFY(!QFileInfo::exists(TokenStore::filePath()));
    QFile settings(settingsFile());
    QVERIFY(!settings.open(QIODevice::ReadOnly) || !settings.readAll().contains("tok-3"));
    QCOMPARE(CConfig().getValueString("access_token", "none"), QString("none"));
}

void TestTokenStore::silentSessionBusHoldsNothingUp()
{
    // A session bus that takes connections and never answers.
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath("bus"));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0);
    QVERIFY(::listen(listener, 4) == 0);
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + path);

    QElapsedTimer timer;
    timer.start();
    {
        CConfig config;
        config.setValueString("access_token", "tok-4");
        QCOMPARE(config.getValueString("access_token", ""), QString("tok-4"));
    }
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(mode(TokenStore::filePath()), 0600);
    ::close(listener);
}

void TestTokenStore::runningSecretServiceHoldsIt()
{
    // A private session bus with an unlocked keyring on it, where the
    // programs are installed (not in CI).
    const QString busDaemon = QStandardPaths::findExecutable("dbus-daemon");
    const QString keyring = QStandardPaths::findExecutable("gnome-keyring-daemon");
    if (busDaemon.isEmpty() || keyring.isEmpty())
        QSKIP("needs dbus-daemon and gnome-keyring-daemon");
    QProcess bus;
    bus.start(busDaemon, {"--session", "--nofork", "--print-address=1"});
    QVERIFY(bus.waitForStarted());
    QTRY_VERIFY(bus.canReadLine());
    const QByteArray address = bus.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    QProcess secrets;
    secrets.start(keyring, {"--unlock", "--components=secrets", "--foreground"});
    QVERIFY(secrets.waitForStarted());
    secrets.write("quillet"); // the password of a new login keyring, unlocked
    secrets.closeWriteChannel();
    QTRY_VERIFY_WITH_TIMEOUT(TokenStore().usesSecretService(), 10000);

    {
        CConfig config;
        config.setValueString("access_token", "tok-5");
    }
    QVERIFY(!QFileInfo::exists(TokenStore::filePath()));
    QFile settings(settingsFile());
    QVERIFY(!settings.open(QIODevice::ReadOnly) || !settings.readAll().contains("tok-5"));
    QCOMPARE(CConfig().getValueString("access_token", ""), QString("tok-5"));

    secrets.kill();
    secrets.waitForFinished();
    bus.kill();
    bus.waitForFinished();
}

QTEST_GUILESS_MAIN(TestTokenStore)
#include "TestTokenStore.moc"
