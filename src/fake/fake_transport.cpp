// The fake server answers each request as it is sent; the answers wait in
// order (or, with the reorder fault, newest first) until they are received,
// so requests may be sent ahead of replies.
#include "fake/fake_transport.h"

#include <new>

#include "fake/fake_internal.h"
#include "fake/fake_lock.h"
#include "fake/fake_netbios.h"
#include "net/answer_queue.h"
#include "net/frame_dump.h"
#include "util/error.h"
#include "util/text.h"

namespace {

constexpr size_t kShortestFakeFrame = 36;  // NBSS header and an SMB1 header + 0 words

class FakeTransport final : public MsgTransport {
public:
    ~FakeTransport() override { close(); }

    // Port and time-out mean nothing here: "fake" and the address the fake
    // server's NetBIOS name gives reach it. Without a tree the open fails
    // without a text of its own.
    int32_t open(const char *host, int, int) override
    {
        FakeModelLock model;
        close();
        if (!vnb_fake_is_own_host(host))
            return vnb_fail(-1, "no fake server for %.200s", host ? host : "");
        connection_ = vnb_fake_open();
        return connection_ ? 0 : -1;
    }

    int32_t send(std::span<const uint8_t> msg) override
    {
        dump_frame("VNSMB1C_DUMP", msg.data(), msg.size());
        FakeModelLock model;
        if (connection_ == nullptr)
            return vnb_fail(-1, "not connected to the fake server");
        if (vnb_fake_drop_due()) {
            // Sent, but the server is gone: what the request waits for is the
            // connection closing.
            vnb_fake_close(connection_);
            connection_ = nullptr;
            answers_.push_failure(-1, "connection closed by the peer");
            return 0;
        }
        // As a server that holds the client to the MaxMpxCount it announced.
        if (answers_.size() >= fake_max_mpx()) {
            answers_.push_failure(-2, "more requests outstanding than the fake server's MaxMpxCount");
            return 0;
        }
        ByteBuffer frame{};
        uint32_t n = 0;
        if (const char *wrong = vnb_fake_checked_answer(connection_, msg, &frame, &n)) {
            answers_.push_failure(-2, wrong);
        } else {
            if (!msg.empty())
                dump_bytes("VNSMB1C_DUMPREQ", msg.data(), msg.size());
            dump_bytes("VNSMB1C_DUMPREP", frame.data, static_cast<size_t>(frame.len));
            // A reply may come as several messages, one NBSS frame each.
            for (uint64_t at = 0; at + 4 <= frame.len;) {
                const uint8_t *h = frame.data + at;
                uint64_t len = (uint64_t{h[1]} << 16) | (uint64_t{h[2]} << 8) | h[3];
                if (at == 0)
                    len = n;
                if (frame.len - at - 4 < len)
                    break;
                ByteBuffer reply{};
                vnb_buf_put(&reply, h + 4, len);
                if (reply.failed) {
                    vnb_buf_free(&reply);
                    answers_.push_failure(-11, "out of memory");
                    break;
                }
                answers_.push_reply(reply);
                at += 4 + len;
            }
        }
        vnb_buf_free(&frame);
        return 0;
    }

    // With the reorder fault, the replies held are released newest first.
    int32_t recv(ByteBuffer &msg, int) override
    {
        FakeModelLock model;
        return answers_.take(msg, "no fake reply is pending", F.faults.reorder != 0);
    }

    void close() override
    {
        FakeModelLock model;
        answers_.clear();
        vnb_fake_close(connection_);
        connection_ = nullptr;
    }

    bool pipelines() const override { return true; }

private:
    FakeConnection *connection_ = nullptr;
    AnswerQueue answers_;
};

}  // namespace

std::unique_ptr<MsgTransport> vnb_fake_transport()
{
    return std::unique_ptr<MsgTransport>(new (std::nothrow) FakeTransport());
}

const char *vnb_fake_checked_answer(FakeConnection *c, std::span<const uint8_t> req, ByteBuffer *frame,
                                    uint32_t *msg_len)
{
    static constexpr uint8_t kNoBytes[1] = {0};
    vnb_fake_answer(c, req.empty() ? kNoBytes : req.data(), req.size(), frame);
    if (frame->len == 0)
        return "the fake server produced no reply";
    if (frame->len < kShortestFakeFrame)
        return "fake reply too short";
    // Byte 0 (the NBSS type) is the fake's own business and is not checked.
    const uint8_t *h = frame->data;
    uint32_t n = (uint32_t{h[1]} << 16) | (uint32_t{h[2]} << 8) | h[3];
    if (frame->len < uint64_t{n} + 4)
        return "fake NBSS length lies";
    *msg_len = n;
    return nullptr;
}
