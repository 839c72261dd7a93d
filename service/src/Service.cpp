#include "Service.h"
#include "FormData.h"
#include "Pages.h"
#include "Utf.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <thread>

namespace quillet {

namespace {

using json = nlohmann::json;

const char kJsonType[] = "application/json; charset=utf-8";
const char kHtmlType[] = "text/html; charset=utf-8";

const char kAuthError[] = "auth_error";
const char kTokenError[] = "token_error";
const char kBadRequest[] = "bad_request";
const char kServerError[] = "server_error";
const char kNotFoundError[] = "not_found_error";
const char kLimitError[] = "limit_error";

const char kMsgAuth[] = "用户名或密码错误。";
const char kMsgToken[] = "登录已失效，请重新登录。";
const char kMsgBadRequest[] = "请求格式错误。";
const char kMsgServer[] = "服务器内部错误，请稍后再试。";
const char kMsgNotFound[] = "未发现错误。";

void sendJson(httplib::Response& response, const json& reply)
{
    response.status = 200;
    response.set_content(reply.dump(-1, ' ', false, json::error_handler_t::replace), kJsonType);
}

json errorReply(const char* code, const std::string& message)
{
    return json{{"error_code", code}, {"error_msg", message}};
}

void sendHtml(httplib::Response& response, const std::string& html, int status = 200)
{
    response.status = status;
    response.set_content(html, kHtmlType);
}

long long fileStamp(const std::string& path)
{
    struct stat info
    {
    };
    if (stat(path.c_str(), &info) != 0)
        return -1;
    return (long long)info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec + (long long)info.st_size;
}

long long nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Host header values that may be echoed into a URL.
bool plausibleHost(const std::string& host)
{
    if (host.empty() || host.size() > 255)
        return false;
    for (char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '-' || c == ':' || c == '[' || c == ']' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

// The body of a request, read up to Service::kMaxBody; false when it is larger
// or could not be read.
bool readBody(const httplib::ContentReader& reader, std::string& body)
{
    bool tooLarge = false;
    // The reader fails by itself on bodies the server's payload limit refuses.
    const bool complete = reader([&](const char* data, size_t length) {
        if (body.size() + length > Service::kMaxBody) {
            tooLarge = true;
            return false;
        }
        body.append(data, length);
        return true;
    });
    return complete && !tooLarge;
}

} // namespace

const char* const Service::kSensitiveFile = "sensitive-words.txt";

void Service::ensureSensitiveFile(const std::string& dataDir)
{
    const std::string path = dataDir + "/" + kSensitiveFile;
    if (fileStamp(path) >= 0)
        return;
    std::ofstream out(path);
    out << "# Sensitive words reported by quillet-service (敏感词), one a line.\n"
           "# Optionally a replacement after a tab: word<TAB>replacement.\n"
           "# Lines starting with # are ignored. The service rereads this file when it changes.\n";
}

Service::Service(Store& store, const Lexicon& lexicon, const LanguageModel& model, Settings settings,
                 const WordModel* words)
    : m_store(store)
    , m_lexicon(lexicon)
    , m_model(model)
    , m_checker(lexicon, model, words)
    , m_settings(std::move(settings))
    , m_server(std::make_unique<httplib::Server>())
    , m_loginFailuresByName(m_settings.loginFailuresPerMinute, 60)
    , m_loginFailuresByAddress(m_settings.loginFailuresPerMinute, 60)
    , m_registrationsByAddress(m_settings.registrationsPerHour, 3600)
{
    // cpp-httplib gives each connection a worker for as long as it stays open,
    // so the pool is sized for concurrent connections rather than for cores, and
    // idle or slow connections are let go soon.
    const size_t threads = size_t(std::max(2, m_settings.threads));
    m_server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // Each hash takes 64 MiB and a core: as many at once as cores and memory
    // allow, unless the operator says how many.
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    m_store.setHashConcurrency(m_settings.hashSlots > 0 ? m_settings.hashSlots
                                                        : defaultHashSlots(int(threads), cores, availableMemory()));
    // Processes sharing a database share the limits' counters through it.
    if (Database* db = m_store.database(); db && db->shared()) {
        m_loginFailuresByName.shareThrough(db, "login-name");
        m_loginFailuresByAddress.shareThrough(db, "login-address");
        m_registrationsByAddress.shareThrough(db, "registration");
    }
    m_server->set_payload_max_length(kMaxBody);
    m_server->set_keep_alive_timeout(2);
    m_server->set_keep_alive_max_count(100);
    // Replies are small and written in pieces; without this, delayed ACKs add ~40 ms.
    m_server->set_tcp_nodelay(true);
    m_server->set_read_timeout(5);
    m_server->set_write_timeout(10);
    // Remember the listening socket: bind() widens its accept queue.
    m_server->set_socket_options([this](socket_t sock) {
        httplib::default_socket_options(sock);
        m_listenSocket = int(sock);
    });
    setupRoutes();
}

Service::~Service() = default;

int Service::bind(const std::string& host, int port)
{
    m_boundHost = host;
    if (port == 0)
        m_boundPort = m_server->bind_to_any_port(host);
    else
        m_boundPort = m_server->bind_to_port(host, port) ? port : -1;
    // cpp-httplib listens with a queue of 5 pending connections: past that,
    // new connections are dropped and the client retries a second later, so
    // a burst of connects made every one of them wait a second. Listening
    // again on the same socket only changes the queue's length.
    if (m_boundPort > 0 && m_listenSocket >= 0)
        ::listen(m_listenSocket, SOMAXCONN);
    return m_boundPort;
}

bool Service::run()
{
    return m_server->listen_after_bind();
}

void Service::stop()
{
    m_server->stop();
}

int64_t Service::now() const
{
    if (m_settings.clock)
        return m_settings.clock();
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Service::baseUrl(const httplib::Request& request) const
{
    if (!m_settings.publicUrl.empty())
        return m_settings.publicUrl;
    // The checker address keeps the scheme the client used: a TLS-terminating
    // proxy says so in X-Forwarded-Proto, which only counts when it is trusted.
    std::string scheme = "http";
    if (m_settings.trustProxy) {
        std::string proto = request.get_header_value("X-Forwarded-Proto");
        proto = proto.substr(0, proto.find(','));
        std::transform(proto.begin(), proto.end(), proto.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        proto.erase(std::remove(proto.begin(), proto.end(), ' '), proto.end());
        if (proto == "https")
            scheme = "https";
    }
    const std::string host = request.get_header_value("Host");
    if (plausibleHost(host))
        return scheme + "://" + host + "/";
    const bool v6 = m_boundHost.find(':') != std::string::npos;
    return scheme + "://" + (v6 ? "[" + m_boundHost + "]" : m_boundHost) + ":" + std::to_string(m_boundPort) + "/";
}

std::string Service::clientAddress(const httplib::Request& request) const
{
    if (m_settings.trustProxy) {
        // The proxy appends the address it saw, to the header's last line or as
        // a line of its own (HAProxy); earlier entries are the client's to write.
        const size_t lines = request.get_header_value_count("X-Forwarded-For");
        const std::string forwarded = lines ? request.get_header_value("X-Forwarded-For", lines - 1) : std::string();
        std::string last = forwarded.substr(forwarded.rfind(',') == std::string::npos ? 0 : forwarded.rfind(',') + 1);
        last.erase(std::remove(last.begin(), last.end(), ' '), last.end());
        if (!last.empty() && last.size() <= 64)
            return last;
    }
    return request.remote_addr;
}

int Service::defaultHashSlots(int threads, int cores, int64_t availableBytes)
{
    constexpr int64_t kHashBytes = 64LL * 1024 * 1024;
    int slots = std::max(1, cores);
    if (availableBytes >= 0)
        slots = int(std::min<int64_t>(slots, availableBytes / 4 / kHashBytes));
    return std::max(1, std::min(slots, threads));
}

int64_t Service::availableMemory()
{
    int64_t available = -1;
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    int64_t kib = 0;
    std::string unit;
    while (meminfo >> key >> kib) {
        std::getline(meminfo, unit);
        if (key == "MemAvailable:") {
            available = kib * 1024;
            break;
        }
    }
    // A container's limit and use (cgroup v2); "max" means none.
    std::ifstream limitFile("/sys/fs/cgroup/memory.max"), usageFile("/sys/fs/cgroup/memory.current");
    std::string limitText;
    int64_t usage = 0;
    if (limitFile >> limitText && limitText != "max" && usageFile >> usage) {
        const int64_t left = std::max<int64_t>(0, std::atoll(limitText.c_str()) - usage);
        available = available < 0 ? left : std::min(available, left);
    }
    return available;
}

std::optional<Store::User> Service::checkPassword(const std::string& name, const std::string& password,
                                                  const std::string& address, int64_t& wait)
{
    const std::string addressKey = RateLimiter::addressKey(address);
    const int64_t at = now();
    wait = m_loginFailuresByName.reserve(name, at);
    if (wait != 0)
        return std::nullopt;
    wait = m_loginFailuresByAddress.reserve(addressKey, at);
    if (wait != 0) {
        m_loginFailuresByName.release(name, at);
        return std::nullopt;
    }
    auto user = m_store.verifyPassword(name, password);
    if (user) {
        m_loginFailuresByName.release(name, at);
        m_loginFailuresByAddress.release(addressKey, at);
    }
    return user;
}

std::shared_ptr<const SensitiveList> Service::sensitiveWords()
{
    std::lock_guard<std::mutex> lock(m_sensitiveMutex);
    const long long now = nowMs();
    Database* db = m_store.database();
    if (db && db->shared()) {
        // Shared by every instance, managed with "quillet-service words": read
        // again at most every few seconds. Kept as it was while the database fails.
        if (!m_sensitive || now - m_sensitiveCheckedAt >= kSensitiveRereadMs) {
            m_sensitiveCheckedAt = now;
            if (db->ping() || !m_sensitive) {
                auto list = std::make_shared<SensitiveList>();
                for (const auto& [word, replacement] : db->sensitiveWords())
                    list->add(toU32(word), toU32(replacement));
                m_sensitive = std::move(list);
            }
        }
        return m_sensitive;
    }
    // The operator edits the list while the service runs: look at it at most once a second.
    if (!m_sensitive || now - m_sensitiveCheckedAt >= 1000) {
        m_sensitiveCheckedAt = now;
        const std::string path = m_settings.dataDir + "/" + kSensitiveFile;
        const long long stamp = fileStamp(path);
        if (!m_sensitive || stamp != m_sensitiveStamp) {
            auto list = std::make_shared<SensitiveList>();
            list->load(path);
            m_sensitive = std::move(list);
            m_sensitiveStamp = stamp;
        }
    }
    return m_sensitive;
}

json Service::replyTemplate(ReplyKind kind, const httplib::Request& request) const
{
    switch (kind) {
    case ReplyKind::Login:
        // A login reply always carries every key.
        return json{{"access_token", ""},
                    {"checker_url", baseUrl(request) + "api/v2/check/"},
                    {"piece_length", kPieceLength},
                    {"is_vip", false},
                    {"user_name", ""},
                    {"error_code", ""},
                    {"error_msg", ""}};
    case ReplyKind::Check:
        return json{{"error_code", ""}, {"error_msg", ""}, {"errors", json::array()}};
    case ReplyKind::Feedback:
        break;
    }
    return errorReply("", "");
}

void Service::setupRoutes()
{
    apiRoute("/api/v2/auth/", ReplyKind::Login, false, nullptr, &Service::handleAuth);
    apiRoute("/api/v2/check/", ReplyKind::Check, true, "text", &Service::handleCheck);
    apiRoute("/api/v2/report-error/", ReplyKind::Feedback, true, nullptr, &Service::handleReport);
    apiRoute("/api/v2/add-to-dict/", ReplyKind::Feedback, true, nullptr, &Service::handleAddToDict);

    pageRoute("GET", "/", &Service::pageHome);
    pageRoute("GET", "/register/?", &Service::pageRegisterForm);
    pageRoute("POST", "/register/?", &Service::pageRegister);
    pageRoute("GET", "/account/?", &Service::pageAccountForm);
    pageRoute("POST", "/account/?", &Service::pageAccount);
    pageRoute("GET", "/contact/?", &Service::pageContact);
    pageRoute("GET", "/update/?", &Service::pageUpdate);
    pageRoute("GET", "/dict/?", &Service::pageDict);
    m_server->Get("/healthz", [this](const httplib::Request&, httplib::Response& response) {
        const bool ready = m_model.loaded() && m_store.database() && m_store.database()->ping();
        response.status = ready ? 200 : 503;
        response.set_content(ready ? "ok\n" : "not ready: the database does not answer\n", "text/plain");
    });

    m_server->set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.status == 404)
            sendHtml(response, pages::notFound(), 404);
        else if (response.body.empty())
            response.set_content("HTTP error " + std::to_string(response.status) + "\n", "text/plain");
    });
    m_server->set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        sendJson(response, errorReply(kServerError, kMsgServer));
    });
}

