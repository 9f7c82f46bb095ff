// TCP with NBSS framing: each message travels behind a 4-byte session-message
// header on one connection, so requests may be sent ahead of their replies.
// On the NetBIOS port a session request opens the connection; without a
// port given, 445 is tried first and 139 when 445 is refused.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "net/msg_transport.h"
#include "net/nbss_session.h"
#include "net/net_internal.h"
#include "util/error.h"
#include "util/netbios_name.h"

namespace {

constexpr int kDirectPort = 445;
constexpr int kNetbiosPort = 139;
// The name this client calls itself by in a session request.
constexpr char kCallingName[] = "VANTRELVIEWER";

std::atomic<int> g_direct_port{kDirectPort};
std::atomic<int> g_netbios_port{kNetbiosPort};

class TcpTransport final : public MsgTransport {
public:
    TcpTransport() : stream_{&socket_, sock_connect, sock_write, sock_read, sock_close_v} {}
    ~TcpTransport() override { close(); }

    int32_t open(const char *host, int port, int timeout_ms) override
    {
        return outcome(open_any(host, port, timeout_ms));
    }

    int32_t open_any(const char *host, int port, int timeout_ms)
    {
        via_[0] = '\0';
        const int direct = g_direct_port.load();
        const int netbios = g_netbios_port.load();
        if (port != 0 && port != netbios)
            return connect_direct(host, port, timeout_ms);
        if (port == netbios)
            return connect_netbios(host, port, timeout_ms);
        // No port given: 445, and 139 only when 445 is refused outright (a
        // silent 445 would cost a second time-out).
        if (connect_direct(host, direct, timeout_ms) == 0)
            return 0;
        if (!socket_.refused)
            return -1;
        char first[200];
        std::snprintf(first, sizeof first, "%s", vnb_error());
        if (connect_netbios(host, netbios, timeout_ms) == 0)
            return 0;
        char second[240];
        std::snprintf(second, sizeof second, "%s", vnb_error());
        return vnb_fail(-1, "%s; on port %d: %s", first, netbios, second);
    }

    const char *connected_via() const override { return via_; }

    void call_as(const char *name) override
    {
        std::snprintf(call_as_, sizeof call_as_, "%s", name != nullptr ? name : "");
    }

    int32_t send(std::span<const uint8_t> msg) override
    {
        dump_frame("VNSMB1C_DUMP", msg.data(), msg.size());
        if (msg.empty())
            return 0;
        return outcome(nbss_write(&stream_, msg.data(), msg.size()));
    }

    int32_t recv(ByteBuffer &msg, int timeout_ms) override
    {
        msg.len = 0;
        uint64_t deadline = vnb_now_ms() + static_cast<uint64_t>(std::max(timeout_ms, 0));
        uint32_t len = 0;
        socket_.failure = kSockOk;
        int32_t rc = next_message_header(deadline, &len);
        if (rc != 0)
            return outcome(rc);
        if (len < kMinMessage)
            return outcome(vnb_fail(-2, "NBSS frame shorter than an SMB1 header"));
        rc = read_exact_by(&stream_, &msg, len, timeout_ms, deadline);
        if (rc != 0)
            return outcome(rc);
        dump_frame("VNSMB1C_DUMPREP", msg.data, static_cast<size_t>(msg.len));
        return 0;
    }

    void close() override { sock_close_v(&socket_); }

    bool pipelines() const override { return true; }

    Failure failure() const override { return failure_; }

    void watch(const CallSignal *signal) override { socket_.signal = signal; }

private:
    // Records the kind of a failure from what the socket met; a cancel
    // becomes -12 "cancelled" whatever the layer above made of it.
    int32_t outcome(int32_t rc)
    {
        if (rc == 0) {
            failure_ = Failure::none;
            return 0;
        }
        switch (socket_.failure) {
        case kSockTimedOut:
            failure_ = Failure::timed_out;
            break;
        case kSockCancelled:
            failure_ = Failure::cancelled;
            return vnb_fail(-12, "cancelled");
        case kSockClosed:
            failure_ = Failure::closed;
            break;
        default:
            failure_ = Failure::broken;
            break;
        }
        return rc;
    }

