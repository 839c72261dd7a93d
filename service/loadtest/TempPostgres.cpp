#include "TempPostgres.h"

#include <libpq-fe.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace quillet {

int TempPostgres::freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

TempPostgres::~TempPostgres()
{
    stop();
}

std::string TempPostgres::binaryFolder()
{
    std::error_code ec;
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
        if (std::filesystem::exists(entry.path() / "bin" / "initdb"))
            found.push_back(entry.path().filename().string());
    }
    if (found.empty())
        return {};
    std::sort(found.begin(), found.end(),
              [](const std::string& a, const std::string& b) { return std::atoi(a.c_str()) < std::atoi(b.c_str()); });
    return "/usr/lib/postgresql/" + found.back() + "/bin";
}

int TempPostgres::runAsServerUser(const std::vector<std::string>& argv) const
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        if (!std::getenv("QUILLET_PG_DEBUG"))
            dup2(null, 2);
        if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(m_gid) != 0 || setuid(m_uid) != 0))
            _exit(126);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool TempPostgres::start(std::string* error)
{
    const auto fail = [&](const std::string& message) {
        if (error)
            *error = message;
        stop();
        return false;
    };
    m_binaries = binaryFolder();
    if (m_binaries.empty())
        return fail("no PostgreSQL server found under /usr/lib/postgresql (Debian package postgresql)");
    char folder[] = "/tmp/quillet-pg-XXXXXX";
    if (!mkdtemp(folder))
        return fail("cannot make a temporary folder");
    m_folder = folder;
    if (getuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody)
            return fail("running as root and there is no user nobody to run PostgreSQL as");
        m_uid = nobody->pw_uid;
        m_gid = nobody->pw_gid;
        if (chown(folder, m_uid, m_gid) != 0)
            return fail("cannot hand the temporary folder to nobody");
    }
    const std::string data = m_folder + "/data";
    if (runAsServerUser({m_binaries + "/initdb", "-D", data, "-U", "quillet", "-A", "trust", "-E", "UTF8", "--locale=C",
                         "--no-sync"}) != 0)
        return fail("initdb failed (QUILLET_PG_DEBUG=1 shows its output)");
    // A free port can be taken between our look and the server's bind: try a few.
    for (int attempt = 0; attempt < 5 && !m_running; ++attempt) {
        m_port = freePort();
        const std::string options = "-p " + std::to_string(m_port) + " -k " + m_folder +
                                    " -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off"
                                    " -c full_page_writes=off -c max_connections=200";
        m_running = runAsServerUser({m_binaries + "/pg_ctl", "-D", data, "-l", m_folder + "/server.log", "-w", "-t",
                                     "60", "-o", options, "start"}) == 0;
    }
    if (!m_running)
        return fail("pg_ctl could not start the server (see its log in " + m_folder + "/server.log)");
    return true;
}

void TempPostgres::stop()
{
    if (m_running) {
        runAsServerUser({m_binaries + "/pg_ctl", "-D", m_folder + "/data", "-m", "immediate", "-w", "stop"});
        m_running = false;
    }
    if (!m_folder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
        m_folder.clear();
    }
}

std::string TempPostgres::url(const std::string& database) const
{
    return "postgresql://quillet@127.0.0.1:" + std::to_string(m_port) + "/" + database;
}

std::string TempPostgres::createDatabase(const std::string& name)
{
    PGconn* connection = PQconnectdb(url().c_str());
    bool ok = PQstatus(connection) == CONNECTION_OK;
    if (ok) {
        // Names come from the tests; quoted as an identifier all the same.
        char* quoted = PQescapeIdentifier(connection, name.c_str(), name.size());
        PGresult* result = PQexec(connection, (std::string("CREATE DATABASE ") + quoted).c_str());
        ok = PQresultStatus(result) == PGRES_COMMAND_OK;
        PQclear(result);
        PQfreemem(quoted);
    }
    PQfinish(connection);
    return ok ? url(name) : std::string();
}

} // namespace quillet
