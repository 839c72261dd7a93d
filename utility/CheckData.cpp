#include "utility/CheckData.h"

#include <algorithm>

void CleanCheckData(CHECK_DATAS& datas)
{
    CHECK_DATAS kept;
    kept.reserve(datas.size());
    for (auto& data : datas) {
        if (!data || data->text.empty())
            continue;
        // Findings per run are few (tens, at most a few hundred), so a linear look-back is cheap.
        const bool seen = std::any_of(kept.begin(), kept.end(), [&](const auto& k) { return *k == *data; });
        if (!seen)
            kept.push_back(std::move(data));
    }
    datas.swap(kept);
}
