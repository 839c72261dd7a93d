// libFuzzer target: the client's decoders of service replies. Both are
// all-or-nothing: a rejected reply leaves the outputs exactly as they were; an
// accepted one yields only spans with 0 <= start <= end.
#include "utility/CheckData.h"
#include "utility/JsonDecode.h"
#include "utility/ServerInfo.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

CHECK_DATAS earlierFindings()
{
    auto earlier = std::make_shared<CCheckData>();
    earlier->text = "以经";
    earlier->type = 1;
    earlier->spans = {{2, 3}};
    return {earlier};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string json(reinterpret_cast<const char*>(data), size);

    CHECK_DATAS datas = earlierFindings();
    std::string code = "before", message = "before";
    if (JSONToCheckData(json, datas, code, message)) {
        for (const auto& finding : datas) {
            for (const auto& [start, end] : finding->spans)
                require(start >= 0 && start <= end);
        }
        CleanCheckData(datas);
        require(!datas.empty() && datas.front()->text == "以经");
    } else {
        require(datas.size() == 1 && *datas.front() == *earlierFindings().front());
        require(code == "before" && message == "before");
    }

    CServerInfo info;
    info.accessToken = "token";
    info.pieceLength = 500;
    const CServerInfo before = info;
    if (!JSONToServer(json, info)) {
        require(info.accessToken == before.accessToken && info.pieceLength == before.pieceLength &&
                info.checkerUrl == before.checkerUrl && info.isVip == before.isVip);
    }
    return 0;
}
