// How a call that waits on the network is stopped from another thread: a
// wake-up that every socket wait watches beside its socket, and tickets that
// tell the calls a cancel reaches from the calls that begin after it.
#pragma once

#include <atomic>
#include <cstdint>

class CallSignal {
public:
    CallSignal();
    ~CallSignal();
    CallSignal(const CallSignal &) = delete;
    CallSignal &operator=(const CallSignal &) = delete;

    // A ticket for a call that is about to begin (any thread).
    uint64_t issue() { return issued_.fetch_add(1) + 1; }
    // Cancels every call that holds a ticket issued so far and wakes the one
    // that waits (any thread).
    void cancel();
    bool cancelled(uint64_t ticket) const { return ticket != 0 && ticket <= cancelled_upto_.load(); }

    // The call under way on the owner's thread: its ticket from begin to end.
    void begin(uint64_t ticket) { current_.store(ticket); }
    void end();
    // Whether the call under way has been cancelled.
    bool stop_requested() const { return cancelled(current_.load()); }

    // The handle a socket wait watches for readability beside its socket
    // (a pipe on POSIX, a loopback datagram socket on Windows); -1 when the
    // wake-up could not be made (then only the checks between waits see a
    // cancel).
    intptr_t wake_handle() const { return wake_read_; }
    // Empties the wake-up, so that the next wait blocks again.
    void drain() const;

private:
    void wake() const;

    std::atomic<uint64_t> issued_{0};
    std::atomic<uint64_t> cancelled_upto_{0};
    std::atomic<uint64_t> current_{0};
    intptr_t wake_read_ = -1;
    intptr_t wake_write_ = -1;
};
