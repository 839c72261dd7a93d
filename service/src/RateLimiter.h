#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace quillet {

// Counts events per key (a user name, a client address) in fixed windows: once
// a key has had `limit` events in the window that its first event opened, it
// has to wait until that window has passed. Memory stays bounded: windows that
// have passed are dropped, and at most maxKeys keys are tracked (past that,
// the oldest windows make room). Safe to use from several threads.
class RateLimiter
{
public:
    RateLimiter(int limit, int64_t windowSeconds, size_t maxKeys = 100000);

    // Seconds key has to wait before its next event; 0 when it may go on now.
    int64_t wait(const std::string& key, int64_t now) const;
    // Records one event of key.
    void record(const std::string& key, int64_t now);

    int limit() const { return m_limit; }
    size_t trackedKeys() const;

private:
    struct Window
    {
        int64_t start = 0;
        int count = 0;
    };
    void prune(int64_t now);

    const int m_limit;
    const int64_t m_window;
    const size_t m_maxKeys;
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, Window> m_windows;
};

} // namespace quillet
