#pragma once

#include <string>
#include <vector>

namespace quillet {

// A throw-away PostgreSQL server for tests: a fresh cluster in a temporary
// folder (initdb and pg_ctl from Debian's postgresql package), listening on
// 127.0.0.1 on a free port with trust authentication, stopped and removed
// with the object. When the process runs as root the server runs as the
// unprivileged user "nobody" (PostgreSQL refuses to run as root).
class TempPostgres
{
public:
    TempPostgres() = default;
    ~TempPostgres();
    TempPostgres(const TempPostgres&) = delete;
    TempPostgres& operator=(const TempPostgres&) = delete;

    // Creates and starts the server; false with a reason in error.
    bool start(std::string* error);
    void stop();
    int port() const { return m_port; }
    // Creates an empty database and answers its URL; empty on failure.
    std::string createDatabase(const std::string& name);
    // The URL of the default database "postgres".
    std::string url(const std::string& database = "postgres") const;

    // A TCP port on 127.0.0.1 that was free a moment ago.
    static int freePort();
    // The folder with initdb and pg_ctl of the newest installed PostgreSQL; empty when none is.
    static std::string binaryFolder();

private:
    int runAsServerUser(const std::vector<std::string>& argv) const;

    std::string m_folder;
    std::string m_binaries;
    int m_port = 0;
    bool m_running = false;
    unsigned m_uid = 0;
    unsigned m_gid = 0;
};

} // namespace quillet
