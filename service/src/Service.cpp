#include "Service.h"
#include "FormData.h"
#include "Pages.h"
#include "Utf.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <chrono>
#include <fstream>

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
    struct stat info{};
    if (stat(path.c_str(), &info) != 0)
        return -1;
    return (long long)info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec + (long long)info.st_size;
}

long long nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Host header values that may be echoed into a URL.
bool plausibleHost(const std::string& host)
{
    if (host.empty() || host.size() > 255)
        return false;
    for (char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
            || c == '-' || c == ':' || c == '[' || c == ']' || c == '_';
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

Service::Service(Store& store, const Lexicon& lexicon, const LanguageModel& model, Settings settings)
    : m_store(store)
    , m_lexicon(lexicon)
    , m_checker(lexicon, model)
    , m_settings(std::move(settings))
    , m_server(std::make_unique<httplib::Server>())
{
    const size_t threads = size_t(std::max(2, m_settings.threads));
    m_server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    m_server->set_payload_max_length(kMaxBody);
    m_server->set_keep_alive_timeout(5);
    m_server->set_keep_alive_max_count(1000);
    // Replies are small and written in pieces; without this, delayed ACKs add ~40 ms.
    m_server->set_tcp_nodelay(true);
    m_server->set_read_timeout(10);
    m_server->set_write_timeout(10);
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

std::string Service::baseUrl(const httplib::Request& request) const
{
    if (!m_settings.publicUrl.empty())
        return m_settings.publicUrl;
    const std::string host = request.get_header_value("Host");
    if (plausibleHost(host))
        return "http://" + host + "/";
    const bool v6 = m_boundHost.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + m_boundHost + "]" : m_boundHost) + ":" + std::to_string(m_boundPort) + "/";
}

std::shared_ptr<const SensitiveList> Service::sensitiveWords()
{
    std::lock_guard<std::mutex> lock(m_sensitiveMutex);
    const long long now = nowMs();
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

void Service::setupRoutes()
{
    httplib::Server& server = *m_server;

    auto api = [this](void (Service::*handler)(const httplib::Request&, const std::string&, httplib::Response&)) {
        return [this, handler](const httplib::Request& request, httplib::Response& response,
                               const httplib::ContentReader& reader) {
            std::string body;
            if (!readBody(reader, body)) {
                response.status = 413;
                response.set_content("payload too large", "text/plain");
                return;
            }
            (this->*handler)(request, body, response);
        };
    };
    server.Post("/api/v2/auth/", api(&Service::handleAuth));
    server.Post("/api/v2/check/", api(&Service::handleCheck));
    server.Post("/api/v2/report-error/",
                [this](const httplib::Request&, httplib::Response& response, const httplib::ContentReader& reader) {
                    std::string body;
                    if (!readBody(reader, body)) {
                        response.status = 413;
                        return;
                    }
                    handleReport(body, response);
                });
    server.Post("/api/v2/add-to-dict/",
                [this](const httplib::Request&, httplib::Response& response, const httplib::ContentReader& reader) {
                    std::string body;
                    if (!readBody(reader, body)) {
                        response.status = 413;
                        return;
                    }
                    handleAddToDict(body, response);
                });

    server.Get("/", [this](const httplib::Request&, httplib::Response& response) {
        sendHtml(response, pages::home(m_settings.openRegistration));
    });
    server.Get("/register/?", [this](const httplib::Request&, httplib::Response& response) {
        sendHtml(response, pages::registration(m_settings.openRegistration, {}, false, {}));
    });
    server.Post("/register/?", [this](const httplib::Request&, httplib::Response& response,
                                      const httplib::ContentReader& reader) {
        std::string body;
        FormData form;
        if (!readBody(reader, body) || !form.parse(body, true)) {
            sendHtml(response, pages::registration(m_settings.openRegistration, kMsgBadRequest, true, {}), 400);
            return;
        }
        const std::string name = form.value("user_name");
        if (!m_settings.openRegistration) {
            sendHtml(response, pages::registration(false, {}, false, {}), 403);
            return;
        }
        std::string message;
        bool error = true;
        if (form.value("password") != form.value("password2")) {
            message = "两次输入的密码不一致。";
        } else {
            switch (m_store.addUser(name, form.value("password"), false)) {
            case Store::AddResult::Added:
                message = "注册成功。现在可以在客户端里用 " + name + " 登录了。";
                error = false;
                break;
            case Store::AddResult::Exists:
                message = "这个用户名已经有人使用。";
                break;
            case Store::AddResult::Invalid:
                message = "用户名须为 1 到 64 个字符、不含控制字符且首尾无空格；密码不能为空。";
                break;
            case Store::AddResult::Failed:
                message = kMsgServer;
                break;
            }
        }
        sendHtml(response, pages::registration(true, message, error, error ? name : std::string()));
    });
    server.Get("/account/?", [](const httplib::Request&, httplib::Response& response) {
        sendHtml(response, pages::account({}, {}));
    });
    server.Post("/account/?", [this](const httplib::Request&, httplib::Response& response,
                                     const httplib::ContentReader& reader) {
        std::string body;
        FormData form;
        if (!readBody(reader, body) || !form.parse(body, true)) {
            sendHtml(response, pages::account({}, kMsgBadRequest), 400);
            return;
        }
        const auto user = m_store.verifyPassword(form.value("user_name"), form.value("password"));
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
    });
    server.Get("/contact/?", [](const httplib::Request&, httplib::Response& response) {
        sendHtml(response, pages::contact());
    });
    server.Get("/update/?", [](const httplib::Request& request, httplib::Response& response) {
        const std::string version = request.get_param_value("client_ver");
        sendHtml(response, pages::update(isValidUtf8(version) ? version : std::string()));
    });
    server.Get("/dict/?", [this](const httplib::Request& request, httplib::Response& response) {
        std::string word = request.get_param_value("word");
        if (!isValidUtf8(word))
            word.clear();
        sendHtml(response, pages::dictionary(word, m_lexicon, m_checker));
    });

    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.status == 404)
            sendHtml(response, pages::notFound(), 404);
        else if (response.body.empty())
            response.set_content("HTTP error " + std::to_string(response.status) + "\n", "text/plain");
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        sendJson(response, errorReply(kServerError, kMsgServer));
    });
}

