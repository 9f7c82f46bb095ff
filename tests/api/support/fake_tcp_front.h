// The library's fake server behind a loopback TCP port with NBSS framing, so
// that a session over real sockets can meet a server that goes silent or
// hangs up. Every wait is bounded; the front stops by itself after its
// lifetime.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

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

    // The file offsets of the READ_ANDX requests taken in, in their order.
    std::vector<uint64_t> reads() const;
    // READs at offsets in [from, to) are answered, but their answers are
    // held back until release() (or the connection ends); 0, 0 holds none.
    void hold_reads(uint64_t from, uint64_t to);
    // Sends the answers held back, in order, and holds no more; returns once
    // they are on their way (false when the front did not get to it).
    bool release();

private:
    void run(int lifetime_ms);
    // Logs a READ and tells whether its answer is to be held back.
    bool note_read(const std::vector<uint8_t> &msg);

    mutable std::mutex mu_;
    std::vector<uint64_t> reads_;
    uint64_t hold_from_ = 0;
    uint64_t hold_to_ = 0;
    std::atomic<bool> release_{false};
    int listener_ = -1;
    int port_ = 0;
    std::atomic<int> accepts_{0};
    std::atomic<int> unanswered_{0};
    std::atomic<bool> silent_{false};
    std::atomic<bool> hang_up_{false};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
