// Benchmark of quillet-service: resident memory, characters checked per second
// on one core with the language model, and the latency of 500-character
// pieces with 8 concurrent clients on loopback.
#include "Checker.h"
#include "LanguageModel.h"
#include "Lexicon.h"
#include "Service.h"
#include "Store.h"
#include "Utf.h"
#include "WordModel.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <thread>
#include <time.h>
#include <vector>

using namespace quillet;
using Clock = std::chrono::steady_clock;

namespace {

// Pieces of about 500 characters built from the development set's sentences,
// correct and misspelt ones mixed, as a check run would send them.
std::vector<std::string> makePieces(const std::string& devset, size_t count)
{
    std::vector<std::u32string> sentences;
    std::ifstream in(devset);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t a = line.find('\t');
        const size_t b = line.find('\t', a + 1);
        if (a == std::string::npos || b == std::string::npos)
            continue;
        const std::string correct = line.substr(0, a);
        const std::string word = line.substr(a + 1, b - a - 1);
        std::string wrong = correct;
        const size_t at = wrong.find(word);
        if (at != std::string::npos)
            wrong.replace(at, word.size(), line.substr(b + 1));
        sentences.push_back(toU32(correct));
        sentences.push_back(toU32(correct));
        sentences.push_back(toU32(wrong));
    }
    std::vector<std::string> pieces;
    size_t next = 0;
    while (!sentences.empty() && pieces.size() < count) {
        std::u32string piece;
        while (piece.size() + sentences[next % sentences.size()].size() <= size_t(Service::kPieceLength))
            piece += sentences[next++ % sentences.size()];
        pieces.push_back(encodeUtf8(piece));
    }
    return pieces;
}

std::string percentEncode(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.' || c == '~') {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Resident memory of this process in MiB, from /proc/self/status.
double residentMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    }
    return 0;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[index];
}

} // namespace

