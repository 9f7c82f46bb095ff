// The fake server's NetBIOS node answering on a UDP port of 127.0.0.1, on a
// thread of its own: the peer of the name service tests, which point the
// library's name service at it (vnb_name_service_redirect) so that nothing
// is ever broadcast. Knobs make it misbehave. Every wait is bounded; it
// stops by itself after its lifetime.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "fake/fake_netbios.h"
#include "support/test_sockets.h"

class FakeNameResponder {
public:
    explicit FakeNameResponder(FakeNetbiosNode node) : node_(std::move(node)) {}
    FakeNameResponder(const FakeNameResponder &) = delete;
    FakeNameResponder &operator=(const FakeNameResponder &) = delete;
    ~FakeNameResponder()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        for (int s : {sock_, rogue_sock_})
            if (s >= 0)
                close_socket(s);
    }

    // Binds 127.0.0.1 on a free port (and 127.0.0.2 on the same port for
    // the rogue knob, where the system allows it).
    bool start(int lifetime_ms = 30000)
    {
        sock_ = bound_socket(0x7F000001, 0);
        if (sock_ < 0)
            return false;
        sockaddr_in a{};
        socklen_t len = sizeof a;
        if (getsockname(sock_, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            return false;
        port_ = ntohs(a.sin_port);
        rogue_sock_ = bound_socket(0x7F000002, port_);
        thread_ = std::thread([this, lifetime_ms] { run(lifetime_ms); });
        return true;
    }

    uint16_t port() const { return port_; }
    bool can_be_rogue() const { return rogue_sock_ >= 0; }
    int requests() const { return requests_.load(); }

    std::atomic<bool> silent{false};   // takes requests in, never answers
    std::atomic<int> id_offset{0};     // answers carry the transaction id plus this
    std::atomic<bool> rogue{false};    // answers come from 127.0.0.2, an address never asked
    std::atomic<bool> junk_first{false};  // a malformed datagram goes out before each answer
    std::atomic<int> delay_ms{0};      // each answer waits this long

private:
    static int bound_socket(uint32_t ip, uint16_t port)
    {
        int s = static_cast<int>(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        if (s < 0)
            return -1;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(ip);
        if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            close_socket(s);
            return -1;
        }
        return s;
    }

    void send_to(int s, const uint8_t *bytes, size_t n, const sockaddr_in &to)
    {
        sendto(s, reinterpret_cast<const char *>(bytes), static_cast<int>(n), 0,
               reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }

    void run(int lifetime_ms)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(lifetime_ms);
        std::vector<uint8_t> buf(2048);
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            pollfd p{};
            p.fd = sock_;
            p.events = POLLIN;
            if (poll(&p, 1, 50) <= 0)
                continue;
            sockaddr_in from{};
            socklen_t from_len = sizeof from;
            auto n = recvfrom(sock_, reinterpret_cast<char *>(buf.data()), static_cast<int>(buf.size()), 0,
                              reinterpret_cast<sockaddr *>(&from), &from_len);
            if (n <= 0)
                continue;
            requests_++;
            if (silent)
                continue;
            ByteBuffer reply{};
            if (vnb_fake_nbns_answer(node_, std::span<const uint8_t>(buf.data(), static_cast<size_t>(n)), &reply) &&
                reply.len >= 2) {
                uint16_t id = static_cast<uint16_t>(((reply.data[0] << 8) | reply.data[1]) + id_offset.load());
                reply.data[0] = static_cast<uint8_t>(id >> 8);
                reply.data[1] = static_cast<uint8_t>(id);
                if (delay_ms > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms.load()));
                int out = rogue && rogue_sock_ >= 0 ? rogue_sock_ : sock_;
                if (junk_first) {
                    const uint8_t junk[] = {reply.data[0], reply.data[1], 0x85, 0x00, 0x00, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0xC0, 0x0C};
                    send_to(out, junk, sizeof junk, from);
                }
                send_to(out, reply.data, static_cast<size_t>(reply.len), from);
            }
            vnb_buf_free(&reply);
        }
    }

    FakeNetbiosNode node_;
    int sock_ = -1;
    int rogue_sock_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};
