#include "net/support/script_peer.h"

#include "support/test_sockets.h"
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace {

constexpr int kAcceptWaitMs = 5000;
constexpr int kSendTimeoutSeconds = 5;

using Clock = std::chrono::steady_clock;

int listen_on(int family, int *port)
{
    int s = socket(family, SOCK_STREAM, 0);
    if (s < 0)
        return -1;
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage addr{};
    socklen_t len = 0;
    if (family == AF_INET6) {
        auto *a = reinterpret_cast<sockaddr_in6 *>(&addr);
        a->sin6_family = AF_INET6;
        a->sin6_addr = in6addr_loopback;
        len = sizeof *a;
    } else {
        auto *a = reinterpret_cast<sockaddr_in *>(&addr);
        a->sin_family = AF_INET;
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        len = sizeof *a;
    }
    if (bind(s, reinterpret_cast<sockaddr *>(&addr), len) != 0 || listen(s, 4) != 0) {
        close_socket(s);
        return -1;
    }
    len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len);
    *port = family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6 *>(&addr)->sin6_port)
                               : ntohs(reinterpret_cast<sockaddr_in *>(&addr)->sin_port);
    return s;
}

void send_all(int c, const std::vector<uint8_t> &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(c, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;  // the client went away or the send timed out
        done += static_cast<size_t>(n);
    }
}

void read_some(int c, size_t count, int ms, std::vector<uint8_t> *out)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    std::vector<uint8_t> scratch(65536);
    size_t got = 0;
    while (got < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return;
        pollfd p{c, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            return;
        ssize_t n = recv(c, scratch.data(), std::min(scratch.size(), count - got), 0);
        if (n <= 0)
            return;
        out->insert(out->end(), scratch.begin(), scratch.begin() + n);
        got += static_cast<size_t>(n);
    }
}

}  // namespace

PeerStep peer_send(std::vector<uint8_t> bytes)
{
    return PeerStep{PeerStep::kSend, std::move(bytes)};
}

PeerStep peer_header(uint8_t type, uint32_t len)
{
    return peer_send({type, uint8_t(len >> 16), uint8_t(len >> 8), uint8_t(len)});
}

std::vector<uint8_t> frame_body(uint32_t len)
{
    std::vector<uint8_t> body(len);
    for (uint32_t i = 0; i < len; i++)
        body[i] = uint8_t(i);
    return body;
}

PeerStep peer_frame(uint32_t len)
{
    std::vector<uint8_t> bytes = peer_header(0x00, len).bytes;
    std::vector<uint8_t> body = frame_body(len);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return peer_send(std::move(bytes));
}

PeerStep peer_read(size_t count, int ms)
{
    PeerStep s{PeerStep::kRead, {}};
    s.count = count;
    s.ms = ms;
    return s;
}

PeerStep peer_stall(int ms)
{
    PeerStep s{PeerStep::kStall, {}};
    s.ms = ms;
    return s;
}

PeerStep peer_close()
{
    return PeerStep{PeerStep::kClose, {}};
}

bool ScriptPeer::start(int family, std::vector<PeerStep> steps)
{
    finish();
    received.clear();
    accepted = false;
    peer_family = 0;
    listener_ = listen_on(family, &port_);
    if (listener_ < 0)
        return false;
    thread_ = std::thread(&ScriptPeer::run, this, std::move(steps));
    return true;
}

void ScriptPeer::finish()
{
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0) {
        close_socket(listener_);
        listener_ = -1;
    }
}

void ScriptPeer::run(std::vector<PeerStep> steps)
{
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, kAcceptWaitMs) <= 0)
        return;
    sockaddr_storage from{};
    socklen_t from_len = sizeof from;
    int c = accept(listener_, reinterpret_cast<sockaddr *>(&from), &from_len);
    if (c < 0)
        return;
    accepted = true;
    peer_family = from.ss_family;
#ifdef _WIN32
    DWORD tv = kSendTimeoutSeconds * 1000;  // milliseconds there, not a timeval
#else
    timeval tv{kSendTimeoutSeconds, 0};
#endif
    setsockopt(c, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    for (const PeerStep &s : steps) {
        if (c < 0)
            break;
        switch (s.kind) {
        case PeerStep::kSend:
            send_all(c, s.bytes);
            break;
        case PeerStep::kRead:
            read_some(c, s.count, s.ms, &received);
            break;
        case PeerStep::kStall:
            std::this_thread::sleep_for(std::chrono::milliseconds(s.ms));
            break;
        case PeerStep::kClose:
            close_socket(c);
            c = -1;
            break;
        }
    }
    if (c >= 0)
        close_socket(c);
}

int closed_port(int family)
{
    int port = 0;
    int s = listen_on(family, &port);
    if (s < 0)
        return 0;
    close_socket(s);
    return port;
}
