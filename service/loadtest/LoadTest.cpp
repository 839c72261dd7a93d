// quillet-loadtest: a bounded load and fault test of the real quillet-service
// on loopback. It starts the service with a fresh data folder, runs many
// concurrent clients for a fixed time mixing the requests a client sends with
// malformed, oversized, slow and half-closed ones, and then checks that every
// acknowledged dictionary word and report was stored, that a normal check is
// still answered in its usual time and that the service's memory settled.
// Prints requests served, outcomes by kind and latency percentiles; exits 0
// only when every check holds.
//
// With --scale-out HAPROXY_CFG it runs the same load against three instances
// that share a PostgreSQL server (started here, in a temporary folder) behind
// HAProxy (that configuration, with a frontend for the load added), kills one
// instance halfway, and also checks that a login on one instance holds on the
// others, that the login limit holds across instances and that the TLS
// frontend works.
//
// With --bench HAPROXY_CFG it measures instead: checks per second and their
// p99 with concurrent clients for one instance on PostgreSQL, one behind
// HAProxy and three behind HAProxy, and the database's share of a check.
#include "Store.h"
#include "TempPostgres.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

struct Options
{
    std::string service;
    int seconds = 20;
    int clients = 64;
    int users = 8;
    std::string threads;       // the service's --threads; empty: its default
    std::string haproxyConfig; // --scale-out: the balancer's configuration
    bool bench = false;        // --bench: figures instead of faults
};

const char kText[] = "我们以经完成了今年的全部任务。今天天气很好，我们去公园散步，然后回家吃饭。你因该早点休息，"
                     "明天还要上班。请按装最新版本的软件后再试一次。他跑的很快，大家都很高兴。";

