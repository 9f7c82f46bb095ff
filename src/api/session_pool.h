// Logged-on sessions the host tables keep between calls. A call takes a
// session whose key (server, port, identity, transport and the settings that
// shape a session) equals its own, uses it alone, and puts it back; a session
// nobody used for its idle time is logged off instead of reused, and the
// pool keeps a few at most, dropping the one used longest ago. Each pooled
// session is a vnsmb1c_session of its own; the pool's lock guards its list
// only and is never held across a call to a server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "api/session_handle.h"
#include "api/session_ops.h"
#include "net/name_resolve.h"
#include "sess/legacy_auth.h"
#include "util/codepage.h"

// How long an unused session stays logged on unless SessionIdleMs says
// otherwise: well under the 15 minutes after which servers drop an idle
// connection.
inline constexpr int32_t kDefaultSessionIdleMs = 60000;
// The most sessions waiting in the pool.
inline constexpr size_t kSessionPoolCap = 8;

// What makes two sessions interchangeable.
struct PoolKey {
    PoolKey() = default;
    PoolKey(const PoolKey &other);
    PoolKey &operator=(const PoolKey &other);
    ~PoolKey();

    TransportChoice kind;
    std::string host;
    int32_t port = 0;
    std::string domain;
    std::string user;
    std::string password;  // compared in constant time; wiped when the key ends
    std::string shape;     // the other settings that change a session, as one text

    bool same(const PoolKey &other) const;
};

// One caller's session: taken from the pool or connected for it, used by
// that caller alone, and put back (or logged off) when released.
class SessionLease {
public:
    // Logs a new, unconnected session on as the key says: 0, or a negative
    // ResultCode.
    using Connect = std::function<int32_t(Session &, const PoolKey &)>;
    using Op = std::function<int32_t(Session &)>;

    SessionLease() = default;
    ~SessionLease() { release(); }
    SessionLease(const SessionLease &) = delete;
    SessionLease &operator=(const SessionLease &) = delete;

    // A session for key: a pooled one when one waits (nothing is sent), else
    // a new one that connect logs on. idle_ms 0 keeps nothing: the session
    // is logged off when released. 0, or the connect's ResultCode.
    int32_t take(const PoolKey &key, int32_t idle_ms, Connect connect);

    // Runs op inside a call on the session. A pooled session whose connection
    // turns out to be gone (closed, forgotten or silent; not a cancel or the
    // call's limit) before any op succeeded on it is replaced by a freshly
    // connected one, and op runs once more.
    int32_t run(const Op &op);

    // Puts a healthy, logged-on session back into the pool, or logs it off
    // without waiting for the server's replies. Nothing is held afterwards.
    void release();

    bool held() const { return h_ != nullptr; }
    // Whether the session came from the pool.
    bool reused() const { return reused_; }
    // The session; only while held, and only by the lease's owner.
    Session &s() { return h_->s; }
    const Session &s() const { return h_->s; }

private:
    int32_t connect_new();

    PoolKey key_;
    int32_t idle_ms_ = 0;
    Connect connect_;
    vnsmb1c_session *h_ = nullptr;
    uint64_t epoch_ = 0;
    bool reused_ = false;
    bool proven_ = false;  // an op ran on the session's current connection
};

// The shape part of a key: the settings besides server and identity that
// change what a session is or how it behaves.
std::string vnb_pool_shape(const NameSettings &names, int32_t timeout_ms, LegacyAuth legacy, CodePage page,
                           int64_t read_ahead, int64_t read_ahead_budget);

// Logs off every session waiting in the pool; sessions out on a lease are
// logged off when they come back instead of waiting again. A new transport
// selection, or a new fake tree, calls it: what the pool holds was made
// for the old one.
void vnb_pool_drain();

// Sessions waiting in the pool.
size_t vnb_pool_waiting();
