#include "Pages.h"
#include "Checker.h"
#include "Lexicon.h"
#include "Utf.h"

#include <ctime>

namespace quillet::pages {

namespace {

std::string layout(const std::string& title, const std::string& body)
{
    return "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
           "<title>" + escape(title) + " - Quillet 校对服务</title><style>"
           "body{font-family:sans-serif;max-width:46em;margin:2em auto;padding:0 1em;line-height:1.6;color:#222}"
           "nav a{margin-right:1em}h1{font-size:1.5em}label{display:block;margin-top:.6em}"
           "input[type=text],input[type=password]{width:18em;padding:.3em}button{margin-top:.8em;padding:.3em 1.2em}"
           ".error{color:#b00}.ok{color:#070}table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:.2em .6em}"
           "</style></head><body><nav><a href=\"/\">首页</a><a href=\"/register/\">注册</a><a href=\"/account/\">我的账户</a>"
           "<a href=\"/dict/\">查词</a><a href=\"/update/\">更新</a><a href=\"/contact/\">联系我们</a></nav>\n<h1>"
           + escape(title) + "</h1>\n" + body + "\n</body></html>\n";
}

std::string notice(const std::string& text, bool error)
{
    if (text.empty())
        return {};
    return std::string("<p class=\"") + (error ? "error" : "ok") + "\">" + escape(text) + "</p>";
}

std::string date(long long seconds)
{
    const std::time_t t = std::time_t(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d", &tm);
    return buffer;
}

} // namespace

std::string escape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string home(bool registrationOpen)
{
    return layout("Quillet 校对服务",
                  "<p>这是 Quillet 中文校对客户端的检查服务。它查找同音字、音近字、形近字、多余的单字和敏感词，"
                  "并给出修改建议。</p>"
                  "<ul><li>在客户端登录后即可检查当前页或后续多页。</li>"
                  + std::string(registrationOpen ? "<li>还没有账户？请先<a href=\"/register/\">注册</a>。</li>"
                                                 : "<li>账户由本服务的管理员开设。</li>")
                  + "<li>想知道一个词是否常用、怎么读？请用<a href=\"/dict/\">查词</a>。</li></ul>");
}

std::string registration(bool open, const std::string& text, bool error, const std::string& name)
{
    if (!open)
        return layout("注册", notice(text, error) + "<p>本服务不开放注册，请联系管理员开设账户。</p>");
    return layout("注册", notice(text, error)
                              + "<form method=\"post\" action=\"/register/\">"
                                "<label>用户名（最多 64 个字符）<br><input type=\"text\" name=\"user_name\" maxlength=\"64\" "
                                "required value=\""
                              + escape(name)
                              + "\"></label>"
                                "<label>密码<br><input type=\"password\" name=\"password\" required></label>"
                                "<label>再次输入密码<br><input type=\"password\" name=\"password2\" required></label>"
                                "<button type=\"submit\">注册</button></form>");
}

std::string account(const AccountView& view, const std::string& text)
{
    if (!view.shown) {
        return layout("我的账户", notice(text, true)
                                      + "<form method=\"post\" action=\"/account/\">"
                                        "<label>用户名<br><input type=\"text\" name=\"user_name\" required></label>"
                                        "<label>密码<br><input type=\"password\" name=\"password\" required></label>"
                                        "<button type=\"submit\">查看账户</button></form>");
    }
    std::string body = "<table><tr><th>用户名</th><td>" + escape(view.name) + "</td></tr><tr><th>会员</th><td>"
        + (view.vip ? "VIP 会员（一次可检查 50 页）" : "普通用户（一次可检查 10 页）")
        + "</td></tr><tr><th>注册日期</th><td>" + date(view.created) + "</td></tr></table>";
    body += "<h2>我的词典（" + std::to_string(view.words.size()) + " 个词）</h2>";
    if (view.words.empty()) {
        body += "<p>词典是空的。在客户端里把词语“加入词典”后，它就不会再被报告为错误。</p>";
    } else {
        body += "<ul>";
        for (const std::string& word : view.words)
            body += "<li>" + escape(word) + "</li>";
        body += "</ul>";
    }
    return layout("我的账户", body);
}

std::string contact()
{
    return layout("联系我们", "<p>本服务由所在单位自行运营。使用中的问题、误报和建议，请在客户端中用“报告错误”提交，"
                              "或联系本单位的服务管理员。</p>");
}

std::string update(const std::string& clientVersion)
{
    std::string body = "<p>本服务支持 Quillet 客户端 2.2 版。</p>";
    if (!clientVersion.empty())
        body += "<p>您正在使用的版本：" + escape(clientVersion) + "。</p>";
    body += "<p>新版本随所在系统的软件包一同发布，请通过系统的软件更新获取。</p>";
    return layout("更新", body);
}

std::string dictionary(const std::string& word, const Lexicon& lexicon, const Checker& checker)
{
    std::string body = "<form method=\"get\" action=\"/dict/\"><label>词语<br><input type=\"text\" name=\"word\" "
                       "maxlength=\"32\" value=\""
        + escape(word) + "\"></label><button type=\"submit\">查询</button></form>";
    DecodedText decoded;
    if (!word.empty() && decodeUtf8(word, decoded) && decoded.chars.size() <= 32) {
        const uint32_t freq = lexicon.frequency(decoded.chars);
        body += "<h2>" + escape(word) + "</h2>";
        if (freq > 0)
            body += "<p>词库中收录，词频 " + std::to_string(freq) + "，词性标记 " + escape(lexicon.tag(decoded.chars))
                + "。</p>";
        else
            body += "<p>词库中没有收录这个词。</p>";
        body += "<table><tr><th>字</th><th>读音（不计声调）</th></tr>";
        for (char32_t c : decoded.chars) {
            if (!isHan(c))
                continue;
            std::string readings;
            for (const std::string& r : lexicon.readings(c))
                readings += (readings.empty() ? "" : "、") + r;
            body += "<tr><td>" + escape(encodeUtf8(c)) + "</td><td>" + escape(readings.empty() ? "—" : readings)
                + "</td></tr>";
        }
        body += "</table>";
        Checker::Options options;
        options.shape = true;
        const std::vector<Finding> findings = checker.check(word, options);
        if (!findings.empty()) {
            body += "<p>可能的写法：";
            for (const Finding& finding : findings) {
                for (const auto& suggestion : finding.suggestions)
                    body += "<a href=\"/dict/?word=" + escape(suggestion.first) + "\">" + escape(suggestion.first)
                        + "</a> ";
            }
            body += "</p>";
        }
    } else if (!word.empty()) {
        body += notice("请输入 32 个字以内的词语。", true);
    }
    return layout("查词", body);
}

std::string notFound()
{
    return layout("页面不存在", "<p>没有这个页面。请回到<a href=\"/\">首页</a>。</p>");
}

} // namespace quillet::pages
