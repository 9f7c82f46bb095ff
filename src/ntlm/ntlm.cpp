#include "ntlm/ntlm.h"

#include <cstring>

#include "crypto/crypto.h"
#include "ntlm/ntlm_internal.h"
#include "util/le_reader.h"
#include "util/smb1_wire.h"
#include "util/text.h"

namespace {

// A bit outside the standard's named set that this client has always sent.
constexpr uint32_t kNegotiateBit400 = 0x00000400;

constexpr uint32_t kType1Flags = NTLMSSP_NEGOTIATE_UNICODE | kNegotiateBit400 |
                                 NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY | NTLMSSP_NEGOTIATE_128 |
                                 NTLMSSP_NEGOTIATE_56;  // 0xA0080401
constexpr uint32_t kType1V1Flags = kType1Flags & ~NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY;
constexpr uint32_t kType3Flags = NTLMSSP_NEGOTIATE_UNICODE | NTLMSSP_NEGOTIATE_SIGN | NTLMSSP_NEGOTIATE_NTLM |
                                 kNegotiateBit400 | NTLMSSP_NEGOTIATE_ALWAYS_SIGN |
                                 NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY | NTLMSSP_NEGOTIATE_128 |
                                 NTLMSSP_NEGOTIATE_56;  // 0xA0088611
constexpr uint32_t kType3AnonymousFlags = NTLMSSP_NEGOTIATE_UNICODE | NTLMSSP_NEGOTIATE_SIGN |
                                          NTLMSSP_NEGOTIATE_NTLM | NTLMSSP_NEGOTIATE_ANONYMOUS |
                                          NTLMSSP_NEGOTIATE_ALWAYS_SIGN | NTLMSSP_NEGOTIATE_128 |
                                          NTLMSSP_NEGOTIATE_56;  // 0xA0008A11

constexpr size_t kType3Header = 64;
constexpr char kWorkstation[] = "VANTRELVIEWER";

constexpr size_t kBlobMax = 2048;
constexpr size_t kBlobFixed = 28;   // everything before the target information
constexpr size_t kBlobTrailer = 8;  // zero bytes after it

// The NTLMv2 client challenge structure.
struct Blob {
    uint8_t bytes[kBlobMax];
    size_t len;
};

int make_blob(Blob &blob, uint64_t filetime, const uint8_t client_challenge[8], const uint8_t *target_info,
              size_t target_info_len)
{
    if (target_info_len > kBlobMax - kBlobFixed - kBlobTrailer)
        return -1;
    std::memset(blob.bytes, 0, sizeof blob.bytes);
    blob.bytes[0] = 0x01;  // response type
    blob.bytes[1] = 0x01;  // highest response type understood
    for (int i = 0; i < 8; i++)
        blob.bytes[8 + i] = uint8_t(filetime >> (8 * i));
    std::memcpy(blob.bytes + 16, client_challenge, 8);
    if (target_info_len)
        std::memcpy(blob.bytes + kBlobFixed, target_info, target_info_len);
    blob.len = kBlobFixed + target_info_len + kBlobTrailer;
    return 0;
}

// Copies at most 128 bytes of `text` (NULL: empty) and a NUL.
void copy_cut(char (&out)[129], const char *text)
{
    size_t n = 0;
    for (; text && n < 128 && text[n]; n++)
        out[n] = text[n];
    out[n] = '\0';
}

void put_field(ByteBuffer *b, size_t len, size_t offset)
{
    vnb_w16(b, uint32_t(len));
    vnb_w16(b, uint32_t(len));
    vnb_w32(b, uint32_t(offset));
}

}  // namespace

const uint32_t kNtlmType3Flags = kType3Flags;

void ntlm_proof(const uint8_t v2_hash[16], const uint8_t server_challenge[8], const uint8_t *data, size_t len,
                uint8_t out[16])
{
    NtlmSecret<HmacMd5Ctx> mac;
    vnb_hmacmd5_init(&mac.v, v2_hash, 16);
    vnb_hmacmd5_update(&mac.v, server_challenge, 8);
    vnb_hmacmd5_update(&mac.v, data, len);
    vnb_hmacmd5_final(&mac.v, out);
}

