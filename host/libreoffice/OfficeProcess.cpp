#include "OfficeProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kProfileOption = QByteArrayLiteral("-env:UserInstallation=");

// The real and effective uid of pid, from /proc/<pid>/status ("Uid:\treal\teffective\t…").
bool processUids(qint64 pid, uid_t* real, uid_t* effective)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith("Uid:"))
            continue;
        const QList<QByteArray> fields = line.mid(4).simplified().split(' ');
        if (fields.size() < 2)
            return false;
        bool okReal = false;
        bool okEffective = false;
        *real = fields.at(0).toUInt(&okReal);
        *effective = fields.at(1).toUInt(&okEffective);
        return okReal && okEffective;
    }
    return false;
}

// The program of pid when it is a soffice.bin run by this user; empty otherwise.
QString ownOfficeProgram(qint64 pid)
{
    if (pid <= 0)
        return {};
    uid_t real = 0;
    uid_t effective = 0;
    if (!processUids(pid, &real, &effective) || real != ::getuid() || effective != ::getuid())
        return {};
    const QString executable = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    if (QFileInfo(executable).fileName() != QLatin1String("soffice.bin"))
        return {};
    return executable;
}

bool changeableByRootAlone(const struct stat& info)
{
    return info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

bool OfficeProcess::isRootOwned(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        return false;
    QString at = canonical;
    for (;;) {
        struct stat info = {};
        if (::lstat(QFile::encodeName(at).constData(), &info) != 0 || !changeableByRootAlone(info))
            return false;
        if (at == QLatin1String("/"))
            return true;
        const int slash = at.lastIndexOf(QLatin1Char('/'));
        at = slash <= 0 ? QStringLiteral("/") : at.left(slash);
    }
}

bool OfficeProcess::isOwnProfileOption(const QByteArray& option)
{
    if (!option.startsWith(kProfileOption))
        return false;
    const QUrl url(QString::fromUtf8(option.mid(kProfileOption.size())), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("file") || !url.host().isEmpty())
        return false;
    const QString folder = url.toLocalFile();
    if (!QDir::isAbsolutePath(folder))
        return false;
    struct stat info = {};
    return ::lstat(QFile::encodeName(folder).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid();
}

bool OfficeProcess::isOwnOffice(qint64 pid)
{
    return !ownOfficeProgram(pid).isEmpty();
}

std::optional<OfficeProcess> OfficeProcess::find(qint64 pid)
{
    const QString executable = ownOfficeProgram(pid);
    if (executable.isEmpty())
        return std::nullopt;
    OfficeProcess office;
    office.pid = pid;
    const QString beside = QFileInfo(executable).dir().filePath(QStringLiteral("soffice"));
    if (QFileInfo(beside).isExecutable() && isRootOwned(beside))
        office.soffice = beside;
    else
        office.soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (office.soffice.isEmpty())
        return std::nullopt;

    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!cmdline.open(QIODevice::ReadOnly))
        return std::nullopt;
    for (const QByteArray& argument : cmdline.readAll().split('\0')) {
        if (!argument.startsWith(kProfileOption))
            continue;
        if (!isOwnProfileOption(argument))
            return std::nullopt;
        office.profileOption = QString::fromUtf8(argument);
    }
    // The process may have ended and its pid been reused while it was read.
    if (ownOfficeProgram(pid) != executable)
        return std::nullopt;
    return office;
}
