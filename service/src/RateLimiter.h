#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace quillet {

class Database;

// Counts events per key (a user name, a client address) in fixed windows: once
// a key has had `limit` events in the window that its first event opened, it
// has to wait until that window has passed. An event is reserved before the
// work it stands for (a password hash), so parallel attempts cannot all pass
// the check before any of them is counted; an attempt that turns out not to
// count (a right password) gives its reservation back.
//
// Memory stays bounded: windows that have passed are dropped, and when
// maxKeys keys are tracked the oldest windows of keys still under their limit
// make room. A key over its limit is never dropped before its window ends;
// should every tracked key be over its limit, the table grows past maxKeys
// (each such key cost `limit` password hashes within one window, so hashing
// speed bounds that growth). Safe to use from several threads.
//
// Service processes that share a database share their counters through it
// (shareThrough): each key is then one row there, updated atomically.
class RateLimiter
{
public:
    RateLimiter(int limit, int64_t windowSeconds, size_t maxKeys = 100000);

    // Keeps the counters in db under keys prefixed with scope from now on.
    void shareThrough(Database* db, const std::string& scope);

    // Seconds key has to wait before its next event; 0 when it may go on now.
    int64_t wait(const std::string& key, int64_t now) const;
    // Counts one event of key and answers 0 when the key is under its limit;
    // otherwise counts nothing and answers the seconds it has to wait, or -1
    // when the shared database could not be asked.
    int64_t reserve(const std::string& key, int64_t now);
    // Gives back one event reserved at reservedAt, if its window is still the key's.
    void release(const std::string& key, int64_t reservedAt);

    int limit() const { return m_limit; }
    size_t trackedKeys() const;

    // The key a client address is limited under: an IPv6 address by its /64
    // (one subscriber's network holds that many addresses), an IPv4-mapped
    // IPv6 address as the IPv4 address, anything else as it is.
    static std::string addressKey(const std::string& address);

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
    Database* m_shared = nullptr;
    std::string m_scope;
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, Window> m_windows;
};

} // namespace quillet