void vnb_ntlm_hashes_dom(const char *user, const char *domain, const char *password, uint8_t nt_hash[16],
                         uint8_t v2_hash[16])
{
    if (!nt_hash || !v2_hash)
        return;
    NtlmSecret<uint8_t[514]> pw;  // at most 257 UTF-16 units
    int32_t pw_len = 0;
    if (!password || vnb_utf8_to_utf16le(password, pw.v, sizeof pw.v, &pw_len) != 0) {
        std::memset(nt_hash, 0, 16);
        std::memset(v2_hash, 0, 16);
        return;
    }
    vnb_md4(pw.v, uint64_t(pw_len), nt_hash);

    char user_up[129];
    char dom[129];
    copy_cut(user_up, user);
    copy_cut(dom, domain);
    for (char *c = user_up; *c; c++) {
        if (*c >= 'a' && *c <= 'z')
            *c = char(*c - 'a' + 'A');
    }
    uint8_t who[264];
    int32_t user_len = 0;
    int32_t dom_len = 0;
    if (vnb_utf8_to_utf16le(user_up, who, sizeof who, &user_len) != 0)
        user_len = 0;
    if (dom[0] && vnb_utf8_to_utf16le(dom, who + user_len, int32_t(sizeof who) - user_len, &dom_len) != 0)
        dom_len = 0;
    vnb_hmacmd5(nt_hash, 16, who, uint64_t(user_len + dom_len), v2_hash);
}

void vnb_ntlm_hashes(const char *user, const char *password, uint8_t nt_hash[16], uint8_t v2_hash[16])
{
    vnb_ntlm_hashes_dom(user, "", password, nt_hash, v2_hash);
}

uint64_t vnb_ntlm_filetime(uint64_t unix_time)
{
    return smb::filetime_from_unix(static_cast<int64_t>(unix_time));
}

int vnb_ntlm_build_type1(ByteBuffer *b, bool ask_ess)
{
    if (!b)
        return -1;
    vnb_buf_put(b, NTLMSSP_SIGNATURE, sizeof NTLMSSP_SIGNATURE);
    vnb_w32(b, 1);
    vnb_w32(b, ask_ess ? kType1Flags : kType1V1Flags);
    put_field(b, 0, 0);  // domain
    put_field(b, 0, 0);  // workstation
    return 0;
}

int vnb_ntlm_parse_type2(const uint8_t *msg, size_t len, NtlmChallenge *out)
{
    if (!out)
        return -1;
    *out = NtlmChallenge{};
    LeReader r(msg, len);
    const uint8_t *sig = r.at(0, sizeof NTLMSSP_SIGNATURE);
    if (!sig || std::memcmp(sig, NTLMSSP_SIGNATURE, sizeof NTLMSSP_SIGNATURE) != 0 || r.u32_at(8) != 2)
        return -1;
    const uint8_t *challenge = r.at(24, 8);
    uint32_t flags = r.u32_at(20);
    r.seek(40);  // TargetInfoFields
    uint32_t ti_len = r.u16();
    r.skip(2);
    uint32_t ti_off = r.u32();
    if (r.failed)
        return -1;
    if (ti_len != 0) {
        const uint8_t *ti = ti_off == 0 ? nullptr : r.peek(ti_off, ti_len);
        if (!ti || ti_len > sizeof out->target_info)
            return -1;
        std::memcpy(out->target_info, ti, ti_len);
        out->target_info_len = ti_len;
    }
    std::memcpy(out->server_challenge, challenge, 8);
    out->flags = flags;
    return 0;
}

int ntlm_put_type3(ByteBuffer *b, std::span<const uint8_t> lm, std::span<const uint8_t> nt, const char *domain,
                   const char *user, uint32_t flags)
{
    if (!b || !user)
        return -1;
    if (!domain)
        domain = "";
    uint8_t dom16[258];
    uint8_t user16[258];
    uint8_t ws16[64];
    int32_t dom_len = 0;
    int32_t user_len = 0;
    int32_t ws_len = 0;
    if (domain[0] && vnb_utf8_to_utf16le(domain, dom16, sizeof dom16, &dom_len) != 0)
        dom_len = 0;
    if (vnb_utf8_to_utf16le(user, user16, sizeof user16, &user_len) != 0)
        return -1;
    if (vnb_utf8_to_utf16le(kWorkstation, ws16, sizeof ws16, &ws_len) != 0)
        return -1;

    const size_t lm_off = kType3Header;
    const size_t nt_off = lm_off + lm.size();
    const size_t dom_off = nt_off + nt.size();
    const size_t user_off = dom_off + size_t(dom_len);
    const size_t ws_off = user_off + size_t(user_len);
    const size_t end = ws_off + size_t(ws_len);

    vnb_buf_put(b, NTLMSSP_SIGNATURE, sizeof NTLMSSP_SIGNATURE);
    vnb_w32(b, 3);
    put_field(b, lm.size(), lm.empty() ? 0 : lm_off);
    put_field(b, nt.size(), nt_off);
    put_field(b, size_t(dom_len), dom_off);
    put_field(b, size_t(user_len), user_off);
    put_field(b, size_t(ws_len), ws_off);
    put_field(b, 0, end);  // encrypted session key: none
    vnb_w32(b, flags);
    vnb_buf_put(b, lm.data(), lm.size());
    vnb_buf_put(b, nt.data(), nt.size());
    vnb_buf_put(b, dom16, uint64_t(dom_len));
    vnb_buf_put(b, user16, uint64_t(user_len));
    vnb_buf_put(b, ws16, uint64_t(ws_len));
    return b->failed ? -1 : 0;
}

