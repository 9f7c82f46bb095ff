// A loopback TCP proxy that delays every byte by half a round trip in each
// direction, so that a client and a server on this machine see a link with the
// given round-trip time. Delays are applied per chunk as it arrives, so the
// link keeps its bandwidth: a client with more bytes in flight goes faster,
// as on a real network. With a rate, each direction is also a line of that
// many bits per second: a chunk leaves when the line has sent the ones before
// it, so a client sees the bandwidth of a real link (gigabit Ethernet, Wi-Fi)
// and not that of this machine's memory. It also measures how many bytes the
// server-to-client direction holds in flight.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace bench {

class DelayProxy {
public:
    // Listens on a free port of 127.0.0.1 and relays to target_port there;
    // rate_mbit 0 leaves the bandwidth unbounded.
    DelayProxy(int target_port, int rtt_us, int rate_mbit = 0);
    ~DelayProxy();
    DelayProxy(const DelayProxy &) = delete;
    DelayProxy &operator=(const DelayProxy &) = delete;

    int port() const { return port_; }  // 0 when the proxy could not listen

    // Bytes the server-to-client direction held in flight: the largest amount
    // and the mean over the samples taken while it held any.
    void reset_in_flight();
    uint64_t peak_in_flight() const { return peak_.load(); }
    double mean_in_flight() const;

private:
    void accept_loop();
    void pump(int from, int to, bool to_client);
    void note_in_flight(uint64_t bytes);

    int target_port_;
    int delay_us_;  // one way
    double ns_per_byte_ = 0;  // 0: no line rate
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    std::mutex mu_;
    std::vector<std::thread> pumps_;
    std::vector<int> fds_;
    std::atomic<uint64_t> peak_{0};
    std::atomic<uint64_t> sample_sum_{0};
    std::atomic<uint64_t> samples_{0};
};

}  // namespace bench