std::string percentEncode(const std::string& in)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : in) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// A text of about `chars` characters cut from the sample, in whole characters.
std::string sampleText(size_t chars)
{
    static const std::u32string sample = [] {
        std::u32string out;
        const std::string utf8 = kText;
        for (size_t i = 0; i < utf8.size();) {
            const unsigned char c = utf8[i];
            const int length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            char32_t code = length == 1 ? c : c & (0xFF >> (length + 1));
            for (int k = 1; k < length; ++k)
                code = code << 6 | (utf8[i + k] & 0x3F);
            out += code;
            i += length;
        }
        return out;
    }();
    std::string out;
    for (size_t i = 0; i < chars; ++i) {
        const char32_t c = sample[i % sample.size()];
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | c >> 12);
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

long rssKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

// Runs a command and returns its exit code; input goes to its standard input.
int runWithInput(const std::vector<std::string>& argv, const std::string& input)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[0], 0);
        close(pipeFds[1]);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[0]);
    (void)!write(pipeFds[1], input.data(), input.size());
    close(pipeFds[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The running service: its process and port.
struct ServiceProcess
{
    pid_t pid = -1;
    int port = 0;

    bool start(const std::string& binary, const std::string& dataDir, const std::string& threads,
               const std::string& database)
    {
        int out[2];
        if (pipe(out) != 0)
            return false;
        pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            std::vector<std::string> argv{binary,   "serve", "--listen",     "127.0.0.1:0",
                                          "--data", dataDir, "--trust-proxy"};
            if (!threads.empty())
                argv.insert(argv.end(), {"--threads", threads});
            if (!database.empty())
                argv.insert(argv.end(), {"--database", database});
            std::vector<char*> args;
            for (std::string& a : argv)
                args.push_back(a.data());
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        close(out[1]);
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        // Keep the pipe open for the "stopped" line; nobody reads it, it is one line.
        const size_t colon = line.rfind(':');
        if (line.find("listening on") == std::string::npos || colon == std::string::npos)
            return false;
        port = std::atoi(line.c_str() + colon + 1);
        return port > 0;
    }
    void crash()
    {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    int stop()
    {
        if (pid < 0)
            return -1;
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

// HAProxy with the given configuration plus a plain frontend for the load, in
// front of the instances' ports. The TLS frontend gets a throw-away certificate.
struct Balancer
{
    pid_t pid = -1;
    int port = 0;
    int tlsPort = 0;

    bool start(const std::string& config, const std::vector<int>& servers, const std::string& folder)
    {
        std::ifstream in(config);
        if (!in)
            return false;
        std::stringstream text;
        text << in.rdbuf();
        port = quillet::TempPostgres::freePort();
        tlsPort = quillet::TempPostgres::freePort();
        // The load's clients name their own addresses in X-Forwarded-For, as
        // if behind a further proxy: this frontend passes them on unchanged.
        text << "\nfrontend loadtest\n    bind 127.0.0.1:" << port << "\n    default_backend quillet\n";
        const std::string file = folder + "/haproxy.cfg", pem = folder + "/quillet.pem";
        std::ofstream(file) << text.str();
        const std::string makeCert = "openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=localhost -days 1 -keyout '" +
                                     folder + "/key.pem' -out '" + folder + "/cert.pem' 2>/dev/null && cat '" + folder +
                                     "/cert.pem' '" + folder + "/key.pem' > '" + pem + "'";
        if (std::system(makeCert.c_str()) != 0)
            return false;
        pid = fork();
        if (pid == 0) {
            setenv("QUILLET_TLS_BIND", ("127.0.0.1:" + std::to_string(tlsPort)).c_str(), 1);
            setenv("QUILLET_TLS_CERT", pem.c_str(), 1);
            for (size_t i = 0; i < servers.size(); ++i)
                setenv(("QUILLET_S" + std::to_string(i + 1)).c_str(),
                       ("127.0.0.1:" + std::to_string(servers[i])).c_str(), 1);
            if (!std::getenv("QUILLET_LOADTEST_DEBUG"))
                freopen("/dev/null", "w", stderr);
            // Debian installs it in /usr/sbin, which a user's PATH often leaves out.
            execl("/usr/sbin/haproxy", "haproxy", "-db", "-f", file.c_str(), static_cast<char*>(nullptr));
            execlp("haproxy", "haproxy", "-db", "-f", file.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Ready when a health check answers through it.
        for (int i = 0; i < 100; ++i) {
            httplib::Client client("127.0.0.1", port);
            auto result = client.Get("/healthz");
            if (result && result->status == 200)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    void stop()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
};

// Outcomes and latencies, shared by the clients.
class Tally
{
public:
    // One outcome; ms, when given, is the latency of an answered API request of that action.
    void add(const std::string& kind, double ms = -1, const std::string& action = {})
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_kinds[kind];
        if (ms >= 0) {
            m_latencies.push_back(ms);
            m_byAction[action].push_back(ms);
        }
    }
    void word(int user, const std::string& word)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_words.insert({user, word});
    }
    void report(const std::string& marker)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reports.insert(marker);
    }
    std::map<std::string, long> kinds() const { return m_kinds; }
    std::vector<double> latencies() const { return m_latencies; }
    std::map<std::string, std::vector<double>> byAction() const { return m_byAction; }
    const std::set<std::pair<int, std::string>>& words() const { return m_words; }
    const std::set<std::string>& reports() const { return m_reports; }

private:
    std::mutex m_mutex;
    std::map<std::string, long> m_kinds;
    std::vector<double> m_latencies;
    std::map<std::string, std::vector<double>> m_byAction;
    std::set<std::pair<int, std::string>> m_words;
    std::set<std::string> m_reports;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p / 100.0 * double(values.size())));
    return values[index];
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A raw TCP connection to the service, for what an HTTP client would not send.
int connectRaw(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{15, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string readAll(int fd)
{
    std::string out;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        out.append(buffer, size_t(n));
    return out;
}

struct Users
{
    std::vector<std::string> names;
    std::vector<std::string> passwords;
    std::vector<std::string> tokens;
};

std::string checkBody(const std::string& token, const std::string& text)
{
    return "?client_id=client&client_id=client&client_ver=2.2&host_id=&host_ver=&text=" + percentEncode(text) +
           "&access_token=" + token +
           "&main_lang=zh-CN&other_lang=en-US&min_error_level=3&check_xing_jin=1&check_min_gan_ci=1"
           "&check_tong_yin=1&check_skip=1&check_pinyin_confuse=0";
}

std::string loginBody(const std::string& user, const std::string& password, const std::string& token)
{
    return "http://127.0.0.1/api/v2/auth/?client_id=client&client_id=client&client_ver=2.2&host_id=&host_ver="
           "&access_token=" +
           token + "&password=" + percentEncode(password) + "&text_length=0&user_name=" + percentEncode(user);
}

// One simulated client: a loop of weighted random actions until the deadline.
void runClient(int index, int port, const Users& users, Clock::time_point deadline, Tally& tally)
{
    std::mt19937 random(uint32_t(index * 7919 + 17));
    const std::string address = "10.1." + std::to_string(index / 250) + "." + std::to_string(index % 250 + 1);
    const httplib::Headers headers{{"X-Forwarded-For", address}};
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    // Headers and body go out in two writes: without this, Nagle's algorithm
    // and delayed ACKs add 40 ms to every request.
    client.set_tcp_nodelay(true);
    client.set_read_timeout(30);
    const int user = index % int(users.names.size());
    const std::string& token = users.tokens[size_t(user)];
    int sequence = 0;

    const auto post = [&](const char* kind, const char* path, const std::string& body) -> json {
        const auto start = Clock::now();
        auto result = client.Post(path, headers, body, "application/x-www-form-urlencoded");
        if (!result && result.error() == httplib::Error::Read && std::string(kind) != "oversized") {
            // The service closed the kept-alive connection as the request went
            // out (idle time-out): like Quillet's client, send it once more.
            tally.add("resent after a closed keep-alive connection");
            result = client.Post(path, headers, body, "application/x-www-form-urlencoded");
        }
        const double ms = msSince(start);
        if (!result) {
            // The service may refuse an oversized body at its headers and close
            // the connection while the body is still being sent.
            const bool refusedEarly = std::string(kind) == "oversized";
            if (std::getenv("QUILLET_LOADTEST_DEBUG"))
                std::fprintf(stderr, "dropped %s after %.0f ms\n", kind, msSince(start));
            tally.add(refusedEarly
                          ? std::string("oversized closed")
                          : std::string("FAIL transport (") + kind + ", " + httplib::to_string(result.error()) + ")");
            return json();
        }
        if (result->status != 200) {
            tally.add(std::string("status ") + std::to_string(result->status) + " (" + kind + ")", ms, kind);
            return json();
        }
        json reply = json::parse(result->body, nullptr, false);
        if (reply.is_discarded() || !reply.contains("error_code")) {
            tally.add(std::string("FAIL unreadable reply (") + kind + ")", ms, kind);
            return json();
        }
        const std::string code = reply["error_code"];
        tally.add(std::string(kind) + (code.empty() ? " ok" : " " + code), ms, kind);
        return reply;
    };

    while (Clock::now() < deadline) {
        const int roll = int(random() % 100);
        ++sequence;
        if (roll < 40) {
            // A check of random size: mostly a client's piece, sometimes the limit, now and then past it.
            const int r = int(random() % 100);
            const size_t chars = r < 80 ? 1 + random() % 500 : r < 98 ? 500 + random() % 9500 : 10001 + random() % 500;
            post("check", "/api/v2/check/", checkBody(token, sampleText(chars)));
        } else if (roll < 55) {
            post("token login", "/api/v2/auth/", loginBody(users.names[size_t(user)], "", token));
        } else if (roll < 58) {
            // A client without a token yet: the password is hashed.
            post("password login", "/api/v2/auth/",
                 loginBody(users.names[size_t(user)], users.passwords[size_t(user)], ""));
        } else if (roll < 60) {
            post("wrong password", "/api/v2/auth/", loginBody("ghost" + std::to_string(index), "guess-guess", ""));
        } else if (roll < 72) {
            const std::string word = "lt" + std::to_string(index) + "w" + std::to_string(sequence);
            const json reply = post("add word", "/api/v2/add-to-dict/",
                                    "?client_id=client&access_token=" + token + "&new_word=" + word);
            if (reply.is_object() && reply["error_code"] == "")
                tally.word(user, word);
        } else if (roll < 80) {
            const std::string marker = "lt" + std::to_string(index) + "r" + std::to_string(sequence);
            const json reply = post("report", "/api/v2/report-error/",
                                    "?client_id=client&access_token=" + token + "&msg=" + marker + "&text_error=" +
                                        percentEncode("以经") + "&text_sentence=" + percentEncode("我们以经到了。"));
            if (reply.is_object() && reply["error_code"] == "")
                tally.report(marker);
        } else if (roll < 85) {
            post("malformed", "/api/v2/check/", "?client_id=c&text=%E4%B&access_token=" + token);
        } else if (roll < 89) {
            // On a connection of its own: the service answers 413 at the headers and
            // closes while the body is still going out, which leaves cpp-httplib's
            // client with a dead socket it would reuse for the next request.
            httplib::Client once("127.0.0.1", port);
            const auto start = Clock::now();
            auto result = once.Post("/api/v2/check/", headers, std::string(1024 * 1024 + 1, 'a'),
                                    "application/x-www-form-urlencoded");
            if (!result)
                tally.add("oversized closed");
            else
                tally.add("status " + std::to_string(result->status) + " (oversized)", msSince(start), "oversized");
        } else if (roll < 92) {
            post("unknown token", "/api/v2/add-to-dict/", "?client_id=c&access_token=feed&new_word=x");
        } else if (roll < 95) {
            // Slow: the request trickles in over about two seconds.
            const int fd = connectRaw(port);
            if (fd < 0) {
                tally.add("FAIL transport (slow)");
                continue;
            }
            const std::string body = checkBody(token, sampleText(20));
            const std::string request =
                "POST /api/v2/check/ HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Forwarded-For: " + address +
                "\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
            const size_t step = request.size() / 20 + 1;
            for (size_t i = 0; i < request.size(); i += step) {
                (void)!write(fd, request.data() + i, std::min(step, request.size() - i));
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            const std::string reply = readAll(fd);
            close(fd);
            tally.add(reply.rfind("HTTP/1.1 200", 0) == 0 ? "slow ok" : "FAIL slow");
        } else if (roll < 98) {
            // Half-closed: the headers promise a body that never comes, then the client stops sending.
            const int fd = connectRaw(port);
            if (fd < 0) {
                tally.add("FAIL transport (half-closed)");
                continue;
            }
            const std::string request = "POST /api/v2/check/ HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: "
                                        "1000\r\n\r\n?client_id=c&text=";
            (void)!write(fd, request.data(), request.size());
            shutdown(fd, SHUT_WR);
            const std::string reply = readAll(fd);
            close(fd);
            // The service answers 400 or just closes; it must not hang.
            tally.add(reply.empty() ? "half-closed closed" : "half-closed " + reply.substr(9, 3));
        } else {
            // Garbage instead of HTTP.
            const int fd = connectRaw(port);
            if (fd < 0) {
                tally.add("FAIL transport (garbage)");
                continue;
            }
            std::string noise(512, '\0');
            for (char& c : noise)
                c = char(random());
            noise += "\r\n\r\n";
            (void)!write(fd, noise.data(), noise.size());
            const std::string reply = readAll(fd);
            close(fd);
            tally.add(reply.empty() ? "garbage closed" : "garbage " + reply.substr(9, 3));
        }
    }
}

// Median time of n plain checks, one after another.
double normalCheckMs(int port, const std::string& token, int n)
{
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    // Headers and body go out in two writes: without this, Nagle's algorithm
    // and delayed ACKs add 40 ms to every request.
    client.set_tcp_nodelay(true);
    std::vector<double> times;
    const std::string body = checkBody(token, sampleText(300));
    for (int i = 0; i < n; ++i) {
        const auto start = Clock::now();
        auto result = client.Post("/api/v2/check/", body, "application/x-www-form-urlencoded");
        if (!result || result->status != 200)
            return 1e9;
        times.push_back(msSince(start));
    }
    return percentile(times, 50);
}

bool verifyStore(const std::string& location, const Users& users, const Tally& tally, long& missingWords,
                 long& missingReports)
{
    quillet::Store store;
    if (!store.open(location, nullptr))
        return false;
    std::set<std::pair<std::string, std::string>> words;
    std::set<std::string> reports;
    for (const std::string& name : users.names) {
        const auto user = store.findUser(name);
        if (!user)
            return false;
        for (const std::string& word : store.userWords(user->id))
            words.insert({name, word});
        for (const std::string& message : store.reportMessages(user->id))
            reports.insert(message);
    }
    missingWords = 0;
    for (const auto& [user, word] : tally.words())
        missingWords += words.count({users.names[size_t(user)], word}) ? 0 : 1;
    missingReports = 0;
    for (const std::string& marker : tally.reports())
        missingReports += reports.count(marker) ? 0 : 1;
    return true;
}

std::string loginToken(httplib::Client& client, const std::string& user, const std::string& password,
                       const std::string& token = {}, const std::string& address = "10.2.0.1")
{
    auto result = client.Post("/api/v2/auth/", {{"X-Forwarded-For", address}}, loginBody(user, password, token),
                              "application/x-www-form-urlencoded");
    const json reply = result ? json::parse(result->body, nullptr, false) : json();
    return reply.is_object() ? reply.value("access_token", "") : std::string();
}

// What only several instances on one database can get wrong: a session made
// on one instance is honoured by the others, the login limit of one name
// holds however the guesses are spread over the instances, and the TLS
// frontend announces an https checker address. Problems are appended.
void checkSharedState(const std::vector<int>& ports, const Balancer& balancer, const std::string& binary,
                      const std::string& database, std::vector<std::string>& problems)
{
    runWithInput({binary, "user", "add", "spread", "--database", database}, "spread-password\n");
    httplib::Client first("127.0.0.1", ports[0]);
    const std::string token = loginToken(first, "spread", "spread-password");
    for (size_t i = 1; i < ports.size(); ++i) {
        httplib::Client other("127.0.0.1", ports[i]);
        auto result =
            other.Post("/api/v2/check/", checkBody(token, sampleText(30)), "application/x-www-form-urlencoded");
        const json reply = result ? json::parse(result->body, nullptr, false) : json();
        if (token.empty() || !reply.is_object() || reply.value("error_code", "x") == "token_error" ||
            !reply.contains("errors"))
            problems.push_back("a session made on one instance was not honoured by another");
    }
    // Thirty wrong guesses at once, from thirty addresses, spread over the instances.
    std::atomic<int> answered{0};
    std::vector<std::thread> guesses;
    for (int i = 0; i < 30; ++i) {
        guesses.emplace_back([&, i] {
            httplib::Client client("127.0.0.1", ports[size_t(i) % ports.size()]);
            auto result = client.Post("/api/v2/auth/", {{"X-Forwarded-For", "10.3.0." + std::to_string(i + 1)}},
                                      loginBody("spread", "wrong-guess", ""), "application/x-www-form-urlencoded");
            const json reply = result ? json::parse(result->body, nullptr, false) : json();
            if (reply.is_object() && reply.value("error_msg", "") == "用户名或密码错误。")
                ++answered;
        });
    }
    for (std::thread& guess : guesses)
        guess.join();
    std::printf("login limit across %zu instances: %d of 30 parallel guesses answered (limit 10)\n", ports.size(),
                answered.load());
    if (answered != 10)
        problems.push_back("the login limit did not hold across instances");
    httplib::SSLClient tls("127.0.0.1", balancer.tlsPort);
    tls.enable_server_certificate_verification(false);
    auto result = tls.Post("/api/v2/auth/", loginBody("spread", "", token), "application/x-www-form-urlencoded");
    const json reply = result ? json::parse(result->body, nullptr, false) : json();
    const std::string checker = reply.is_object() ? reply.value("checker_url", "") : std::string();
    std::printf("login through the TLS frontend: checker address %s\n", checker.c_str());
    if (checker.rfind("https://", 0) != 0 || reply.value("access_token", "") != token)
        problems.push_back("the TLS frontend did not carry a login");
}

// Checks of 500-character pieces by `clients` clients for `seconds`: checks per
// second and the latencies in ms.
std::pair<double, std::vector<double>> checkThroughput(int port, const std::string& token, int clients, int seconds)
{
    std::mutex mutex;
    std::vector<double> latencies;
    std::atomic<long> failed{0};
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(seconds);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            client.set_read_timeout(30);
            std::vector<double> mine;
            for (int i = 0; Clock::now() < deadline; ++i) {
                const std::string body = checkBody(token, sampleText(size_t(400 + (c * 37 + i * 11) % 100)));
                const auto sent = Clock::now();
                auto result = client.Post("/api/v2/check/", body, "application/x-www-form-urlencoded");
                if (result && result->status == 200)
                    mine.push_back(msSince(sent));
                else
                    ++failed;
            }
            std::lock_guard<std::mutex> lock(mutex);
            latencies.insert(latencies.end(), mine.begin(), mine.end());
        });
    }
    for (std::thread& t : threads)
        t.join();
    if (failed > 0)
        std::printf("  (%ld checks failed)\n", failed.load());
    return {double(latencies.size()) / (msSince(start) / 1000.0), latencies};
}

// Mean ms of what a check asks of the store: the token's user and the user's words.
double storeShareMs(const std::string& location, int rounds)
{
    quillet::Store store;
    if (!store.open(location, nullptr) ||
        store.addUser("storebench", "storebench-password", false) == quillet::Store::AddResult::Failed)
        return -1;
    const int64_t id = store.findUser("storebench")->id;
    for (int w = 0; w < 20; ++w)
        store.addWord(id, "词" + std::to_string(w));
    const std::string token = store.issueToken(id);
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        if (!store.userForToken(token))
            return -1;
        store.userWords(id);
    }
    return msSince(start) / rounds;
}

int runBench(const Options& options)
{
    char dirTemplate[] = "/tmp/quillet-bench-XXXXXX";
    const std::string dataDir = mkdtemp(dirTemplate);
    quillet::TempPostgres postgres;
    std::string error, database;
    if (!postgres.start(&error) || (database = postgres.createDatabase("quillet")).empty()) {
        std::cerr << "quillet-loadtest: PostgreSQL: " << error << "\n";
        return 1;
    }
    runWithInput({options.service, "user", "add", "bench", "--database", database}, "bench-password\n");
    std::printf("checks of 400-500 characters, %d clients, %d s each, on this machine (%u cores)\n", options.clients,
                options.seconds, std::thread::hardware_concurrency());
    double sequentialCheckMs = 0;
    for (const auto& [instances, balanced] : std::vector<std::pair<int, bool>>{{1, false}, {1, true}, {3, true}}) {
        std::vector<ServiceProcess> services(static_cast<size_t>(instances));
        std::vector<int> ports;
        for (ServiceProcess& service : services) {
            if (!service.start(options.service, dataDir, options.threads, database))
                return 1;
            ports.push_back(service.port);
        }
        while (balanced && ports.size() < 3)
            ports.push_back(ports.front()); // the configuration names three servers
        Balancer balancer;
        if (balanced && !balancer.start(options.haproxyConfig, ports, dataDir)) {
            std::cerr << "quillet-loadtest: HAProxy did not start\n";
            return 1;
        }
        const int port = balanced ? balancer.port : ports[0];
        httplib::Client client("127.0.0.1", port);
        const std::string token = loginToken(client, "bench", "bench-password");
        if (!balanced) {
            std::vector<double> one;
            httplib::Client sequential("127.0.0.1", port);
            sequential.set_keep_alive(true);
            sequential.set_tcp_nodelay(true);
            for (int i = 0; i < 200; ++i) {
                const auto sent = Clock::now();
                sequential.Post("/api/v2/check/", checkBody(token, sampleText(450)),
                                "application/x-www-form-urlencoded");
                one.push_back(msSince(sent));
            }
            sequentialCheckMs = std::accumulate(one.begin(), one.end(), 0.0) / double(one.size());
        }
        const auto [rate, latencies] = checkThroughput(port, token, options.clients, options.seconds);
        std::printf("%d instance%s%s: %.0f checks/s, p50 %.1f ms, p99 %.1f ms\n", instances, instances > 1 ? "s" : "",
                    balanced ? " behind HAProxy" : " (direct)", rate, percentile(latencies, 50),
                    percentile(latencies, 99));
        balancer.stop();
        for (ServiceProcess& service : services)
            service.stop();
    }
    const double pgMs = storeShareMs(database, 2000);
    const double sqliteMs = storeShareMs(dataDir + "/share.db", 2000);
    std::printf("one check alone (450 characters, one client, one instance): %.2f ms\n", sequentialCheckMs);
    std::printf("its store calls (token's user and the user's words): PostgreSQL %.3f ms (%.0f%% of the check), "
                "SQLite %.3f ms\n",
                pgMs, sequentialCheckMs > 0 ? 100.0 * pgMs / sequentialCheckMs : 0.0, sqliteMs);
    std::system(("rm -rf '" + dataDir + "'").c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const char usage[] = "usage: quillet-loadtest SERVICE_BINARY [--seconds N] [--clients N] [--threads N] "
                         "[--scale-out HAPROXY_CFG | --bench HAPROXY_CFG]\n";
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            options.seconds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--clients" && i + 1 < argc)
            options.clients = std::max(1, std::atoi(argv[++i]));
        else if (a == "--threads" && i + 1 < argc)
            options.threads = argv[++i];
        else if (a == "--scale-out" && i + 1 < argc)
            options.haproxyConfig = argv[++i];
        else if (a == "--bench" && i + 1 < argc) {
            options.haproxyConfig = argv[++i];
            options.bench = true;
        } else if (a.rfind("--", 0) != 0 && options.service.empty())
            options.service = a;
        else {
            std::cerr << usage;
            return 2;
        }
    }
    if (options.service.empty()) {
        std::cerr << usage;
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    if (options.bench)
        return runBench(options);
    const bool scaleOut = !options.haproxyConfig.empty();

    char dirTemplate[] = "/tmp/quillet-loadtest-XXXXXX";
    const std::string dataDir = mkdtemp(dirTemplate);
    quillet::TempPostgres postgres;
    std::string database;
    if (scaleOut) {
        std::string error;
        if (!postgres.start(&error) || (database = postgres.createDatabase("quillet")).empty()) {
            std::cerr << "quillet-loadtest: PostgreSQL: " << (error.empty() ? "no database" : error) << "\n";
            return 1;
        }
    }
    const std::vector<std::string> storeArgs =
        scaleOut ? std::vector<std::string>{"--database", database} : std::vector<std::string>{"--data", dataDir};
    Users users;
    for (int u = 0; u < options.users; ++u) {
        users.names.push_back("load" + std::to_string(u));
        users.passwords.push_back("load-password-" + std::to_string(u));
        std::vector<std::string> argv{options.service, "user", "add", users.names.back()};
        argv.insert(argv.end(), storeArgs.begin(), storeArgs.end());
        if (runWithInput(argv, users.passwords.back() + "\n") != 0) {
            std::cerr << "quillet-loadtest: could not add user " << users.names.back() << "\n";
            return 1;
        }
    }
    std::vector<ServiceProcess> instances(scaleOut ? 3 : 1);
    std::vector<int> ports;
    for (ServiceProcess& instance : instances) {
        if (!instance.start(options.service, dataDir, options.threads, database)) {
            std::cerr << "quillet-loadtest: the service did not start\n";
            return 1;
        }
        ports.push_back(instance.port);
    }
    const auto stopAll = [&] {
        int worst = 0;
        for (ServiceProcess& instance : instances) {
            if (instance.pid > 0)
                worst = std::max(worst, std::abs(instance.stop()));
        }
        return worst;
    };
    Balancer balancer;
    std::vector<std::string> problems;
    if (scaleOut) {
        if (!balancer.start(options.haproxyConfig, ports, dataDir)) {
            std::cerr << "quillet-loadtest: HAProxy did not start with " << options.haproxyConfig << "\n";
            balancer.stop();
            stopAll();
            return 1;
        }
        checkSharedState(ports, balancer, options.service, database, problems);
    }
    const int port = scaleOut ? balancer.port : ports[0];
    for (size_t u = 0; u < users.names.size(); ++u) {
        httplib::Client client("127.0.0.1", port);
        client.set_tcp_nodelay(true);
        users.tokens.push_back(loginToken(client, users.names[u], users.passwords[u]));
        if (users.tokens.back().empty()) {
            std::cerr << "quillet-loadtest: login of " << users.names[u] << " failed\n";
            balancer.stop();
            stopAll();
            return 1;
        }
    }

    const double before = normalCheckMs(port, users.tokens[0], 20);
    const long rssStart = rssKiB(instances[0].pid);
    Tally tally;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(options.seconds);
    long rssMid = -1;
    std::thread sampler([&] {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(options.seconds * 1000 / 3));
        rssMid = rssKiB(instances[0].pid);
        if (scaleOut) {
            // Halfway, one instance dies without a word; the others carry on.
            std::this_thread::sleep_until(start + std::chrono::milliseconds(options.seconds * 1000 / 2));
            instances.back().crash();
            std::printf("killed one instance %.1f s into the run\n", msSince(start) / 1000.0);
        }
    });
    std::vector<std::thread> clients;
    for (int c = 0; c < options.clients; ++c)
        clients.emplace_back(runClient, c, port, std::cref(users), deadline, std::ref(tally));
    for (std::thread& t : clients)
        t.join();
    sampler.join();
    const double elapsed = msSince(start) / 1000.0;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long rssEnd = rssKiB(instances[0].pid);
    const double after = normalCheckMs(port, users.tokens[0], 20);
    balancer.stop();
    const int exitCode = stopAll();

    long missingWords = -1, missingReports = -1;
    const bool read =
        verifyStore(scaleOut ? database : dataDir + "/quillet.db", users, tally, missingWords, missingReports);

    long served = 0, failures = 0, dropped = 0, unavailable = 0;
    std::printf("quillet-loadtest: %d clients for %.1f s against %s%s\n\n", options.clients, elapsed,
                options.service.c_str(), scaleOut ? " (three instances behind HAProxy)" : "");
    std::printf("%-40s %8s\n", "outcome", "count");
    for (const auto& [kind, count] : tally.kinds()) {
        std::printf("%-40s %8ld\n", kind.c_str(), count);
        served += count;
        if (kind.rfind("status 5", 0) == 0)
            unavailable += count;
        if (kind.rfind("FAIL transport", 0) == 0)
            dropped += count;
        else if (kind.rfind("FAIL", 0) == 0 || kind.find("server_error") != std::string::npos)
            failures += count;
    }
    const std::vector<double> latencies = tally.latencies();
    std::printf("\nrequests served: %ld (%.0f/s), unexpected failures: %ld, connections dropped even after "
                "one resend: %ld\n",
                served, double(served) / elapsed, failures, dropped);
    std::printf("latency of answered API requests: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", percentile(latencies, 50),
                percentile(latencies, 99), percentile(latencies, 100));
    for (const auto& [action, values] : tally.byAction())
        std::printf("  %-20s n %6zu  p50 %7.1f ms  p99 %7.1f ms\n", action.c_str(), values.size(),
                    percentile(values, 50), percentile(values, 99));
    std::printf("normal 300-character check, median of 20: before %.1f ms, after %.1f ms\n", before, after);
    std::printf("service memory (RSS): start %ld MiB, a third in %ld MiB, end %ld MiB\n", rssStart / 1024,
                rssMid / 1024, rssEnd / 1024);
    std::printf("acknowledged words %zu, missing %ld; acknowledged reports %zu, missing %ld\n", tally.words().size(),
                missingWords, tally.reports().size(), missingReports);

    if (scaleOut)
        std::printf("answered by the balancer with 5xx: %ld\n", unavailable);
    if (failures > 0)
        problems.push_back("unexpected failures");
    // A request that fails again after its one resend means the service shut a
    // connection it should have answered; a rare one can be a timing race of
    // two closes, more than one in 500 is a fault.
    if (dropped * 500 > served)
        problems.push_back("too many dropped connections");
    // Requests that met the killed instance are sent again to another; what
    // the balancer could not place is a fault past one in a hundred.
    if (unavailable * 100 > served)
        problems.push_back("too many requests unanswered after an instance died");
    if (!read || missingWords != 0 || missingReports != 0)
        problems.push_back("acknowledged writes missing");
    if (after > std::max(3 * before, before + 50))
        problems.push_back("normal checks slowed down after the load");
    // Settled memory: what the first third reached may grow a little (caches,
    // SQLite pages), not on and on.
    if (rssMid > 0 && rssEnd > std::max(rssMid * 3 / 2, rssMid + 64 * 1024))
        problems.push_back("memory kept growing");
    if (exitCode != 0)
        problems.push_back("the service did not stop cleanly");
    if (tally.words().empty() || tally.reports().empty())
        problems.push_back("nothing was acknowledged");
    for (const std::string& problem : problems)
        std::printf("PROBLEM: %s\n", problem.c_str());
    std::printf("%s\n", problems.empty() ? "PASS" : "FAIL");
    std::system(("rm -rf '" + dataDir + "'").c_str());
    return problems.empty() ? 0 : 1;
}
