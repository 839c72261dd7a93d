#pragma once

#include <string>

namespace quillet {

// A copy of a file in anonymous memory (a memfd), named by a path the
// libraries can open. The model libraries map their files: a mapping of the
// installed file dies with SIGBUS when a package upgrade or an operator
// truncates or rewrites that file. Reading from the copy, nothing done to the
// file on disk afterwards reaches the service; the copy is freed once it is
// closed and no longer mapped.
class PrivateCopy
{
public:
    PrivateCopy() = default;
    PrivateCopy(const PrivateCopy&) = delete;
    PrivateCopy& operator=(const PrivateCopy&) = delete;
    ~PrivateCopy() { close(); }

    // False when the file cannot be read or the memory not had.
    bool copy(const std::string& source);
    // A path that opens the copy while it is open.
    std::string path() const { return "/proc/self/fd/" + std::to_string(m_fd); }
    void close();

private:
    int m_fd = -1;
};

} // namespace quillet
