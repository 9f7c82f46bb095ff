// The transaction reader of a reply sent as several messages: the client
// sends one TRANSACTION2 FIND_FIRST2 (or, when the first input byte is odd,
// a TRANSACTION on a pipe) and reads the reply, whose primary and secondary
// response messages are cut from the rest of the input (see fuzz_peer.h).
#include <memory>

#include "fuzz_input.h"
#include "fuzz_peer.h"
#include "sess/session.h"
#include "sess/trans.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const bool pipe = (data[0] & 1) != 0;
    const size_t min_params = (data[0] >> 1) & 15;
    auto s = std::make_unique<Session>();
    s->transport = std::make_unique<fuzz_peer::Peer>(std::span<const uint8_t>(data + 1, size - 1),
                                                     fuzz_peer::Options{});
    if (s->transport->open("fuzz", 445, 1000) != 0)
        return 0;
    s->transport_open = true;
    s->established = 1;
    s->uid = 100;
    s->max_buffer = 16644;
    s->flags2 = kFlags2Default;

    static constexpr uint8_t kParams[] = {0x37, 0, 0x56, 5, 2, 0, 4, 1, 0, 0, 0, 0, '*', 0, 0, 0};
    static constexpr uint8_t kPdu[] = {5, 0, 0, 3, 0x10, 0, 0, 0, 24, 0, 0, 0, 2, 0, 0, 0,
                                       0, 0, 0, 0, 0, 0, 15, 0};
    const uint16_t setup_pipe[2] = {0x0026, 0x4000};
    const uint16_t setup_find[1] = {TRANS2_FIND_FIRST2};
    TransRequest req{};
    req.command = pipe ? smb::TRANSACTION : smb::TRANSACTION2;
    req.tid = 7;
    req.setup = pipe ? setup_pipe : setup_find;
    req.setup_count = pipe ? 2 : 1;
    req.name = pipe ? "\\PIPE\\" : nullptr;
    req.params = pipe ? nullptr : kParams;
    req.params_len = pipe ? 0 : sizeof kParams;
    req.data = pipe ? kPdu : nullptr;
    req.data_len = pipe ? sizeof kPdu : 0;
    req.max_param_count = pipe ? 1024 : 10;
    req.max_data_count = 0xFFFF;

    SmbRequest answer;
    if (vnb_trans_exchange(*s, &req, answer) != 0)
        return 0;
    TransReply r;
    int32_t rc = vnb_trans_reply_take(*s, answer, min_params, "TRANS", &r);
    FUZZ_CHECK(rc <= 0);
    FUZZ_CHECK(r.parts >= 1);
    if (rc == 0) {
        FUZZ_CHECK(r.param_count >= min_params);
        FUZZ_CHECK(r.param_count == 0 || r.params != nullptr);
        FUZZ_CHECK(r.data_count == 0 || r.data != nullptr);
        if (r.parts > 1) {
            FUZZ_CHECK(r.param_count == r.total_param_count && r.data_count == r.total_data_count);
            FUZZ_CHECK(r.joined_params.size() == r.param_count && r.joined_data.size() == r.data_count);
        }
    }
    return 0;
}
