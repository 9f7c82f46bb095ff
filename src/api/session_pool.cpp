// The host tables' pool of logged-on sessions.
#include "api/session_pool.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "api/connect.h"
#include "crypto/crypto.h"
#include "net/clock.h"
#include "util/error.h"
#include "vnsmb1c.h"

namespace {

struct Waiting {
    PoolKey key;
    vnsmb1c_session *h = nullptr;
    uint64_t since_ms = 0;  // when it was put back
    int32_t idle_ms = 0;    // how long it may wait
};

struct Pool {
    std::mutex m;
    std::vector<Waiting> waiting;  // put back longest ago first
    uint64_t epoch = 0;            // counts drains
};

// Never destroyed: a host may call in while the process exits.
Pool &pool()
{
    static Pool *p = new Pool;
    return *p;
}

// Logging sessions off must not change the error text of the call that
// does it.
class KeepError {
public:
    KeepError() : text_(vnb_error()) {}
    ~KeepError() { vnb_set_error("%s", text_.c_str()); }
    KeepError(const KeepError &) = delete;
    KeepError &operator=(const KeepError &) = delete;

private:
    std::string text_;
};

// Logs the sessions off (TREE_DISCONNECT and LOGOFF go out without waiting
// where the transport allows it) and frees them.
void end_sessions(const std::vector<vnsmb1c_session *> &sessions)
{
    if (sessions.empty())
        return;
    KeepError keep;
    for (vnsmb1c_session *h : sessions)
        vnsmb1c_session_free(h);
}

// Takes the sessions that waited longer than their idle time out of the
// pool; the caller holds its lock.
void take_expired(Pool &p, uint64_t now, std::vector<vnsmb1c_session *> &out)
{
    auto expired = [now](const Waiting &w) { return now - w.since_ms >= static_cast<uint64_t>(w.idle_ms); };
    for (const Waiting &w : p.waiting)
        if (expired(w))
            out.push_back(w.h);
    std::erase_if(p.waiting, expired);
}

// Whether a failed op on a session says that its connection is gone, rather
// than the server refusing the op or the caller stopping it.
bool connection_gone(int32_t rc, const Session &s)
{
    if (rc >= 0 || rc == -12 || s.failure == Failure::cancelled || s.failure == Failure::deadline)
        return false;
    if (s.broken)
        return s.broken_by != Failure::cancelled && s.broken_by != Failure::deadline;
    return !s.established;
}

}  // namespace

PoolKey::PoolKey(const PoolKey &other) = default;

PoolKey &PoolKey::operator=(const PoolKey &other)
{
    if (this != &other) {
        vnb_wipe(password.data(), password.size());
        kind = other.kind;
        host = other.host;
        port = other.port;
        domain = other.domain;
        user = other.user;
        password = other.password;
        shape = other.shape;
    }
    return *this;
}

PoolKey::~PoolKey()
{
    vnb_wipe(password.data(), password.size());
}

bool PoolKey::same(const PoolKey &o) const
{
    // The password last, without an early way out on its bytes.
    if (kind.mode != o.kind.mode || kind.io != o.kind.io || port != o.port || host != o.host ||
        domain != o.domain || user != o.user || shape != o.shape || password.size() != o.password.size())
        return false;
    return vnb_ct_equal(password.data(), o.password.data(), password.size()) != 0;
}

int32_t SessionLease::take(const PoolKey &key, int32_t idle_ms, Connect connect)
{
    release();
    key_ = key;
    idle_ms_ = std::max(idle_ms, 0);
    connect_ = std::move(connect);
    std::vector<vnsmb1c_session *> expired;
    {
        Pool &p = pool();
        std::lock_guard<std::mutex> lock(p.m);
        epoch_ = p.epoch;
        take_expired(p, vnb_now_ms(), expired);
        if (idle_ms_ > 0) {
            // The one put back last: the likeliest to be alive still.
            auto it = std::find_if(p.waiting.rbegin(), p.waiting.rend(),
                                   [this](const Waiting &w) { return w.key.same(key_); });
            if (it != p.waiting.rend()) {
                h_ = it->h;
                p.waiting.erase(std::next(it).base());
            }
        }
    }
    end_sessions(expired);
    if (h_ != nullptr) {
        reused_ = true;
        proven_ = false;
        return 0;
    }
    reused_ = false;
    return connect_new();
}

