#include "net/call_signal.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "net/net_internal.h"

#ifdef _WIN32

// A datagram socket bound to the loopback that wakes itself: select() watches
// it beside the connection's socket.
CallSignal::CallSignal()
{
    if (!sock_startup())
        return;
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    u_long on = 1;
    if (bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len) != 0 ||
        connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ioctlsocket(s, FIONBIO, &on) != 0) {
        closesocket(s);
        return;
    }
    wake_read_ = wake_write_ = static_cast<intptr_t>(s);
}

CallSignal::~CallSignal()
{
    if (wake_read_ != -1)
        closesocket(static_cast<SOCKET>(wake_read_));
}

void CallSignal::wake() const
{
    if (wake_write_ != -1) {
        const char byte = 1;
        send(static_cast<SOCKET>(wake_write_), &byte, 1, 0);
    }
}

void CallSignal::drain() const
{
    if (wake_read_ == -1)
        return;
    char buf[64];
    while (recv(static_cast<SOCKET>(wake_read_), buf, sizeof buf, 0) > 0) {
    }
}

#else

CallSignal::CallSignal()
{
    int fds[2];
    if (pipe(fds) != 0)
        return;
    for (int fd : fds) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    wake_read_ = fds[0];
    wake_write_ = fds[1];
}

CallSignal::~CallSignal()
{
    if (wake_read_ != -1)
        ::close(static_cast<int>(wake_read_));
    if (wake_write_ != -1)
        ::close(static_cast<int>(wake_write_));
}

void CallSignal::wake() const
{
    if (wake_write_ != -1) {
        const char byte = 1;
        // A full pipe already wakes the waiter.
        [[maybe_unused]] ssize_t n = ::write(static_cast<int>(wake_write_), &byte, 1);
    }
}

void CallSignal::drain() const
{
    if (wake_read_ == -1)
        return;
    char buf[64];
    while (::read(static_cast<int>(wake_read_), buf, sizeof buf) > 0) {
    }
}

#endif

void CallSignal::cancel()
{
    uint64_t upto = issued_.load();
    uint64_t seen = cancelled_upto_.load();
    while (seen < upto && !cancelled_upto_.compare_exchange_weak(seen, upto)) {
    }
    wake();
}

void CallSignal::end()
{
    current_.store(0);
    drain();
}
