#include "client/TokenStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

// On Windows the token is kept in a file of the user's own profile folder
// (<AppData>/Quillet/private/access_token), which the profile's access rules
// keep from other users; there is no secret service to ask.

TokenStore::TokenStore() = default;
TokenStore::~TokenStore() = default;

QString TokenStore::filePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quillet/private/access_token");
}

bool TokenStore::usesSecretService()
{
    m_secretService = 0;
    return false;
}

std::optional<QString> TokenStore::read()
{
    if (!m_loaded) {
        m_token = readFile();
        m_loaded = true;
    }
    return m_token;
}

bool TokenStore::write(const QString& token)
{
    m_token = token;
    m_loaded = true;
    return writeFile(token);
}

bool TokenStore::readSecret(std::optional<QString>*)
{
    return false;
}

bool TokenStore::writeSecret(const QString&)
{
    return false;
}

std::optional<QString> TokenStore::readFile()
{
    QFile file(filePath());
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
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(token->toUtf8()) < 0)
        return false;
    return file.commit();
}
