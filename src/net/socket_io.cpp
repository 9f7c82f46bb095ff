// The socket kind of Transport: a non-blocking TCP connection. POSIX sockets,
// with the Windows Sockets 2 differences kept under _WIN32 in this one file.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/net_internal.h"
#include "util/error.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#ifdef _MSC_VER
#pragma comment(lib, "ws2_32.lib")
#endif
#else
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using SockHandle = SOCKET;
constexpr int kWouldBlock = WSAEWOULDBLOCK;
constexpr int kInProgress = WSAEINPROGRESS;
constexpr int kInterrupted = WSAEINTR;
constexpr int kRefused = WSAECONNREFUSED;
constexpr int kSendFlags = 0;
int32_t g_wsa_started;

int last_error() { return WSAGetLastError(); }
bool would_block(int err) { return err == WSAEWOULDBLOCK; }
void close_handle(SockHandle s) { closesocket(s); }
bool start_sockets()
{
    if (g_wsa_started)
        return true;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    g_wsa_started = 1;
    return true;
}
int set_nonblocking(SockHandle s)
{
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0 ? 0 : -1;
}
#else
using SockHandle = int;
constexpr int kWouldBlock = EWOULDBLOCK;
constexpr int kInProgress = EINPROGRESS;
constexpr int kInterrupted = EINTR;
constexpr int kRefused = ECONNREFUSED;
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a closing peer must not raise SIGPIPE
#else
constexpr int kSendFlags = 0;
#endif

int last_error() { return errno; }
bool would_block(int err) { return err == EAGAIN || err == EWOULDBLOCK; }
void close_handle(SockHandle s) { ::close(s); }
bool start_sockets() { return true; }
int set_nonblocking(SockHandle s)
{
    int on = 1;
    return ioctl(s, FIONBIO, &on) == 0 ? 0 : -1;
}
#endif

constexpr int kWriteDeadlineMs = 30000;
constexpr int kWaitSliceMs = 1000;

SockHandle handle_of(const SockRecord *r)
{
    return static_cast<SockHandle>(r->sock);
}

bool is_open(const SockRecord *r)
{
    return r != nullptr && r->sock != -1;
}

void close_record_socket(SockRecord *r)
{
    if (is_open(r)) {
        close_handle(handle_of(r));
        r->sock = -1;
    }
}

// IPv4 first when the host has both; otherwise whatever came first.
const addrinfo *pick_address(const addrinfo *list)
{
    for (const addrinfo *a = list; a; a = a->ai_next)
        if (a->ai_family == AF_INET)
            return a;
    return list;
}

int64_t remaining_ms(uint64_t deadline)
{
    return static_cast<int64_t>(deadline) - static_cast<int64_t>(vnb_now_ms());
}

}  // namespace

int wait_fd(intptr_t sock, int direction, int ms)
{
    if (ms < 0)
        ms = 0;
#ifdef _WIN32
    SockHandle s = static_cast<SockHandle>(sock);
    for (;;) {
        fd_set ready;
        fd_set failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(s, &ready);
        FD_SET(s, &failed);  // a refused connect shows up here, not as writable
        timeval tv{ms / 1000, (ms % 1000) * 1000};
        int n = direction == kWaitWrite ? select(0, nullptr, &ready, &failed, &tv)
                                        : select(0, &ready, nullptr, &failed, &tv);
        if (n > 0)
            return 1;
        if (n == 0)
            return 0;
        if (last_error() != kInterrupted)
            return -1;
    }
#else
    // poll rather than select: a host process may hold descriptors beyond FD_SETSIZE.
    uint64_t deadline = vnb_now_ms() + static_cast<uint64_t>(ms);
    pollfd p{};
    p.fd = static_cast<int>(sock);
    p.events = direction == kWaitWrite ? POLLOUT : POLLIN;
    for (;;) {
        int64_t left = std::max<int64_t>(remaining_ms(deadline), 0);
        int n = poll(&p, 1, static_cast<int>(left));
        if (n > 0)
            return 1;
        if (n == 0)
            return 0;
        if (last_error() != kInterrupted)
            return -1;
    }
#endif
}

