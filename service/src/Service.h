#pragma once

#include "Checker.h"
#include "FormData.h"
#include "Lexicon.h"
#include "Store.h"

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

// The HTTP side of the service: the client's API (docs/protocol.md) and the
// web pages. Owns the HTTP server; the store and lexicon belong to the caller
// and must outlive it.
class Service
{
public:
    struct Settings
    {
        std::string dataDir;     // holds sensitive-words.txt
        std::string publicUrl;   // base URL to announce (ends in "/"); empty: from the Host header
        int threads = 16;
        bool openRegistration = true;
    };

    Service(Store& store, const Lexicon& lexicon, const LanguageModel& model, Settings settings);
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

    // File name of the operator's sensitive-word list inside the data folder.
    static const char* const kSensitiveFile;
    // Writes a commented starter list when none exists yet.
    static void ensureSensitiveFile(const std::string& dataDir);

private:
    void setupRoutes();
    std::string baseUrl(const httplib::Request& request) const;
    std::shared_ptr<const SensitiveList> sensitiveWords();

    void handleAuth(const httplib::Request& request, const std::string& body, httplib::Response& response);
    void handleCheck(const httplib::Request& request, const std::string& body, httplib::Response& response);
    void handleReport(const std::string& body, httplib::Response& response);
    // Decodes a form that must carry a valid access token (and requiredKey, when
    // given). On failure it answers the error itself (with an empty "errors"
    // array for check replies) and returns nothing.
    std::optional<Store::User> authorize(const std::string& body, FormData& form, httplib::Response& response,
                                         bool withErrors = false, const char* requiredKey = nullptr);
    void handleAddToDict(const std::string& body, httplib::Response& response);

    Store& m_store;
    const Lexicon& m_lexicon;
    Checker m_checker;
    Settings m_settings;
    std::string m_boundHost;
    int m_boundPort = -1;
    std::unique_ptr<httplib::Server> m_server;

    std::mutex m_sensitiveMutex;
    std::shared_ptr<const SensitiveList> m_sensitive;
    long long m_sensitiveStamp = -1;
    long long m_sensitiveCheckedAt = 0;
};

} // namespace quillet
