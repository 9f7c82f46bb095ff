// Building the transport of a chosen kind. Until the message transports of
// net/ take over, the byte-stream Transport records are wrapped here, and
// the fake kind talks to a connection of the fake server.
#include <deque>
#include <string>
#include <vector>

#include "api/session_ops.h"
#include "fake/fake.h"
#include "net/net.h"
#include "util/error.h"
#include "util/text.h"

namespace {

using BuildRecord = int32_t (*)(Transport *t, const HostIo *io);

int32_t build_socket(Transport *t, const HostIo *)
{
    return vnb_net_io_socket(t) == 0 ? 0 : vnb_fail(-11, "out of memory");
}

int32_t build_relay(Transport *t, const HostIo *io)
{
    return vnb_net_io_from_vantrelx(t, io);
}

class RecordTransport : public MsgTransport {
public:
    RecordTransport(BuildRecord build, const HostIo *io, bool pipelines)
        : build_(build), io_(io), pipelines_(pipelines)
    {
    }
    ~RecordTransport() override { close(); }

    int32_t open(const char *host, int port, int timeout_ms) override
    {
        close();
        int32_t rc = build_(&t_, io_);
        if (rc != 0)
            return rc;
        return t_.connect(t_.context, host, port, timeout_ms) == 0 ? 0 : -1;
    }
    int32_t send(std::span<const uint8_t> msg) override
    {
        if (t_.connect == nullptr)
            return vnb_fail(-1, "not connected");
        return vnb_net_send(&t_, msg.data(), msg.size());
    }
    int32_t recv(ByteBuffer &msg, int timeout_ms) override
    {
        if (t_.connect == nullptr)
            return vnb_fail(-1, "not connected");
        vnb_buf_free(&msg);
        return vnb_net_recv(&t_, &msg, timeout_ms);
    }
    void close() override
    {
        if (t_.close != nullptr && t_.context != nullptr)
            t_.close(t_.context);
        t_ = Transport{};
    }
    bool pipelines() const override { return pipelines_; }

private:
    BuildRecord build_;
    const HostIo *io_;
    bool pipelines_;
    Transport t_{};
};

constexpr size_t kShortestFakeFrame = 36;  // NBSS header and an SMB1 header + 0 words

// One connection to the in-process fake server, reached under the host name
// "fake". Its answers wait in order until they are received.
class FakeTransport : public MsgTransport {
public:
    ~FakeTransport() override { close(); }

    int32_t open(const char *host, int, int) override
    {
        close();
        if (host == nullptr || vnb_casecmp(host, "fake") != 0) {
            vnb_set_error("no fake server for %.200s", host ? host : "");
            return -1;
        }
        conn_ = vnb_fake_open();
        return conn_ != nullptr ? 0 : -1;
    }
    int32_t send(std::span<const uint8_t> msg) override
    {
        if (conn_ == nullptr)
            return vnb_fail(-1, "not connected");
        static constexpr uint8_t kNoBytes[1] = {0};
        ByteBuffer frame{};
        vnb_fake_answer(conn_, msg.empty() ? kNoBytes : msg.data(), msg.size(), &frame);
        Answer a;
        if (frame.len == 0) {
            a.text = "the fake server produced no reply";
        } else if (frame.len < kShortestFakeFrame) {
            a.text = "fake reply too short";
        } else {
            const uint8_t *h = frame.data;
            uint32_t n = (uint32_t{h[1]} << 16) | (uint32_t{h[2]} << 8) | h[3];
            if (frame.len < uint64_t{n} + 4)
                a.text = "fake NBSS length lies";
            else
                a.message.assign(frame.data + 4, frame.data + 4 + n);
        }
        vnb_buf_free(&frame);
        answers_.push_back(std::move(a));
        return 0;
    }
    int32_t recv(ByteBuffer &msg, int) override
    {
        vnb_buf_free(&msg);
        if (answers_.empty())
            return vnb_fail(-1, "no fake reply is pending");
        Answer a = std::move(answers_.front());
        answers_.pop_front();
        if (!a.text.empty())
            return vnb_fail(-2, "%s", a.text.c_str());
        vnb_buf_put(&msg, a.message.data(), a.message.size());
        return msg.failed ? vnb_fail(-11, "out of memory") : 0;
    }
    void close() override
    {
        vnb_fake_close(conn_);
        conn_ = nullptr;
        answers_.clear();
    }
    bool pipelines() const override { return false; }

private:
    struct Answer {
        std::string text;  // what is wrong with the answer, or empty
        std::vector<uint8_t> message;
    };
    FakeConnection *conn_ = nullptr;
    std::deque<Answer> answers_;
};

}  // namespace

std::unique_ptr<MsgTransport> vnb_make_transport(const TransportChoice &kind)
{
    switch (kind.mode) {
    case VNSMB1C_MODE_HOSTIO:
        if (kind.io == nullptr || kind.io->http_post == nullptr) {
            vnb_set_error("io without http_post");
            return nullptr;
        }
        return std::make_unique<RecordTransport>(build_relay, kind.io, false);
    case VNSMB1C_MODE_FAKE:
        return std::make_unique<FakeTransport>();
    default:
        return std::make_unique<RecordTransport>(build_socket, nullptr, true);
    }
}
