// The UDP kind of DatagramPort: a non-blocking socket, POSIX or Windows
// Sockets, that allows broadcasts only once one is sent.
#include <new>

#include "net/datagram.h"
#include "net/nbns_wire.h"
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
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using SockHandle = SOCKET;
constexpr SockHandle kNoSocket = INVALID_SOCKET;
void close_handle(SockHandle s) { closesocket(s); }
bool set_nonblocking(SockHandle s)
{
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}
bool try_again() { return WSAGetLastError() == WSAEWOULDBLOCK || WSAGetLastError() == WSAEINTR; }
// A datagram refused by the peer's port shows as WSAECONNRESET on the next receive.
bool peer_refused() { return WSAGetLastError() == WSAECONNRESET; }
int last_error() { return WSAGetLastError(); }
#else
using SockHandle = int;
constexpr SockHandle kNoSocket = -1;
void close_handle(SockHandle s) { ::close(s); }
bool set_nonblocking(SockHandle s)
{
    int on = 1;
    return ioctl(s, FIONBIO, &on) == 0;
}
bool try_again() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }
bool peer_refused() { return errno == ECONNREFUSED; }
int last_error() { return errno; }
#endif

class UdpPort final : public DatagramPort {
public:
    explicit UdpPort(SockHandle s) : sock_(s) {}
    ~UdpPort() override { close_handle(sock_); }
    UdpPort(const UdpPort &) = delete;
    UdpPort &operator=(const UdpPort &) = delete;

    int32_t send(uint32_t ip, uint16_t port, std::span<const uint8_t> bytes, bool broadcast) override
    {
        if (broadcast && !broadcast_on_) {
            int on = 1;
            if (setsockopt(sock_, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char *>(&on), sizeof on) != 0)
                return vnb_fail(-1, "cannot allow broadcasts (%d)", last_error());
            broadcast_on_ = true;
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(ip);
        auto n = sendto(sock_, reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size()), 0,
                        reinterpret_cast<const sockaddr *>(&to), sizeof to);
        if (n < 0 || static_cast<size_t>(n) != bytes.size())
            return vnb_fail(-1, "cannot send a datagram (%d)", last_error());
        return 0;
    }

    int32_t recv(Datagram &out, int timeout_ms) override
    {
        out.bytes.resize(kNbnsMaxPacket);
        for (;;) {
            sockaddr_in from{};
            socklen_t from_len = sizeof from;
            auto n = recvfrom(sock_, reinterpret_cast<char *>(out.bytes.data()), static_cast<int>(out.bytes.size()), 0,
                              reinterpret_cast<sockaddr *>(&from), &from_len);
            if (n >= 0) {
                out.bytes.resize(static_cast<size_t>(n));
                out.ip = ntohl(from.sin_addr.s_addr);
                out.port = ntohs(from.sin_port);
                return 1;
            }
            // An ICMP port unreachable from an earlier send is no failure of ours.
            if (!try_again() && !peer_refused())
                return vnb_fail(-1, "cannot receive a datagram (%d)", last_error());
            if (try_again()) {
                int ready = wait_fd(static_cast<intptr_t>(sock_), kWaitRead, timeout_ms);
                if (ready < 0)
                    return vnb_fail(-1, "cannot wait for a datagram");
                if (ready == 0)
                    return 0;
                timeout_ms = 0;  // what is there now, then no more waiting
            }
        }
    }

private:
    SockHandle sock_;
    bool broadcast_on_ = false;
};

}  // namespace

std::unique_ptr<DatagramPort> vnb_udp_port()
{
    if (!sock_startup()) {
        vnb_fail(-1, "cannot start the sockets");
        return nullptr;
    }
    SockHandle s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == kNoSocket) {
        vnb_fail(-1, "socket() failed (%d)", last_error());
        return nullptr;
    }
#ifndef _WIN32
    fcntl(s, F_SETFD, FD_CLOEXEC);
#endif
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!set_nonblocking(s) || bind(s, reinterpret_cast<const sockaddr *>(&any), sizeof any) != 0) {
        vnb_fail(-1, "cannot bind a UDP socket (%d)", last_error());
        close_handle(s);
        return nullptr;
    }
    auto *port = new (std::nothrow) UdpPort(s);
    if (port == nullptr) {
        close_handle(s);
        vnb_fail(-11, "out of memory");
    }
    return std::unique_ptr<DatagramPort>(port);
}
