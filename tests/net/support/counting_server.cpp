#include "net/support/counting_server.h"

#include "support/test_sockets.h"
#include <unistd.h>

#include <chrono>
#include <vector>

namespace {

struct Client {
    int fd;
    int number;
    std::vector<uint8_t> in;
};

uint64_t now_ms()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

bool send_all(int fd, const std::vector<uint8_t> &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Answers every whole frame in the client's input; false once the
// connection is to end.
bool answer_frames(Client &c)
{
    while (c.in.size() >= 4) {
        size_t len = (size_t{c.in[1]} << 16) | (size_t{c.in[2]} << 8) | c.in[3];
        if (c.in.size() < 4 + len)
            return true;
        std::vector<uint8_t> frame(c.in.begin(), c.in.begin() + static_cast<long>(4 + len));
        c.in.erase(c.in.begin(), c.in.begin() + static_cast<long>(4 + len));
        if (len > 4 && frame[4 + 4] == CountingServer::kDropCommand)
            return false;
        if (len > CountingServer::kConnectionByte)
            frame[4 + CountingServer::kConnectionByte] = static_cast<uint8_t>(c.number);
        if (!send_all(c.fd, frame))
            return false;
    }
    return true;
}

}  // namespace

CountingServer::~CountingServer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        close_socket(listener_);
}

bool CountingServer::start(int lifetime_ms)
{
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    if (listener_ < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(listener_, reinterpret_cast<sockaddr *>(&addr), len) != 0 || listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return false;
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this, lifetime_ms] { run(lifetime_ms); });
    return true;
}

bool CountingServer::wait_client_closes(int n, int ms) const
{
    uint64_t end = now_ms() + static_cast<uint64_t>(ms);
    while (client_closes() < n && now_ms() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return client_closes() >= n;
}

void CountingServer::run(int lifetime_ms)
{
    std::vector<Client> clients;
    uint64_t end = now_ms() + static_cast<uint64_t>(lifetime_ms);
    while (!stop_ && now_ms() < end) {
        std::vector<pollfd> fds{{listener_, POLLIN, 0}};
        for (const Client &c : clients)
            fds.push_back({c.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 20) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            int fd = accept(listener_, nullptr, nullptr);
            if (fd >= 0)
                clients.push_back({fd, ++accepts_, {}});
        }
        for (size_t i = 1; i < fds.size(); i++) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Client &c = clients[i - 1];
            uint8_t buf[65536];
            ssize_t n = recv(c.fd, buf, sizeof buf, 0);
            bool keep = n > 0;
            if (n == 0)
                client_closes_++;
            if (keep) {
                c.in.insert(c.in.end(), buf, buf + n);
                keep = answer_frames(c);
            }
            if (!keep) {
                close_socket(c.fd);
                c.fd = -1;
            }
        }
        std::erase_if(clients, [](const Client &c) { return c.fd < 0; });
    }
    for (const Client &c : clients)
        close_socket(c.fd);
}
