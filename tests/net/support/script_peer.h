// A loopback TCP peer that accepts one connection and follows a script, for
// driving the socket transport against real sockets. Every wait is bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

struct PeerStep {
    enum Kind { kSend, kRead, kStall, kClose } kind;
    std::vector<uint8_t> bytes;  // kSend
    size_t count = 0;            // kRead: bytes to wait for
    int ms = 0;                  // kRead: longest wait; kStall: pause
};

PeerStep peer_send(std::vector<uint8_t> bytes);
// An NBSS header with the given type byte and 24-bit length.
PeerStep peer_header(uint8_t type, uint32_t len);
// An NBSS session message of len bytes (0x00 header, then bytes i & 0xff).
PeerStep peer_frame(uint32_t len);
PeerStep peer_read(size_t count, int ms = 5000);
PeerStep peer_stall(int ms);
PeerStep peer_close();

// The bytes peer_frame(len) sends after its header.
std::vector<uint8_t> frame_body(uint32_t len);

class ScriptPeer {
public:
    ScriptPeer() = default;
    ScriptPeer(const ScriptPeer &) = delete;
    ScriptPeer &operator=(const ScriptPeer &) = delete;
    ~ScriptPeer() { finish(); }

    // Listens on 127.0.0.1 ("::1" for AF_INET6) on a free port and runs the
    // script on the first connection. False when the address is unusable.
    bool start(int family, std::vector<PeerStep> steps);
    int port() const { return port_; }
    // Waits for the script to end (it ends within its own bounded waits).
    void finish();

    // Valid after finish().
    std::vector<uint8_t> received;
    bool accepted = false;
    int peer_family = 0;

private:
    void run(std::vector<PeerStep> steps);
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// A loopback port on which nothing listens (bound, then closed).
int closed_port(int family);
