#include "utility/JsonDecode.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace {

// Nesting deeper than any reply needs is refused before it is built.
constexpr int kMaxDepth = 64;

// A first pass over a reply that builds nothing: true when it is well-formed
// JSON in valid UTF-8, nests at most kMaxDepth deep and repeats no key within
// an object (keys compared after their escapes are decoded). Qt's parser
// leaks the earlier value of a repeated key when that value is an array or an
// object, so a hostile service could make the client grow with every reply.
class ReplyShape : public nlohmann::json_sax<nlohmann::json>
{
public:
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override
    {
        m_keys.emplace_back();
        return ++m_depth <= kMaxDepth;
    }
    bool key(string_t& key) override { return m_keys.back().insert(key).second; }
    bool end_object() override
    {
        m_keys.pop_back();
        --m_depth;
        return true;
    }
    bool start_array(std::size_t) override { return ++m_depth <= kMaxDepth; }
    bool end_array() override
    {
        --m_depth;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    std::vector<std::set<std::string>> m_keys;
    int m_depth = 0;
};

bool parseObject(const std::string& json, QJsonObject& object)
{
    if (json.empty() || json.size() > kMaxReplyBytes)
        return false;
    ReplyShape shape;
    if (!nlohmann::json::sax_parse(json, &shape, nlohmann::json::input_format_t::json, true, false))
        return false;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromRawData(json.data(), int(json.size())), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    object = doc.object();
    return true;
}

bool toInt(const QJsonValue& value, int& out)
{
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || d < std::numeric_limits<int>::min() ||
        d > std::numeric_limits<int>::max())
        return false;
    out = int(d);
    return true;
}

bool toString(const QJsonValue& value, std::string& out)
{
    if (!value.isString())
        return false;
    out = value.toString().toStdString();
    return true;
}

// Reads an optional string key; absent keys keep out as it is.
bool optionalString(const QJsonObject& object, const char* key, std::string& out)
{
    const auto it = object.constFind(QLatin1String(key));
    return it == object.constEnd() || toString(*it, out);
}

bool decodeSuggestion(const QJsonValue& value, CDataItemValue& out)
{
    if (!value.isObject())
        return false;
    const QJsonObject object = value.toObject();
    std::string text;
    int count = -1;
    if (!toString(object.value(QLatin1String("text")), text))
        return false;
    const auto countIt = object.constFind(QLatin1String("count"));
    if (countIt != object.constEnd() && !toInt(*countIt, count))
        return false;
    out = CDataItemValue(std::move(text), count);
    return true;
}

bool decodeFinding(const QJsonValue& value, CCheckData& out)
{
    if (!value.isObject())
        return false;
    const QJsonObject object = value.toObject();
    if (!toString(object.value(QLatin1String("text")), out.text) ||
        !toInt(object.value(QLatin1String("type")), out.type) || out.type < 0)
        return false;

    const QJsonValue spans = object.value(QLatin1String("spans"));
    if (!spans.isArray())
        return false;
    for (const QJsonValue& span : spans.toArray()) {
        const QJsonArray pair = span.toArray();
        int start = 0, end = 0;
        if (!span.isArray() || pair.size() != 2 || !toInt(pair.at(0), start) || !toInt(pair.at(1), end) || start < 0 ||
            start > end)
            return false;
        out.spans.emplace_back(start, end);
    }

    const auto suggestionsIt = object.constFind(QLatin1String("suggestions"));
    if (suggestionsIt != object.constEnd()) {
        if (!suggestionsIt->isArray())
            return false;
        std::vector<CDataItemValue> suggestions;
        for (const QJsonValue& item : suggestionsIt->toArray()) {
            CDataItemValue suggestion;
            if (!decodeSuggestion(item, suggestion))
                return false;
            suggestions.push_back(std::move(suggestion));
        }
        out.suggestions = std::move(suggestions);
    }
    return true;
}

} // namespace

bool JSONToCheckData(const std::string& json, CHECK_DATAS& datas, std::string& code, std::string& message)
{
    QJsonObject object;
    if (!parseObject(json, object))
        return false;

    std::string newCode, newMessage;
    if (!optionalString(object, "error_code", newCode) || !optionalString(object, "error_msg", newMessage))
        return false;

    CHECK_DATAS found;
    const auto errorsIt = object.constFind(QLatin1String("errors"));
    if (errorsIt != object.constEnd()) {
        if (!errorsIt->isArray())
            return false;
        for (const QJsonValue& value : errorsIt->toArray()) {
            auto finding = std::make_shared<CCheckData>();
            if (!decodeFinding(value, *finding))
                return false;
            found.push_back(std::move(finding));
        }
    }

    datas.insert(datas.end(), found.begin(), found.end());
    code = std::move(newCode);
    message = std::move(newMessage);
    return true;
}

bool JSONToServer(const std::string& json, CServerInfo& info)
{
    QJsonObject object;
    if (!parseObject(json, object))
        return false;

    CServerInfo result = info;
    if (!optionalString(object, "access_token", result.accessToken) ||
        !optionalString(object, "checker_url", result.checkerUrl) ||
        !optionalString(object, "user_name", result.userName) ||
        !optionalString(object, "error_code", result.errorCode) ||
        !optionalString(object, "error_msg", result.errorMsg))
        return false;

    const auto pieceIt = object.constFind(QLatin1String("piece_length"));
    if (pieceIt != object.constEnd() && !toInt(*pieceIt, result.pieceLength))
        return false;
    const auto vipIt = object.constFind(QLatin1String("is_vip"));
    if (vipIt != object.constEnd()) {
        if (!vipIt->isBool())
            return false;
        result.isVip = vipIt->toBool();
    }

    info = std::move(result);
    return true;
}
