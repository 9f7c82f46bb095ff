// A loopback TCP relay in front of a server that can be stopped, dropping
// every connection it carries, and started again on the same port: the
// network between a client and its server going away and coming back. Every
// wait is bounded.
#pragma once

#include <atomic>
#include <thread>

namespace interop {

class DropProxy {
public:
    explicit DropProxy(int target_port) : target_port_(target_port) {}
    ~DropProxy() { stop(); }
    DropProxy(const DropProxy &) = delete;
    DropProxy &operator=(const DropProxy &) = delete;

    // Listens on 127.0.0.1 (a free port the first time, the same one after
    // a stop). False when it cannot.
    bool start();
    // Closes the listener and every relayed connection.
    void stop();
    // Stops relaying the connections open now (they stay open, and their
    // bytes wait), while later connections pass: one session's server
    // stalling while another's answers. thaw() relays them again.
    void freeze_open() { freeze_ = true; }
    // The same for the one connection that carried bytes last.
    void freeze_last_active() { freeze_last_ = true; }
    void thaw() { thaw_ = true; }
    int port() const { return port_; }
    int accepts() const { return accepts_.load(); }

private:
    void run(int listener);
    int target_port_;
    int port_ = 0;
    std::atomic<int> accepts_{0};
    std::atomic<bool> stop_{false};
    std::atomic<bool> freeze_{false};
    std::atomic<bool> freeze_last_{false};
    std::atomic<bool> thaw_{false};
    std::thread thread_;
};

}  // namespace interop
