#include "RateLimiter.h"
#include "Database.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace quillet {

RateLimiter::RateLimiter(int limit, int64_t windowSeconds, size_t maxKeys)
    : m_limit(std::max(1, limit))
    , m_window(std::max<int64_t>(1, windowSeconds))
    , m_maxKeys(std::max<size_t>(1, maxKeys))
{
}

void RateLimiter::shareThrough(Database* db, const std::string& scope)
{
    m_shared = db;
    m_scope = scope + ":";
}

int64_t RateLimiter::wait(const std::string& key, int64_t now) const
{
    if (m_shared)
        return m_shared->eventWait(m_scope + key, m_limit, now);
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_windows.find(key);
    if (it == m_windows.end() || it->second.count < m_limit)
        return 0;
    const int64_t end = it->second.start + m_window;
    return end > now ? end - now : 0;
}

int64_t RateLimiter::reserve(const std::string& key, int64_t now)
{
    if (m_shared) {
        return m_shared->reserveEvent(m_scope + key, m_limit, m_window, now);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_windows.find(key);
    if (it == m_windows.end()) {
        if (m_windows.size() >= m_maxKeys)
            prune(now);
        m_windows.emplace(key, Window{now, 1});
        return 0;
    }
    Window& window = it->second;
    if (now >= window.start + m_window) {
        window = Window{now, 1};
        return 0;
    }
    if (window.count >= m_limit)
        return window.start + m_window - now;
    ++window.count;
    return 0;
}

void RateLimiter::release(const std::string& key, int64_t reservedAt)
{
    if (m_shared) {
        m_shared->releaseEvent(m_scope + key, reservedAt);
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_windows.find(key);
    if (it == m_windows.end())
        return;
    Window& window = it->second;
    // A reservation from a window that has since been replaced is gone already.
    if (reservedAt >= window.start && reservedAt < window.start + m_window && window.count > 0)
        --window.count;
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
    // Every window is still open: drop the older half of the keys under their
    // limit, so that a flood of new keys costs the flooder its own oldest
    // entries first and never frees a key that is being held back.
    std::vector<std::pair<int64_t, const std::string*>> evictable;
    for (const auto& [key, window] : m_windows) {
        if (window.count < m_limit)
            evictable.emplace_back(window.start, &key);
    }
    std::sort(evictable.begin(), evictable.end());
    const size_t target = m_maxKeys / 2;
    std::vector<std::string> drop;
    for (const auto& entry : evictable) {
        if (m_windows.size() - drop.size() <= target)
            break;
        drop.push_back(*entry.second);
    }
    for (const std::string& key : drop)
        m_windows.erase(key);
}

std::string RateLimiter::addressKey(const std::string& address)
{
    in6_addr v6{};
    if (address.find(':') == std::string::npos || inet_pton(AF_INET6, address.c_str(), &v6) != 1)
        return address;
    char text[INET6_ADDRSTRLEN] = {};
    static const unsigned char mappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(v6.s6_addr, mappedPrefix, sizeof mappedPrefix) == 0) {
        in_addr v4{};
        std::memcpy(&v4, v6.s6_addr + 12, 4);
        return inet_ntop(AF_INET, &v4, text, sizeof text) ? std::string(text) : address;
    }
    std::memset(v6.s6_addr + 8, 0, 8);
    return inet_ntop(AF_INET6, &v6, text, sizeof text) ? std::string(text) + "/64" : address;
}

} // namespace quillet
