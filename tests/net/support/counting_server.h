// A loopback SMB1-shaped echo server that counts its connections, for
// showing which connection a request travelled on. Every wait is bounded and
// the server stops by itself after its lifetime.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

class CountingServer {
public:
    // Byte of each reply that carries the number (1, 2, ...) of the
    // connection the request came in on; the rest is the request echoed.
    static constexpr size_t kConnectionByte = 5;
    // A request with this command byte ends its connection unanswered.
    static constexpr uint8_t kDropCommand = 0xFE;

    CountingServer() = default;
    CountingServer(const CountingServer &) = delete;
    CountingServer &operator=(const CountingServer &) = delete;
    ~CountingServer();

    // Listens on 127.0.0.1 on a free port. False when it cannot.
    bool start(int lifetime_ms = 20000);
    int port() const { return port_; }
    int accepts() const { return accepts_.load(); }
    // Connections that the client ended.
    int client_closes() const { return client_closes_.load(); }
    // Waits (bounded) until client_closes() reaches n; false if it did not.
    bool wait_client_closes(int n, int ms = 3000) const;

private:
    void run(int lifetime_ms);
    int listener_ = -1;
    int port_ = 0;
    std::atomic<int> accepts_{0};
    std::atomic<int> client_closes_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