    int32_t connect_direct(const char *host, int port, int timeout_ms)
    {
        if (sock_connect(&socket_, host, port, timeout_ms) != 0)
            return -1;
        std::snprintf(via_, sizeof via_, "port %d", port);
        return 0;
    }

    // Connects and asks for a session with the called name from the host;
    // a server that does not answer to that name is asked once more as
    // *SMBSERVER, on a new connection (it closes the refused one).
    int32_t connect_netbios(const char *host, int port, int timeout_ms)
    {
        char called[kNetbiosNameChars + 1];
        vnb_netbios_called_name(call_as_[0] != '\0' ? call_as_ : host, called);
        for (int attempt = 0; attempt < 2; attempt++) {
            if (sock_connect(&socket_, host, port, timeout_ms) != 0)
                return -1;
            NbssSessionAnswer answer;
            if (nbss_session_request(&stream_, called, kCallingName, timeout_ms, &answer) != 0) {
                sock_close_v(&socket_);
                return -1;
            }
            switch (answer.kind) {
            case NbssAnswerKind::positive:
                std::snprintf(via_, sizeof via_, "port %d, NetBIOS session as %s", port, called);
                return 0;
            case NbssAnswerKind::negative:
                sock_close_v(&socket_);
                if (answer.error == kNbssCalledNameNotPresent && attempt == 0 &&
                    std::strcmp(called, kNetbiosAnyServer) != 0) {
                    std::snprintf(called, sizeof called, "%s", kNetbiosAnyServer);
                    continue;
                }
                return vnb_fail(-1, "the NetBIOS session service refused the called name %s: %s (0x%02X)", called,
                                nbss_refusal_text(answer.error), answer.error);
            case NbssAnswerKind::retarget:
                // Never followed: the address comes from the server.
                sock_close_v(&socket_);
                return vnb_fail(-1, "the NetBIOS session service sends the session on to %u.%u.%u.%u:%u; "
                                    "connect there instead",
                                answer.address[0], answer.address[1], answer.address[2], answer.address[3],
                                answer.port);
            case NbssAnswerKind::malformed:
                break;
            }
            sock_close_v(&socket_);
            return vnb_fail(-2, "the answer to the NetBIOS session request is not one");
        }
        return -1;
    }

    // The header of the next session message. Keep-alives are passed over,
    // and so is one zero-length session message (a second one is handed on
    // and then refused as too short).
    int32_t next_message_header(uint64_t deadline, uint32_t *len)
    {
        bool skipped_empty = false;
        for (;;) {
            uint8_t type = 0;
            int32_t rc = nbss_read_typed_header(&stream_, deadline, &type, len);
            if (rc != 0)
                return rc;
            if (type == kKeepAlive) {
                if (*len != 0 && (rc = discard(*len, deadline)) != 0)
                    return rc;
                continue;
            }
            if (type != kSessionMessage)
                return vnb_fail(-2, "NBSS type byte %02x", type);
            if (*len == 0 && !skipped_empty) {
                skipped_empty = true;
                continue;
            }
            return 0;
        }
    }

    int32_t discard(uint32_t len, uint64_t deadline)
    {
        ByteBuffer scratch{};
        int64_t left = static_cast<int64_t>(deadline) - static_cast<int64_t>(vnb_now_ms());
        int32_t rc = read_exact_by(&stream_, &scratch, len, static_cast<int>(std::max<int64_t>(left, 0)), deadline);
        vnb_buf_free(&scratch);
        return rc;
    }

    SockRecord socket_{-1, {}, 0, 0, nullptr, kSockOk};
    Failure failure_ = Failure::none;
    Transport stream_;  // the byte-stream view that the NBSS reader and writer drive
    char via_[80] = {};
    char call_as_[256] = {};
};

}  // namespace

void vnb_tcp_default_ports(int direct, int netbios)
{
    g_direct_port = direct > 0 ? direct : kDirectPort;
    g_netbios_port = netbios > 0 ? netbios : kNetbiosPort;
}

std::unique_ptr<MsgTransport> vnb_transport_tcp()
{
    return std::unique_ptr<MsgTransport>(new (std::nothrow) TcpTransport());
}
