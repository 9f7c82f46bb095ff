// A loopback TCP proxy in front of a server that can flip one byte of the
// data a READ_ANDX reply carries, to show that a signing client refuses the
// altered reply, and can hide the client's wish for extended security from
// the server, which then offers the older challenge/response logon. It
// serves one connection at a time on its own thread.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

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
    // From now on NEGOTIATE requests go to the server without the Flags2
    // extended-security bit (0x0800).
    void hide_extended_security() { hide_extsec_ = true; }
    int negotiates_altered() const { return negotiates_altered_; }

private:
    void run();
    void relay(int client);
    // Passes on every whole NBSS frame of pending to fd, altering it first
    // as armed. false when fd is gone.
    bool pass_frames(std::vector<uint8_t> &pending, int fd, bool from_client);

    int target_port_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> armed_{false};
    std::atomic<int> flipped_{0};
    std::atomic<bool> hide_extsec_{false};
    std::atomic<int> negotiates_altered_{0};
    std::thread thread_;
};

}  // namespace interop