int vnb_ntlm_build_type3_at(const NtlmChallenge *ch, const char *domain, const char *user, const char *password,
                            uint64_t filetime, const uint8_t client_challenge[8], ByteBuffer *b,
                            uint8_t session_key[16])
{
    if (!session_key)
        return -1;
    std::memset(session_key, 0, 16);
    if (!ch || !user || !password || !b || ch->target_info_len > sizeof ch->target_info)
        return -1;

    uint8_t drawn[8];
    if (!client_challenge) {
        if (vnb_ntlm_client_challenge(drawn) != 0)
            return -1;
        client_challenge = drawn;
    }
    Blob blob;
    if (make_blob(blob, filetime, client_challenge, ch->target_info, ch->target_info_len) != 0)
        return -1;

    NtlmSecret<uint8_t[16]> nt_hash;
    NtlmSecret<uint8_t[16]> v2_hash;
    NtlmSecret<uint8_t[16]> key;
    uint8_t proof[16];
    vnb_ntlm_hashes_dom(user, domain, password, nt_hash.v, v2_hash.v);
    ntlm_proof(v2_hash.v, ch->server_challenge, blob.bytes, blob.len, proof);
    vnb_hmacmd5(v2_hash.v, 16, proof, 16, key.v);

    // Without a password the message is anonymous: no NT response, though the
    // keys above are still computed. No LM response either way.
    const bool anonymous = password[0] == '\0';
    uint8_t nt[sizeof proof + kBlobMax];
    size_t nt_len = 0;
    if (!anonymous) {
        std::memcpy(nt, proof, sizeof proof);
        std::memcpy(nt + sizeof proof, blob.bytes, blob.len);
        nt_len = sizeof proof + blob.len;
    }
    if (ntlm_put_type3(b, {}, {nt, nt_len}, domain, user, anonymous ? kType3AnonymousFlags : kType3Flags) != 0)
        return -1;
    std::memcpy(session_key, key.v, 16);
    return 0;
}

int vnb_ntlm_build_type3(const NtlmChallenge *ch, const char *domain, const char *user, const char *password,
                         uint64_t unix_time, ByteBuffer *b, uint8_t session_key[16])
{
    return vnb_ntlm_build_type3_at(ch, domain, user, password, vnb_ntlm_filetime(ntlm_blob_time(unix_time)), nullptr,
                                   b, session_key);
}

int vnb_ntlm_v2_responses_at(const char *domain, const char *user, const char *password,
                             const uint8_t server_challenge[8], uint64_t filetime, const uint8_t client_challenge[8],
                             uint8_t lmv2[24], ByteBuffer *ntv2, uint8_t session_key[16])
{
    if (!server_challenge || !lmv2 || !ntv2 || !session_key || !password)
        return -1;
    std::memset(lmv2, 0, 24);
    *ntv2 = ByteBuffer{};
    std::memset(session_key, 0, 16);
    if (password[0] == '\0')
        return -2;

    uint8_t drawn[8];
    if (!client_challenge) {
        if (vnb_ntlm_client_challenge(drawn) != 0)
            return -1;
        client_challenge = drawn;
    }
    Blob blob;
    if (make_blob(blob, filetime, client_challenge, nullptr, 0) != 0)
        return -1;

    NtlmSecret<uint8_t[16]> nt_hash;
    NtlmSecret<uint8_t[16]> v2_hash;
    NtlmSecret<uint8_t[16]> key;
    uint8_t proof[16];
    vnb_ntlm_hashes_dom(user, domain, password, nt_hash.v, v2_hash.v);
    ntlm_proof(v2_hash.v, server_challenge, blob.bytes, blob.len, proof);
    vnb_hmacmd5(v2_hash.v, 16, proof, 16, key.v);

    vnb_buf_put(ntv2, proof, sizeof proof);
    vnb_buf_put(ntv2, blob.bytes, blob.len);
    if (ntv2->failed) {
        vnb_buf_free(ntv2);
        return -1;
    }
    ntlm_proof(v2_hash.v, server_challenge, client_challenge, 8, lmv2);
    std::memcpy(lmv2 + 16, client_challenge, 8);
    std::memcpy(session_key, key.v, 16);
    return 0;
}

int vnb_ntlm_v2_responses(const char *domain, const char *user, const char *password,
                          const uint8_t server_challenge[8], uint64_t unix_time, uint8_t lmv2[24], ByteBuffer *ntv2,
                          uint8_t session_key[16])
{
    return vnb_ntlm_v2_responses_at(domain, user, password, server_challenge,
                                    vnb_ntlm_filetime(ntlm_blob_time(unix_time)), nullptr, lmv2, ntv2, session_key);
}
