#include "utility/ServerInfo.h"

void CServerInfo::ClearError()
{
    errorCode.clear();
    errorMsg.clear();
}
