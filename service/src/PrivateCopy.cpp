#include "PrivateCopy.h"

#include <cerrno>
#include <vector>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <unistd.h>

namespace quillet {

bool PrivateCopy::copy(const std::string& source)
{
    close();
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    m_fd = memfd_create("quillet-model", MFD_CLOEXEC);
    bool ok = m_fd >= 0;
    // The kernel copies without a round trip through our memory; should
    // it refuse, the copy is read and written here.
    bool copied = false;
    while (ok) {
        const ssize_t sent = sendfile(m_fd, in, nullptr, 1 << 30);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0) {
            copied = sent == 0;
            break;
        }
    }
    if (ok && !copied && (lseek(in, 0, SEEK_SET) != 0 || ftruncate(m_fd, 0) != 0 || lseek(m_fd, 0, SEEK_SET) != 0))
        ok = false;
    std::vector<char> buffer(copied ? 0 : 1 << 20);
    while (ok && !copied) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < got;) {
            const ssize_t put = ::write(m_fd, buffer.data() + done, size_t(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            ok = put > 0;
            done += put > 0 ? put : 0;
        }
    }
    ::close(in);
    if (!ok)
        close();
    return ok;
}

void PrivateCopy::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace quillet
