#pragma once

#include "utility/UtilityGlobal.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Error-type bits of a finding.
enum : int {
    ERROR_TYPE_TONG_YIN = 0x01,   // homophone character
    ERROR_TYPE_DAN_ZI = 0x02,     // a lone character where a word belongs
    ERROR_TYPE_MIN_GAN_CI = 0x04, // sensitive word
    ERROR_TYPE_XING_JIN = 0x08,   // similar-looking character
    ERROR_TYPE_YIN_JIN = 0x10,    // similar-sounding character
    ERROR_TYPE_SKIP = 0x20,       // collocation
};

// One suggested replacement: its UTF-8 text and how often the service saw it.
class UTILITY_EXPORT CDataItemValue
{
public:
    CDataItemValue() = default;
    CDataItemValue(std::string text, int count)
        : m_text(std::move(text))
        , m_count(count)
    {
    }

    const std::string& GetText() const { return m_text; }
    int GetCount() const { return m_count; }

    bool operator==(const CDataItemValue& other) const { return m_text == other.m_text && m_count == other.m_count; }

private:
    std::string m_text;
    int m_count = 0;
};

// One finding of the checking service.
struct UTILITY_EXPORT CCheckData
{
    std::string text;                                       // the wrong text, UTF-8
    std::optional<std::vector<CDataItemValue>> suggestions; // absent when the service sent none
    // The parts of the wrong text that change, as inclusive UTF-16 offsets: into
    // the piece sent as a reply decodes them, into the whole checked text once
    // the check run has collected them (each finding is one occurrence).
    std::vector<std::pair<int, int>> spans;
    int type = 0; // ERROR_TYPE_* bits

    bool operator==(const CCheckData& other) const
    {
        return text == other.text && type == other.type && spans == other.spans && suggestions == other.suggestions;
    }
};

using CHECK_DATAS = std::vector<std::shared_ptr<CCheckData>>;

// Tidies the findings of a run before they are published: findings with an
// empty wrong text are dropped, and of several findings equal in text, type,
// spans and suggestions only the first is kept. The order is preserved.
UTILITY_EXPORT void CleanCheckData(CHECK_DATAS& datas);
