// The fake server's check of an NTLM AUTHENTICATE message, against the
// challenge the fake server sends, for a named user and for any user; and
// the reading of its fields with the NTLMv1 and LAN Manager checks.
#include "fuzz_input.h"
#include "ntlm/ntlm.h"

namespace {

constexpr uint8_t kFakeChallenge[8] = {0xED, 0x5E, 0xED, 0x5E, 0xED, 0x5E, 0xED, 0x5E};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::memcpy(g_fake_challenge, kFakeChallenge, sizeof g_fake_challenge);
    uint8_t key[16];
    for (const char *user : {"alice", static_cast<const char *>(nullptr)}) {
        int rc = vnb_ntlm_verify_type3(data, size, user, "pw", key);
        FUZZ_CHECK(rc >= -1 && rc <= 2);
    }
    NtlmType3Fields f;
    if (vnb_ntlm_type3_fields(data, size, &f) == 0) {
        FUZZ_CHECK(terminated_within(f.user, sizeof f.user) && terminated_within(f.domain, sizeof f.domain));
        FUZZ_CHECK(f.lm_len == 0 || (f.lm >= data && f.lm + f.lm_len <= data + size));
        FUZZ_CHECK(f.nt_len == 0 || (f.nt >= data && f.nt + f.nt_len <= data + size));
        NtlmV1Form form = NtlmV1Form::nt;
        for (bool ess : {false, true}) {
            int rc = vnb_ntlm_verify_v1(f.lm, f.lm_len, f.nt, f.nt_len, "pw", CodePage::cp850, kFakeChallenge, ess,
                                        true, key, &form);
            FUZZ_CHECK(rc == 0 || rc == 1);
        }
    }
    return 0;
}
