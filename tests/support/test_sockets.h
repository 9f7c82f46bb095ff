// The BSD socket calls the test peers use, on POSIX systems and on Windows
// Sockets 2. Sockets are held in an int there as well: Winsock hands out
// small handle values, and INVALID_SOCKET turns into -1.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <sys/types.h>

#include <cstddef>
#include <vector>

#ifndef MSG_NOSIGNAL
#define MSG_NOSIGNAL 0  // Winsock raises no signal on a closed peer
#endif
#ifndef SHUT_WR
#define SHUT_RD SD_RECEIVE
#define SHUT_WR SD_SEND
#define SHUT_RDWR SD_BOTH
#endif

namespace test_sockets {
// Winsock needs starting once per process before the first call.
inline const bool kStarted = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();

// pollfd with an int descriptor, copied into WSAPoll's own records.
struct PollFd {
    int fd;
    short events;
    short revents;
};

inline int poll(PollFd *fds, size_t count, int timeout_ms)
{
    std::vector<WSAPOLLFD> w(count);
    for (size_t i = 0; i < count; i++)
        w[i] = WSAPOLLFD{static_cast<SOCKET>(fds[i].fd), fds[i].events, 0};
    int n = WSAPoll(w.data(), static_cast<ULONG>(count), timeout_ms);
    for (size_t i = 0; i < count; i++)
        fds[i].revents = n > 0 ? w[i].revents : 0;
    return n;
}
}  // namespace test_sockets

#define pollfd test_sockets::PollFd
using test_sockets::poll;

// Templates, so that they match the POSIX-style calls exactly and win over
// Winsock's own char * and int forms.
template <class T>
ssize_t send(int s, const T *bytes, size_t length, int flags)
{
    return ::send(static_cast<SOCKET>(s), reinterpret_cast<const char *>(bytes), static_cast<int>(length), flags);
}
template <class T>
ssize_t recv(int s, T *bytes, size_t length, int flags)
{
    return ::recv(static_cast<SOCKET>(s), reinterpret_cast<char *>(bytes), static_cast<int>(length), flags);
}
template <class T>
int setsockopt(int s, int level, int name, const T *value, socklen_t length)
{
    return ::setsockopt(static_cast<SOCKET>(s), level, name, reinterpret_cast<const char *>(value), length);
}
inline int close_socket(int s)
{
    return closesocket(static_cast<SOCKET>(s));
}
// The error of the last failed call.
inline int socket_error()
{
    return WSAGetLastError();
}
inline constexpr int kConnectionRefused = WSAECONNREFUSED;

#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

inline int close_socket(int s)
{
    return ::close(s);
}
inline int socket_error()
{
    return errno;
}
inline constexpr int kConnectionRefused = ECONNREFUSED;
#endif
