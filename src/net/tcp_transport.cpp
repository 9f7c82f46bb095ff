// TCP with NBSS framing: each message travels behind a 4-byte session-message
// header on one connection, so requests may be sent ahead of their replies.
#include <algorithm>
#include <new>

#include "net/msg_transport.h"
#include "net/net_internal.h"
#include "util/error.h"

namespace {

class TcpTransport final : public MsgTransport {
public:
    TcpTransport() : stream_{&socket_, sock_connect, sock_write, sock_read, sock_close_v} {}
    ~TcpTransport() override { close(); }

    int32_t open(const char *host, int port, int timeout_ms) override
    {
        return outcome(sock_connect(&socket_, host, port, timeout_ms) == 0 ? 0 : -1);
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

    SockRecord socket_{-1, {}, 0, nullptr, kSockOk};
    Failure failure_ = Failure::none;
    Transport stream_;  // the byte-stream view that the NBSS reader and writer drive
};

}  // namespace

std::unique_ptr<MsgTransport> vnb_transport_tcp()
{
    return std::unique_ptr<MsgTransport>(new (std::nothrow) TcpTransport());
}
