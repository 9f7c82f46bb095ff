#include "interop/support/tamper_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

namespace interop {

namespace {

constexpr int kPollMs = 100;
constexpr uint8_t kSmbReadAndx = 0x2E;
constexpr uint8_t kSmbNegotiate = 0x72;
constexpr uint8_t kFlags2ExtSecurityHigh = 0x08;  // 0x0800, in the high byte
// Offsets in an SMB1 message (after the 4-byte NBSS header).
constexpr size_t kOffCommand = 4;
constexpr size_t kOffFlags2 = 10;
constexpr size_t kOffWordCount = 32;
constexpr size_t kOffReadDataLength = 43;
constexpr size_t kOffReadDataOffset = 45;
constexpr uint8_t kReadReplyWords = 12;

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

bool write_all(int fd, const uint8_t *p, size_t n)
{
    while (n > 0) {
        ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

uint16_t le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

TamperProxy::TamperProxy(int target_port) : target_port_(target_port)
{
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        listen(listen_fd_, 4) != 0 || getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
}

TamperProxy::~TamperProxy()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listen_fd_ >= 0)
        close(listen_fd_);
}

void TamperProxy::run()
{
    while (!stop_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (poll(&p, 1, kPollMs) <= 0)
            continue;
        int client = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        relay(client);
        close(client);
    }
}

bool TamperProxy::pass_frames(std::vector<uint8_t> &pending, int fd, bool from_client)
{
    while (pending.size() >= 4) {
        size_t len = (size_t{pending[1]} << 16) | (size_t{pending[2]} << 8) | pending[3];
        if (pending.size() < 4 + len)
            break;
        uint8_t *smb = pending.data() + 4;
        if (from_client && hide_extsec_ && len > kOffFlags2 + 1 && smb[kOffCommand] == kSmbNegotiate &&
            (smb[kOffFlags2 + 1] & kFlags2ExtSecurityHigh)) {
            smb[kOffFlags2 + 1] &= static_cast<uint8_t>(~kFlags2ExtSecurityHigh);
            ++negotiates_altered_;
        }
        if (!from_client && armed_ && len > kOffReadDataOffset + 2 && smb[kOffCommand] == kSmbReadAndx &&
            smb[kOffWordCount] >= kReadReplyWords) {
            size_t data_len = le16(smb + kOffReadDataLength);
            size_t data_off = le16(smb + kOffReadDataOffset);
            if (data_len > 0 && data_off < len) {
                smb[data_off] ^= 0x01;
                armed_ = false;
                ++flipped_;
            }
        }
        if (!write_all(fd, pending.data(), 4 + len))
            return false;
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(4 + len));
    }
    return true;
}

// Relays until either side closes, frame by frame in both directions so
// that a frame can be altered before it goes on.
void TamperProxy::relay(int client)
{
    int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(target_port_);
    if (server < 0 || connect(server, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        if (server >= 0)
            close(server);
        return;
    }
    std::vector<uint8_t> from_client;
    std::vector<uint8_t> from_server;
    uint8_t chunk[65536];
    while (!stop_) {
        pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        if (poll(p, 2, kPollMs) <= 0)
            continue;
        if (p[0].revents) {
            ssize_t n = recv(client, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            from_client.insert(from_client.end(), chunk, chunk + n);
            if (!pass_frames(from_client, server, true))
                break;
        }
        if (p[1].revents) {
            ssize_t n = recv(server, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            from_server.insert(from_server.end(), chunk, chunk + n);
            if (!pass_frames(from_server, client, false))
                break;
        }
    }
    close(server);
}

}  // namespace interop
