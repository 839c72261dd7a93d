#include "client/TokenStore.h"

#include <qt5keychain/keychain.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcToken, "quillet.token", QtInfoMsg)

namespace {

const QString kService = QStringLiteral("Quillet");
const QString kKey = QStringLiteral("access_token");
constexpr int kBusTimeout = 1500; // ms for connecting to the session bus and asking it

// Whether a secret service runs on the session bus now (one that the bus
// would only start on demand is not asked: it may want a password prompt no
// one sees). The bus is asked on a thread of its own: a bus that does not
// answer costs kBusTimeout, not a hang.
bool secretServiceRuns()
{
    QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (address.isEmpty() && !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus")))
        address = QStringLiteral("unix:path=") + runtime + QStringLiteral("/bus");
    if (address.isEmpty())
        return false;

    struct Probe
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool runs = false;
    };
    const auto probe = std::make_shared<Probe>();
    std::thread([probe, address] {
        bool runs = false;
        {
            const QString name = QStringLiteral("quillet-secret-probe");
            QDBusConnection bus = QDBusConnection::connectToBus(address, name);
            if (bus.isConnected()) {
                QDBusMessage ask = QDBusMessage::createMethodCall(
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
                ask << QStringLiteral("org.freedesktop.secrets");
                const QDBusMessage reply = bus.call(ask, QDBus::Block, kBusTimeout);
                runs = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                       reply.arguments().first().toBool();
            }
            QDBusConnection::disconnectFromBus(name);
        }
        std::lock_guard<std::mutex> lock(probe->mutex);
        probe->finished = true;
        probe->runs = runs;
        probe->done.notify_one();
    }).detach();
    std::unique_lock<std::mutex> lock(probe->mutex);
    probe->done.wait_for(lock, std::chrono::milliseconds(kBusTimeout + 500), [&] { return probe->finished; });
    return probe->finished && probe->runs;
}

// Runs job and waits for it at most timeoutMs; false when it failed or did
// not finish. A job that does not finish is left to end (and delete itself)
// on its own.
bool runJob(QKeychain::Job* job, int timeoutMs)
{
    QEventLoop loop;
    bool finished = false;
    bool ok = false;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job* done) {
        finished = true;
        ok = done->error() == QKeychain::NoError || done->error() == QKeychain::EntryNotFound;
        if (!ok)
            qCInfo(lcToken) << "the secret service failed:" << done->errorString();
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    job->start();
    if (!finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return finished && ok;
}

// The folder of the token file, made (or tightened to) mode 0700; false when
// it is not a folder of this user's (a link, someone else's).
bool preparePrivateFolder(const QString& folder)
{
    const QByteArray path = QFile::encodeName(folder);
    struct stat info = {};
    if (::lstat(path.constData(), &info) != 0) {
        if (!QDir().mkpath(folder) || ::lstat(path.constData(), &info) != 0)
            return false;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return false;
    return (info.st_mode & 0777) == 0700 || ::chmod(path.constData(), 0700) == 0;
}

} // namespace

TokenStore::TokenStore() = default;
TokenStore::~TokenStore() = default;

QString TokenStore::filePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quillet/private/access_token");
}

bool TokenStore::usesSecretService()
{
    if (m_secretService < 0)
        m_secretService = secretServiceRuns() ? 1 : 0;
    return m_secretService == 1;
}

std::optional<QString> TokenStore::read()
{
    if (m_loaded)
        return m_token;
    std::optional<QString> token;
    if (!(usesSecretService() && readSecret(&token) && token))
        token = readFile();
    m_token = token;
    m_loaded = true;
    return m_token;
}

bool TokenStore::write(const QString& token)
{
    m_token = token;
    m_loaded = true;
    if (usesSecretService() && writeSecret(token)) {
        // One home for the token: no copy stays in the file.
        writeFile(std::nullopt);
        return true;
    }
    return writeFile(token);
}

bool TokenStore::readSecret(std::optional<QString>* token)
{
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(kKey);
    job->setInsecureFallback(false);
    if (!runJob(job, kSecretServiceTimeout)) {
        qCInfo(lcToken) << "the secret service did not answer; the token file is used";
        m_secretService = 0;
        return false;
    }
    if (job->error() == QKeychain::NoError)
        *token = job->textData();
    else
        token->reset();
    return true;
}

bool TokenStore::writeSecret(const QString& token)
{
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setTextData(token);
    job->setKey(kKey);
    job->setInsecureFallback(false);
    if (!runJob(job, kSecretServiceTimeout)) {
        qCInfo(lcToken) << "the secret service did not store the token; the token file is used";
        m_secretService = 0;
        return false;
    }
    return true;
}

std::optional<QString> TokenStore::readFile()
{
    const QString path = filePath();
    struct stat info = {};
    // Only a file of this user's that no one else may read counts.
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != ::getuid() || (info.st_mode & 0077) != 0)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromUtf8(file.readAll()).trimmed();
}

bool TokenStore::writeFile(const std::optional<QString>& token)
{
    const QString path = filePath();
    if (!token) {
        QFile::remove(path);
        return !QFileInfo::exists(path);
    }
    if (!preparePrivateFolder(QFileInfo(path).path())) {
        qCWarning(lcToken) << "the token is kept in memory only: no private folder for" << path;
        return false;
    }
    // QSaveFile writes a new file beside it (in the private folder), made 0600
    // before it takes the old one's place at once.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(token->toUtf8()) < 0)
        return false;
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    return file.commit();
}