void Service::apiRoute(const char* path, ReplyKind kind, bool needsToken, const char* requiredKey, ApiHandler handler)
{
    m_server->Post(
        path, [=](const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader) {
            std::string body;
            if (!readBody(reader, body)) {
                response.status = 413;
                response.set_content("payload too large", "text/plain");
                return;
            }
            ApiCall call{request, FormData(), std::nullopt, replyTemplate(kind, request)};
            const auto fail = [&](const char* code, const char* message) {
                call.reply["error_code"] = code;
                call.reply["error_msg"] = message;
                sendJson(response, call.reply);
            };
            if (!call.form.parse(body) || (requiredKey && !call.form.has(requiredKey))) {
                fail(kBadRequest, kMsgBadRequest);
                return;
            }
            if (needsToken) {
                bool failed = false;
                call.user = m_store.userForToken(call.form.value("access_token"), &failed);
                if (failed) {
                    // The session may well be valid: the client must not drop it.
                    fail(kServerError, kMsgServer);
                    return;
                }
                if (!call.user) {
                    fail(kTokenError, kMsgToken);
                    return;
                }
            }
            (this->*handler)(call);
            sendJson(response, call.reply);
        });
}

void Service::pageRoute(const char* method, const char* path, PageHandler handler)
{
    if (std::string(method) == "GET") {
        m_server->Get(path, [=](const httplib::Request& request, httplib::Response& response) {
            (this->*handler)(request, nullptr, response); // GET pages read no form
        });
        return;
    }
    m_server->Post(
        path, [=](const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader) {
            std::string body;
            FormData form;
            const bool decoded = readBody(reader, body) && form.parse(body, true);
            (this->*handler)(request, decoded ? &form : nullptr, response);
        });
}

