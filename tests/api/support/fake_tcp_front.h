// The library's fake server behind a loopback TCP port with NBSS framing, so
// that a session over real sockets can meet a server that goes silent or
// hangs up. Every wait is bounded; the front stops by itself after its
// lifetime.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

class FakeTcpFront {
public:
    FakeTcpFront() = default;
    FakeTcpFront(const FakeTcpFront &) = delete;
    FakeTcpFront &operator=(const FakeTcpFront &) = delete;
    ~FakeTcpFront();

    // Listens on 127.0.0.1 on a free port; the fake tree must be loaded.
    bool start(int lifetime_ms = 60000);
    int port() const { return port_; }
    int accepts() const { return accepts_.load(); }
    // Requests read while silent: taken in, never answered.
    int unanswered() const { return unanswered_.load(); }
    // Silent: connections stay open, requests are read and never answered.
    void set_silent(bool silent) { silent_ = silent; }
    // Closes every open connection (new ones are still accepted).
    void hang_up() { hang_up_ = true; }

private:
    void run(int lifetime_ms);
    int listener_ = -1;
    int port_ = 0;
    std::atomic<int> accepts_{0};
    std::atomic<int> unanswered_{0};
    std::atomic<bool> silent_{false};
    std::atomic<bool> hang_up_{false};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
