// A session as the C interface hands it out (vnsmb1c_session): the session
// itself, the gate that lets one call at a time work on it, and its transport
// choice. The exported functions without a session argument work on the
// default one, which is never freed.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "api/session_ops.h"
#include "sess/session.h"
#include "vnsmb1c.h"

// Lets one call at a time work on a session. Waiting for the gate is a wait
// on memory, not on the network: another session's calls never come here.
class SessionGate {
public:
    // Enters a call holding `ticket`: 0; -12 "cancelled" when a cancel reached
    // the ticket while it waited; -1 when the call's limit (deadline_ms, 0 for
    // none) passed while it waited; -6 when the calling thread is inside a
    // call on this session already (a host callback calling back into it).
    int32_t enter(const CallSignal &signal, uint64_t ticket, uint64_t deadline_ms, int limit_ms);
    void leave();
    // Wakes the calls waiting at the gate, so that they see a cancel.
    void wake_waiters();

    // The limit of the calling thread's next call on the session, 0 for none.
    void set_next_limit(int ms);
    int take_next_limit();

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool busy_ = false;
    std::thread::id owner_{};
    std::vector<std::pair<std::thread::id, int>> limits_;
};

struct vnsmb1c_session {
    // serial 0 is the default session's; vnb_next_serial() gives the others.
    explicit vnsmb1c_session(uint64_t serial);
    ~vnsmb1c_session();
    vnsmb1c_session(const vnsmb1c_session &) = delete;
    vnsmb1c_session &operator=(const vnsmb1c_session &) = delete;

    SessionGate gate;
    Session s;
    const uint64_t serial;  // never reused; 0 for the default session

    TransportChoice choice() const;
    void choose(const TransportChoice &c);

private:
    mutable std::mutex choice_guard_;  // the choice is read by other sessions' calls
    TransportChoice choice_;
};

// A serial for a new session (from 1 on).
uint64_t vnb_next_serial();

// The default session, made on first use and never destroyed.
vnsmb1c_session *vnb_default_handle();
// Whether it has been made.
bool vnb_default_handle_made();

// One call on a session, from entering its gate to leaving it: the ticket a
// cancel reaches, the call's limit, the signal's begin and end.
class SessionCall {
public:
    explicit SessionCall(vnsmb1c_session *h);
    ~SessionCall();
    SessionCall(const SessionCall &) = delete;
    SessionCall &operator=(const SessionCall &) = delete;

    // 0 when the call entered; otherwise the ResultCode to return (the error
    // text is set).
    int32_t refused() const { return refused_; }
    Session &s() { return h_->s; }
    vnsmb1c_session &handle() { return *h_; }

private:
    vnsmb1c_session *h_;
    int32_t refused_ = 0;
};

// Runs fn(call) on the session when the call may enter, else returns the
// refusal as fn's type.
template <typename Fn>
auto vnb_on_session(vnsmb1c_session *h, Fn fn) -> decltype(fn(std::declval<SessionCall &>()))
{
    SessionCall call(h);
    if (call.refused() != 0)
        return call.refused();
    return fn(call);
}
