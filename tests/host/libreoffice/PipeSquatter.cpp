#include "PipeSquatter.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;

// The child: only system calls from here on. Each connection from the
// process that started it is reported as 'c', each byte received on one as
// 'b'; "r" once it listens. (Others may connect too: an office checks whether
// the name is taken before it opens a pipe of that name.)
[[noreturn]] void squat(const QByteArray& path, bool asOtherUser, int report)
{
    const pid_t starter = ::getppid();
    if (asOtherUser && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
        ::_exit(2);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener, 8) != 0)
        ::_exit(3);
    if (::write(report, "r", 1) != 1)
        ::_exit(4);
    struct pollfd fds[16] = {};
    int count = 1;
    fds[0].fd = listener;
    fds[0].events = POLLIN;
    for (;;) {
        if (::poll(fds, nfds_t(count), -1) < 0)
            continue;
        if ((fds[0].revents & POLLIN) && count < 16) {
            const int connection = ::accept(listener, nullptr, nullptr);
            struct ucred peer = {};
            socklen_t size = sizeof(peer);
            const bool fromStarter = connection >= 0 &&
                                     ::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
                                     peer.pid == starter;
            if (connection >= 0 && !fromStarter)
                ::close(connection);
            if (fromStarter) {
                fds[count].fd = connection;
                fds[count].events = POLLIN;
                ++count;
                if (::write(report, "c", 1) != 1)
                    ::_exit(4);
            }
        }
        for (int i = 1; i < count; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[512];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof(buffer));
            for (ssize_t k = 0; k < n; ++k) {
                if (::write(report, "b", 1) != 1)
                    ::_exit(4);
            }
            if (n <= 0)
                fds[i].fd = -1;
        }
    }
}

} // namespace

PipeSquatter::~PipeSquatter()
{
    stop();
}

bool PipeSquatter::canActAsOtherUser()
{
    return ::geteuid() == 0;
}

bool PipeSquatter::start(const QString& path, bool asOtherUser)
{
    m_path = path;
    QFile::remove(path);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        m_error = QStringLiteral("no pipe");
        return false;
    }
    const QByteArray encoded = QFile::encodeName(path);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::close(fds[0]);
        squat(encoded, asOtherUser, fds[1]);
    }
    ::close(fds[1]);
    m_report = fds[0];
    char ready = 0;
    if (m_pid < 0 || ::read(m_report, &ready, 1) != 1 || ready != 'r') {
        m_error = QStringLiteral("the squatter did not start listening on %1").arg(path);
        return false;
    }
    return true;
}

PipeSquatter::Report PipeSquatter::stop()
{
    Report report;
    if (m_pid <= 0)
        return report;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = 0;
    char buffer[256];
    ssize_t n = 0;
    while ((n = ::read(m_report, buffer, sizeof(buffer))) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == 'c')
                ++report.connections;
            else if (buffer[i] == 'b')
                ++report.bytes;
        }
    }
    ::close(m_report);
    m_report = -1;
    QFile::remove(m_path);
    return report;
}