int sock_connect(void *rec, const char *host, int port, int timeout_ms)
{
    auto *r = static_cast<SockRecord *>(rec);
    if (r == nullptr)
        return vnb_fail(-1, "bad host or port");
    close_record_socket(r);
    if (!start_sockets())
        return -1;
    if (host == nullptr || host[0] == '\0' || port < 1 || port > 65535)
        return vnb_fail(-1, "bad host or port");

    char service[16];
    std::snprintf(service, sizeof service, "%d", port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (getaddrinfo(host, service, &hints, &list) != 0 || list == nullptr) {
        if (list)
            freeaddrinfo(list);
        return vnb_fail(-1, "cannot resolve %.200s", host);
    }
    const addrinfo *a = pick_address(list);
    SockHandle s = socket(a->ai_family, SOCK_STREAM, IPPROTO_TCP);
#ifdef _WIN32
    bool made = s != INVALID_SOCKET;
#else
    bool made = s >= 0;
#endif
    if (!made) {
        freeaddrinfo(list);
        return vnb_fail(-1, "socket() failed");
    }
#ifndef _WIN32
    fcntl(s, F_SETFD, FD_CLOEXEC);
#endif
#ifdef SO_NOSIGPIPE
    int no_sigpipe = 1;
    setsockopt(s, SOL_SOCKET, SO_NOSIGPIPE, &no_sigpipe, sizeof no_sigpipe);
#endif
    int nodelay = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&nodelay), sizeof nodelay);
    if (set_nonblocking(s) != 0) {
        freeaddrinfo(list);
        close_handle(s);
        return vnb_fail(-1, "socket() failed");
    }

    int rc = connect(s, a->ai_addr, static_cast<socklen_t>(a->ai_addrlen));
    int err = rc == 0 ? 0 : last_error();
    freeaddrinfo(list);
    if (rc != 0) {
        // POSIX stacks may refuse a loopback connect at once instead of later.
        if (err == kRefused) {
            close_handle(s);
            return vnb_fail(-1, "connection refused (%d)", err);
        }
        // EINTR: the connect carries on in the background, like EINPROGRESS.
        if (err != kWouldBlock && err != kInProgress && err != kInterrupted) {
            close_handle(s);
            return vnb_fail(-1, "connect failed (%d)", err);
        }
        if (wait_fd(static_cast<intptr_t>(s), kWaitWrite, timeout_ms) != 1) {
            close_handle(s);
            return vnb_fail(-1, "connect to %.200s:%d timed out", host, port);
        }
        int so_error = 0;
        socklen_t so_len = sizeof so_error;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&so_error), &so_len) != 0)
            so_error = last_error();
        if (so_error != 0) {
            close_handle(s);
            return vnb_fail(-1, "connection refused (%d)", so_error);
        }
    }
    r->sock = static_cast<intptr_t>(s);
    std::snprintf(r->peer_host, sizeof r->peer_host, "%.250s", host);
    r->peer_port = port;
    return 0;
}

int sock_read(void *rec, uint8_t *buf, size_t cap, int timeout_ms)
{
    auto *r = static_cast<SockRecord *>(rec);
    if (!is_open(r) || buf == nullptr || cap == 0)
        return -1;
    // recv takes an int count on Windows and the result must fit an int here.
    size_t ask = std::min<size_t>(cap, 1u << 30);
    uint64_t deadline = vnb_now_ms() + static_cast<uint64_t>(std::max(timeout_ms, 0));
    for (;;) {
#ifdef _WIN32
        int n = recv(handle_of(r), reinterpret_cast<char *>(buf), static_cast<int>(ask), 0);
#else
        ssize_t n = recv(handle_of(r), buf, ask, 0);
#endif
        if (n > 0)
            return static_cast<int>(n);
        if (n == 0)
            return 0;
        int err = last_error();
        if (err == kInterrupted)
            continue;
        if (!would_block(err))
            return -1;
        int64_t left = remaining_ms(deadline);
        if (left <= 0)
            return -2;
        if (wait_fd(r->sock, kWaitRead, static_cast<int>(std::min<int64_t>(left, kWaitSliceMs))) < 0)
            return -1;
    }
}

int sock_write(void *rec, const uint8_t *bytes, size_t len)
{
    auto *r = static_cast<SockRecord *>(rec);
    if (!is_open(r))
        return -1;
    if (len == 0)
        return 0;
    uint64_t deadline = vnb_now_ms() + kWriteDeadlineMs;
    size_t done = 0;
    while (done < len) {
        size_t chunk = std::min<size_t>(len - done, 1u << 30);
#ifdef _WIN32
        int n = send(handle_of(r), reinterpret_cast<const char *>(bytes + done), static_cast<int>(chunk), kSendFlags);
#else
        ssize_t n = send(handle_of(r), bytes + done, chunk, kSendFlags);
#endif
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0) {
            int err = last_error();
            if (err == kInterrupted)
                continue;
            if (!would_block(err))
                return -1;
        }
        if (wait_fd(r->sock, kWaitWrite, kWaitSliceMs) != 1)
            return -1;
        if (remaining_ms(deadline) <= 0)
            return -1;
    }
    return 0;
}

void sock_close_v(void *rec)
{
    close_record_socket(static_cast<SockRecord *>(rec));
}

bool vnb_sockets_start()
{
    return start_sockets();
}
