#pragma once

#include "Checker.h"
#include "FormData.h"
#include "Lexicon.h"
#include "RateLimiter.h"
#include "Store.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <mutex>
#include <string>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace quillet {

// The HTTP side of the service: the client's API (docs/protocol.md), the web
// pages and /healthz for a load balancer. Owns the HTTP server; the store and lexicon belong to the caller
// and must outlive it.
class Service
{
public:
    struct Settings
    {
        std::string dataDir;   // holds sensitive-words.txt
        std::string publicUrl; // base URL to announce (ends in "/"); empty: from the Host header
        int threads = 128;     // workers: one per open connection
        bool openRegistration = true;
        // Behind a reverse proxy: read the client's scheme from X-Forwarded-Proto
        // and its address from the last X-Forwarded-For entry. Only when the proxy
        // sets both and nothing else can reach the service.
        bool trustProxy = false;
        int loginFailuresPerMinute = 10; // per user name and per client address
        int registrationsPerHour = 5;    // per client address
        // Password hashes computed at once (each takes 64 MiB and a core for a
        // fraction of a second); 0: as many as cores and memory allow.
        int hashSlots = 0;
        std::function<int64_t()> clock; // seconds; empty: the system clock
    };

    // words: the checker's optional second model (see Checker), or null.
    Service(Store& store, const Lexicon& lexicon, const LanguageModel& model, Settings settings,
            const WordModel* words = nullptr);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Binds host:port (port 0 picks a free one); the bound port, or -1.
    int bind(const std::string& host, int port);
    // Serves until stop(); false when the server failed.
    bool run();
    void stop();

    static constexpr size_t kMaxBody = 1024 * 1024;
    static constexpr int kPieceLength = 500;
    // Longest text one check request may carry, in characters.
    static constexpr size_t kMaxCheckText = 20 * kPieceLength;
    // Longest field of a false-alarm report, in characters.
    static constexpr size_t kMaxReportField = 1000;

    // The hashes that may run at once on a machine with these cores and this
    // much available memory: one per core, while they take at most a quarter
    // of the memory; at least 1, never more than the workers.
    static int defaultHashSlots(int threads, int cores, int64_t availableBytes);
    // Memory this process may still use: the smaller of the system's available
    // memory and what its control group leaves; -1 when unknown.
    static int64_t availableMemory();

    // File name of the operator's sensitive-word list inside the data folder.
    static const char* const kSensitiveFile;
    // Writes a commented starter list when none exists yet.
    static void ensureSensitiveFile(const std::string& dataDir);

private:
    // The shapes of the API's replies: every key a reply of that kind always carries.
    enum class ReplyKind { Login, Check, Feedback };
    // One API request on its way through apiRoute(): the decoded form, the
    // token's user (for routes that need one) and the reply being built.
    struct ApiCall
    {
        const httplib::Request& request;
        FormData form;
        std::optional<Store::User> user;
        nlohmann::json reply;
    };
    using ApiHandler = void (Service::*)(ApiCall&);
    using PageHandler = void (Service::*)(const httplib::Request&, const FormData*, httplib::Response&);

    void setupRoutes();
    // Every API route goes through here: the body is read (413 past kMaxBody),
    // decoded (bad_request), requiredKey looked for and, when needsToken, the
    // access token checked (token_error); then handler fills in call.reply.
    void apiRoute(const char* path, ReplyKind kind, bool needsToken, const char* requiredKey, ApiHandler handler);
    // A web page. For POST the body is read and decoded as browsers send it and
    // handed over as form, which is null when it could not be; GET pages get null.
    void pageRoute(const char* method, const char* path, PageHandler handler);

    void handleAuth(ApiCall& call);
    void handleCheck(ApiCall& call);
    void handleReport(ApiCall& call);
    void handleAddToDict(ApiCall& call);

    void pageHome(const httplib::Request& request, const FormData* form, httplib::Response& response);
    void pageRegisterForm(const httplib::Request& request, const FormData* form, httplib::Response& response);
    void pageRegister(const httplib::Request& request, const FormData* form, httplib::Response& response);
    void pageAccountForm(const httplib::Request& request, const FormData* form, httplib::Response& response);
    void pageAccount(const httplib::Request& request, const FormData* form, httplib::Response& response);
    void pageContact(const httplib::Request& request, const FormData* form, httplib::Response& response);
    void pageUpdate(const httplib::Request& request, const FormData* form, httplib::Response& response);
    void pageDict(const httplib::Request& request, const FormData* form, httplib::Response& response);

    nlohmann::json replyTemplate(ReplyKind kind, const httplib::Request& request) const;
    std::string baseUrl(const httplib::Request& request) const;
    std::string clientAddress(const httplib::Request& request) const;
    int64_t now() const;
    // The user when the password matches. The attempt is counted against name
    // and address before the password is hashed and given back when it was
    // right; when either is over its limit, nothing is hashed and wait holds
    // the seconds until the next try (-1: the shared database did not answer).
    std::optional<Store::User> checkPassword(const std::string& name, const std::string& password,
                                             const std::string& address, int64_t& wait);
    std::shared_ptr<const SensitiveList> sensitiveWords();

    Store& m_store;
    const Lexicon& m_lexicon;
    const LanguageModel& m_model;
    Checker m_checker;
    Settings m_settings;
    std::string m_boundHost;
    int m_boundPort = -1;
    int m_listenSocket = -1;
    std::unique_ptr<httplib::Server> m_server;
    RateLimiter m_loginFailuresByName;
    RateLimiter m_loginFailuresByAddress;
    RateLimiter m_registrationsByAddress;

    static constexpr long long kSensitiveRereadMs = 5000;
    std::mutex m_sensitiveMutex;
    std::shared_ptr<const SensitiveList> m_sensitive;
    long long m_sensitiveStamp = -1;
    long long m_sensitiveCheckedAt = 0;
};

} // namespace quillet
