#include "FormData.h"
#include "Utf.h"

namespace quillet {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool FormData::percentDecode(const std::string& in, std::string& out, bool plusAsSpace)
{
    out.clear();
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += plusAsSpace && in[i] == '+' ? ' ' : in[i];
            continue;
        }
        if (i + 2 >= in.size())
            return false;
        const int hi = hexValue(in[i + 1]);
        const int lo = hexValue(in[i + 2]);
        if (hi < 0 || lo < 0)
            return false;
        out += char(hi * 16 + lo);
        i += 2;
    }
    return true;
}

bool FormData::parse(const std::string& body, bool plusAsSpace)
{
    m_items.clear();
    std::vector<std::pair<std::string, std::string>> items;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string::npos)
            end = body.size();
        const std::string item = body.substr(start, end - start);
        if (!item.empty()) {
            size_t keyStart = 0;
            const size_t eq = item.find('=');
            if (items.empty() && start == 0) {
                // The client's body is a URL: its first key carries the address and "?"
                // in front. Keys are fixed names, so a literal "?" only ever ends that prefix.
                const size_t question = item.rfind('?', eq);
                if (question != std::string::npos)
                    keyStart = question + 1;
            }
            // The address prefix alone ("?" of an empty check body) is no item.
            if (keyStart == item.size()) {
                start = end + 1;
                continue;
            }
            std::string key, value;
            if (!percentDecode(item.substr(keyStart, eq == std::string::npos ? std::string::npos : eq - keyStart), key,
                               plusAsSpace))
                return false;
            if (eq != std::string::npos && !percentDecode(item.substr(eq + 1), value, plusAsSpace))
                return false;
            if (!isValidUtf8(key) || !isValidUtf8(value))
                return false;
            items.emplace_back(std::move(key), std::move(value));
        }
        start = end + 1;
    }
    m_items = std::move(items);
    return true;
}

std::string FormData::value(const std::string& key, const std::string& fallback) const
{
    for (const auto& item : m_items) {
        if (item.first == key)
            return item.second;
    }
    return fallback;
}

bool FormData::has(const std::string& key) const
{
    for (const auto& item : m_items) {
        if (item.first == key)
            return true;
    }
    return false;
}

bool FormData::flag(const std::string& key, bool fallback) const
{
    if (!has(key))
        return fallback;
    const std::string v = value(key);
    if (v == "1")
        return true;
    if (v == "0")
        return false;
    return fallback;
}

} // namespace quillet