void Service::handleAuth(const httplib::Request& request, const std::string& body, httplib::Response& response)
{
    FormData form;
    const std::string checkerUrl = baseUrl(request) + "api/v2/check/";
    json reply{{"access_token", ""}, {"checker_url", checkerUrl}, {"piece_length", kPieceLength},
               {"is_vip", false}, {"user_name", ""}, {"error_code", ""}, {"error_msg", ""}};
    if (!form.parse(body)) {
        reply["error_code"] = kBadRequest;
        reply["error_msg"] = kMsgBadRequest;
        sendJson(response, reply);
        return;
    }
    const std::string name = form.value("user_name");
    const std::string password = form.value("password");
    const std::string token = form.value("access_token");
    reply["user_name"] = name;

    std::optional<Store::User> user;
    const char* code = kAuthError;
    const char* message = kMsgAuth;
    if (!password.empty()) {
        user = m_store.verifyPassword(name, password);
    } else if (!token.empty()) {
        // A restarted client holds its token but not the password.
        user = m_store.userForToken(token);
        if (user && user->name != name)
            user.reset();
        if (!user) {
            code = kTokenError;
            message = kMsgToken;
        }
    }
    if (!user) {
        reply["error_code"] = code;
        reply["error_msg"] = message;
        sendJson(response, reply);
        return;
    }
    const std::string fresh = m_store.issueToken(user->id);
    if (fresh.empty()) {
        reply["error_code"] = kServerError;
        reply["error_msg"] = kMsgServer;
    } else {
        reply["access_token"] = fresh;
        reply["is_vip"] = user->vip;
        reply["user_name"] = user->name;
    }
    sendJson(response, reply);
}

void Service::handleCheck(const httplib::Request&, const std::string& body, httplib::Response& response)
{
    FormData form;
    const auto user = authorize(body, form, response, true, "text");
    if (!user)
        return;
    const std::string text = form.value("text");
    DecodedText decoded;
    decodeUtf8(text, decoded);
    if (decoded.chars.size() > kMaxCheckText) {
        json reply = errorReply(kBadRequest, "文本过长，每次最多检查 " + std::to_string(kMaxCheckText) + " 个字。");
        reply["errors"] = json::array();
        sendJson(response, reply);
        return;
    }

    Checker::Options options;
    options.homophone = form.flag("check_tong_yin", true);
    options.shape = form.flag("check_xing_jin", false);
    options.sensitive = form.flag("check_min_gan_ci", false);
    options.collocation = form.flag("check_skip", false);

    std::vector<std::u32string> userWords;
    for (const std::string& word : m_store.userWords(user->id))
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
    json reply = findings.empty() ? errorReply(kNotFoundError, kMsgNotFound) : errorReply("", "");
    reply["errors"] = errors;
    sendJson(response, reply);
}

std::optional<Store::User> Service::authorize(const std::string& body, FormData& form, httplib::Response& response,
                                             bool withErrors, const char* requiredKey)
{
    const auto fail = [&](const char* code, const char* message) {
        json reply = errorReply(code, message);
        if (withErrors)
            reply["errors"] = json::array();
        sendJson(response, reply);
    };
    if (!form.parse(body) || (requiredKey && !form.has(requiredKey))) {
        fail(kBadRequest, kMsgBadRequest);
        return std::nullopt;
    }
    auto user = m_store.userForToken(form.value("access_token"));
    if (!user)
        fail(kTokenError, kMsgToken);
    return user;
}

void Service::handleReport(const std::string& body, httplib::Response& response)
{
    FormData form;
    const auto user = authorize(body, form, response);
    if (!user)
        return;
    const std::string client = form.value("client_id") + " " + form.value("client_ver") + " / "
        + form.value("host_id") + " " + form.value("host_ver");
    if (!m_store.addReport(user->id, form.value("msg"), form.value("text_error"), form.value("text_sentence"), client)) {
        sendJson(response, errorReply(kServerError, kMsgServer));
        return;
    }
    sendJson(response, errorReply("", ""));
}

void Service::handleAddToDict(const std::string& body, httplib::Response& response)
{
    FormData form;
    const auto user = authorize(body, form, response);
    if (!user)
        return;
    const std::u32string word = toU32(form.value("new_word"));
    if (word.empty() || word.size() > 50) {
        sendJson(response, errorReply(kBadRequest, "请给出 1 到 50 个字的词语。"));
        return;
    }
    if (!m_store.addWord(user->id, encodeUtf8(word))) {
        sendJson(response, errorReply(kServerError, kMsgServer));
        return;
    }
    sendJson(response, errorReply("", ""));
}

} // namespace quillet
