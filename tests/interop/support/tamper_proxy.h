// A loopback TCP proxy in front of a server that can flip one byte of the
// data a READ_ANDX reply carries, to show that a signing client refuses the
// altered reply. It serves one connection at a time on its own thread.
#pragma once

#include <atomic>
#include <thread>

namespace interop {

class TamperProxy {
public:
    // Listens on a free port of 127.0.0.1 and relays to target_port there.
    explicit TamperProxy(int target_port);
    ~TamperProxy();
    TamperProxy(const TamperProxy &) = delete;
    TamperProxy &operator=(const TamperProxy &) = delete;

    int port() const { return port_; }  // 0 when the proxy could not listen
    // The next READ_ANDX reply that carries data gets its first data byte flipped.
    void arm() { armed_ = true; }
    int flipped() const { return flipped_; }

private:
    void run();
    void relay(int client);

    int target_port_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> armed_{false};
    std::atomic<int> flipped_{0};
    std::thread thread_;
};

}  // namespace interop
