// The logons for old servers: NEGOTIATE, SESSION_SETUP and one TREE_CONNECT
// with the LegacyAuth setting the first input byte picks (bits 0-1: none,
// ntlmv1, lm, plaintext; bit 2 an anonymous logon; bit 3 a password longer
// than a LAN Manager hash takes; bits 4-5 the code page), every request
// answered by the next reply message of the rest of the input (fuzz_peer.h).
// The NEGOTIATE reply's security mode decides between the extended logon,
// NTLMv1 and LAN Manager responses, the plaintext password and share-level
// security; its capabilities between Unicode and 8-bit names.
#include <memory>

#include "fuzz_input.h"
#include "fuzz_peer.h"
#include "sess/lifecycle.h"
#include "sess/tree_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t how = data[0];
    static constexpr LegacyAuth kLevels[4] = {LegacyAuth::none, LegacyAuth::ntlmv1, LegacyAuth::lm,
                                              LegacyAuth::plaintext};
    static constexpr CodePage kPages[4] = {CodePage::cp850, CodePage::cp1252, CodePage::latin1, CodePage::cp437};
    const bool anonymous = (how & 4) != 0;
    const char *password = (how & 8) ? "p\xC3\xA4ssword-of-16ch" : "pw";
    fuzz_peer::Options opt;
    opt.signing = fuzz_peer::Signing::off;
    opt.user = anonymous ? "" : "alice";
    opt.password = anonymous ? "" : password;

    auto s = std::make_unique<Session>();
    std::snprintf(s->host, sizeof s->host, "old-nas.local");
    std::snprintf(s->user, sizeof s->user, "%s", opt.user);
    std::snprintf(s->password, sizeof s->password, "%s", opt.password);
    s->anonymous = anonymous ? 1 : 0;
    s->timeout_ms = 1000;
    s->legacy_auth = kLevels[how & 3];
    s->code_page = kPages[(how >> 4) & 3];
    s->transport = std::make_unique<fuzz_peer::Peer>(std::span<const uint8_t>(data + 1, size - 1), opt);

    int32_t rc = vnb_sess_ensure(*s);
    FUZZ_CHECK(rc <= 0);
    if (rc == 0) {
        FUZZ_CHECK(s->established == 1);
        // Nothing older than the setting allows was sent.
        switch (s->logon) {
        case LogonKind::ntlmv1:
        case LogonKind::ntlmv1_ess:
            FUZZ_CHECK(s->legacy_auth >= LegacyAuth::ntlmv1);
            break;
        case LogonKind::lm:
            FUZZ_CHECK(s->legacy_auth >= LegacyAuth::lm);
            break;
        case LogonKind::plaintext:
            FUZZ_CHECK(s->legacy_auth == LegacyAuth::plaintext || anonymous);
            FUZZ_CHECK(s->lm_response_len == 0 && s->nt_response_len == 0);
            break;
        default:
            break;
        }
        uint32_t tid = 0;
        rc = vnb_tree_find_or_connect(*s, "Media", &tid);
        FUZZ_CHECK(rc <= 0);
        if (s->tree_logon == LogonKind::plaintext)
            FUZZ_CHECK(s->legacy_auth == LegacyAuth::plaintext);
        if (s->tree_logon == LogonKind::lm || s->tree_logon == LogonKind::ntlmv1)
            FUZZ_CHECK(s->legacy_auth >= LegacyAuth::ntlmv1);
    }
    vnb_sess_drop(*s);
    return 0;
}