int32_t SessionLease::connect_new()
{
    h_ = vnsmb1c_session_new();
    if (h_ == nullptr)
        return -11;
    h_->choose(key_.kind);
    int32_t rc = vnb_on_session(h_, [this](SessionCall &call) { return connect_(call.s(), key_); });
    if (rc != 0) {
        KeepError keep;
        vnsmb1c_session_free(h_);
        h_ = nullptr;
        return rc;
    }
    proven_ = true;
    return 0;
}

int32_t SessionLease::run(const Op &op)
{
    if (h_ == nullptr)
        return vnb_fail(-5, "not connected");
    int32_t rc = vnb_on_session(h_, [&op](SessionCall &call) { return op(call.s()); });
    if (proven_ || !connection_gone(rc, h_->s)) {
        proven_ = true;
        return rc;
    }
    // A pooled session that outlived its connection: the call goes on as if
    // it had found none waiting.
    vnb_set_error("%s", "");
    std::vector<vnsmb1c_session *> dead{h_};
    h_ = nullptr;
    end_sessions(dead);
    if (int32_t again = connect_new(); again != 0)
        return again;
    return vnb_on_session(h_, [&op](SessionCall &call) { return op(call.s()); });
}

void SessionLease::release()
{
    if (h_ == nullptr)
        return;
    vnsmb1c_session *h = h_;
    h_ = nullptr;
    Session &s = h->s;
    bool keep = idle_ms_ > 0 && s.established && !s.broken && s.open_files == 0;
    std::vector<vnsmb1c_session *> ended;
    if (keep) {
        // The listing of the call is its own; a waiting session holds none.
        s.listing = Listing{};
        Pool &p = pool();
        std::lock_guard<std::mutex> lock(p.m);
        if (p.epoch == epoch_) {
            if (p.waiting.size() >= kSessionPoolCap) {
                ended.push_back(p.waiting.front().h);
                p.waiting.erase(p.waiting.begin());
            }
            p.waiting.push_back(Waiting{key_, h, vnb_now_ms(), idle_ms_});
            h = nullptr;
        }
    }
    if (h != nullptr)
        ended.push_back(h);
    end_sessions(ended);
    vnb_wipe(key_.password.data(), key_.password.size());
    key_.password.clear();
}

std::string vnb_pool_shape(const NameSettings &names, int32_t timeout_ms, LegacyAuth legacy, CodePage page,
                           int64_t read_ahead, int64_t read_ahead_budget)
{
    char text[160];
    std::snprintf(text, sizeof text, "names %d:%d,%d wins %u bcast %d; timeout %d; legacy %d; page %d; ahead %lld/%lld",
                  names.count, static_cast<int>(names.order[0]), static_cast<int>(names.order[1]), names.wins,
                  names.broadcast ? 1 : 0, timeout_ms, static_cast<int>(legacy), static_cast<int>(page),
                  static_cast<long long>(read_ahead), static_cast<long long>(read_ahead_budget));
    return text;
}

void vnb_pool_drain()
{
    std::vector<vnsmb1c_session *> ended;
    {
        Pool &p = pool();
        std::lock_guard<std::mutex> lock(p.m);
        p.epoch++;
        for (const Waiting &w : p.waiting)
            ended.push_back(w.h);
        p.waiting.clear();
    }
    end_sessions(ended);
}

size_t vnb_pool_waiting()
{
    Pool &p = pool();
    std::lock_guard<std::mutex> lock(p.m);
    return p.waiting.size();
}

#ifndef _WIN32
namespace {

// When the process exits or the library is unloaded, the sessions waiting
// over sockets log off (without waiting for replies) and close their
// connections. Those of the fake server or a host's relay stay as they are:
// neither may be reached once the process is going away. On Windows a DLL's
// destructors run under the loader lock, where no socket may be used: the
// system closes the connections with the process.
struct DrainAtExit {
    ~DrainAtExit()
    {
        std::vector<vnsmb1c_session *> ended;
        {
            Pool &p = pool();
            std::lock_guard<std::mutex> lock(p.m);
            p.epoch++;
            auto over_sockets = [](const Waiting &w) { return w.key.kind.mode == VNSMB1C_MODE_SOCKET; };
            for (const Waiting &w : p.waiting)
                if (over_sockets(w))
                    ended.push_back(w.h);
            std::erase_if(p.waiting, over_sockets);
        }
        end_sessions(ended);
    }
};

DrainAtExit g_drain_at_exit;

}  // namespace
#endif