// ---------------------------------------------------------------------------
// The API

namespace {

void setError(json& reply, const char* code, const std::string& message)
{
    reply["error_code"] = code;
    reply["error_msg"] = message;
}

std::string waitMessage(int64_t seconds)
{
    return "登录失败次数过多，请 " + std::to_string(seconds) + " 秒后再试。";
}

} // namespace

void Service::handleAuth(ApiCall& call)
{
    const std::string name = call.form.value("user_name");
    const std::string password = call.form.value("password");
    const std::string token = call.form.value("access_token");
    call.reply["user_name"] = name;

    // A token the client already holds for this user is handed back as it is:
    // the client logs in before every check, and each login must not leave a
    // new token behind.
    bool failed = false;
    const std::optional<Store::User> tokenUser = m_store.userForToken(token, &failed);
    if (failed) {
        setError(call.reply, kServerError, kMsgServer);
        return;
    }

    const bool tokenOfThisUser = tokenUser && tokenUser->name == name;
    bool passwordHashed = false;
    std::optional<Store::User> user;
    if (tokenOfThisUser && (password.empty() || m_store.passwordMatchesToken(token, password))) {
        // A restarted client holds its token but not the password; a running
        // one sends both before each check, and the password it last proved
        // with this token is recognised without a password hash.
        user = tokenUser;
    } else if (!password.empty()) {
        int64_t wait = 0;
        user = checkPassword(name, password, clientAddress(call.request), wait);
        passwordHashed = user.has_value();
        if (wait < 0) {
            setError(call.reply, kServerError, kMsgServer);
            return;
        }
        if (wait > 0) {
            setError(call.reply, kAuthError, waitMessage(wait));
            return;
        }
        if (!user) {
            setError(call.reply, kAuthError, kMsgAuth);
            return;
        }
    } else if (!token.empty()) {
        setError(call.reply, kTokenError, kMsgToken);
        return;
    } else {
        setError(call.reply, kAuthError, kMsgAuth);
        return;
    }

    const bool keep = tokenUser && tokenUser->id == user->id;
    const std::string session = keep ? token : m_store.issueToken(user->id);
    if (session.empty()) {
        setError(call.reply, kServerError, kMsgServer);
        return;
    }
    if (passwordHashed)
        m_store.rememberPassword(session, password);
    call.reply["access_token"] = session;
    call.reply["is_vip"] = user->vip;
    call.reply["user_name"] = user->name;
}

