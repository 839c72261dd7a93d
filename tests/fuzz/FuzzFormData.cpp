// libFuzzer target: the service's form decoder and percent-decoding. A parsed
// form holds only valid UTF-8; percent-encoding any bytes and decoding them
// gives the bytes back; a form built from items decodes to the same items.
#include "FormData.h"
#include "Utf.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using quillet::FormData;

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

std::string percentEncode(const std::string& in)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : in) {
        out += '%';
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string body(reinterpret_cast<const char*>(data), size);

    for (bool plusAsSpace : {false, true}) {
        FormData form;
        if (form.parse(body, plusAsSpace)) {
            for (const auto& [key, value] : form.items()) {
                require(quillet::isValidUtf8(key) && quillet::isValidUtf8(value));
                require(form.has(key));
            }
        } else {
            require(form.items().empty());
        }
    }

    std::string decoded;
    require(FormData::percentDecode(percentEncode(body), decoded) && decoded == body);
    FormData::percentDecode(body, decoded, size % 2 == 0);

    // Items split out of the input at NUL bytes, encoded the way the client does.
    std::vector<std::string> parts;
    std::string current;
    for (char c : body) {
        if (c == '\0') {
            parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    parts.push_back(current);
    std::string encoded = "?";
    std::vector<std::pair<std::string, std::string>> items;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty() || !quillet::isValidUtf8(parts[i]) || !quillet::isValidUtf8(parts[i + 1]))
            continue;
        items.emplace_back(parts[i], parts[i + 1]);
        encoded += (encoded.size() > 1 ? "&" : "") + percentEncode(parts[i]) + "=" + percentEncode(parts[i + 1]);
    }
    FormData form;
    require(form.parse(encoded));
    require(form.items() == items);
    return 0;
}
