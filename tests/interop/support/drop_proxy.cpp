#include "interop/support/drop_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace interop {

namespace {

struct Pair {
    int client;
    int server;
    bool frozen = false;
    uint64_t last_active = 0;  // the relay's count of passes when bytes last went through
};

int connect_target(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool send_all(int fd, const uint8_t *p, size_t n)
{
    while (n > 0) {
        ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Moves what is readable on `from` to `to`; false when either side is gone.
bool pass(int from, int to)
{
    uint8_t buf[65536];
    ssize_t n = recv(from, buf, sizeof buf, 0);
    return n > 0 && send_all(to, buf, static_cast<size_t>(n));
}

}  // namespace

bool DropProxy::start()
{
    if (thread_.joinable())
        return true;
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0)
        return false;
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    socklen_t len = sizeof addr;
    if (bind(listener, reinterpret_cast<sockaddr *>(&addr), len) != 0 || listen(listener, 8) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        close(listener);
        return false;
    }
    port_ = ntohs(addr.sin_port);
    stop_ = false;
    thread_ = std::thread([this, listener] { run(listener); });
    return true;
}

void DropProxy::stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void DropProxy::run(int listener)
{
    std::vector<Pair> pairs;
    uint64_t passes = 0;
    while (!stop_) {
        if (freeze_last_.exchange(false)) {
            auto last = std::max_element(pairs.begin(), pairs.end(),
                                         [](const Pair &a, const Pair &b) { return a.last_active < b.last_active; });
            if (last != pairs.end())
                last->frozen = true;
        }
        if (freeze_.exchange(false))
            for (Pair &p : pairs)
                p.frozen = true;
        if (thaw_.exchange(false))
            for (Pair &p : pairs)
                p.frozen = false;
        std::vector<pollfd> fds{{listener, POLLIN, 0}};
        for (const Pair &p : pairs) {
            // A frozen pair is not watched (fd -1): its bytes wait.
            fds.push_back({p.frozen ? -1 : p.client, POLLIN, 0});
            fds.push_back({p.frozen ? -1 : p.server, POLLIN, 0});
        }
        if (poll(fds.data(), fds.size(), 20) <= 0)
            continue;
        // Only the pairs that were polled have events; one accepted now waits
        // for the next round.
        const size_t polled = pairs.size();
        if (fds[0].revents & POLLIN) {
            int client = accept(listener, nullptr, nullptr);
            if (client >= 0) {
                accepts_++;
                int server = connect_target(target_port_);
                if (server < 0)
                    close(client);
                else
                    pairs.push_back({client, server});
            }
        }
        for (size_t i = 0; i < polled; i++) {
            Pair &p = pairs[i];
            short from_client = fds[1 + 2 * i].revents;
            short from_server = fds[2 + 2 * i].revents;
            bool keep = true;
            if (from_client & (POLLIN | POLLHUP | POLLERR)) {
                keep = pass(p.client, p.server);
                p.last_active = ++passes;
            }
            if (keep && (from_server & (POLLIN | POLLHUP | POLLERR)))
                keep = pass(p.server, p.client);
            if (!keep) {
                close(p.client);
                close(p.server);
                p.client = -1;
            }
        }
        std::erase_if(pairs, [](const Pair &p) { return p.client < 0; });
    }
    for (const Pair &p : pairs) {
        close(p.client);
        close(p.server);
    }
    close(listener);
}

}  // namespace interop
