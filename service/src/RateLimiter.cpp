#include "RateLimiter.h"

#include <algorithm>
#include <vector>

namespace quillet {

RateLimiter::RateLimiter(int limit, int64_t windowSeconds, size_t maxKeys)
    : m_limit(std::max(1, limit))
    , m_window(std::max<int64_t>(1, windowSeconds))
    , m_maxKeys(std::max<size_t>(1, maxKeys))
{
}

int64_t RateLimiter::wait(const std::string& key, int64_t now) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_windows.find(key);
    if (it == m_windows.end() || it->second.count < m_limit)
        return 0;
    const int64_t end = it->second.start + m_window;
    return end > now ? end - now : 0;
}

void RateLimiter::record(const std::string& key, int64_t now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_windows.find(key);
    if (it == m_windows.end()) {
        if (m_windows.size() >= m_maxKeys)
            prune(now);
        m_windows.emplace(key, Window{now, 1});
        return;
    }
    Window& window = it->second;
    if (now >= window.start + m_window)
        window = Window{now, 1};
    else
        ++window.count;
}

size_t RateLimiter::trackedKeys() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_windows.size();
}

void RateLimiter::prune(int64_t now)
{
    for (auto it = m_windows.begin(); it != m_windows.end();) {
        if (now >= it->second.start + m_window)
            it = m_windows.erase(it);
        else
            ++it;
    }
    if (m_windows.size() < m_maxKeys)
        return;
    // Every window is still open: drop the older half, so that a flood of new
    // keys costs the flooder its own oldest entries first.
    std::vector<int64_t> starts;
    starts.reserve(m_windows.size());
    for (const auto& entry : m_windows)
        starts.push_back(entry.second.start);
    auto middle = starts.begin() + std::ptrdiff_t(starts.size() / 2);
    std::nth_element(starts.begin(), middle, starts.end());
    const int64_t cut = *middle;
    for (auto it = m_windows.begin(); it != m_windows.end() && m_windows.size() >= m_maxKeys / 2 + 1;) {
        if (it->second.start <= cut)
            it = m_windows.erase(it);
        else
            ++it;
    }
}

} // namespace quillet
