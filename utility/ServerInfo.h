#pragma once

#include "utility/UtilityGlobal.h"

#include <string>

// Login state and last status reported by the checking service.
struct UTILITY_EXPORT CServerInfo
{
    int pieceLength = 0;     // most characters per check request; 0 or less stops a run
    std::string accessToken; // sent as "access_token"
    std::string checkerUrl;  // where check requests go
    std::string errorCode;   // e.g. "not_found_error"
    std::string errorMsg;    // UTF-8, shown to the user
    bool isVip = false;
    std::string userName; // UTF-8

    // Empties the error code and message only.
    void ClearError();
};
