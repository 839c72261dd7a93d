#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quillet {

// A URL-encoded form body as Quillet's client sends it: items joined by "&",
// key and value by "=", percent escapes decoded and "+" kept as a literal plus
// sign. The client's body starts with the request URL (or just "?"), so its
// first key arrives as "http://…/auth/?client_id": everything up to the last
// literal "?" of the first key is dropped.
class FormData
{
public:
    // Parses body; false (and no items) when a percent escape is malformed or a
    // decoded key or value is not valid UTF-8. plusAsSpace decodes "+" as a
    // space, as browsers' HTML forms encode it.
    bool parse(const std::string& body, bool plusAsSpace = false);

    // The value of the first item named key, or fallback when there is none.
    std::string value(const std::string& key, const std::string& fallback = std::string()) const;
    bool has(const std::string& key) const;
    // "1" gives true, "0" false, anything else (or absence) fallback.
    bool flag(const std::string& key, bool fallback) const;

    const std::vector<std::pair<std::string, std::string>>& items() const { return m_items; }

    // Decodes %XX escapes; false on a malformed escape.
    static bool percentDecode(const std::string& in, std::string& out, bool plusAsSpace = false);

private:
    std::vector<std::pair<std::string, std::string>> m_items;
};

} // namespace quillet
