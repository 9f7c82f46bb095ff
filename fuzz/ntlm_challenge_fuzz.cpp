// The client's reader of an NTLM CHALLENGE message. A challenge that parses
// is answered: the AUTHENTICATE message is built from it, target information
// included.
#include "fuzz_input.h"
#include "ntlm/ntlm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    NtlmChallenge ch;
    if (vnb_ntlm_parse_type2(data, size, &ch) != 0)
        return 0;
    FUZZ_CHECK(ch.target_info_len <= sizeof ch.target_info);
    ByteBuffer b{};
    uint8_t key[16];
    int rc = vnb_ntlm_build_type3(&ch, "DOMAIN", "alice", "pw", 0, &b, key);
    FUZZ_CHECK(rc == 0 || rc == -1);
    vnb_buf_free(&b);
    return 0;
}
