// The host relay: each message is one POST through the host's HostIo, whose
// reply waits until it is received. The relay answers every request before
// the next may be sent.
#include <cstdio>
#include <new>

#include "net/answer_queue.h"
#include "net/frame_dump.h"
#include "net/msg_transport.h"
#include "net/relay_post.h"
#include "util/error.h"

namespace {

class RelayTransport final : public MsgTransport {
public:
    explicit RelayTransport(const vnsmb1c_HostIo *io) : io_(io) {}

    // Nothing is opened: the host and port only name the relay URL.
    int32_t open(const char *host, int port, int) override
    {
        std::snprintf(host_, sizeof host_, "%s", host ? host : "");
        port_ = port;
        answers_.clear();
        return 0;
    }

    int32_t send(std::span<const uint8_t> msg) override
    {
        dump_frame("VNSMB1C_DUMP", msg.data(), msg.size());
        ByteBuffer reply{};
        char text[kRelayTextMax];
        int32_t code = vnb_relay_post(io_, host_, port_, msg, &reply, text);
        if (code != 0) {
            answers_.push_failure(code, text);
            return 0;
        }
        dump_frame("VNSMB1C_DUMPREP", reply.data, static_cast<size_t>(reply.len));
        answers_.push_reply(reply);
        return 0;
    }

    int32_t recv(ByteBuffer &msg, int) override { return answers_.take(msg, "no relayed reply is pending"); }

    void close() override { answers_.clear(); }

    bool pipelines() const override { return false; }

    // The host's POST hands back one message.
    bool one_message_per_reply() const override { return true; }

private:
    const vnsmb1c_HostIo *io_;
    char host_[256] = {};
    int port_ = 0;
    AnswerQueue answers_;
};

}  // namespace

std::unique_ptr<MsgTransport> vnb_transport_relay(const vnsmb1c_HostIo *io)
{
    if (io == nullptr || io->http_post == nullptr) {
        vnb_set_error("io without http_post");
        return nullptr;
    }
    return std::unique_ptr<MsgTransport>(new (std::nothrow) RelayTransport(io));
}
