#pragma once

#include "utility/CheckData.h"
#include "utility/ServerInfo.h"

#include <string>

// Decoders of the checking service's replies (the formats are in docs/protocol.md).
// Both are all-or-nothing: on any malformed input (invalid JSON or UTF-8, a value
// of the wrong type, a bad span, a body larger than kMaxReplyBytes) they return
// false and leave their outputs exactly as they were.

constexpr std::size_t kMaxReplyBytes = 8 * 1024 * 1024;

// Decodes a check reply: appends its findings to datas and sets code and message
// (empty when the reply carries none).
UTILITY_EXPORT bool JSONToCheckData(const std::string& json, CHECK_DATAS& datas, std::string& code,
                                    std::string& message);

// Decodes an account or feedback reply into info: keys that are present
// overwrite the matching fields, absent keys leave them unchanged.
UTILITY_EXPORT bool JSONToServer(const std::string& json, CServerInfo& info);
