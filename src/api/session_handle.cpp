#include "api/session_handle.h"

#include <atomic>
#include <chrono>

#include "api/result_slot.h"
#include "net/clock.h"
#include "util/error.h"

namespace {

std::atomic<uint64_t> g_serials{0};

}  // namespace

uint64_t vnb_next_serial()
{
    return g_serials.fetch_add(1) + 1;
}

int32_t SessionGate::enter(const CallSignal &signal, uint64_t ticket, uint64_t deadline_ms, int limit_ms)
{
    std::unique_lock<std::mutex> lock(m_);
    if (busy_ && owner_ == std::this_thread::get_id())
        return vnb_fail(-6, "the session is inside a call on this thread already");
    for (;;) {
        if (signal.cancelled(ticket))
            return vnb_fail(-12, "cancelled");
        if (!busy_)
            break;
        if (deadline_ms == 0) {
            cv_.wait(lock);
            continue;
        }
        int64_t left = static_cast<int64_t>(deadline_ms) - static_cast<int64_t>(vnb_now_ms());
        if (left <= 0)
            return vnb_fail(-1, "timed out: the call did not end within its limit of %d ms", limit_ms);
        cv_.wait_for(lock, std::chrono::milliseconds(left));
    }
    busy_ = true;
    owner_ = std::this_thread::get_id();
    return 0;
}

void SessionGate::leave()
{
    {
        std::lock_guard<std::mutex> lock(m_);
        busy_ = false;
        owner_ = std::thread::id{};
    }
    cv_.notify_all();
}

void SessionGate::wake_waiters()
{
    { std::lock_guard<std::mutex> lock(m_); }
    cv_.notify_all();
}

void SessionGate::set_next_limit(int ms)
{
    std::lock_guard<std::mutex> lock(m_);
    const std::thread::id me = std::this_thread::get_id();
    for (auto &entry : limits_)
        if (entry.first == me) {
            entry.second = ms;
            return;
        }
    limits_.emplace_back(me, ms);
}

int SessionGate::take_next_limit()
{
    std::lock_guard<std::mutex> lock(m_);
    const std::thread::id me = std::this_thread::get_id();
    for (auto it = limits_.begin(); it != limits_.end(); ++it)
        if (it->first == me) {
            int ms = it->second;
            limits_.erase(it);
            return ms;
        }
    return 0;
}

vnsmb1c_session::vnsmb1c_session(uint64_t serial_number) : serial(serial_number)
{
    vnb_texts_register(serial);
}

vnsmb1c_session::~vnsmb1c_session()
{
    vnb_texts_forget(serial);
}

TransportChoice vnsmb1c_session::choice() const
{
    std::lock_guard<std::mutex> lock(choice_guard_);
    return choice_;
}

void vnsmb1c_session::choose(const TransportChoice &c)
{
    std::lock_guard<std::mutex> lock(choice_guard_);
    choice_ = c;
}

SessionCall::SessionCall(vnsmb1c_session *h) : h_(h)
{
    if (h_ == nullptr) {
        refused_ = vnb_fail(-6, "no session");
        return;
    }
    Session &s = h_->s;
    const uint64_t ticket = s.signal.issue();
    const int limit = h_->gate.take_next_limit();
    const uint64_t deadline = limit > 0 ? vnb_now_ms() + static_cast<uint64_t>(limit) : 0;
    refused_ = h_->gate.enter(s.signal, ticket, deadline, limit);
    if (refused_ != 0)
        return;
    s.signal.begin(ticket);
    s.call_deadline_ms = deadline;
    s.call_limit_ms = limit;
}

SessionCall::~SessionCall()
{
    if (h_ == nullptr || refused_ != 0)
        return;
    Session &s = h_->s;
    s.call_deadline_ms = 0;
    s.call_limit_ms = 0;
    s.signal.end();
    h_->gate.leave();
}
