// SPNEGO envelopes: the client's reader of a server's negTokenResp (and of a
// bare NTLMSSP token), and the fake server's test of a client's negTokenInit.
// A token found inside is read as a CHALLENGE, as the client does next.
#include "fuzz_input.h"
#include "ntlm/ntlm.h"
#include "ntlm/spnego.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    int init = vnb_negtokeninit_ntlm(data, size);
    FUZZ_CHECK(init == 0 || init == 1);

    const uint8_t *token = nullptr;
    size_t token_len = 0;
    int raw = 0;
    if (vnb_spnego_unwrap_resp(data, size, &token, &token_len, &raw) != 0)
        return 0;
    FUZZ_CHECK(raw == 0 || raw == 1);
    FUZZ_CHECK(token != nullptr && token >= data && token_len <= size &&
               static_cast<size_t>(token - data) <= size - token_len);
    NtlmChallenge ch;
    (void)vnb_ntlm_parse_type2(token, token_len, &ch);
    return 0;
}