void Service::handleCheck(ApiCall& call)
{
    const std::string text = call.form.value("text");
    DecodedText decoded;
    decodeUtf8(text, decoded);
    if (decoded.chars.size() > kMaxCheckText) {
        setError(call.reply, kBadRequest, "文本过长，每次最多检查 " + std::to_string(kMaxCheckText) + " 个字。");
        return;
    }

    Checker::Options options;
    options.homophone = call.form.flag("check_tong_yin", true);
    options.shape = call.form.flag("check_xing_jin", false);
    options.sensitive = call.form.flag("check_min_gan_ci", false);
    options.collocation = call.form.flag("check_skip", false);

    std::vector<std::u32string> userWords;
    for (const std::string& word : m_store.userWords(call.user->id))
        userWords.push_back(toU32(word));
    const std::shared_ptr<const SensitiveList> sensitive = options.sensitive ? sensitiveWords() : nullptr;
    const std::vector<Finding> findings = m_checker.check(text, options, sensitive.get(), userWords);

    json errors = json::array();
    for (const Finding& finding : findings) {
        json spans = json::array();
        for (const auto& [start, end] : finding.spans)
            spans.push_back(json::array({start, end}));
        json item{{"text", finding.text}, {"type", finding.type}, {"spans", spans}};
        json suggestions = json::array();
        for (const auto& [suggestion, count] : finding.suggestions) {
            json s{{"text", suggestion}};
            if (count >= 0)
                s["count"] = count;
            suggestions.push_back(s);
        }
        item["suggestions"] = suggestions;
        errors.push_back(item);
    }
    if (findings.empty())
        setError(call.reply, kNotFoundError, kMsgNotFound);
    call.reply["errors"] = errors;
}