int main(int argc, char** argv)
{
    const std::string lexiconPath = argc > 1 ? argv[1] : QUILLET_LEXICON_PATH;
    Lexicon lexicon;
    std::string error;
    const auto loadStart = Clock::now();
    if (!lexicon.load(lexiconPath, &error)) {
        std::cerr << error << "\n";
        return 1;
    }
    const double loadSeconds = std::chrono::duration<double>(Clock::now() - loadStart).count();
    std::printf("lexicon: %zu words, loaded in %.2f s\n", lexicon.wordCount(), loadSeconds);
    LanguageModel model;
    const auto modelStart = Clock::now();
    if (!model.load(LanguageModel::kDefaultFolder, &error)) {
        std::cerr << error << "\n";
        return 1;
    }
    std::printf("language model: %zu words, loaded in %.2f s\n", model.wordCount(),
                std::chrono::duration<double>(Clock::now() - modelStart).count());
    WordModel words;
    const auto wordsStart = Clock::now();
    if (words.load(WordModel::kDefaultPath, &error))
        std::printf("word model: loaded in %.2f s\n", std::chrono::duration<double>(Clock::now() - wordsStart).count());
    else
        std::printf("word model: none (%s)\n", error.c_str());
    std::printf("resident memory after loading: %.0f MiB\n", residentMiB());

    const std::vector<std::string> pieces = makePieces(QUILLET_DEVSET_PATH, 64);
    if (pieces.empty()) {
        std::cerr << "no text for the benchmark\n";
        return 1;
    }

    // Throughput of the checker on one thread, with the first model alone and
    // with the word model's second opinion too (when it is installed).
    Checker::Options options;
    options.shape = true;
    auto throughput = [&](const Checker& checker, const char* label) {
        size_t chars = 0, findings = 0, checks = 0;
        const auto start = Clock::now();
        const double cpuStart = threadCpuSeconds();
        double seconds = 0;
        while (seconds < 3.0) {
            for (const std::string& piece : pieces) {
                findings += checker.check(piece, options).size();
                chars += toU32(piece).size();
                ++checks;
            }
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
        }
        // CPU time of this thread: the figure for one core, whatever else runs on the machine.
        const double cpuSeconds = threadCpuSeconds() - cpuStart;
        std::printf("checker, one core, %s: %.0f characters/s of CPU time (%.0f/s wall clock; %zu pieces, "
                    "%zu findings, %.1f s)\n",
                    label, double(chars) / cpuSeconds, double(chars) / seconds, checks, findings, seconds);
    };
    throughput(Checker(lexicon, model), "language model on");
    if (words.loaded()) {
        throughput(Checker(lexicon, model, &words), "word model on too");
        std::printf("resident memory after checking: %.0f MiB\n", residentMiB());
    }

    // Latency through HTTP: 8 clients with their own keep-alive connections.
    char dirTemplate[] = "/tmp/quillet-bench-XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dataDir = dirTemplate;
    Store store;
    if (!store.open(dataDir + "/quillet.db", &error) ||
        store.addUser("bench", "bench", false) != Store::AddResult::Added) {
        std::cerr << "store: " << error << "\n";
        return 1;
    }
    const std::string token = store.issueToken(store.findUser("bench")->id);
    Service::Settings settings;
    settings.dataDir = dataDir;
    Service service(store, lexicon, model, settings, &words);
    const int port = service.bind("127.0.0.1", 0);
    if (port <= 0) {
        std::cerr << "cannot bind\n";
        return 1;
    }
    std::thread serverThread([&service] { service.run(); });

    constexpr int kClients = 8;
    constexpr int kRequestsPerClient = 250;
    std::vector<std::vector<double>> latencies(kClients);
    std::atomic<int> failures{0};
    std::vector<std::thread> clients;
    const auto loadStartHttp = Clock::now();
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            for (int i = 0; i < kRequestsPerClient; ++i) {
                const std::string& piece = pieces[size_t(c * kRequestsPerClient + i) % pieces.size()];
                const std::string body =
                    "?client_id=bench&client_id=bench&client_ver=2.2&host_id=&host_ver=&text=" + percentEncode(piece) +
                    "&access_token=" + token +
                    "&main_lang=zh-CN&other_lang=en-US&min_error_level=3&check_xing_jin=0&check_min_gan_ci=0"
                    "&check_tong_yin=1&check_skip=0&check_pinyin_confuse=0";
                const auto t0 = Clock::now();
                auto result = client.Post("/api/v2/check/", body, "application/x-www-form-urlencoded");
                const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
                if (!result || result->status != 200)
                    ++failures;
                latencies[size_t(c)].push_back(ms);
            }
        });
    }
    for (std::thread& t : clients)
        t.join();
    const double httpSeconds = std::chrono::duration<double>(Clock::now() - loadStartHttp).count();

    // The login the client sends before every check run: its password and the
    // token it holds (the password then needs no hash), against a login with
    // the password alone.
    const auto loginMs = [&](const std::string& heldToken) {
        httplib::Client client("127.0.0.1", port);
        client.set_keep_alive(true);
        client.set_tcp_nodelay(true);
        std::vector<double> times;
        for (int i = 0; i < 20; ++i) {
            const auto t0 = Clock::now();
            auto result = client.Post("/api/v2/auth/",
                                      "?client_id=bench&access_token=" + heldToken +
                                          "&password=bench&text_length=0&user_name=bench",
                                      "application/x-www-form-urlencoded");
            if (!result || result->status != 200 || result->body.find("\"access_token\":\"\"") != std::string::npos)
                ++failures;
            times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        return percentile(times, 0.50);
    };
    const double passwordOnly = loginMs("");
    store.rememberPassword(token, "bench");
    const double withToken = loginMs(token);
    service.stop();
    serverThread.join();

    std::vector<double> all;
    for (const auto& l : latencies)
        all.insert(all.end(), l.begin(), l.end());
    std::printf("service, %d concurrent clients, 500-character pieces: p50 %.2f ms, p99 %.2f ms, %.0f requests/s, "
                "%d failures\n",
                kClients, percentile(all, 0.50), percentile(all, 0.99), double(all.size()) / httpSeconds,
                failures.load());
    std::printf("login before a check run, median of 20: password and held token %.2f ms, password alone "
                "(hashed) %.2f ms\n",
                withToken, passwordOnly);
    std::printf("resident memory after the load test: %.0f MiB\n", residentMiB());
    std::string cleanup = "rm -rf '" + dataDir + "'";
    if (std::system(cleanup.c_str()) != 0)
        std::cerr << "could not remove " << dataDir << "\n";
    return failures.load() == 0 ? 0 : 1;
}
