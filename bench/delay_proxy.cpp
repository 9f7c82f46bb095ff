#include "delay_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <chrono>
#include <deque>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kIdlePollMs = 100;
constexpr size_t kChunk = 256 * 1024;

struct Chunk {
    Clock::time_point due;
    std::vector<uint8_t> bytes;
};

void no_delay(int fd)
{
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool write_all(int fd, const uint8_t *p, size_t n)
{
    while (n > 0) {
        ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

int connect_loopback(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    no_delay(fd);
    return fd;
}

}  // namespace

DelayProxy::DelayProxy(int target_port, int rtt_us, int rate_mbit)
    : target_port_(target_port), delay_us_(rtt_us / 2), ns_per_byte_(rate_mbit > 0 ? 8000.0 / rate_mbit : 0)
{
    listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (listen_fd_ < 0)
        return;
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listen_fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(listen_fd_, 16) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        close(listen_fd_);
        listen_fd_ = -1;
        return;
    }
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
}

DelayProxy::~DelayProxy()
{
    stop_ = true;
    if (acceptor_.joinable())
        acceptor_.join();
    std::vector<std::thread> pumps;
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (int fd : fds_)
            shutdown(fd, SHUT_RDWR);
        pumps.swap(pumps_);
    }
    for (std::thread &t : pumps)
        t.join();
    for (int fd : fds_)
        close(fd);
    if (listen_fd_ >= 0)
        close(listen_fd_);
}

void DelayProxy::reset_in_flight()
{
    peak_ = 0;
    sample_sum_ = 0;
    samples_ = 0;
}

double DelayProxy::mean_in_flight() const
{
    uint64_t n = samples_.load();
    return n ? static_cast<double>(sample_sum_.load()) / static_cast<double>(n) : 0.0;
}

void DelayProxy::note_in_flight(uint64_t bytes)
{
    if (bytes == 0)
        return;
    uint64_t peak = peak_.load();
    while (bytes > peak && !peak_.compare_exchange_weak(peak, bytes)) {
    }
    sample_sum_ += bytes;
    samples_ += 1;
}

void DelayProxy::accept_loop()
{
    while (!stop_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (poll(&p, 1, kIdlePollMs) <= 0)
            continue;
        int client = accept(listen_fd_, nullptr, nullptr);
        if (client < 0)
            continue;
        no_delay(client);
        int server = connect_loopback(target_port_);
        if (server < 0) {
            close(client);
            continue;
        }
        std::lock_guard<std::mutex> lock(mu_);
        fds_.push_back(client);
        fds_.push_back(server);
        pumps_.emplace_back([this, client, server] { pump(client, server, false); });
        pumps_.emplace_back([this, client, server] { pump(server, client, true); });
    }
}

// One direction: every chunk read from `from` is written to `to` once its
// delay has passed. When `from` ends, what is queued is still delivered.
void DelayProxy::pump(int from, int to, bool to_client)
{
    std::deque<Chunk> queue;
    uint64_t queued = 0;
    std::vector<uint8_t> buf(kChunk);
    bool open = true;
    const auto delay = std::chrono::microseconds(delay_us_);
    Clock::time_point line_free = Clock::now();  // when the line has sent what it holds
    while (!stop_ && (open || !queue.empty())) {
        // Sub-millisecond waits: a 1 ms round trip is 500 us each way.
        int64_t wait_ns = int64_t{kIdlePollMs} * 1000000;
        if (!queue.empty()) {
            auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(queue.front().due - Clock::now());
            wait_ns = left.count() <= 0 ? 0 : left.count();
        }
        timespec ts{static_cast<time_t>(wait_ns / 1000000000), static_cast<long>(wait_ns % 1000000000)};
        if (open) {
            pollfd p{from, POLLIN, 0};
            int r = ppoll(&p, 1, &ts, nullptr);
            if (r > 0) {
                ssize_t n = recv(from, buf.data(), buf.size(), 0);
                if (n > 0) {
                    Clock::time_point sent = Clock::now();
                    if (ns_per_byte_ > 0) {
                        line_free = std::max(line_free, sent) +
                                    std::chrono::nanoseconds(static_cast<int64_t>(ns_per_byte_ * static_cast<double>(n)));
                        sent = line_free;
                    }
                    Chunk c{sent + delay, std::vector<uint8_t>(buf.begin(), buf.begin() + n)};
                    queued += static_cast<uint64_t>(n);
                    queue.push_back(std::move(c));
                    if (to_client)
                        note_in_flight(queued);
                } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                    open = false;
                }
            }
        } else if (wait_ns > 0) {
            ppoll(nullptr, 0, &ts, nullptr);
        }
        auto now = Clock::now();
        while (!queue.empty() && queue.front().due <= now) {
            const Chunk &c = queue.front();
            if (!write_all(to, c.bytes.data(), c.bytes.size())) {
                queue.clear();
                open = false;
                queued = 0;
                break;
            }
            queued -= c.bytes.size();
            queue.pop_front();
        }
    }
    shutdown(to, SHUT_WR);
}

}  // namespace bench