void Service::handleReport(ApiCall& call)
{
    const FormData& form = call.form;
    for (const char* key : {"msg", "text_error", "text_sentence"}) {
        if (toU32(form.value(key)).size() > kMaxReportField) {
            setError(call.reply, kBadRequest, "反馈内容过长，每项最多 " + std::to_string(kMaxReportField) + " 个字。");
            return;
        }
    }
    const std::string client = form.value("client_id") + " " + form.value("client_ver") + " / " +
                               form.value("host_id") + " " + form.value("host_ver");
    switch (m_store.addReport(call.user->id, form.value("msg"), form.value("text_error"), form.value("text_sentence"),
                              client.substr(0, 200))) {
    case Store::WriteResult::Stored:
        break;
    case Store::WriteResult::Full:
        setError(call.reply, kLimitError,
                 "今天的反馈已达上限（每天 " + std::to_string(m_store.limits().reportsPerDay) + " 条），请明天再试。");
        break;
    case Store::WriteResult::Failed:
        setError(call.reply, kServerError, kMsgServer);
        break;
    }
}

void Service::handleAddToDict(ApiCall& call)
{
    const std::u32string word = toU32(call.form.value("new_word"));
    if (word.empty() || word.size() > 50) {
        setError(call.reply, kBadRequest, "请给出 1 到 50 个字的词语。");
        return;
    }
    switch (m_store.addWord(call.user->id, encodeUtf8(word))) {
    case Store::WriteResult::Stored:
        break;
    case Store::WriteResult::Full:
        setError(call.reply, kLimitError,
                 "词典已满：每位用户最多 " + std::to_string(m_store.limits().wordsPerUser) + " 个词。");
        break;
    case Store::WriteResult::Failed:
        setError(call.reply, kServerError, kMsgServer);
        break;
    }
}

// ---------------------------------------------------------------------------
// Web pages

void Service::pageHome(const httplib::Request&, const FormData*, httplib::Response& response)
{
    sendHtml(response, pages::home(m_settings.openRegistration));
}

