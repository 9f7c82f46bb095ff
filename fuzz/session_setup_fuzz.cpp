// The client's reader of a SESSION_SETUP_ANDX reply: the input is the reply
// message. An interim reply's token is answered as the logon does (SPNEGO,
// then the NTLM CHALLENGE, then the AUTHENTICATE built from it); a final one
// establishes the session, its signature checked when it carries one. The
// first byte of the message's Reserved header field picks the logon form.
#include <memory>

#include "fuzz_input.h"
#include "sess/logon.h"
#include "util/status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::span<const uint8_t> msg(data, size);
    ParsedHeader h;
    if (vnb_hdr_parse(msg, &h) != 0)
        return 0;
    auto s = std::make_unique<Session>();
    std::memcpy(s->domain, "WG", 3);
    std::memcpy(s->user, "alice", 6);
    std::memcpy(s->password, "pw", 3);
    const uint8_t form = data[22];  // header Reserved: free for the harness
    s->ext_security = (form & 1) == 0;
    s->signing = (form & 2) != 0;
    s->anonymous = (form & 4) != 0;

    SetupReply rep;
    int32_t rc = setup_reply_read(*s, h, msg, &rep);
    FUZZ_CHECK(rc <= 0);
    if (rc != 0)
        return 0;
    FUZZ_CHECK(rep.blob == nullptr ||
               (rep.blob >= data && rep.blob_len <= size && static_cast<size_t>(rep.blob - data) <= size - rep.blob_len));
    FUZZ_CHECK(s->uid == h.uid);
    if (rep.status == STATUS_MORE_PROCESSING_REQUIRED) {
        ByteBuffer token{};
        rc = setup_answer_challenge(*s, rep, 1, &token);
        FUZZ_CHECK(rc <= 0);
        FUZZ_CHECK(rc != 0 || token.len > 0);
        FUZZ_CHECK(s->type2.target_info_len <= sizeof s->type2.target_info);
        vnb_buf_free(&token);
    } else if (rep.status == 0) {
        rc = setup_done(*s, msg, rep, 1);
        FUZZ_CHECK(rc <= 0);
        FUZZ_CHECK(rc != 0 || s->established == 1);
    }
    return 0;
}
