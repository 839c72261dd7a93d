#include "OfficePipe.h"
#include "OfficeProcess.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A folder in which only its owner (root, or this user) can remove or rename
// the entries of others.
bool isSafeFolder(const struct stat& folder)
{
    if (!S_ISDIR(folder.st_mode) || (folder.st_uid != 0 && folder.st_uid != ::getuid()))
        return false;
    return (folder.st_mode & S_ISVTX) != 0 || (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

QString OfficePipe::socketPath(const QString& pipeName)
{
    // The office's pipes go to /tmp, or to /var/tmp when /tmp cannot be written.
    const char* folder = ::access("/tmp", W_OK) == 0 ? "/tmp" : "/var/tmp";
    return QStringLiteral("%1/OSL_PIPE_%2_%3").arg(QLatin1String(folder)).arg(::getuid()).arg(pipeName);
}

int OfficePipe::connect(const QString& pipeName, QString* reason)
{
    const QString path = socketPath(pipeName);
    const QByteArray encoded = QFile::encodeName(path);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (pipeName.isEmpty() || encoded.size() >= int(sizeof(address.sun_path))) {
        *reason = QStringLiteral("no pipe name, or one too long");
        return -1;
    }
    std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()) + 1);

    struct stat socketInfo = {};
    if (::lstat(encoded.constData(), &socketInfo) != 0) {
        *reason = QStringLiteral("no socket %1").arg(path);
        return -1;
    }
    if (!S_ISSOCK(socketInfo.st_mode) || socketInfo.st_uid != ::getuid()) {
        *reason = QStringLiteral("%1 is not a socket of this user").arg(path);
        return -1;
    }
    struct stat folderInfo = {};
    const QByteArray folder = QFile::encodeName(QFileInfo(path).path());
    if (::lstat(folder.constData(), &folderInfo) != 0 || !isSafeFolder(folderInfo)) {
        *reason = QStringLiteral("others may replace the sockets in %1").arg(QFileInfo(path).path());
        return -1;
    }

    // Without blocking: a listener that never accepts (its queue full) must
    // not hold the caller.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *reason = QStringLiteral("no socket: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return -1;
    }
    int result = 0;
    do {
        result = ::connect(fd, reinterpret_cast<const struct sockaddr*>(&address), sizeof(address));
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        *reason = QStringLiteral("cannot connect to %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        *reason = QStringLiteral("cannot use the socket of %1").arg(path);
        ::close(fd);
        return -1;
    }
    // The socket connected to may differ from the one looked at (replaced in
    // between by this user's own programs only): the listener's credentials
    // decide.
    struct ucred peer = {};
    socklen_t size = sizeof(peer);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::getuid() ||
        !OfficeProcess::isOwnOffice(peer.pid)) {
        *reason = QStringLiteral("%1 is not served by an office of this user (pid %2, uid %3)")
                      .arg(path)
                      .arg(peer.pid)
                      .arg(peer.uid);
        ::close(fd);
        return -1;
    }
    return fd;
}
