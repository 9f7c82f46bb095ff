// A datagram endpoint the name service sends through: a UDP socket, or a
// peer that answers in-process.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct Datagram {
    uint32_t ip = 0;  // host byte order
    uint16_t port = 0;
    std::vector<uint8_t> bytes;
};

class DatagramPort {
public:
    virtual ~DatagramPort() = default;
    // Sends one datagram to ip:port (broadcast: ip is a broadcast address).
    // 0, or -1 with the error text set.
    virtual int32_t send(uint32_t ip, uint16_t port, std::span<const uint8_t> bytes, bool broadcast) = 0;
    // 1 with the next datagram in out, 0 when none came within timeout_ms,
    // -1 when the port failed (error text set), -2 when nothing more can
    // come (a peer that answers in-process has answered everything sent).
    virtual int32_t recv(Datagram &out, int timeout_ms) = 0;
};

// A UDP socket on an ephemeral port of every local address; NULL with the
// error text set when none can be made.
std::unique_ptr<DatagramPort> vnb_udp_port();