void Service::pageRegisterForm(const httplib::Request&, const FormData*, httplib::Response& response)
{
    sendHtml(response, pages::registration(m_settings.openRegistration, {}, false, {}));
}

void Service::pageRegister(const httplib::Request& request, const FormData* form, httplib::Response& response)
{
    if (!form) {
        sendHtml(response, pages::registration(m_settings.openRegistration, kMsgBadRequest, true, {}), 400);
        return;
    }
    const std::string name = form->value("user_name");
    const std::string password = form->value("password");
    if (!m_settings.openRegistration) {
        sendHtml(response, pages::registration(false, {}, false, {}), 403);
        return;
    }
    const auto answer = [&](const std::string& message, bool error, int status = 200) {
        sendHtml(response, pages::registration(true, message, error, error ? name : std::string()), status);
    };
    const std::string address = clientAddress(request);
    if (password != form->value("password2")) {
        answer("两次输入的密码不一致。", true);
        return;
    }
    if (!Store::strongEnoughPassword(password)) {
        answer("密码至少需要 " + std::to_string(Store::kMinNewPassword) + " 个字符。", true);
        return;
    }
    // Invalid and taken names are answered without hashing; every attempt that
    // hashes counts, reserved before the hash so parallel attempts cannot pass together.
    if (!Store::validUserName(name)) {
        answer("用户名须为 1 到 64 个字符、不含控制字符且首尾无空格。", true);
        return;
    }
    if (m_store.findUser(name)) {
        answer("这个用户名已经有人使用。", true);
        return;
    }
    const int64_t wait = m_registrationsByAddress.reserve(RateLimiter::addressKey(address), now());
    if (wait < 0) {
        answer(kMsgServer, true, 503);
        return;
    }
    if (wait > 0) {
        answer("注册过于频繁，请稍后再试。", true, 429);
        return;
    }
    switch (m_store.addUser(name, password, false)) {
    case Store::AddResult::Added:
        answer("注册成功。现在可以在客户端里用 " + name + " 登录了。", false);
        break;
    case Store::AddResult::Exists:
        answer("这个用户名已经有人使用。", true);
        break;
    case Store::AddResult::Invalid:
        answer("用户名须为 1 到 64 个字符、不含控制字符且首尾无空格；密码为 8 到 500 个字符。", true);
        break;
    case Store::AddResult::Failed:
        answer(kMsgServer, true);
        break;
    }
}

void Service::pageAccountForm(const httplib::Request&, const FormData*, httplib::Response& response)
{
    sendHtml(response, pages::account({}, {}));
}

void Service::pageAccount(const httplib::Request& request, const FormData* form, httplib::Response& response)
{
    if (!form) {
        sendHtml(response, pages::account({}, kMsgBadRequest), 400);
        return;
    }
    // The same password check as a login, under the same limits.
    const std::string name = form->value("user_name");
    int64_t wait = 0;
    const auto user = checkPassword(name, form->value("password"), clientAddress(request), wait);
    if (wait < 0) {
        sendHtml(response, pages::account({}, kMsgServer), 503);
        return;
    }
    if (wait > 0) {
        sendHtml(response, pages::account({}, waitMessage(wait)));
        return;
    }
    if (!user) {
        sendHtml(response, pages::account({}, kMsgAuth));
        return;
    }
    pages::AccountView view;
    view.shown = true;
    view.name = user->name;
    view.vip = user->vip;
    view.created = user->created;
    view.words = m_store.userWords(user->id);
    sendHtml(response, pages::account(view, {}));
}

void Service::pageContact(const httplib::Request&, const FormData*, httplib::Response& response)
{
    sendHtml(response, pages::contact());
}

void Service::pageUpdate(const httplib::Request& request, const FormData*, httplib::Response& response)
{
    const std::string version = request.get_param_value("client_ver");
    sendHtml(response, pages::update(isValidUtf8(version) ? version : std::string()));
}

void Service::pageDict(const httplib::Request& request, const FormData*, httplib::Response& response)
{
    std::string word = request.get_param_value("word");
    if (!isValidUtf8(word))
        word.clear();
    sendHtml(response, pages::dictionary(word, m_lexicon, m_checker));
}

} // namespace quillet
