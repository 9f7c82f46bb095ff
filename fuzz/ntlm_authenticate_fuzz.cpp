// The fake server's check of an NTLM AUTHENTICATE message, against the
// challenge the fake server sends, for a named user and for any user.
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
    return 0;
}
